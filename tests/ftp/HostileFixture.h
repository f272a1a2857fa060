#pragma once
// A client of the hostile test server with a recording sink, and helpers for its tests.

#include "Helpers.h"
#include "UiRecorder.h"
#include "ftp/Session.h"
#include "support/FtpServers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace oxlip::test {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The 16 KiB every data file of the hostile server holds.
inline std::string HostileData() {
    std::string bytes(256 * 64, '\0');
    std::generate(bytes.begin(), bytes.end(), [i = 0]() mutable { return char(i++ % 256); });
    return bytes;
}

class HostileTest : public ::testing::Test {
protected:
    // Starts the server (FTPS with tls); short time-outs keep failing cases fast.
    void start(const std::string& scenarios, int connectMs = 3000, int replyMs = 3000,
               const CertFiles* tls = nullptr) {
        if (!CanRunServer(ServerKind::Pyftpdlib)) {
            GTEST_SKIP() << "no /usr/bin/python3";
        }
        session.attach(std::make_unique<ftp::FtpClient>(SessionPorts{&ui, nullptr}));
        client = session.client();
        server =
            std::make_unique<HostileServer>(scenarios, tls ? tls->cert : "", tls ? tls->key : "");
        ASSERT_TRUE(server->ok());
        client->setTimeouts(connectMs, replyMs);
    }
    bool login() {
        return client->connect(server->server(), HostileServer::user(), HostileServer::password());
    }
    bool sawCommand(const std::string& prefix) const {
        return CountPrefix(server->commands(), prefix) > 0;
    }
    bool stillUsable() { return client->isOpen() && client->rawCommand("NOOP") == 200; }
    bool lostOnce() const { return ui.logLines == std::vector<std::string>{"lost"}; }
    bool download(const std::string& path, bool ascii, std::string* bytes = nullptr) {
        const int fd = ::open(local.file("down").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool ok = fd >= 0 && client->retrieve(path, ascii, fd, nullptr);
        ::close(fd);
        if (bytes) {
            *bytes = ReadFileBytes(local.file("down"));
        }
        return ok;
    }
    std::vector<std::string> names(const std::string& pattern) {
        std::vector<DirEntry> entries;
        listed = client->list(pattern, entries);
        std::vector<std::string> out(entries.size());
        std::transform(entries.begin(), entries.end(), out.begin(), [](auto& e) { return e.name; });
        return out;
    }

    UiRecorder ui; // its ports carry no ASCII list
    Session session;
    ftp::FtpClient* client = nullptr; // the session's engine
    std::unique_ptr<HostileServer> server;
    TempDir local;
    bool listed = false; // whether the last names() succeeded
};

} // namespace oxlip::test
