// Tree walks at scale: a 20-level tree goes down, up and away on real servers, and a walk
// lists every folder once, one listing at a time.

#include "HostileFixture.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

#include <algorithm>
#include <map>

namespace oxlip::test {
namespace {

constexpr int kLevels = 20;

// "level01/level02/.../levelNN"
std::string LevelPath(int depth) {
    std::string path;
    for (int i = 1; i <= depth; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "level%02d", i);
        path += (i > 1 ? "/" : "") + std::string(name);
    }
    return path;
}

class DeepTreeTest : public ::testing::TestWithParam<ServerKind> {};

TEST_P(DeepTreeTest, TwentyLevelTreeTransfersAndDeletes) {
    std::string why;
    if (!CanRunServer(GetParam(), &why)) {
        GTEST_SKIP() << why;
    }
    FtpServer server(GetParam());
    ASSERT_TRUE(server.ok()) << server.error();
    for (int depth = 1; depth <= kLevels; ++depth) {
        server.makeDir(LevelPath(depth));
        server.writeFile(LevelPath(depth) + "/file.txt", "level " + std::to_string(depth));
    }
    HostileLog log;
    ftp::FtpClient client(SessionPorts{&log, nullptr, nullptr, nullptr});
    client.setTimeouts(5000, 10000);
    ASSERT_TRUE(client.connect(server.server(), server.user(), server.password()));

    TempDir local;
    ASSERT_TRUE(DownloadFolder(&client, "/level01", local.file("level01"), 2));
    for (int depth = 1; depth <= kLevels; ++depth) {
        EXPECT_EQ(ReadFileBytes(local.file(LevelPath(depth) + "/file.txt")),
                  "level " + std::to_string(depth));
    }
    ASSERT_TRUE(UploadFolder(&client, local.file("level01"), "/copy", 2));
    EXPECT_EQ(server.readFile("copy" + LevelPath(kLevels).substr(7) + "/file.txt"),
              "level " + std::to_string(kLevels));

    EXPECT_TRUE(DeleteHostFolder(&client, "/level01"));
    EXPECT_TRUE(DeleteHostFolder(&client, "/copy"));
    EXPECT_FALSE(server.exists("level01"));
    EXPECT_FALSE(server.exists("copy"));
    EXPECT_TRUE(log.lines.empty());
    client.close();
}

INSTANTIATE_TEST_SUITE_P(Servers, DeepTreeTest,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::Vsftpd),
                         [](const ::testing::TestParamInfo<ServerKind>& info) {
                             return std::string(ServerKindName(info.param));
                         });

// How often each folder was listed.
std::map<std::string, int> Listings(const std::vector<std::string>& commands) {
    std::map<std::string, int> count;
    for (const std::string& c : commands) {
        if (c.rfind("LIST", 0) == 0 || c.rfind("MLSD", 0) == 0) {
            std::string arg = c.size() > 5 ? c.substr(5) : "";
            if (arg.rfind("-a ", 0) == 0) {
                arg = arg.substr(3);
            }
            while (arg.size() > 1 && arg.back() == '/') {
                arg.pop_back();
            }
            ++count[arg];
        }
    }
    return count;
}

TEST_F(HostileTest, TreeWalksListEachFolderOnceAndOneAtATime) {
    // /wide: three folders a level, two levels deep: 13 folders.
    for (const char* scenario : {"", "mlsd"}) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        ASSERT_TRUE(
            DownloadFolder(client.get(), "/wide", local.file(scenario + std::string("w")), 2))
            << scenario;
        auto listed = Listings(server->commands());
        EXPECT_EQ(listed.size(), 13u) << scenario;
        EXPECT_TRUE(std::all_of(listed.begin(), listed.end(), [](const auto& item) {
            return item.second == 1;
        })) << scenario;
        EXPECT_EQ(ReadFileBytes(local.file(scenario + std::string("w/c/b/f2.txt"))), "two");

        EXPECT_EQ(server->maxOpenData(), 1) << scenario;
        server->clearLog();
        ASSERT_TRUE(DeleteHostFolder(client.get(), "/wide")) << scenario;
        listed = Listings(server->commands());
        EXPECT_EQ(listed.size(), 13u) << scenario;
        EXPECT_TRUE(std::all_of(listed.begin(), listed.end(), [](const auto& item) {
            return item.second == 1;
        })) << scenario;
        // Never two data connections at once.
        EXPECT_EQ(server->maxOpenData(), 1) << scenario;
        client->close();
    }
}

} // namespace
} // namespace oxlip::test
