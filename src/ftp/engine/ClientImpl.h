#pragma once
// The inside of FtpClient, shared by the files that implement it:
//   FtpClient.cpp       connecting and logging in, closing, file operations, raw commands
//   ControlChannel.cpp  commands and replies, time-outs, a lost connection, TLS on it, trace
//   DataConnection.cpp  EPSV/PASV, TLS on data, moving data while the control connection
//                       is watched
//   Splice.cpp          zero-copy downloads
//   ClientListing.cpp   listings and lookups
//   ClientTransfer.cpp  downloads and uploads
// Not for use outside the engine.

#include "ftp/engine/Capabilities.h"
#include "ftp/engine/FtpClient.h"
#include "ftp/engine/NameCodec.h"
#include "ftp/engine/Reply.h"
#include "ftp/engine/Stream.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oxlip::ftp {

using Clock = std::chrono::steady_clock;

// Transfer buffer. Uploads in blocks of this size kept a loopback vsftpd busiest (1.7 GB/s
// for 1 GiB, against about 1.3 with 256 KiB blocks and 1.0 with sendfile()).
constexpr std::size_t kBlockBytes = 64 * 1024;
// A data connection that moves less than this within one reply time-out has stalled.
constexpr std::size_t kStallBytes = 1024;
// Downloads smaller than this are not worth a pipe.
constexpr uint64_t kSpliceFromBytes = 1024 * 1024;
// How long a cancelled operation waits for the server's answers (to the command, and to ABOR).
constexpr int kAbortWaitMs = 5000;

int RemainingMs(Clock::time_point deadline);
// OXLIP_TRACE is "1" in the environment.
bool TraceWanted();
// A descriptor the kernel can splice into at its offset: a regular file not opened for
// appending.
bool SplicesTo(int fd);

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
    // OXLIP_TRACE=1: the control connection's lines go to standard error.
    bool trace = TraceWanted();

    // What connect() uses: FTPS (see Tls.h; what it gave is in caps.tls), data connections,
    // names
    ConnectionOptions options;
    std::unique_ptr<TlsContext> tlsContext;
    std::optional<CertificateProblem> certProblem;
    std::string tlsHost;

    ServerCapabilities caps;
    char type = 0; // 'A', 'I' or 0 when not yet sent
    Reply last;
    NameCodec codec;
    std::unique_ptr<char[]> block; // transfer buffer (kBlockBytes)
    std::unique_ptr<char[]> wide;  // converted upload data (2 * kBlockBytes)
    // "REST n" for the next transfer, sent just before its command.
    std::string restBefore;
    // The last transfer's data connection ended normally (whatever its final reply).
    bool dataComplete = false;
    // The server has answered since the last transfer's command was sent.
    bool answered = false;
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

    // --- control connection (ControlChannel.cpp) ---

    bool usable() const { return loggedIn && !lostFlag && control.isOpen(); }

    // Drops the control connection once and for all; the log hears of it once.
    void markLost();

    // A text of the engine's own as the last reply (no code), for messages and tests.
    void failText(const std::string& text);

    // Takes the oldest complete reply from the parser (shown in the trace).
    Reply takeReply();

    // Takes in whatever arrived unasked (a 421 before a command, a late reply) so that the
    // next command's answer is really its own.
    bool drainUnasked();

    // Sends one command line (CR LF added); refused when it is not safe to send. An answer
    // still owed to a command sent ahead is taken first, and what else arrived unasked.
    bool sendLine(const std::string& line);

    // Writes one command line as it is, nothing read before.
    bool writeLine(const std::string& line);

    // --- the next data connection asked for ahead (DataConnection.cpp) ---

    // Transfers follow one another (FtpClient::setTransfersFollow): once a transfer's data
    // has ended, the next one's EPSV goes out before the final reply has come, and both
    // answers arrive within one round trip. The answers come in order: the final reply is
    // read first, the EPSV's before anything else is sent.
    bool follow = false;
    bool aheadSent = false; // EPSV sent ahead, its answer not read yet
    uint16_t aheadPort = 0; // the port its 229 named, not used yet

    // Sends EPSV ahead when transfers follow and the server took it so far.
    void askDataAhead();
    // Reads the answer to an EPSV sent ahead. False when the connection broke.
    bool takeAhead();
    // A port asked for ahead and not used is given back (ABOR), so that no server times it
    // out later on its own.
    void releaseAhead();

    // Takes one reply from what has arrived; reads more until the deadline.
    bool receive(Reply& reply, Clock::time_point deadline);

    // The final (non-1xx) reply, within one reply time-out. False when the connection broke.
    bool receiveFinal(Reply& reply);

    // Sends a command and returns its final reply code, 0 when the connection broke.
    int command(const std::string& line, Reply* out = nullptr);

    // The command's final reply is 2xx.
    bool commandOk(const std::string& line);

    // --- FTPS on the control connection (ControlChannel.cpp) ---

    // Puts TLS on the control connection: at once for implicit FTPS (greeting true, before
    // the 220), after the 220 with AUTH TLS otherwise. The certificate is judged before
    // anything else is sent. False when the connection must stop.
    bool startTls(const std::string& host, uint16_t port, bool greeting);

    // After the login: data connections encrypted too (PBSZ 0, PROT P).
    bool protectData();
    // The control connection is up (logged in or not).
    bool usableControl() const { return !lostFlag && control.isOpen(); }

    // --- names ---

    // Names on the wire: UTF-8 when the server offers it; otherwise each name goes back in
    // the bytes it came in.
    std::string fromWire(const std::string& raw) { return codec.Decode(raw); }
    std::string toWire(const std::string& path) const { return codec.Encode(path); }

    // --- transfers (ClientTransfer.cpp) ---

    // TYPE A or TYPE I, sent only when it changes.
    bool ensureType(char wanted);

    // SIZE in binary mode (the file's bytes as they will arrive); nothing when the server
    // gives no usable answer.
    std::optional<uint64_t> askSize(const std::string& wire);

    // --- data connection (DataConnection.cpp) ---

    // Prepares the data connection: passive, connects data to the control connection's peer
    // (EPSV, then PASV); active, listens on listener and tells the server where (EPRT, then
    // PORT), the connection to be accepted once the transfer command was taken.
    bool openData(Stream& data, Stream& listener);
    bool listenData(Stream& listener);
    // Active: takes the server's connection on the listener (a no-op when passive).
    bool acceptData(Stream& data, Stream& listener);

    // TLS on a data connection once its command was taken: the control connection's session
    // resumed, and the same certificate.
    bool secureData(Stream& data);

    using Sink = std::function<bool(char* data, std::size_t size)>; // false: local failure
    // One block to upload; size 0 ends the data. sent runs once the block is on its way.
    struct Chunk {
        const char* data = nullptr;
        std::size_t size = 0;
        std::function<void()> sent;
    };
    using Source = std::function<bool(Chunk& chunk)>; // false: local failure

    // Stops a transfer the user cancelled: ABOR after the telnet IP and Synch (plain
    // connections), the data connection closed, and the server's answers awaited a short
    // while. The connection stays usable unless the server said nothing; false always.
    bool abortTransfer(Stream& data, bool haveFinal);

    // Reads the final reply of a transfer after its data connection ended.
    bool finishTransfer(bool haveFinal, Reply& final, bool dataOk);

    // Handles replies that arrive on the control connection during a transfer. False when
    // the transfer must stop (a failure reply, or the connection broke).
    bool watchControl(bool& haveFinal, Reply& final);

    // Takes the first answer to a transfer command. False when the transfer cannot go on.
    bool awaitAnswer(bool& haveFinal, Reply& final);

    // Moves the data of a transfer command over its data connection.
    using Mover = std::function<bool(Stream& data, bool& haveFinal, Reply& final)>;
    // Which way a transfer's data goes.
    enum class DataFlow { Incoming, Outgoing };

    // Sends a transfer command over a fresh data connection and moves its data with move.
    bool transfer(const std::string& line, const Mover& move, DataFlow flow);
    // The same for data that comes in, into sink.
    bool transfer(const std::string& line, const Sink& sink);

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
    int waitData(Stream& data, short event, StallWatch& watch, bool& haveFinal, Reply& final);

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

    // Reads the data connection into sink until the server closes it.
    bool receiveData(Stream& data, const Sink& sink, bool& haveFinal, Reply& final);

    // Sends what source gives until it gives an empty chunk.
    bool sendData(Stream& data, const Source& source, bool& haveFinal, Reply& final);

    // After a TLS upload the peer's end is awaited: bytes left unread (session tickets) would
    // make the close a reset, which can cut the data short at the server.
    bool awaitPeerEnd(Stream& data, bool& haveFinal, Reply& final);

    // --- zero-copy downloads (Splice.cpp) ---

    // Moves a binary download straight from the socket into a regular file through a pipe,
    // without copying it through this process. False with fellBack unset on a failure;
    // fellBack set (nothing moved yet) when the system cannot splice these descriptors.
    bool receiveSpliced(Stream& data, int fd, const std::function<void(std::size_t)>& moved,
                        bool& haveFinal, Reply& final, bool& fellBack);

    // --- listings (ClientListing.cpp) ---

    // Runs a listing command; its body is parsed as it arrives, so that only the entries
    // (and at most one line) are ever held.
    bool listing(const std::string& line, bool mlsd, std::vector<DirEntry>& entries);

    // LIST with "-a" (hidden files too) until the server shows that it takes "-a" for a name:
    // it refuses "LIST -a ..." with a permanent error where the plain LIST works, or it lists
    // one entry named "-a" where the plain LIST lists something else. Any other failure fails
    // this listing only and keeps "-a", so no later listing loses the hidden files.
    bool listUnix(const std::string& arg, std::vector<DirEntry>& entries);

    // Lists a folder ("" is the current one) into records with decoded names and local times.
    // The folder is made current and listed without a path (some servers take a path for a
    // pattern, or put it before every name), and the session stays there; stay keeps the
    // session where it is and names any other folder in the listing command. Where the session
    // is in the folder, a 450/550 to the listing that is no refusal is an empty folder.
    // linksShown: LIST even where MLSD is offered.
    bool listFolder(const std::string& folder, std::vector<DirEntry>& out, ListingNotes& notes,
                    bool linksShown = false, bool stay = false);

    // --- the current folder (ClientListing.cpp) ---

    // The session's current folder as far as this client knows it: an absolute path without a
    // final "/", none when unknown (not yet asked, or moved to where no path tells).
    std::optional<std::string> here;

    // CWD; here follows it.
    bool changeFolder(const std::string& path);
    // PWD; here follows the answer.
    std::optional<std::string> askFolder();
    // The session after a raw command: a command that may move it makes here unknown.
    void rawCommandSent(const std::string& line);
    // Before RMD: a session inside the folder leaves it for its parent (some servers refuse
    // to remove the current folder).
    void leaveFolder(const std::string& path);
};

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
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
    bool entered() const { return entered_; }

private:
    bool& busy_;
    bool entered_;
};

// The start of an operation: not nested, and the connection usable; false otherwise.
#define OXLIP_ENTER()                                                                              \
    BusyGuard guard(d->busy);                                                                      \
    if (!guard.entered() || !d->usable()) {                                                        \
        return false;                                                                              \
    }

} // namespace oxlip::ftp
