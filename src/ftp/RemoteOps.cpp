#include "ftp/RemoteOps.h"

#include "ftp/RemoteDir.h"
#include "ftp/TreeWalk.h"
#include "localfs/TextHelpers.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace oxlip {

bool DeleteHostFile(FtpClient* hFtp, const std::string& path) {
    if (!hFtp) {
        return false;
    }
    const SessionPorts& ports = hFtp->ports();
    if (ports.progress) {
        ports.progress->setItemText(GetNamePart(path, '/') + " を削除中です...");
    }
    if (ports.pump) {
        ports.pump->pump();
    }
    return hFtp->deleteFile(path);
}

namespace {

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// Whether a rename to the path would replace an entry that is there.
bool HostPathTaken(FtpClient* hFtp, const std::string& oldPath, const std::string& newPath) {
    DirEntry found;
    if (!hFtp->entry(newPath, found)) {
        return false;
    }
    if (!SameIgnoringAsciiCase(oldPath, newPath)) {
        return true;
    }
    // Only the letter case changes: a server that ignores case finds the entry being renamed
    // itself, so the folder's listing decides whether the new name is really another entry.
    const std::size_t slash = newPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : newPath.substr(0, slash + 1);
    std::vector<DirEntry> entries;
    if (!hFtp->list(folder + "*.*", entries)) {
        return true; // in doubt, nothing is replaced
    }
    const std::string name = newPath.substr(folder.size());
    return std::any_of(entries.begin(), entries.end(),
                       [&](const DirEntry& entry) { return entry.cFileName == name; });
}

} // namespace

bool RenameHostFile(FtpClient* hFtp, const std::string& oldPath, const std::string& newPath,
                    bool* targetExists) {
    if (targetExists) {
        *targetExists = false;
    }
    if (!hFtp) {
        return false;
    }
    if (HostPathTaken(hFtp, oldPath, newPath)) {
        if (targetExists) {
            *targetExists = true;
        }
        return false;
    }
    return hFtp->rename(oldPath, newPath);
}

bool CreateHostFolder(FtpClient* hFtp, const std::string& path) {
    return hFtp && hFtp->makeDir(path);
}

namespace {

// Removes, as links, the links that the listing which shows links finds in the folder (some
// servers leave them out of MLSD, so the walk did not see them). True when any went.
bool RemoveLinksShownByList(FtpClient* hFtp, const std::string& path) {
    std::vector<DirEntry> entries;
    if (!hFtp->listShowingLinks(path, entries)) {
        return false;
    }
    bool removed = false;
    for (const DirEntry& entry : entries) {
        if (entry.isLink() && IsPlainEntryName(entry.cFileName)) {
            if (!DeleteHostFile(hFtp, path + entry.cFileName)) {
                return false;
            }
            removed = true;
        }
    }
    return removed;
}

bool DeleteHostTree(FtpClient* hFtp, const std::string& folder, int depth) {
    if (depth > kMaxTreeDepth) {
        return false;
    }
    const std::string path = WithTrailingSlash(folder);
    WalkFolder listing;
    if (!ListWalkFolder(hFtp, path, listing)) {
        return false;
    }
    std::vector<std::string> subfolders;
    for (const DirEntry& entry : listing.entries) {
        const std::string& name = entry.cFileName;
        if (!IsPlainEntryName(name)) {
            return false;
        }
        if (entry.isDirectory() && !entry.isLink()) {
            if (!EndsWithDot(name)) {
                subfolders.push_back(path + name);
            }
            continue;
        }
        // A file, or a link (removed as the link itself, never entered).
        if (!DeleteHostFile(hFtp, path + name)) {
            return false;
        }
    }
    for (const std::string& sub : subfolders) {
        if (!DeleteHostTree(hFtp, sub, depth + 1)) {
            return false;
        }
    }
    return hFtp->removeDir(path) ||
           (hFtp->isOpen() && RemoveLinksShownByList(hFtp, path) && hFtp->removeDir(path));
}

} // namespace

bool DeleteHostFolder(FtpClient* hFtp, const std::string& path) {
    if (!hFtp) {
        return false;
    }
    if (HostFolderListedAs(hFtp, path) != ListedAs::Folder) {
        // A link given as the folder (or anything not shown as a folder) goes as an entry:
        // nothing behind a link is touched.
        std::string entry = path;
        while (entry.size() > 1 && entry.back() == '/') {
            entry.pop_back();
        }
        return DeleteHostFile(hFtp, entry);
    }
    return DeleteHostTree(hFtp, path, 0);
}

int SendFtpCommand(FtpClient* hFtp, const std::string& command) {
    if (!hFtp) {
        return 0;
    }
    const int code = hFtp->rawCommand(command);
    return (code >= 200 && code < 300) ? code : 0;
}

} // namespace oxlip
