#pragma once
// The local file layer: listings, single-entry lookup, folder tests, probe, mount points
// and the tree delete. Paths use "/".

#include "localfs/DirEntry.h"

#include <functional>
#include <string>
#include <vector>

namespace oxlip {

// Lists the entries matching the pattern (a folder path followed by a wildcard name such as
// "*.*", which matches every name, dot or not). "." and ".." are listed as the file system
// gives them. Times are UTC. Returns the count; the list then holds exactly that many.
// A missing or unreadable folder gives 0 and an empty list.
int ListLocalFolder(std::vector<DirEntry>& list, const std::string& pattern);

// Fills the record for one path. The name is taken literally: "*" and "?" in it are plain
// characters. Returns 1 when found, 0 otherwise with the record left as it was. The time is
// UTC. Does not follow a final symbolic link for the attributes' link bit, but reports the
// target's size and kind.
int GetLocalEntry(const std::string& path, DirEntry& record);

// True when the path names an existing folder (following links).
bool PathIsDirectory(const std::string& path);

// The probe of a path before the local pane moves there: false when the path is empty, not
// absolute, or its top-level folder cannot be read; a path that merely does not exist passes.
bool ProbeLocalPath(const std::string& path);

// The probe above, bounded in time for a folder whose file system may hang (a network mount
// whose server is gone): the probe, then a look at the path itself (and, for a folder, its
// first entry) run on a helper thread while `pump` is called at least every 50 ms. False when
// the probe fails or the whole has not answered within `timeoutMs`.
bool ProbeLocalPathWithin(const std::string& path, int timeoutMs,
                          const std::function<void()>& pump);

// Runs `work` on a helper thread while `pump` is called at least every 50 ms, and returns its
// result; false when it has not finished within `timeoutMs`. The thread is then left to end
// on its own, so `work` must own everything it uses.
bool RunWithin(std::function<bool()> work, int timeoutMs, const std::function<void()>& pump);

// The mount points a user would pick as drives (see PickUserMountPoints), sorted, "/" first.
std::vector<std::string> ListMountPoints();

// The mount points a user would pick, from the text of a mounts table (the /proc/self/mounts
// format, with blanks and the like written as "\040"), unescaped, sorted, without repeats: the
// root always (first), and every mount but the kernel's own file systems (proc, sysfs, cgroup,
// devpts ...) and what is mounted in the system's folders (/proc, /sys, /dev, /run but
// /run/media, /etc, /tmp, /snap, containers' storage). tmpfs, ramfs, squashfs and overlay count
// only under /media, /run/media, /mnt, /home or `home`. Where several mounts share a point, the
// last one (the one seen there) decides.
std::vector<std::string> PickUserMountPoints(const std::string& mountsText,
                                             const std::string& home);

// The longest mount point that prefixes the path ("/" when nothing longer does).
std::string MountPointOfPath(const std::string& path, const std::vector<std::string>& mounts);

// Deletes a folder and everything below it, depth-first. Never follows a symbolic link: a
// link inside the tree is removed as a link, and a path that is itself a link to a folder
// removes just that link. The whole tree is checked before anything is deleted: a tree more
// than 64 folders deep, or one holding a mount point (another file system, or another mount of
// the same one), is refused as a whole and nothing is deleted; a folder that is itself a mount
// point is refused too. False when refused, when the path is not an existing folder (or is
// "/"), or when a subfolder's delete returned false; true otherwise, even if something stayed.
bool DeleteLocalFolder(const std::string& path);

// Plain local file operations used by the commands. True on success. A rename never
// replaces an entry that already exists under the new name.
bool DeleteLocalFile(const std::string& path);
bool RenameLocalPath(const std::string& from, const std::string& to);
bool CreateLocalFolder(const std::string& path);
bool RemoveLocalFolder(const std::string& path);

// The path that a write to `path` lands on: the path itself, or where it leads when it is a
// symbolic link (through chains of links, a relative target read from the link's folder), also
// when that does not exist yet. Empty when the links loop or cannot be read.
std::string ResolveLocalLinks(const std::string& path);

// The hidden name under which a file that will be called `name` is written first:
// "." + name + ".part-XXXXXX" (for mkstemp), with the name cut short on a UTF-8 character
// boundary so that the whole stays within `limit` bytes.
std::string HiddenTempName(const std::string& name, size_t limit);

// The process's current folder, ending in "/"; "/" when it cannot be found out.
std::string CurrentLocalFolder();

} // namespace oxlip
