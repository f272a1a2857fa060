// Tree walks and folder listings against the hostile server: a folder is made current and
// listed there, so that servers which read a listing's path as a pattern, or put it before
// every name, or say "550" for an empty folder, still give its entries; each folder is listed
// once in each form a walk needs, one listing at a time, and links are never entered.

#include "HostileFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

#include <algorithm>
#include <filesystem>
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

// /wide: three folders a level, two levels deep: 13 folders, 4 of which hold folders, 26 files.
// A walk enters each folder once, lists it by no path, one listing at a time, and lists "/"
// once to see that /wide is no link; with MLSD, a folder that shows folders is listed with
// LIST too, which shows links as links.
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

// An empty folder may be answered with 550; CWD tells it from a folder that is not there,
// and a refusal stays a failure.
TEST_F(HostileTest, EmptyFolderAnsweredWith550IsEmpty) {
    struct Case {
        const char* path;
        bool ok;
    };
    const Case cases[] = {{"/void", true},
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
        for (const Case& c : cases) {
            bool ok = !c.ok;
            EXPECT_TRUE(names(c.path, &ok).empty()) << scenario << " " << c.path;
            EXPECT_EQ(ok, c.ok) << scenario << " " << c.path;
        }
        // A tree with an empty folder in it comes down whole.
        const std::string into = local.file(std::string("w-") + scenario);
        EXPECT_TRUE(DownloadFolder(session, "/wide", into, TransferMode::Binary)) << scenario;
        EXPECT_TRUE(std::filesystem::is_directory(into + "/a/void")) << scenario;
        EXPECT_EQ(FilesBelow(into), 26u) << scenario;
        client->close();
    }
}

// After a pane's listing the session is in the folder shown; listing it again, or looking up
// an entry elsewhere, moves it no more; after a raw command that may move it, the next listing
// enters the folder again.
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

// What MLSD leaves out. Links (outside the root) keep a folder from being removed: they are
// found with LIST and removed as links, and the folder goes. A folder that MLSD shows and LIST
// does not may be a link: it is never entered; a download leaves it out and fails, a delete
// tries it as an entry (DELE), which fails and keeps it.
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

// "-a" is dropped only when the server shows it took "-a" for a name; after any other failure
// later listings still show hidden files.
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
