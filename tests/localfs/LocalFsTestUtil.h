#pragma once
// Small file-system helpers for the local file layer's tests.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <grp.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
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

// Runs `fn` in a child process after `prepare` (in the child) succeeded. Returns what `fn`
// returned, or -1 when `prepare` failed or the child did not finish in 10 s.
inline int RunInChild(const std::function<bool()>& prepare, const std::function<int()>& fn) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        ::_exit(prepare() ? fn() & 0x7f : 255);
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

// Runs `fn` where permission bits count: in a child process switched to an unprivileged user
// when the tests run as root (root reads and deletes past them), in this process otherwise.
// Returns what `fn` returned, or -1 when the child could not switch or did not finish in 10 s.
inline int RunUnprivileged(const std::function<int()>& fn) {
    if (!RunningAsRoot()) {
        return fn();
    }
    return RunInChild(
        [] {
            return ::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                   ::setresuid(kNobody, kNobody, kNobody) == 0;
        },
        fn);
}

inline bool WriteText(const char* path, const std::string& text) {
    FILE* f = std::fopen(path, "w");
    const bool ok = f && std::fputs(text.c_str(), f) >= 0;
    return f && std::fclose(f) == 0 && ok;
}

// Runs `fn` in a child process with a mount namespace of its own (and, when the tests do not
// run as root, a user namespace in which it is root), where it may mount file systems that
// nobody else sees and that vanish with it. Returns -1 when the system allows no such thing.
inline int RunWithOwnMounts(const std::function<int()>& fn) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    return RunInChild(
        [&] {
            if (uid != 0) {
                if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
                    !WriteText("/proc/self/setgroups", "deny") ||
                    !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                    !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
                    return false;
                }
            } else if (::unshare(CLONE_NEWNS) != 0) {
                return false;
            }
            return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        },
        fn);
}

} // namespace oxlip::test
