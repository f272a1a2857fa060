#include "settings/TrustStore.h"

#include "settings/IniFile.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace oxlip {

namespace {

bool Printable(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) {
            return false;
        }
    }
    return !text.empty();
}

} // namespace

TrustStore::TrustStore(std::string path) : path_(std::move(path)) {}

std::map<std::string, std::string> TrustStore::load() const {
    std::map<std::string, std::string> entries;
    std::ifstream in(path_);
    std::string line;
    for (int count = 0; count < 100000 && std::getline(in, line); ++count) {
        std::istringstream fields(line);
        std::string server, fingerprint, extra;
        if (fields >> server >> fingerprint && !(fields >> extra)) {
            entries[server] = fingerprint;
        }
    }
    return entries;
}

bool TrustStore::save(const std::map<std::string, std::string>& entries) const {
    std::string text;
    for (const auto& [server, fingerprint] : entries) {
        text += server + " " + fingerprint + "\n";
    }
    if (!ReplaceFileAtomically(path_, text, 0600)) {
        return false;
    }
    // A file made by hand with looser bits is narrowed: it says whom this user trusts.
    return ::chmod(path_.c_str(), 0600) == 0;
}

std::optional<std::string> TrustStore::find(const std::string& hostPort) const {
    const auto entries = load();
    const auto found = entries.find(hostPort);
    if (found == entries.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool TrustStore::trust(const std::string& hostPort, const std::string& fingerprint) {
    if (!Printable(hostPort) || !Printable(fingerprint)) {
        return false;
    }
    auto entries = load();
    entries[hostPort] = fingerprint;
    return save(entries);
}

bool TrustStore::forget(const std::string& hostPort) {
    auto entries = load();
    if (entries.erase(hostPort) == 0) {
        return true;
    }
    return save(entries);
}

} // namespace oxlip
