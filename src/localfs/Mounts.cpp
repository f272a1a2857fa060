// Mount points as the drives of the local pane: the ones a user would pick, read from the
// system's mounts table.

#include "localfs/LocalFs.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>

namespace oxlip {

namespace {

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

// True when the path is the folder or lies below it.
bool IsAtOrBelow(std::string_view path, std::string_view folder) {
    if (folder.size() > 1 && folder.back() == '/') {
        folder.remove_suffix(1);
    }
    return !folder.empty() && path.substr(0, folder.size()) == folder &&
           (path.size() == folder.size() || path[folder.size()] == '/' || folder == "/");
}

// The kernel's own file systems: views of processes, devices, control groups, debugging and
// the like, never a place for a user's files.
bool IsKernelFileSystem(std::string_view type) {
    static constexpr std::string_view kKernel[] = {
        "proc",     "sysfs",       "cgroup",     "cgroup2",     "devpts",
        "devtmpfs", "securityfs",  "debugfs",    "tracefs",     "mqueue",
        "bpf",      "pstore",      "configfs",   "fusectl",     "hugetlbfs",
        "autofs",   "binfmt_misc", "efivarfs",   "selinuxfs",   "rpc_pipefs",
        "nsfs",     "nfsd",        "fuse.lxcfs", "fuse.portal", "fuse.gvfsd-fuse"};
    return std::find(std::begin(kKernel), std::end(kKernel), type) != std::end(kKernel);
}

// File systems that are only a user's when they are mounted where a user mounts things: tmpfs
// and ramfs serve the system's run-time folders, squashfs the packaged applications and overlay
// the containers' internals.
bool IsUserOnlyWhereMounted(std::string_view type) {
    return type == "tmpfs" || type == "ramfs" || type == "squashfs" || type == "overlay";
}

// Folders of the system itself, whatever is mounted there (the run-time and device folders,
// packaged applications, containers' storage, single files bound into a container's /etc).
bool IsSystemPlace(std::string_view point) {
    static constexpr std::string_view kSystem[] = {"/proc",
                                                   "/sys",
                                                   "/dev",
                                                   "/run",
                                                   "/snap",
                                                   "/etc",
                                                   "/tmp",
                                                   "/var/lib/snapd",
                                                   "/var/lib/docker",
                                                   "/var/lib/containers",
                                                   "/var/snap"};
    if (IsAtOrBelow(point, "/run/media")) {
        return false; // removable media of the desktop
    }
    return std::any_of(std::begin(kSystem), std::end(kSystem),
                       [&](std::string_view place) { return IsAtOrBelow(point, place); });
}

// Where a user mounts things of their own.
bool IsUserPlace(std::string_view point, std::string_view home) {
    static constexpr std::string_view kUser[] = {"/media", "/run/media", "/mnt", "/home"};
    return (!home.empty() && home != "/" && IsAtOrBelow(point, home)) ||
           std::any_of(std::begin(kUser), std::end(kUser),
                       [&](std::string_view place) { return IsAtOrBelow(point, place); });
}

bool IsUserMount(const std::string& point, const std::string& type, const std::string& home) {
    if (point == "/") {
        return true;
    }
    if (IsKernelFileSystem(type) || IsSystemPlace(point)) {
        return false;
    }
    return !IsUserOnlyWhereMounted(type) || IsUserPlace(point, home);
}

} // namespace

std::vector<std::string> PickUserMountPoints(const std::string& mountsText,
                                             const std::string& home) {
    // The last line for a mount point is the mount that is seen there.
    std::map<std::string, std::string> typeAt;
    std::istringstream lines(mountsText);
    std::string line;
    while (std::getline(lines, line)) {
        // device mount-point type options dump pass
        std::istringstream fields(line);
        std::string device;
        std::string point;
        std::string type;
        if (fields >> device >> point >> type) {
            point = UnescapeMountField(point);
            if (!point.empty() && point.front() == '/') {
                typeAt[point] = type;
            }
        }
    }
    std::vector<std::string> mounts{"/"};
    for (const auto& [point, type] : typeAt) {
        if (point != "/" && IsUserMount(point, type, home)) {
            mounts.push_back(point);
        }
    }
    return mounts; // the map gave them sorted, "/" first
}

std::vector<std::string> ListMountPoints() {
    std::ifstream in("/proc/self/mounts", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const char* home = std::getenv("HOME");
    return PickUserMountPoints(text.str(), home ? home : "");
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

} // namespace oxlip
