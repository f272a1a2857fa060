#pragma once
// The local file layer: listings, single-entry lookup, folder tests, probe, mount points
// and the tree delete. Paths use "/".

#include "localfs/DirEntry.h"

#include <string>
#include <vector>

namespace oxlip {

// Lists the entries matching the pattern (a folder path followed by a wildcard name such as
// "*.*", which matches every name, dot or not). "." and ".." are listed as the file system
// gives them. Times are UTC. Returns the count; the list then holds exactly that many.
// A missing or unreadable folder gives 0 and an empty list.
int ListLocalFolder(std::vector<DirEntry>& list, const std::string& pattern);

// Fills the record for one path (a wildcard pattern gives its first match). Returns 1 when
// found, 0 otherwise with the record left as it was. The time is UTC. Does not follow a
// final symbolic link for the attributes' link bit, but reports the target's size and kind.
int GetLocalEntry(const std::string& path, DirEntry& record);

// True when the path names an existing folder (following links).
bool PathIsDirectory(const std::string& path);

// The probe of a path before the local pane moves there: false when the path is empty, not
// absolute, or its top-level folder cannot be read; a path that merely does not exist passes.
bool ProbeLocalPath(const std::string& path);

// Mount points of the system (stand-ins for drives), sorted, "/" first.
std::vector<std::string> ListMountPoints();

// The mount points named in the text of a mounts table (the /proc/self/mounts format, with
// blanks and the like written as "\040"), unescaped, sorted, without repeats; "/" is always
// among them and comes first.
std::vector<std::string> ParseMountPoints(const std::string& mountsText);

// The longest mount point that prefixes the path ("/" when nothing longer does).
std::string MountPointOfPath(const std::string& path, const std::vector<std::string>& mounts);

// Deletes a folder and everything below it, depth-first. Never follows a symbolic link: a
// link inside the tree is removed as a link, and a path that is itself a link to a folder
// removes just that link. False only when the path is not an existing folder (or is "/"),
// a subfolder's delete returned false, or the tree is more than 64 folders deep; true
// otherwise, even if something stayed.
bool DeleteLocalFolder(const std::string& path);

// Plain local file operations used by the commands. True on success. A rename never
// replaces an entry that already exists under the new name.
bool DeleteLocalFile(const std::string& path);
bool RenameLocalPath(const std::string& from, const std::string& to);
bool CreateLocalFolder(const std::string& path);
bool RemoveLocalFolder(const std::string& path);

// The process's current folder, ending in "/"; "/" when it cannot be found out.
std::string CurrentLocalFolder();

} // namespace oxlip
