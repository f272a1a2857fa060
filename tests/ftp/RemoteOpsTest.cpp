// Session, remote directory access and remote file operations against real servers.

#include "ftp/RemoteOps.h"
#include "ServerFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/Transfer.h"

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

TEST_P(SessionTest, LogLinesOfALoginAndOfAFailedOne) {
    UiRecorder good;
    Session session(good.ports());
    ASSERT_TRUE(OpenSession(session, "p", server->server(), server->user(), server->password()));
    EXPECT_EQ(good.logLines, (std::vector<std::string>{"connecting " + server->server(),
                                                       "connected", "logging-in", "logged-in"}));
    EXPECT_GE(good.pumps, 4);
    CloseSession(session);
    EXPECT_FALSE(session.connected());
    CloseSession(session); // closing nothing is fine

    UiRecorder bad;
    Session refused(bad.ports());
    const Status login = OpenSession(refused, "p", server->server(), server->user(), "wrong");
    EXPECT_EQ(login.kind, ErrorKind::Refused);
    EXPECT_EQ(login.replyCode, 530);
    EXPECT_FALSE(refused.connected());
    EXPECT_EQ(bad.logLines, (std::vector<std::string>{"connecting " + server->server(), "connected",
                                                      "logging-in"}));
}

TEST(Session, EmptyServerLogsNothingAndRefusedConnectionEndsTheLog) {
    UiRecorder ui;
    Session session(ui.ports());
    EXPECT_EQ(OpenSession(session, "p", "", "u", "p").kind, ErrorKind::NotConnected);
    EXPECT_TRUE(ui.journal.empty());
    EXPECT_EQ(ui.pumps, 0);

    // refused
    EXPECT_EQ(OpenSession(session, "p", "127.0.0.1:1", "u", "p").kind, ErrorKind::ConnectionLost);
    ASSERT_EQ(ui.logLines.size(), 3u);
    EXPECT_EQ(ui.logLines.back(), "logging-in");
}

// Every operation on a session that is not open says so and touches nothing.
TEST(Session, EveryOperationOfAClosedSessionIsNotConnected) {
    Session closed;
    std::vector<DirEntry> list(2);
    DirEntry record;
    const std::vector<Status> results = {
        HostCurrentDirectory(closed, "/").status(),
        ListHostFolder(closed, list, "*.*"),
        GetHostEntry(closed, "/a", record),
        DownloadFile(closed, "/a", "/tmp/oxlip-never-written", TransferMode::Binary),
        UploadFile(closed, "/etc/hostname", "/a", TransferMode::Binary),
        DownloadFolder(closed, "/a", "/tmp/oxlip-never-made", TransferMode::Binary),
        UploadFolder(closed, "/etc", "/a", TransferMode::Binary),
        DeleteHostFile(closed, "/a"),
        DeleteHostFolder(closed, "/a"),
        RenameHostFile(closed, "/a", "/b"),
        CreateHostFolder(closed, "/a"),
        SendFtpCommand(closed, "NOOP"),
    };
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].kind, ErrorKind::NotConnected) << i;
    }
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(record, DirEntry{});
}

TEST_P(RemoteDirTest, CurrentDirectoryChangesOnlyToFoldersThatExist) {
    makeDirs("pub");
    EXPECT_EQ(HostCurrentDirectory(session, "/pub/").value(), "/pub/");
    EXPECT_EQ(HostCurrentDirectory(session, "").value(), "/pub");
    const auto missing = HostCurrentDirectory(session, "/missing/");
    EXPECT_EQ(missing.status().kind, ErrorKind::Refused);
    EXPECT_EQ(missing.status().replyCode, 550);
    EXPECT_EQ(HostCurrentDirectory(session, "").value(), "/pub"); // unchanged
}

// (What a listing and an entry hold is checked on the engine itself.)
TEST_P(RemoteDirTest, ListingsFollowTheCurrentFolderAndFailedLookupsTouchNothing) {
    makeDirs("full/sub");
    put("full/a.txt", "hello");
    put("full/Makefile", "all:\n");
    std::vector<DirEntry> list;
    ASSERT_TRUE(HostCurrentDirectory(session, "/full/"));
    ui.pumps = 0;
    ASSERT_TRUE(ListHostFolder(session, list, "*.*"));
    EXPECT_GE(ui.pumps, 1);
    std::vector<std::string> names;
    for (const DirEntry& e : list) {
        if (e.name != "." && e.name != "..") {
            names.push_back(e.name);
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Makefile", "a.txt", "sub"}));
    DirEntry record;
    EXPECT_FALSE(GetHostEntry(session, "/full/missing.txt", record));
    EXPECT_EQ(record, DirEntry{}); // untouched
}

TEST_P(RemoteOpsTest, DeleteRenameCreateAndRawCommands) {
    put("readme.txt", "x");
    ASSERT_TRUE(DeleteHostFile(session, "/readme.txt"));
    EXPECT_FALSE(server->exists("readme.txt"));
    EXPECT_EQ(ui.journal, std::vector<std::string>{"item readme.txt delete"});
    EXPECT_GE(ui.pumps, 1);
    EXPECT_EQ(DeleteHostFile(session, "/readme.txt").kind, ErrorKind::Refused);

    EXPECT_TRUE(CreateHostFolder(session, "/new"));
    EXPECT_FALSE(CreateHostFolder(session, "/new")); // already there
    put("old.txt", "data");
    EXPECT_TRUE(RenameHostFile(session, "/old.txt", "/new/moved.txt"));
    EXPECT_EQ(server->readFile("new/moved.txt"), "data");
    EXPECT_EQ(RenameHostFile(session, "/old.txt", "/x.txt").kind, ErrorKind::Refused);
    EXPECT_EQ(RenameHostFile(session, "/new/moved.txt", "/a\r\nDELE b").kind, ErrorKind::Unsafe);
    EXPECT_TRUE(server->exists("new/moved.txt"));

    // A name that is taken (a file, a folder, another case of the name, the entry itself) is
    // refused and said to be taken; nothing is replaced. A name free in that case is fine.
    put("readme.txt", "keep");
    put("data.bin", "data");
    put("Data.bin", "Data");
    for (const char* to : {"/data.bin", "/new", "/new/moved.txt", "/readme.txt"}) {
        EXPECT_EQ(RenameHostFile(session, "/readme.txt", to).kind, ErrorKind::Exists) << to;
    }
    EXPECT_EQ(RenameHostFile(session, "/data.bin", "/Data.bin").kind, ErrorKind::Exists);
    EXPECT_EQ(server->readFile("data.bin") + server->readFile("Data.bin"), "dataData");
    EXPECT_EQ(server->readFile("new/moved.txt") + server->readFile("readme.txt"), "datakeep");
    EXPECT_TRUE(RenameHostFile(session, "/readme.txt", "/README.txt"));
    EXPECT_EQ(server->readFile("README.txt"), "keep");

    ASSERT_TRUE(HostCurrentDirectory(session, "/new/"));
    EXPECT_TRUE(SendFtpCommand(session, "SITE CHMOD 640 moved.txt"));
    std::vector<DirEntry> list;
    ASSERT_TRUE(ListHostFolder(session, list, "*.*"));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].permissions, 0640u);
    EXPECT_TRUE(SendFtpCommand(session, "SITE CHMOD 755 moved.txt\r"));
    ASSERT_TRUE(ListHostFolder(session, list, "/new/*.*"));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].permissions, 0755u);
    const Status missing = SendFtpCommand(session, "SITE CHMOD 644 missing.txt");
    EXPECT_EQ(missing.kind, ErrorKind::Refused);
    EXPECT_GE(missing.replyCode, 500);
    EXPECT_FALSE(missing.reply.empty());
    EXPECT_EQ(SendFtpCommand(session, "NOSUCHCOMMAND").kind, ErrorKind::Refused);
    EXPECT_EQ(SendFtpCommand(session, "SITE CHMOD 644 a\nDELE moved.txt").kind, ErrorKind::Unsafe);
    EXPECT_TRUE(server->exists("new/moved.txt"));
    const Status noop = SendFtpCommand(session, "NOOP"); // still usable after the refusals
    EXPECT_TRUE(noop);
    EXPECT_EQ(noop.replyCode, 200);
    EXPECT_TRUE(ui.logLines.empty());
}

TEST_P(RemoteOpsTest, TreeDeleteGoesDepthFirstWithFilesFirst) {
    for (const char* f : {"t/f1", "t/f2", "t/s1/g1", "t/s1/g2", "t/s1/deep/h1", "t/s2/k1"}) {
        put(f, "x");
    }
    makeDirs("t/s2/empty");
    const auto expected = hostTreeOrder("/t/", " delete");
    ASSERT_EQ(expected.size(), 6u);
    ui.journal.clear();
    EXPECT_TRUE(DeleteHostFolder(session, "/t"));
    EXPECT_EQ(ui.journal, expected);
    EXPECT_FALSE(server->exists("t"));

    makeDirs("u");
    EXPECT_TRUE(DeleteHostFolder(session, "/u/")); // with the final "/" alike
    EXPECT_FALSE(server->exists("u"));
    EXPECT_FALSE(DeleteHostFolder(session, "/u/"));
}

TEST_P(RemoteOpsTest, TreeDeleteSkipsDottedFoldersAndStopsAtTheFirstFailure) {
    put("t/keep./inside", "x");
    put("t/file.", "x");                           // a file ending in a dot goes
    EXPECT_FALSE(DeleteHostFolder(session, "/t")); // the dotted folder keeps t
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
    EXPECT_TRUE(DeleteHostFolder(session, "/t"));
    EXPECT_FALSE(server->exists("t"));
    EXPECT_TRUE(DeleteHostFolder(session, "/dirlink/"));
    EXPECT_FALSE(server->exists("dirlink"));
    EXPECT_EQ(server->readFile("outside/precious"), "keep");

    std::string deep = "d";
    for (int i = 0; i < 64; ++i) {
        deep += "/d";
    }
    put(deep + "/bottom.txt", "x"); // 64 folders below d
    EXPECT_TRUE(DeleteHostFolder(session, "/d"));
    EXPECT_FALSE(server->exists("d"));
    put(deep + "/d/bottom.txt", "x"); // one more is too deep
    EXPECT_FALSE(DeleteHostFolder(session, "/d"));
    EXPECT_TRUE(server->exists(deep + "/d/bottom.txt"));
}

OXLIP_ON_BOTH_SERVERS(SessionTest);
OXLIP_ON_BOTH_SERVERS(RemoteDirTest);
OXLIP_ON_BOTH_SERVERS(RemoteOpsTest);

} // namespace
} // namespace oxlip
