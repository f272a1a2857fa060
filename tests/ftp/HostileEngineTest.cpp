// The engine against a hostile server: odd replies and timing change no result, faults fail
// without hangs, and nothing the server says leads to another host or an unasked command.

#include "HostileFixture.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

#include <thread>

namespace oxlip::test {
namespace {

const std::vector<std::string> kThreeFiles = {"f1.txt", "f2.txt", "f3.txt"};

// Byte-at-a-time, 150 and 226 before the data, odd multi-line replies: the same results.
TEST_F(HostileTest, ByteAtATimeAndBatchedRepliesGiveTheSameResults) {
    struct Result {
        std::vector<std::string> evil, wide;
        std::string binary, ascii, stored;
        bool ok = false;
    };
    auto session = [this](const std::string& scenario) {
        Result r;
        start(scenario, 5000, 5000);
        if (!login() || !client->hasFeature("SIZE") || client->currentDir() != "/") {
            return r; // (odd-multiline: SIZE comes after 1,000 filler lines of FEAT)
        }
        r.evil = names("/evil");
        r.wide = names("/wide/a/*.txt");
        bool got =
            download("/data.bin", false, &r.binary) && download("/hello.txt", true, &r.ascii);
        WriteFileBytes(local.file("up"), "line\none\n");
        int fd = ::open(local.file("up").c_str(), O_RDONLY);
        bool stored = client->store("/wide/up.txt", true, fd, nullptr);
        ::close(fd);
        std::vector<DirEntry> entries;
        bool sized = client->entry("/wide/up.txt", entries.emplace_back());
        r.stored = std::to_string(entries.back().size);
        r.ok = got && stored && sized && client->rename("/wide/up.txt", "/wide/up2.txt") &&
               client->deleteFile("/wide/up2.txt") && stillUsable();
        client->close(); // says QUIT and waits for its answer
        r.ok = r.ok && server->commands().back() == "QUIT";
        return r;
    };
    Result plain = session("");
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.binary, HostileData());
    EXPECT_EQ(plain.ascii, "hello\nworld\n");
    EXPECT_EQ(plain.stored, "11"); // "line\r\none\r\n"
    EXPECT_EQ(plain.wide, (std::vector<std::string>{"f1.txt", "f2.txt"}));
    for (const char* scenario : {"bytewise", "batched", "bytewise,batched", "odd-multiline"}) {
        Result r = session(scenario);
        EXPECT_TRUE(r.ok) << scenario;
        EXPECT_EQ(r.evil, plain.evil) << scenario;
        EXPECT_EQ(r.wide, plain.wide) << scenario;
        EXPECT_EQ(r.binary, plain.binary) << scenario;
        EXPECT_EQ(r.ascii, plain.ascii) << scenario;
        EXPECT_EQ(r.stored, plain.stored) << scenario;
    }
    EXPECT_TRUE(ui.logLines.empty());
}

// A reply of 20,000 lines is a protocol error: the connection is given up, at once.
TEST_F(HostileTest, EndlessRepliesGiveTheConnectionUp) {
    start("");
    ASSERT_TRUE(login());
    std::string text;
    auto begin = Clock::now();
    EXPECT_EQ(client->rawCommand("SITE MANY 20000", &text), 0);
    EXPECT_LT(MsSince(begin), 2500);
    EXPECT_TRUE(client->lost());
    EXPECT_EQ(ui.logLines, std::vector<std::string>{kConnectionLostLine});
}

// No greeting times out while pumping; an unasked 421 is seen before the next command.
TEST_F(HostileTest, NoGreetingTimesOutAndUnaskedClosingIsSeen) {
    start("no-greeting", 700, 700);
    auto begin = Clock::now();
    EXPECT_FALSE(login());
    EXPECT_GE(MsSince(begin), 600);
    EXPECT_LT(MsSince(begin), 5000);
    EXPECT_GE(ui.pumps, 8);
    EXPECT_FALSE(client->isOpen());
    EXPECT_TRUE(ui.logLines.empty()); // a failed login is reported by the caller

    start("421-idle", 10000, 10000);
    ASSERT_TRUE(login());
    ASSERT_TRUE(client->currentDir().has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the 421 arrives meanwhile
    begin = Clock::now();
    EXPECT_FALSE(client->makeDir("/new"));
    EXPECT_LT(MsSince(begin), 2000);
    EXPECT_TRUE(client->lost());
    EXPECT_EQ(ui.logLines, std::vector<std::string>{kConnectionLostLine});
    EXPECT_FALSE(sawCommand("MKD"));
}

// Data connections go only to the control peer; after EPSV is refused, PASV alone. A bad port
// fails, keeps the connection and sends nothing that needs the data connection.
TEST_F(HostileTest, PassiveRepliesLeadOnlyToTheControlPeer) {
    const std::pair<const char*, bool> rows[] = {
        {"pasv-zero", true}, {"pasv-other", true}, {"epsv-zero", false}};
    for (const auto& [scenario, works] : rows) {
        SCOPED_TRACE(scenario);
        start(scenario);
        ASSERT_TRUE(login());
        bool ok = !works;
        EXPECT_EQ(names("/three", &ok), works ? kThreeFiles : std::vector<std::string>{});
        EXPECT_EQ(ok, works);
        std::string bytes;
        EXPECT_EQ(download("/data.bin", false, &bytes), works);
        EXPECT_EQ(bytes, works ? HostileData() : "");
        EXPECT_TRUE(stillUsable());
        if (works) {
            EXPECT_EQ(names("/three"), kThreeFiles); // a second data connection
            const auto lines = server->log();
            EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                                     [](const std::string& l) { return l.rfind("TRAP", 0) == 0; }));
            const auto commands = server->commands();
            EXPECT_EQ(std::count(commands.begin(), commands.end(), "EPSV"), 1);
            EXPECT_EQ(std::count(commands.begin(), commands.end(), "PASV"), 3);
        } else {
            EXPECT_FALSE(sawCommand("RETR"));
            EXPECT_FALSE(sawCommand("LIST"));
        }
        client->close();
    }
}

// close() from the pump ends a wait without a lost line; an unanswered command times out
// pumping, refusing a second call from the pump; later calls fail at once, logged once.
TEST_F(HostileTest, UnansweredCommandLosesTheConnectionOnce) {
    start("no-utf8,silent-command", 2000, 600);
    ASSERT_TRUE(login());
    ui.also = [&] {
        if (ui.pumps == 3) {
            client->close();
        }
    };
    client->setTimeouts(2000, 30000);
    ui.pumps = 0;
    auto begin = Clock::now();
    EXPECT_FALSE(client->changeDir("/x"));
    EXPECT_LT(MsSince(begin), 2000);
    EXPECT_FALSE(client->isOpen());
    EXPECT_TRUE(ui.logLines.empty());
    ui.also = nullptr;
    EXPECT_FALSE(client->changeDir("/"));

    client->setTimeouts(2000, 600);
    ASSERT_TRUE(login());
    ui.pumps = 0;
    int nested = -1;
    ui.also = [&] {
        if (nested == -1) {
            nested = client->rawCommand("NOOP");
        }
    };
    begin = Clock::now();
    EXPECT_FALSE(client->changeDir("/somewhere"));
    EXPECT_EQ(nested, 0);
    ui.also = nullptr;
    EXPECT_GE(MsSince(begin), 500);
    EXPECT_LT(MsSince(begin), 5000);
    EXPECT_GE(ui.pumps, 5);
    EXPECT_TRUE(client->lost());
    EXPECT_FALSE(client->isOpen());
    ASSERT_EQ(ui.logLines.size(), 1u);
    EXPECT_EQ(ui.logLines[0], kConnectionLostLine);

    begin = Clock::now();
    std::vector<DirEntry> entries;
    EXPECT_FALSE(client->list("*.*", entries));
    EXPECT_FALSE(client->currentDir().has_value());
    EXPECT_EQ(client->rawCommand("NOOP"), 0);
    EXPECT_FALSE(client->deleteFile("x"));
    EXPECT_LT(MsSince(begin), 100);
    EXPECT_EQ(ui.logLines.size(), 1u);
    client->close();
    EXPECT_EQ(ui.logLines.size(), 1u);
}

TEST_F(HostileTest, Ipv6Loopback) {
    start("");
    server = std::make_unique<test::HostileServer>("", "", "", "::1");
    if (!server->ok()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ASSERT_TRUE(login());
    EXPECT_EQ(names("/wide/a/*.txt"), (std::vector<std::string>{"f1.txt", "f2.txt"}));
    std::string bytes;
    EXPECT_TRUE(download("/hello.txt", false, &bytes));
    EXPECT_EQ(bytes, "hello\r\nworld\r\n");
}

// Line breaks in names and commands are refused, by the engine and the operations on it.
TEST_F(HostileTest, LineBreaksAreRefusedBeforeAnythingIsSent) {
    start("");
    ASSERT_TRUE(login());
    server->clearLog();
    const std::vector<std::string> badNames = {"/hello.txt\r\nDELE /data.bin", "/x\nRMD /wide",
                                               "/x\r", std::string("/x\0DELE /data.bin", 17)};
    for (const std::string& bad : badNames) {
        std::vector<DirEntry> entries;
        DirEntry entry;
        EXPECT_FALSE(client->changeDir(bad));
        EXPECT_FALSE(client->list(bad, entries));
        EXPECT_FALSE(client->entry(bad, entry));
        EXPECT_FALSE(client->deleteFile(bad));
        EXPECT_FALSE(client->rename(bad, "/y"));
        EXPECT_FALSE(client->rename("/hello.txt", bad));
        EXPECT_FALSE(client->makeDir(bad));
        EXPECT_FALSE(client->removeDir(bad));
        EXPECT_FALSE(download(bad, false));
        int fd = ::open(local.file("down").c_str(), O_RDONLY);
        EXPECT_FALSE(client->store(bad, false, fd, nullptr));
        ::close(fd);
    }
    EXPECT_EQ(client->rawCommand("NOOP\r\nDELE /data.bin"), 0);
    EXPECT_EQ(client->rawCommand("NOOP\nDELE /data.bin"), 0);
    EXPECT_FALSE(DeleteHostFolder(session, "/wide\r\nRMD /wide"));
    EXPECT_FALSE(DownloadFile(session, "/hello.txt\r\nDELE /data.bin", local.file("got"),
                              TransferMode::Binary));
    EXPECT_FALSE(
        DownloadFolder(session, "/wide\nDELE /data.bin", local.file("tree"), TransferMode::Binary));
    EXPECT_FALSE(SendFtpCommand(session, "NOOP\nDELE /data.bin"));
    EXPECT_FALSE(std::filesystem::exists(local.file("got")));
    EXPECT_EQ(client->rawCommand("NOOP\r"), 200); // one final CR is only a line end
    EXPECT_EQ(server->commands(), std::vector<std::string>{"NOOP"});
    EXPECT_TRUE(stillUsable());

    // The login refuses them too, before connecting.
    client->close();
    server->clearLog();
    EXPECT_FALSE(client->connect(server->server(), "test\r\nDELE /data.bin", "secret"));
    EXPECT_FALSE(client->connect(server->server(), "test", "secret\nDELE /data.bin"));
    EXPECT_TRUE(server->commands().empty());
}

} // namespace
} // namespace oxlip::test
