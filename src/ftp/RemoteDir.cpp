#include "ftp/RemoteDir.h"

#include "localfs/TextHelpers.h"

namespace oxlip {

std::string HostCurrentDirectory(FtpClient* hFtp, const std::string& path) {
    if (!hFtp) {
        return "";
    }
    if (!path.empty()) {
        return hFtp->changeDir(path) ? path : "";
    }
    auto current = hFtp->currentDir();
    return current ? TrimAtNul(*current) : "";
}

bool ListHostFolderChecked(FtpClient* hFtp, std::vector<DirEntry>& list, const std::string& pattern,
                           ftp::ListingNotes* notes) {
    list.clear();
    if (!hFtp) {
        return false;
    }
    std::vector<DirEntry> entries;
    const bool ok = hFtp->list(pattern, entries, notes);
    // The listing's final reply has arrived: let the window catch up.
    TransferContext context;
    context.kind = kContextListing;
    FtpStatusCallback(context, kStatusResponseReceived, 0, hFtp->ports());
    if (ok) {
        list = std::move(entries);
    }
    return ok;
}

int ListHostFolder(FtpClient* hFtp, std::vector<DirEntry>& list, const std::string& pattern) {
    ListHostFolderChecked(hFtp, list, pattern);
    return static_cast<int>(list.size());
}

int GetHostEntry(FtpClient* hFtp, const std::string& path, DirEntry& record) {
    if (!hFtp) {
        return 0;
    }
    DirEntry found;
    if (!hFtp->entry(path, found)) {
        return 0;
    }
    record = std::move(found);
    return 1;
}

} // namespace oxlip
