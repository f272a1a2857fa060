// Downloads and tree walks against the hostile server: failures keep files, walks stay inside.

#include "HostileFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

#include <map>

namespace oxlip::test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Names Sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

// The path of each logged command with one of the verbs (a bare listing: the last CWD's).
Names PathsOf(const Names& commands, const Names& verbs) {
    Names out;
    std::string here = "/";
    for (const std::string& c : commands) {
        const auto space = c.find(' ');
        const std::string verb = c.substr(0, space);
        std::string arg = space == std::string::npos ? "" : c.substr(space + 1);
        arg = arg == "-a" ? "" : arg.rfind("-a ", 0) == 0 ? arg.substr(3) : arg;
        const bool listing = verb == "LIST" || verb == "MLSD";
        here = verb == "CWD" ? arg : here;
        if ((listing || !arg.empty()) && Has(verbs, verb)) {
            out.push_back(listing && arg.empty() ? here : arg);
        }
    }
    return out;
}

// True when the host path lies inside the folder: below it, with no "." or ".." part.
bool InsideFolder(const std::string& path, const std::string& folder) {
    const std::string parts = "/" + path + "/";
    return (path == folder || path.rfind(folder + "/", 0) == 0) &&
           parts.find("/./") == std::string::npos && parts.find("/../") == std::string::npos;
}

// Only the parent's listing (is the folder a link?) and a CWD to it may name a path outside.
void ExpectAllInside(const Names& commands, const std::string& folder) {
    const std::string parent = folder.substr(0, std::max<std::size_t>(folder.rfind('/'), 1));
    for (const std::string& path : PathsOf(commands, {"LIST", "MLSD", "CWD"})) {
        EXPECT_TRUE(path == parent || InsideFolder(path, folder)) << path;
    }
    for (const std::string& path : PathsOf(commands, {"RETR", "DELE", "RMD", "SIZE", "MDTM", "MLST",
                                                      "STOR", "MKD", "RNFR", "RNTO"})) {
        EXPECT_TRUE(InsideFolder(path, folder)) << path;
    }
}

class HostileOpsTest : public HostileTest {
protected:
    std::string target() const { return local.file("target.bin"); }
};

// Failures keep the previous file, make none and end at once (a trickle: at the data time-out).
TEST_F(HostileOpsTest, FailedDownloadsKeepThePreviousFileAndMakeNone) {
    enum After { Usable, Lost, TimedOut };
    const std::pair<const char*, After> rows[] = {
        {"/fail-425.bin", Usable}, {"/fail-426.bin", Usable}, {"/fail-451.bin", Usable},
        {"/short.bin", Usable},    {"/reset.bin", Lost},      {"/trickle.bin", TimedOut}};
    for (const auto& [name, after] : rows) {
        for (const std::string before : {"previous content", ""}) {
            start("", 3000, 1500);
            ASSERT_TRUE(login()) << name;
            before.empty() ? fs::remove(target()) : WriteFileBytes(target(), before);
            const auto begin = Clock::now();
            EXPECT_FALSE(DownloadFile(session, name, target(), TransferMode::Binary)) << name;
            const long long ms = MsSince(begin);
            EXPECT_TRUE(after == TimedOut ? ms >= 1400 && ms < 6000 && ui.pumps >= 15
                                          : ms < 1400 && ui.pumps > 0)
                << name << " " << ms << " ms";
            EXPECT_TRUE(after == TimedOut || (after == Usable ? stillUsable() : client->lost()))
                << name;
            EXPECT_EQ(ReadFileBytes(target()), before) << name;
            Names left = LocalNames(local.path());
            std::erase(left, ".target.bin.oxlip-part");
            EXPECT_EQ(left, before.empty() ? Names{} : Names{"target.bin"}) << name;
        }
    }
}

// A 421 in answer ends the session: the operation and the next ones fail at once, logged once.
TEST_F(HostileOpsTest, AClosingReplyFailsTheOperationAndTheNextOnesAtOnce) {
    start("", 10000, 10000); // long time-outs: nothing may wait for them
    ASSERT_TRUE(login());
    const auto begin = Clock::now();
    EXPECT_EQ(HostCurrentDirectory(session, "/die421").value(), "");
    EXPECT_FALSE(DeleteHostFile(session, "/hello.txt"));
    EXPECT_FALSE(DownloadFolder(session, "/wide", local.file("tree"), TransferMode::Binary));
    EXPECT_FALSE(SendFtpCommand(session, "NOOP"));
    EXPECT_LT(MsSince(begin), 2000);
    EXPECT_TRUE(lostOnce());
}

// Hostile names and links are told once and never lead out; sizes that differ are asked by SIZE.
TEST_F(HostileOpsTest, TreeWalksCheckSizesAndStayInsideTheirFolder) {
    for (const std::string scenario : {"", "mlsd"}) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        const std::string into = local.file("t" + scenario);
        fs::create_directories(into);
        ASSERT_TRUE(client->changeDir("/evil"));
        server->clearLog();
        ui.journal.clear();
        EXPECT_FALSE(DownloadFolder(session, "/evil", into + "/evil", TransferMode::Binary));
        EXPECT_EQ(LocalNames(into, true),
                  (Names{"evil", "evil/ctl\x01\x1bname.txt", "evil/good.txt", "evil/sub",
                         "evil/sub/inner.txt"}))
            << scenario;
        EXPECT_EQ(Sorted(ui.lines("skip ")),
                  (Names{"skip failed-link /evil/self", "skip failed-link /evil/up",
                         "skip unsafe /evil/../escape.txt", "skip unsafe /evil//abs-dir",
                         "skip unsafe /evil//etc-escape.txt", "skip unsafe /evil/a/b.txt",
                         "skip unsafe /evil/esc\\x1B[2J/x.txt"}))
            << scenario;
        EXPECT_TRUE(DeleteHostFolder(session, "/evil")) << scenario;
        auto commands = server->commands();
        ExpectAllInside(commands, "/evil");
        for (const std::string link : {"/evil/self", "/evil/up"}) {
            EXPECT_TRUE(Has(commands, "DELE " + link)) << scenario << link;
            for (const std::string verb : {"LIST -a ", "LIST ", "MLSD "}) {
                EXPECT_FALSE(Has(commands, verb + link)) << scenario << link;
            }
            for (const std::string& path : PathsOf(commands, {"LIST", "MLSD", "CWD", "RETR"})) {
                EXPECT_EQ(path.find(link + "/"), std::string::npos) << scenario << path;
            }
        }
        server->clearLog();
        EXPECT_TRUE(DownloadFolder(session, "/grew", into + "/grew", TransferMode::Binary));
        EXPECT_TRUE(ReadFileBytes(into + "/grew/grown.bin") == HostileData()) << scenario;
        EXPECT_EQ(PathsOf(server->commands(), {"SIZE"}), Names{"/grew/grown.bin"}) << scenario;
        server->clearLog();
        EXPECT_TRUE(DownloadFile(session, "/data.bin", target(), TransferMode::Binary));
        commands = server->commands();
        EXPECT_EQ(CountPrefix(commands, "SIZE") + CountPrefix(commands, "MLST"), 1) << scenario;
        EXPECT_EQ(CountPrefix(commands, "MDTM"), 0) << scenario;
    }
}

TEST_F(HostileOpsTest, FolderThatHoldsItselfEndsAtTheDepthLimit) {
    start("");
    ASSERT_TRUE(login());
    EXPECT_FALSE(DownloadFolder(session, "/loop", local.file("loop"), TransferMode::Binary));
    for (const std::string& path : LocalNames(local.path(), true)) {
        EXPECT_LE(std::count(path.begin(), path.end(), '/'), 70) << path;
    }
    EXPECT_FALSE(DeleteHostFolder(session, "/loop"));
    ExpectAllInside(server->commands(), "/loop");
    EXPECT_TRUE(stillUsable());
}

// CP932, invalid and UTF-8 names go back in the server's bytes; CP932 reads so unless UTF8 is on.
TEST_F(HostileOpsTest, ServerByteNamesDownloadRenameAndDelete) {
    for (const std::string scenario : {"no-utf8", "", "utf8-refused"}) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        EXPECT_EQ(client->namesUtf8(), scenario.empty()) << scenario;
        std::vector<DirEntry> entries;
        ASSERT_TRUE(ListHostFolder(session, entries, "/names/*.*")) << scenario;
        ASSERT_EQ(entries.size(), 3u) << scenario;
        for (const DirEntry& entry : entries) {
            const std::string path = "/names/" + entry.name;
            EXPECT_TRUE(entry.size != 5 || scenario.empty() || entry.name == "テスト.txt")
                << scenario;
            EXPECT_TRUE(DownloadFile(session, path, target(), TransferMode::Binary)) << path;
            EXPECT_EQ(ReadFileBytes(target()).size(), entry.size) << scenario << path;
            EXPECT_TRUE(RenameHostFile(session, path, path + ".o")) << scenario << path;
            EXPECT_TRUE(DeleteHostFile(session, path + ".o")) << scenario << path;
        }
    }
}

// Each folder is entered and listed once, by no path (550 for empty: again without "-a").
TEST_F(HostileOpsTest, FoldersListAndWalkWhateverTheServerMakesOfAPath) {
    for (const std::string scenario : {"", "mlsd", "list-pattern", "list-prefix",
                                       "list-pattern,mlsd", "empty-550", "empty-550,mlsd"}) {
        const bool once = scenario.rfind("empty-550", 0) != 0;
        const auto expectEachFolderListedOnce = [&] {
            std::map<std::string, int> times; // by form: "LIST /wide", "MLSD /wide/a"
            for (const std::string verb : {"LIST", "MLSD"}) {
                for (const std::string& path : PathsOf(server->commands(), {verb})) {
                    EXPECT_TRUE(++times[verb + " " + path] == 1 || !once) << scenario << path;
                }
            }
            EXPECT_EQ(server->maxOpenData(), 1) << scenario;
        };
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        for (const char* folder : {"/void", "/locked", "/wide/a/void"}) {
            ASSERT_TRUE(client->makeDir(folder)) << scenario;
        }
        for (const std::string path : {"/void", "/void/*.*", "/missing", "/locked", "/hello.txt"}) {
            EXPECT_TRUE(names(path).empty()) << scenario << " " << path;
            EXPECT_EQ(listed, path.starts_with("/void")) << scenario << " " << path;
        }
        EXPECT_EQ(Sorted(names("/wide")), (Names{"a", "b", "c", "f1.txt", "f2.txt"})) << scenario;
        EXPECT_EQ(names("/wide/a/*.txt"), (Names{"f1.txt", "f2.txt"})) << scenario;
        const std::string into = local.file("w-" + scenario);
        server->clearLog();
        EXPECT_TRUE(DownloadFolder(session, "/wide", into, TransferMode::Binary)) << scenario;
        EXPECT_EQ(LocalNames(into, true).size(), 39u) << scenario; // 26 files, 13 folders
        EXPECT_TRUE(fs::is_directory(into + "/a/void")) << scenario;
        const auto commands = server->commands();
        EXPECT_EQ(CountPrefix(commands, "SIZE") + CountPrefix(commands, "MLST"), 0) << scenario;
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "CWD /wide/c/b"), 1) << scenario;
        for (const std::string& c : commands) {
            EXPECT_TRUE(c.rfind("LIST", 0) != 0 || c == "LIST -a" || !once) << scenario << c;
        }
        expectEachFolderListedOnce();
        server->clearLog();
        ASSERT_TRUE(DeleteHostFolder(session, "/wide")) << scenario;
        expectEachFolderListedOnce();
    }
}

// The same listing needs no CWD again; a relative walk starts and ends in the current folder.
TEST_F(HostileOpsTest, SessionStaysInTheFolderListed) {
    start("");
    ASSERT_TRUE(login());
    std::vector<DirEntry> list;
    ASSERT_TRUE(ListHostFolder(session, list, "/wide/a/*.*"));
    server->clearLog();
    ASSERT_TRUE(ListHostFolder(session, list, "/wide/a/*.*"));
    DirEntry entry;
    EXPECT_TRUE(client->entry("/wide/b/c", entry) && entry.directory);
    auto commands = server->commands();
    std::erase_if(commands, [](const std::string& c) { return c == "EPSV" || c == "TYPE I"; });
    EXPECT_EQ(commands, (Names{"LIST -a", "SIZE /wide/b/c", "LIST -a /wide/b"}));
    EXPECT_EQ(client->rawCommand("CWD /wide"), 250);
    EXPECT_EQ(Sorted(names("/wide/a")), (Names{"a", "b", "c", "f1.txt", "f2.txt"}));
    EXPECT_TRUE(DownloadFolder(session, "c", local.file("c"), TransferMode::Binary));
    EXPECT_EQ(LocalNames(local.file("c")), (Names{"f1.txt", "f2.txt"}));
    EXPECT_EQ(client->currentDir(), "/wide/a");
}

// Links MLSD leaves out are deleted as links; a folder only MLSD shows is never entered.
TEST_F(HostileOpsTest, WalksFindWhatMlsdLeavesOutAndNeverEnterWhatOnlyItShows) {
    start("mlsd");
    ASSERT_TRUE(login());
    EXPECT_TRUE(DeleteHostFolder(session, "/hid"));
    EXPECT_FALSE(DownloadFolder(session, "/ghost", local.file("g"), TransferMode::Binary));
    EXPECT_EQ(LocalNames(local.file("g")), Names{"a.txt"});
    EXPECT_EQ(ui.lines("skip "), Names{"skip failed-link /ghost/mlsd-only"});
    EXPECT_FALSE(DeleteHostFolder(session, "/ghost"));
    const auto commands = server->commands();
    for (const char* sent :
         {"DELE /hid/out", "DELE /hid/sub/deep", "RMD /hid/", "DELE /ghost/mlsd-only"}) {
        EXPECT_TRUE(Has(commands, sent)) << sent;
    }
    for (const std::string& c : commands) {
        EXPECT_EQ(c.find("/ghost/mlsd-only/"), std::string::npos) << c;
    }
    EXPECT_EQ(names("/ghost/mlsd-only/*.*"), Names{"kept.txt"});
}

// "-a" is dropped only when the server took it for a name, not after other failures.
TEST_F(HostileOpsTest, DashAIsDroppedOnlyWhenTheServerTakesItForAName) {
    // {scenario, listed first ("" after CWD /dash), its names (none: it fails), then /dots'}
    const std::tuple<const char*, std::string, Names, Names> rows[] = {
        {"", "/flaky/", {}, {".htaccess", "index.html"}},          // 425: that listing fails
        {"dash-a-name", "/dots/", {"index.html"}, {"index.html"}}, // 550 for "-a /dots"
        {"dash-a-name", "", {"-a", "b.txt"}, {"index.html"}},      // lists the file "-a"
    };
    for (const auto& [scenario, first, firstNames, dots] : rows) {
        start(scenario);
        ASSERT_TRUE(login() && (!first.empty() || client->changeDir("/dash")));
        EXPECT_EQ(names(first + "*.*"), firstNames) << first;
        EXPECT_EQ(listed, !firstNames.empty()) << first;
        EXPECT_EQ(names("/dots/*.*"), dots) << first;
    }
}

} // namespace
} // namespace oxlip::test
