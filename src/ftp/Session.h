#pragma once
// The FTP session: the connection the window owns, opening and closing it for a profile, what
// turns the engine's failures into a status, and the meter that tells a transfer's progress.

#include "core/Status.h"
#include "ftp/UiPorts.h"
#include "ftp/engine/FtpClient.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace oxlip {

using ftp::FtpClient;

// FTPS for a session: the options in, the certificate problem of the attempt out.
struct SessionSecurity {
    ftp::TlsOptions options;
    std::optional<ftp::CertificateProblem> problem;
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

    // Asks the operation under way to stop. The engine checks the request at its event pump and
    // ends the operation as cancelled, the session still usable; a command that moves several
    // items stops after the current one. The request holds until clearCancel().
    void requestCancel() { cancelRequested_ = true; }
    bool cancelRequested() const { return cancelRequested_; }
    void clearCancel() { cancelRequested_ = false; }

private:
    friend Status OpenSession(Session&, const std::string&, const std::string&, const std::string&,
                              const std::string&, SessionSecurity*);
    friend void CloseSession(Session&);
    std::unique_ptr<FtpClient> client_;
    SessionPorts ports_;
    bool cancelRequested_ = false;
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
// With security, the connection uses its TLS options and security->problem holds the
// certificate problem of the attempt; an encrypted session tells TlsEstablished, one the server
// could not encrypt TlsFellBack.
Status OpenSession(Session& session, const std::string& profileName, const std::string& server,
                   const std::string& userName, const std::string& password,
                   SessionSecurity* security = nullptr);

// Closes the connection (QUIT); the session is closed afterwards.
void CloseSession(Session& session);

// Tells one transfer's progress: an empty bar when it starts, then the bytes that moved at
// most every 50 ms (pumping for every block), and the last state when it ends. A transfer of
// unknown or no size shows only the empty bar.
class ProgressMeter {
public:
    ProgressMeter(const SessionPorts& ports, int64_t total);
    // A block of bytes moved; nowMs is the monotonic time (the clock's when not given).
    void add(int64_t bytes);
    void add(int64_t bytes, int64_t nowMs);
    // Tells the last state when it was not told yet.
    void finish();
    int64_t done() const { return done_; }

private:
    void tell(int64_t nowMs);
    SessionPorts ports_;
    int64_t total_;
    int64_t done_ = 0;
    int64_t toldMs_ = -1; // when the bytes were last told (monotonic ms), -1 never
    bool untold_ = false;
};

} // namespace oxlip
