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

Status FailureOf(const FtpClient& client) {
    const int code = client.lastReplyCode();
    std::string text = client.lastReplyText();
    if (client.lost()) {
        return Status::Fail(ErrorKind::ConnectionLost, code, std::move(text));
    }
    if (code >= 400 && code < 600) {
        return Status::Fail(ErrorKind::Refused, code, std::move(text));
    }
    // The engine's own words for what failed before or beside the server's reply.
    const auto startsWith = [&text](const char* prefix) { return text.rfind(prefix, 0) == 0; };
    const ErrorKind kind = startsWith("refused:")            ? ErrorKind::Unsafe
                           : startsWith("the local file")    ? ErrorKind::LocalIo
                           : startsWith("connection failed") ? ErrorKind::ConnectionLost
                           : startsWith("no reply in time")  ? ErrorKind::ConnectionLost
                                                             : ErrorKind::Protocol;
    return Status::Fail(kind, code, std::move(text));
}

Status StatusOf(bool ok, const FtpClient& client) {
    return ok ? Status::Ok(client.lastReplyCode(), client.lastReplyText()) : FailureOf(client);
}

Status CheckReady(const Session& session, std::initializer_list<std::string_view> texts) {
    if (!session.connected()) {
        return Status::Fail(ErrorKind::NotConnected);
    }
    for (std::string_view text : texts) {
        if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
            return Status::Fail(ErrorKind::Unsafe);
        }
    }
    return Status::Ok();
}

Status OpenSession(Session& session, const std::string& profileName, const std::string& server,
                   const std::string& userName, const std::string& password) {
    (void)profileName; // an agent text has no use on FTP
    CloseSession(session);
    if (server.empty()) {
        return Status::Fail(ErrorKind::NotConnected);
    }
    const SessionPorts& ports = session.ports_;
    Log(ports, "ホスト　" + server + "に接続しています。");
    Pump(ports);
    // The log is handed over only after the login, so a failed login ends the log with the
    // "checking password" line whatever the server answered.
    SessionPorts quiet = ports;
    quiet.log = nullptr;
    auto client = std::make_unique<FtpClient>(quiet);
    Log(ports, "接続しました。");
    Pump(ports);
    Log(ports, "パスワード確認中");
    Pump(ports);
    if (!client->connect(server, userName, password)) {
        Status failure = FailureOf(*client);
        client->close();
        return failure;
    }
    client->setPorts(ports);
    Log(ports, "パスワード確認しました。");
    Pump(ports);
    session.client_ = std::move(client);
    return Status::Ok();
}

void CloseSession(Session& session) {
    if (session.client_) {
        session.client_->close();
        session.client_.reset();
    }
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
