// Tree transfers over several connections of one login.

#include "HostileFixture.h"
#include "ServerFixture.h"
#include "ftp/Transfer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlip::test {
namespace {

constexpr int kConnections = 4;

// Three folders of files of many sizes (one empty, one of several blocks): relative path and
// bytes.
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
    // Every file told once, and no connection refused.
    const auto told = [&](const std::string& line) {
        return std::count(ui.journal.begin(), ui.journal.end(), line);
    };
    for (const auto& [path, bytes] : tree) {
        const std::string name = path.substr(path.rfind('/') + 1);
        const int copies =
            static_cast<int>(std::count_if(tree.begin(), tree.end(), [&](const auto& f) {
                return f.first.substr(f.first.rfind('/') + 1) == name;
            }));
        EXPECT_EQ(told("item " + name + " receive"), copies) << name;
    }
    EXPECT_EQ(std::count_if(ui.logLines.begin(), ui.logLines.end(),
                            [](const std::string& l) { return l.rfind("extra-refused", 0) == 0; }),
              0);
    // The session is usable afterwards and only its own connection remains.
    std::vector<DirEntry> list;
    EXPECT_TRUE(ListHostFolder(session, list, "/up/*.*"));
}

OXLIP_ON_BOTH_SERVERS(ParallelTest);

// A server that takes one connection per address: the tree goes on over the session's own,
// and the log tells each refused connection.
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
    EXPECT_EQ(std::count_if(ui.logLines.begin(), ui.logLines.end(),
                            [](const std::string& l) { return l.rfind("extra-refused", 0) == 0; }),
              kConnections - 1);
    CloseSession(session);
}

// A file that comes short in the middle of the tree ("/cut": a.bin, short.bin, z.bin): the
// tree fails, nothing of the short file is left (not even its hidden part), and every extra
// connection says QUIT when the tree is done.
TEST_F(HostileTest, ParallelTreeFailureInTheMiddle) {
    start("");
    SessionPorts ports{&ui, nullptr};
    session.setPorts(ports);
    ASSERT_TRUE(OpenSession(session, "t", server->server(), HostileServer::user(),
                            HostileServer::password()));
    client = session.client(); // the fixture's engine was replaced by the session's own
    server->clearLog();
    const std::string into = local.file("cut");
    EXPECT_FALSE(DownloadFolder(session, "/cut", into, TransferMode::Binary, kConnections));
    std::vector<std::string> left;
    if (DIR* dir = ::opendir(into.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.' || std::string(entry->d_name).size() > 2) {
                left.push_back(entry->d_name);
            }
        }
        ::closedir(dir);
    }
    for (const std::string& name : left) {
        EXPECT_TRUE(name == "a.bin" || name == "z.bin") << name;
    }
    const auto commands = server->commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "QUIT"), kConnections - 1);
    EXPECT_TRUE(stillUsable());
    CloseSession(session);
}

} // namespace
} // namespace oxlip::test
