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

// What `fn` returns where permission bits count: as nobody in a child process when the tests
// run as root, in this process otherwise; -1 as RunInChild gives it.
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

// What `fn` returns in a child process with mounts of its own (and, when the tests do not run
// as root, a user namespace in which it is root); -1 when the system allows no such thing.
inline int RunWithOwnMounts(const std::function<int()>& fn) {
    const std::string uid = std::to_string(::geteuid());
    const std::string gid = std::to_string(::getegid());
    return RunInChild(
        [&] {
            const bool own = uid == "0"
                                 ? ::unshare(CLONE_NEWNS) == 0
                                 : ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                                       WriteFileBytes("/proc/self/setgroups", "deny") &&
                                       WriteFileBytes("/proc/self/uid_map", "0 " + uid + " 1") &&
                                       WriteFileBytes("/proc/self/gid_map", "0 " + gid + " 1");
            return own && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        },
        fn);
}

} // namespace oxlip::test
