#include "ftp/engine/ClientImpl.h"
#include "ftp/engine/ReplyText.h"

#include <algorithm>
#include <cctype>

namespace oxlip::ftp {

namespace {

// How long QUIT waits for its answer before the socket is closed anyway.
constexpr int kQuitWaitMs = 2000;

// "host", "host:port", "[v6]:port", "[v6]" -> host and port; a bare IPv6 address (two or
// more colons) is a host without port.
bool SplitServer(std::string server, std::string& host, uint16_t& port) {
    // Blanks around the text (typed into a profile) are no part of it.
    auto first = server.find_first_not_of(" \t");
    server = first == std::string::npos
                 ? ""
                 : server.substr(first, server.find_last_not_of(" \t") - first + 1);
    port = 21;
    std::string portText;
    if (!server.empty() && server.front() == '[') {
        auto close = server.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = server.substr(1, close - 1);
        std::string rest = server.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return false;
            }
            portText = rest.substr(1);
        }
    } else {
        auto colon = server.find(':');
        if (colon != std::string::npos && server.find(':', colon + 1) == std::string::npos) {
            host = server.substr(0, colon);
            portText = server.substr(colon + 1);
        } else {
            host = server;
        }
    }
    if (host.empty()) {
        return false;
    }
    if (!portText.empty() || (server.size() > 0 && server.back() == ':')) {
        if (portText.empty() || portText.size() > 5 ||
            !std::all_of(portText.begin(), portText.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        long value = std::stol(portText);
        if (value < 1 || value > 65535) {
            return false;
        }
        port = uint16_t(value);
    }
    return true;
}

// Whether the server text names a port ("host:port", "[v6]:port").
bool HasPort(const std::string& server) {
    const auto close = server.rfind(']');
    const auto colon = server.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    return close != std::string::npos ? colon > close
                                      : server.find(':') == colon; // one colon: not a bare v6
}

} // namespace

FtpClient::FtpClient(SessionPorts ports) : d(std::make_unique<Impl>()) {
    setPorts(ports);
}

FtpClient::~FtpClient() {
    d->control.close();
}

const SessionPorts& FtpClient::ports() const {
    return d->ports;
}

void FtpClient::setPorts(SessionPorts ports) {
    d->ports = ports;
    d->pumper.setPump(ports.sink);
    d->pumper.setCancel(ports.cancel);
}

void FtpClient::setTls(TlsOptions options) {
    d->options.tls = std::move(options);
    d->tlsContext.reset(); // the CA file may have changed
}

void FtpClient::setOptions(const ConnectionOptions& options) {
    setTls(options.tls);
    d->options = options;
}

const ConnectionOptions& FtpClient::options() const {
    return d->options;
}

const TlsState& FtpClient::tlsState() const {
    return d->caps.tls;
}

const std::optional<CertificateProblem>& FtpClient::certificateProblem() const {
    return d->certProblem;
}

void FtpClient::setTimeouts(int connectMs, int replyMs) {
    d->connectMs = std::max(connectMs, 1);
    d->replyMs = std::max(replyMs, 1);
}

bool FtpClient::connect(const std::string& server, const std::string& user,
                        const std::string& password) {
    BusyGuard guard(d->busy);
    if (!guard.entered()) {
        return false;
    }
    d->control.close();
    d->parser.reset();
    d->loggedIn = false;
    d->lostFlag = false;
    d->pumper.setAbort(false);
    d->caps = ServerCapabilities{};
    d->type = 0;
    d->aheadSent = false;
    d->aheadPort = 0;
    d->here.reset();
    d->codec = NameCodec();
    d->codec.Force(d->options.encoding);
    d->certProblem.reset();

    if (!IsSafeForCommand(user) || !IsSafeForCommand(password)) {
        d->failText("refused: line break or NUL in user name or password");
        return false;
    }
    std::string host;
    uint16_t port = 21;
    if (!SplitServer(server, host, port)) {
        d->failText("bad server text");
        return false;
    }
    if (d->options.tls.policy == TlsPolicy::Implicit && !HasPort(server)) {
        port = kImplicitFtpsPort;
    }
    std::vector<SocketAddress> addresses;
    std::string error;
    if (!ResolveHost(host, port, d->connectMs, d->pumper, addresses, error)) {
        d->failText(error);
        return false;
    }
    // Every address gets the whole time-out; a dead one holds the next back a quarter second.
    // A cancel request stops the attempt.
    d->pumper.honourCancel(true);
    const IoResult connected = d->control.connectAny(addresses, d->connectMs);
    d->pumper.honourCancel(false);
    if (connected != IoResult::Ok) {
        d->failText("connection failed");
        return false;
    }
    // Keeps a router from dropping the control connection while a long transfer runs.
    d->control.setKeepAlive();

    auto fail = [this] {
        d->control.close();
        d->lostFlag = false; // a login that failed is no lost connection
        return false;
    };
    Reply reply;
    if (!d->startTls(host, port, true) || !d->receiveFinal(reply) || reply.code != 220 ||
        !d->startTls(host, port, false)) {
        return fail();
    }
    int code = d->command("USER " + (user.empty() ? std::string("anonymous") : user));
    if (code == 331 || code == 332) {
        code = d->command("PASS " + password);
    }
    if (code != 230 && code != 202) {
        return fail();
    }
    if (!d->protectData()) {
        return fail();
    }
    Reply feat;
    if (d->command("FEAT", &feat) == 211) {
        d->caps.readFeat(feat);
    }
    if (d->lostFlag || !d->control.isOpen()) {
        return fail();
    }
    // A server may offer UTF8 and still refuse to turn it on (its names are then in another
    // encoding): names are UTF-8 only when it said yes.
    // A forced legacy encoding leaves the server's setting alone.
    const NameEncoding forced = d->options.encoding;
    if (forced != NameEncoding::Cp932 && forced != NameEncoding::EucJp && d->caps.has("UTF8") &&
        d->command("OPTS UTF8 ON") / 100 == 2) {
        d->caps.utf8 = true;
        d->codec.SetServerUtf8(true);
    }
    // Ask for the facts the records need, among those offered.
    if (const std::string wanted = d->caps.mlstFactsWanted();
        d->caps.has("MLST") && !wanted.empty()) {
        d->command("OPTS MLST " + wanted);
    }
    if (d->lostFlag || !d->control.isOpen()) {
        return fail();
    }
    d->loggedIn = true;
    return true;
}

bool FtpClient::isOpen() const {
    return d->usable();
}

bool FtpClient::lost() const {
    return d->lostFlag;
}

void FtpClient::close() {
    if (d->busy) {
        // Called from the event pump during an operation: that operation ends with a
        // failure at its next wait and the connection is closed then.
        d->pumper.setAbort(true);
        return;
    }
    if (d->usable()) {
        BusyGuard guard(d->busy);
        int keep = d->replyMs;
        d->replyMs = std::min(keep, kQuitWaitMs);
        bool wasLogged = d->loggedIn;
        d->loggedIn = false; // a missing answer to QUIT is no lost connection
        d->command("QUIT");
        d->loggedIn = wasLogged;
        d->replyMs = keep;
    }
    d->control.close();
    d->loggedIn = false;
}

void FtpClient::setTransfersFollow(bool on) {
    d->follow = on;
    BusyGuard guard(d->busy); // from inside an operation the port waits for the next command
    if (!on && guard.entered() && d->usable()) {
        d->releaseAhead();
    }
}

bool FtpClient::noop() {
    OXLIP_ENTER();
    return d->commandOk("NOOP");
}

bool FtpClient::changeDir(const std::string& path) {
    OXLIP_ENTER();
    if (!IsSafeForCommand(path)) {
        return false;
    }
    return d->changeFolder(path);
}

std::optional<std::string> FtpClient::currentDir() {
    BusyGuard guard(d->busy);
    if (!guard.entered() || !d->usable()) {
        return std::nullopt;
    }
    return d->askFolder();
}

std::optional<std::string> FtpClient::knownDir() const {
    return d->here;
}

bool FtpClient::deleteFile(const std::string& path) {
    OXLIP_ENTER();
    if (!IsSafeForCommand(path)) {
        return false;
    }
    return d->commandOk("DELE " + d->toWire(path));
}

bool FtpClient::rename(const std::string& from, const std::string& to) {
    OXLIP_ENTER();
    if (!IsSafeForCommand(from) || !IsSafeForCommand(to)) {
        return false;
    }
    if (d->command("RNFR " + d->toWire(from)) != 350) {
        return false;
    }
    return d->commandOk("RNTO " + d->toWire(to));
}

bool FtpClient::makeDir(const std::string& path) {
    OXLIP_ENTER();
    if (!IsSafeForCommand(path)) {
        return false;
    }
    return d->commandOk("MKD " + d->toWire(path));
}

bool FtpClient::removeDir(const std::string& path) {
    OXLIP_ENTER();
    if (!IsSafeForCommand(path)) {
        return false;
    }
    d->leaveFolder(path);
    return d->commandOk("RMD " + d->toWire(path));
}

int FtpClient::rawCommand(const std::string& command, std::string* replyText) {
    BusyGuard guard(d->busy);
    if (!guard.entered() || !d->usable()) {
        return 0;
    }
    std::string line = command;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.empty() || !IsSafeForCommand(line)) {
        d->failText("refused: line break or NUL in command");
        return 0;
    }
    Reply reply;
    int code = d->command(d->toWire(line), &reply);
    d->rawCommandSent(line);
    if (replyText) {
        *replyText = code ? reply.text() : std::string();
    }
    if (code == 0 && reply.code == 421) {
        return 421;
    }
    return code;
}

bool FtpClient::hasFeature(const std::string& name) const {
    return d->caps.has(UpperAscii(name));
}

bool FtpClient::namesUtf8() const {
    return d->caps.utf8;
}

int FtpClient::lastReplyCode() const {
    return d->last.code;
}

std::string FtpClient::lastReplyText() const {
    return d->last.text();
}

} // namespace oxlip::ftp
