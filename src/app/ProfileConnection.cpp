#include "app/ProfileConnection.h"

#include <algorithm>

namespace oxlip {

ftp::TlsPolicy TlsPolicyOf(const ConnectionProfile& profile) {
    switch (profile.Encryption) {
    case EncryptRequired:
        return ftp::TlsPolicy::Required;
    case EncryptImplicit:
        return ftp::TlsPolicy::Implicit;
    case EncryptNone:
        return ftp::TlsPolicy::None;
    default:
        return ftp::TlsPolicy::IfAvailable;
    }
}

std::string ServerAddressOf(const ConnectionProfile& profile) {
    const std::string& server = profile.Server;
    if (profile.Port <= 0) {
        return server;
    }
    std::string host = server;
    if (!server.empty() && server.front() == '[') {
        host = server.substr(0, server.find(']') + 1); // "[v6addr]", any port after it dropped
    } else if (std::count(server.begin(), server.end(), ':') == 1) {
        host = server.substr(0, server.find(':'));
    } else if (server.find(':') != std::string::npos) {
        host = "[" + server + "]"; // a bare IPv6 address
    }
    return host + ":" + std::to_string(profile.Port);
}

std::string TrustFilePath(const Settings& settings) {
    const std::string& folder = settings.folder();
    return folder + (folder.empty() || folder.back() == '/' ? "" : "/") + kTrustFileName;
}

ProfileSecurity::ProfileSecurity(const Settings& settings, QWidget* parent)
    : settings_(settings), trust_(TrustFilePath(settings)), asker_(parent) {}

ftp::TlsOptions ProfileSecurity::options() {
    ftp::TlsOptions options;
    options.policy = TlsPolicyOf(settings_.profile);
    options.trust = &trust_;
    options.judge = this;
    return options;
}

ftp::CertificateDecision ProfileSecurity::decide(const ftp::CertificateProblem& problem) {
    const auto key = std::make_pair(problem.hostPort, problem.fingerprint);
    if (passed_.count(key) != 0) {
        return ftp::CertificateDecision::ConnectOnce;
    }
    const ftp::CertificateDecision decision = asker_.decide(problem);
    if (decision == ftp::CertificateDecision::ConnectOnce) {
        passed_.insert(key);
    }
    return decision;
}

ftp::ConnectionOptions ConnectionOptionsOf(const ConnectionProfile& profile) {
    ftp::ConnectionOptions options;
    options.tls.policy = TlsPolicyOf(profile);
    options.data = profile.Passive ? ftp::DataMode::Passive : ftp::DataMode::Active;
    switch (profile.NameEncoding) {
    case NamesUtf8:
        options.encoding = ftp::NameEncoding::Utf8;
        break;
    case NamesCp932:
        options.encoding = ftp::NameEncoding::Cp932;
        break;
    case NamesEucJp:
        options.encoding = ftp::NameEncoding::EucJp;
        break;
    default:
        options.encoding = ftp::NameEncoding::Auto;
        break;
    }
    options.keepAliveSeconds = profile.KeepAlive;
    return options;
}

Status OpenProfileSession(Session& session, const Settings& settings, ProfileSecurity& security) {
    const ConnectionProfile& profile = settings.profile;
    SessionLogin login{ServerAddressOf(profile), profile.UserName, profile.PassWord,
                       ConnectionOptionsOf(profile)};
    login.options.tls = security.options();
    std::optional<ftp::CertificateProblem> problem;
    Status status = OpenSession(session, login, &problem);
    security.ShowRefusal(status ? std::nullopt : problem); // after every attempt
    return status;
}

} // namespace oxlip
