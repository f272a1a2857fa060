#pragma once
// The FTP session: opening and closing a connection for a profile, the transfer context and
// the status callback that draws progress.

#include "ftp/UiPorts.h"
#include "ftp/engine/FtpClient.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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

// FTPS for a session: the options in, the certificate problem of the attempt out.
struct SessionSecurity {
    ftp::TlsOptions options;
    std::optional<ftp::CertificateProblem> problem;
};

// Appends the connecting lines to the log and logs in. Returns the connection, or null
// (empty server: nothing logged; failure: the log ends with "パスワード確認中", and *failure,
// when given, holds the server's last reply or why no reply came).
std::unique_ptr<FtpClient> OpenSession(const std::string& profileName, const std::string& server,
                                       const std::string& userName, const std::string& password,
                                       const SessionPorts& ports, std::string* failure = nullptr,
                                       SessionSecurity* security = nullptr);

// Closes the connection (QUIT) and resets the pointer. Always true.
bool CloseSession(std::unique_ptr<FtpClient>& hFtp);

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
