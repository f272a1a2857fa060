// The engine against real servers: the same cases against pyftpdlib and vsftpd.

#include "ServerFixture.h"
#include "ftp/engine/FtpClient.h"

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace oxlip::ftp {
namespace {

using Clock = std::chrono::steady_clock;

// An open file descriptor on a path, closed when it goes.
struct Fd {
    int fd;
    Fd(const std::string& path, int flags) : fd(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

const DirEntry* Find(const std::vector<DirEntry>& entries, const std::string& name) {
    for (const DirEntry& e : entries) {
        if (e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

class EngineServerTest : public test::ServerTest {
protected:
    bool download(const std::string& remote, const std::string& local) {
        Fd out(local, O_WRONLY | O_CREAT | O_TRUNC);
        return out.fd >= 0 && client->retrieve(remote, false, out.fd, nullptr);
    }
    test::TempDir local;
};

TEST_P(EngineServerTest, LoginFailuresLeaveNoConnection) {
    FtpClient other;
    EXPECT_FALSE(other.connect(server->server(), server->user(), "wrong password"));
    EXPECT_FALSE(other.isOpen());
    EXPECT_FALSE(other.connect(server->server(), "nosuchuser", "x"));
    EXPECT_FALSE(other.changeDir("/"));

    // A port where nobody listens: refused at once.
    auto start = Clock::now();
    EXPECT_FALSE(other.connect("127.0.0.1:1", "u", "p"));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));

    // A name that never resolves; the lookup is bounded by the connect time-out.
    other.setTimeouts(3000, 3000);
    start = Clock::now();
    EXPECT_FALSE(other.connect("nonexistent.invalid", "u", "p"));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
    EXPECT_FALSE(other.connect("", "u", "p"));
    EXPECT_FALSE(other.connect("127.0.0.1:99999", "u", "p"));
    EXPECT_FALSE(other.lost());
    // Blanks around the server text do not matter.
    EXPECT_TRUE(other.connect(" " + server->server() + " ", server->user(), server->password()));
}

TEST_P(EngineServerTest, ListsAndMatchesPatterns) {
    server->makeDir("dir");
    server->writeFile("dir/a.txt", "12345");
    server->writeFile("dir/b.html", "x");
    server->writeFile("dir/noext", "");
    server->makeDir("dir/sub");
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client->list("/dir/*.*", entries));
    ASSERT_EQ(entries.size(), 4u);
    const DirEntry* a = Find(entries, "a.txt");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, 5u);
    EXPECT_FALSE(a->directory);
    EXPECT_NE(a->modified.ticks, 0u);
    ASSERT_NE(Find(entries, "sub"), nullptr);
    EXPECT_TRUE(Find(entries, "sub")->directory);

    ASSERT_TRUE(client->list("/dir/*.txt", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "a.txt");
    ASSERT_TRUE(client->list("/dir/?.*", entries));
    EXPECT_EQ(entries.size(), 2u);
    ASSERT_TRUE(client->list("/dir/nothing*", entries));
    EXPECT_TRUE(entries.empty());
    server->makeDir("empty");
    entries.resize(1);
    EXPECT_TRUE(client->list("/empty", entries)); // without a pattern
    EXPECT_TRUE(entries.empty());

    // Blanks in folder and file names.
    server->makeDir("with  blanks ");
    server->writeFile("with  blanks /a file.txt", "1");
    ASSERT_TRUE(client->list("/with  blanks /*.*", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "a file.txt");

    DirEntry e;
    ASSERT_TRUE(client->entry("/dir/a.txt", e));
    EXPECT_EQ(e.name, "a.txt");
    EXPECT_EQ(e.size, 5u);
    EXPECT_FALSE(e.directory);
    ASSERT_TRUE(client->entry("/empty", e));
    EXPECT_TRUE(e.directory);
    DirEntry untouched;
    EXPECT_FALSE(client->entry("/no-such-file", untouched));
    EXPECT_EQ(untouched, DirEntry{});
}

TEST_P(EngineServerTest, JapaneseNames) {
    const std::string file = "日本語ファイル.txt";
    const std::string folder = "フォルダ　空白";
    server->makeDir(folder);
    server->writeFile(folder + "/" + file, "内容");
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client->list("/" + folder + "/*.*", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, file);
    EXPECT_EQ(entries[0].size, std::string("内容").size());
    ASSERT_TRUE(client->changeDir("/" + folder));
    EXPECT_EQ(client->currentDir().value_or("?"), "/" + folder);
    ASSERT_TRUE(download(file, local.file("j.txt")));
    EXPECT_EQ(test::ReadFileBytes(local.file("j.txt")), "内容");
    EXPECT_TRUE(client->rename(file, "名前を変えた.txt"));
    EXPECT_TRUE(server->exists(folder + "/名前を変えた.txt"));
    EXPECT_TRUE(client->makeDir("新しいフォルダ"));
    EXPECT_TRUE(server->exists(folder + "/新しいフォルダ"));
}

// Failures on either side keep the connection; after close() every call fails and the same
// object connects again. (That close() says QUIT is checked against the hostile server's log.)
TEST_P(EngineServerTest, FailuresKeepTheConnectionAndCloseEndsIt) {
    EXPECT_FALSE(download("/missing.bin", local.file("m")));
    test::WriteFileBytes(local.file("up.bin"), "x");
    Fd unreadable(local.file("up.bin"), O_WRONLY);
    EXPECT_FALSE(client->store("/unreadable.bin", false, unreadable.fd, nullptr));
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

OXLIP_ON_BOTH_SERVERS(EngineServerTest);

} // namespace
} // namespace oxlip::ftp
