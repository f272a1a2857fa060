#include "ftp/Transfer.h"

#include "ftp/TransferParts.h"

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

} // namespace

// Fetches a host file into a hidden file beside the target; the target is not touched yet.
// listedSize: the size the folder's listing just gave, which spares the lookup.
Status ReceiveToTemp(FtpClient* hFtp, const std::string& hostPath, const std::string& localPath,
                     TransferMode type, std::optional<uint64_t> listedSize, ReceivedFile& out,
                     PartialUse use) {
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

bool ReceivedBatch::commit() {
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

Status SendFile(FtpClient* hFtp, const std::string& localPath, const std::string& hostPath,
                TransferMode type, bool resume) {
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

Status UploadFile(Session& session, const std::string& localPath, const std::string& hostPath,
                  TransferMode type, bool resume) {
    if (Status ready = CheckReady(session, {hostPath}); !ready) {
        return ready;
    }
    return SendFile(session.client(), localPath, hostPath, type, resume);
}

} // namespace oxlip
