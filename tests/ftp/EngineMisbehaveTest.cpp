// The engine against a server that misbehaves: it never hangs, the event pump keeps running,
// and a broken connection is reported once and makes later calls fail at once.

#include "EngineRecorders.h"
#include "ftp/engine/FtpClient.h"
#include "support/FtpServers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace oxlip::ftp {
namespace {

using Clock = std::chrono::steady_clock;

const char* const kLostLine = "サーバとの接続が切れました。";

class EngineMisbehaveTest : public ::testing::Test {
protected:
    void start(const std::string& modes, const std::string& host = "127.0.0.1") {
        std::string why;
        if (!test::CanRunServer(test::ServerKind::Pyftpdlib, &why)) {
            GTEST_SKIP() << why;
        }
        server = std::make_unique<test::MisbehavingServer>(modes, host);
        ASSERT_TRUE(server->ok());
        client.setTimeouts(2000, 600);
    }
    bool login() {
        return client.connect(server->server(), test::MisbehavingServer::user(),
                              test::MisbehavingServer::password());
    }
    // Downloads into a fresh local file; the file's bytes in *bytes.
    bool download(const std::string& name, bool ascii, std::string* bytes = nullptr) {
        int fd = ::open(local.file("down").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            return false;
        }
        bool ok = client.retrieve(name, ascii, fd, nullptr);
        ::close(fd);
        if (bytes) {
            *bytes = test::ReadFileBytes(local.file("down"));
        }
        return ok;
    }
    // The connection still answers commands.
    bool stillUsable() { return client.isOpen() && client.rawCommand("NOOP") == 200; }
    std::chrono::milliseconds since(Clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    test::LogLines log;
    test::PumpCounter pump;
    FtpClient client{SessionPorts{&log, nullptr, &pump, nullptr}};
    std::unique_ptr<test::MisbehavingServer> server;
    test::TempDir local;
};

TEST_F(EngineMisbehaveTest, NoGreetingTimesOutWhilePumping) {
    start("no-greeting");
    auto begin = Clock::now();
    EXPECT_FALSE(login());
    EXPECT_GE(since(begin).count(), 500);
    EXPECT_LT(since(begin).count(), 5000);
    EXPECT_GE(pump.count, 5); // at least every 50 ms of the 600 ms wait
    EXPECT_FALSE(client.isOpen());
    EXPECT_TRUE(log.lines.empty()); // a failed login is reported by the caller
}

TEST_F(EngineMisbehaveTest, UnansweredCommandLosesTheConnectionOnce) {
    start("silent-command");
    ASSERT_TRUE(login());
    pump.count = 0;
    auto begin = Clock::now();
    EXPECT_FALSE(client.changeDir("/somewhere"));
    EXPECT_GE(since(begin).count(), 500);
    EXPECT_LT(since(begin).count(), 5000);
    EXPECT_GE(pump.count, 5);
    EXPECT_TRUE(client.lost());
    EXPECT_FALSE(client.isOpen());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], kLostLine);

    // Every later call fails at once and the log says it only once.
    begin = Clock::now();
    std::vector<DirEntry> entries;
    EXPECT_FALSE(client.list("*.*", entries));
    EXPECT_FALSE(client.currentDir().has_value());
    EXPECT_EQ(client.rawCommand("NOOP"), 0);
    EXPECT_FALSE(client.deleteFile("x"));
    EXPECT_LT(since(begin).count(), 100);
    EXPECT_EQ(log.lines.size(), 1u);
    client.close();
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(EngineMisbehaveTest, RepliesOneByteAtATimeWorkAsUsual) {
    start("byte-at-a-time");
    client.setTimeouts(5000, 5000);
    ASSERT_TRUE(login());
    EXPECT_EQ(client.currentDir().value_or("?"), "/");
    EXPECT_TRUE(client.hasFeature("SIZE"));
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client.list("*.*", entries));
    EXPECT_EQ(entries.size(), 2u);
    int fd = ::open(local.file("hello.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(client.retrieve("hello.txt", true, fd, nullptr));
    ::close(fd);
    EXPECT_EQ(test::ReadFileBytes(local.file("hello.txt")), "hello\nworld\n");
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(EngineMisbehaveTest, TricklingDataConnectionTimesOut) {
    start("trickle");
    client.setTimeouts(2000, 1500);
    ASSERT_TRUE(login());
    int fd = ::open(local.file("data.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    pump.count = 0;
    auto begin = Clock::now();
    EXPECT_FALSE(client.retrieve("data.bin", false, fd, nullptr));
    ::close(fd);
    EXPECT_GE(since(begin).count(), 1400);
    EXPECT_LT(since(begin).count(), 8000);
    EXPECT_GE(pump.count, 20);
}

std::string ExpectedData() {
    std::string bytes;
    for (int round = 0; round < 64; ++round) {
        for (int i = 0; i < 256; ++i) {
            bytes += char(i);
        }
    }
    return bytes;
}

TEST_F(EngineMisbehaveTest, PassiveRepliesOnlyEverReachTheControlPeer) {
    // EPSV refused: PASV is used, and the third host it names is never contacted.
    start("epsv-refused");
    ASSERT_TRUE(login());
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client.list("*.*", entries));
    EXPECT_EQ(entries.size(), 2u);
    std::string bytes;
    ASSERT_TRUE(download("data.bin", false, &bytes));
    EXPECT_EQ(bytes, ExpectedData());
}

TEST_F(EngineMisbehaveTest, MalformedPassiveRepliesAreErrors) {
    for (const char* mode : {"pasv-malformed", "epsv-bad-port"}) {
        start(mode);
        ASSERT_TRUE(login()) << mode;
        std::vector<DirEntry> entries;
        EXPECT_FALSE(client.list("*.*", entries)) << mode;
        EXPECT_FALSE(download("data.bin", false)) << mode;
        EXPECT_TRUE(stillUsable()) << mode;
        client.close();
    }
}

TEST_F(EngineMisbehaveTest, IncompleteTransfersAreFailures) {
    // Fewer bytes than SIZE announced, then 226.
    start("short-data");
    ASSERT_TRUE(login());
    EXPECT_FALSE(download("data.bin", false));
    EXPECT_TRUE(stillUsable());
    client.close();

    // 150, then the data connection closes and 451 follows.
    start("fail-after-150");
    ASSERT_TRUE(login());
    EXPECT_FALSE(download("data.bin", false));
    EXPECT_TRUE(stillUsable());
    client.close();

    // All the data but no final reply: a time-out, and the connection is given up.
    start("no-final");
    ASSERT_TRUE(login());
    auto begin = Clock::now();
    EXPECT_FALSE(download("data.bin", false));
    EXPECT_LT(since(begin).count(), 5000);
    EXPECT_TRUE(client.lost());
    EXPECT_EQ(log.lines, std::vector<std::string>{kLostLine});
}

TEST_F(EngineMisbehaveTest, FinalReplyBeforeTheDataStillGetsAllOfIt) {
    start("early-226");
    ASSERT_TRUE(login());
    std::string bytes;
    ASSERT_TRUE(download("data.bin", false, &bytes));
    EXPECT_EQ(bytes, ExpectedData());
    EXPECT_TRUE(stillUsable());
}

TEST_F(EngineMisbehaveTest, ServiceClosingMidSession) {
    start("421-after-login");
    ASSERT_TRUE(login());
    EXPECT_FALSE(client.changeDir("/x"));
    EXPECT_TRUE(client.lost());
    EXPECT_EQ(log.lines, std::vector<std::string>{kLostLine});
    auto begin = Clock::now();
    EXPECT_FALSE(client.makeDir("/y"));
    EXPECT_LT(since(begin).count(), 100);
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(EngineMisbehaveTest, ControlResetDuringATransfer) {
    start("reset-in-retr");
    ASSERT_TRUE(login());
    auto begin = Clock::now();
    EXPECT_FALSE(download("data.bin", false));
    EXPECT_LT(since(begin).count(), 3000);
    EXPECT_TRUE(client.lost());
    EXPECT_EQ(log.lines, std::vector<std::string>{kLostLine});
    EXPECT_FALSE(client.isOpen());
}

TEST_F(EngineMisbehaveTest, Ipv6Loopback) {
    start("", "::1");
    if (!server->ok()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ASSERT_TRUE(login());
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client.list("*.*", entries));
    EXPECT_EQ(entries.size(), 2u);
    std::string bytes;
    ASSERT_TRUE(download("hello.txt", false, &bytes));
    EXPECT_EQ(bytes, "hello\r\nworld\r\n");
}

TEST_F(EngineMisbehaveTest, CallsFromInsideThePump) {
    start("silent-command");
    ASSERT_TRUE(login());
    // A second call while one runs is refused at once.
    int nested = -1;
    pump.also = [&] {
        if (nested == -1) {
            nested = client.rawCommand("NOOP");
        }
    };
    EXPECT_FALSE(client.changeDir("/x")); // never answered: times out
    EXPECT_EQ(nested, 0);
    client.close();

    // Closing from inside the pump ends the waiting call quickly, without a lost line.
    log.lines.clear();
    ASSERT_TRUE(login());
    client.setTimeouts(2000, 30000);
    pump.count = 0;
    pump.also = [&] {
        if (pump.count == 3) {
            client.close();
        }
    };
    auto begin = Clock::now();
    EXPECT_FALSE(client.changeDir("/x"));
    EXPECT_LT(since(begin).count(), 2000);
    EXPECT_FALSE(client.isOpen());
    EXPECT_TRUE(log.lines.empty());
    pump.also = nullptr;
    EXPECT_FALSE(client.changeDir("/"));
}

} // namespace
} // namespace oxlip::ftp
