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

bool DeleteHostTree(FtpClient* hFtp, const std::string& folder, int depth) {
    if (depth > kMaxTreeDepth) {
        return false;
    }
    const std::string path = WithTrailingSlash(folder);
    std::vector<DirEntry> entries;
    ListHostFolder(hFtp, entries, path + "*.*");
    std::vector<std::string> subfolders;
    for (const DirEntry& entry : entries) {
        const std::string& raw = entry.cFileName;
        const std::string name = TrimAtNul(raw);
        if (entry.isDirectory() && !entry.isLink()) {
            if (name == "." || name == "..") {
                continue;
            }
            if (!IsPlainEntryName(raw)) {
                return false;
            }
            if (!EndsWithDot(name)) {
                subfolders.push_back(path + name);
            }
            continue;
        }
        // A file, or a link (removed as the link itself, never entered).
        if (!IsPlainEntryName(raw) || !DeleteHostFile(hFtp, path + name)) {
            return false;
        }
    }
    for (const std::string& sub : subfolders) {
        if (!DeleteHostTree(hFtp, sub, depth + 1)) {
            return false;
        }
    }
    return hFtp->removeDir(path);
}

} // namespace

bool DeleteHostFolder(FtpClient* hFtp, const std::string& path) {
    return hFtp && DeleteHostTree(hFtp, path, 0);
}

int SendFtpCommand(FtpClient* hFtp, const std::string& command) {
    if (!hFtp) {
        return 0;
    }
    const int code = hFtp->rawCommand(command);
    return (code >= 200 && code < 300) ? code : 0;
}

} // namespace oxlip
