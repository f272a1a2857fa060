// Tree transfers over several connections of one login.

#include "HostileFixture.h"
#include "ServerFixture.h"
#include "ftp/Transfer.h"

namespace oxlip::test {
namespace {

constexpr int kConnections = 4;

using ParallelTest = ServerTest;

// Four folders of files of many sizes down and up again; every file told once.
TEST_P(ParallelTest, TreeBothWaysWithFourConnections) {
    std::vector<std::pair<std::string, std::string>> tree;
    unsigned seed = 1;
    for (const std::string folder : {"", "a/", "a/b/", "c/"}) {
        for (int i = 0; i < 6; ++i) {
            const std::size_t size = i == 0 ? 0 : (i == 5 ? 300000 : 1000 * i + seed);
            tree.emplace_back(folder + "f" + std::to_string(i) + ".bin", RandomBytes(size, ++seed));
            put("tree/" + tree.back().first, tree.back().second);
        }
    }
    TempDir local;
    const TransferMode binary = TransferMode::Binary;
    ASSERT_TRUE(DownloadFolder(session, "/tree", local.file("t"), binary, kConnections));
    ASSERT_TRUE(UploadFolder(session, local.file("t"), "/up", binary, kConnections));
    for (const auto& [path, bytes] : tree) {
        EXPECT_EQ(server->readFile("up/" + path), bytes) << path;
        const std::string name = path.substr(path.rfind('/') + 1); // in each of the 4 folders
        EXPECT_EQ(CountPrefix(ui.journal, "item " + name + " receive"), 4) << path;
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
    MakeEntries(server.path("."), {"f1", "f2", "f3", "f4", "f5", "f6"});
    UiRecorder ui;
    Session session(ui.ports());
    // The server's start-up probe may still hold the one connection for a moment.
    for (int i = 0;
         i < 30 && !OpenSession(session, "t", server.server(), server.user(), server.password());
         ++i) {
        ::usleep(100 * 1000);
    }
    ASSERT_TRUE(session.connected());
    TempDir local;
    EXPECT_TRUE(DownloadFolder(session, "/", local.path(), TransferMode::Binary, kConnections));
    EXPECT_EQ(LocalNames(local.path()).size(), 6u);
    EXPECT_EQ(CountPrefix(ui.logLines, "extra-refused"), kConnections - 1);
    CloseSession(session);
}

class ParallelHostileTest : public HostileTest {
protected:
    void SetUp() override {
        start("");
        session.setPorts(SessionPorts{&ui, nullptr});
        ASSERT_TRUE(OpenSession(session, "t", server->server(), HostileServer::user(),
                                HostileServer::password()));
        client = session.client(); // the fixture's engine was replaced by the session's own
    }
};

// Alone, the next EPSV's port is given back (ABOR); in parallel, every extra connection QUITs.
TEST_F(ParallelHostileTest, FailureInTheMiddleOfATree) {
    // {folder, connections, reply code, reply, closing command, times sent}
    const std::tuple<std::string, int, int, std::string, std::string, long> rows[] = {
        {"late", 1, 451, "Transfer failed.", "ABOR", 1},
        {"cut", 1, 0, "the file arrived incomplete", "ABOR", 1},
        {"cut", kConnections, 0, "the file arrived incomplete", "QUIT", kConnections - 1}};
    for (const auto& [folder, connections, code, reply, closing, times] : rows) {
        const std::string label = folder + std::to_string(connections);
        server->clearLog();
        const std::string into = local.file(label);
        const Status got =
            DownloadFolder(session, "/" + folder, into, TransferMode::Binary, connections);
        EXPECT_EQ(got.replyCode, code) << label;
        EXPECT_NE(got.reply.find(reply), std::string::npos) << label << ": " << got.reply;
        for (const std::string& name : LocalNames(into, true)) {
            EXPECT_TRUE(name == "a.bin" || (connections > 1 && name == "z.bin")) << label;
        }
        EXPECT_EQ(CountPrefix(server->commands(), closing), times) << label;
        EXPECT_TRUE(stillUsable()) << label;
    }
}

// Cancelled mid-tree both ways: only whole files, extra connections QUIT, the session goes on.
TEST_F(ParallelHostileTest, TreeCancelledMidway) {
    const std::string down = local.file("down");
    const std::string up = local.file("up");
    for (int i = 0; i < 24; ++i) {
        MakeEntries(up, {"d" + std::to_string(i % 3) + "/f" + std::to_string(i)});
    }
    for (const bool download : {true, false}) {
        server->clearLog();
        ui.journal.clear();
        const Status got = CancelWhen(
            session, ui, [&] { return CountPrefix(ui.journal, "item ") >= 6; },
            [&] {
                return download ? DownloadFolder(session, "/wide", down, TransferMode::Binary,
                                                 kConnections)
                                : UploadFolder(session, up, "/wide-up", TransferMode::Binary,
                                               kConnections);
            });
        EXPECT_EQ(got.kind, ErrorKind::Cancelled) << download << got.reply;
        EXPECT_EQ(CountPrefix(server->commands(), "QUIT"), kConnections - 1) << download;
        EXPECT_TRUE(stillUsable()) << download;
    }
    // Whole files only ("f1.txt" holds "one", "f2.txt" "two"), and not all 26 in 13 folders.
    const auto names = LocalNames(down, true);
    for (const std::string& name : names) {
        const std::string path = down + "/" + name;
        EXPECT_TRUE(name.ends_with("1.txt")   ? ReadFileBytes(path) == "one"
                    : name.ends_with("2.txt") ? ReadFileBytes(path) == "two"
                                              : std::filesystem::is_directory(path))
            << name;
    }
    EXPECT_LT(names.size(), 26u + 12u);
}

} // namespace
} // namespace oxlip::test
