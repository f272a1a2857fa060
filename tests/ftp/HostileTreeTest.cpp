// A tree walk lists every folder once, one listing at a time. (Deep trees on the real
// servers are walked in TransferTest and RemoteOpsTest, down to the depth limit.)

#include "HostileFixture.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"

#include <algorithm>
#include <map>

namespace oxlip::test {
namespace {

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
    const auto expectEachFolderListedOnce = [this](const char* scenario) {
        const auto listed = Listings(server->commands());
        EXPECT_EQ(listed.size(), 13u) << scenario;
        for (const auto& [folder, times] : listed) {
            EXPECT_EQ(times, 1) << scenario << " " << folder;
        }
    };
    for (const char* scenario : {"", "mlsd"}) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        ASSERT_TRUE(
            DownloadFolder(client.get(), "/wide", local.file(scenario + std::string("w")), 2))
            << scenario;
        expectEachFolderListedOnce(scenario);
        EXPECT_EQ(ReadFileBytes(local.file(scenario + std::string("w/c/b/f2.txt"))), "two");

        EXPECT_EQ(server->maxOpenData(), 1) << scenario;
        server->clearLog();
        ASSERT_TRUE(DeleteHostFolder(client.get(), "/wide")) << scenario;
        expectEachFolderListedOnce(scenario);
        // Never two data connections at once.
        EXPECT_EQ(server->maxOpenData(), 1) << scenario;
        client->close();
    }
}

} // namespace
} // namespace oxlip::test
