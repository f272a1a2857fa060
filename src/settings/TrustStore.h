#pragma once
// Certificates the user chose to trust although they did not verify, one per server
// ("host:port"), kept by their SHA-256 fingerprint in a small text file of the settings
// folder (mode 0600), one "host:port fingerprint" line each. The file is rewritten atomically;
// unreadable lines are skipped and kept out of the next rewrite.

#include <map>
#include <optional>
#include <string>

namespace oxlip {

// The name of the file in the settings folder.
constexpr const char* kTrustFileName = "TrustedCerts.txt";

class TrustStore {
public:
    // path: the file (it need not exist yet).
    explicit TrustStore(std::string path);

    // The fingerprint trusted for the server, read from the file now.
    std::optional<std::string> find(const std::string& hostPort) const;
    // Trusts the fingerprint for the server (replacing any other). False when the file could
    // not be written; it is then unchanged.
    bool trust(const std::string& hostPort, const std::string& fingerprint);
    // Forgets the server's certificate. False when the file could not be written.
    bool forget(const std::string& hostPort);

    const std::string& path() const { return path_; }

private:
    std::map<std::string, std::string> load() const;
    bool save(const std::map<std::string, std::string>& entries) const;

    std::string path_;
};

} // namespace oxlip
