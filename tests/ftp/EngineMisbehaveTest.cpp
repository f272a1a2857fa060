// The engine against a server that misbehaves: it never hangs, the event pump keeps running,
// and a broken connection is reported once and makes later calls fail at once.

#include "ftp/engine/FtpClient.h"
#include "support/FtpServers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace oxlip::ftp {
namespace {

using Clock = std::chrono::steady_clock;

struct LogRecorder : StatusLog {
    std::vector<std::string> lines;
    void append(const std::string& line) override { lines.push_back(line); }
};

struct PumpCounter : EventPump {
    int count = 0;
    void pump() override { ++count; }
};

const char* const kLostLine = "サーバとの接続が切れました。";

class EngineMisbehaveTest : public ::testing::Test {
protected:
    void start(const std::string& modes) {
        std::string why;
        if (!test::CanRunServer(test::ServerKind::Pyftpdlib, &why)) {
            GTEST_SKIP() << why;
        }
        server = std::make_unique<test::MisbehavingServer>(modes);
        ASSERT_TRUE(server->ok());
        client.setTimeouts(2000, 600);
    }
    bool login() {
        return client.connect(server->server(), test::MisbehavingServer::user(),
                              test::MisbehavingServer::password());
    }
    std::chrono::milliseconds since(Clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    LogRecorder log;
    PumpCounter pump;
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

} // namespace
} // namespace oxlip::ftp
