// The engine against a hostile server: odd replies change nothing, faults fail in bounds.

#include "HostileFixture.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace oxlip::test {
namespace {

// Under AddressSanitizer resident sizes mean nothing: the memory bounds go unjudged.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kJudgeMemory = false;
#else
constexpr bool kJudgeMemory = true;
#endif

long ResidentKb() {
    long size = 0, pages = 0;
    std::ifstream("/proc/self/statm") >> size >> pages;
    return pages * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Byte-at-a-time, 150 and 226 before the data, odd multi-line replies: the same results.
TEST_F(HostileTest, ByteAtATimeBatchedAndOddRepliesGiveTheSameResults) {
    const auto run = [this](const std::string& scenario) {
        start(scenario, 5000, 5000);
        WriteFileBytes(local.file("up"), "line\none\n");
        // (odd-multiline: SIZE comes after 1,000 filler lines of FEAT)
        const bool in = login() && client->hasFeature("SIZE") && client->currentDir() == "/";
        std::vector<std::string> r = names("/evil"), more = names("/wide/a/*.txt");
        r.insert(r.end(), more.begin(), more.end());
        std::string binary, ascii;
        DirEntry up;
        const int fd = ::open(local.file("up").c_str(), O_RDONLY);
        const bool ok =
            in && download("/data.bin", false, &binary) && download("/hello.txt", true, &ascii) &&
            client->store("/wide/up.txt", true, fd, nullptr) && client->entry("/wide/up.txt", up) &&
            client->rename("/wide/up.txt", "/wide/up2.txt") &&
            client->deleteFile("/wide/up2.txt") && stillUsable();
        ::close(fd);
        client->close(); // says QUIT and waits for its answer
        r.insert(r.end(), {binary == HostileData() ? "data" : "", ascii, std::to_string(up.size),
                           ok && server->commands().back() == "QUIT" ? "ok" : ""});
        return r;
    };
    const std::vector<std::string> plain = run("");
    EXPECT_EQ(std::vector<std::string>(plain.end() - 6, plain.end()),
              (std::vector<std::string>{"f1.txt", "f2.txt", "data", "hello\nworld\n", "11", "ok"}));
    for (const char* scenario : {"bytewise,batched", "odd-multiline"}) {
        EXPECT_EQ(run(scenario), plain) << scenario;
    }
    EXPECT_TRUE(ui.logLines.empty());
}

// No greeting times out while pumping; an unasked 421 is seen before the next command.
TEST_F(HostileTest, NoGreetingTimesOutAndUnaskedClosingIsSeen) {
    start("no-greeting", 700, 700);
    const auto begin = Clock::now();
    EXPECT_FALSE(login());
    EXPECT_GE(MsSince(begin), 600);
    EXPECT_LT(MsSince(begin), 5000);
    EXPECT_GE(ui.pumps, 8);
    EXPECT_TRUE(ui.logLines.empty()); // a failed login is reported by the caller

    start("421-idle", 10000, 10000);
    ASSERT_TRUE(login() && client->currentDir());
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the 421 arrives meanwhile
    EXPECT_FALSE(client->makeDir("/new"));
    EXPECT_FALSE(sawCommand("MKD"));
    EXPECT_TRUE(lostOnce());
}

// Data connections go only to the control peer; a bad port fails before RETR or LIST.
TEST_F(HostileTest, PassiveRepliesLeadOnlyToTheControlPeer) {
    const std::pair<const char*, bool> rows[] = {
        {"pasv-zero", true}, {"pasv-other", true}, {"epsv-zero", false}};
    for (const auto& [scenario, works] : rows) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        std::string bytes;
        EXPECT_EQ(download("/data.bin", false, &bytes) && bytes == HostileData(), works)
            << scenario;
        EXPECT_EQ(names("/three").size(), works ? 3u : 0u) << scenario; // a second connection
        EXPECT_TRUE(stillUsable()) << scenario;
        const auto log = server->log();
        EXPECT_EQ(CountPrefix(log, "TRAP"), 0) << scenario;
        if (works) {
            EXPECT_EQ(CountPrefix(log, "CMD EPSV"), 1) << scenario;
        } else {
            EXPECT_EQ(CountPrefix(log, "CMD RETR") + CountPrefix(log, "CMD LIST"), 0) << scenario;
        }
    }
}

// close() from the pump ends a wait silently; a time-out pumps, refuses nesting, logs once.
TEST_F(HostileTest, UnansweredCommandLosesTheConnectionOnce) {
    start("silent-command", 2000, 30000);
    ASSERT_TRUE(login());
    ui.also = [&] {
        if (ui.pumps == 3) {
            client->close();
        }
    };
    ui.pumps = 0;
    auto begin = Clock::now();
    EXPECT_FALSE(client->changeDir("/x"));
    EXPECT_LT(MsSince(begin), 2000);
    EXPECT_TRUE(ui.logLines.empty());

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
    ui.also = nullptr;
    EXPECT_EQ(nested, 0);
    EXPECT_GE(MsSince(begin), 500);
    EXPECT_LT(MsSince(begin), 5000);
    EXPECT_GE(ui.pumps, 5);
    EXPECT_TRUE(lostOnce());
}

TEST_F(HostileTest, Ipv6Loopback) {
    start("");
    server = std::make_unique<test::HostileServer>("", "", "", "::1");
    if (!server->ok()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ASSERT_TRUE(login());
    EXPECT_EQ(names("/wide/a/*.txt"), (std::vector<std::string>{"f1.txt", "f2.txt"}));
}

// Line breaks and NULs in names and commands are refused before anything is sent or written.
TEST_F(HostileTest, LineBreaksAreRefusedBeforeAnythingIsSent) {
    start("");
    ASSERT_TRUE(login());
    server->clearLog();
    for (const std::string& bad :
         {std::string("/x\r\nDELE /data.bin"), std::string("/x\0DELE /data.bin", 17)}) {
        std::vector<DirEntry> entries;
        DirEntry entry;
        const int fd = ::open(local.file("down").c_str(), O_RDONLY | O_CREAT, 0644);
        EXPECT_FALSE(client->changeDir(bad) || client->list(bad, entries) ||
                     client->entry(bad, entry) || client->deleteFile(bad) ||
                     client->rename(bad, "/y") || client->rename("/hello.txt", bad) ||
                     client->makeDir(bad) || client->removeDir(bad) ||
                     client->store(bad, false, fd, nullptr) || download(bad, false) ||
                     DownloadFile(session, bad, local.file("got"), TransferMode::Binary) ||
                     client->rawCommand("NOOP" + bad.substr(2)) != 0);
        ::close(fd);
    }
    EXPECT_FALSE(std::filesystem::exists(local.file("got")));
    EXPECT_EQ(client->rawCommand("NOOP\r"), 200); // one final CR is only a line end
    EXPECT_EQ(server->commands(), std::vector<std::string>{"NOOP"});
    client->close();
    server->clearLog();
    EXPECT_FALSE(client->connect(server->server(), "test\r\nDELE /data.bin", "secret"));
    EXPECT_FALSE(client->connect(server->server(), "test", "secret\nDELE /data.bin"));
    EXPECT_TRUE(server->commands().empty());
}

// 100,000 entries, 32 MiB lines, a 5,000-line reply: each in a child, within its growth in KiB.
TEST_F(HostileTest, BigListingsHugeLinesAndLongRepliesStayWithinBoundedMemory) {
    start("", 10000, 30000);
    const std::pair<long, std::function<bool(ftp::FtpClient&)>> rows[] = {
        {190L * 1024,
         [](ftp::FtpClient& c) {
             std::vector<DirEntry> e;
             return c.list("/big-100000", e) && e.size() == 100000 &&
                    e.back().name == "file-0099999.dat" && e.back().size == 99999;
         }},
        {24L * 1024, [](ftp::FtpClient& c) {
             std::vector<DirEntry> e;
             std::string text;
             return c.list("/huge-32", e) && e.size() == 3 && e[2].name == "f3.txt" &&
                    c.rawCommand("SITE LONG 33554432", &text) == 200 && text.size() <= 65536 &&
                    c.rawCommand("NOOP") == 200 && c.rawCommand("SITE MANY 5000 2048") == 0 &&
                    c.lost();
         }}};
    for (const auto& [growthKb, steps] : rows) {
        const long before = ResidentKb();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(60);
            ::_exit(login() && steps(*client) ? 0 : 1);
        }
        int status = 0;
        rusage usage{};
        ASSERT_EQ(::wait4(pid, &status, 0, &usage), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << growthKb;
        EXPECT_TRUE(!kJudgeMemory || usage.ru_maxrss - before < growthKb)
            << growthKb << ": peak " << usage.ru_maxrss << " KiB, before: " << before << " KiB";
    }
}

} // namespace
} // namespace oxlip::test
