// File and tree operations against the hostile server.

#include "HostileFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

namespace oxlip::test {
namespace {

namespace fs = std::filesystem;

// True when the host path lies inside the folder: below it, with no "." or ".." part.
bool InsideFolder(const std::string& path, const std::string& folder) {
    const std::string parts = "/" + path + "/";
    return (path == folder || path.rfind(folder + "/", 0) == 0) &&
           parts.find("/./") == std::string::npos && parts.find("/../") == std::string::npos;
}

// Only the parent's listing (is the folder a link?) and a CWD to it may name a path outside.
void ExpectAllInside(const std::vector<std::string>& commands, const std::string& folder) {
    const std::string parent = folder.substr(0, std::max<std::size_t>(folder.rfind('/'), 1));
    for (const std::string& path : PathsOf(commands, {"LIST", "MLSD", "CWD"})) {
        EXPECT_TRUE(path == parent || InsideFolder(path, folder)) << path;
    }
    for (const std::string& path : PathsOf(commands, {"RETR", "DELE", "RMD", "SIZE", "MDTM", "MLST",
                                                      "STOR", "MKD", "RNFR", "RNTO"})) {
        EXPECT_TRUE(InsideFolder(path, folder)) << path;
    }
}

// Nothing reached through the links is acted on or listed (a CWD may try one).
void ExpectLinksNotFollowed(const std::vector<std::string>& commands,
                            const std::vector<std::string>& links) {
    for (const std::string& link : links) {
        for (const std::string& path : PathsOf(commands, {"LIST", "MLSD", "CWD", "RETR", "DELE"})) {
            EXPECT_EQ(path.find(link + "/"), std::string::npos) << path;
        }
        for (const std::string& c : commands) {
            EXPECT_TRUE(c != "LIST -a " + link && c != "MLSD " + link && c != "LIST " + link) << c;
        }
    }
}

class HostileOpsTest : public HostileTest {
protected:
    std::string target() const { return local.file("target.bin"); }
    // target.bin kept, nothing else but the hidden part kept for a resume.
    void expectUntouched() {
        EXPECT_EQ(ReadFileBytes(target()), "previous content");
        EXPECT_EQ(WithoutPartial(LocalNames(local.path(), true)),
                  std::vector<std::string>{"target.bin"});
    }
    static std::vector<std::string> WithoutPartial(std::vector<std::string> names) {
        std::erase(names, ".target.bin.oxlip-part");
        return names;
    }
};

// Each failure keeps the previous file and leaves no part; 425/426/451/short end at once and
// the connection goes on; a trickle meets the data time-out while pumping.
TEST_F(HostileOpsTest, FailedDownloadsKeepThePreviousFileAndLeaveNoPart) {
    for (const std::string name :
         {"/fail-425.bin", "/fail-426.bin", "/fail-451.bin", "/short.bin", "/trickle.bin"}) {
        start("", 3000, 1500);
        ASSERT_TRUE(login()) << name;
        WriteFileBytes(target(), "previous content");
        ui.pumps = 0;
        auto begin = Clock::now();
        EXPECT_FALSE(DownloadFile(session, name, target(), TransferMode::Binary)) << name;
        const long long ms = MsSince(begin);
        EXPECT_LT(ms, 6000) << name;
        if (name == "/trickle.bin") {
            EXPECT_GE(ms, 1400) << name;
            EXPECT_GE(ui.pumps, 15) << name;
        } else {
            EXPECT_LT(ms, 1400) << name;
            EXPECT_GT(ui.pumps, 0) << name;
            EXPECT_TRUE(stillUsable()) << name;
        }
        expectUntouched();
        // Nothing new either when there was no file before.
        std::filesystem::remove(target());
        EXPECT_FALSE(DownloadFile(session, name, target(), TransferMode::Binary)) << name;
        EXPECT_TRUE(WithoutPartial(LocalNames(local.path(), true)).empty()) << name;
        client->close();
    }
}

// A reset or a 421 mid-session: the operation fails at once, logged once, later calls fast.
TEST_F(HostileOpsTest, LostConnectionsFailTheOperationAtOnce) {
    start("", 10000, 10000); // long time-outs: nothing may wait for them
    ASSERT_TRUE(login());
    WriteFileBytes(target(), "previous content");
    auto begin = Clock::now();
    EXPECT_FALSE(DownloadFile(session, "/reset.bin", target(), TransferMode::Binary));
    EXPECT_LT(MsSince(begin), 2500);
    EXPECT_TRUE(client->lost());
    expectUntouched();
    begin = Clock::now();
    EXPECT_FALSE(DeleteHostFile(session, "/hello.txt"));
    EXPECT_FALSE(DownloadFolder(session, "/wide", local.file("tree"), TransferMode::Binary));
    EXPECT_LT(MsSince(begin), 200);
    fs::remove_all(local.file("tree"));
    EXPECT_EQ(ui.logLines, std::vector<std::string>{kConnectionLostLine});

    start("", 10000, 10000);
    ui.logLines.clear();
    ASSERT_TRUE(login());
    begin = Clock::now();
    EXPECT_EQ(HostCurrentDirectory(session, "/die421").value(), "");
    EXPECT_LT(MsSince(begin), 2000);
    EXPECT_TRUE(client->lost());
    EXPECT_FALSE(client->isOpen());
    EXPECT_FALSE(SendFtpCommand(session, "NOOP"));
    EXPECT_EQ(ui.logLines, std::vector<std::string>{kConnectionLostLine});
}

// LIST and MLSD: a tree takes sizes from the listing (a differing size is asked by SIZE and
// fails only if that differs too); hostile names and links never lead out of the folder, are
// told once, shown safely, fail the download after the rest; a delete removes links as links.
TEST_F(HostileOpsTest, TreeWalksCheckSizesAndStayInsideTheirFolder) {
    for (const std::string scenario : {"", "mlsd"}) {
        SCOPED_TRACE(scenario);
        start(scenario);
        ASSERT_TRUE(login());
        const std::string into = local.file("t" + scenario);
        fs::create_directories(into);
        server->clearLog();
        EXPECT_TRUE(DownloadFolder(session, "/wide", into + "/wide", TransferMode::Binary));
        auto commands = server->commands();
        EXPECT_EQ(CountPrefix(commands, "RETR"), 26);
        for (const char* lookup : {"SIZE", "MDTM", "MLST"}) {
            EXPECT_EQ(CountPrefix(commands, lookup), 0) << lookup;
        }
        // A CWD per folder (13), and one back to where the walk started.
        EXPECT_EQ(CountPrefix(commands, "CWD"), 14);
        EXPECT_EQ(ReadFileBytes(into + "/wide/c/c/f2.txt"), "two");

        server->clearLog();
        EXPECT_TRUE(DownloadFolder(session, "/grew", into + "/grew", TransferMode::Binary));
        EXPECT_TRUE(ReadFileBytes(into + "/grew/grown.bin") == HostileData());
        EXPECT_EQ(PathsOf(server->commands(), {"SIZE"}),
                  std::vector<std::string>{"/grew/grown.bin"});
        EXPECT_FALSE(DownloadFolder(session, "/cut", into + "/cut", TransferMode::Binary));
        EXPECT_EQ(LocalNames(into + "/cut", true), std::vector<std::string>{"a.bin"});

        server->clearLog();
        EXPECT_TRUE(DownloadFile(session, "/data.bin", target(), TransferMode::Binary));
        commands = server->commands();
        EXPECT_EQ(CountPrefix(commands, "MDTM"), 0);
        EXPECT_EQ(CountPrefix(commands, "SIZE") + CountPrefix(commands, "MLST"), 1);
        EXPECT_TRUE(ReadFileBytes(target()) == HostileData());

        ASSERT_TRUE(client->changeDir("/evil"));
        server->clearLog();
        ui.journal.clear();
        fs::create_directories(into + "/in");
        EXPECT_FALSE(DownloadFolder(session, "/evil", into + "/in/evil", TransferMode::Binary));
        EXPECT_EQ(LocalNames(into + "/in", true),
                  (std::vector<std::string>{"evil", "evil/ctl\x01\x1bname.txt", "evil/good.txt",
                                            "evil/sub", "evil/sub/inner.txt"}));
        EXPECT_EQ(ReadFileBytes(into + "/in/evil/sub/inner.txt"), "inner");
        auto skips = ui.lines("skip ");
        std::sort(skips.begin(), skips.end());
        EXPECT_EQ(skips, (std::vector<std::string>{
                             "skip failed-link /evil/self", "skip failed-link /evil/up",
                             "skip unsafe /evil/../escape.txt", "skip unsafe /evil//abs-dir",
                             "skip unsafe /evil//etc-escape.txt", "skip unsafe /evil/a/b.txt",
                             "skip unsafe /evil/esc\\x1B[2J/x.txt"}));
        EXPECT_TRUE(DeleteHostFolder(session, "/evil"));
        commands = server->commands();
        ExpectAllInside(commands, "/evil");
        ExpectLinksNotFollowed(commands, {"/evil/self", "/evil/up"});
        for (const char* link : {"DELE /evil/self", "DELE /evil/up"}) {
            EXPECT_NE(std::find(commands.begin(), commands.end(), link), commands.end()) << link;
        }
        bool ok = false;
        std::vector<std::string> left = names("/*.*", &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(std::count(left.begin(), left.end(), "evil"), 0);
        EXPECT_EQ(std::count(left.begin(), left.end(), "hello.txt"), 1);
        client->close();
    }
}

TEST_F(HostileOpsTest, FolderThatHoldsItselfEnds) {
    start("", 3000, 3000);
    ASSERT_TRUE(login());
    auto begin = Clock::now();
    EXPECT_FALSE(DownloadFolder(session, "/loop", local.file("loop"), TransferMode::Binary));
    EXPECT_LT(MsSince(begin), 60000);
    // The walk stopped at its depth limit.
    std::size_t deepest = 0;
    for (const std::string& path : LocalNames(local.path(), true)) {
        deepest = std::max<std::size_t>(deepest, std::count(path.begin(), path.end(), '/'));
    }
    EXPECT_LE(deepest, 70u);
    begin = Clock::now();
    EXPECT_FALSE(DeleteHostFolder(session, "/loop"));
    EXPECT_LT(MsSince(begin), 60000);
    ExpectAllInside(server->commands(), "/loop");
    EXPECT_TRUE(stillUsable());
}

// CP932, invalid and UTF-8 names (UTF8 on, absent, refused) go back in the server's bytes;
// CP932 reads as CP932 unless the server took UTF8.
TEST_F(HostileOpsTest, ServerByteNamesDownloadRenameAndDelete) {
    const std::string cp932 = "\x83\x65\x83\x58\x83\x67.txt"; // テスト.txt
    const std::vector<std::string> raws = {cp932, "bad\xff\xfe.bin", "日本.txt"};
    for (const std::string scenario : {"no-utf8", "", "utf8-refused"}) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        EXPECT_EQ(client->namesUtf8(), scenario.empty()) << scenario;
        std::vector<DirEntry> entries;
        ASSERT_TRUE(ListHostFolder(session, entries, "/names/*.*")) << scenario;
        ASSERT_EQ(entries.size(), 3u) << scenario;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string name = entries[i].name;
            if (entries[i].size == 5 && !scenario.empty()) { // the CP932 name
                EXPECT_EQ(name, "テスト.txt") << scenario;
            }
            const std::string into = local.file(scenario + "item" + std::to_string(i));
            EXPECT_TRUE(DownloadFile(session, "/names/" + name, into, TransferMode::Binary))
                << scenario << i;
            EXPECT_EQ(ReadFileBytes(into).size(), entries[i].size) << scenario << i;
            EXPECT_TRUE(RenameHostFile(session, "/names/" + name, "/names/" + name + ".o"));
            EXPECT_TRUE(DeleteHostFile(session, "/names/" + name + ".o")) << scenario << i;
        }
        EXPECT_TRUE(ListHostFolder(session, entries, "/names/*.*")) << scenario;
        EXPECT_TRUE(entries.empty()) << scenario;
        auto commands = server->commands();
        for (const std::string& raw : raws) {
            for (const char* verb : {"RETR ", "RNFR "}) {
                const std::string logged = verb + ("/names/" + LoggedBytes(raw));
                EXPECT_NE(std::find(commands.begin(), commands.end(), logged), commands.end())
                    << scenario << " " << logged;
            }
        }
        client->close();
    }
}

} // namespace
} // namespace oxlip::test
