#include "ftp/RemoteDir.h"

#include "localfs/TextHelpers.h"

#include <algorithm>

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

void LearnHostPathNames(FtpClient* hFtp, const std::string& path) {
    if (!hFtp || hFtp->namesUtf8()) {
        return;
    }
    std::size_t begin = 0;
    for (;;) {
        const std::size_t slash = path.find('/', begin);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        const bool ascii = std::all_of(path.begin() + begin, path.begin() + end,
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        std::vector<DirEntry> entries;
        if (!ascii && !hFtp->list(path.substr(0, begin) + "*.*", entries)) {
            return; // nothing below a folder that cannot be listed can be learnt
        }
        if (slash == std::string::npos) {
            return;
        }
        begin = slash + 1;
    }
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
