#include "ftp/TreeWalk.h"

#include "ftp/RemoteDir.h"
#include "ftp/engine/NameCodec.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace oxlip {

namespace {

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", value & 0xFF);
    return text;
}

bool IsRealFolder(const DirEntry& entry) {
    return entry.directory && !entry.link;
}

} // namespace

std::string ShownName(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x20 || byte == 0x7F || byte == '\\') {
            out += Hex(byte);
            ++i;
            continue;
        }
        const std::size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        bool valid = byte < 0x80 || (byte >= 0xC2 && byte <= 0xF4 && i + length <= name.size());
        char32_t code = byte < 0x80 ? byte : byte & (0x3F >> (length - 1));
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(name[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += Hex(byte); // not UTF-8 (a local name)
            ++i;
            continue;
        }
        if (code >= ftp::kByteEscapeFirst && code <= ftp::kByteEscapeLast) {
            out += Hex(unsigned(code - ftp::kByteEscapeFirst + 0x80)); // a byte that is no text
        } else if (code >= 0x80 && code < 0xA0) {
            for (std::size_t k = 0; k < length; ++k) { // a C1 control character
                out += Hex(static_cast<unsigned char>(name[i + k]));
            }
        } else {
            out.append(name, i, length);
        }
        i += length;
    }
    return out;
}

void TellSkipped(const SessionPorts& ports, LogKind why, const std::string& path) {
    Tell(ports, why, ShownName(path));
}

WalkStart::WalkStart(FtpClient* hFtp) : hFtp_(hFtp), folder_(hFtp->knownDir()) {
    if (!folder_) {
        folder_ = hFtp->currentDir();
    }
    if (folder_ && (folder_->empty() || (*folder_)[0] != '/')) {
        folder_.reset(); // not a path that walks can be joined to
    }
}

std::string WalkStart::fromRoot(const std::string& path) const {
    if (!folder_ || (!path.empty() && path[0] == '/')) {
        return path;
    }
    return path.empty() ? *folder_ : WithTrailingSlash(*folder_) + path;
}

void WalkStart::removing(const std::string& path) {
    if (folder_ && WithTrailingSlash(*folder_).rfind(WithTrailingSlash(path), 0) == 0) {
        folder_.reset();
    }
}

Status WalkStart::back(Status walked) {
    if (!folder_ || hFtp_->knownDir() == folder_ || !hFtp_->isOpen() ||
        hFtp_->changeDir(*folder_)) {
        return walked;
    }
    return walked ? FailureOf(*hFtp_) : walked;
}

bool ListWalkFolder(FtpClient* hFtp, const std::string& folder, WalkFolder& out) {
    const std::string path = WithTrailingSlash(folder);
    ftp::ListingNotes notes;
    if (!ListClientFolder(*hFtp, out.entries, path + "*.*", &notes)) {
        return false;
    }
    out.refused = std::move(notes.refused);
    out.linksShown = !notes.mlsd;
    if (out.linksShown || std::none_of(out.entries.begin(), out.entries.end(), IsRealFolder)) {
        return true;
    }
    return MarkLinks(hFtp, path, out);
}

bool MarkLinks(FtpClient* hFtp, const std::string& folder, WalkFolder& out) {
    std::vector<DirEntry> shown;
    if (!hFtp->listShowingLinks(folder, shown)) {
        return false;
    }
    std::unordered_map<std::string, const DirEntry*> attributes;
    for (const DirEntry& entry : shown) {
        attributes.emplace(entry.name, &entry);
    }
    for (DirEntry& entry : out.entries) {
        const auto found = attributes.find(entry.name);
        const bool link = found != attributes.end() && found->second->link;
        const bool folderShown = found != attributes.end() && found->second->directory && !link;
        if (IsRealFolder(entry) && !folderShown && !link) {
            out.doubtful.push_back(entry.name);
        }
        if (link || (IsRealFolder(entry) && !folderShown)) {
            entry.link = true;
        }
    }
    out.linksShown = true;
    return true;
}

ListedAs HostFolderListedAs(FtpClient* hFtp, const std::string& path) {
    std::string clean = path;
    while (clean.size() > 1 && clean.back() == '/') {
        clean.pop_back();
    }
    if (clean.empty() || clean == "/") {
        return ListedAs::Folder;
    }
    const std::size_t slash = clean.rfind('/');
    const std::string parent = slash == std::string::npos ? ""
                               : slash == 0               ? "/"
                                                          : clean.substr(0, slash);
    const std::string name = slash == std::string::npos ? clean : clean.substr(slash + 1);
    std::vector<DirEntry> entries;
    if (!hFtp || !hFtp->listShowingLinks(parent, entries)) {
        return ListedAs::Unknown;
    }
    for (const DirEntry& entry : entries) {
        if (entry.name == name) {
            return IsRealFolder(entry) ? ListedAs::Folder
                   : entry.link        ? ListedAs::Link
                                       : ListedAs::Unknown;
        }
    }
    return ListedAs::Unknown;
}

FolderProbe ProbeHostFolder(FtpClient* hFtp, const std::string& path) {
    const auto back = hFtp ? hFtp->currentDir() : std::nullopt;
    if (!back || back->empty() || !hFtp->changeDir(path)) {
        return FolderProbe::NotFolder;
    }
    return hFtp->changeDir(*back) ? FolderProbe::Folder : FolderProbe::Lost;
}

} // namespace oxlip
