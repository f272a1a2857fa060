#include "ftp/RemoteOps.h"

#include "ftp/RemoteDir.h"
#include "ftp/TreeWalk.h"
#include "localfs/TextHelpers.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace oxlip {

namespace {

bool DeleteClientFile(FtpClient* hFtp, const std::string& path) {
    const SessionPorts& ports = hFtp->ports();
    Show(ports, ProgressEvent{ProgressPhase::Deleting, GetNamePart(path, '/')});
    Pump(ports);
    return hFtp->deleteFile(path);
}

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
    if (!hFtp->listFromHere(folder + "*.*", entries)) {
        return true; // in doubt, nothing is replaced
    }
    const std::string name = newPath.substr(folder.size());
    return std::any_of(entries.begin(), entries.end(),
                       [&](const DirEntry& entry) { return entry.name == name; });
}

} // namespace

Status DeleteHostFile(Session& session, const std::string& path) {
    if (Status ready = CheckReady(session, {path}); !ready) {
        return ready;
    }
    FtpClient* client = session.client();
    return StatusOf(DeleteClientFile(client, path), *client);
}

Status RenameHostFile(Session& session, const std::string& oldPath, const std::string& newPath) {
    if (Status ready = CheckReady(session, {oldPath, newPath}); !ready) {
        return ready;
    }
    FtpClient* client = session.client();
    if (HostPathTaken(client, oldPath, newPath)) {
        return Status::Fail(ErrorKind::Exists);
    }
    return StatusOf(client->rename(oldPath, newPath), *client);
}

Status CreateHostFolder(Session& session, const std::string& path) {
    if (Status ready = CheckReady(session, {path}); !ready) {
        return ready;
    }
    FtpClient* client = session.client();
    return StatusOf(client->makeDir(path), *client);
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
        if (entry.link && IsPlainEntryName(entry.name)) {
            if (!DeleteClientFile(hFtp, path + entry.name)) {
                return false;
            }
            removed = true;
        }
    }
    return removed;
}

Status DeleteHostTree(FtpClient* hFtp, const std::string& folder, int depth) {
    if (depth > kMaxTreeDepth) {
        return Status::Fail(ErrorKind::TooDeep);
    }
    const std::string path = WithTrailingSlash(folder);
    WalkFolder listing;
    if (!ListWalkFolder(hFtp, path, listing)) {
        return FailureOf(*hFtp);
    }
    std::vector<std::string> subfolders;
    for (const DirEntry& entry : listing.entries) {
        const std::string& name = entry.name;
        if (!IsPlainEntryName(name)) {
            return Status::Fail(ErrorKind::Unsafe);
        }
        if (entry.directory && !entry.link) {
            if (!EndsWithDot(name)) {
                subfolders.push_back(path + name);
            }
            continue;
        }
        // A file, or a link (removed as the link itself, never entered).
        if (!DeleteClientFile(hFtp, path + name)) {
            return FailureOf(*hFtp);
        }
    }
    for (const std::string& sub : subfolders) {
        if (Status status = DeleteHostTree(hFtp, sub, depth + 1); !status) {
            return status;
        }
    }
    const bool removed =
        hFtp->removeDir(path) ||
        (hFtp->isOpen() && RemoveLinksShownByList(hFtp, path) && hFtp->removeDir(path));
    return StatusOf(removed, *hFtp);
}

// A tree delete from a path from the root.
Status DeleteFrom(FtpClient* hFtp, const std::string& path) {
    if (HostFolderListedAs(hFtp, path) != ListedAs::Folder) {
        // A link given as the folder (or anything not shown as a folder) goes as an entry:
        // nothing behind a link is touched.
        std::string entry = path;
        while (entry.size() > 1 && entry.back() == '/') {
            entry.pop_back();
        }
        return StatusOf(DeleteClientFile(hFtp, entry), *hFtp);
    }
    return DeleteHostTree(hFtp, path, 0);
}

} // namespace

Status DeleteHostFolder(Session& session, const std::string& path) {
    if (Status ready = CheckReady(session, {path}); !ready) {
        return ready;
    }
    FtpClient* hFtp = session.client();
    WalkStart start(hFtp);
    const std::string folder = start.fromRoot(path);
    start.removing(folder);
    return start.back(DeleteFrom(hFtp, folder));
}

Status SendFtpCommand(Session& session, const std::string& command) {
    if (Status ready = CheckReady(session); !ready) {
        return ready;
    }
    FtpClient* client = session.client();
    std::string text;
    const int code = client->rawCommand(command, &text);
    if (code >= 200 && code < 300) {
        return Status::Ok(code, std::move(text));
    }
    return code == 0 ? FailureOf(*client) : Status::Fail(ErrorKind::Refused, code, std::move(text));
}

} // namespace oxlip
