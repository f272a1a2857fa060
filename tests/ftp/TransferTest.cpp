// Single-file and folder-tree transfers against real servers.

#include "ftp/Transfer.h"
#include "ServerFixture.h"
#include "ftp/TreeWalk.h"
#include "localfs/LocalFs.h"

#include <sys/stat.h>

namespace oxlip::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

using FileTransferTest = ServerTest;
using TreeTransferTest = ServerTest;

// A large download is written in stretches; the bar is cleared once and ends full.
TEST_P(FileTransferTest, BinaryRoundTripsKeepEveryByte) {
    TempDir local;
    for (std::size_t size :
         {std::size_t(0), std::size_t(1), std::size_t(1) << 20, (std::size_t(24) << 20) + 4097}) {
        const std::string bytes = RandomBytes(size) + (size ? "\r\n\n\r" : "");
        const std::string all = std::to_string(bytes.size());
        WriteFileBytes(local.file("up.bin"), bytes);
        for (bool up : {true, false}) {
            ui.journal.clear();
            ASSERT_TRUE(
                up ? UploadFile(session, local.file("up.bin"), "/data.bin", TransferMode::Binary)
                   : DownloadFile(session, "/data.bin", local.file("down.bin"),
                                  TransferMode::Binary))
                << size;
            EXPECT_EQ(ui.lines("clear").size(), 1u) << size;
            EXPECT_TRUE(size == 0 || ui.lines("bar").back() == "bar " + all + "/" + all) << size;
        }
        EXPECT_TRUE(ReadFileBytes(local.file("down.bin")) == bytes) << size;
    }
}

// Both servers store LF; automatic mode takes the extension of the whole target path.
TEST_P(FileTransferTest, ModesConvertLineEndsAndAutomaticDecidesByTheWholePath) {
    TempDir local;
    const std::string crlf = "one\r\ntwo\r\n\r\nlone\rcr\r\nend";
    const std::string lf = "one\ntwo\n\nlone\rcr\nend";
    WriteFileBytes(local.file("in"), crlf);
    ASSERT_TRUE(UploadFile(session, local.file("in"), "/up.txt", TransferMode::Ascii));
    EXPECT_EQ(server->readFile("up.txt"), lf);
    put("down.txt", crlf);
    ASSERT_TRUE(DownloadFile(session, "/down.txt", local.file("out"), TransferMode::Ascii));
    EXPECT_EQ(ReadFileBytes(local.file("out")), lf);
    WriteFileBytes(local.file("Makefile"), "all:\r\n");
    makeDirs("my.docs");
    for (const char* extension : {"", "docs/Makefile"}) {
        ui.asciiExtensions = {"HTML", extension};
        ASSERT_TRUE(
            UploadFile(session, local.file("Makefile"), "/my.docs/Makefile", TransferMode::Auto));
        EXPECT_EQ(server->readFile("my.docs/Makefile"), *extension ? "all:\n" : "all:\r\n");
        EXPECT_EQ(ui.lines("mode").back(), *extension ? "mode ascii" : "mode binary");
    }
}

// A link at the target stays one; the hidden name fits wherever the target name does.
TEST_P(FileTransferTest, DownloadsReplaceInPlaceThroughLinksAndWithLongNames) {
    TempDir local;
    put("new.txt", "new content");
    const auto get = [&](const std::string& target) {
        return DownloadFile(session, "/new.txt", target, TransferMode::Binary);
    };
    WriteFileBytes(local.file("target.txt"), "old content");
    ASSERT_TRUE(get(local.file("target.txt")));
    EXPECT_EQ(ReadFileBytes(local.file("target.txt")), "new content");
    EXPECT_EQ(LocalNames(local.path()), std::vector<std::string>{"target.txt"});
    for (const Status& failure :
         {get(local.file("no/such/folder.txt")),
          UploadFile(session, local.file("missing.txt"), "/x.txt", TransferMode::Binary),
          UploadFile(session, local.path(), "/x.txt", TransferMode::Binary)}) { // a folder
        EXPECT_EQ(failure.kind, ErrorKind::LocalIo);
    }
    EXPECT_FALSE(server->exists("x.txt"));

    MakeEntries(local.path(),
                {"real/file.txt", "link.txt -> real/file.txt",
                 "chain.txt -> " + local.file("link.txt"), "dangling.txt -> real/made.txt"});
    ::chmod(local.file("real/file.txt").c_str(), 0604);
    const std::pair<const char*, const char*> behind[] = {{"link.txt", "real/file.txt"},
                                                          {"chain.txt", "real/file.txt"},
                                                          {"dangling.txt", "real/made.txt"}};
    for (const auto& [link, file] : behind) {
        WriteFileBytes(local.file("real/file.txt"), "old content");
        ASSERT_TRUE(get(local.file(link))) << link;
        EXPECT_TRUE(fs::is_symlink(local.file(link))) << link;
        EXPECT_EQ(ReadFileBytes(local.file(file)), "new content") << link;
    }
    EXPECT_EQ(fs::status(local.file("real/file.txt")).permissions() & fs::perms::all,
              fs::perms(0604));
    EXPECT_EQ(LocalNames(local.file("real")), (std::vector<std::string>{"file.txt", "made.txt"}));

    TempDir longNames;
    std::string japanese; // 85 characters of 3 bytes
    for (int i = 0; i < 85; ++i) {
        japanese += "日";
    }
    for (const std::string& name : {std::string(243, 'a'), std::string(255, 'b'), japanese,
                                    japanese.substr(0, 243) + ".txt"}) {
        ASSERT_TRUE(get(longNames.file(name))) << name;
        ASSERT_TRUE(get(longNames.file(name))) << name; // over the file
    }
    EXPECT_EQ(LocalNames(longNames.path()).size(), 4u);
}

// "file." goes, "old." does not; up, file links go as files, other links are skipped.
TEST_P(TreeTransferTest, ThreeLevelsDownAndUpFilesBeforeSubfolders) {
    MakeEntries(server->path("."), {"a/f1.txt", "a/f2.bin", "a/file.", "a/b/g1.txt", "a/b/c/h1.txt",
                                    "a/b2/k1.txt", "a/old./skipped.txt", "a/b/empty/"});
    const auto expected = hostTreeOrder("/a/", " receive");
    TempDir local;
    ASSERT_TRUE(DownloadFolder(session, "/a", local.file("a"), TransferMode::Binary));
    EXPECT_EQ(ui.lines("item"), expected);
    EXPECT_EQ(LocalNames(local.file("a")),
              (std::vector<std::string>{"b", "b2", "f1.txt", "f2.bin", "file."}));
    put("a/f1.txt", "changed");
    ASSERT_TRUE(DownloadFolder(session, "/a/", local.file("a") + "/", TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(local.file("a/f1.txt")), "changed");
    if (!isVsftpd()) { // vsftpd lists a missing folder as an empty one
        EXPECT_FALSE(DownloadFolder(session, "/missing", local.file("m"), TransferMode::Binary));
    }

    MakeEntries(local.file("a"),
                {"old./skipped.txt", "link.txt -> f1.txt", "linkdir -> b", "dangling -> nowhere"});
    const auto sent = ExpectedTreeOrder(
        [&](const std::string& folder) {
            std::vector<DirEntry> list;
            ListLocalFolder(list, folder + "*.*");
            std::erase_if(list, [](const DirEntry& e) {
                return e.link && (e.directory || e.name == "dangling");
            });
            return list;
        },
        local.file("a/"), " send");
    ui.journal.clear();
    ASSERT_TRUE(UploadFolder(session, local.file("a"), "/up", TransferMode::Auto));
    EXPECT_EQ(ui.lines("item"), sent);
    EXPECT_EQ(ui.lines("skip"),
              std::vector<std::string>{"skip folder-link " + local.file("a/linkdir")});
    EXPECT_EQ(server->readFile("up/link.txt"), "changed");
    EXPECT_EQ(LocalNames(server->path("up"), true),
              (std::vector<std::string>{"b", "b/c", "b/c/h1.txt", "b/empty", "b/g1.txt", "b2",
                                        "b2/k1.txt", "f1.txt", "f2.bin", "file.", "link.txt"}));
    makeDirs("ready"); // an existing empty host folder is found, not made again
    ASSERT_TRUE(UploadFolder(session, local.file("a/b"), "/ready/", TransferMode::Binary));
    EXPECT_EQ(server->readFile("ready/g1.txt"), "a/b/g1.txt");
    EXPECT_FALSE(UploadFolder(session, local.file("missing"), "/m", TransferMode::Binary));
    EXPECT_FALSE(UploadFolder(session, local.file("a"), "/nope/deeper/x", TransferMode::Binary));
}

// The third of ten files failing (its host target is a folder) stops the whole tree there; an
// upload keeps the current folder, even to a link target and with the way back closed.
TEST_P(TreeTransferTest, UploadsStopAtTheFirstFailureAndKeepTheCurrentFolder) {
    TempDir local;
    MakeEntries(local.path(), {"top/mid/sub/", "a/f.txt"});
    for (int i = 1; i <= 10; ++i) {
        WriteFileBytes(local.file("top/mid/f" + std::to_string(i) + ".txt"), "y");
    }
    std::vector<DirEntry> list;
    ListLocalFolder(list, local.file("top/mid/*.*"));
    std::erase_if(list, [](const DirEntry& e) { return e.directory; });
    makeDirs("up/mid/" + list[2].name);
    EXPECT_FALSE(UploadFolder(session, local.file("top"), "/up", TransferMode::Binary));
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(server->exists("up/mid/" + list[i].name), i <= 2) << list[i].name;
    }
    EXPECT_FALSE(server->exists("up/mid/sub"));

    makeDirs("real");
    makeDirs("here");
    ASSERT_TRUE(makeLinks({{"real", "t"}}));
    ASSERT_TRUE(HostCurrentDirectory(session, "/here"));
    ::chmod(server->path("here").c_str(), 0); // vsftpd's login user cannot come back
    EXPECT_TRUE(UploadFolder(session, local.file("a"), "/t", TransferMode::Binary));
    EXPECT_EQ(HostCurrentDirectory(session, "").value(), "/here");
    EXPECT_EQ(server->readFile("real/f.txt"), "a/f.txt");
}

// More files than are flushed together, one over an older copy; 64 folders deep, no deeper.
TEST_P(TreeTransferTest, ManyFilesAndDeepTreesArriveWhole) {
    const std::string big = RandomBytes((std::size_t(3) << 20) + 5);
    for (int i = 0; i < 150; ++i) {
        put("many/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin",
            "file " + std::to_string(i));
    }
    put("many/d1/big.bin", big);
    TempDir local;
    MakeEntries(local.path(), {"many/d2/f2.bin"});
    ASSERT_TRUE(DownloadFolder(session, "/many", local.file("many"), TransferMode::Binary));
    EXPECT_EQ(LocalNames(local.file("many"), true).size(), 154u); // 3 folders, 151 files
    EXPECT_EQ(ReadFileBytes(local.file("many/d2/f2.bin")), "file 2");
    ASSERT_TRUE(UploadFolder(session, local.file("many"), "/copy", TransferMode::Binary));
    EXPECT_EQ(server->readFile("copy/d1/big.bin"), big);

    std::string deep = "d";
    for (int i = 0; i < 64; ++i) {
        deep += "/d";
    }
    put(deep + "/bottom.txt", "bottom");
    ASSERT_TRUE(DownloadFolder(session, "/d", local.file("d"), TransferMode::Binary));
    ASSERT_TRUE(UploadFolder(session, local.file("d"), "/copyd", TransferMode::Binary));
    EXPECT_EQ(server->readFile("copyd" + deep.substr(1) + "/bottom.txt"), "bottom");
    put(deep + "/d/deeper.txt", "x");
    EXPECT_FALSE(DownloadFolder(session, "/d", local.file("d2"), TransferMode::Binary));
    fs::create_directories(local.file(deep + "/d"));
    EXPECT_FALSE(UploadFolder(session, local.file("d"), "/copy2", TransferMode::Binary));
}

// File links arrive as files; folder links (folders to pyftpdlib's MLSD) are told, not entered.
TEST_P(TreeTransferTest, HostLinksAreNeverEntered) {
    MakeEntries(server->path("."),
                {"t/real.txt", "t/folder/inner.txt", "outside/precious", "t/alias.txt -> real.txt",
                 "t/folder/up -> ..", "t/out -> ../outside", "tlink -> t"});
    TempDir local;
    ASSERT_TRUE(DownloadFolder(session, "/t", local.file("t"), TransferMode::Binary));
    EXPECT_TRUE(DownloadFolder(session, "/tlink", local.file("tlink"), TransferMode::Binary));
    EXPECT_EQ(LocalNames(local.path(), true),
              (std::vector<std::string>{"t", "t/alias.txt", "t/folder", "t/folder/inner.txt",
                                        "t/real.txt"}));
    EXPECT_EQ(ReadFileBytes(local.file("t/alias.txt")), "t/real.txt");
    std::vector<std::string> skips = ui.lines("skip");
    std::sort(skips.begin(), skips.end());
    EXPECT_EQ(skips,
              (std::vector<std::string>{"skip folder-link /t/folder/up", "skip folder-link /t/out",
                                        "skip folder-link /tlink"}));
}

TEST(TreeNames, OnlyPlainNamesMayBeJoinedToAFolder) {
    for (const char* good : {"a", "a.txt", "x.", "...", " ", "日本語", "a\\b"}) {
        EXPECT_TRUE(IsPlainEntryName(good)) << good;
    }
    for (const std::string& bad : {""s, "."s, ".."s, "../x"s, "a/b"s, "/"s, "a\0b"s}) {
        EXPECT_FALSE(IsPlainEntryName(bad)) << bad;
    }
}

OXLIP_ON_BOTH_SERVERS(FileTransferTest);
OXLIP_ON_BOTH_SERVERS(TreeTransferTest);

} // namespace
} // namespace oxlip::test
