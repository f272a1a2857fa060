#pragma once
// Real FTP servers for the tests, each on a free loopback port with a fresh temporary root:
// pyftpdlib (MLSD, SIZE, MDTM, SITE CHMOD, UTF8) and vsftpd (LIST only, no UTF8), started by
// hand with a generated configuration. Also the scripted misbehaving server. Each server is
// stopped when its object goes.

#include "support/TempDir.h"
#include "support/TestCerts.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace oxlip::test {

enum class ServerKind { Pyftpdlib, Vsftpd };

// "pyftpdlib" or "vsftpd" (for test names).
const char* ServerKindName(ServerKind kind);

// Whether this machine can run the server at all; why not, in why. vsftpd needs root (it is
// started by hand and logs a local user in).
bool CanRunServer(ServerKind kind, std::string* why = nullptr);

// A child process started with a pipe on its standard output; killed with its process group
// when the object goes, and with the test process when that dies.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv, bool captureStdout);
    // One line of standard output (without its end), waited for up to timeoutMs.
    bool readLine(std::string& line, int timeoutMs);
    void stop();
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    std::string pending_;
};

// FTPS for a test server: explicit (AUTH TLS) or implicit, with this certificate. vsftpd then
// requires TLS for logins and data and the reuse of the control connection's TLS session.
struct ServerTls {
    bool enabled = false;
    bool implicit = false;
    CertFiles files;
};

class FtpServer {
public:
    explicit FtpServer(ServerKind kind, const ServerTls& tls = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    ServerKind kind() const { return kind_; }

    uint16_t port() const { return port_; }
    std::string server() const; // "127.0.0.1:port"
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    const std::string& root() const; // local folder that is the FTP root (no final "/")
    std::string path(const std::string& relative) const { return root() + "/" + relative; }

    // Files and folders in the root, made so that the server's login user owns them.
    void writeFile(const std::string& relative, const std::string& bytes) const;
    void makeDir(const std::string& relative) const;
    std::string readFile(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // vsftpd's protocol log (commands and replies) so far; "" for pyftpdlib.
    std::string protocolLog() const;

private:
    bool startPyftpdlib();
    bool startVsftpd();
    void giveToUser(const std::string& path) const;

    ServerKind kind_;
    ServerTls tls_;
    bool ok_ = false;
    std::string error_;
    uint16_t port_ = 0;
    std::string user_;
    std::string password_;
    TempDir base_; // holds the root and, for vsftpd, its configuration
    std::string root_;
    ChildProcess process_;
    int uid_ = -1, gid_ = -1; // the vsftpd login user
};

// The scripted misbehaving server (tests/servers/misbehave.py) with the given modes,
// comma-separated; the modes are listed at the top of misbehave.py.
class MisbehavingServer {
public:
    // host: the loopback address to listen on ("127.0.0.1" or "::1").
    explicit MisbehavingServer(const std::string& modes, const std::string& host = "127.0.0.1");
    bool ok() const { return port_ != 0; }
    uint16_t port() const { return port_; }
    std::string server() const; // "127.0.0.1:port" or "[::1]:port"
    static const char* user() { return "test"; }
    static const char* password() { return "secret"; }

private:
    ChildProcess process_;
    std::string host_;
    uint16_t port_ = 0;
};

} // namespace oxlip::test
