#include "ftp/Session.h"

#include <algorithm>
#include <chrono>

namespace oxlip {

namespace {

constexpr int64_t kRedrawIntervalMs = 50;

int64_t MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

Status FailureOf(const FtpClient& client) {
    const int code = client.lastReplyCode();
    std::string text = client.lastReplyText();
    // Whatever the cancel cost (even the connection), the user asked for it: no reconnect.
    if (CancelRequested(client.ports())) {
        return Status::Fail(ErrorKind::Cancelled, code, std::move(text));
    }
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
                   const std::string& userName, const std::string& password,
                   SessionSecurity* security) {
    (void)profileName; // an agent text has no use on FTP
    SessionLogin login{server, userName, password, {}};
    if (security) {
        login.options.tls = security->options;
    }
    return OpenSession(session, login, security ? &security->problem : nullptr);
}

Status OpenSession(Session& session, const SessionLogin& login,
                   std::optional<ftp::CertificateProblem>* problem) {
    CloseSession(session);
    if (login.server.empty()) {
        return Status::Fail(ErrorKind::NotConnected);
    }
    session.login_ = login;
    const SessionPorts& ports = session.ports_;
    Tell(ports, LogKind::Connecting, login.server);
    Pump(ports);
    // A failed login ends the log with LoggingIn whatever the server answered (the engine
    // tells of a lost connection only once logged in).
    auto client = std::make_unique<FtpClient>(ports);
    client->setOptions(login.options);
    Tell(ports, LogKind::Connected);
    Pump(ports);
    Tell(ports, LogKind::LoggingIn);
    Pump(ports);
    const bool connected = client->connect(login.server, login.user, login.password);
    if (problem) {
        *problem = client->certificateProblem();
    }
    if (!connected) {
        Status failure = FailureOf(*client);
        client->close();
        return failure;
    }
    const ftp::TlsState& tls = client->tlsState();
    if (tls.control) {
        std::string protocol = tls.protocol; // "TLSv1.3" is told as "TLS 1.3"
        if (protocol.rfind("TLSv", 0) == 0) {
            protocol.replace(0, 4, "TLS ");
        }
        Tell(ports, LogKind::TlsEstablished, protocol, tls.cipher);
    } else if (tls.fellBack) {
        Tell(ports, LogKind::TlsFellBack);
    }
    Tell(ports, LogKind::LoggedIn);
    Pump(ports);
    session.client_ = std::move(client);
    return Status::Ok();
}

Status ReconnectSession(Session& session, const std::string& folder) {
    if (session.login().server.empty()) {
        return Status::Fail(ErrorKind::NotConnected);
    }
    const SessionLogin login = session.login();
    if (Status opened = OpenSession(session, login); !opened) {
        return opened;
    }
    Tell(session.ports(), LogKind::Reconnected, folder);
    if (!folder.empty() && !session.client()->changeDir(folder)) {
        return FailureOf(*session.client());
    }
    return Status::Ok();
}

Status KeepAlive(Session& session) {
    if (Status ready = CheckReady(session); !ready) {
        return ready;
    }
    return StatusOf(session.client()->noop(), *session.client());
}

void CloseSession(Session& session) {
    if (session.client_) {
        session.client_->close();
        session.client_.reset();
    }
}

ProgressMeter::ProgressMeter(const SessionPorts& ports, int64_t total)
    : ports_(ports), total_(std::max<int64_t>(total, 0)) {
    Show(ports_, ProgressEvent{ProgressPhase::Started, {}, TransferMode::Binary, 0, total_});
    Pump(ports_);
}

void ProgressMeter::add(int64_t bytes) {
    add(bytes, MonotonicMs());
}

void ProgressMeter::add(int64_t bytes, int64_t nowMs) {
    done_ += std::max<int64_t>(bytes, 0);
    if (total_ > 0) {
        if (toldMs_ < 0 || nowMs - toldMs_ >= kRedrawIntervalMs) {
            tell(nowMs);
        } else {
            untold_ = true;
        }
    }
    Pump(ports_);
}

void ProgressMeter::finish() {
    if (untold_) {
        tell(MonotonicMs());
    }
}

void ProgressMeter::tell(int64_t nowMs) {
    Show(ports_, ProgressEvent{ProgressPhase::Bytes, {}, TransferMode::Binary, done_, total_});
    toldMs_ = nowMs;
    untold_ = false;
}

} // namespace oxlip
