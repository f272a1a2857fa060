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
    : policy_(TlsPolicyOf(settings.profile)), trust_(TrustFilePath(settings)), judge_(parent) {}

ftp::TlsOptions ProfileSecurity::options() {
    ftp::TlsOptions options;
    options.policy = policy_;
    options.trust = &trust_;
    options.judge = &judge_;
    return options;
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

Status OpenProfileSession(Session& session, const Settings& settings, QWidget* parent) {
    const ConnectionProfile& profile = settings.profile;
    ProfileSecurity security(settings, parent);
    SessionLogin login{ServerAddressOf(profile), profile.UserName, profile.PassWord,
                       ConnectionOptionsOf(profile)};
    login.options.tls = security.options();
    std::optional<ftp::CertificateProblem> problem;
    Status status = OpenSession(session, login, &problem);
    if (!status) {
        security.ShowRefusal(problem);
    }
    return status;
}

} // namespace oxlip
