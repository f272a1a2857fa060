#include "ftp/Transfer.h"

#include "ftp/ConnectionPool.h"

#include "ftp/Partial.h"
#include "ftp/RemoteDir.h"
#include "ftp/RemoteOps.h"
#include "ftp/TreeWalk.h"
#include "localfs/LocalFs.h"
#include "localfs/TextHelpers.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace oxlip {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Ascii or Binary as given; Auto is decided by the extension of the target path against the
// program's list.
TransferMode ResolveType(TransferMode type, const std::string& targetPath,
                         const SessionPorts& ports) {
    if (type != TransferMode::Auto) {
        return type;
    }
    static const std::vector<std::string> kNone;
    return GetTransferType(GetExtension(targetPath),
                           ports.asciiExtensions ? *ports.asciiExtensions : kNone);
}

// Decides the type by the target path, tells the item and its mode and pumps once before the
// transfer starts. Returns the type.
TransferMode BeginTransfer(const SessionPorts& ports, TransferMode type,
                           const std::string& targetPath, ProgressPhase phase) {
    type = ResolveType(type, targetPath, ports);
    Show(ports, ProgressEvent{phase, GetNamePart(targetPath, '/'), type});
    Pump(ports);
    return type;
}

// Blocks are told to the window at most this often (the engine pumps on its own meanwhile).
constexpr auto kNotifyInterval = std::chrono::milliseconds(10);

// Runs one transfer with its meter: the empty bar first, then the blocks (gathered as above),
// and the last state at the end.
template <typename Move>
bool RunWithProgress(const SessionPorts& ports, int64_t total, Move&& move) {
    ProgressMeter meter(ports, total);
    // Blocks that arrive in quick succession are told as one: the window hears of the
    // transfer every few milliseconds, however small the blocks.
    using Clock = std::chrono::steady_clock;
    auto lastTold = Clock::now();
    int64_t untold = 0;
    const bool ok = move([&](std::size_t bytes) {
        untold += static_cast<int64_t>(bytes);
        const auto now = Clock::now();
        if (now - lastTold >= kNotifyInterval) {
            lastTold = now;
            meter.add(untold);
            untold = 0;
        }
    });
    if (untold > 0) {
        meter.add(untold);
    }
    meter.finish();
    return ok;
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Runs a call that waits for the disk (a flush of a large file can take seconds) on a helper
// thread while this thread keeps the window's events going at the engine's pace.
template <typename Work> void WhilePumping(const SessionPorts& ports, Work&& work) {
    if (!ports.sink) {
        work();
        return;
    }
    auto done = std::async(std::launch::async, std::forward<Work>(work));
    while (done.wait_for(std::chrono::milliseconds(ftp::kPumpIntervalMs)) !=
           std::future_status::ready) {
        Pump(ports);
    }
    done.get();
}

bool SyncFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::fsync(fd);
    ::close(fd);
    return true;
}

} // namespace

TransferMode GetTransferType(const std::string& extension, const std::vector<std::string>& list) {
    const std::string wanted = Upper(extension);
    for (const std::string& item : list) {
        // An empty entry names no extension. It appears when Ftp.ini has no [Extension]
        // section (for instance after the user emptied the list), and matching it would
        // send every file without an extension as ASCII and corrupt binary ones.
        if (!item.empty() && Upper(item) == wanted) {
            return TransferMode::Ascii;
        }
    }
    return TransferMode::Binary;
}

namespace {

// Data that will replace a file is handed to the disk in stretches while more arrives, and
// the stretch before the last one is waited for, so dirty pages stay bounded (about three
// stretches) and the flush before the rename has little left. The waits run while the window
// keeps its events: on a slow disk they are where the download waits for it.
class Writeback {
public:
    static constexpr int64_t kStepBytes = 8 * 1024 * 1024;
    Writeback(int fd, const SessionPorts& ports) : fd_(fd), ports_(ports) {}

    void received(std::size_t bytes) {
        end_ += static_cast<int64_t>(bytes);
        for (; end_ - started_ >= kStepBytes; started_ += kStepBytes) {
            ::sync_file_range(fd_, started_, kStepBytes, SYNC_FILE_RANGE_WRITE);
            if (started_ >= 2 * kStepBytes) {
                const int64_t older = started_ - 2 * kStepBytes;
                WhilePumping(ports_, [&] {
                    ::sync_file_range(fd_, older, kStepBytes,
                                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                          SYNC_FILE_RANGE_WAIT_AFTER);
                });
            }
        }
    }

    // The tail of a big file goes to the disk now; a small one is written together with the
    // others when its batch is flushed.
    void finish() {
        if (started_ > 0) {
            ::sync_file_range(fd_, started_, 0, SYNC_FILE_RANGE_WRITE);
        }
    }

private:
    int fd_;
    const SessionPorts& ports_;
    int64_t started_ = 0; // bytes handed to the disk
    int64_t end_ = 0;     // bytes received
};

// A downloaded file still under its hidden name beside the target.
struct ReceivedFile {
    int fd = -1;
    std::string temp;
    std::string target;
    std::string folder;
};

// What a download does with a partial file: nothing (trees: a failed file leaves nothing),
// keep it for later, or also go on from one kept before.
enum class PartialUse { None, Keep, Resume };

// Fetches a host file into a hidden file beside the target; the target is not touched yet.
// listedSize: the size the folder's listing just gave, which spares the lookup.
Status ReceiveToTemp(FtpClient* hFtp, const std::string& hostPath, const std::string& localPath,
                     TransferMode type, std::optional<uint64_t> listedSize, ReceivedFile& out,
                     PartialUse use = PartialUse::None) {
    const SessionPorts& ports = hFtp->ports();
    type = BeginTransfer(ports, type, localPath, ProgressPhase::Receiving);
    uint64_t total = 0; // unknown: the bar stays in its not-started state
    if (listedSize) {
        total = *listedSize;
    } else {
        hFtp->fileSize(hostPath, total);
    }

    // The file arrives beside the target under a hidden name and replaces it only when it
    // is complete, so a failed download leaves an existing file as it was. A symbolic link at
    // the target stays: the file it leads to is the one replaced.
    const std::string target = ResolveLocalLinks(localPath);
    struct stat existing {};
    const bool exists = !target.empty() && ::lstat(target.c_str(), &existing) == 0;
    if (target.empty() || (exists && S_ISDIR(existing.st_mode))) {
        return Status::Fail(ErrorKind::LocalIo);
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    PartialTarget partial;
    if (use != PartialUse::None && type == TransferMode::Binary) {
        partial = OpenPartial(hFtp, hostPath, folder, name, use == PartialUse::Resume);
    }
    std::string temp = partial.path;
    int fd = partial.fd;
    if (fd < 0) {
        const long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
        temp = folder + HiddenTempName(name, nameMax > 0 ? std::size_t(nameMax) : 255);
        fd = ::mkstemp(temp.data());
    }
    if (fd < 0) {
        return Status::Fail(ErrorKind::LocalIo);
    }
    const mode_t mode =
        exists && S_ISREG(existing.st_mode) ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
    ::fchmod(fd, mode);

    Writeback writeback(fd, ports);
    const int64_t coming = static_cast<int64_t>(total - std::min(total, partial.restartAt));
    const bool ok = RunWithProgress(ports, coming, [&](const ftp::BlockCallback& onBlock) {
        return hFtp->retrieve(
            hostPath, type == TransferMode::Ascii, fd,
            [&](std::size_t bytes) {
                if (exists) {
                    writeback.received(bytes);
                }
                onBlock(bytes);
            },
            listedSize, partial.restartAt);
    });
    if (!ok) {
        // What arrived of a partial file stays for the next attempt (never in the target's
        // place); any other hidden file goes.
        const bool keep = partial.fd >= 0 && KeepPartial(hFtp, hostPath, fd, partial.restartAt);
        ::close(fd);
        if (!keep) {
            ::unlink(temp.c_str());
        }
        return FailureOf(*hFtp);
    }
    if (partial.fd >= 0) {
        ForgetPartialSource(fd);
    }
    writeback.finish();
    out = ReceivedFile{fd, std::move(temp), target, folder};
    return Status::Ok();
}

// Puts received files in place in their order: each that replaces a file is on the disk
// before it does. Files after the first failure are dropped. Flushing several files in one go
// costs about one journal commit instead of one per file.
class ReceivedBatch {
public:
    static constexpr std::size_t kMaxFiles = 64;
    explicit ReceivedBatch(const SessionPorts& ports) : ports_(ports) {}
    ReceivedBatch(const ReceivedBatch&) = delete;
    ReceivedBatch& operator=(const ReceivedBatch&) = delete;
    ~ReceivedBatch() { commit(); }

    // False when the batch had to be committed and that failed.
    bool add(ReceivedFile file) {
        files_.push_back(std::move(file));
        return files_.size() < kMaxFiles || commit();
    }

    bool commit() {
        bool ok = true;
        // A file that replaces another is on the disk before the rename, so a power cut leaves
        // the old file or the whole new one, never an empty or partial file in its place. A
        // new file has nothing to lose and is left to the kernel's writeback like any copy;
        // waiting for the disk there would halve the speed of a big download.
        std::vector<char> replaces(files_.size(), 0);
        std::size_t replacing = 0;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            struct stat target {};
            replaces[i] = ::lstat(files_[i].target.c_str(), &target) == 0;
            replacing += replaces[i] ? 1 : 0;
        }
        std::vector<char> flushed(files_.size(), 1);
        if (replacing > 0) {
            WhilePumping(ports_, [&] {
                // Several files: one flush of their file system is far cheaper than one per
                // file (each of which waits for the disk's cache on its own).
                const std::size_t first =
                    std::size_t(std::find(replaces.begin(), replaces.end(), 1) - replaces.begin());
                const bool synced = replacing > 1 && ::syncfs(files_[first].fd) == 0;
                for (std::size_t i = 0; i < files_.size(); ++i) {
                    if (replaces[i]) {
                        flushed[i] = synced || ::fsync(files_[i].fd) == 0;
                    }
                }
            });
        }
        std::vector<std::string> folders;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            ReceivedFile& file = files_[i];
            bool placed = ok && flushed[i];
            placed = (::close(file.fd) == 0) && placed;
            placed = placed && ::rename(file.temp.c_str(), file.target.c_str()) == 0;
            if (!placed) {
                ::unlink(file.temp.c_str());
                ok = false;
                continue;
            }
            if (replaces[i] &&
                std::find(folders.begin(), folders.end(), file.folder) == folders.end()) {
                folders.push_back(file.folder);
            }
        }
        files_.clear();
        if (!folders.empty()) {
            WhilePumping(ports_, [&] {
                for (const std::string& folder : folders) {
                    SyncFolder(folder);
                }
            });
        }
        return ok;
    }

private:
    const SessionPorts& ports_;
    std::vector<ReceivedFile> files_;
};

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

} // namespace

Status DownloadFile(Session& session, const std::string& hostPath, const std::string& localPath,
                    TransferMode type, bool resume) {
    if (Status ready = CheckReady(session, {hostPath}); !ready) {
        return ready;
    }
    FtpClient* hFtp = session.client();
    ReceivedFile file;
    if (Status status = ReceiveToTemp(hFtp, hostPath, localPath, type, std::nullopt, file,
                                      resume ? PartialUse::Resume : PartialUse::Keep);
        !status) {
        return status;
    }
    ReceivedBatch batch(hFtp->ports());
    const bool placed = batch.add(std::move(file)) && batch.commit();
    return placed ? Status::Ok() : Status::Fail(ErrorKind::LocalIo);
}

namespace {

Status SendFile(FtpClient* hFtp, const std::string& localPath, const std::string& hostPath,
                TransferMode type, bool resume = false) {
    const SessionPorts& ports = hFtp->ports();
    type = BeginTransfer(ports, type, hostPath, ProgressPhase::Sending);
    DirEntry source;
    GetLocalEntry(localPath, source);

    const int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Status::Fail(ErrorKind::LocalIo);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd); // only regular files are sent (not folders, pipes or devices)
        return Status::Fail(ErrorKind::LocalIo);
    }
    // Resuming: a binary host file shorter than the local one is taken as its beginning.
    uint64_t hostSize = 0;
    const bool append = resume && type == TransferMode::Binary &&
                        hFtp->fileSize(hostPath, hostSize) && hostSize > 0 &&
                        hostSize < uint64_t(info.st_size) &&
                        ::lseek(fd, off_t(hostSize), SEEK_SET) == off_t(hostSize);
    const int64_t coming = static_cast<int64_t>(source.size - (append ? hostSize : 0));
    const bool ok = RunWithProgress(ports, coming, [&](const ftp::BlockCallback& onBlock) {
        return hFtp->store(hostPath, type == TransferMode::Ascii, fd, onBlock, append);
    });
    ::close(fd);
    return StatusOf(ok, *hFtp);
}

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
        });
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
                });
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

Status UploadFile(Session& session, const std::string& localPath, const std::string& hostPath,
                  TransferMode type, bool resume) {
    if (Status ready = CheckReady(session, {hostPath}); !ready) {
        return ready;
    }
    return SendFile(session.client(), localPath, hostPath, type, resume);
}

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
    TreePool pool(session, connections);
    ConnectionPool* shared = pool.get();
    Status status =
        Finished(UploadTree(hFtp, localFolder, hostFolder, type, 0, tally, shared), shared);
    pool.reset(); // every extra connection closed
    return Completed(hFtp->ports(), std::move(status), tally);
}

} // namespace oxlip
