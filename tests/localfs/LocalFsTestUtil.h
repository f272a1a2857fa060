#pragma once
// Small file-system helpers for the local file layer's tests.

#include <chrono>
#include <csignal>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace oxlip::test {

// The user the permission tests run as when the suite runs as root.
constexpr uid_t kNobody = 65534;

inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

inline void MakeFolder(const std::string& path, mode_t mode = 0755) {
    ::mkdir(path.c_str(), mode);
    ::chmod(path.c_str(), mode);
}

inline bool RunningAsRoot() {
    return ::geteuid() == 0;
}

// Runs `fn` where permission bits count: in a child process switched to an unprivileged user
// when the tests run as root (root reads and deletes past them), in this process otherwise.
// Returns what `fn` returned, or -1 when the child could not switch or did not finish in 10 s.
inline int RunUnprivileged(const std::function<int()>& fn) {
    if (!RunningAsRoot()) {
        return fn();
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0) {
            ::_exit(255);
        }
        ::_exit(fn() & 0x7f);
    }
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

} // namespace oxlip::test
