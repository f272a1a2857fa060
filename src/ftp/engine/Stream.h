#pragma once
// A TCP connection with non-blocking sockets, used for control and data connections alike.
// Every wait is a poll() of at most kPumpIntervalMs followed by the event pump, until the
// time-out. Reading and writing go through recvSome()/sendSome(), so that an encrypting
// layer can later sit under the same interface; spliceNow() moves plain data in the kernel and
// is for unencrypted connections only.

#include "ftp/engine/EventPump.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace oxlip::ftp {

// The longest slice of a wait before the event pump is called.
constexpr int kPumpIntervalMs = 50;

// Calls the event pump while the engine waits: after every idle poll() slice, and at least
// every few milliseconds while data flows.
class Pumper {
public:
    explicit Pumper(EventPump* pump = nullptr) : pump_(pump) {}
    void setPump(EventPump* pump) { pump_ = pump; }
    // After a poll(): idle tells whether it returned without events.
    void afterPoll(bool idle);
    // Set while the running operation is to stop at its next wait (the connection was
    // closed from inside the event pump).
    void setAbort(bool abort) { abort_ = abort; }
    // The user's cancel request (raised from the event pump or a signal handler); waits end
    // on it only while honoured (a data connection is moving data).
    void setCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }
    void honourCancel(bool honour) { honour_ = honour; }
    bool cancelRequested() const { return cancel_ && cancel_->load(); }
    bool aborted() const { return abort_ || (honour_ && cancelRequested()); }

private:
    EventPump* pump_;
    bool abort_ = false;
    bool honour_ = false;
    const std::atomic<bool>* cancel_ = nullptr;
    std::chrono::steady_clock::time_point last_{};
};

// A resolved socket address.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
    std::string text() const; // "127.0.0.1" or "::1"
    uint16_t port() const;
    void setPort(uint16_t port);
    // The same family and host address; ports are not compared.
    bool sameHost(const SocketAddress& other) const;
};

// Resolves a host name (getaddrinfo, run aside so that the wait pumps and has a time-out).
// False with a reason when nothing was found in time.
bool ResolveHost(const std::string& host, uint16_t port, int timeoutMs, Pumper& pumper,
                 std::vector<SocketAddress>& out, std::string& error);

enum class IoResult { Ok, Closed, TimedOut, Failed };

// Connecting to a host of several addresses (happy eyeballs, RFC 8305): the next address is
// tried when the one before has not answered within kConnectStaggerMs, or at once when an
// attempt has failed; the first connection made wins.
constexpr int kConnectStaggerMs = 250;

// The order in which to try the addresses: the resolver's first keeps its place, then the
// address families take turns (each in the resolver's order).
std::vector<SocketAddress> InterleaveFamilies(const std::vector<SocketAddress>& addresses);

// When the next of total attempts starts: ms from now, 0 at once, -1 when none is left.
// started attempts have begun, the last one sinceLastMs ago; failedSince tells whether an
// attempt has failed since then.
int NextAttemptInMs(std::size_t started, std::size_t total, bool failedSince, int sinceLastMs,
                    int staggerMs = kConnectStaggerMs);

// TCP keep-alive on an idle connection, so that routers keep it (and a dead peer is found):
// the first probe after this much silence, then every interval, given up after count probes.
constexpr int kKeepAliveIdleS = 30;
constexpr int kKeepAliveIntervalS = 10;
constexpr int kKeepAliveCount = 6;
class TlsLayer; // Tls.h

class Stream {
public:
    explicit Stream(Pumper& pumper);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Connects within the time-out.
    IoResult connect(const SocketAddress& address, int timeoutMs);
    // Connects to the first address that answers, in the order of InterleaveFamilies(), the
    // attempts staggered as NextAttemptInMs() says, each with its own time-out; the other
    // attempts are closed. TimedOut when some attempt ran out of time, Failed when all were
    // refused (or unreachable) or the pumper was told to abort.
    IoResult connectAny(const std::vector<SocketAddress>& addresses, int timeoutMs,
                        int staggerMs = kConnectStaggerMs);
    // Turns on TCP keep-alive with the intervals above; false when the socket refused it.
    bool setKeepAlive();

    // Listens for one connection on the address (port 0: any free port); local() then tells
    // the port. For active data connections, on the control connection's local address.
    IoResult listen(const SocketAddress& address);
    // Takes the next connection from the listening stream into this one, waiting (pumped) up
    // to timeoutMs. Connections from another host than `from` are closed and waited past.
    IoResult accept(Stream& listener, const SocketAddress& from, int timeoutMs);
    // Sends the bytes at once as urgent data, the last byte marked (TCP urgent pointer): the
    // Synch of the telnet sequence that goes before an ABOR. Plain sockets only.
    IoResult sendUrgent(const char* data, std::size_t size);
    bool isOpen() const { return fd_ >= 0; }
    void close();
    // Sends FIN: the peer sees the end of the data.
    void shutdownWrite();

    // Waits up to timeoutMs for data, then reads what is there (up to size). Ok with got > 0,
    // Closed at the end of the stream.
    IoResult read(char* buffer, std::size_t size, std::size_t& got, int timeoutMs);
    // Writes everything; the time-out counts from the last progress.
    IoResult writeAll(const char* data, std::size_t size, int timeoutMs);

    // Reads without waiting: Ok with got >= 0 (0 means nothing there yet), Closed, Failed.
    IoResult readNow(char* buffer, std::size_t size, std::size_t& got);
    // Writes what the socket takes now: Ok with sent >= 0, Failed.
    IoResult writeNow(const char* data, std::size_t size, std::size_t& sent);

    // Moves what has arrived into a pipe without copying it here (splice): Ok with got >= 0,
    // Closed at the end of the stream, Failed (errno tells why). Only for a plain socket.
    IoResult spliceNow(int pipeFd, std::size_t max, std::size_t& got);

    int fd() const { return fd_; }
    const SocketAddress& peer() const { return peer_; }
    SocketAddress local() const; // this end's address (getsockname)
    Pumper& pumper() { return pumper_; }

    // --- TLS: once attached, recvSome()/sendSome() go through it (see Tls.h) ---
    void attachTls(std::unique_ptr<TlsLayer> tls);
    TlsLayer* tls() const { return tls_.get(); }
    // Data is ready inside the TLS layer though the socket may show nothing.
    bool hasBuffered() const;
    // The poll events to wait for when the caller wants events.
    short pollEvents(short events) const;
    // --- end TLS ---

private:
    long recvSome(char* buffer, std::size_t size);
    long sendSome(const char* data, std::size_t size);

    Pumper& pumper_;
    int fd_ = -1;
    SocketAddress peer_;
    std::unique_ptr<TlsLayer> tls_;
};

// Waits until one of the streams is readable (or writable, when asked), in slices of at most
// kPumpIntervalMs with the pump after each, up to timeoutMs. Returns a bit per stream that is
// ready (bit 0 for the first), 0 on time-out, -1 when poll() fails or the pumper was told to
// abort.
constexpr int kMaxWaitStreams = 4;
int WaitStreams(Stream* const* streams, const short* events, int count, int timeoutMs,
                Pumper& pumper);

} // namespace oxlip::ftp
