// Session, remote directory access and remote file operations against real servers.

#include "ftp/RemoteOps.h"
#include "ServerFixture.h"
#include "ftp/RemoteDir.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace oxlip {
namespace {

using test::ServerTest;
using test::UiRecorder;

using SessionTest = ServerTest;
using RemoteDirTest = ServerTest;
using RemoteOpsTest = ServerTest;

const std::string kConnecting = "に接続しています。";

TEST_P(SessionTest, LogLinesOfALoginAndOfAFailedOne) {
    UiRecorder good;
    auto c = OpenSession("p", server->server(), server->user(), server->password(), good.ports());
    ASSERT_TRUE(c);
    EXPECT_EQ(good.logLines, (std::vector<std::string>{"ホスト　" + server->server() + kConnecting,
                                                       "接続しました。", "パスワード確認中",
                                                       "パスワード確認しました。"}));
    EXPECT_GE(good.pumps, 4);
    EXPECT_TRUE(CloseSession(c));
    EXPECT_FALSE(c);
    EXPECT_TRUE(CloseSession(c)); // closing nothing is fine

    UiRecorder bad;
    EXPECT_FALSE(OpenSession("p", server->server(), server->user(), "wrong", bad.ports()));
    EXPECT_EQ(bad.logLines, (std::vector<std::string>{"ホスト　" + server->server() + kConnecting,
                                                      "接続しました。", "パスワード確認中"}));
}

TEST(Session, EmptyServerLogsNothingAndRefusedConnectionEndsTheLog) {
    UiRecorder ui;
    EXPECT_FALSE(OpenSession("p", "", "u", "p", ui.ports()));
    EXPECT_TRUE(ui.journal.empty());
    EXPECT_EQ(ui.pumps, 0);

    EXPECT_FALSE(OpenSession("p", "127.0.0.1:1", "u", "p", ui.ports())); // refused
    ASSERT_EQ(ui.logLines.size(), 3u);
    EXPECT_EQ(ui.logLines.back(), "パスワード確認中");
}

TEST_P(RemoteDirTest, CurrentDirectoryChangesOnlyToFoldersThatExist) {
    makeDirs("pub");
    EXPECT_EQ(HostCurrentDirectory(client.get(), "/pub/"), "/pub/");
    EXPECT_EQ(HostCurrentDirectory(client.get(), ""), "/pub");
    EXPECT_EQ(HostCurrentDirectory(client.get(), "/missing/"), "");
    EXPECT_EQ(HostCurrentDirectory(client.get(), ""), "/pub"); // unchanged
    EXPECT_EQ(HostCurrentDirectory(nullptr, ""), "");
    EXPECT_EQ(HostCurrentDirectory(nullptr, "/"), "");
}

TEST_P(RemoteDirTest, ListingsAndSingleEntries) {
    makeDirs("empty");
    makeDirs("full/sub");
    put("full/a.txt", "hello");
    put("full/Makefile", "all:\n");
    std::vector<DirEntry> list(3);
    EXPECT_EQ(ListHostFolder(client.get(), list, "/empty/*.*"), 0);
    EXPECT_TRUE(list.empty());

    ASSERT_EQ(HostCurrentDirectory(client.get(), "/full/"), "/full/");
    ui.pumps = 0;
    const int n = ListHostFolder(client.get(), list, "*.*");
    EXPECT_GE(ui.pumps, 1);
    std::vector<std::string> names;
    for (const DirEntry& e : list) {
        if (e.cFileName != "." && e.cFileName != "..") {
            names.push_back(e.cFileName);
        }
    }
    EXPECT_EQ(n, int(list.size()));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Makefile", "a.txt", "sub"}));

    DirEntry record;
    EXPECT_EQ(GetHostEntry(client.get(), "/full/missing.txt", record), 0);
    EXPECT_EQ(record, DirEntry{}); // untouched
    ASSERT_EQ(GetHostEntry(client.get(), "/full/a.txt", record), 1);
    EXPECT_EQ(record.fileSize(), 5u);
    EXPECT_FALSE(record.isDirectory());
    EXPECT_EQ(ListHostFolder(nullptr, list, "*.*"), 0);
    EXPECT_EQ(GetHostEntry(nullptr, "/full/a.txt", record), 0);
}

TEST_P(RemoteOpsTest, DeleteRenameCreateAndRawCommands) {
    put("readme.txt", "x");
    ASSERT_TRUE(DeleteHostFile(client.get(), "/readme.txt"));
    EXPECT_FALSE(server->exists("readme.txt"));
    EXPECT_EQ(ui.journal, std::vector<std::string>{"item readme.txt を削除中です..."});
    EXPECT_GE(ui.pumps, 1);
    EXPECT_FALSE(DeleteHostFile(client.get(), "/readme.txt"));

    EXPECT_TRUE(CreateHostFolder(client.get(), "/new"));
    EXPECT_FALSE(CreateHostFolder(client.get(), "/new")); // already there
    put("old.txt", "data");
    EXPECT_TRUE(RenameHostFile(client.get(), "/old.txt", "/new/moved.txt"));
    EXPECT_EQ(server->readFile("new/moved.txt"), "data");
    EXPECT_FALSE(RenameHostFile(client.get(), "/old.txt", "/x.txt"));
    EXPECT_FALSE(RenameHostFile(client.get(), "/new/moved.txt", "/a\r\nDELE b"));
    EXPECT_TRUE(server->exists("new/moved.txt"));

    // A name that is taken (a file, a folder, another case of the name, the entry itself) is
    // refused and said to be taken; nothing is replaced. A name free in that case is fine.
    put("readme.txt", "keep");
    put("data.bin", "data");
    put("Data.bin", "Data");
    for (const char* to : {"/data.bin", "/new", "/new/moved.txt", "/readme.txt"}) {
        bool taken = false;
        EXPECT_FALSE(RenameHostFile(client.get(), "/readme.txt", to, &taken)) << to;
        EXPECT_TRUE(taken) << to;
    }
    bool taken = false;
    EXPECT_FALSE(RenameHostFile(client.get(), "/data.bin", "/Data.bin", &taken));
    EXPECT_TRUE(taken);
    EXPECT_EQ(server->readFile("data.bin") + server->readFile("Data.bin"), "dataData");
    EXPECT_EQ(server->readFile("new/moved.txt") + server->readFile("readme.txt"), "datakeep");
    EXPECT_TRUE(RenameHostFile(client.get(), "/readme.txt", "/README.txt", &taken));
    EXPECT_FALSE(taken);
    EXPECT_EQ(server->readFile("README.txt"), "keep");

    ASSERT_EQ(HostCurrentDirectory(client.get(), "/new/"), "/new/");
    EXPECT_NE(SendFtpCommand(client.get(), "SITE CHMOD 640 moved.txt"), 0);
    std::vector<DirEntry> list;
    ASSERT_EQ(ListHostFolder(client.get(), list, "*.*"), 1);
    EXPECT_EQ(list[0].dwReserved0, 0x640u);
    EXPECT_NE(SendFtpCommand(client.get(), "SITE CHMOD 755 moved.txt\r"), 0);
    ASSERT_EQ(ListHostFolder(client.get(), list, "/new/*.*"), 1);
    EXPECT_EQ(list[0].dwReserved0, 0x755u);
    EXPECT_EQ(SendFtpCommand(client.get(), "SITE CHMOD 644 missing.txt"), 0);
    EXPECT_EQ(SendFtpCommand(client.get(), "NOSUCHCOMMAND"), 0);
    EXPECT_EQ(SendFtpCommand(client.get(), "SITE CHMOD 644 a\nDELE moved.txt"), 0);
    EXPECT_TRUE(server->exists("new/moved.txt"));
    EXPECT_EQ(SendFtpCommand(nullptr, "NOOP"), 0);
    EXPECT_NE(SendFtpCommand(client.get(), "NOOP"), 0); // still usable after the refusals
    EXPECT_TRUE(ui.logLines.empty());
}

TEST_P(RemoteOpsTest, TreeDeleteGoesDepthFirstWithFilesFirst) {
    for (const char* f : {"t/f1", "t/f2", "t/s1/g1", "t/s1/g2", "t/s1/deep/h1", "t/s2/k1"}) {
        put(f, "x");
    }
    makeDirs("t/s2/empty");
    const auto expected = hostTreeOrder("/t/", " を削除中です...");
    ASSERT_EQ(expected.size(), 6u);
    ui.journal.clear();
    EXPECT_TRUE(DeleteHostFolder(client.get(), "/t"));
    EXPECT_EQ(ui.journal, expected);
    EXPECT_FALSE(server->exists("t"));

    makeDirs("u");
    EXPECT_TRUE(DeleteHostFolder(client.get(), "/u/")); // with the final "/" alike
    EXPECT_FALSE(server->exists("u"));
    EXPECT_FALSE(DeleteHostFolder(client.get(), "/u/"));
    EXPECT_FALSE(DeleteHostFolder(nullptr, "/u/"));
}

TEST_P(RemoteOpsTest, TreeDeleteSkipsDottedFoldersAndStopsAtTheFirstFailure) {
    put("t/keep./inside", "x");
    put("t/file.", "x");                                // a file ending in a dot goes
    EXPECT_FALSE(DeleteHostFolder(client.get(), "/t")); // the dotted folder keeps t
    EXPECT_TRUE(server->exists("t/keep./inside"));
    EXPECT_FALSE(server->exists("t/file."));
}

// Links go as links, never entered, whatever MLSD says of them (pyftpdlib lists a link to a
// folder as a folder): inside the tree, and given as the folder itself. What they lead to stays.
TEST_P(RemoteOpsTest, TreeDeleteRemovesLinksAsLinksAndStopsPastSixtyFourLevels) {
    put("outside/precious", "keep");
    makeDirs("t/sub");
    ASSERT_TRUE(makeLinks({{".", "t/loop"},
                           {"../outside", "t/link"},
                           {"../../outside", "t/sub/link"},
                           {"outside", "dirlink"}}));
    EXPECT_TRUE(DeleteHostFolder(client.get(), "/t"));
    EXPECT_FALSE(server->exists("t"));
    EXPECT_TRUE(DeleteHostFolder(client.get(), "/dirlink/"));
    EXPECT_FALSE(server->exists("dirlink"));
    EXPECT_EQ(server->readFile("outside/precious"), "keep");

    std::string deep = "d";
    for (int i = 0; i < 64; ++i) {
        deep += "/d";
    }
    put(deep + "/bottom.txt", "x"); // 64 folders below d
    EXPECT_TRUE(DeleteHostFolder(client.get(), "/d"));
    EXPECT_FALSE(server->exists("d"));
    put(deep + "/d/bottom.txt", "x"); // one more is too deep
    EXPECT_FALSE(DeleteHostFolder(client.get(), "/d"));
    EXPECT_TRUE(server->exists(deep + "/d/bottom.txt"));
}

OXLIP_ON_BOTH_SERVERS(SessionTest);
OXLIP_ON_BOTH_SERVERS(RemoteDirTest);
OXLIP_ON_BOTH_SERVERS(RemoteOpsTest);

} // namespace
} // namespace oxlip
