// The engine against a server that misbehaves in ways the hostile server does not: a command
// left unanswered, passive replies with impossible numbers, IPv6, and calls from the pump.

#include "HostileFixture.h"
#include "UiRecorder.h"

#include <optional>

namespace oxlip::ftp {
namespace {

using test::Clock;
using test::kConnectionLostLine;
using test::MsSince;

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
    // Downloads in binary into a fresh local file; its bytes.
    std::optional<std::string> download(const std::string& name) {
        int fd = ::open(local.file("down").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool ok = fd >= 0 && client.retrieve(name, false, fd, nullptr);
        ::close(fd);
        return ok ? std::optional(test::ReadFileBytes(local.file("down"))) : std::nullopt;
    }
    // The connection still answers commands.
    bool stillUsable() { return client.isOpen() && client.rawCommand("NOOP") == 200; }

    test::UiRecorder ui;
    FtpClient client{SessionPorts{&ui, nullptr}};
    std::unique_ptr<test::MisbehavingServer> server;
    test::TempDir local;
};

// An unanswered command times out while pumping; a second call made from the pump meanwhile
// is refused at once.
TEST_F(EngineMisbehaveTest, UnansweredCommandLosesTheConnectionOnce) {
    start("silent-command");
    ASSERT_TRUE(login());
    ui.pumps = 0;
    int nested = -1;
    ui.also = [&] {
        if (nested == -1) {
            nested = client.rawCommand("NOOP");
        }
    };
    auto begin = Clock::now();
    EXPECT_FALSE(client.changeDir("/somewhere"));
    EXPECT_EQ(nested, 0);
    ui.also = nullptr;
    EXPECT_GE(MsSince(begin), 500);
    EXPECT_LT(MsSince(begin), 5000);
    EXPECT_GE(ui.pumps, 5);
    EXPECT_TRUE(client.lost());
    EXPECT_FALSE(client.isOpen());
    ASSERT_EQ(ui.logLines.size(), 1u);
    EXPECT_EQ(ui.logLines[0], kConnectionLostLine);

    // Every later call fails at once and the log says it only once.
    begin = Clock::now();
    std::vector<DirEntry> entries;
    EXPECT_FALSE(client.list("*.*", entries));
    EXPECT_FALSE(client.currentDir().has_value());
    EXPECT_EQ(client.rawCommand("NOOP"), 0);
    EXPECT_FALSE(client.deleteFile("x"));
    EXPECT_LT(MsSince(begin), 100);
    EXPECT_EQ(ui.logLines.size(), 1u);
    client.close();
    EXPECT_EQ(ui.logLines.size(), 1u);
}

TEST_F(EngineMisbehaveTest, MalformedPassiveRepliesAreErrors) {
    for (const char* mode : {"pasv-malformed", "epsv-bad-port"}) {
        start(mode);
        ASSERT_TRUE(login()) << mode;
        std::vector<DirEntry> entries;
        EXPECT_FALSE(client.list("*.*", entries)) << mode;
        EXPECT_FALSE(download("data.bin")) << mode;
        EXPECT_TRUE(stillUsable()) << mode;
        client.close();
    }
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
    EXPECT_EQ(download("hello.txt").value_or("failed"), "hello\r\nworld\r\n");
}

// Closing from inside the pump ends the waiting call quickly, without a lost line.
TEST_F(EngineMisbehaveTest, CloseFromInsideThePumpEndsTheWait) {
    start("silent-command");
    ASSERT_TRUE(login());
    client.setTimeouts(2000, 30000);
    ui.pumps = 0;
    ui.also = [&] {
        if (ui.pumps == 3) {
            client.close();
        }
    };
    auto begin = Clock::now();
    EXPECT_FALSE(client.changeDir("/x"));
    EXPECT_LT(MsSince(begin), 2000);
    EXPECT_FALSE(client.isOpen());
    EXPECT_TRUE(ui.logLines.empty());
    ui.also = nullptr;
    EXPECT_FALSE(client.changeDir("/"));
}

} // namespace
} // namespace oxlip::ftp
