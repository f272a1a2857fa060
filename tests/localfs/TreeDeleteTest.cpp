#include "LocalFsTestUtil.h"
#include "localfs/LocalFs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace oxlip;
using namespace oxlip::test;

namespace {

// tree/ with files, hidden files, nested and empty folders, and names made of dots.
void MakeTree(const std::string& top) {
    MakeFolder(top);
    WriteFileBytes(top + "/a.txt", "a");
    WriteFileBytes(top + "/.hidden", "h");
    WriteFileBytes(top + "/...", "dots");
    MakeFolder(top + "/sub");
    WriteFileBytes(top + "/sub/b.bin", std::string(5000, 'b'));
    MakeFolder(top + "/sub/deeper");
    WriteFileBytes(top + "/sub/deeper/c", "c");
    MakeFolder(top + "/empty");
    MakeFolder(top + "/ends-in-dot.");
    WriteFileBytes(top + "/ends-in-dot./d", "d");
    MakeFolder(top + "/..more");
    WriteFileBytes(top + "/..more/e", "e");
}

// Folders top/d/d/... `depth` levels below top, a file "f" in each; the deepest folder.
std::string MakeChain(const std::string& top, int depth) {
    std::string path = top;
    for (int i = 0; i <= depth; ++i, path += "/d") {
        MakeFolder(path);
        WriteFileBytes(path + "/f", "x");
    }
    return path.substr(0, path.size() - 2);
}

} // namespace

TEST(DeleteLocalFolder, TreesGoWholeLinksGoAsLinksAndNothingBesideIsTouched) {
    TempDir dir;
    const char* const kept[] = {"beside.txt",           "sibling/f",  "outside/1.txt",
                                "outside/nested/2.txt", "lonely.txt", "file.txt"};
    for (const char* folder : {"sibling", "outside", "outside/nested"}) {
        MakeFolder(dir.file(folder));
    }
    for (const char* name : kept) {
        WriteFileBytes(dir.file(name), name);
    }
    MakeTree(dir.file("tree"));
    MakeTree(dir.file("slash"));
    MakeFolder(dir.file("empty"));
    // Links inside a tree go as links; what they lead to stays, ".." is never entered.
    ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("tree/to-folder").c_str()), 0);
    ASSERT_EQ(::symlink("../../outside", dir.file("tree/sub/relative").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("lonely.txt").c_str(), dir.file("tree/sub/to-file").c_str()), 0);
    ASSERT_EQ(::symlink("..", dir.file("tree/sub/up").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", dir.file("tree/dangling").c_str()), 0);
    // A link given as the folder goes alone.
    ASSERT_EQ(::symlink("outside", dir.file("link").c_str()), 0);
    ASSERT_EQ(::symlink("file.txt", dir.file("file-link").c_str()), 0);

    for (const std::string& folder :
         {dir.file("tree"), dir.file("slash/"), dir.file("empty/"), dir.file("link") + "/"}) {
        EXPECT_TRUE(DeleteLocalFolder(folder)) << folder;
        EXPECT_FALSE(Exists(folder.substr(0, folder.find_last_not_of('/') + 1))) << folder;
    }
    // A file, a link to one, or nothing is refused.
    for (const std::string& path : {dir.file("file.txt"), dir.file("file.txt/"),
                                    dir.file("file-link"), dir.file("missing"), std::string()}) {
        EXPECT_FALSE(DeleteLocalFolder(path)) << path;
    }
    EXPECT_TRUE(Exists(dir.file("file-link")));
    for (const char* name : kept) {
        EXPECT_EQ(ReadFileBytes(dir.file(name)), name);
    }
}

TEST(DeleteLocalFolder, WhatCannotGoStaysAndTheResultIsStillTrue) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0711);
    const std::string tree = dir.file("tree");
    MakeFolder(tree, 0777);
    WriteFileBytes(tree + "/plain.txt", "p");
    MakeFolder(tree + "/sub", 0777);
    WriteFileBytes(tree + "/sub/inner.txt", "i");
    // A folder whose files may not be deleted, and one that may not even be read.
    MakeFolder(tree + "/locked", 0777);
    WriteFileBytes(tree + "/locked/held.txt", "held");
    ::chmod((tree + "/locked").c_str(), 0555);
    MakeFolder(tree + "/closed", 0777);
    WriteFileBytes(tree + "/closed/hidden.txt", "hidden");
    ::chmod((tree + "/closed").c_str(), 0333);

    const int result = RunUnprivileged([&] { return DeleteLocalFolder(tree) ? 1 : 2; });
    ASSERT_NE(result, -1) << "could not run without privileges";
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(Exists(tree + "/plain.txt"));
    EXPECT_FALSE(Exists(tree + "/sub"));
    EXPECT_EQ(ReadFileBytes(tree + "/locked/held.txt"), "held");
    EXPECT_TRUE(Exists(tree + "/closed/hidden.txt"));
    EXPECT_TRUE(Exists(tree));
}

TEST(DeleteLocalFolder, DeepTreesWithinTheLimitGoDeeperOnesAreRefusedBeforeAnythingGoes) {
    TempDir dir;
    MakeChain(dir.file("deep"), 64);
    EXPECT_TRUE(DeleteLocalFolder(dir.file("deep")));
    EXPECT_FALSE(Exists(dir.file("deep")));

    const std::string deepest = MakeChain(dir.file("deeper"), 65);
    MakeTree(dir.file("deeper/beside"));
    EXPECT_FALSE(DeleteLocalFolder(dir.file("deeper")));
    EXPECT_TRUE(Exists(deepest + "/f"));
    EXPECT_TRUE(Exists(dir.file("deeper/f")));
    EXPECT_EQ(ReadFileBytes(dir.file("deeper/beside/sub/deeper/c")), "c");
}

// Mounted in a mount namespace of a child: a tmpfs inside a tree, a bind mount of a folder
// outside the tree (the same file system, another mount), and a tmpfs given as the folder.
TEST(DeleteLocalFolder, AMountPointInTheTreeOrAsTheFolderIsRefusedBeforeAnythingGoes) {
    TempDir dir;
    const char* const files[] = {"tree/own.txt", "tree/mnt/inside.txt", "bound/own.txt",
                                 "outside/keep.txt"};
    for (const char* folder :
         {"tree", "tree/mnt", "bound", "bound/sub", "bound/sub/outside", "outside"}) {
        MakeFolder(dir.file(folder));
    }
    const int result = RunWithOwnMounts([&] {
        if (::mount("tmpfs", dir.file("tree/mnt").c_str(), "tmpfs", 0, nullptr) != 0 ||
            ::mount(dir.file("outside").c_str(), dir.file("bound/sub/outside").c_str(), nullptr,
                    MS_BIND, nullptr) != 0) {
            return 3;
        }
        for (const char* file : files) {
            WriteFileBytes(dir.file(file), file);
        }
        int deleted = 0;
        for (const char* folder : {"tree", "bound", "tree/mnt"}) {
            deleted += DeleteLocalFolder(dir.file(folder)) ? 1 : 0;
        }
        for (const char* file : files) {
            deleted += ReadFileBytes(dir.file(file)) == file ? 0 : 1;
        }
        return deleted == 0 ? 1 : 2;
    });
    if (result == -1 || result == 3) {
        GTEST_SKIP() << "this system lets the tests mount nothing";
    }
    EXPECT_EQ(result, 1);
}
