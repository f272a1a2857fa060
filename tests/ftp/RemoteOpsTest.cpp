// The engine, the session and the remote operations against real servers (pyftpdlib and vsftpd).

#include "ftp/RemoteOps.h"
#include "ServerFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/Transfer.h"

#include <chrono>
#include <fcntl.h>

namespace oxlip {
namespace {

using test::ServerTest;
using test::UiRecorder;
using Clock = std::chrono::steady_clock;

using RemoteOpsTest = ServerTest;

std::vector<std::string> SortedNames(const std::vector<DirEntry>& entries) {
    std::vector<std::string> names;
    for (const DirEntry& e : entries) {
        if (e.name != "." && e.name != "..") {
            names.push_back(e.name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Log lines of logins; failed ones leave no connection; dead hosts fail within the time-out.
TEST_P(RemoteOpsTest, LoginsAndTheirLogLines) {
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
    bad.journal.clear();
    bad.pumps = 0;
    EXPECT_EQ(OpenSession(refused, "p", "", "u", "p").kind, ErrorKind::NotConnected);
    EXPECT_TRUE(bad.journal.empty());
    EXPECT_EQ(bad.pumps, 0);
    bad.logLines.clear();
    EXPECT_EQ(OpenSession(refused, "p", "127.0.0.1:1", "u", "p").kind, ErrorKind::ConnectionLost);
    EXPECT_EQ(bad.logLines.size(), 3u);
    EXPECT_EQ(bad.logLines.back(), "logging-in");

    FtpClient other;
    other.setTimeouts(3000, 3000);
    EXPECT_FALSE(other.connect(server->server(), "nosuchuser", "x"));
    EXPECT_FALSE(other.isOpen());
    EXPECT_FALSE(other.changeDir("/"));
    const auto begin = Clock::now();
    EXPECT_FALSE(other.connect("127.0.0.1:1", "u", "p"));
    EXPECT_FALSE(other.connect("nonexistent.invalid", "u", "p"));
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(6));
    EXPECT_FALSE(other.connect("127.0.0.1:99999", "u", "p"));
    EXPECT_FALSE(other.lost());
    EXPECT_TRUE(other.connect(" " + server->server() + " ", server->user(), server->password()));
}

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

// Patterns, blanks, Japanese names, entries; the current folder changes only to existing ones.
TEST_P(RemoteOpsTest, ListsEntriesAndTheCurrentFolder) {
    put("dir/a.txt", "12345");
    put("dir/b.html", "x");
    put("dir/noext", "");
    makeDirs("dir/sub");
    makeDirs("empty");
    put("with  blanks /a file.txt", "1");
    const std::string japanese = "フォルダ　空白/日本語ファイル.txt";
    put(japanese, "内容");
    const struct {
        const char* pattern;
        std::vector<std::string> names;
    } rows[] = {
        {"/dir/*.*", {"a.txt", "b.html", "noext", "sub"}},
        {"/dir/*.txt", {"a.txt"}},
        {"/empty", {}},
        {"/with  blanks /*.*", {"a file.txt"}},
        {"/フォルダ　空白/*.*", {"日本語ファイル.txt"}},
    };
    std::vector<DirEntry> entries;
    for (const auto& row : rows) {
        entries.resize(1);
        ASSERT_TRUE(client->list(row.pattern, entries)) << row.pattern;
        EXPECT_EQ(SortedNames(entries), row.names) << row.pattern;
    }
    DirEntry e;
    ASSERT_TRUE(client->entry("/dir/a.txt", e));
    EXPECT_EQ(e.name, "a.txt");
    EXPECT_EQ(e.size, 5u);
    EXPECT_FALSE(e.directory);
    EXPECT_NE(e.modified.ticks, 0u);
    ASSERT_TRUE(client->entry("/empty", e));
    EXPECT_TRUE(e.directory);
    DirEntry untouched;
    EXPECT_FALSE(GetHostEntry(session, "/dir/missing.txt", untouched));
    EXPECT_EQ(untouched, DirEntry{});

    EXPECT_EQ(HostCurrentDirectory(session, "/フォルダ　空白/").value(), "/フォルダ　空白/");
    EXPECT_EQ(HostCurrentDirectory(session, "").value(), "/フォルダ　空白");
    const auto missing = HostCurrentDirectory(session, "/missing/");
    EXPECT_EQ(missing.status().kind, ErrorKind::Refused);
    EXPECT_EQ(missing.status().replyCode, 550);
    EXPECT_EQ(HostCurrentDirectory(session, "").value(), "/フォルダ　空白"); // unchanged
    ui.pumps = 0;
    ASSERT_TRUE(ListHostFolder(session, entries, "*.*")); // the current folder
    EXPECT_GE(ui.pumps, 1);
    EXPECT_EQ(SortedNames(entries), std::vector<std::string>{"日本語ファイル.txt"});
    ASSERT_TRUE(client->entry("/" + japanese, e));
    EXPECT_EQ(e.size, std::string("内容").size());
    EXPECT_TRUE(client->rename("日本語ファイル.txt", "名前を変えた.txt"));
    EXPECT_TRUE(client->makeDir("新しいフォルダ"));
    EXPECT_TRUE(server->exists("フォルダ　空白/名前を変えた.txt"));
    EXPECT_TRUE(server->exists("フォルダ　空白/新しいフォルダ"));
}

// Failures keep the connection; after close() calls fail and the object connects again.
TEST_P(RemoteOpsTest, FailuresKeepTheConnectionAndCloseEndsIt) {
    test::TempDir local;
    EXPECT_EQ(DownloadFile(session, "/missing.bin", local.file("m"), TransferMode::Binary).kind,
              ErrorKind::Refused);
    test::WriteFileBytes(local.file("up.bin"), "x");
    const int unreadable = ::open(local.file("up.bin").c_str(), O_WRONLY | O_CLOEXEC);
    EXPECT_FALSE(client->store("/unreadable.bin", false, unreadable, nullptr));
    ::close(unreadable);
    EXPECT_TRUE(client->isOpen());
    EXPECT_FALSE(client->lost());
    client->close();
    EXPECT_FALSE(client->isOpen());
    EXPECT_FALSE(client->lost());
    EXPECT_FALSE(client->changeDir("/"));
    EXPECT_EQ(client->rawCommand("NOOP"), 0);
    EXPECT_TRUE(ui.logLines.empty());
    ASSERT_TRUE(client->connect(server->server(), server->user(), server->password()));
    EXPECT_EQ(client->currentDir().value_or("?"), "/");
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

    // A taken name (also in another case, or the entry itself) is refused; nothing replaced.
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
    std::vector<DirEntry> list;
    for (const auto& [command, mode] :
         {std::pair{"SITE CHMOD 640 moved.txt", 0640u}, {"SITE CHMOD 755 moved.txt\r", 0755u}}) {
        EXPECT_TRUE(SendFtpCommand(session, command)) << command;
        ASSERT_TRUE(ListHostFolder(session, list, "/new/*.*"));
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].permissions, mode) << command;
    }
    const Status missing = SendFtpCommand(session, "SITE CHMOD 644 missing.txt");
    EXPECT_EQ(missing.kind, ErrorKind::Refused);
    EXPECT_GE(missing.replyCode, 500);
    EXPECT_FALSE(missing.reply.empty());
    EXPECT_EQ(SendFtpCommand(session, "NOSUCHCOMMAND").kind, ErrorKind::Refused);
    EXPECT_EQ(SendFtpCommand(session, "SITE CHMOD 644 a\nDELE moved.txt").kind, ErrorKind::Unsafe);
    EXPECT_TRUE(server->exists("new/moved.txt"));
    const Status noop = SendFtpCommand(session, "NOOP"); // still usable after the refusals
    EXPECT_EQ(noop.replyCode, 200);
    EXPECT_TRUE(ui.logLines.empty());
}

// Depth first, files first; dotted folders stay (and their parent); links go as links, never
// entered (pyftpdlib's MLSD calls them folders), also as the folder given.
TEST_P(RemoteOpsTest, TreeDeletes) {
    for (const char* f : {"t/f1", "t/f2", "t/s1/g1", "t/s1/g2", "t/s1/deep/h1", "t/s2/k1"}) {
        put(f, "x");
    }
    makeDirs("t/s2/empty");
    const auto expected = hostTreeOrder("/t/", " delete");
    ASSERT_EQ(expected.size(), 6u);
    ui.journal.clear();
    EXPECT_TRUE(DeleteHostFolder(session, "/t/")); // with the final "/" alike
    EXPECT_EQ(ui.journal, expected);
    EXPECT_FALSE(server->exists("t"));
    EXPECT_FALSE(DeleteHostFolder(session, "/t/"));

    put("d/keep./inside", "x");
    put("d/file.", "x");                           // a file ending in a dot goes
    EXPECT_FALSE(DeleteHostFolder(session, "/d")); // the dotted folder keeps d
    EXPECT_TRUE(server->exists("d/keep./inside"));
    EXPECT_FALSE(server->exists("d/file."));

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
}

OXLIP_ON_BOTH_SERVERS(RemoteOpsTest);

} // namespace
} // namespace oxlip
