#pragma once
// Real FTP servers for the tests, each on a free loopback port with a fresh temporary root:
// pyftpdlib (MLSD, SIZE, MDTM, SITE CHMOD, UTF8) and vsftpd (LIST only, no UTF8), started by
// hand with a generated configuration. Also the scripted hostile server. Each server is
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
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv, bool captureStdout);
    // One line of standard output (without its end), waited for up to timeoutMs.
    bool readLine(std::string& line, int timeoutMs);
    void stop();

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
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
    // maxPerIp: vsftpd takes at most that many connections from one address (0: any number).
    // idleSeconds: vsftpd drops a session idle that long ("421 Timeout.").
    explicit FtpServer(ServerKind kind, const ServerTls& tls = {}, int maxPerIp = 0,
                       int idleSeconds = 600);
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    uint16_t port() const { return port_; }
    std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    // The local folder that is the FTP root (no final "/").
    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root() + "/" + relative; }

    // Files and folders in the root, made so that the server's login user owns them.
    void writeFile(const std::string& relative, const std::string& bytes) const;
    void makeDir(const std::string& relative) const;
    std::string readFile(const std::string& relative) const {
        return ReadFileBytes(path(relative));
    }
    bool exists(const std::string& relative) const;
    // vsftpd's protocol log (commands and replies) so far; "" for pyftpdlib (no such file).
    std::string protocolLog() const { return ReadFileBytes(base_.file("vsftpd.log")); }

private:
    bool startPyftpdlib();
    bool startVsftpd();
    void giveToUser(const std::string& path) const;

    ServerKind kind_;
    ServerTls tls_;
    int maxPerIp_ = 0;
    int idleSeconds_ = 600;
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

// The scripted hostile server (tests/servers/hostile_server.py) on a loopback port, with the
// log of every command line it received and of its data connections.
class HostileServer {
public:
    // scenarios: comma-separated ("bytewise,mlsd"), listed at the top of hostile_server.py;
    // "" is a well-behaved server. cert and key (PEM files): it speaks FTPS (scenario
    // "tls-implicit": implicit). host: the loopback address to listen on ("::1" for IPv6).
    explicit HostileServer(const std::string& scenarios = "", const std::string& cert = "",
                           const std::string& key = "", const std::string& host = "127.0.0.1");
    bool ok() const { return port_ != 0; }
    uint16_t port() const { return port_; }
    std::string server() const; // "127.0.0.1:port" or "[::1]:port"
    static const char* user() { return "test"; }
    static const char* password() { return "secret"; }

    // Every logged line so far ("CMD RETR x", "DATA-OPEN 1", "DATA-CLOSE", "TRAP 127.0.0.1"),
    // bytes outside printable ASCII written as \xNN.
    std::vector<std::string> log() const;
    // The command lines received so far (the text after "CMD ").
    std::vector<std::string> commands() const;
    // The most data connections that were open at once.
    int maxOpenData() const;
    void clearLog() const { WriteFileBytes(dir_.file("log"), ""); }

private:
    TempDir dir_;
    ChildProcess process_;
    std::string host_;
    uint16_t port_ = 0;
};

// The window's tests know the scripted server by this name.
using MisbehavingServer = HostileServer;

} // namespace oxlip::test
