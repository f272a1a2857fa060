#include "ftp/RemoteOps.h"

#include "ftp/RemoteDir.h"
#include "ftp/TreeWalk.h"
#include "localfs/TextHelpers.h"

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

bool RenameHostFile(FtpClient* hFtp, const std::string& oldPath, const std::string& newPath) {
    return hFtp && hFtp->rename(oldPath, newPath);
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
