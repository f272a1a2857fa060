#include "ftp/engine/Stream.h"

#include "ftp/engine/FtpClient.h"
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

IoResult Stream::connect(const SocketAddress& address, int timeoutMs) {
    close();
    int fd = ::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return IoResult::Failed;
    }
    if (!SetNonBlocking(fd)) {
        ::close(fd);
        return IoResult::Failed;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Socket buffers are left to the kernel: fixing their size turns off its tuning, which
    // grows them further than a fixed size would on a fast link.
    fd_ = fd;
    peer_ = address;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0) {
        return IoResult::Ok;
    }
    if (errno != EINPROGRESS) {
        close();
        return IoResult::Failed;
    }
    Stream* self = this;
    short events = POLLOUT;
    int ready = WaitStreams(&self, &events, 1, timeoutMs, pumper_);
    if (ready <= 0) {
        close();
        return ready == 0 ? IoResult::TimedOut : IoResult::Failed;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        close();
        return IoResult::Failed;
    }
    return IoResult::Ok;
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
