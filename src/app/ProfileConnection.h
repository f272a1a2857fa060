#pragma once
// A profile's connection options as the connection takes them: the server address with the
// profile's port, and the FTPS options with the trust file of the settings folder and the
// window's certificate judge.

#include "core/Status.h"
#include "dialogs/Frm_Cert.h"
#include "ftp/Session.h"
#include "ftp/engine/Tls.h"
#include "settings/Settings.h"
#include "settings/TrustStore.h"

#include <set>
#include <string>
#include <utility>

class QWidget;

namespace oxlip {

// The FTPS policy of the profile's encryption.
ftp::TlsPolicy TlsPolicyOf(const ConnectionProfile& profile);

// The server to connect to: Server as typed, or, when the profile sets a port, its host with
// that port ("host:port", "[v6addr]:port"; a port typed into Server gives way). Without a port
// of the profile's own, the connection takes 21, or 990 for implicit TLS.
std::string ServerAddressOf(const ConnectionProfile& profile);

// The profile's connection options: encryption policy, passive or active data connections, the
// name encoding, the keep-alive interval (the TLS trust and judge are the caller's).
ftp::ConnectionOptions ConnectionOptionsOf(const ConnectionProfile& profile);

// The file of trusted certificates in the settings folder.
std::string TrustFilePath(const Settings& settings);

// The FTPS side of the window's connections to its profile: the trust file and the certificate
// dialog. The window keeps one for as long as it lives, because the session's login points into
// it (its reconnects and the extra connections of tree transfers use that login). A certificate
// the user let through "this time only" is let through again without asking for the rest of that
// connection, its reconnects included, until the next connection starts (startConnection()).
// After each attempt, ShowRefusal() with the attempt's certificate problem shows a certificate
// the engine refused without asking.
class ProfileSecurity : public ftp::CertificateJudge {
public:
    ProfileSecurity(const Settings& settings, QWidget* parent);
    ProfileSecurity(const ProfileSecurity&) = delete;
    ProfileSecurity& operator=(const ProfileSecurity&) = delete;

    // The options with the profile's encryption as it is now.
    ftp::TlsOptions options();
    // A new connection to the profile (not a reconnect): nothing let through before counts.
    void startConnection() { passed_.clear(); }
    ftp::CertificateDecision decide(const ftp::CertificateProblem& problem) override;
    void ShowRefusal(const std::optional<ftp::CertificateProblem>& problem) {
        asker_.ShowRefusal(problem);
    }

private:
    const Settings& settings_;
    TrustStore trust_;
    CertificateAsker asker_;
    std::set<std::pair<std::string, std::string>> passed_; // "host:port" and fingerprint
};

// Opens the session with everything the profile sets for its connection: the address with its
// port, the encryption with the trust file and the window's certificate dialog (asked before
// the login; a certificate the engine refused without asking is shown afterwards). security
// must outlive the session's use of its login.
Status OpenProfileSession(Session& session, const Settings& settings, ProfileSecurity& security);

} // namespace oxlip
