#include "LocalFsTestUtil.h"
#include "localfs/LocalFs.h"

#include <gtest/gtest.h>

using namespace oxlip;
using namespace oxlip::test;

namespace {

// Folders top/d/d/... `depth` levels below top, a file "f" in each; the deepest folder.
std::string MakeChain(const std::string& top, int depth) {
    std::string path = top;
    for (int i = 0; i <= depth; ++i, path += "/d") {
        MakeEntries(path, {"f"});
    }
    return path.substr(0, path.size() - 2);
}

} // namespace

TEST(DeleteLocalFolder, TreesGoWholeLinksGoAsLinksAndNothingBesideIsTouched) {
    TempDir dir;
    const std::initializer_list<std::string> kept = {"beside.txt", "outside/nested/2.txt",
                                                     "lonely.txt", "file.txt"};
    MakeEntries(dir.path(), kept);
    // Hidden files, names made of dots, nested and empty folders; links go as links, what they
    // lead to stays, ".." is never entered.
    MakeEntries(dir.path(),
                {"tree/a.txt", "tree/.hidden", "tree/...", "tree/sub/deeper/c", "tree/empty/",
                 "tree/ends-in-dot./d", "tree/..more/e", "slash/x", "empty/",
                 "tree/to-folder -> " + dir.file("outside"), "tree/sub/relative -> ../../outside",
                 "tree/sub/to-file -> " + dir.file("lonely.txt"), "tree/sub/up -> ..",
                 "tree/dangling -> nowhere", "link -> outside", "file-link -> file.txt"});
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
    for (const std::string& name : kept) {
        EXPECT_EQ(ReadFileBytes(dir.file(name)), name);
    }
}

TEST(DeleteLocalFolder, WhatCannotGoStaysAndTheResultIsStillTrue) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0711);
    const std::string tree = dir.file("tree");
    MakeEntries(tree, {"plain.txt", "sub/inner.txt", "locked/held.txt", "closed/hidden.txt"});
    // A folder whose files may not be deleted, and one that may not even be read.
    for (const auto& [folder, mode] :
         {std::pair{"", 0777}, {"/sub", 0777}, {"/locked", 0555}, {"/closed", 0333}}) {
        ::chmod((tree + folder).c_str(), mode);
    }
    EXPECT_EQ(RunUnprivileged([&] { return DeleteLocalFolder(tree) ? 1 : 2; }), 1);
    EXPECT_EQ(NamesIn(tree), (std::vector<std::string>{"closed", "locked"}));
    EXPECT_TRUE(Exists(tree + "/locked/held.txt"));
    EXPECT_TRUE(Exists(tree + "/closed/hidden.txt"));
}

TEST(DeleteLocalFolder, DeepTreesWithinTheLimitGoDeeperOnesAreRefusedBeforeAnythingGoes) {
    TempDir dir;
    MakeChain(dir.file("deep"), 64);
    EXPECT_TRUE(DeleteLocalFolder(dir.file("deep")));
    EXPECT_FALSE(Exists(dir.file("deep")));
    const std::string deepest = MakeChain(dir.file("deeper"), 65);
    EXPECT_FALSE(DeleteLocalFolder(dir.file("deeper")));
    EXPECT_TRUE(Exists(deepest + "/f"));
    EXPECT_TRUE(Exists(dir.file("deeper/f")));
}

// In a child's own mount namespace: a tmpfs in a tree, a bind mount, a tmpfs as the folder.
TEST(DeleteLocalFolder, AMountPointInTheTreeOrAsTheFolderIsRefusedBeforeAnythingGoes) {
    TempDir dir;
    const char* const files[] = {"tree/own.txt", "tree/mnt/inside.txt", "bound/own.txt",
                                 "outside/keep.txt"};
    MakeEntries(dir.path(), {"tree/mnt/", "bound/sub/outside/", "outside/"});
    const int result = RunWithOwnMounts([&] {
        if (::mount("tmpfs", dir.file("tree/mnt").c_str(), "tmpfs", 0, nullptr) != 0 ||
            ::mount(dir.file("outside").c_str(), dir.file("bound/sub/outside").c_str(), nullptr,
                    MS_BIND, nullptr) != 0) {
            return 3;
        }
        int deleted = 0;
        for (const char* file : files) {
            WriteFileBytes(dir.file(file), file);
        }
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
