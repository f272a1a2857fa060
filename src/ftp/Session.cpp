#include "ftp/Session.h"

#include <algorithm>
#include <chrono>

namespace oxlip {

namespace {

void Log(const SessionPorts& ports, const std::string& line) {
    if (ports.log) {
        ports.log->append(line);
    }
}

void Pump(const SessionPorts& ports) {
    if (ports.pump) {
        ports.pump->pump();
    }
}

constexpr int64_t kRedrawIntervalMs = 50;

int64_t MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void DrawProgress(TransferContext& context, const SessionPorts& ports, int64_t nowMs) {
    if (ports.progress) {
        ports.progress->setBar(context.done, context.expected);
        ports.progress->setCountText(FormatProgressCounts(context.done, context.expected));
    }
    context.lastDrawMs = nowMs;
    context.pendingDraw = false;
}

// Whole kilobytes, rounded half up, grouped by thousands; below one half gives "".
std::string KilobyteText(int64_t bytes) {
    if (bytes < 512) {
        return "";
    }
    std::string digits = std::to_string((bytes + 512) / 1024);
    std::string out;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

} // namespace

std::unique_ptr<FtpClient> OpenSession(const std::string& profileName, const std::string& server,
                                       const std::string& userName, const std::string& password,
                                       const SessionPorts& ports, std::string* failure,
                                       SessionSecurity* security) {
    (void)profileName; // an agent text has no use on FTP
    if (server.empty()) {
        return nullptr;
    }
    Log(ports, "ホスト　" + server + "に接続しています。");
    Pump(ports);
    // The log is handed over only after the login, so a failed login ends the log with the
    // "checking password" line whatever the server answered.
    SessionPorts quiet = ports;
    quiet.log = nullptr;
    auto client = std::make_unique<FtpClient>(quiet);
    if (security) {
        client->setTls(security->options);
    }
    Log(ports, "接続しました。");
    Pump(ports);
    Log(ports, "パスワード確認中");
    Pump(ports);
    const bool connected = client->connect(server, userName, password);
    if (security) {
        security->problem = client->certificateProblem();
    }
    if (!connected) {
        if (failure) {
            *failure = client->lastReplyText();
        }
        client->close();
        return nullptr;
    }
    client->setPorts(ports);
    const ftp::TlsState& tls = client->tlsState();
    if (tls.control) {
        std::string protocol = tls.protocol; // "TLSv1.3" is shown as "TLS 1.3"
        if (protocol.rfind("TLSv", 0) == 0) {
            protocol.replace(0, 4, "TLS ");
        }
        Log(ports, protocol + " (" + tls.cipher + ") で暗号化しました");
    } else if (tls.fellBack) {
        Log(ports, "サーバが暗号化に対応していないため、暗号化せずに接続しました。");
    }
    Log(ports, "パスワード確認しました。");
    Pump(ports);
    return client;
}

bool CloseSession(std::unique_ptr<FtpClient>& hFtp) {
    if (hFtp) {
        hFtp->close();
        hFtp.reset();
    }
    return true;
}

void FtpStatusCallback(TransferContext& context, int status, int64_t bytes,
                       const SessionPorts& ports, int64_t nowMs) {
    const bool block = (context.kind == kContextDownload && status == kStatusResponseReceived) ||
                       (context.kind == kContextUpload && status == kStatusRequestSent);
    if (!block) {
        if (context.kind == kContextListing && status == kStatusResponseReceived) {
            Pump(ports);
        }
        return;
    }
    if (context.expected == 0) {
        // First notification of the transfer: show an empty bar; its count is not added.
        if (ports.progress) {
            ports.progress->clearBar();
        }
        context.expected = context.total;
        context.lastDrawMs = -1;
        context.pendingDraw = false;
    } else {
        context.done += std::max<int64_t>(bytes, 0);
        if (context.lastDrawMs < 0 || nowMs - context.lastDrawMs >= kRedrawIntervalMs) {
            DrawProgress(context, ports, nowMs);
        } else {
            context.pendingDraw = true;
        }
    }
    Pump(ports);
}

void FtpStatusCallback(TransferContext& context, int status, int64_t bytes,
                       const SessionPorts& ports) {
    FtpStatusCallback(context, status, bytes, ports, MonotonicMs());
}

void FlushTransferProgress(TransferContext& context, const SessionPorts& ports) {
    if (context.pendingDraw && context.expected != 0) {
        DrawProgress(context, ports, MonotonicMs());
    }
}

std::string FormatProgressCounts(int64_t done, int64_t expected) {
    return KilobyteText(done) + "KB / " + KilobyteText(expected) + "KB";
}

} // namespace oxlip
