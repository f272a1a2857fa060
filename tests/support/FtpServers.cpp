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
#include <random>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace oxlip::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kVsftpdBinary = "/usr/sbin/vsftpd";
const char* const kPython = "/usr/bin/python3";
const char* const kVsftpdUser = "oxliptest";
const char* const kVsftpdPassword = "oxlip-Test-7";
const char* const kPyUser = "oxlip";
const char* const kPyPassword = "secret-7";

const std::string kServersDir = OXLIP_TEST_SERVERS_DIR;

sockaddr_in Loopback(uint16_t port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A port that was free a moment ago on 127.0.0.1.
uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback();
    socklen_t len = sizeof a;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    ::close(fd);
    return ok ? ntohs(a.sin_port) : 0;
}

// Waits up to 5 s for the port to greet with "220" (implicit FTPS: to take a connection).
bool AcceptsFtp(uint16_t port, bool tlsFirst) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(port);
        pollfd p{fd, POLLIN, 0};
        char greeting[4] = {};
        const bool ok =
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            (tlsFirst || (::poll(&p, 1, 3000) == 1 && ::recv(fd, greeting, 3, MSG_WAITALL) == 3 &&
                          std::string(greeting) == "220"));
        ::close(fd);
        if (ok) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

// Starts a scripted server and reads the port it prints first; 0 when it did not.
uint16_t StartAndReadPort(ChildProcess& process, const std::vector<std::string>& argv) {
    std::string line;
    return process.start(argv, true) && process.readLine(line, 15000)
               ? uint16_t(std::atoi(line.c_str()))
               : 0;
}

// Makes sure the local login user for vsftpd exists with a known password, under a file lock
// (several test processes may do this at once). vsftpd enters the home folder before the
// configured root: "/" always exists.
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
        : ::geteuid() != 0 ? "vsftpd tests need root (a local login user and a chroot)"
        : ::access(kVsftpdBinary, X_OK) != 0 ? "vsftpd is not installed"
                                             : nullptr;
    if (problem && why) {
        *why = problem;
    }
    return !problem;
}

bool ChildProcess::start(const std::vector<std::string>& argv, bool captureStdout) {
    stop();
    int fds[2] = {-1, -1};
    if (captureStdout && ::pipe2(fds, O_CLOEXEC) != 0) {
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
        ::dup2(captureStdout ? fds[1] : devnull, 1);
        if (::getppid() == parent) {
            ::execv(args[0], args.data());
        }
        ::_exit(127);
    }
    if (captureStdout) {
        ::close(fds[1]);
        stdoutFd_ = fds[0]; // closed by stop()
    }
    return pid_ > 0;
}

bool ChildProcess::readLine(std::string& line, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    line.clear();
    for (char c = 0;; line += c) { // byte by byte: nothing past the line is taken
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
    if (pid_ <= 0) {
        return;
    }
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) { // up to 2 s
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

FtpServer::FtpServer(ServerKind kind, const ServerTls& tls, int maxPerIp, int idleSeconds)
    : kind_(kind), tls_(tls), maxPerIp_(maxPerIp), idleSeconds_(idleSeconds) {
    std::string why;
    if (!CanRunServer(kind, &why)) {
        error_ = why;
        return;
    }
    root_ = base_.path() + "/root";
    ::mkdir(root_.c_str(), 0755);
    ok_ = kind == ServerKind::Pyftpdlib ? startPyftpdlib() : startVsftpd();
}

bool FtpServer::startPyftpdlib() {
    user_ = kPyUser;
    password_ = kPyPassword;
    std::vector<std::string> argv = {kPython,      kServersDir + "/pyftpd_server.py",
                                     "--user",     user_,
                                     "--password", password_,
                                     "--root",     root_};
    if (tls_.enabled) {
        argv.insert(argv.end(), {"--certfile", tls_.files.cert, "--keyfile", tls_.files.key});
        if (tls_.implicit) {
            argv.push_back("--implicit");
        }
    }
    // It prints its port once it accepts connections.
    port_ = StartAndReadPort(process_, argv);
    if (port_ == 0) {
        error_ = "pyftpdlib does not accept connections";
    }
    return port_ != 0;
}

bool FtpServer::startVsftpd() {
    user_ = kVsftpdUser;
    password_ = kVsftpdPassword;
    const passwd* pw = EnsureVsftpdUser();
    if (!pw) {
        error_ = "could not set up the local user for vsftpd";
        return false;
    }
    uid_ = int(pw->pw_uid);
    gid_ = int(pw->pw_gid);
    // The login user must reach its root; the chroot helper folder must stay root's.
    ::chmod(base_.path().c_str(), 0755);
    giveToUser(root_);
    std::string empty = base_.path() + "/empty";
    ::mkdir(empty.c_str(), 0755);
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreePort();
        int pasvMin = 20000 + int(random() % 800) * 50;
        std::string conf = base_.path() + "/vsftpd.conf";
        std::ofstream out(conf, std::ios::trunc);
        out << "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" << port_
            << "\nseccomp_sandbox=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
            << "local_umask=022\nchroot_local_user=YES\nallow_writeable_chroot=YES\nlocal_root="
            << root_ << "\nsecure_chroot_dir=" << empty << "\npasv_min_port=" << pasvMin
            << "\npasv_max_port=" << pasvMin + 49
            << "\nascii_upload_enable=YES\nascii_download_enable=YES\nmax_per_ip=" << maxPerIp_
            << "\nidle_session_timeout=" << idleSeconds_
            << "\nftpd_banner=oxlip test server ready.\n";
        // FTPS, and a protocol log (only then: the plain tests stay as they were).
        if (tls_.enabled) {
            out << "xferlog_enable=YES\nlog_ftp_protocol=YES\nvsftpd_log_file=" << base_.path()
                << "/vsftpd.log\nssl_enable=YES\nrequire_ssl_reuse=YES\n"
                << "force_local_logins_ssl=YES\nforce_local_data_ssl=YES\nssl_ciphers=HIGH\n"
                << "rsa_cert_file=" << tls_.files.cert
                << "\nrsa_private_key_file=" << tls_.files.key << "\n"
                << (tls_.implicit ? "implicit_ssl=YES\n" : "");
        }
        out.close();
        ::chmod(conf.c_str(), 0600);
        if (!process_.start({kVsftpdBinary, conf}, false)) {
            error_ = "could not start vsftpd";
            return false;
        }
        if (AcceptsFtp(port_, tls_.implicit)) {
            return true;
        }
        process_.stop();
    }
    error_ = "vsftpd does not accept connections";
    return false;
}

void FtpServer::giveToUser(const std::string& path) const {
    if (kind_ == ServerKind::Vsftpd && uid_ >= 0 &&
        ::chown(path.c_str(), uid_t(uid_), gid_t(gid_)) != 0) {
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
    return fs::symlink_status(path(relative), ec).type() != fs::file_type::not_found && !ec;
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

std::vector<std::string> HostileServer::log() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_.file("log"));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> HostileServer::commands() const {
    std::vector<std::string> out;
    for (const std::string& line : log()) {
        if (line.rfind("CMD ", 0) == 0) {
            out.push_back(line.substr(4));
        }
    }
    return out;
}

int HostileServer::maxOpenData() const {
    int most = 0;
    for (const std::string& line : log()) {
        if (line.rfind("DATA-OPEN ", 0) == 0) {
            most = std::max(most, std::atoi(line.c_str() + 10));
        }
    }
    return most;
}

} // namespace oxlip::test
