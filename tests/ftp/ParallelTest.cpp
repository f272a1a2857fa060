// Tree transfers over several connections of one login.

#include "HostileFixture.h"
#include "ServerFixture.h"
#include "ftp/Transfer.h"

#include <fcntl.h>

namespace oxlip::test {
namespace {

constexpr int kConnections = 4;

// Four folders of files of many sizes: relative path and bytes.
std::vector<std::pair<std::string, std::string>> SampleTree() {
    std::vector<std::pair<std::string, std::string>> files;
    unsigned seed = 1;
    for (const std::string folder : {"", "a/", "a/b/", "c/"}) {
        for (int i = 0; i < 6; ++i) {
            const std::size_t size = i == 0 ? 0 : (i == 5 ? 300000 : 1000 * i + seed);
            files.emplace_back(folder + "f" + std::to_string(i) + ".bin",
                               RandomBytes(size, ++seed));
        }
    }
    return files;
}

using ParallelTest = ServerTest;

TEST_P(ParallelTest, TreeBothWaysWithFourConnections) {
    const auto tree = SampleTree();
    for (const auto& [path, bytes] : tree) {
        put("tree/" + path, bytes);
    }
    TempDir local;
    ASSERT_TRUE(
        DownloadFolder(session, "/tree", local.file("t"), TransferMode::Binary, kConnections));
    for (const auto& [path, bytes] : tree) {
        EXPECT_EQ(ReadFileBytes(local.file("t/" + path)), bytes) << path;
    }
    ASSERT_TRUE(UploadFolder(session, local.file("t"), "/up", TransferMode::Binary, kConnections));
    for (const auto& [path, bytes] : tree) {
        EXPECT_EQ(server->readFile("up/" + path), bytes) << path;
    }
    // Every file told once (each name is in 4 folders), and no connection refused.
    for (const auto& [path, bytes] : tree) {
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_EQ(CountPrefix(ui.journal, "item " + name + " receive"), 4) << name;
    }
    EXPECT_EQ(CountPrefix(ui.logLines, "extra-refused"), 0);
    EXPECT_FALSE(HostNames(session, "/up").empty()); // the session is usable afterwards
}

// A refused transfer fails with the server's reply; the next command gets its own answer.
TEST_P(ParallelTest, RefusedTransfersTellTheServersReply) {
    TempDir local;
    WriteFileBytes(local.file("f"), std::string(200000, 'x'));
    for (const bool upload : {false, true}) {
        const int fd = ::open(local.file("f").c_str(), upload ? O_RDONLY : O_WRONLY);
        ASSERT_GE(fd, 0);
        EXPECT_FALSE(upload ? client->store("/no/such/f", false, fd, nullptr)
                            : client->retrieve("/missing.bin", false, fd, nullptr));
        ::close(fd);
        EXPECT_EQ(client->lastReplyCode() / 100, 5) << upload << client->lastReplyText();
        EXPECT_EQ(client->rawCommand("NOOP"), 200) << upload;
    }
}

OXLIP_ON_BOTH_SERVERS(ParallelTest);

// One connection per address: the tree goes on over the session's own, refusals logged.
TEST(ParallelOneConnectionTest, GoesOnWithTheSessionsOwn) {
    if (!CanRunServer(ServerKind::Vsftpd)) {
        GTEST_SKIP() << "no vsftpd";
    }
    FtpServer server(ServerKind::Vsftpd, {}, 1);
    ASSERT_TRUE(server.ok()) << server.error();
    for (int i = 0; i < 6; ++i) {
        server.writeFile("f" + std::to_string(i), RandomBytes(5000 + i, i + 1));
    }
    UiRecorder ui;
    Session session(ui.ports());
    // The server's start-up probe may still hold the one connection for a moment.
    bool open = false;
    for (int attempt = 0; attempt < 30 && !open; ++attempt) {
        open = OpenSession(session, "test", server.server(), server.user(), server.password()).ok();
        if (!open) {
            ::usleep(100 * 1000);
        }
    }
    ASSERT_TRUE(open);
    ui.logLines.clear();
    TempDir local;
    const Status got =
        DownloadFolder(session, "/", local.path(), TransferMode::Binary, kConnections);
    ASSERT_TRUE(got) << int(got.kind) << " " << got.reply << " "
                     << ::testing::PrintToString(ui.logLines);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ReadFileBytes(local.file("f" + std::to_string(i))), RandomBytes(5000 + i, i + 1));
    }
    EXPECT_EQ(CountPrefix(ui.logLines, "extra-refused"), kConnections - 1);
    CloseSession(session);
}

class ParallelHostileTest : public HostileTest {
protected:
    void open() {
        start("");
        session.setPorts(SessionPorts{&ui, nullptr});
        ASSERT_TRUE(OpenSession(session, "t", server->server(), HostileServer::user(),
                                HostileServer::password()));
        client = session.client(); // the fixture's engine was replaced by the session's own
        server->clearLog();
    }
    long count(const std::string& command) const {
        const auto commands = server->commands();
        return std::count(commands.begin(), commands.end(), command);
    }
};

// A short file mid-tree fails it, leaves nothing of itself; every extra connection QUITs.
TEST_F(ParallelHostileTest, TreeFailureInTheMiddle) {
    open();
    const std::string into = local.file("cut");
    EXPECT_FALSE(DownloadFolder(session, "/cut", into, TransferMode::Binary, kConnections));
    for (const std::string& name : LocalNames(into, true)) {
        EXPECT_TRUE(name == "a.bin" || name == "z.bin") << name;
    }
    EXPECT_EQ(count("QUIT"), kConnections - 1);
    EXPECT_TRUE(stillUsable());
    CloseSession(session);
}

// A file failing (451, or short) after the next EPSV went out stops the tree with its own
// failure; the EPSV's port is given back (ABOR) and the session goes on.
TEST_F(ParallelHostileTest, FailureWithTheNextDataConnectionAskedFor) {
    open();
    const struct {
        const char* folder;
        const char* file;
        int code;
        const char* reply;
    } cases[] = {{"late", "late-451.bin", 451, "Transfer failed."},
                 {"cut", "short.bin", 0, "the file arrived incomplete"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        server->clearLog();
        const std::string into = local.file(c.folder);
        const Status got =
            DownloadFolder(session, std::string("/") + c.folder, into, TransferMode::Binary);
        EXPECT_EQ(got.replyCode, c.code);
        EXPECT_NE(got.reply.find(c.reply), std::string::npos) << got.reply;
        EXPECT_EQ(LocalNames(into, true), std::vector<std::string>{"a.bin"});
        const auto commands = server->commands();
        const auto failed = std::find(commands.begin(), commands.end(),
                                      "RETR /" + std::string(c.folder) + "/" + c.file);
        ASSERT_NE(failed, commands.end());
        EXPECT_EQ(std::vector<std::string>(failed + 1, commands.end()).front(), "EPSV");
        EXPECT_EQ(count("ABOR"), 1);
        EXPECT_EQ(count("RETR /" + std::string(c.folder) + "/z.bin"), 0);
        EXPECT_TRUE(stillUsable());
    }
    CloseSession(session);
}

// Cancelled mid-tree both ways: no partial file, extra connections QUIT, the session goes on.
TEST_F(ParallelHostileTest, TreeCancelledMidway) {
    open();
    const std::string down = local.file("down");
    const std::string up = local.file("up");
    for (int i = 0; i < 24; ++i) {
        std::filesystem::create_directories(up + "/d" + std::to_string(i % 3));
        WriteFileBytes(up + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i), "up");
    }
    for (const bool download : {true, false}) {
        server->clearLog();
        ui.journal.clear();
        ui.also = [&] {
            if (CountPrefix(ui.journal, "item ") >= 6) {
                session.requestCancel();
            }
        };
        const Status got =
            download ? DownloadFolder(session, "/wide", down, TransferMode::Binary, kConnections)
                     : UploadFolder(session, up, "/wide-up", TransferMode::Binary, kConnections);
        ui.also = nullptr;
        session.clearCancel();
        EXPECT_EQ(got.kind, ErrorKind::Cancelled) << download << got.reply;
        EXPECT_EQ(count("QUIT"), kConnections - 1) << download;
        EXPECT_TRUE(stillUsable()) << download;
    }
    // Only whole files arrived ("f1.txt" holds "one", "f2.txt" "two"), and not all of them.
    std::size_t files = 0;
    for (const std::string& name : LocalNames(down, true)) {
        EXPECT_NE(name[name.rfind('/') + 1], '.') << name;
        if (name.size() > 6 && name.compare(name.size() - 4, 4, ".txt") == 0) {
            ++files;
            EXPECT_EQ(ReadFileBytes(down + "/" + name),
                      name[name.size() - 5] == '1' ? "one" : "two")
                << name;
        }
    }
    EXPECT_LT(files, 26u);
    CloseSession(session);
}

} // namespace
} // namespace oxlip::test
