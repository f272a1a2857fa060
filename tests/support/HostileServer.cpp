#include "support/HostileServer.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace oxlip::test {

HostileServer::HostileServer(const std::string& scenarios, const std::string& cert,
                             const std::string& key) {
    std::vector<std::string> argv = {"/usr/bin/python3",
                                     std::string(OXLIP_TEST_SERVERS_DIR) + "/hostile_server.py",
                                     "--scenario",
                                     scenarios,
                                     "--log",
                                     dir_.file("log"),
                                     "--user",
                                     user(),
                                     "--password",
                                     password()};
    if (!cert.empty()) {
        argv.insert(argv.end(), {"--cert", cert, "--key", key});
    }
    if (!process_.start(argv, true)) {
        return;
    }
    std::string line;
    if (process_.readLine(line, 15000)) {
        port_ = uint16_t(std::atoi(line.c_str()));
    }
}

std::string HostileServer::server() const {
    return "127.0.0.1:" + std::to_string(port_);
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

void HostileServer::clearLog() const {
    std::ofstream(dir_.file("log"), std::ios::trunc);
}

} // namespace oxlip::test
