// Walks and listings against servers that read a listing's path as a pattern, put it before
// every name or answer 550 for an empty folder: a folder is made current and listed there.

#include "HostileFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

#include <map>

namespace oxlip::test {
namespace {

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t FilesBelow(const std::string& folder) {
    std::error_code error;
    std::size_t files = 0;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        files += it->is_regular_file() ? 1 : 0;
    }
    return files;
}

// How often each folder was listed, by form ("LIST /wide", "MLSD /wide/a").
std::map<std::string, int> Listings(const std::vector<std::string>& commands) {
    std::map<std::string, int> count;
    for (const std::string verb : {"LIST", "MLSD"}) {
        for (const std::string& path : PathsOf(commands, {verb})) {
            ++count[verb + " " + path];
        }
    }
    return count;
}

// /wide (13 folders, 26 files): each folder entered once and listed once by no path, one
// listing at a time, "/" once (is /wide a link?); with MLSD, folders with folders by LIST too.
TEST_F(HostileTest, FoldersListAndWalkWhateverTheServerMakesOfAPath) {
    const std::pair<const char*, std::size_t> rows[] = {
        {"", 14}, {"mlsd", 18}, {"list-pattern", 0}, {"list-prefix", 0}, {"list-pattern,mlsd", 0}};
    for (const auto& [scenario, listings] : rows) {
        const auto expectEachFolderListedOnce = [&, listings = listings] {
            const auto listed = Listings(server->commands());
            EXPECT_TRUE(listings == 0 || listed.size() == listings) << scenario;
            for (const auto& [folder, times] : listed) {
                EXPECT_EQ(times, 1) << scenario << " " << folder;
            }
            EXPECT_EQ(server->maxOpenData(), 1) << scenario;
        };
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        bool ok = false;
        EXPECT_EQ(Sorted(names("/wide", &ok)), Sorted({"f1.txt", "f2.txt", "a", "b", "c"}))
            << scenario;
        EXPECT_TRUE(ok) << scenario;
        EXPECT_EQ(Sorted(names("/wide/a/*.txt")), Sorted({"f1.txt", "f2.txt"})) << scenario;
        const std::string into = local.file(std::string("w-") + scenario);
        server->clearLog();
        EXPECT_TRUE(DownloadFolder(session, "/wide", into, TransferMode::Binary)) << scenario;
        EXPECT_EQ(FilesBelow(into), 26u) << scenario;
        EXPECT_EQ(ReadFileBytes(into + "/c/b/f2.txt"), "two") << scenario;
        const auto commands = server->commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "CWD /wide/c/b"), 1) << scenario;
        for (const std::string& c : commands) {
            EXPECT_TRUE(c.rfind("LIST", 0) != 0 || c == "LIST -a") << scenario << ": " << c;
        }
        expectEachFolderListedOnce();
        server->clearLog();
        ASSERT_TRUE(DeleteHostFolder(session, "/wide")) << scenario;
        expectEachFolderListedOnce();
        client->close();
    }
}

// 550 for an empty folder: CWD tells it from a missing one; a refusal stays a failure.
TEST_F(HostileTest, EmptyFolderAnsweredWith550IsEmpty) {
    const std::pair<const char*, bool> cases[] = {{"/void", true},
                                                  {"/void/*.*", true},
                                                  {"/missing", false},
                                                  {"/locked", false},
                                                  {"/hello.txt", false}};
    for (const char* scenario : {"empty-550", "empty-550,mlsd"}) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        ASSERT_TRUE(client->makeDir("/void"));
        ASSERT_TRUE(client->makeDir("/locked"));
        ASSERT_TRUE(client->makeDir("/wide/a/void"));
        for (const auto& [path, listed] : cases) {
            bool ok = !listed;
            EXPECT_TRUE(names(path, &ok).empty()) << scenario << " " << path;
            EXPECT_EQ(ok, listed) << scenario << " " << path;
        }
        // A tree with an empty folder in it comes down whole.
        const std::string into = local.file(std::string("w-") + scenario);
        EXPECT_TRUE(DownloadFolder(session, "/wide", into, TransferMode::Binary)) << scenario;
        EXPECT_TRUE(std::filesystem::is_directory(into + "/a/void")) << scenario;
        EXPECT_EQ(FilesBelow(into), 26u) << scenario;
        client->close();
    }
}

// The session stays in the folder listed; after a raw command the next listing enters it again.
TEST_F(HostileTest, SessionStaysInTheFolderListed) {
    start("");
    ASSERT_TRUE(login());
    std::vector<DirEntry> list;
    ASSERT_TRUE(ListHostFolder(session, list, "/wide/a/*.*"));
    EXPECT_EQ(client->currentDir(), "/wide/a");
    server->clearLog();
    ASSERT_TRUE(ListHostFolder(session, list, "/wide/a/*.*"));
    DirEntry entry;
    ASSERT_TRUE(client->entry("/wide/b/c", entry)); // no MLST: its folder's listing
    EXPECT_TRUE(entry.directory);
    auto commands = server->commands();
    std::erase_if(commands, [](const std::string& c) { return c == "EPSV" || c == "TYPE I"; });
    EXPECT_EQ(commands, (std::vector<std::string>{"LIST -a", "SIZE /wide/b/c", "LIST -a /wide/b"}));
    EXPECT_EQ(client->currentDir(), "/wide/a");
    EXPECT_EQ(client->rawCommand("CWD /wide"), 250);
    EXPECT_EQ(Sorted(names("/wide/a")), Sorted({"f1.txt", "f2.txt", "a", "b", "c"}));
    EXPECT_EQ(client->currentDir(), "/wide/a");
    // A walk of a relative path starts from the folder the session is in, and ends there.
    EXPECT_TRUE(DownloadFolder(session, "c", local.file("c"), TransferMode::Binary));
    EXPECT_EQ(FilesBelow(local.file("c")), 2u);
    EXPECT_EQ(client->currentDir(), "/wide/a");
}

// Links MLSD leaves out are found by LIST and removed as links; a folder only MLSD shows may be
// a link: never entered, a download fails on it, a delete tries DELE and keeps it.
TEST_F(HostileTest, WalksFindWhatMlsdLeavesOutAndNeverEnterWhatOnlyItShows) {
    start("mlsd");
    ASSERT_TRUE(login());
    EXPECT_TRUE(DeleteHostFolder(session, "/hid"));
    EXPECT_FALSE(DownloadFolder(session, "/ghost", local.file("g"), TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(local.file("g/a.txt")), "a");
    EXPECT_EQ(ui.lines("skip "), std::vector<std::string>{"skip failed-link /ghost/mlsd-only"});
    EXPECT_FALSE(DeleteHostFolder(session, "/ghost"));
    const auto commands = server->commands();
    for (const char* sent :
         {"DELE /hid/out", "DELE /hid/sub/deep", "RMD /hid/", "DELE /ghost/mlsd-only"}) {
        EXPECT_NE(std::find(commands.begin(), commands.end(), sent), commands.end()) << sent;
    }
    for (const std::string& c : commands) {
        EXPECT_EQ(c.find("/ghost/mlsd-only/"), std::string::npos) << c;
    }
    bool ok = false;
    const auto left = names("/*.*", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::count(left.begin(), left.end(), "hid"), 0);
    EXPECT_EQ(names("/ghost/mlsd-only/*.*"), std::vector<std::string>{"kept.txt"});
}

// "-a" is dropped only when the server took it for a name, not after other failures.
TEST_F(HostileTest, DashAIsDroppedOnlyWhenTheServerTakesItForAName) {
    struct Case {
        const char* scenario;
        const char* first; // listed first ("" after CWD /dash)
        bool firstOk;
        std::vector<std::string> firstNames;
        std::vector<std::string> dots; // the names of /dots after it
    };
    const Case cases[] = {
        {"", "/flaky/", false, {}, {".htaccess", "index.html"}},         // 425: that listing fails
        {"dash-a-name", "/dots/", true, {"index.html"}, {"index.html"}}, // 550 for "-a /dots"
        {"dash-a-name", "", true, {"-a", "b.txt"}, {"index.html"}},      // lists the file "-a"
    };
    for (const Case& c : cases) {
        start(c.scenario);
        ASSERT_TRUE(login());
        if (*c.first == '\0') {
            ASSERT_TRUE(client->changeDir("/dash"));
        }
        bool ok = false;
        EXPECT_EQ(names(std::string(c.first) + "*.*", &ok), c.firstNames) << c.first;
        EXPECT_EQ(ok, c.firstOk) << c.first;
        EXPECT_EQ(names("/dots/*.*"), c.dots) << c.first;
        client->close();
    }
}
} // namespace
} // namespace oxlip::test
