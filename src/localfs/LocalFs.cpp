#include "localfs/LocalFs.h"

#include "localfs/TextHelpers.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace oxlip {

namespace {

// Deeper trees than this are refused by the tree delete: no real tree is that deep, and a
// bound keeps a pathological one from exhausting the stack or the file descriptors.
constexpr int kMaxDeleteDepth = 64;

bool HasWildcard(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Fills the record of the entry `name` relative to the folder descriptor `dirFd` (AT_FDCWD
// for a path). Returns false when the entry does not exist (or vanished).
bool ReadEntry(int dirFd, const std::string& path, const std::string& name, unsigned char dirType,
               DirEntry& out) {
    DirEntry entry;
    entry.name = name;
    struct stat st {};
    if (::fstatat(dirFd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || dirType == DT_UNKNOWN) {
            return false;
        }
        // Listed but not examinable (a folder readable but not searchable): keep the kind
        // that the listing told.
        if (dirType == DT_DIR) {
            entry.directory = true;
        } else if (dirType == DT_LNK) {
            entry.link = true;
        }
        out = std::move(entry);
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        entry.link = true;
        struct stat target {};
        if (::fstatat(dirFd, path.c_str(), &target, 0) == 0) {
            st = target; // size, kind and time of what the link leads to
        } else {
            st.st_size = 0; // a dangling link: its own time, no size
        }
    }
    if (S_ISDIR(st.st_mode)) {
        entry.directory = true;
    } else if (S_ISREG(st.st_mode)) {
        entry.size = uint64_t(st.st_size);
    }
    entry.modified = FileTimeFromUnix(st.st_mtim.tv_sec, uint32_t(st.st_mtim.tv_nsec));
    out = std::move(entry);
    return true;
}

// Splits a pattern into its folder ("./" when it has none) and its last component.
void SplitPattern(const std::string& pattern, std::string& folder, std::string& name) {
    const auto slash = pattern.rfind('/');
    if (slash == std::string::npos) {
        folder = "./";
        name = pattern;
    } else {
        folder = pattern.substr(0, slash + 1);
        name = pattern.substr(slash + 1);
    }
}

// The path without its final "/" (a root stays "/").
std::string WithoutTrailingSlash(const std::string& path) {
    if (path.size() > 1 && path.back() == '/') {
        return path.substr(0, path.size() - 1);
    }
    return path;
}

// Which mount of which file system an entry lies on: two folders with different keys are
// separated by a mount point (the mount id also tells apart two mounts of one file system).
struct MountKey {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint64_t mountId = 0;
    bool operator==(const MountKey&) const = default;
};

struct Child {
    std::string name;
    bool folder = false;
    MountKey mount;
};

// Kind and mount of the entry `name` in the folder `fd`, never following a link. False when
// it cannot be examined.
bool ExamineEntry(int fd, const char* name, bool& folder, MountKey& mount) {
    struct statx st {};
    if (::statx(fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID, &st) !=
        0) {
        return false;
    }
    folder = S_ISDIR(st.stx_mode);
    mount = MountKey{st.stx_dev_major, st.stx_dev_minor,
                     (st.stx_mask & STATX_MNT_ID) ? uint64_t(st.stx_mnt_id) : 0};
    return true;
}

// Reads every entry of an open folder except "." and "..", telling folders (never links
// to them) from everything else. Takes over `fd`'s duplicate only; `fd` stays open.
std::vector<Child> ReadChildren(int fd) {
    std::vector<Child> children;
    const int dupFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (dupFd < 0) {
        return children;
    }
    DIR* dir = ::fdopendir(dupFd);
    if (dir == nullptr) {
        ::close(dupFd);
        return children;
    }
    while (const dirent* de = ::readdir(dir)) {
        if (IsDotOrDotDot(de->d_name)) {
            continue;
        }
        Child child{de->d_name, false, {}};
        if (!ExamineEntry(fd, de->d_name, child.folder, child.mount)) {
            // Listed but not examinable (nor, then, deletable): the kind the listing told, on
            // the folder's own mount.
            ExamineEntry(fd, ".", child.folder, child.mount);
            child.folder = de->d_type == DT_DIR;
        }
        children.push_back(std::move(child));
    }
    ::closedir(dir);
    return children;
}

int OpenFolderNoFollow(int parentFd, const std::string& name) {
    return ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Walks the tree below the open folder `fd` (at `depth`, on `mount`) before anything is
// deleted: false when a folder lies deeper than the limit or on another mount.
bool TreeMayBeDeleted(int fd, const MountKey& mount, int depth) {
    for (const Child& child : ReadChildren(fd)) {
        if (!child.folder) {
            continue;
        }
        if (child.mount != mount || depth + 1 > kMaxDeleteDepth) {
            return false;
        }
        const int sub = OpenFolderNoFollow(fd, child.name);
        if (sub < 0) {
            continue; // not readable: the delete can only remove it when it is empty
        }
        const bool ok = TreeMayBeDeleted(sub, mount, depth + 1);
        ::close(sub);
        if (!ok) {
            return false;
        }
    }
    return true;
}

// Deletes the folder `name` (relative to `parentFd`) with everything in it, depth-first.
// The folder is opened without following a link, and everything below is reached through
// descriptors, so a link anywhere in the tree is only ever removed as a link. The depth and
// the mount are checked again, for a tree that changed since it was walked.
bool DeleteTree(int parentFd, const std::string& name, const MountKey& mount, int depth) {
    if (depth > kMaxDeleteDepth) {
        return false;
    }
    const int fd = OpenFolderNoFollow(parentFd, name);
    if (fd < 0) {
        struct stat st {};
        if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode)) {
            // A folder that may not be read: it can only go when it is already empty.
            ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
            return true;
        }
        return false; // vanished, or replaced by something that is not a folder
    }
    bool folder = false;
    MountKey own;
    if (!ExamineEntry(fd, ".", folder, own) || own != mount) {
        ::close(fd);
        return false;
    }
    const std::vector<Child> children = ReadChildren(fd);
    // The files first, all of them; what refuses to go stays.
    for (const Child& child : children) {
        if (!child.folder) {
            ::unlinkat(fd, child.name.c_str(), 0);
        }
    }
    // Then each subfolder's tree, in listing order.
    for (const Child& child : children) {
        if (child.folder && !DeleteTree(fd, child.name, mount, depth + 1)) {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR); // fails quietly when something stayed
    return true;
}

// Checks the whole tree of the folder `path` (no link) before the delete: its own mount is
// that of the folder around it, and nothing below is too deep or on another mount. The mount
// to delete on is handed back.
bool CheckTreeBeforeDelete(const std::string& path, MountKey& mount) {
    const int fd = OpenFolderNoFollow(AT_FDCWD, path);
    if (fd < 0) {
        return true; // not readable: the delete can only remove it when it is empty
    }
    bool folder = false;
    MountKey around;
    bool ok = ExamineEntry(fd, ".", folder, mount) && ExamineEntry(fd, "..", folder, around) &&
              mount == around && TreeMayBeDeleted(fd, mount, 0);
    ::close(fd);
    return ok;
}

} // namespace

int ListLocalFolder(std::vector<DirEntry>& list, const std::string& pattern) {
    list.clear();
    std::string folder;
    std::string name;
    SplitPattern(pattern, folder, name);
    if (name.empty()) {
        return 0;
    }
    if (!HasWildcard(name)) {
        DirEntry entry;
        if (ReadEntry(AT_FDCWD, pattern, name, DT_UNKNOWN, entry)) {
            list.push_back(std::move(entry));
        }
        return int(list.size());
    }
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    const int fd = ::dirfd(dir);
    while (const dirent* de = ::readdir(dir)) {
        if (list.size() >= size_t(INT_MAX)) {
            break;
        }
        const std::string entryName = de->d_name;
        if (!MatchesWildcard(entryName, name)) {
            continue;
        }
        DirEntry entry;
        if (ReadEntry(fd, entryName, entryName, de->d_type, entry)) {
            list.push_back(std::move(entry));
        }
    }
    ::closedir(dir);
    return int(list.size());
}

int GetLocalEntry(const std::string& path, DirEntry& record) {
    std::string folder;
    std::string name;
    SplitPattern(path, folder, name);
    DirEntry entry;
    if (name.empty() || !ReadEntry(AT_FDCWD, path, name, DT_UNKNOWN, entry)) {
        return 0;
    }
    record = std::move(entry);
    return 1;
}

bool PathIsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ProbeLocalPath(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
        return false;
    }
    // The top-level folder the path lives in; a top-level name that does not exist yet
    // lives in "/".
    const auto end = path.find('/', 1);
    const std::string first = path.substr(0, end);
    struct stat st {};
    const bool missing = ::lstat(first.c_str(), &st) != 0 && errno == ENOENT;
    const char* top = missing ? "/" : first.c_str();
    DIR* dir = ::opendir(top);
    if (dir == nullptr) {
        return false;
    }
    ::closedir(dir);
    return true;
}

bool RunWithin(std::function<bool()> work, int timeoutMs, const std::function<void()>& pump) {
    using Clock = std::chrono::steady_clock;
    constexpr Clock::duration kPumpInterval = std::chrono::milliseconds(50);
    auto task = std::make_shared<std::packaged_task<bool()>>(std::move(work));
    std::future<bool> done = task->get_future();
    try {
        std::thread([task] { (*task)(); }).detach();
    } catch (const std::system_error&) {
        return false; // no thread to be had
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Clock::duration left = std::max(deadline - Clock::now(), Clock::duration::zero());
        if (done.wait_for(std::min(kPumpInterval, left)) == std::future_status::ready) {
            return done.get();
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        if (pump) {
            pump();
        }
    }
}

bool ProbeLocalPathWithin(const std::string& path, int timeoutMs,
                          const std::function<void()>& pump) {
    return RunWithin(
        [path] {
            if (!ProbeLocalPath(path)) {
                return false;
            }
            // What the pane does next, the results left to it: what matters is an answer.
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                if (DIR* dir = ::opendir(path.c_str())) {
                    ::readdir(dir);
                    ::closedir(dir);
                }
            }
            return true;
        },
        timeoutMs, pump);
}

bool DeleteLocalFolder(const std::string& path) {
    const std::string target = WithoutTrailingSlash(path);
    if (target.empty() || target.find_first_not_of('/') == std::string::npos) {
        return false; // nothing, or the root of the file system
    }
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        // A link shown as a folder goes as a link; what it leads to stays.
        if (!PathIsDirectory(target)) {
            return false;
        }
        ::unlink(target.c_str());
        return true;
    }
    if (!S_ISDIR(st.st_mode)) {
        return false;
    }
    MountKey mount;
    return CheckTreeBeforeDelete(target, mount) && DeleteTree(AT_FDCWD, target, mount, 0);
}

bool DeleteLocalFile(const std::string& path) {
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

bool RenameLocalPath(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) {
        return false;
    }
    // Never over an existing entry: a rename must not silently destroy another file.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the no-replace rename: check, then rename.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) {
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CreateLocalFolder(const std::string& path) {
    return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

bool RemoveLocalFolder(const std::string& path) {
    return !path.empty() && ::rmdir(path.c_str()) == 0;
}

std::string ResolveLocalLinks(const std::string& path) {
    // As many links as the kernel itself follows in one path.
    constexpr int kMaxLinks = 40;
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current; // the end of the chain, existing or not
        }
        std::string target(size_t(PATH_MAX), '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || size_t(length) >= target.size()) {
            return {};
        }
        target.resize(size_t(length));
        if (target.front() != '/') {
            const auto slash = current.rfind('/');
            target = (slash == std::string::npos ? "" : current.substr(0, slash + 1)) + target;
        }
        current = std::move(target);
    }
    return {}; // a loop
}

std::string HiddenTempName(const std::string& name, size_t limit) {
    static const std::string kPrefix = ".";
    static const std::string kSuffix = ".part-XXXXXX";
    const size_t room =
        limit > kPrefix.size() + kSuffix.size() ? limit - kPrefix.size() - kSuffix.size() : 0;
    size_t keep = std::min(name.size(), room);
    // Never half a character: back off over UTF-8 continuation bytes (10xxxxxx).
    while (keep > 0 && keep < name.size() &&
           (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    return kPrefix + name.substr(0, keep) + kSuffix;
}

std::string CurrentLocalFolder() {
    std::string buf(4096, '\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (::getcwd(buf.data(), buf.size()) != nullptr) {
            buf.resize(std::char_traits<char>::length(buf.c_str()));
            if (buf.empty() || buf.back() != '/') {
                buf += '/';
            }
            return buf;
        }
        if (errno != ERANGE) {
            break;
        }
        buf.assign(buf.size() * 2, '\0');
    }
    return "/"; // the current folder is gone or unreachable: the root is always there
}

} // namespace oxlip
