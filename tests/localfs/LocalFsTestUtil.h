#pragma once
// Small file-system helpers for the local file layer's tests.

#include "support/TempDir.h"

#include <grp.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlip::test {

inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Runs `fn` where permission bits count: in a child process switched to an unprivileged user
// (nobody) when the tests run as root (root reads and deletes past them), in this process
// otherwise. Returns what `fn` returned, or -1 as RunInChild does.
inline int RunUnprivileged(const std::function<int()>& fn) {
    if (::geteuid() != 0) {
        return fn();
    }
    return RunInChild(
        [] {
            return ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                   ::setresuid(65534, 65534, 65534) == 0;
        },
        fn);
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
                    !WriteFileBytes("/proc/self/setgroups", "deny") ||
                    !WriteFileBytes("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                    !WriteFileBytes("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
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
