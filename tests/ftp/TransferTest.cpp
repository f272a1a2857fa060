// Single-file and folder-tree transfers against real servers.

#include "ftp/Transfer.h"
#include "ServerFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/TreeWalk.h"
#include "localfs/LocalFs.h"

#include <sys/stat.h>

namespace oxlip {
namespace {

namespace fs = std::filesystem;
using test::ExpectedTreeOrder;
using test::LocalNames;
using test::RandomBytes;
using test::ReadFileBytes;
using test::ServerTest;
using test::TempDir;
using test::WriteFileBytes;

using FileTransferTest = ServerTest;
using TreeTransferTest = ServerTest;

// Every byte arrives both ways; the bar is cleared once before the first step and ends full.
TEST_P(FileTransferTest, BinaryRoundTripsKeepEveryByte) {
    TempDir local;
    for (std::size_t size :
         {std::size_t(0), std::size_t(1), std::size_t(1) << 20, (std::size_t(24) << 20) + 4097}) {
        const std::string bytes = RandomBytes(size) + (size ? "\r\n\n\r" : "");
        const std::string bar =
            "bar " + std::to_string(bytes.size()) + "/" + std::to_string(bytes.size());
        WriteFileBytes(local.file("up.bin"), bytes);
        for (bool up : {true, false}) {
            ui.journal.clear();
            ASSERT_TRUE(
                up ? UploadFile(session, local.file("up.bin"), "/data.bin", TransferMode::Binary)
                   : DownloadFile(session, "/data.bin", local.file("down.bin"),
                                  TransferMode::Binary))
                << size;
            const auto first = std::find_if(ui.journal.begin(), ui.journal.end(), [](auto& l) {
                return l == "clear" || l.rfind("bar ", 0) == 0;
            });
            ASSERT_NE(first, ui.journal.end()) << size;
            EXPECT_EQ(*first, "clear") << size;
            EXPECT_EQ(ui.lines("clear").size(), 1u) << size;
            EXPECT_TRUE(size == 0 || ui.lines("bar").back() == bar) << size;
        }
        EXPECT_TRUE(server->readFile("data.bin") == bytes) << size;
        EXPECT_TRUE(ReadFileBytes(local.file("down.bin")) == bytes) << size;
    }
    EXPECT_EQ(LocalNames(local.path()), (std::vector<std::string>{"down.bin", "up.bin"}));
}

// ASCII converts CR LF both ways (both servers store LF); automatic mode decides by the whole
// target path, and the progress names the mode.
TEST_P(FileTransferTest, ModesConvertLineEndsAndAutomaticDecidesByTheWholePath) {
    TempDir local;
    const std::string crlf = "one\r\ntwo\r\n\r\nlone\rcr\r\nend";
    const std::string lf = "one\ntwo\n\nlone\rcr\nend";
    const struct {
        bool up;
        TransferMode mode;
        const std::string& sent;
        const std::string& arrived;
    } rows[] = {
        {true, TransferMode::Ascii, crlf, lf},    {true, TransferMode::Ascii, lf, lf},
        {true, TransferMode::Binary, crlf, crlf}, {false, TransferMode::Ascii, crlf, lf},
        {false, TransferMode::Ascii, lf, lf},     {false, TransferMode::Binary, crlf, crlf}};
    for (const auto& row : rows) {
        if (row.up) {
            WriteFileBytes(local.file("in"), row.sent);
            ASSERT_TRUE(UploadFile(session, local.file("in"), "/f.txt", row.mode));
            EXPECT_EQ(server->readFile("f.txt"), row.arrived) << row.sent;
        } else {
            put("f.txt", row.sent);
            ASSERT_TRUE(DownloadFile(session, "/f.txt", local.file("out"), row.mode));
            EXPECT_EQ(ReadFileBytes(local.file("out")), row.arrived) << row.sent;
        }
    }

    put("index.html", crlf);
    put("logo.gif", crlf);
    ASSERT_TRUE(DownloadFile(session, "/index.html", local.file("index.html"), TransferMode::Auto));
    EXPECT_EQ(ReadFileBytes(local.file("index.html")), lf);
    EXPECT_EQ(ui.lines("item").back(), "item index.html receive");
    EXPECT_EQ(ui.lines("mode").back(), "mode ascii");
    ASSERT_TRUE(DownloadFile(session, "/logo.gif", local.file("logo.gif"), TransferMode::Auto));
    EXPECT_EQ(ReadFileBytes(local.file("logo.gif")), crlf);
    EXPECT_EQ(ui.lines("mode").back(), "mode binary");
    // A dot earlier in the path makes the extension "docs/Makefile".
    WriteFileBytes(local.file("Makefile"), "all:\r\n");
    makeDirs("my.docs");
    for (const char* extension : {"", "docs/Makefile"}) {
        ui.asciiExtensions = {"HTML", extension};
        ASSERT_TRUE(
            UploadFile(session, local.file("Makefile"), "/my.docs/Makefile", TransferMode::Auto));
        EXPECT_EQ(server->readFile("my.docs/Makefile"), *extension ? "all:\n" : "all:\r\n");
    }
    EXPECT_EQ(ui.lines("item").back(), "item Makefile send");
}

// Replaced only when whole, nothing left behind, mode kept; a link at the target stays a link
// (its file gets the content); the hidden name fits wherever the target name does.
TEST_P(FileTransferTest, ADownloadReplacesAFileOnlyWhenItArrivedWhole) {
    TempDir local;
    put("new.txt", "new content");
    WriteFileBytes(local.file("target.txt"), "old content");
    ::chmod(local.file("target.txt").c_str(), 0640);
    ASSERT_TRUE(DownloadFile(session, "/new.txt", local.file("target.txt"), TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(local.file("target.txt")), "new content");
    EXPECT_EQ(fs::status(local.file("target.txt")).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(
        DownloadFile(session, "/missing.txt", local.file("target.txt"), TransferMode::Binary).kind,
        ErrorKind::Refused);
    EXPECT_EQ(ReadFileBytes(local.file("target.txt")), "new content");
    EXPECT_EQ(LocalNames(local.path()), std::vector<std::string>{"target.txt"}); // no leftovers
    const std::vector<Status> local_failures = {
        DownloadFile(session, "/new.txt", local.file("no/such/folder.txt"), TransferMode::Binary),
        UploadFile(session, local.file("missing.txt"), "/x.txt", TransferMode::Binary),
        UploadFile(session, local.path(), "/x.txt", TransferMode::Binary), // a folder is no file
    };
    for (const Status& failure : local_failures) {
        EXPECT_EQ(failure.kind, ErrorKind::LocalIo);
    }
    EXPECT_FALSE(server->exists("x.txt"));

    TempDir links;
    fs::create_directories(links.file("real"));
    WriteFileBytes(links.file("real/file.txt"), "old content");
    ::chmod(links.file("real/file.txt").c_str(), 0604);
    ASSERT_EQ(::symlink("real/file.txt", links.file("link.txt").c_str()), 0);
    ASSERT_EQ(::symlink(links.file("link.txt").c_str(), links.file("chain.txt").c_str()), 0);
    ASSERT_EQ(::symlink("real/made.txt", links.file("dangling.txt").c_str()), 0);
    const std::pair<const char*, const char*> behind[] = {{"link.txt", "real/file.txt"},
                                                          {"chain.txt", "real/file.txt"},
                                                          {"dangling.txt", "real/made.txt"}};
    for (const auto& [link, file] : behind) {
        WriteFileBytes(links.file("real/file.txt"), "old content");
        ASSERT_TRUE(DownloadFile(session, "/new.txt", links.file(link), TransferMode::Binary))
            << link;
        EXPECT_TRUE(fs::is_symlink(links.file(link))) << link;
        EXPECT_EQ(ReadFileBytes(links.file(file)), "new content") << link;
    }
    EXPECT_EQ(fs::status(links.file("real/file.txt")).permissions() & fs::perms::all,
              fs::perms(0604));
    EXPECT_EQ(LocalNames(links.path()),
              (std::vector<std::string>{"chain.txt", "dangling.txt", "link.txt", "real"}));
    EXPECT_EQ(LocalNames(links.file("real")), (std::vector<std::string>{"file.txt", "made.txt"}));

    TempDir longNames;
    std::string japanese; // 85 characters of 3 bytes
    for (int i = 0; i < 85; ++i) {
        japanese += "日";
    }
    for (const std::string& name : {std::string(243, 'a'), std::string(255, 'b'), japanese,
                                    japanese.substr(0, 243) + ".txt"}) {
        for (int again = 0; again < 2; ++again) { // new, then over the file
            ASSERT_TRUE(
                DownloadFile(session, "/new.txt", longNames.file(name), TransferMode::Binary))
                << name;
        }
        EXPECT_EQ(ReadFileBytes(longNames.file(name)), "new content") << name;
    }
    EXPECT_EQ(LocalNames(longNames.path()).size(), 4u); // nothing hidden left behind
}

// Three levels, "file." sent and "old." skipped, down twice and up with links (file links go
// as files, folder and dangling links are skipped) into a new and an existing folder.
TEST_P(TreeTransferTest, ThreeLevelsDownAndUpFilesBeforeSubfolders) {
    for (const char* f : {"a/f1.txt", "a/f2.bin", "a/file.", "a/b/g1.txt", "a/b/c/h1.txt",
                          "a/b2/k1.txt", "a/old./skipped.txt"}) {
        put(f, std::string("content of ") + f);
    }
    makeDirs("a/b/empty");
    const auto expected = hostTreeOrder("/a/", " receive");
    TempDir local;
    ui.journal.clear();
    ASSERT_TRUE(DownloadFolder(session, "/a", local.file("a"), TransferMode::Binary));
    EXPECT_EQ(ui.lines("item"), expected);
    EXPECT_EQ(LocalNames(local.file("a")),
              (std::vector<std::string>{"b", "b2", "f1.txt", "f2.bin", "file."}));
    EXPECT_EQ(ReadFileBytes(local.file("a/b/c/h1.txt")), "content of a/b/c/h1.txt");
    EXPECT_TRUE(fs::is_directory(local.file("a/b/empty")));
    put("a/f1.txt", "changed");
    ASSERT_TRUE(DownloadFolder(session, "/a/", local.file("a") + "/", TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(local.file("a/f1.txt")), "changed");
    WriteFileBytes(local.file("blocked"), "a file");
    EXPECT_FALSE(DownloadFolder(session, "/a", local.file("blocked"), TransferMode::Binary));
    if (!isVsftpd()) { // vsftpd lists a missing folder as an empty one
        EXPECT_FALSE(DownloadFolder(session, "/missing", local.file("m"), TransferMode::Binary));
    }

    fs::create_directories(local.file("a/old."));
    WriteFileBytes(local.file("a/old./skipped.txt"), "skipped");
    ASSERT_EQ(::symlink("f1.txt", local.file("a/link.txt").c_str()), 0);
    ASSERT_EQ(::symlink("b", local.file("a/linkdir").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", local.file("a/dangling").c_str()), 0);
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
    EXPECT_EQ(server->readFile("up/b/c/h1.txt"), "content of a/b/c/h1.txt");
    EXPECT_EQ(server->readFile("up/link.txt"), "changed");
    EXPECT_TRUE(server->exists("up/file."));
    EXPECT_TRUE(server->exists("up/b/empty"));
    for (const char* skipped : {"up/old.", "up/linkdir", "up/dangling"}) {
        EXPECT_FALSE(server->exists(skipped)) << skipped;
    }
    // An existing empty host folder is found, not created again.
    makeDirs("ready");
    ASSERT_TRUE(UploadFolder(session, local.file("a/b"), "/ready/", TransferMode::Binary));
    EXPECT_EQ(server->readFile("ready/g1.txt"), "content of a/b/g1.txt");
    EXPECT_FALSE(UploadFolder(session, local.file("missing"), "/m", TransferMode::Binary));
    EXPECT_FALSE(UploadFolder(session, local.file("a"), "/nope/deeper/x", TransferMode::Binary));
}

// The names of a folder's files in listing order (no folders).
std::vector<std::string> FileOrder(const std::vector<DirEntry>& list) {
    std::vector<std::string> names;
    for (const DirEntry& e : list) {
        if (!e.directory) {
            names.push_back(e.name);
        }
    }
    return names;
}

TEST_P(TreeTransferTest, TheThirdFileOfTenFailingStopsTheWholeTree) {
    for (int i = 1; i <= 10; ++i) {
        put("top/mid/f" + std::to_string(i) + ".txt", "x");
    }
    put("top/mid/sub/later.txt", "x");
    std::vector<DirEntry> list;
    ASSERT_TRUE(ListHostFolder(session, list, "/top/mid/*.*"));
    const auto order = FileOrder(list);
    ASSERT_EQ(order.size(), 10u);
    TempDir local;
    fs::create_directories(local.file("top/mid/" + order[2])); // a folder where a file goes
    EXPECT_FALSE(DownloadFolder(session, "/top", local.file("top"), TransferMode::Binary));
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(fs::is_regular_file(local.file("top/mid/" + order[i])), i < 2) << order[i];
    }
    EXPECT_FALSE(fs::exists(local.file("top/mid/sub")));

    // The same upwards: the host target of the third file is a folder.
    fs::remove(local.file("top/mid/" + order[2]));
    for (const auto& name : order) {
        WriteFileBytes(local.file("top/mid/" + name), "y");
    }
    fs::create_directories(local.file("top/mid/sub"));
    ListLocalFolder(list, local.file("top/mid/*.*"));
    const auto upOrder = FileOrder(list);
    makeDirs("up/mid/" + upOrder[2]);
    EXPECT_FALSE(UploadFolder(session, local.file("top"), "/up", TransferMode::Binary));
    for (std::size_t i = 0; i < upOrder.size(); ++i) {
        if (i != 2) {
            EXPECT_EQ(server->exists("up/mid/" + upOrder[i]), i < 2) << upOrder[i];
        }
    }
    EXPECT_FALSE(server->exists("up/mid/sub"));
}

// More files than are flushed together, one large: all whole, no hidden part left.
TEST_P(TreeTransferTest, ManyFilesAndDeepTreesArriveWhole) {
    const std::string big = RandomBytes((std::size_t(3) << 20) + 5);
    for (int i = 0; i < 150; ++i) {
        put("many/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin",
            "file " + std::to_string(i));
    }
    put("many/d1/big.bin", big);
    TempDir local;
    WriteFileBytes(local.file("many/d2/f2.bin"), "an older copy");
    ASSERT_TRUE(DownloadFolder(session, "/many", local.file("many"), TransferMode::Binary));
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(local.file("many"))) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(name.front(), '.') << name;
        files += e.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 151u);
    EXPECT_EQ(ReadFileBytes(local.file("many/d2/f2.bin")), "file 2");
    EXPECT_EQ(ReadFileBytes(local.file("many/d0/f147.bin")), "file 147");
    EXPECT_EQ(ReadFileBytes(local.file("many/d1/big.bin")), big);

    ASSERT_TRUE(UploadFolder(session, local.file("many"), "/copy", TransferMode::Binary));
    EXPECT_EQ(server->readFile("copy/d1/big.bin"), big);
    EXPECT_EQ(server->readFile("copy/d0/f147.bin"), "file 147");

    // 64 folders deep both ways, and no deeper: the walk stops with false.
    std::string deep = "d";
    for (int i = 0; i < 64; ++i) {
        deep += "/d";
    }
    put(deep + "/bottom.txt", "bottom");
    ASSERT_TRUE(DownloadFolder(session, "/d", local.file("d"), TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(local.file(deep + "/bottom.txt")), "bottom");
    ASSERT_TRUE(UploadFolder(session, local.file("d"), "/copyd", TransferMode::Binary));
    EXPECT_EQ(server->readFile("copyd" + deep.substr(1) + "/bottom.txt"), "bottom");

    put(deep + "/d/deeper.txt", "x");
    EXPECT_FALSE(DownloadFolder(session, "/d", local.file("d2"), TransferMode::Binary));
    EXPECT_FALSE(fs::exists(local.file("d2" + deep.substr(1) + "/d")));
    fs::create_directories(local.file(deep + "/d"));
    EXPECT_FALSE(UploadFolder(session, local.file("d"), "/copy2", TransferMode::Binary));
}

// Folder links are never entered (pyftpdlib's MLSD calls them folders) and are told; file links
// arrive as files; an undeliverable link fails the tree after the rest; a link as the folder
// is left alone.
TEST_P(TreeTransferTest, HostLinksAreNeverEntered) {
    put("t/real.txt", "real");
    put("t/folder/inner.txt", "inner");
    put("outside/precious", "outside");
    ASSERT_TRUE(makeLinks({{"real.txt", "t/alias.txt"},
                           {"..", "t/folder/up"},
                           {"../outside", "t/out"},
                           {"t", "tlink"}}));
    TempDir local;
    ASSERT_TRUE(DownloadFolder(session, "/t", local.file("t"), TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(local.file("t/alias.txt")), "real");
    EXPECT_EQ(ReadFileBytes(local.file("t/folder/inner.txt")), "inner");
    EXPECT_FALSE(fs::exists(local.file("t/out")));
    EXPECT_FALSE(fs::exists(local.file("t/folder/up")));
    std::vector<std::string> skips = ui.lines("skip");
    std::sort(skips.begin(), skips.end());
    EXPECT_EQ(skips, (std::vector<std::string>{"skip folder-link /t/folder/up",
                                               "skip folder-link /t/out"}));

    ui.journal.clear();
    EXPECT_TRUE(DownloadFolder(session, "/tlink", local.file("tlink"), TransferMode::Binary));
    EXPECT_FALSE(fs::exists(local.file("tlink")));
    EXPECT_EQ(ui.lines("skip"), std::vector<std::string>{"skip folder-link /tlink"});

    server->writeFile("../away.txt", "away");
    ASSERT_TRUE(makeLinks({{server->path("../away.txt"), "t/gone"}}));
    ui.journal.clear();
    EXPECT_FALSE(DownloadFolder(session, "/t", local.file("t2"), TransferMode::Binary));
    EXPECT_EQ(ui.lines("skip failed-link"), std::vector<std::string>{"skip failed-link /t/gone"});
    EXPECT_EQ(ReadFileBytes(local.file("t2/folder/inner.txt")), "inner");
}

// A tree upload keeps the current folder, even to a link target and with the way back closed.
TEST_P(TreeTransferTest, UploadLeavesTheCurrentFolderAlone) {
    makeDirs("real");
    makeDirs("here");
    ASSERT_TRUE(makeLinks({{"real", "t"}}));
    TempDir local;
    fs::create_directories(local.file("a"));
    WriteFileBytes(local.file("a/f.txt"), "f");
    ASSERT_EQ(HostCurrentDirectory(session, "/here").value(), "/here");
    ::chmod(server->path("here").c_str(), 0); // vsftpd's login user cannot come back
    EXPECT_TRUE(UploadFolder(session, local.file("a"), "/t", TransferMode::Binary));
    EXPECT_EQ(HostCurrentDirectory(session, "").value(), "/here");
    EXPECT_EQ(server->readFile("real/f.txt"), "f");
}

TEST(TreeNames, OnlyPlainNamesMayBeJoinedToAFolder) {
    for (const char* good : {"a", "a.txt", "x.", "...", " ", "日本語", "a\\b"}) {
        EXPECT_TRUE(IsPlainEntryName(good)) << good;
    }
    for (const std::string& bad :
         {std::string(""), std::string("."), std::string(".."), std::string("../x"),
          std::string("a/b"), std::string("/"), std::string("a\0b", 3)}) {
        EXPECT_FALSE(IsPlainEntryName(bad)) << bad;
    }
}

OXLIP_ON_BOTH_SERVERS(FileTransferTest);
OXLIP_ON_BOTH_SERVERS(TreeTransferTest);

} // namespace
} // namespace oxlip
