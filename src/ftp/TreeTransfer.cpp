// Folder trees: walked on the session's connection, their files moved on it or handed to
// the extra connections of a pool.

#include "ftp/ConnectionPool.h"
#include "ftp/Transfer.h"
#include "ftp/TransferParts.h"
#include "ftp/TreeWalk.h"
#include "localfs/LocalFs.h"
#include "localfs/TextHelpers.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace oxlip {

namespace {

// The extra connections of a tree transfer: none for one connection.
struct TreePool {
    TreePool(Session& session, int connections) {
        if (connections > 1) {
            pool.emplace(session, connections);
        }
    }
    ConnectionPool* get() { return pool ? &*pool : nullptr; }
    void reset() { pool.reset(); } // every extra connection closed
    std::optional<ConnectionPool> pool;
};

// A link in a host folder that did not arrive as a file: a link to a folder is left alone, any
// other is a failed link. Both are told. False when the walk cannot go on.
bool SkipHostLink(FtpClient* hFtp, const std::string& path, bool& complete) {
    if (!hFtp->isOpen()) {
        return false;
    }
    const FolderProbe probe = ProbeHostFolder(hFtp, path);
    if (probe == FolderProbe::Lost) {
        return false;
    }
    const bool folder = probe == FolderProbe::Folder;
    TellSkipped(hFtp->ports(), folder ? LogKind::FolderLinkSkipped : LogKind::FailedLinkSkipped,
                path);
    complete = complete && folder;
    return true;
}

// What a tree transfer has done: complete turns false when an entry had to be left out (told
// in the log); files counts the files transferred.
struct TreeTally {
    bool complete = true;
    int64_t files = 0;
};

// A cancel request stops a tree between items.
Status CancelledStatus() {
    return Status::Fail(ErrorKind::Cancelled, 0, "cancelled");
}

// After a file of a tree failed on another connection: a link there is skipped as the walk
// does (the folder is listed again with links shown); anything else is the failure.
Status SkipFailedLink(FtpClient* hFtp, const std::string& host, const std::string& name,
                      Status received, TreeTally& tally) {
    if (received.kind == ErrorKind::Cancelled || !hFtp->isOpen()) {
        return received;
    }
    WalkFolder listing;
    if (!ListWalkFolder(hFtp, host, listing) ||
        (!listing.linksShown && !MarkLinks(hFtp, host, listing))) {
        return FailureOf(*hFtp);
    }
    const auto entry = std::find_if(listing.entries.begin(), listing.entries.end(),
                                    [&](const DirEntry& e) { return e.name == name; });
    if (entry == listing.entries.end() || !entry->link ||
        !SkipHostLink(hFtp, host + name, tally.complete)) {
        return received;
    }
    return Status::Ok();
}

// A tree's file handed to the pool's next free connection.
void ReceiveOnPool(ConnectionPool& pool, FtpClient* hFtp, const std::string& host,
                   const std::string& local, const DirEntry& entry, TransferMode type,
                   ReceivedBatch& batch, TreeTally& tally) {
    const std::optional<uint64_t> listed =
        entry.link ? std::nullopt : std::optional<uint64_t>(entry.size);
    auto file = std::make_shared<ReceivedFile>();
    pool.submit(
        [=, name = entry.name](FtpClient* client) {
            if (CancelRequested(client->ports())) {
                return CancelledStatus();
            }
            return ReceiveToTemp(client, host + name, local + name, type, listed, *file);
        },
        [=, &batch, &tally, name = entry.name](Status received) {
            if (!received) {
                return SkipFailedLink(hFtp, host, name, std::move(received), tally);
            }
            if (!batch.add(std::move(*file))) {
                return Status::Fail(ErrorKind::LocalIo);
            }
            ++tally.files;
            return Status::Ok();
        },
        listed ? static_cast<int64_t>(*listed) : 0);
}

// With a pool, files are handed out and the walk stops handing them at the first failure.
Status DownloadTree(FtpClient* hFtp, const std::string& hostFolder, const std::string& localFolder,
                    TransferMode type, int depth, ReceivedBatch& batch, TreeTally& tally,
                    ConnectionPool* pool) {
    if (depth > kMaxTreeDepth) {
        return Status::Fail(ErrorKind::TooDeep);
    }
    const std::string host = WithTrailingSlash(hostFolder);
    const std::string local = WithTrailingSlash(localFolder);
    if (!PathIsDirectory(local) && !CreateLocalFolder(local)) {
        return Status::Fail(ErrorKind::LocalIo);
    }
    WalkFolder listing;
    if (!ListWalkFolder(hFtp, host, listing)) {
        return FailureOf(*hFtp); // a folder that cannot be listed is not reported as copied
    }
    const SessionPorts& ports = hFtp->ports();
    for (const std::string& name : listing.refused) {
        TellSkipped(ports, LogKind::UnsafeNameSkipped, host + name);
        tally.complete = false;
    }
    const std::vector<DirEntry>& entries = listing.entries; // MarkLinks keeps them in place
    for (const DirEntry& entry : entries) {
        const std::string& name = entry.name;
        if (!IsPlainEntryName(name)) {
            TellSkipped(ports, LogKind::UnsafeNameSkipped, host + name);
            tally.complete = false;
            continue;
        }
        if (entry.directory) {
            continue;
        }
        if (CancelRequested(ports)) {
            return CancelledStatus();
        }
        if (pool) {
            if (pool->failed()) {
                return Status::Ok(); // the pool's failure is the result
            }
            ReceiveOnPool(*pool, hFtp, host, local, entry, type, batch, tally);
            continue;
        }
        ReceivedFile file;
        // A link's listed size is the link's own; its file is looked up.
        const std::optional<uint64_t> listed =
            entry.link ? std::nullopt : std::optional<uint64_t>(entry.size);
        Status received = ReceiveToTemp(hFtp, host + name, local + name, type, listed, file);
        if (received) {
            if (!batch.add(std::move(file))) {
                return Status::Fail(ErrorKind::LocalIo);
            }
            ++tally.files;
            continue;
        }
        if (received.kind == ErrorKind::Cancelled) {
            return received;
        }
        // MLSD may have shown a link as the file it leads to: the listing with links tells.
        if (!listing.linksShown && hFtp->isOpen() && !MarkLinks(hFtp, host, listing)) {
            return FailureOf(*hFtp);
        }
        if (!entry.link || !SkipHostLink(hFtp, host + name, tally.complete)) {
            return received;
        }
    }
    std::vector<std::string> subfolders;
    for (const DirEntry& entry : entries) {
        if (!entry.directory || !IsPlainEntryName(entry.name)) {
            continue;
        }
        if (entry.link) { // never entered; one that may be a folder fails the tree
            const bool sure = std::find(listing.doubtful.begin(), listing.doubtful.end(),
                                        entry.name) == listing.doubtful.end();
            TellSkipped(ports, sure ? LogKind::FolderLinkSkipped : LogKind::FailedLinkSkipped,
                        host + entry.name);
            tally.complete = tally.complete && sure;
        } else if (!EndsWithDot(entry.name)) {
            subfolders.push_back(entry.name);
        }
    }
    for (const std::string& name : subfolders) {
        Status status =
            DownloadTree(hFtp, host + name, local + name, type, depth + 1, batch, tally, pool);
        if (!status) {
            return status;
        }
    }
    return Status::Ok();
}

// The host folder is there to take files, or is made now, without moving the session's
// current folder where that can be helped: a folder that its entry (MLST or the parent's
// listing) shows, or one MKD makes. A link there takes the files when it leads to a folder
// (a STOR through anything else fails). Only when nothing is seen and MKD fails is the folder
// made current for a look, and the session's folder put back (false when that fails).
bool EnsureHostFolder(FtpClient* hFtp, const std::string& folder) {
    if (folder.empty()) {
        return true; // the root
    }
    DirEntry entry;
    const bool found = hFtp->entry(folder, entry);
    if (found && entry.directory) {
        return true;
    }
    if (hFtp->makeDir(folder + "/")) {
        return true;
    }
    if (found) {
        return entry.link;
    }
    return ProbeHostFolder(hFtp, folder) == FolderProbe::Folder;
}

bool LocalFolderReadable(const std::string& folder) {
    return PathIsDirectory(folder) && ::access(folder.c_str(), R_OK | X_OK) == 0;
}

Status UploadTree(FtpClient* hFtp, const std::string& localFolder, const std::string& hostFolder,
                  TransferMode type, int depth, TreeTally& tally, ConnectionPool* pool) {
    if (depth > kMaxTreeDepth) {
        return Status::Fail(ErrorKind::TooDeep);
    }
    const std::string local = WithTrailingSlash(localFolder);
    const std::string host = WithTrailingSlash(hostFolder);
    if (!EnsureHostFolder(hFtp, host.substr(0, host.size() - 1))) {
        return FailureOf(*hFtp);
    }
    std::vector<DirEntry> entries;
    if (ListLocalFolder(entries, local + "*.*") == 0 && !LocalFolderReadable(local)) {
        return Status::Fail(ErrorKind::LocalIo);
    }
    const SessionPorts& ports = hFtp->ports();
    std::vector<std::string> subfolders;
    for (const DirEntry& entry : entries) {
        const std::string name = TrimAtNul(entry.name);
        if (entry.directory) {
            if (entry.link) {
                TellSkipped(ports, LogKind::FolderLinkSkipped, local + name); // never entered
            } else if (!EndsWithDot(name)) {
                subfolders.push_back(name);
            }
            continue;
        }
        if (entry.link && ::access((local + name).c_str(), F_OK) != 0) {
            continue; // a link that leads nowhere holds nothing to send
        }
        if (!ftp::IsSafeForCommand(name)) {
            TellSkipped(ports, LogKind::UnsafeNameSkipped, local + name); // no command may hold it
            tally.complete = false;
            continue;
        }
        if (CancelRequested(ports)) {
            return CancelledStatus();
        }
        if (pool) { // the folder is on the host already: the file goes to a free connection
            if (pool->failed()) {
                return Status::Ok(); // the pool's failure is the result
            }
            pool->submit(
                [=](FtpClient* client) {
                    if (CancelRequested(client->ports())) {
                        return CancelledStatus();
                    }
                    return SendFile(client, local + name, host + name, type);
                },
                [&tally](Status sent) {
                    tally.files += sent ? 1 : 0;
                    return sent;
                },
                static_cast<int64_t>(entry.size));
            continue;
        }
        if (Status status = SendFile(hFtp, local + name, host + name, type); !status) {
            return status;
        }
        ++tally.files;
    }
    for (const std::string& name : subfolders) {
        if (Status status =
                UploadTree(hFtp, local + name, host + name, type, depth + 1, tally, pool);
            !status) {
            return status;
        }
    }
    return Status::Ok();
}

// A walk that went through is still a failure when it left entries out; a cancelled one tells
// how many files it had transferred.
Status Completed(const SessionPorts& ports, Status status, const TreeTally& tally) {
    if (status.kind == ErrorKind::Cancelled) {
        Tell(ports, LogKind::Cancelled, std::to_string(tally.files));
    }
    if (status && !tally.complete) {
        return Status::Fail(ErrorKind::Incomplete);
    }
    return status;
}

// The walk's own status, or the first failure of the files handed to the pool.
Status Finished(Status walked, ConnectionPool* pool) {
    if (!pool) {
        return walked;
    }
    Status transferred = pool->finish(); // also after a failed walk: the running ones end
    return walked ? transferred : walked;
}

// A tree download from a path from the root.
Status DownloadFrom(Session& session, const std::string& hostFolder, const std::string& localFolder,
                    TransferMode type, int connections) {
    FtpClient* hFtp = session.client();
    switch (HostFolderListedAs(hFtp, hostFolder)) {
    case ListedAs::Folder:
        break;
    case ListedAs::Link: // a link given as the folder is left alone, as inside a tree
        TellSkipped(hFtp->ports(), LogKind::FolderLinkSkipped, hostFolder);
        return Status::Ok();
    case ListedAs::Unknown:
        return FailureOf(*hFtp);
    }
    // Files received so far are put in place also when a later one fails.
    ReceivedBatch batch(hFtp->ports());
    TreeTally tally;
    TransfersFollow follow(hFtp);
    TreePool pool(session, connections);
    ConnectionPool* shared = pool.get();
    Status status = Finished(
        DownloadTree(hFtp, hostFolder, localFolder, type, 0, batch, tally, shared), shared);
    pool.reset(); // every extra connection closed
    if (!batch.commit() && status) {
        return Status::Fail(ErrorKind::LocalIo);
    }
    return Completed(hFtp->ports(), std::move(status), tally);
}

} // namespace

Status DownloadFolder(Session& session, const std::string& hostFolder,
                      const std::string& localFolder, TransferMode type, int connections) {
    if (Status ready = CheckReady(session, {hostFolder}); !ready) {
        return ready;
    }
    FtpClient* hFtp = session.client();
    WalkStart start(hFtp);
    return start.back(
        DownloadFrom(session, start.fromRoot(hostFolder), localFolder, type, connections));
}

Status UploadFolder(Session& session, const std::string& localFolder, const std::string& hostFolder,
                    TransferMode type, int connections) {
    if (Status ready = CheckReady(session, {hostFolder}); !ready) {
        return ready;
    }
    FtpClient* hFtp = session.client();
    TreeTally tally;
    TransfersFollow follow(hFtp);
    TreePool pool(session, connections);
    ConnectionPool* shared = pool.get();
    Status status =
        Finished(UploadTree(hFtp, localFolder, hostFolder, type, 0, tally, shared), shared);
    pool.reset(); // every extra connection closed
    return Completed(hFtp->ports(), std::move(status), tally);
}

} // namespace oxlip
