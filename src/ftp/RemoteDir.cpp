#include "ftp/RemoteDir.h"

#include "localfs/TextHelpers.h"

#include <algorithm>

namespace oxlip {

Result<std::string> HostCurrentDirectory(Session& session, const std::string& path) {
    if (Status ready = CheckReady(session, {path}); !ready) {
        return ready;
    }
    FtpClient* client = session.client();
    if (!path.empty()) {
        if (!client->changeDir(path)) {
            return FailureOf(*client);
        }
        return path;
    }
    auto current = client->currentDir();
    if (!current) {
        return FailureOf(*client);
    }
    return TrimAtNul(*current);
}

bool ListClientFolder(FtpClient& client, std::vector<DirEntry>& list, const std::string& pattern,
                      ftp::ListingNotes* notes) {
    list.clear();
    std::vector<DirEntry> entries;
    const bool ok = client.list(pattern, entries, notes);
    // The listing's final reply has arrived: let the window catch up.
    Pump(client.ports());
    if (ok) {
        list = std::move(entries);
    }
    return ok;
}

Status ListHostFolder(Session& session, std::vector<DirEntry>& list, const std::string& pattern,
                      ftp::ListingNotes* notes) {
    list.clear();
    if (Status ready = CheckReady(session, {pattern}); !ready) {
        return ready;
    }
    FtpClient* client = session.client();
    return StatusOf(ListClientFolder(*client, list, pattern, notes), *client);
}

void LearnHostPathNames(Session& session, const std::string& path) {
    FtpClient* hFtp = session.client();
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
        if (!ascii && !hFtp->listFromHere(path.substr(0, begin) + "*.*", entries)) {
            return; // nothing below a folder that cannot be listed can be learnt
        }
        if (slash == std::string::npos) {
            return;
        }
        begin = slash + 1;
    }
}

Status GetHostEntry(Session& session, const std::string& path, DirEntry& record) {
    if (Status ready = CheckReady(session, {path}); !ready) {
        return ready;
    }
    FtpClient* client = session.client();
    DirEntry found;
    if (!client->entry(path, found)) {
        return FailureOf(*client);
    }
    record = std::move(found);
    return Status::Ok();
}

} // namespace oxlip
