#pragma once
// What single-file and tree transfers share: a file received beside its target, the batch
// that puts received files in place, and one file sent.

#include "ftp/Session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oxlip {

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
                     PartialUse use = PartialUse::None);

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

    bool commit();

private:
    const SessionPorts& ports_;
    std::vector<ReceivedFile> files_;
};

// While it lives, the connection's transfers follow one another: each asks for the next data
// connection before its final reply has come (see FtpClient::setTransfersFollow).
class TransfersFollow {
public:
    explicit TransfersFollow(FtpClient* hFtp) : hFtp_(hFtp) { hFtp_->setTransfersFollow(true); }
    ~TransfersFollow() { hFtp_->setTransfersFollow(false); }
    TransfersFollow(const TransfersFollow&) = delete;
    TransfersFollow& operator=(const TransfersFollow&) = delete;

private:
    FtpClient* hFtp_;
};

// Sends a local file; with resume, appends to a shorter binary host file.
Status SendFile(FtpClient* hFtp, const std::string& localPath, const std::string& hostPath,
                TransferMode type, bool resume = false);

} // namespace oxlip
