#include "ftp/engine/ClientImpl.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlip::ftp {

namespace {

// Spliced downloads: at most this much per call, and the pipe's size.
constexpr std::size_t kPipeBytes = 1024 * 1024;
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

} // namespace

bool SplicesTo(int fd) {
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 &&
           (flags & O_APPEND) == 0 && (flags & O_ACCMODE) != O_RDONLY;
}

bool FtpClient::Impl::receiveSpliced(Stream& data, int fd,
                                     const std::function<void(std::size_t)>& moved, bool& haveFinal,
                                     Reply& final, bool& fellBack) {
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

} // namespace oxlip::ftp
