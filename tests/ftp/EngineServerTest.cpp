// The engine against real servers: the same cases against pyftpdlib and vsftpd.

#include "EngineRecorders.h"
#include "ftp/engine/FtpClient.h"
#include "support/FtpServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <random>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace oxlip::ftp {
namespace {

using test::FtpServer;
using test::ServerKind;
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

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = char(random() & 0xff);
    }
    return bytes;
}

const DirEntry* Find(const std::vector<DirEntry>& entries, const std::string& name) {
    for (const DirEntry& e : entries) {
        if (e.cFileName == name) {
            return &e;
        }
    }
    return nullptr;
}

class EngineServerTest : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        std::string why;
        if (!test::CanRunServer(GetParam(), &why)) {
            GTEST_SKIP() << why;
        }
        server = std::make_unique<FtpServer>(GetParam());
        ASSERT_TRUE(server->ok()) << server->error();
        client = std::make_unique<FtpClient>(SessionPorts{&log, nullptr, &pump, nullptr});
        ASSERT_TRUE(client->connect(server->server(), server->user(), server->password()))
            << client->lastReplyText();
    }

    bool upload(const std::string& local, const std::string& remote, bool ascii,
                uint64_t* blocks = nullptr) {
        Fd in(local, O_RDONLY);
        return in.fd >= 0 && client->store(remote, ascii, in.fd, [blocks](std::size_t n) {
            if (blocks) {
                *blocks += n;
            }
        });
    }

    bool download(const std::string& remote, const std::string& local, bool ascii,
                  uint64_t* blocks = nullptr) {
        Fd out(local, O_WRONLY | O_CREAT | O_TRUNC);
        return out.fd >= 0 && client->retrieve(remote, ascii, out.fd, [blocks](std::size_t n) {
            if (blocks) {
                *blocks += n;
            }
        });
    }

    test::LogLines log;
    test::PumpCounter pump;
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<FtpClient> client;
    test::TempDir local;
};

TEST_P(EngineServerTest, LoginFailuresLeaveNoConnection) {
    FtpClient other;
    EXPECT_FALSE(other.connect(server->server(), server->user(), "wrong password"));
    EXPECT_FALSE(other.isOpen());
    EXPECT_FALSE(other.connect(server->server(), "nosuchuser", "x"));
    EXPECT_FALSE(other.changeDir("/"));

    // A port where nobody listens: refused at once.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    auto start = Clock::now();
    EXPECT_FALSE(other.connect("127.0.0.1:" + std::to_string(ntohs(a.sin_port)), "u", "p"));
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

TEST_P(EngineServerTest, CurrentDirectory) {
    server->makeDir("sub");
    server->makeDir("sub/deeper");
    ASSERT_EQ(client->currentDir().value_or("?"), "/");
    EXPECT_TRUE(client->changeDir("/sub/"));
    EXPECT_EQ(client->currentDir().value_or("?"), "/sub");
    EXPECT_TRUE(client->changeDir("deeper"));
    EXPECT_EQ(client->currentDir().value_or("?"), "/sub/deeper");
    // A missing folder fails and leaves the current one as it was.
    EXPECT_FALSE(client->changeDir("/missing/"));
    EXPECT_TRUE(client->isOpen());
    EXPECT_EQ(client->currentDir().value_or("?"), "/sub/deeper");
}

TEST_P(EngineServerTest, ListsEmptyFoldersAndFindsThem) {
    server->makeDir("empty");
    std::vector<DirEntry> entries{DirEntry{}};
    EXPECT_TRUE(client->list("/empty/*.*", entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(client->list("/empty", entries));
    EXPECT_TRUE(entries.empty());
    ASSERT_TRUE(client->changeDir("/empty/"));
    EXPECT_TRUE(client->list("*.*", entries));
    EXPECT_TRUE(entries.empty());

    DirEntry e;
    ASSERT_TRUE(client->entry("/empty", e));
    EXPECT_TRUE(e.isDirectory());
    EXPECT_EQ(e.cFileName, "empty");
    DirEntry untouched;
    EXPECT_FALSE(client->entry("/no-such-file", untouched));
    EXPECT_EQ(untouched, DirEntry{});
    EXPECT_TRUE(client->isOpen());
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
    EXPECT_EQ(a->fileSize(), 5u);
    EXPECT_FALSE(a->isDirectory());
    EXPECT_NE(a->ftLastWriteTime.ticks, 0u);
    ASSERT_NE(Find(entries, "sub"), nullptr);
    EXPECT_TRUE(Find(entries, "sub")->isDirectory());

    ASSERT_TRUE(client->list("/dir/*.txt", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].cFileName, "a.txt");
    ASSERT_TRUE(client->list("/dir/?.*", entries));
    EXPECT_EQ(entries.size(), 2u);
    ASSERT_TRUE(client->list("/dir/nothing*", entries));
    EXPECT_TRUE(entries.empty());

    // Blanks in folder and file names.
    server->makeDir("with  blanks ");
    server->writeFile("with  blanks /a file.txt", "1");
    ASSERT_TRUE(client->list("/with  blanks /*.*", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].cFileName, "a file.txt");

    DirEntry e;
    ASSERT_TRUE(client->entry("/dir/a.txt", e));
    EXPECT_EQ(e.cFileName, "a.txt");
    EXPECT_EQ(e.fileSize(), 5u);
    EXPECT_FALSE(e.isDirectory());
}

TEST_P(EngineServerTest, ListsALargeFolder) {
    server->makeDir("big");
    constexpr int kCount = 5000;
    for (int i = 0; i < kCount; ++i) {
        server->writeFile("big/file-" + std::to_string(i) + ".dat", std::to_string(i));
    }
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client->list("/big/*.*", entries));
    ASSERT_EQ(entries.size(), std::size_t(kCount));
    std::set<std::string> names;
    for (const DirEntry& e : entries) {
        names.insert(e.cFileName);
    }
    EXPECT_EQ(names.size(), std::size_t(kCount));
    EXPECT_TRUE(names.count("file-0.dat"));
    EXPECT_TRUE(names.count("file-4999.dat"));
}

TEST_P(EngineServerTest, JapaneseNames) {
    const std::string file = "日本語ファイル.txt";
    const std::string folder = "フォルダ　空白";
    server->makeDir(folder);
    server->writeFile(folder + "/" + file, "内容");
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client->list("/" + folder + "/*.*", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].cFileName, file);
    EXPECT_EQ(entries[0].fileSize(), std::string("内容").size());
    ASSERT_TRUE(client->changeDir("/" + folder));
    EXPECT_EQ(client->currentDir().value_or("?"), "/" + folder);
    ASSERT_TRUE(download(file, local.file("j.txt"), false));
    EXPECT_EQ(test::ReadFileBytes(local.file("j.txt")), "内容");
    EXPECT_TRUE(client->rename(file, "名前を変えた.txt"));
    EXPECT_TRUE(server->exists(folder + "/名前を変えた.txt"));
    EXPECT_TRUE(client->makeDir("新しいフォルダ"));
    EXPECT_TRUE(server->exists(folder + "/新しいフォルダ"));
}

TEST_P(EngineServerTest, NamesInOtherEncodingsGoBackAsTheyCame) {
    if (GetParam() == ServerKind::Pyftpdlib) {
        GTEST_SKIP() << "pyftpdlib offers UTF8 and takes only UTF-8 names";
    }
    const std::string cp932 = "\x93\xfa\x96\x7b\x8c\xea.txt"; // 日本語.txt in CP932
    const std::string invalid = "bad\xff\xfe.bin";            // neither UTF-8 nor CP932
    server->writeFile(cp932, "sjis");
    server->writeFile(invalid, "raw");
    server->writeFile("日本語.txt", "utf8"); // the same text in UTF-8 is another file
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client->list("*.*", entries));
    ASSERT_EQ(entries.size(), 3u);
    // Three different names, each of which reaches its own file.
    std::set<std::string> names, contents;
    std::string escaped;
    for (const DirEntry& e : entries) {
        names.insert(e.cFileName);
        ASSERT_TRUE(download(e.cFileName, local.file("one"), false)) << e.cFileName;
        std::string content = test::ReadFileBytes(local.file("one"));
        contents.insert(content);
        if (content == "raw") {
            escaped = e.cFileName;
        }
    }
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(contents, (std::set<std::string>{"sjis", "utf8", "raw"}));
    EXPECT_TRUE(names.count("日本語.txt"));
    EXPECT_NE(escaped, invalid);
    ASSERT_TRUE(download(escaped, local.file("raw"), false));
    EXPECT_EQ(test::ReadFileBytes(local.file("raw")), "raw");
    EXPECT_TRUE(client->rename(escaped, "renamed.bin"));
    EXPECT_TRUE(server->exists("renamed.bin"));
    EXPECT_FALSE(server->exists(invalid));
    EXPECT_TRUE(client->deleteFile("renamed.bin"));
    EXPECT_EQ(server->readFile("日本語.txt"), "utf8");
    EXPECT_EQ(server->readFile(cp932), "sjis");
}

TEST_P(EngineServerTest, RemoteFileOperations) {
    server->writeFile("old.txt", "data");
    EXPECT_TRUE(client->makeDir("/made"));
    EXPECT_TRUE(server->exists("made"));
    EXPECT_FALSE(client->makeDir("/made")); // exists already
    EXPECT_TRUE(client->rename("/old.txt", "/made/new.txt"));
    EXPECT_FALSE(server->exists("old.txt"));
    EXPECT_EQ(server->readFile("made/new.txt"), "data");
    EXPECT_FALSE(client->rename("/old.txt", "/again.txt"));
    EXPECT_FALSE(client->removeDir("/made")); // not empty
    EXPECT_TRUE(client->deleteFile("/made/new.txt"));
    EXPECT_FALSE(client->deleteFile("/made/new.txt"));
    EXPECT_TRUE(client->removeDir("/made"));
    EXPECT_FALSE(server->exists("made"));
    // Failures leave the connection usable.
    EXPECT_TRUE(client->isOpen());
    EXPECT_FALSE(client->lost());
    EXPECT_EQ(client->currentDir().value_or("?"), "/");
    EXPECT_TRUE(log.lines.empty());
}

TEST_P(EngineServerTest, RawCommandsAndPermissions) {
    server->writeFile("perm.txt", "x");
    EXPECT_EQ(client->rawCommand("SITE CHMOD 755 perm.txt\r"), 200);
    std::vector<DirEntry> entries;
    ASSERT_TRUE(client->list("*.*", entries));
    ASSERT_NE(Find(entries, "perm.txt"), nullptr);
    EXPECT_EQ(Find(entries, "perm.txt")->dwReserved0, 0x755u);
    EXPECT_EQ(client->rawCommand("SITE CHMOD 640 perm.txt"), 200);
    ASSERT_TRUE(client->list("*.*", entries));
    EXPECT_EQ(Find(entries, "perm.txt")->dwReserved0, 0x640u);

    std::string text;
    EXPECT_EQ(client->rawCommand("NOOP", &text), 200);
    EXPECT_EQ(text.substr(0, 3), "200");
    EXPECT_GE(client->rawCommand("NOSUCHCOMMAND"), 500);
    EXPECT_TRUE(client->isOpen());
}

TEST_P(EngineServerTest, LineBreaksInNamesAreRefusedBeforeSending) {
    server->writeFile("victim.txt", "keep");
    server->makeDir("keepdir");
    EXPECT_FALSE(client->deleteFile("x\r\nDELE victim.txt"));
    EXPECT_FALSE(client->deleteFile("x\nDELE victim.txt"));
    EXPECT_FALSE(client->rename("victim.txt", "y\rRMD keepdir"));
    EXPECT_FALSE(client->makeDir(std::string("a\0b", 3)));
    EXPECT_FALSE(client->removeDir("keepdir\r\n"));
    EXPECT_FALSE(client->changeDir("/\r\nDELE victim.txt"));
    std::vector<DirEntry> entries;
    EXPECT_FALSE(client->list("/\nDELE victim.txt", entries));
    EXPECT_EQ(client->rawCommand("NOOP\r\nDELE victim.txt"), 0);
    EXPECT_EQ(client->rawCommand("NOOP\nDELE victim.txt"), 0);
    EXPECT_EQ(client->rawCommand("\r"), 0);
    EXPECT_TRUE(server->exists("victim.txt"));
    EXPECT_TRUE(server->exists("keepdir"));
    // Nothing reached the server, so the connection is in step.
    EXPECT_EQ(client->rawCommand("NOOP"), 200);
    EXPECT_EQ(client->currentDir().value_or("?"), "/");
}

TEST_P(EngineServerTest, BinaryRoundTrip) {
    const std::string data = RandomBytes(1024 * 1024 + 17, 42);
    test::WriteFileBytes(local.file("up.bin"), data);
    uint64_t blocks = 0;
    ASSERT_TRUE(upload(local.file("up.bin"), "/up.bin", false, &blocks));
    EXPECT_EQ(blocks, data.size());
    ASSERT_EQ(server->readFile("up.bin").size(), data.size());
    EXPECT_TRUE(server->readFile("up.bin") == data);

    blocks = 0;
    ASSERT_TRUE(download("/up.bin", local.file("down.bin"), false, &blocks));
    EXPECT_EQ(blocks, data.size());
    EXPECT_TRUE(test::ReadFileBytes(local.file("down.bin")) == data);

    // Empty files both ways.
    test::WriteFileBytes(local.file("empty"), "");
    ASSERT_TRUE(upload(local.file("empty"), "/empty", false));
    EXPECT_TRUE(server->exists("empty"));
    EXPECT_EQ(server->readFile("empty"), "");
    test::WriteFileBytes(local.file("empty-down"), "old content");
    ASSERT_TRUE(download("/empty", local.file("empty-down"), false));
    EXPECT_EQ(test::ReadFileBytes(local.file("empty-down")), "");

    // A missing file fails and the connection stays usable.
    EXPECT_FALSE(download("/missing.bin", local.file("m"), false));
    EXPECT_TRUE(client->isOpen());
    // So does a local file that cannot be read.
    Fd unreadable(local.file("up.bin"), O_WRONLY);
    EXPECT_FALSE(client->store("/unreadable.bin", false, unreadable.fd, nullptr));
    EXPECT_TRUE(client->isOpen());
    DirEntry e;
    ASSERT_TRUE(client->entry("/up.bin", e));
    EXPECT_EQ(e.fileSize(), data.size());
}

TEST_P(EngineServerTest, AsciiConvertsLineEndsBothWays) {
    // LF text goes up as CR LF; the server keeps its own LF form.
    const std::string text = "line one\nline two\n\nlast";
    test::WriteFileBytes(local.file("t.txt"), text);
    ASSERT_TRUE(upload(local.file("t.txt"), "/t.txt", true));
    EXPECT_EQ(server->readFile("t.txt"), text);
    ASSERT_TRUE(download("/t.txt", local.file("t-down.txt"), true));
    EXPECT_EQ(test::ReadFileBytes(local.file("t-down.txt")), text);
    // In binary mode the same file comes as stored.
    ASSERT_TRUE(download("/t.txt", local.file("t-bin.txt"), false));
    EXPECT_EQ(test::ReadFileBytes(local.file("t-bin.txt")), text);

    // A CR LF file on the host comes down with LF only.
    server->writeFile("dos.txt", "a\r\nb\r\n");
    ASSERT_TRUE(download("/dos.txt", local.file("dos.txt"), true));
    std::string got = test::ReadFileBytes(local.file("dos.txt"));
    EXPECT_EQ(got.find("\r\n"), std::string::npos) << got;

    // A lone CR survives the round trip.
    const std::string lone = "x\ry\nz";
    test::WriteFileBytes(local.file("cr.txt"), lone);
    ASSERT_TRUE(upload(local.file("cr.txt"), "/cr.txt", true));
    ASSERT_TRUE(download("/cr.txt", local.file("cr-down.txt"), true));
    EXPECT_EQ(test::ReadFileBytes(local.file("cr-down.txt")), lone);
}

TEST_P(EngineServerTest, CloseSendsQuitAndLaterCallsFail) {
    client->close();
    EXPECT_FALSE(client->isOpen());
    EXPECT_FALSE(client->lost());
    EXPECT_FALSE(client->changeDir("/"));
    EXPECT_EQ(client->rawCommand("NOOP"), 0);
    EXPECT_TRUE(log.lines.empty());
    // The same object connects again.
    ASSERT_TRUE(client->connect(server->server(), server->user(), server->password()));
    EXPECT_EQ(client->currentDir().value_or("?"), "/");
}

INSTANTIATE_TEST_SUITE_P(Servers, EngineServerTest,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::Vsftpd),
                         [](const auto& info) { return test::ServerKindName(info.param); });

} // namespace
} // namespace oxlip::ftp
