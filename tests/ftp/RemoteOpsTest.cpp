// The engine, the session and the remote operations against real servers (pyftpdlib and vsftpd).

#include "ftp/RemoteOps.h"
#include "ServerFixture.h"
#include "ftp/Transfer.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/tcp.h>

namespace oxlip {
namespace {

using RemoteOpsTest = test::ServerTest;

// Log lines of logins; failed ones leave no connection; dead hosts fail within the time-out;
// the one control connection left probes while idle.
TEST_P(RemoteOpsTest, LoginsAndTheirLogLines) {
    CloseSession(session);
    EXPECT_FALSE(session.connected());
    CloseSession(session); // closing nothing is fine
    ASSERT_TRUE(OpenSession(session, "p", server->server(), server->user(), server->password()));
    EXPECT_EQ(ui.logLines, (std::vector<std::string>{"connecting " + server->server(), "connected",
                                                     "logging-in", "logged-in"}));
    ui.logLines.clear();
    const Status login = OpenSession(session, "p", server->server(), server->user(), "wrong");
    EXPECT_EQ(login.kind, ErrorKind::Refused);
    EXPECT_FALSE(session.connected());
    EXPECT_EQ(ui.logLines.back(), "logging-in");
    EXPECT_EQ(OpenSession(session, "p", "", "u", "p").kind, ErrorKind::NotConnected);
    EXPECT_EQ(OpenSession(session, "p", "127.0.0.1:1", "u", "p").kind, ErrorKind::ConnectionLost);

    FtpClient other;
    other.setTimeouts(3000, 3000);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(other.connect("nonexistent.invalid", "u", "p"));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(6));
    EXPECT_FALSE(other.connect("127.0.0.1:99999", "u", "p"));
    EXPECT_TRUE(other.connect(" " + server->server() + " ", server->user(), server->password()));
    std::vector<std::vector<int>> found; // {keep-alive, idle, interval, count} each
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            ntohs(peer.sin_port) != server->port()) {
            continue;
        }
        found.emplace_back();
        for (auto [level, name] : {std::pair{SOL_SOCKET, SO_KEEPALIVE},
                                   {IPPROTO_TCP, TCP_KEEPIDLE},
                                   {IPPROTO_TCP, TCP_KEEPINTVL},
                                   {IPPROTO_TCP, TCP_KEEPCNT}}) {
            int value = -1;
            socklen_t size = sizeof value;
            ::getsockopt(fd, level, name, &value, &size);
            found.back().push_back(value);
        }
    }
    EXPECT_EQ(found, (std::vector<std::vector<int>>{{1, 30, 10, 6}}));
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
    test::MakeEntries(server->path("."), {"dir/b.html", "dir/sub/", "empty/"});
    put("空白  フォルダ /日本語 ファイル.txt", "内容");
    const std::pair<const char*, std::vector<std::string>> rows[] = {
        {"/dir/*.*", {"a.txt", "b.html", "sub"}},
        {"/dir/*.txt", {"a.txt"}},
        {"/empty", {}},
        {"/空白  フォルダ /*.*", {"日本語 ファイル.txt"}},
    };
    for (const auto& [pattern, names] : rows) {
        std::vector<std::string> got = test::HostNames(session, pattern);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, names) << pattern;
    }
    DirEntry e;
    ASSERT_TRUE(client->entry("/dir/a.txt", e));
    EXPECT_EQ(e.size, 5u);
    EXPECT_FALSE(e.directory);
    EXPECT_NE(e.modified.ticks, 0u);
    ASSERT_TRUE(client->entry("/empty", e));
    EXPECT_TRUE(e.directory);
    DirEntry untouched;
    EXPECT_FALSE(GetHostEntry(session, "/dir/missing.txt", untouched));
    EXPECT_EQ(untouched, DirEntry{});

    const std::string folder = "/空白  フォルダ ";
    EXPECT_EQ(HostCurrentDirectory(session, folder + "/").value(), folder + "/");
    EXPECT_EQ(HostCurrentDirectory(session, "/missing/").status().kind, ErrorKind::Refused);
    EXPECT_EQ(HostCurrentDirectory(session, "").value(), folder); // unchanged
    std::vector<DirEntry> entries;
    ASSERT_TRUE(ListHostFolder(session, entries, "*.*")); // the current folder
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(client->rename(entries[0].name, "名前を変えた.txt"));
    EXPECT_TRUE(client->makeDir("新しいフォルダ"));
    EXPECT_TRUE(server->exists("空白  フォルダ /名前を変えた.txt"));
    EXPECT_TRUE(server->exists("空白  フォルダ /新しいフォルダ"));
}

TEST_P(RemoteOpsTest, DeleteRenameCreateRawCommandsAndClose) {
    put("readme.txt", "x");
    ASSERT_TRUE(DeleteHostFile(session, "/readme.txt"));
    EXPECT_EQ(ui.journal, std::vector<std::string>{"item readme.txt delete"});
    EXPECT_EQ(DeleteHostFile(session, "/readme.txt").kind, ErrorKind::Refused);
    EXPECT_TRUE(CreateHostFolder(session, "/new"));
    EXPECT_FALSE(CreateHostFolder(session, "/new")); // already there
    put("old.txt", "data");
    EXPECT_TRUE(RenameHostFile(session, "/old.txt", "/new/moved.txt"));
    EXPECT_EQ(RenameHostFile(session, "/old.txt", "/x.txt").kind, ErrorKind::Refused);

    // A taken name (also in another case, or the entry itself) is refused; nothing replaced.
    put("readme.txt", "keep");
    put("data.bin", "data");
    put("Data.bin", "Data");
    for (const char* to : {"/data.bin", "/new", "/new/moved.txt", "/readme.txt"}) {
        EXPECT_EQ(RenameHostFile(session, "/readme.txt", to).kind, ErrorKind::Exists) << to;
    }
    EXPECT_EQ(RenameHostFile(session, "/data.bin", "/Data.bin").kind, ErrorKind::Exists);
    EXPECT_EQ(server->readFile("data.bin") + server->readFile("Data.bin") +
                  server->readFile("new/moved.txt") + server->readFile("readme.txt"),
              "dataDatadatakeep");
    EXPECT_TRUE(RenameHostFile(session, "/readme.txt", "/README.txt"));

    EXPECT_TRUE(SendFtpCommand(session, "SITE CHMOD 640 /new/moved.txt"));
    std::vector<DirEntry> list;
    ASSERT_TRUE(ListHostFolder(session, list, "/new/*.*"));
    EXPECT_EQ(list.at(0).permissions, 0640u);
    const Status missing = SendFtpCommand(session, "SITE CHMOD 644 missing.txt");
    EXPECT_EQ(missing.kind, ErrorKind::Refused);
    EXPECT_FALSE(missing.reply.empty());
    EXPECT_EQ(SendFtpCommand(session, "SITE CHMOD 644 a\nDELE moved.txt").kind, ErrorKind::Unsafe);

    // Refused after its data went before the 150: it fails, and the next command gets its reply.
    test::TempDir local;
    test::WriteFileBytes(local.file("up.bin"), std::string(200000, 'x'));
    const int fd = ::open(local.file("up.bin").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_FALSE(client->store("/no/such/f", false, fd, nullptr));
    ::close(fd);
    EXPECT_EQ(client->lastReplyCode() / 100, 5) << client->lastReplyText();
    EXPECT_EQ(client->rawCommand("NOOP"), 200);
    // A local failure keeps the connection; after close() calls fail, the object connects again.
    const int unreadable = ::open(local.file("up.bin").c_str(), O_WRONLY | O_CLOEXEC);
    EXPECT_FALSE(client->store("/unreadable.bin", false, unreadable, nullptr));
    ::close(unreadable);
    EXPECT_TRUE(client->isOpen());
    client->close();
    EXPECT_FALSE(client->isOpen());
    EXPECT_FALSE(client->lost());
    EXPECT_FALSE(client->changeDir("/"));
    EXPECT_TRUE(client->connect(server->server(), server->user(), server->password()));
}

// Depth first, files first; dotted folders stay; links go as links, never entered, also given.
TEST_P(RemoteOpsTest, TreeDeletes) {
    for (const char* f : {"t/f1", "t/f2", "t/s1/g1", "t/s1/g2", "t/s1/deep/h1", "t/s2/k1"}) {
        put(f, "x");
    }
    makeDirs("t/s2/empty");
    const auto expected = hostTreeOrder("/t/", " delete");
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
