#include "ftp/engine/ClientImpl.h"
#include "ftp/engine/ReplyText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace oxlip::ftp {

namespace {

// A line of the trace: the password never shows, however the command is spelt.
void TraceLine(const char* direction, const std::string& line) {
    const bool password = line.size() >= 5 && ::strncasecmp(line.c_str(), "PASS ", 5) == 0;
    std::fprintf(stderr, "%s %s\n", direction, password ? "PASS ****" : line.c_str());
}

} // namespace

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : int(std::min<long long>(left.count(), 1 << 30));
}

bool TraceWanted() {
    const char* value = std::getenv("OXLIP_TRACE");
    return value && std::string(value) == "1";
}

Reply FtpClient::Impl::takeReply() {
    Reply reply = parser.next();
    if (trace) {
        for (const std::string& line : reply.lines) {
            TraceLine("<", line);
        }
    }
    return reply;
}

void FtpClient::Impl::markLost() {
    if (lostFlag) {
        return;
    }
    lostFlag = true;
    control.close();
    if (loggedIn && !pumper.aborted()) {
        Tell(ports, LogKind::ConnectionLost);
    }
}

void FtpClient::Impl::failText(const std::string& text) {
    last = Reply{};
    last.lines.push_back(text);
}

bool FtpClient::Impl::drainUnasked() {
    char buf[4096];
    for (int rounds = 0; rounds < 64; ++rounds) {
        std::size_t got = 0;
        IoResult r = control.readNow(buf, sizeof buf, got);
        if (r == IoResult::Closed || r == IoResult::Failed) {
            markLost();
            return false;
        }
        if (got == 0) {
            break;
        }
        parser.feed(buf, got);
    }
    while (parser.hasReply()) {
        Reply r = takeReply();
        if (r.code == 421) {
            last = r;
            markLost();
            return false;
        }
    }
    if (parser.failed()) {
        markLost();
        return false;
    }
    return true;
}

bool FtpClient::Impl::sendLine(const std::string& line) {
    if (!IsSafeForCommand(line)) {
        failText("refused: line break or NUL in command");
        return false;
    }
    if (!control.isOpen() || lostFlag) {
        return false;
    }
    if (aheadSent && !takeAhead()) {
        return false;
    }
    if (!drainUnasked()) {
        return false;
    }
    return writeLine(line);
}

bool FtpClient::Impl::writeLine(const std::string& line) {
    if (trace) {
        TraceLine(">", line);
    }
    std::string wire = line + "\r\n";
    ++sentCommands;
    if (control.writeAll(wire.data(), wire.size(), replyMs) != IoResult::Ok) {
        markLost();
        return false;
    }
    return true;
}

bool FtpClient::Impl::receive(Reply& reply, Clock::time_point deadline) {
    char buf[16384];
    for (;;) {
        if (parser.hasReply()) {
            reply = takeReply();
            last = reply;
            answered = true;
            if (reply.code == 421) {
                markLost();
            }
            return true;
        }
        if (parser.failed() || !control.isOpen()) {
            markLost();
            return false;
        }
        // A cancel request leaves a reply kAbortWaitMs to come; the wait goes in slices so
        // that a request raised meanwhile is seen.
        if (pumper.cancelRequested()) {
            deadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(kAbortWaitMs));
        }
        std::size_t got = 0;
        IoResult r = control.read(buf, sizeof buf, got, std::min(RemainingMs(deadline), 250));
        if (r == IoResult::TimedOut && RemainingMs(deadline) > 0) {
            continue;
        }
        if (r != IoResult::Ok) {
            if (r == IoResult::TimedOut) {
                failText("no reply in time");
            }
            markLost();
            return false;
        }
        parser.feed(buf, got);
    }
}

bool FtpClient::Impl::receiveFinal(Reply& reply) {
    auto deadline = Clock::now() + std::chrono::milliseconds(replyMs);
    do {
        if (!receive(reply, deadline)) {
            return false;
        }
    } while (reply.preliminary());
    return true;
}

int FtpClient::Impl::command(const std::string& line, Reply* out) {
    if (!sendLine(line)) {
        return 0;
    }
    Reply reply;
    if (!receiveFinal(reply)) {
        return 0;
    }
    if (out) {
        *out = reply;
    }
    return lostFlag ? 0 : reply.code;
}

bool FtpClient::Impl::commandOk(const std::string& line) {
    int code = command(line);
    return code >= 200 && code < 300;
}

bool FtpClient::Impl::startTls(const std::string& host, uint16_t port, bool greeting) {
    const TlsPolicy policy = options.tls.policy;
    if (policy == TlsPolicy::None || (policy == TlsPolicy::Implicit) != greeting) {
        return true;
    }
    if (!greeting) {
        const int code = command("AUTH TLS");
        if (code != 234) {
            if (code != 0 && policy == TlsPolicy::IfAvailable) {
                caps.tls.fellBack = true;
                return true;
            }
            failText(code ? "the server refused AUTH TLS: " + last.text()
                          : "no answer to AUTH TLS");
            return false;
        }
    }
    std::string error;
    if (!tlsContext) {
        tlsContext = std::make_unique<TlsContext>();
        if (!tlsContext->init(options.tls.caFile, error)) {
            tlsContext.reset();
            failText(error);
            return false;
        }
    }
    tlsContext->keepSession(nullptr); // data connections resume this connection only
    auto layer = TlsLayer::Handshake(*tlsContext, control, host, false, connectMs, error);
    if (!layer) {
        failText(error);
        return false;
    }
    if (!AcceptCertificate(*layer, HostPortKey(host, port), options.tls, certProblem)) {
        failText("certificate refused: " + (certProblem ? certProblem->detail : ""));
        return false;
    }
    caps.tls = layer->state();
    tlsHost = host;
    control.attachTls(std::move(layer));
    return true;
}

bool FtpClient::Impl::protectData() {
    if (!caps.tls.control) {
        return true;
    }
    caps.tls.data = commandOk("PBSZ 0") && commandOk("PROT P");
    if (!caps.tls.data && options.tls.policy != TlsPolicy::IfAvailable) {
        failText("the server refused to encrypt data connections: " + last.text());
        return false;
    }
    return usableControl();
}

} // namespace oxlip::ftp
