#include "ftp/engine/FtpClient.h"

#include "ftp/engine/AsciiMode.h"
#include "ftp/engine/ListingParser.h"
#include "ftp/engine/NameCodec.h"
#include "ftp/engine/Reply.h"
#include "ftp/engine/Stream.h"
#include "localfs/TextHelpers.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlip::ftp {

namespace {

using Clock = std::chrono::steady_clock;

// How long QUIT waits for its answer before the socket is closed anyway.
constexpr int kQuitWaitMs = 2000;
// Transfer buffer. Uploads in blocks of this size kept a loopback vsftpd busiest (1.7 GB/s
// for 1 GiB, against about 1.3 with 256 KiB blocks and 1.0 with sendfile()).
constexpr std::size_t kBlockBytes = 64 * 1024;
// A data connection that moves less than this within one reply time-out has stalled.
constexpr std::size_t kStallBytes = 1024;
// Spliced downloads: at most this much per call, and the pipe's size.
constexpr std::size_t kPipeBytes = 1024 * 1024;
// Downloads smaller than this are not worth a pipe.
constexpr uint64_t kSpliceFromBytes = 1024 * 1024;
// A listing longer than this is refused instead of filling memory.
constexpr std::size_t kMaxListingBytes = 256u * 1024 * 1024;

// Both ends of a pipe, closed with it.
struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() = default;
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() {
        if (read >= 0) {
            ::close(read);
        }
        if (write >= 0) {
            ::close(write);
        }
    }
    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        read = fds[0];
        write = fds[1];
        ::fcntl(write, F_SETPIPE_SZ, int(kPipeBytes)); // a smaller pipe only means more calls
        return true;
    }
};

// A descriptor the kernel can splice into at its offset: a regular file not opened for
// appending.
bool SplicesTo(int fd) {
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 &&
           (flags & O_APPEND) == 0 && (flags & O_ACCMODE) != O_RDONLY;
}

bool HasLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// An MLST entry line (" facts name") that states a size.
bool HasSizeFact(const std::string& line) {
    const std::string facts = Upper(line.substr(0, line.find(' ', 1)));
    return facts.rfind(" SIZE=", 0) == 0 || facts.find(";SIZE=") != std::string::npos;
}

bool HasWildcard(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : int(std::min<long long>(left.count(), 1 << 30));
}

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

// The port of a 229 reply: "(|||port|)" with any delimiter. 0 when malformed.
uint16_t ParseEpsvPort(const std::string& text) {
    auto open = text.find('(');
    if (open == std::string::npos || open + 5 > text.size()) {
        return 0;
    }
    char delim = text[open + 1];
    if (delim < 33 || delim > 126 || (delim >= '0' && delim <= '9') || text[open + 2] != delim ||
        text[open + 3] != delim) {
        return 0;
    }
    std::size_t i = open + 4;
    long value = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 6) {
        value = value * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0 || i + 1 >= text.size() || text[i] != delim || text[i + 1] != ')') {
        return 0;
    }
    return value >= 1 && value <= 65535 ? uint16_t(value) : 0;
}

// The port of a 227 reply: six numbers "h1,h2,h3,h4,p1,p2" (the address is not used).
// 0 when malformed.
uint16_t ParsePasvPort(const std::string& text) {
    for (std::size_t start = 0; start < text.size(); ++start) {
        if (!std::isdigit(static_cast<unsigned char>(text[start])) ||
            (start > 0 && std::isdigit(static_cast<unsigned char>(text[start - 1])))) {
            continue;
        }
        long numbers[6];
        std::size_t i = start;
        int count = 0;
        bool ok = true;
        while (count < 6) {
            long value = 0;
            std::size_t digits = 0;
            while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
                value = value * 10 + (text[i] - '0');
                ++i;
                if (++digits > 3) {
                    break;
                }
            }
            if (digits == 0 || digits > 3 || value > 255) {
                ok = false;
                break;
            }
            numbers[count++] = value;
            if (count < 6) {
                if (i >= text.size() || text[i] != ',') {
                    ok = false;
                    break;
                }
                ++i;
            }
        }
        if (!ok) {
            continue;
        }
        if (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            continue;
        }
        long port = numbers[4] * 256 + numbers[5];
        return port >= 1 ? uint16_t(port) : 0;
    }
    return 0;
}

// The folder of a 257 reply: the text between the first quote and its closing quote, with
// doubled quotes standing for one.
std::optional<std::string> ParseQuotedPath(const std::string& text) {
    auto open = text.find('"');
    if (open == std::string::npos) {
        return std::nullopt;
    }
    std::string path;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                path += '"';
                ++i;
                continue;
            }
            return path;
        }
        path += text[i];
    }
    return std::nullopt;
}

// "YYYYMMDDHHMMSS[.sss]" (UTC) as ticks; nullopt when malformed.
std::optional<FileTime> ParseMdtm(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    if (text.size() < i + 14) {
        return std::nullopt;
    }
    int v[6];
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    for (int f = 0; f < 6; ++f) {
        int value = 0;
        for (int k = 0; k < widths[f]; ++k, ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
                return std::nullopt;
            }
            value = value * 10 + (text[i] - '0');
        }
        v[f] = value;
    }
    if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59 || v[5] > 60) {
        return std::nullopt;
    }
    return FileTimeFromCivil(v[0], v[1], v[2], v[3], v[4], v[5]);
}

// Strips final "/" (a root stays "/").
std::string WithoutFinalSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

CivilTime LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    CivilTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    c.utcOffsetMinutes = int(tm.tm_gmtoff / 60);
    return c;
}

} // namespace

struct FtpClient::Impl {
    SessionPorts ports;
    Pumper pumper;
    Stream control{pumper};
    ReplyParser parser;
    int connectMs = kConnectTimeoutMs;
    int replyMs = kReplyTimeoutMs;

    bool loggedIn = false;
    bool lostFlag = false;
    bool busy = false;

    std::set<std::string> features; // upper-case keywords
    std::string mlstFacts;          // the MLST line of FEAT
    bool utf8 = false;
    bool epsvRefused = false;
    bool listDashA = true;
    char type = 0; // 'A', 'I' or 0 when not yet sent
    Reply last;
    NameCodec codec;
    std::unique_ptr<char[]> block; // transfer buffer (kBlockBytes)
    std::unique_ptr<char[]> wide;  // converted upload data (2 * kBlockBytes)
    // Commands sent on this connection so far.
    uint64_t sentCommands = 0;
    // The size a lookup has just found: a download of the same path that follows at once
    // checks against it instead of asking again.
    struct KnownSize {
        std::string wire;
        uint64_t size = 0;
        uint64_t afterCommands = ~uint64_t(0);
    } knownSize;

    void rememberSize(const std::string& wire, uint64_t size) {
        knownSize = KnownSize{wire, size, sentCommands};
    }
    std::optional<uint64_t> sizeJustFound(const std::string& wire) const {
        if (knownSize.afterCommands == sentCommands && knownSize.wire == wire) {
            return knownSize.size;
        }
        return std::nullopt;
    }

    // --- control connection -------------------------------------------------------------

    bool usable() const { return loggedIn && !lostFlag && control.isOpen(); }

    void markLost() {
        if (lostFlag) {
            return;
        }
        lostFlag = true;
        control.close();
        if (loggedIn && !pumper.aborted()) {
            Tell(ports, LogKind::ConnectionLost);
        }
    }

    void failText(const std::string& text) {
        last = Reply{};
        last.lines.push_back(text);
    }

    // Takes in whatever arrived unasked (a 421 before a command, a late reply) so that the
    // next command's answer is really its own.
    bool drainUnasked() {
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
            Reply r = parser.next();
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

    bool sendLine(const std::string& line) {
        if (HasLineBreakOrNul(line)) {
            failText("refused: line break or NUL in command");
            return false;
        }
        if (!control.isOpen() || lostFlag) {
            return false;
        }
        if (!drainUnasked()) {
            return false;
        }
        std::string wire = line + "\r\n";
        ++sentCommands;
        if (control.writeAll(wire.data(), wire.size(), replyMs) != IoResult::Ok) {
            markLost();
            return false;
        }
        return true;
    }

    // Takes one reply from what has arrived; reads more until the deadline.
    bool receive(Reply& reply, Clock::time_point deadline) {
        char buf[16384];
        for (;;) {
            if (parser.hasReply()) {
                reply = parser.next();
                last = reply;
                if (reply.code == 421) {
                    markLost();
                }
                return true;
            }
            if (parser.failed() || !control.isOpen()) {
                markLost();
                return false;
            }
            std::size_t got = 0;
            IoResult r = control.read(buf, sizeof buf, got, RemainingMs(deadline));
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

    // The final (non-1xx) reply, within one reply time-out. False when the connection broke.
    bool receiveFinal(Reply& reply) {
        auto deadline = Clock::now() + std::chrono::milliseconds(replyMs);
        do {
            if (!receive(reply, deadline)) {
                return false;
            }
        } while (reply.preliminary());
        return true;
    }

    // Sends a command and returns its final reply code, 0 when the connection broke.
    int command(const std::string& line, Reply* out = nullptr) {
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

    bool commandOk(const std::string& line) {
        int code = command(line);
        return code >= 200 && code < 300;
    }

    // --- names --------------------------------------------------------------------------

    // Names on the wire: UTF-8 when the server offers it; otherwise each name goes back in
    // the bytes it came in.
    std::string fromWire(const std::string& raw) { return codec.Decode(raw); }
    std::string toWire(const std::string& path) const { return codec.Encode(path); }

    // --- transfers ----------------------------------------------------------------------

    bool ensureType(char wanted) {
        if (type == wanted) {
            return true;
        }
        if (!commandOk(wanted == 'A' ? "TYPE A" : "TYPE I")) {
            return false;
        }
        type = wanted;
        return true;
    }

    // SIZE in binary mode (the file's bytes as they will arrive); nothing when the server
    // gives no usable answer.
    std::optional<uint64_t> askSize(const std::string& wire) {
        if (!ensureType('I')) {
            return std::nullopt;
        }
        Reply reply;
        if (command("SIZE " + wire, &reply) != 213) {
            return std::nullopt;
        }
        const std::string& text = reply.lines.front();
        const std::string digits = text.size() > 4 ? text.substr(4) : "";
        char* end = nullptr;
        errno = 0;
        const unsigned long long value = std::strtoull(digits.c_str(), &end, 10);
        if (errno != 0 || end == digits.c_str()) {
            return std::nullopt;
        }
        return value;
    }

    // Opens a passive data connection to the control connection's peer.
    bool openData(Stream& data) {
        uint16_t port = 0;
        if (!epsvRefused) {
            Reply reply;
            int code = command("EPSV", &reply);
            if (code == 0) {
                return false;
            }
            if (code == 229) {
                port = ParseEpsvPort(reply.text());
                if (port == 0) {
                    return false; // malformed
                }
            } else {
                epsvRefused = true;
            }
        }
        if (port == 0) {
            Reply reply;
            int code = command("PASV", &reply);
            if (code != 227) {
                return false;
            }
            port = ParsePasvPort(reply.text());
            if (port == 0) {
                return false;
            }
        }
        // Whatever address the server named, the data connection goes to the peer of the
        // control connection only.
        SocketAddress address = control.peer();
        address.setPort(port);
        if (data.connect(address, connectMs) != IoResult::Ok) {
            failText("data connection failed");
            return false;
        }
        return true;
    }

    using Sink = std::function<bool(char* data, std::size_t size)>; // false: local failure
    // One block to upload; size 0 ends the data. sent runs once the block is on its way.
    struct Chunk {
        const char* data = nullptr;
        std::size_t size = 0;
        std::function<void()> sent;
    };
    using Source = std::function<bool(Chunk& chunk)>; // false: local failure

    // Reads the final reply of a transfer after its data connection ended.
    bool finishTransfer(bool haveFinal, Reply& final, bool dataOk) {
        if (!haveFinal && !receiveFinal(final)) {
            return false;
        }
        if (lostFlag) {
            return false;
        }
        return dataOk && final.code >= 200 && final.code < 300;
    }

    // Handles replies that arrive on the control connection during a transfer. False when
    // the transfer must stop (a failure reply, or the connection broke).
    bool watchControl(bool& haveFinal, Reply& final) {
        char buf[4096];
        std::size_t got = 0;
        IoResult r = control.readNow(buf, sizeof buf, got);
        if (r != IoResult::Ok) {
            markLost();
            return false;
        }
        parser.feed(buf, got);
        while (!haveFinal && parser.hasReply()) {
            Reply reply = parser.next();
            last = reply;
            if (reply.code == 421) {
                markLost();
                return false;
            }
            if (!reply.preliminary()) {
                final = reply;
                haveFinal = true;
            }
        }
        if (parser.failed()) {
            markLost();
            return false;
        }
        // A failure reply before the data ended: the transfer has failed.
        return !(haveFinal && final.code >= 400);
    }

    // Sends a transfer command over a fresh data connection and moves the data: into sink
    // (source null) or out of source.
    bool transfer(const std::string& line, const Sink& sink, const Source& source) {
        return transfer(line, [&](Stream& data, bool& haveFinal, Reply& final) {
            return source ? sendData(data, source, haveFinal, final)
                          : receiveData(data, sink, haveFinal, final);
        });
    }

    // Moves the data of a transfer command over its data connection.
    using Mover = std::function<bool(Stream& data, bool& haveFinal, Reply& final)>;

    bool transfer(const std::string& line, const Mover& move) {
        Stream data(pumper);
        if (!openData(data)) {
            return false;
        }
        if (!sendLine(line)) {
            return false;
        }
        Reply first;
        if (!receive(first, Clock::now() + std::chrono::milliseconds(replyMs))) {
            return false;
        }
        bool haveFinal = !first.preliminary();
        Reply final = first;
        if (lostFlag || (haveFinal && final.code >= 300)) {
            return false; // refused: the data connection is dropped unused
        }
        if (!block) {
            block.reset(new char[kBlockBytes]);
        }
        bool dataOk = move(data, haveFinal, final);
        // An upload cut short ends with a normal close too: a reset leaves some servers without
        // a final reply, and the control connection out of step. The caller sees the failure.
        data.close();
        if (lostFlag) {
            return false;
        }
        if (haveFinal && final.code >= 400) {
            return false;
        }
        return finishTransfer(haveFinal, final, dataOk);
    }

    // A data connection stalls when it moves less than kStallBytes within one reply time-out.
    struct StallWatch {
        Clock::time_point windowStart = Clock::now();
        std::size_t windowBytes = 0;
        void moved(std::size_t bytes) {
            windowBytes += bytes;
            if (windowBytes >= kStallBytes) {
                windowStart = Clock::now();
                windowBytes = 0;
            }
        }
    };

    // Waits until the data connection is ready for the event, while watching the control
    // connection. 1: ready; 0: not yet (call again); -1: the transfer has failed.
    int waitData(Stream& data, short event, StallWatch& watch, bool& haveFinal, Reply& final) {
        int left = replyMs - int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     Clock::now() - watch.windowStart)
                                     .count());
        if (left <= 0) {
            failText("data connection stalled");
            return -1;
        }
        Stream* streams[2] = {&data, &control};
        short events[2] = {event, POLLIN};
        int ready = WaitStreams(streams, events, haveFinal ? 1 : 2, left, pumper);
        if (ready < 0 || ((ready & 2) && !watchControl(haveFinal, final))) {
            return -1;
        }
        return (ready & 1) ? 1 : 0;
    }

    // Calls step each time the data connection is ready for the event, until it reports the
    // end (1) or a failure (-1); 0 asks for more. The stall time-out and the control
    // connection are watched meanwhile.
    template <typename Step>
    bool whileReady(Stream& data, short event, bool& haveFinal, Reply& final, Step&& step) {
        StallWatch watch;
        for (;;) {
            int ready = waitData(data, event, watch, haveFinal, final);
            if (ready < 0) {
                return false;
            }
            if (ready == 0) {
                continue;
            }
            int state = step(watch);
            if (state != 0) {
                return state > 0;
            }
        }
    }

    bool receiveData(Stream& data, const Sink& sink, bool& haveFinal, Reply& final) {
        return whileReady(data, POLLIN, haveFinal, final, [&](StallWatch& watch) {
            std::size_t got = 0;
            IoResult r = data.readNow(block.get(), kBlockBytes, got);
            if (r == IoResult::Closed) {
                return 1;
            }
            if (r == IoResult::Failed) {
                failText("data connection broken");
                return -1;
            }
            if (got > 0 && !sink(block.get(), got)) {
                return -1;
            }
            watch.moved(got);
            return 0;
        });
    }

    bool sendData(Stream& data, const Source& source, bool& haveFinal, Reply& final) {
        StallWatch watch;
        for (;;) {
            Chunk chunk;
            if (!source(chunk)) {
                return false;
            }
            if (chunk.size == 0) {
                data.shutdownWrite();
                return true;
            }
            std::size_t done = 0;
            while (done < chunk.size) {
                int ready = waitData(data, POLLOUT, watch, haveFinal, final);
                if (ready < 0) {
                    return false;
                }
                if (ready == 0) {
                    continue;
                }
                std::size_t sent = 0;
                if (data.writeNow(chunk.data + done, chunk.size - done, sent) != IoResult::Ok) {
                    failText("data connection broken");
                    return false;
                }
                done += sent;
                watch.moved(sent);
            }
            if (chunk.sent) {
                chunk.sent();
            }
        }
    }

    // Moves a binary download straight from the socket into a regular file through a pipe,
    // without copying it through this process. False with fellBack unset on a failure;
    // fellBack set (nothing moved yet) when the system cannot splice these descriptors.
    bool receiveSpliced(Stream& data, int fd, const std::function<void(std::size_t)>& moved,
                        bool& haveFinal, Reply& final, bool& fellBack) {
        fellBack = false;
        Pipe pipe;
        if (!pipe.open()) {
            fellBack = true;
            return false;
        }
        bool first = true;
        return whileReady(data, POLLIN, haveFinal, final, [&](StallWatch& watch) {
            std::size_t got = 0;
            IoResult r = data.spliceNow(pipe.write, kPipeBytes, got);
            if (r == IoResult::Closed) {
                return 1;
            }
            if (r == IoResult::Failed) {
                fellBack = first && (errno == EINVAL || errno == ENOSYS);
                if (!fellBack) {
                    failText("data connection broken");
                }
                return -1;
            }
            first = false;
            for (std::size_t left = got; left > 0;) {
                ssize_t n = ::splice(pipe.read, nullptr, fd, nullptr, left, SPLICE_F_MOVE);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    failText("the local file could not be written");
                    return -1;
                }
                left -= std::size_t(n);
            }
            if (got > 0) {
                moved(got);
            }
            watch.moved(got);
            return 0;
        });
    }

    // Runs a listing command; its body is parsed as it arrives, so that only the entries
    // (and at most one line) are ever held.
    bool listing(const std::string& line, bool mlsd, std::vector<DirEntry>& entries) {
        ListingAccumulator accumulator(mlsd, LocalNow());
        std::size_t total = 0;
        bool ok = transfer(
            line,
            [&](char* data, std::size_t size) {
                total += size;
                if (total > kMaxListingBytes) {
                    return false;
                }
                accumulator.Feed(std::string_view(data, size));
                return true;
            },
            nullptr);
        entries = accumulator.Finish();
        return ok;
    }

    // LIST with "-a" (hidden files too) until the server shows that it takes "-a" for a name:
    // it refuses "LIST -a ..." with a permanent error where the plain LIST works, or it lists
    // one entry named "-a" where the plain LIST lists something else. Any other failure fails
    // this listing only and keeps "-a", so no later listing loses the hidden files.
    bool listUnix(const std::string& arg, std::vector<DirEntry>& entries) {
        if (!listDashA) {
            return listing("LIST" + arg, false, entries);
        }
        const bool ok = listing("LIST -a" + arg, false, entries);
        const auto onlyDashA = [](const std::vector<DirEntry>& list) {
            return list.size() == 1 && list.front().name == "-a";
        };
        const bool refused = !ok && !lostFlag && last.code >= 500;
        if (!refused && !(ok && onlyDashA(entries))) {
            return ok;
        }
        std::vector<DirEntry> plain;
        if (!listing("LIST" + arg, false, plain)) {
            return ok;
        }
        if (refused || !onlyDashA(plain)) {
            listDashA = false; // the server took "-a" for a name
            entries = std::move(plain);
        }
        return true;
    }

    // Lists a folder ("" is the current one) into records with decoded names and local times.
    // linksShown: LIST even where MLSD is offered.
    bool listFolder(const std::string& folder, std::vector<DirEntry>& out, ListingNotes& notes,
                    bool linksShown = false) {
        std::string wire = toWire(folder);
        std::string arg = folder.empty() ? "" : " " + wire;
        std::vector<DirEntry> entries;
        notes = ListingNotes{};
        notes.mlsd = !linksShown && features.count("MLST") > 0;
        bool ok = false;
        if (notes.mlsd) {
            ok = listing("MLSD" + arg, true, entries);
            if (!ok && !lostFlag && (last.code == 500 || last.code == 502)) {
                features.erase("MLST"); // offered in FEAT but not understood: use LIST
                notes.mlsd = false;
            }
        }
        if (!notes.mlsd) {
            ok = listUnix(arg, entries);
        }
        if (!ok) {
            return false;
        }
        out.reserve(entries.size());
        for (DirEntry& e : entries) {
            if (e.name == "." || e.name == "..") {
                continue;
            }
            if (e.name.empty() || e.name.find('/') != std::string::npos ||
                HasLineBreakOrNul(e.name)) {
                // No name that could reach outside the folder or into a command.
                if (notes.refused.size() < kMaxRefusedNames) {
                    notes.refused.push_back(fromWire(e.name));
                }
                continue;
            }
            e.name = fromWire(e.name);
            if (notes.mlsd && e.modified.ticks != 0) {
                e.modified = FileTimeToLocalFileTime(e.modified);
            }
            out.push_back(std::move(e));
        }
        return true;
    }
};

// ---------------------------------------------------------------------------------------

namespace {

// Refuses nested calls made from inside the event pump while an operation runs.
class BusyGuard {
public:
    explicit BusyGuard(bool& busy) : busy_(busy), entered_(!busy) {
        if (entered_) {
            busy_ = true;
        }
    }
    ~BusyGuard() {
        if (entered_) {
            busy_ = false;
        }
    }
    bool entered() const { return entered_; }

private:
    bool& busy_;
    bool entered_;
};

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
    d->features.clear();
    d->mlstFacts.clear();
    d->utf8 = false;
    d->epsvRefused = false;
    d->listDashA = true;
    d->type = 0;
    d->codec = NameCodec();

    if (HasLineBreakOrNul(user) || HasLineBreakOrNul(password)) {
        d->failText("refused: line break or NUL in user name or password");
        return false;
    }
    std::string host;
    uint16_t port = 21;
    if (!SplitServer(server, host, port)) {
        d->failText("bad server text");
        return false;
    }
    std::vector<SocketAddress> addresses;
    std::string error;
    if (!ResolveHost(host, port, d->connectMs, d->pumper, addresses, error)) {
        d->failText(error);
        return false;
    }
    // Every address gets the whole time-out; a dead one holds the next back a quarter second.
    if (d->control.connectAny(addresses, d->connectMs) != IoResult::Ok) {
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
    if (!d->receiveFinal(reply) || reply.code != 220) {
        return fail();
    }
    int code = d->command("USER " + (user.empty() ? std::string("anonymous") : user));
    if (code == 331 || code == 332) {
        code = d->command("PASS " + password);
    }
    if (code != 230 && code != 202) {
        return fail();
    }
    Reply feat;
    if (d->command("FEAT", &feat) == 211) {
        for (std::size_t i = 1; i + 1 < feat.lines.size(); ++i) {
            std::string line = feat.lines[i];
            auto begin = line.find_first_not_of(' ');
            if (begin == std::string::npos || ReplyCodeOf(line) != 0) {
                continue; // an inner line that starts with a code names no feature
            }
            line = line.substr(begin);
            auto space = line.find(' ');
            std::string keyword = Upper(line.substr(0, space));
            d->features.insert(keyword);
            if (keyword == "MLST" && space != std::string::npos) {
                d->mlstFacts = line.substr(space + 1);
            }
        }
    }
    if (d->lostFlag || !d->control.isOpen()) {
        return fail();
    }
    // A server may offer UTF8 and still refuse to turn it on (its names are then in another
    // encoding): names are UTF-8 only when it said yes.
    if (d->features.count("UTF8") && d->command("OPTS UTF8 ON") / 100 == 2) {
        d->utf8 = true;
        d->codec.SetServerUtf8(true);
    }
    if (d->features.count("MLST")) {
        // Ask for the facts the records need, among those offered.
        std::string offered = Upper(d->mlstFacts);
        std::string wanted;
        for (const char* fact : {"type", "size", "modify", "unix.mode"}) {
            if (offered.find(Upper(fact)) != std::string::npos) {
                wanted += std::string(fact) + ";";
            }
        }
        if (!wanted.empty()) {
            d->command("OPTS MLST " + wanted);
        }
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

#define OXLIP_ENTER()                                                                              \
    BusyGuard guard(d->busy);                                                                      \
    if (!guard.entered() || !d->usable()) {                                                        \
        return false;                                                                              \
    }

bool FtpClient::changeDir(const std::string& path) {
    OXLIP_ENTER();
    if (HasLineBreakOrNul(path)) {
        return false;
    }
    return d->commandOk("CWD " + d->toWire(path));
}

std::optional<std::string> FtpClient::currentDir() {
    BusyGuard guard(d->busy);
    if (!guard.entered() || !d->usable()) {
        return std::nullopt;
    }
    Reply reply;
    if (d->command("PWD", &reply) != 257) {
        return std::nullopt;
    }
    auto path = ParseQuotedPath(reply.lines.front());
    if (!path) {
        return std::nullopt;
    }
    return d->fromWire(*path);
}

bool FtpClient::list(const std::string& pattern, std::vector<DirEntry>& out, ListingNotes* notes) {
    out.clear();
    OXLIP_ENTER();
    if (HasLineBreakOrNul(pattern)) {
        return false;
    }
    std::string folder = pattern;
    std::string mask;
    auto slash = pattern.rfind('/');
    std::string lastPart = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (HasWildcard(lastPart)) {
        mask = lastPart;
        folder = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    }
    if (folder.size() > 1) {
        folder = WithoutFinalSlash(folder);
    }
    ListingNotes told;
    std::vector<DirEntry> entries;
    const bool ok = d->listFolder(folder, entries, told);
    if (notes) {
        *notes = std::move(told);
    }
    if (!ok) {
        return false;
    }
    if (mask.empty()) {
        out = std::move(entries);
        return true;
    }
    for (DirEntry& e : entries) {
        if (MatchesWildcard(e.name, mask)) {
            out.push_back(std::move(e));
        }
    }
    return true;
}

bool FtpClient::listShowingLinks(const std::string& folder, std::vector<DirEntry>& out,
                                 ListingNotes* notes) {
    out.clear();
    OXLIP_ENTER();
    if (HasLineBreakOrNul(folder)) {
        return false;
    }
    ListingNotes told;
    const bool ok = d->listFolder(WithoutFinalSlash(folder), out, told, true);
    if (notes) {
        *notes = std::move(told);
    }
    return ok;
}

bool FtpClient::entry(const std::string& path, DirEntry& out) {
    OXLIP_ENTER();
    return lookup(path, out, true);
}

bool FtpClient::fileSize(const std::string& path, uint64_t& out) {
    OXLIP_ENTER();
    DirEntry found;
    if (!lookup(path, found, false)) {
        return false;
    }
    out = found.size;
    return true;
}

bool FtpClient::lookup(const std::string& path, DirEntry& out, bool withTime) {
    if (HasLineBreakOrNul(path) || path.empty()) {
        return false;
    }
    std::string clean = WithoutFinalSlash(path);
    std::string name = GetNamePart(clean, '/');
    if (name.empty()) {
        name = clean;
    }
    std::string wire = d->toWire(clean);
    if (d->features.count("MLST")) {
        Reply reply;
        if (d->command("MLST " + wire, &reply) / 100 != 2) {
            return false;
        }
        for (std::size_t i = 1; i < reply.lines.size(); ++i) {
            const std::string& line = reply.lines[i];
            if (line.empty() || line[0] != ' ') {
                continue;
            }
            auto parsed = ParseMlsdLine(line.substr(1));
            if (!parsed) {
                continue;
            }
            DirEntry e = *parsed;
            e.name = name;
            if (!e.directory && d->features.count("SIZE") && HasSizeFact(line)) {
                d->rememberSize(wire, e.size);
            }
            if (e.modified.ticks != 0) {
                e.modified = FileTimeToLocalFileTime(e.modified);
            }
            out = e;
            return true;
        }
        return false;
    }
    // Without MLST: a file answers SIZE (and MDTM for its time) ...
    if (const std::optional<uint64_t> size = d->askSize(wire)) {
        DirEntry e;
        e.name = name;
        e.size = *size;
        Reply mdtm;
        if (withTime && d->command("MDTM " + wire, &mdtm) == 213) {
            auto time = ParseMdtm(
                mdtm.lines.front().substr(std::min<std::size_t>(4, mdtm.lines.front().size())));
            if (time) {
                e.modified = FileTimeToLocalFileTime(*time);
            }
        }
        if (!d->usable()) {
            return false;
        }
        d->rememberSize(wire, *size);
        out = e;
        return true;
    }
    if (!d->usable()) {
        return false;
    }
    // ... anything else is looked up in the listing of its folder.
    std::string parent = clean.find('/') == std::string::npos ? "" : GetParentPath(clean, '/');
    if (parent == clean) {
        return false; // the root has no listing that names it
    }
    std::vector<DirEntry> entries;
    ListingNotes notes;
    if (!d->listFolder(parent.size() > 1 ? WithoutFinalSlash(parent) : parent, entries, notes)) {
        return false;
    }
    for (DirEntry& e : entries) {
        if (e.name == name) {
            out = std::move(e);
            return true;
        }
    }
    return false;
}

bool FtpClient::deleteFile(const std::string& path) {
    OXLIP_ENTER();
    if (HasLineBreakOrNul(path)) {
        return false;
    }
    return d->commandOk("DELE " + d->toWire(path));
}

bool FtpClient::rename(const std::string& from, const std::string& to) {
    OXLIP_ENTER();
    if (HasLineBreakOrNul(from) || HasLineBreakOrNul(to)) {
        return false;
    }
    if (d->command("RNFR " + d->toWire(from)) != 350) {
        return false;
    }
    return d->commandOk("RNTO " + d->toWire(to));
}

bool FtpClient::makeDir(const std::string& path) {
    OXLIP_ENTER();
    if (HasLineBreakOrNul(path)) {
        return false;
    }
    return d->commandOk("MKD " + d->toWire(path));
}

bool FtpClient::removeDir(const std::string& path) {
    OXLIP_ENTER();
    if (HasLineBreakOrNul(path)) {
        return false;
    }
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
    if (line.empty() || HasLineBreakOrNul(line)) {
        d->failText("refused: line break or NUL in command");
        return 0;
    }
    Reply reply;
    int code = d->command(d->toWire(line), &reply);
    if (replyText) {
        *replyText = code ? reply.text() : std::string();
    }
    if (code == 0 && reply.code == 421) {
        return 421;
    }
    return code;
}

bool FtpClient::retrieve(const std::string& path, bool ascii, int fd, const BlockCallback& onBlock,
                         std::optional<uint64_t> listedSize) {
    OXLIP_ENTER();
    if (HasLineBreakOrNul(path) || fd < 0) {
        return false;
    }
    std::string wire = d->toWire(path);
    if (!d->ensureType(ascii ? 'A' : 'I')) {
        return false;
    }
    // In binary mode the size the server gives is checked against what arrives.
    const bool checked = !ascii && d->features.count("SIZE");
    std::optional<uint64_t> expected;
    if (checked) {
        expected = d->sizeJustFound(wire);
    }
    const bool fromListing = checked && !expected && listedSize;
    if (fromListing) {
        expected = listedSize;
    }
    if (checked && !expected) {
        expected = d->askSize(wire);
        if (!d->usable()) {
            return false;
        }
    }
    uint64_t received = 0;
    AsciiDecoder decoder;
    auto writeAll = [fd](const char* data, std::size_t size) {
        while (size > 0) {
            ssize_t n = ::write(fd, data, size);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            data += n;
            size -= std::size_t(n);
        }
        return true;
    };
    Impl::Sink sink = [&](char* data, std::size_t size) {
        received += size;
        std::size_t n = size;
        if (ascii) {
            bool carryCr = false;
            n = decoder.decode(data, size, carryCr);
            if (carryCr && !writeAll("\r", 1)) {
                return false;
            }
        }
        if (!writeAll(data, n)) {
            return false;
        }
        if (onBlock) {
            onBlock(size);
        }
        return true;
    };
    // Large binary files go from the socket to the file without passing through here.
    const bool spliced = !ascii && (!expected || *expected >= kSpliceFromBytes) && SplicesTo(fd);
    bool ok = d->transfer("RETR " + wire, [&](Stream& data, bool& haveFinal, Reply& final) {
        if (spliced) {
            bool fellBack = false;
            bool moved = d->receiveSpliced(
                data, fd,
                [&](std::size_t size) {
                    received += size;
                    if (onBlock) {
                        onBlock(size);
                    }
                },
                haveFinal, final, fellBack);
            if (!fellBack) {
                return moved;
            }
        }
        return d->receiveData(data, sink, haveFinal, final);
    });
    if (ok && ascii && decoder.finish()) {
        ok = writeAll("\r", 1); // a CR at the very end stays
    }
    if (ok && expected && received != *expected) {
        // A listing can be older than the file: what the server says now decides.
        const std::optional<uint64_t> now = fromListing ? d->askSize(wire) : std::nullopt;
        if (!now || *now != received) {
            d->failText("the file arrived incomplete");
            return false;
        }
    }
    return ok;
}

bool FtpClient::store(const std::string& path, bool ascii, int fd, const BlockCallback& onBlock) {
    OXLIP_ENTER();
    if (HasLineBreakOrNul(path) || fd < 0) {
        return false;
    }
    if (!d->ensureType(ascii ? 'A' : 'I')) {
        return false;
    }
    AsciiEncoder encoder;
    if (!d->block) {
        d->block.reset(new char[kBlockBytes]);
    }
    if (ascii && !d->wide) {
        d->wide.reset(new char[2 * kBlockBytes]);
    }
    char* buffer = d->block.get();
    Impl::Source source = [&](Impl::Chunk& chunk) {
        ssize_t n;
        do {
            n = ::read(fd, buffer, kBlockBytes);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            d->failText("the local file could not be read");
            return false;
        }
        chunk.data = buffer;
        chunk.size = std::size_t(n);
        if (n > 0 && ascii) {
            chunk.data = d->wide.get();
            chunk.size = encoder.encode(buffer, std::size_t(n), d->wide.get());
        }
        chunk.sent = [&onBlock, n] {
            if (onBlock) {
                onBlock(std::size_t(n));
            }
        };
        return true;
    };
    // Uploads are read into a buffer and sent from there (see kBlockBytes).
    return d->transfer("STOR " + d->toWire(path), [&](Stream& data, bool& haveFinal, Reply& final) {
        return d->sendData(data, source, haveFinal, final);
    });
}

bool FtpClient::hasFeature(const std::string& name) const {
    return d->features.count(Upper(name)) > 0;
}

bool FtpClient::namesUtf8() const {
    return d->utf8;
}

int FtpClient::lastReplyCode() const {
    return d->last.code;
}

std::string FtpClient::lastReplyText() const {
    return d->last.text();
}

} // namespace oxlip::ftp
