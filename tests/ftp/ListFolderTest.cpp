// A folder is made current and listed there, so that servers which read a listing's path as a
// pattern, or put it before every name, or say "550" for an empty folder, still give its
// entries; and the client knows which folder the session is in.

#include "HostileFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/Transfer.h"

#include <algorithm>
#include <filesystem>

namespace oxlip::test {
namespace {

const std::vector<std::string> kWideNames = {"f1.txt", "f2.txt", "a", "b", "c"};

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t FilesBelow(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    std::size_t files = 0;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        files += it->is_regular_file() ? 1 : 0;
    }
    return files;
}

long CountOf(const std::vector<std::string>& commands, const std::string& line) {
    return std::count(commands.begin(), commands.end(), line);
}

// /wide holds two files and three folders, two levels deep: 26 files in all.
TEST_F(HostileTest, FoldersListAndWalkWhateverTheServerMakesOfAPath) {
    for (const char* scenario : {"", "mlsd", "list-pattern", "list-prefix", "list-pattern,mlsd"}) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        bool ok = false;
        EXPECT_EQ(Sorted(names("/wide", &ok)), Sorted(kWideNames)) << scenario;
        EXPECT_TRUE(ok) << scenario;
        EXPECT_EQ(Sorted(names("/wide/a/*.txt")), Sorted({"f1.txt", "f2.txt"})) << scenario;
        const std::string into = local.file(std::string("w-") + scenario);
        EXPECT_TRUE(DownloadFolder(session, "/wide", into, TransferMode::Binary)) << scenario;
        EXPECT_EQ(FilesBelow(into), 26u) << scenario;
        // A folder is entered once per walk, and every listing names no path.
        const auto commands = server->commands();
        EXPECT_EQ(CountOf(commands, "CWD /wide/c/b"), 1) << scenario;
        for (const std::string& c : commands) {
            EXPECT_TRUE(c.rfind("LIST", 0) != 0 || c == "LIST -a") << scenario << ": " << c;
        }
        client->close();
    }
}

// An empty folder may be answered with 550; CWD tells it from a folder that is not there,
// and a refusal stays a failure.
TEST_F(HostileTest, EmptyFolderAnsweredWith550IsEmpty) {
    struct Case {
        const char* path;
        bool ok;
    };
    const Case cases[] = {{"/void", true},
                          {"/void/*.*", true},
                          {"/missing", false},
                          {"/locked", false},
                          {"/hello.txt", false}};
    for (const char* scenario : {"empty-550", "empty-550,mlsd"}) {
        start(scenario);
        ASSERT_TRUE(login()) << scenario;
        ASSERT_TRUE(client->makeDir("/void"));
        ASSERT_TRUE(client->makeDir("/locked"));
        ASSERT_TRUE(client->makeDir("/wide/a/void"));
        for (const Case& c : cases) {
            bool ok = !c.ok;
            EXPECT_TRUE(names(c.path, &ok).empty()) << scenario << " " << c.path;
            EXPECT_EQ(ok, c.ok) << scenario << " " << c.path;
        }
        // A tree with an empty folder in it comes down whole.
        const std::string into = local.file(std::string("w-") + scenario);
        EXPECT_TRUE(DownloadFolder(session, "/wide", into, TransferMode::Binary)) << scenario;
        EXPECT_TRUE(std::filesystem::is_directory(into + "/a/void")) << scenario;
        EXPECT_EQ(FilesBelow(into), 26u) << scenario;
        client->close();
    }
}

// After a pane's listing the session is in the folder shown; listing it again, or looking up
// an entry elsewhere, moves it no more; after a raw command that may move it, the next listing
// enters the folder again.
TEST_F(HostileTest, SessionStaysInTheFolderListed) {
    start("");
    ASSERT_TRUE(login());
    std::vector<DirEntry> list;
    ASSERT_TRUE(ListHostFolder(session, list, "/wide/a/*.*"));
    EXPECT_EQ(client->currentDir(), "/wide/a");
    server->clearLog();
    ASSERT_TRUE(ListHostFolder(session, list, "/wide/a/*.*"));
    DirEntry entry;
    ASSERT_TRUE(client->entry("/wide/b/c", entry)); // no MLST: its folder's listing
    EXPECT_TRUE(entry.directory);
    auto commands = server->commands();
    std::erase_if(commands, [](const std::string& c) { return c == "EPSV" || c == "TYPE I"; });
    EXPECT_EQ(commands, (std::vector<std::string>{"LIST -a", "SIZE /wide/b/c", "LIST -a /wide/b"}));
    EXPECT_EQ(client->currentDir(), "/wide/a");
    EXPECT_EQ(client->rawCommand("CWD /wide"), 250);
    EXPECT_EQ(Sorted(names("/wide/a")), Sorted({"f1.txt", "f2.txt", "a", "b", "c"}));
    EXPECT_EQ(client->currentDir(), "/wide/a");
    // A walk of a relative path starts from the folder the session is in, and ends there.
    EXPECT_TRUE(DownloadFolder(session, "c", local.file("c"), TransferMode::Binary));
    EXPECT_EQ(FilesBelow(local.file("c")), 2u);
    EXPECT_EQ(client->currentDir(), "/wide/a");
}

} // namespace
} // namespace oxlip::test
