#include "ftp/engine/Stream.h"

#include "ftp/engine/Tls.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace oxlip::ftp {

namespace {

using Clock = std::chrono::steady_clock;

// While data flows the pump still runs this often.
constexpr auto kBusyPumpInterval = std::chrono::milliseconds(10);

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : int(std::min<long long>(left.count(), 1 << 30));
}

bool SetNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

void Pumper::afterPoll(bool idle) {
    auto now = Clock::now();
    if (!idle && now - last_ < kBusyPumpInterval) {
        return;
    }
    last_ = now;
    if (pump_) {
        pump_->pump();
    }
}

std::string SocketAddress::text() const {
    char buf[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET) {
        auto* a = reinterpret_cast<const sockaddr_in*>(&storage);
        ::inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
    } else if (family() == AF_INET6) {
        auto* a = reinterpret_cast<const sockaddr_in6*>(&storage);
        ::inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf);
    }
    return buf;
}

uint16_t SocketAddress::port() const {
    if (family() == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
    if (family() == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    }
    return 0;
}

bool SocketAddress::sameHost(const SocketAddress& other) const {
    if (family() != other.family()) {
        return false;
    }
    if (family() == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
    }
    return family() == AF_INET6 &&
           std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr,
                       &reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr,
                       sizeof(in6_addr)) == 0;
}

void SocketAddress::setPort(uint16_t port) {
    if (family() == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
    } else if (family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
    }
}

namespace {

struct Resolution {
    std::mutex mutex;
    bool done = false;
    int status = 0;
    std::vector<SocketAddress> addresses;
};

int Resolve(const std::string& host, uint16_t port, int flags, std::vector<SocketAddress>& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (status != 0) {
        return status;
    }
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        SocketAddress a;
        std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
        a.length = ai->ai_addrlen;
        out.push_back(a);
    }
    ::freeaddrinfo(list);
    return out.empty() ? EAI_NONAME : 0;
}

} // namespace

bool ResolveHost(const std::string& host, uint16_t port, int timeoutMs, Pumper& pumper,
                 std::vector<SocketAddress>& out, std::string& error) {
    out.clear();
    if (host.empty()) {
        error = "empty host name";
        return false;
    }
    // Numeric addresses need no lookup.
    if (Resolve(host, port, AI_NUMERICHOST, out) == 0) {
        return true;
    }
    out.clear();
    // A name lookup may block for long: it runs on its own thread, which is left to finish on
    // its own when the time-out comes first.
    auto state = std::make_shared<Resolution>();
    std::thread([state, host, port] {
        std::vector<SocketAddress> found;
        int status = Resolve(host, port, AI_ADDRCONFIG, found);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->status = status;
        state->addresses = std::move(found);
        state->done = true;
    }).detach();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->done) {
                if (state->status != 0) {
                    error = ::gai_strerror(state->status);
                    return false;
                }
                out = state->addresses;
                return true;
            }
        }
        int left = RemainingMs(deadline);
        if (left <= 0) {
            error = "name lookup timed out";
            return false;
        }
        ::poll(nullptr, 0, std::min(left, kPumpIntervalMs));
        pumper.afterPoll(true);
        if (pumper.aborted()) {
            error = "stopped";
            return false;
        }
    }
}

Stream::Stream(Pumper& pumper) : pumper_(pumper) {}

Stream::~Stream() {
    close();
}

// --- TLS hooks -----------------------------------------------------------------------------

void Stream::attachTls(std::unique_ptr<TlsLayer> tls) {
    tls_ = std::move(tls);
}

bool Stream::hasBuffered() const {
    return tls_ && tls_->hasBuffered();
}

short Stream::pollEvents(short events) const {
    return tls_ ? short(events | tls_->wants()) : events;
}

// --- end TLS hooks -------------------------------------------------------------------------

void Stream::close() {
    if (tls_) {
        tls_->closeNotify();
        tls_.reset();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void Stream::shutdownWrite() {
    if (tls_) {
        tls_->closeNotify();
    }
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_WR);
    }
}

std::vector<SocketAddress> InterleaveFamilies(const std::vector<SocketAddress>& addresses) {
    std::vector<SocketAddress> first, other;
    for (const SocketAddress& a : addresses) {
        (a.family() == addresses.front().family() ? first : other).push_back(a);
    }
    std::vector<SocketAddress> out;
    for (std::size_t i = 0; i < first.size() || i < other.size(); ++i) {
        if (i < first.size()) {
            out.push_back(first[i]);
        }
        if (i < other.size()) {
            out.push_back(other[i]);
        }
    }
    return out;
}

int NextAttemptInMs(std::size_t started, std::size_t total, bool failedSince, int sinceLastMs,
                    int staggerMs) {
    if (started >= total) {
        return -1;
    }
    if (started == 0 || failedSince) {
        return 0;
    }
    return std::max(staggerMs - sinceLastMs, 0);
}

namespace {

// Starts a non-blocking connect: the socket (poll() reports it writable once the attempt has
// ended), or -1 when it failed at once.
int StartConnect(const SocketAddress& address) {
    int fd = ::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Socket buffers are left to the kernel: fixing their size turns off its tuning, which
    // grows them further than a fixed size would on a fast link.
    if (SetNonBlocking(fd) &&
        (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0 ||
         errno == EINPROGRESS)) {
        return fd;
    }
    ::close(fd);
    return -1;
}

int MsBetween(Clock::time_point from, Clock::time_point to) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
    return int(std::clamp<long long>(ms, 0, 1 << 30));
}

} // namespace

IoResult Stream::connect(const SocketAddress& address, int timeoutMs) {
    return connectAny({address}, timeoutMs);
}

IoResult Stream::connectAny(const std::vector<SocketAddress>& addresses, int timeoutMs,
                            int staggerMs) {
    close();
    if (addresses.empty()) {
        return IoResult::Failed;
    }
    const std::vector<SocketAddress> order = InterleaveFamilies(addresses);
    struct Attempt {
        std::size_t index;
        Clock::time_point deadline;
    };
    std::vector<pollfd> fds; // fds[i] belongs to attempts[i]
    std::vector<Attempt> attempts;
    std::size_t started = 0;
    Clock::time_point lastStart;
    bool failedSince = false; // an attempt has failed since the last one started
    bool timedOut = false, broken = false;
    int winner = -1; // the attempt that connected
    while (winner < 0 && !broken) {
        auto now = Clock::now();
        int due = NextAttemptInMs(started, order.size(), failedSince, MsBetween(lastStart, now),
                                  staggerMs);
        for (; due == 0; due = NextAttemptInMs(started, order.size(), failedSince, 0, staggerMs)) {
            int fd = StartConnect(order[started]);
            failedSince = fd < 0;
            if (fd >= 0) {
                fds.push_back(pollfd{fd, POLLOUT, 0});
                attempts.push_back(Attempt{started, now + std::chrono::milliseconds(timeoutMs)});
            }
            ++started;
            lastStart = now;
        }
        if (fds.empty()) {
            break; // every address failed
        }
        int slice = due > 0 ? std::min(due, kPumpIntervalMs) : kPumpIntervalMs;
        for (const Attempt& a : attempts) {
            slice = std::min(slice, RemainingMs(a.deadline));
        }
        int n = ::poll(fds.data(), nfds_t(fds.size()), slice);
        const bool pollFailed = n < 0 && errno != EINTR;
        pumper_.afterPoll(n <= 0);
        broken = pollFailed || pumper_.aborted();
        now = Clock::now();
        for (std::size_t i = fds.size(); i-- > 0 && winner < 0 && !broken;) {
            int err = 0;
            socklen_t len = sizeof err;
            bool ended = fds[i].revents != 0;
            if (ended && ::getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
                err == 0) {
                winner = int(i);
            } else if (ended || now >= attempts[i].deadline) {
                timedOut = timedOut || !ended;
                failedSince = true;
                ::close(fds[i].fd);
                fds.erase(fds.begin() + long(i));
                attempts.erase(attempts.begin() + long(i));
            }
        }
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (int(i) == winner) {
            fd_ = fds[i].fd;
            peer_ = order[attempts[i].index];
        } else {
            ::close(fds[i].fd);
        }
    }
    if (fd_ >= 0) {
        return IoResult::Ok;
    }
    return timedOut && !broken ? IoResult::TimedOut : IoResult::Failed;
}

bool Stream::setKeepAlive() {
    const int values[][3] = {{SOL_SOCKET, SO_KEEPALIVE, 1},
                             {IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleS},
                             {IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS},
                             {IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveCount}};
    bool ok = fd_ >= 0;
    for (const auto& v : values) {
        ok = ok && ::setsockopt(fd_, v[0], v[1], &v[2], sizeof v[2]) == 0;
    }
    return ok;
}

SocketAddress Stream::local() const {
    SocketAddress a;
    a.length = sizeof a.storage;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a.storage), &a.length) != 0) {
        return SocketAddress{};
    }
    return a;
}

IoResult Stream::listen(const SocketAddress& address) {
    close();
    fd_ = ::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0 ||
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0 ||
        ::listen(fd_, 1) != 0) {
        close();
        return IoResult::Failed;
    }
    return IoResult::Ok;
}

IoResult Stream::accept(Stream& listener, const SocketAddress& from, int timeoutMs) {
    close();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        SocketAddress peer;
        peer.length = sizeof peer.storage;
        int fd = ::accept4(listener.fd(), reinterpret_cast<sockaddr*>(&peer.storage), &peer.length,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0 && peer.sameHost(from)) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fd_ = fd;
            peer_ = peer;
            return IoResult::Ok;
        }
        if (fd >= 0) {
            ::close(fd); // a stranger
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                   errno != ECONNABORTED) {
            return IoResult::Failed;
        }
        if (RemainingMs(deadline) <= 0) {
            return IoResult::TimedOut;
        }
        Stream* wait = &listener;
        short events = POLLIN;
        int ready = WaitStreams(&wait, &events, 1, RemainingMs(deadline), pumper_);
        if (ready <= 0) {
            return ready == 0 ? IoResult::TimedOut : IoResult::Failed;
        }
    }
}

IoResult Stream::sendUrgent(const char* data, std::size_t size) {
    if (fd_ < 0) {
        return IoResult::Failed;
    }
    long n = ::send(fd_, data, size, MSG_OOB | MSG_NOSIGNAL);
    return n == long(size) ? IoResult::Ok : IoResult::Failed;
}

long Stream::recvSome(char* buffer, std::size_t size) {
    if (tls_) {
        return tls_->recv(buffer, size);
    }
    return ::recv(fd_, buffer, size, 0);
}

long Stream::sendSome(const char* data, std::size_t size) {
    if (tls_) {
        return tls_->send(data, size);
    }
    return ::send(fd_, data, size, MSG_NOSIGNAL);
}

IoResult Stream::readNow(char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (fd_ < 0) {
        return IoResult::Failed;
    }
    while (got < size) {
        long n = recvSome(buffer + got, size - got);
        if (n > 0) {
            got += std::size_t(n);
            continue;
        }
        if (n == 0) {
            return got > 0 ? IoResult::Ok : IoResult::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return IoResult::Ok;
        }
        return got > 0 ? IoResult::Ok : IoResult::Failed;
    }
    return IoResult::Ok;
}

IoResult Stream::writeNow(const char* data, std::size_t size, std::size_t& sent) {
    sent = 0;
    if (fd_ < 0) {
        return IoResult::Failed;
    }
    while (sent < size) {
        long n = sendSome(data + sent, size - sent);
        if (n >= 0) {
            sent += std::size_t(n);
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return IoResult::Ok;
        }
        return IoResult::Failed;
    }
    return IoResult::Ok;
}

IoResult Stream::spliceNow(int pipeFd, std::size_t max, std::size_t& got) {
    got = 0;
    if (fd_ < 0 || tls_) {
        errno = tls_ ? EINVAL : EBADF; // encrypted data takes the read path
        return IoResult::Failed;
    }
    for (;;) {
        ssize_t n = ::splice(fd_, nullptr, pipeFd, nullptr, max, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
            got = std::size_t(n);
            return IoResult::Ok;
        }
        if (n == 0) {
            return IoResult::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? IoResult::Ok : IoResult::Failed;
    }
}

IoResult Stream::read(char* buffer, std::size_t size, std::size_t& got, int timeoutMs) {
    got = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        IoResult r = readNow(buffer, size, got);
        if (r != IoResult::Ok || got > 0) {
            return r;
        }
        Stream* self = this;
        short events = POLLIN;
        int ready = WaitStreams(&self, &events, 1, RemainingMs(deadline), pumper_);
        if (ready < 0) {
            return IoResult::Failed;
        }
        if (ready == 0) {
            return IoResult::TimedOut;
        }
    }
}

IoResult Stream::writeAll(const char* data, std::size_t size, int timeoutMs) {
    std::size_t done = 0;
    while (done < size) {
        std::size_t sent = 0;
        IoResult r = writeNow(data + done, size - done, sent);
        if (r != IoResult::Ok) {
            return r;
        }
        done += sent;
        if (done == size) {
            break;
        }
        if (sent > 0) {
            continue; // progress: the stall time-out starts again
        }
        Stream* self = this;
        short events = POLLOUT;
        int ready = WaitStreams(&self, &events, 1, timeoutMs, pumper_);
        if (ready < 0) {
            return IoResult::Failed;
        }
        if (ready == 0) {
            return IoResult::TimedOut;
        }
    }
    return IoResult::Ok;
}

int WaitStreams(Stream* const* streams, const short* events, int count, int timeoutMs,
                Pumper& pumper) {
    pollfd fds[kMaxWaitStreams];
    count = std::clamp(count, 0, kMaxWaitStreams);
    int buffered = 0;
    for (int i = 0; i < count; ++i) {
        fds[i] = pollfd{streams[i]->fd(), streams[i]->pollEvents(events[i]), 0};
        if ((events[i] & POLLIN) && streams[i]->hasBuffered()) {
            buffered |= 1 << i;
        }
    }
    if (buffered) {
        pumper.afterPoll(false);
        return pumper.aborted() ? -1 : buffered;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int slice = std::min(RemainingMs(deadline), kPumpIntervalMs);
        int n = ::poll(fds, nfds_t(count), slice);
        if (n < 0 && errno != EINTR) {
            return -1;
        }
        pumper.afterPoll(n <= 0);
        if (pumper.aborted()) {
            return -1;
        }
        if (n > 0) {
            int mask = 0;
            for (int i = 0; i < count; ++i) {
                if (fds[i].revents != 0) {
                    mask |= 1 << i;
                }
            }
            return mask;
        }
        if (RemainingMs(deadline) <= 0) {
            return 0;
        }
    }
}

} // namespace oxlip::ftp
