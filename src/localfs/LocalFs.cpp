#include "localfs/LocalFs.h"

#include "localfs/TextHelpers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
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
    entry.cFileName = name;
    struct stat st {};
    if (::fstatat(dirFd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || dirType == DT_UNKNOWN) {
            return false;
        }
        // Listed but not examinable (a folder readable but not searchable): keep the kind
        // that the listing told.
        if (dirType == DT_DIR) {
            entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        } else if (dirType == DT_LNK) {
            entry.dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
        }
        out = std::move(entry);
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        entry.dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
        struct stat target {};
        if (::fstatat(dirFd, path.c_str(), &target, 0) == 0) {
            st = target; // size, kind and time of what the link leads to
        } else {
            st.st_size = 0; // a dangling link: its own time, no size
        }
    }
    if (S_ISDIR(st.st_mode)) {
        entry.dwFileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISREG(st.st_mode)) {
        entry.setFileSize(uint64_t(st.st_size));
    }
    entry.ftLastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, uint32_t(st.st_mtim.tv_nsec));
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

struct Child {
    std::string name;
    bool folder = false;
};

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
        Child child{de->d_name, false};
        struct stat st {};
        if (::fstatat(fd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            child.folder = S_ISDIR(st.st_mode);
        } else {
            child.folder = de->d_type == DT_DIR;
        }
        children.push_back(std::move(child));
    }
    ::closedir(dir);
    return children;
}

// Deletes the folder `name` (relative to `parentFd`) with everything in it, depth-first.
// The folder is opened without following a link, and everything below is reached through
// descriptors, so a link anywhere in the tree is only ever removed as a link.
bool DeleteTree(int parentFd, const std::string& name, int depth) {
    if (depth > kMaxDeleteDepth) {
        return false;
    }
    const int fd =
        ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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
    const std::vector<Child> children = ReadChildren(fd);
    // The files first, all of them; what refuses to go stays.
    for (const Child& child : children) {
        if (!child.folder) {
            ::unlinkat(fd, child.name.c_str(), 0);
        }
    }
    // Then each subfolder's tree, in listing order.
    for (const Child& child : children) {
        if (child.folder && !DeleteTree(fd, child.name, depth + 1)) {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR); // fails quietly when something stayed
    return true;
}

// "\040" and the like in /proc/self/mounts stand for blanks, tabs, newlines and "\".
std::string UnescapeMountField(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out +=
                char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
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
    std::vector<DirEntry> found;
    if (ListLocalFolder(found, path) == 0) {
        return 0;
    }
    record = std::move(found.front());
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

std::vector<std::string> ParseMountPoints(const std::string& mountsText) {
    std::vector<std::string> mounts{"/"};
    size_t start = 0;
    while (start < mountsText.size()) {
        auto end = mountsText.find('\n', start);
        if (end == std::string::npos) {
            end = mountsText.size();
        }
        // device mount-point type options dump pass
        const std::string line = mountsText.substr(start, end - start);
        start = end + 1;
        const auto first = line.find(' ');
        if (first == std::string::npos) {
            continue;
        }
        const auto second = line.find(' ', first + 1);
        const std::string field = line.substr(
            first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        std::string point = UnescapeMountField(field);
        if (!point.empty() && point.front() == '/') {
            mounts.push_back(std::move(point));
        }
    }
    std::sort(mounts.begin(), mounts.end());
    mounts.erase(std::unique(mounts.begin(), mounts.end()), mounts.end());
    return mounts;
}

std::vector<std::string> ListMountPoints() {
    std::ifstream in("/proc/self/mounts", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return ParseMountPoints(text.str());
}

std::string MountPointOfPath(const std::string& path, const std::vector<std::string>& mounts) {
    std::string best = "/";
    for (const std::string& mount : mounts) {
        if (mount.size() <= best.size() || path.compare(0, mount.size(), mount) != 0) {
            continue;
        }
        if (mount.back() == '/' || path.size() == mount.size() || path[mount.size()] == '/') {
            best = mount;
        }
    }
    return best;
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
    return DeleteTree(AT_FDCWD, target, 0);
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
