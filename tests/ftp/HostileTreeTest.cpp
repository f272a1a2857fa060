// A tree walk lists every folder once in each form it needs, one listing at a time. (Deep
// trees on the real servers are walked in TransferTest and RemoteOpsTest, down to the depth
// limit.)

#include "HostileFixture.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

#include <algorithm>
#include <map>

namespace oxlip::test {
namespace {

// How often each folder was listed, by form ("LIST /wide", "MLSD /wide/a"): a listing without
// a path lists the folder of the last CWD.
std::map<std::string, int> Listings(const std::vector<std::string>& commands) {
    std::map<std::string, int> count;
    std::string here = "/";
    for (const std::string& c : commands) {
        std::string arg = c.size() > 4 ? c.substr(c.size() > 5 && c[4] == ' ' ? 5 : 4) : "";
        if (c.rfind("CWD ", 0) == 0) {
            here = arg;
        } else if (c.rfind("LIST", 0) == 0 || c.rfind("MLSD", 0) == 0) {
            arg = arg == "-a" ? "" : arg.rfind("-a ", 0) == 0 ? arg.substr(3) : arg;
            ++count[c.substr(0, 4) + " " + (arg.empty() ? here : arg)];
        }
    }
    return count;
}

// /wide: three folders a level, two levels deep: 13 folders, 4 of which hold folders. The
// walk lists "/" once to see that /wide is no link; with MLSD, a folder that shows folders is
// listed with LIST too, which shows links as links.
TEST_F(HostileTest, TreeWalksListEachFolderOnceAndOneAtATime) {
    for (const auto& [scenario, listings] : {std::pair{"", 14u}, {"mlsd", 18u}}) {
        const auto expectEachFolderListedOnce = [&] {
            const auto listed = Listings(server->commands());
            EXPECT_EQ(listed.size(), listings) << scenario;
            for (const auto& [folder, times] : listed) {
                EXPECT_EQ(times, 1) << scenario << " " << folder;
            }
        };
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        ASSERT_TRUE(DownloadFolder(session, "/wide", local.file(scenario + std::string("w")),
                                   TransferMode::Binary))
            << scenario;
        expectEachFolderListedOnce();
        EXPECT_EQ(ReadFileBytes(local.file(scenario + std::string("w/c/b/f2.txt"))), "two");

        EXPECT_EQ(server->maxOpenData(), 1) << scenario;
        server->clearLog();
        ASSERT_TRUE(DeleteHostFolder(session, "/wide")) << scenario;
        expectEachFolderListedOnce();
        // Never two data connections at once.
        EXPECT_EQ(server->maxOpenData(), 1) << scenario;
        client->close();
    }
}

// Links that MLSD leaves out keep a folder from being removed: they are found with LIST and
// removed as links, and the folder goes.
TEST_F(HostileTest, TreeDeleteRemovesLinksThatMlsdLeavesOut) {
    start("mlsd");
    ASSERT_TRUE(login());
    EXPECT_TRUE(DeleteHostFolder(session, "/hid"));
    const auto commands = server->commands();
    for (const char* removed : {"DELE /hid/out", "DELE /hid/sub/deep", "RMD /hid/"}) {
        EXPECT_NE(std::find(commands.begin(), commands.end(), removed), commands.end()) << removed;
    }
    bool ok = false;
    const auto left = names("/*.*", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::count(left.begin(), left.end(), "hid"), 0);
}

// A folder that MLSD shows and LIST does not may be a link: it is never entered. A download
// leaves it out and fails; a delete tries it as an entry (DELE), which fails and keeps it.
TEST_F(HostileTest, AFolderThatOnlyMlsdShowsIsNeverEntered) {
    start("mlsd");
    ASSERT_TRUE(login());
    EXPECT_FALSE(DownloadFolder(session, "/ghost", local.file("g"), TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(local.file("g/a.txt")), "a");
    EXPECT_EQ(ui.lines("skip "), std::vector<std::string>{"skip failed-link /ghost/mlsd-only"});
    EXPECT_FALSE(DeleteHostFolder(session, "/ghost"));
    const auto commands = server->commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "DELE /ghost/mlsd-only"), commands.end());
    for (const std::string& c : commands) {
        EXPECT_EQ(c.find("/ghost/mlsd-only/"), std::string::npos) << c;
    }
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
