#pragma once
// The FTP session: opening and closing a connection for a profile, the transfer context and
// the status callback that draws progress.

#include "core/Status.h"
#include "ftp/UiPorts.h"
#include "ftp/engine/FtpClient.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace oxlip {

using ftp::FtpClient;

// Transfer context kinds.
constexpr int32_t kContextConnection = 100;
constexpr int32_t kContextDownload = 101;
constexpr int32_t kContextUpload = 102;
constexpr int32_t kContextListing = 103;

// Status codes the callback reacts to.
constexpr int kStatusRequestSent = 31;      // upload blocks
constexpr int kStatusResponseReceived = 41; // download blocks, listing replies

struct TransferContext {
    int32_t kind = 0;
    int64_t total = 0;    // size of the source file
    int64_t expected = 0; // 0 until the first notification
    int64_t done = 0;
    int64_t lastDrawMs = -1; // when the bar was last drawn (monotonic ms), -1 never
    bool pendingDraw = false;
};

// A connection to a host as the window owns it: open or not. The operations take it by
// reference; on a closed session they return NotConnected.
class Session {
public:
    explicit Session(SessionPorts ports = {}) : ports_(ports) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool connected() const { return client_ != nullptr; }
    // The engine under an open session (null when closed), for what has no operation of its own.
    FtpClient* client() const { return client_.get(); }
    const SessionPorts& ports() const { return ports_; }
    // Takes effect at the next OpenSession.
    void setPorts(SessionPorts ports) { ports_ = ports; }
    // Takes over an engine that its owner connects itself (tests that drive the engine).
    void attach(std::unique_ptr<FtpClient> client) { client_ = std::move(client); }

private:
    friend Status OpenSession(Session&, const std::string&, const std::string&, const std::string&,
                              const std::string&);
    friend void CloseSession(Session&);
    std::unique_ptr<FtpClient> client_;
    SessionPorts ports_;
};

// The failure the engine's last call left, as a status (the reply where there is one).
Status FailureOf(const FtpClient& client);
// Ok, or the engine's failure.
Status StatusOf(bool ok, const FtpClient& client);

// Ok when the session is open and none of the texts holds a line break or NUL (which no
// command may carry); NotConnected or Unsafe otherwise.
Status CheckReady(const Session& session, std::initializer_list<std::string_view> texts = {});

// Closes what the session had open, writes the connecting lines to the log and logs in.
// An empty server fails with NotConnected and logs nothing; a failed login ends the log with
// "checking password" and the status holds the server's last reply or why no reply came.
Status OpenSession(Session& session, const std::string& profileName, const std::string& server,
                   const std::string& userName, const std::string& password);

// Closes the connection (QUIT); the session is closed afterwards.
void CloseSession(Session& session);

// The status callback: per block of a transfer (download kind with status 41, upload kind
// with status 31) it grows the bar and the counts; a listing's replies only pump events.
// Redraws at most every 50 ms; FlushTransferProgress draws the last state.
void FtpStatusCallback(TransferContext& context, int status, int64_t bytes,
                       const SessionPorts& ports);
// The same with the monotonic time in milliseconds given by the caller.
void FtpStatusCallback(TransferContext& context, int status, int64_t bytes,
                       const SessionPorts& ports, int64_t nowMs);
void FlushTransferProgress(TransferContext& context, const SessionPorts& ports);

// "1,234KB / 5,678KB": counts in whole kilobytes, rounded; a value below one half is empty.
std::string FormatProgressCounts(int64_t done, int64_t expected);

} // namespace oxlip
