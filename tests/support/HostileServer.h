#pragma once
// The scripted hostile server (tests/servers/hostile_server.py) on a loopback port, with the
// log of every command line it received and of its data connections.

#include "support/FtpServers.h"
#include "support/TempDir.h"

#include <cstdint>
#include <string>
#include <vector>

namespace oxlip::test {

class HostileServer {
public:
    // scenarios: comma-separated ("bytewise,mlsd"); "" is a well-behaved server.
    // cert and key (PEM files): it speaks FTPS (scenario "tls-implicit": implicit).
    explicit HostileServer(const std::string& scenarios = "", const std::string& cert = "",
                           const std::string& key = "");
    bool ok() const { return port_ != 0; }
    uint16_t port() const { return port_; }
    std::string server() const; // "127.0.0.1:port"
    static const char* user() { return "test"; }
    static const char* password() { return "secret"; }

    // Every logged line so far ("CMD RETR x", "DATA-OPEN 1", "DATA-CLOSE", "TRAP 127.0.0.1"),
    // bytes outside printable ASCII written as \xNN.
    std::vector<std::string> log() const;
    // The command lines received so far (the text after "CMD ").
    std::vector<std::string> commands() const;
    // The most data connections that were open at once.
    int maxOpenData() const;
    void clearLog() const;

private:
    TempDir dir_;
    ChildProcess process_;
    uint16_t port_ = 0;
};

} // namespace oxlip::test
