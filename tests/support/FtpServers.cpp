#include "support/FtpServers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace oxlip::test {

namespace {

using Clock = std::chrono::steady_clock;
const char* const kVsftpd = "/usr/sbin/vsftpd";
const char* const kPython = "/usr/bin/python3";
const char* const kVsftpdUser = "oxliptest";
const char* const kVsftpdPassword = "oxlip-Test-7";
const std::string kServersDir = OXLIP_TEST_SERVERS_DIR;

// Binds port on 127.0.0.1 (0: any free one) and gives the port, or connects to it.
int LoopbackSocket(uint16_t& port, bool connect) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    auto* addr = reinterpret_cast<sockaddr*>(&a);
    const bool ok = connect ? ::connect(fd, addr, len) == 0
                            : ::bind(fd, addr, len) == 0 && ::getsockname(fd, addr, &len) == 0;
    port = ok ? ntohs(a.sin_port) : 0;
    return fd;
}

// Waits up to 5 s for the port to greet with "220" (implicit FTPS: to take a connection).
bool AcceptsFtp(uint16_t port, bool tlsFirst) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        uint16_t connected = port;
        const int fd = LoopbackSocket(connected, true);
        pollfd p{fd, POLLIN, 0};
        char greeting[4] = {};
        const bool ok = connected && (tlsFirst || (::poll(&p, 1, 3000) == 1 &&
                                                   ::recv(fd, greeting, 3, MSG_WAITALL) == 3 &&
                                                   std::string(greeting) == "220"));
        ::close(fd);
        if (ok) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

// Starts a scripted server and reads the port it prints once it listens; 0 when it did not.
uint16_t StartAndReadPort(ChildProcess& process, const std::vector<std::string>& argv) {
    std::string line;
    return process.start(argv) && process.readLine(line, 15000) ? uint16_t(std::atoi(line.c_str()))
                                                                : 0;
}

// The local login user for vsftpd with a known password, under a lock (tests run in parallel).
// Its home is "/": vsftpd enters it before the configured root.
const passwd* EnsureVsftpdUser() {
    const std::string user = kVsftpdUser;
    const int status = std::system(("flock /tmp/oxlip-vsftpd-user.lock sh -c '(id -u " + user +
                                    " || useradd -M -d / -s /bin/bash " + user + "; usermod -d / " +
                                    user + ") >/dev/null 2>&1; echo " + user + ":" +
                                    kVsftpdPassword + " | chpasswd -c SHA512'")
                                       .c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ::getpwnam(kVsftpdUser)
                                                                         : nullptr;
}

} // namespace

const char* ServerKindName(ServerKind kind) {
    return kind == ServerKind::Pyftpdlib ? "pyftpdlib" : "vsftpd";
}

bool CanRunServer(ServerKind kind, std::string* why) {
    const char* problem =
        kind == ServerKind::Pyftpdlib
            ? (::access(kPython, X_OK) != 0 ? "/usr/bin/python3 is missing" : nullptr)
        : ::geteuid() != 0             ? "vsftpd tests need root (a local login user and a chroot)"
        : ::access(kVsftpd, X_OK) != 0 ? "vsftpd is not installed"
                                       : nullptr;
    if (problem && why) {
        *why = problem;
    }
    return !problem;
}

bool ChildProcess::start(const std::vector<std::string>& argv) {
    stop();
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(fds[1], 1);
        if (::getppid() == parent) {
            ::execv(args[0], args.data());
        }
        ::_exit(127);
    }
    ::close(fds[1]);
    stdoutFd_ = fds[0];
    return pid_ > 0;
}

// One line of standard output without its end, read byte by byte: nothing past it is taken.
bool ChildProcess::readLine(std::string& line, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    line.clear();
    for (char c = 0;; line += c) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{stdoutFd_, POLLIN, 0};
        if (stdoutFd_ < 0 || left <= 0 || ::poll(&p, 1, int(left)) <= 0 ||
            ::read(stdoutFd_, &c, 1) != 1) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
    }
}

void ChildProcess::stop() {
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
        stdoutFd_ = -1;
    }
    for (int i = 0; pid_ > 0 && i <= 100; ++i) { // up to 2 s, then it is killed
        const int signal = i < 100 ? SIGTERM : SIGKILL;
        if (i % 100 == 0) {
            ::kill(-pid_, signal);
            ::kill(pid_, signal);
        }
        if (::waitpid(pid_, nullptr, i < 100 ? WNOHANG : 0) == pid_) {
            pid_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pid_ > 0 ? 20 : 0));
    }
}

FtpServer::FtpServer(ServerKind kind, const ServerTls& tls, int maxPerIp, int idleSeconds) {
    if (!CanRunServer(kind, &error_)) {
        return;
    }
    ::mkdir(root_.c_str(), 0755);
    if (kind == ServerKind::Vsftpd) {
        startVsftpd(tls, maxPerIp, idleSeconds);
        return;
    }
    user_ = "oxlip";
    password_ = "secret-7";
    std::vector<std::string> argv = {kPython, kServersDir + "/pyftpd_server.py", user_, password_,
                                     root_};
    if (tls.enabled) {
        argv.insert(argv.end(), {"--certfile", tls.files.cert, "--keyfile", tls.files.key});
        if (tls.implicit) {
            argv.push_back("--implicit");
        }
    }
    port_ = StartAndReadPort(process_, argv);
    error_ = ok() ? "" : "pyftpdlib does not accept connections";
}

void FtpServer::startVsftpd(const ServerTls& tls, int maxPerIp, int idleSeconds) {
    user_ = kVsftpdUser;
    password_ = kVsftpdPassword;
    const passwd* pw = EnsureVsftpdUser();
    if (!pw) {
        error_ = "could not set up the local user for vsftpd";
        return;
    }
    uid_ = int(pw->pw_uid);
    gid_ = int(pw->pw_gid);
    // The login user must reach its root; the chroot helper folder must stay root's.
    ::chmod(base_.path().c_str(), 0755);
    giveToUser(root_);
    const std::string empty = base_.file("empty");
    const std::string conf = base_.file("vsftpd.conf");
    ::mkdir(empty.c_str(), 0755);
    for (int attempt = 0; attempt < 5; ++attempt) {
        uint16_t port = 0;
        ::close(LoopbackSocket(port, false));
        std::ofstream out(conf, std::ios::trunc);
        out << "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" << port
            << "\nseccomp_sandbox=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
            << "local_umask=022\nchroot_local_user=YES\nallow_writeable_chroot=YES\nlocal_root="
            << root_ << "\nsecure_chroot_dir=" << empty
            << "\nascii_upload_enable=YES\nascii_download_enable=YES\nmax_per_ip=" << maxPerIp
            << "\nidle_session_timeout=" << idleSeconds << "\n";
        if (tls.enabled) {
            out << "xferlog_enable=YES\nlog_ftp_protocol=YES\nvsftpd_log_file=" << base_.path()
                << "/vsftpd.log\nssl_enable=YES\nrequire_ssl_reuse=YES\n"
                << "force_local_logins_ssl=YES\nforce_local_data_ssl=YES\nssl_ciphers=HIGH\n"
                << "rsa_cert_file=" << tls.files.cert << "\nrsa_private_key_file=" << tls.files.key
                << "\n"
                << (tls.implicit ? "implicit_ssl=YES\n" : "");
        }
        out.close();
        ::chmod(conf.c_str(), 0600);
        if (process_.start({kVsftpd, conf}) && AcceptsFtp(port, tls.implicit)) {
            port_ = port;
            return;
        }
        process_.stop();
    }
    error_ = "vsftpd does not accept connections";
}

void FtpServer::giveToUser(const std::string& path) const {
    if (uid_ >= 0 && ::chown(path.c_str(), uid_t(uid_), gid_t(gid_)) != 0) {
        std::perror("chown");
    }
}

void FtpServer::writeFile(const std::string& relative, const std::string& bytes) const {
    WriteFileBytes(path(relative), bytes);
    giveToUser(path(relative));
}

void FtpServer::makeDir(const std::string& relative) const {
    ::mkdir(path(relative).c_str(), 0755);
    giveToUser(path(relative));
}

bool FtpServer::exists(const std::string& relative) const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path(relative), ec));
}

HostileServer::HostileServer(const std::string& scenarios, const std::string& cert,
                             const std::string& key, const std::string& host)
    : host_(host) {
    std::vector<std::string> argv = {kPython,      kServersDir + "/hostile_server.py",
                                     "--scenario", scenarios,
                                     "--log",      dir_.file("log"),
                                     "--host",     host};
    if (!cert.empty()) {
        argv.insert(argv.end(), {"--cert", cert, "--key", key});
    }
    port_ = StartAndReadPort(process_, argv);
}

std::string HostileServer::server() const {
    return (host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_) + ":" +
           std::to_string(port_);
}

std::vector<std::string> HostileServer::log(const std::string& prefix) const {
    std::vector<std::string> lines;
    std::ifstream in(dir_.file("log"));
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(prefix)) {
            lines.push_back(line.substr(prefix.size()));
        }
    }
    return lines;
}

int HostileServer::maxOpenData() const {
    int most = 0;
    for (const std::string& open : log("DATA-OPEN ")) {
        most = std::max(most, std::atoi(open.c_str()));
    }
    return most;
}

} // namespace oxlip::test
