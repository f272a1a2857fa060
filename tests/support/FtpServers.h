#pragma once
// Real FTP servers for the tests, each on a free loopback port with a fresh temporary root,
// stopped when its object goes: pyftpdlib (MLSD, SIZE, MDTM, SITE CHMOD, UTF8) and vsftpd (LIST
// only, no UTF8, generated configuration); and the scripted hostile server.

#include "support/TempDir.h"
#include "support/TestCerts.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace oxlip::test {

enum class ServerKind { Pyftpdlib, Vsftpd };

const char* ServerKindName(ServerKind kind);

// Whether this machine can run the server; why not, in why (vsftpd needs root).
bool CanRunServer(ServerKind kind, std::string* why = nullptr);

// A child in its own process group, killed with it when the object or the test process goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv); // standard output into a pipe
    bool readLine(std::string& line, int timeoutMs);
    void stop();

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
};

// FTPS, explicit (AUTH TLS) or implicit; vsftpd then requires TLS for logins and data.
struct ServerTls {
    bool enabled = false;
    bool implicit = false;
    CertFiles files;
};

class FtpServer {
public:
    // maxPerIp: vsftpd's connections per address (0: any); idleSeconds: its idle time-out.
    explicit FtpServer(ServerKind kind, const ServerTls& tls = {}, int maxPerIp = 0,
                       int idleSeconds = 600);
    bool ok() const { return port_ != 0; }
    const std::string& error() const { return error_; }
    uint16_t port() const { return port_; }
    std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

    // Entries in the root, owned by the server's login user.
    void writeFile(const std::string& relative, const std::string& bytes) const;
    void makeDir(const std::string& relative) const;
    std::string readFile(const std::string& relative) const {
        return ReadFileBytes(path(relative));
    }
    bool exists(const std::string& relative) const;
    // vsftpd's protocol log with TLS; "" otherwise.
    std::string protocolLog() const { return ReadFileBytes(base_.file("vsftpd.log")); }

private:
    void startVsftpd(const ServerTls& tls, int maxPerIp, int idleSeconds);
    void giveToUser(const std::string& path) const;

    std::string error_;
    uint16_t port_ = 0;
    std::string user_;
    std::string password_;
    TempDir base_;
    std::string root_ = base_.file("root");
    ChildProcess process_;
    int uid_ = -1;
    int gid_ = -1;
};

// The scripted hostile server (tests/servers/hostile_server.py) and the log it keeps.
class HostileServer {
public:
    // scenarios: comma-separated, "" for a well-behaved server; cert and key: FTPS.
    explicit HostileServer(const std::string& scenarios = "", const std::string& cert = "",
                           const std::string& key = "", const std::string& host = "127.0.0.1");
    bool ok() const { return port_ != 0; }
    uint16_t port() const { return port_; }
    std::string server() const; // "127.0.0.1:port" or "[::1]:port"
    static const char* user() { return "test"; }
    static const char* password() { return "secret"; }

    // The logged lines ("CMD RETR x", "DATA-OPEN 1", "DATA-CLOSE", "TRAP 127.0.0.1") that start
    // with prefix, without it; non-ASCII bytes as \xNN.
    std::vector<std::string> log(const std::string& prefix = "") const;
    std::vector<std::string> commands() const { return log("CMD "); }
    int maxOpenData() const; // the most data connections open at once
    void clearLog() const { WriteFileBytes(dir_.file("log"), ""); }

private:
    TempDir dir_;
    ChildProcess process_;
    std::string host_;
    uint16_t port_ = 0;
};

using MisbehavingServer = HostileServer;

} // namespace oxlip::test
