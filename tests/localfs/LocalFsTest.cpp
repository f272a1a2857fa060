#include "localfs/LocalFs.h"
#include "localfs/TextHelpers.h"
#include "support/TempDir.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace oxlip;
using namespace oxlip::test;

namespace {

const DirEntry kJunk{false, false, {}, 0, 0, "junk"};

// Every entry as "name kind size", the kind exactly one of the attribute sets a listing gives.
std::multiset<std::string> Listed(const std::vector<DirEntry>& list) {
    std::multiset<std::string> out;
    for (const DirEntry& e : list) {
        const std::string kind =
            e.directory ? (e.link ? "dirlink" : "dir") : (e.link ? "link" : "file");
        out.insert(e.name + " " + kind + " " + std::to_string(e.size));
    }
    return out;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// What `fn` returns where permission bits count: as nobody in a child process when the tests
// run as root, in this process otherwise; -1 as RunInChild gives it.
int RunUnprivileged(const std::function<int()>& fn) {
    if (::geteuid() != 0) {
        return fn();
    }
    return RunInChild(
        [] {
            return ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                   ::setresuid(65534, 65534, 65534) == 0;
        },
        fn);
}

// Folders top/d/d/... `depth` levels below top, a file "f" in each; the deepest folder.
std::string MakeChain(const std::string& top, int depth) {
    std::string path = top;
    for (int i = 0; i <= depth; ++i, path += "/d") {
        MakeEntries(path, {"f"});
    }
    return path.substr(0, path.size() - 2);
}

} // namespace

TEST(ListLocalFolder, EveryEntryOnceWithKindSizeAndUtcTime) {
    TempDir dir;
    std::vector<DirEntry> list(20, kJunk);
    WriteFileBytes(dir.file("名前.txt"), std::string(3000, 'x'));
    MakeEntries(dir.path(), {"readme.txt", ".hidden", "sub/", "to-folder -> sub",
                             "to-file -> 名前.txt", "dangling -> nowhere", "big.iso"});
    const timespec times[2] = {{1049533507, 123456700}, {1049533507, 123456700}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("readme.txt").c_str(), times, 0), 0);
    std::filesystem::resize_file(dir.file("big.iso"), 5000000000LL); // sparse
    ASSERT_EQ(ListLocalFolder(list, dir.path() + "/*.*"), 10);
    ASSERT_EQ(Listed(list),
              (std::multiset<std::string>{". dir 0", ".. dir 0", "readme.txt file 10",
                                          ".hidden file 7", "名前.txt file 3000", "sub dir 0",
                                          "to-folder dirlink 0", "to-file link 3000",
                                          "dangling link 0", "big.iso file 5000000000"}));
    EXPECT_EQ(std::ranges::find(list, "readme.txt", &DirEntry::name)->modified,
              FileTimeFromUnix(1049533507, 123456700));
}

TEST(ListLocalFolder, PatternSelectsNamesAndWhatCannotBeListedGivesNothing) {
    TempDir dir;
    MakeEntries(dir.path(), {"a.txt", "b.txt", "c.TXT", "d.log", "closed/inside"});
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("closed").c_str(), 0311); // may be passed through, not read
    // clang-format off
    // A name without wildcards is that one entry.
    const std::pair<std::string, std::multiset<std::string>> cases[] = {
        {dir.path() + "/*.txt", {"a.txt file 5", "b.txt file 5"}},
        {dir.path() + "/?.log", {"d.log file 5"}}, {dir.path() + "/*.zip", {}},
        {dir.file("d.log"), {"d.log file 5"}}, {dir.file("missing") + "/*.*", {}},
        {dir.file("d.log") + "/*.*", {}}, {dir.path() + "/", {}}, {"", {}},
        {dir.file("closed") + "/*.*", {}}};
    // clang-format on
    for (const auto& [pattern, names] : cases) {
        EXPECT_EQ(RunUnprivileged([&] {
                      std::vector<DirEntry> list(3, kJunk);
                      const int count = ListLocalFolder(list, pattern);
                      return count == int(names.size()) && Listed(list) == names ? 1 : 2;
                  }),
                  1)
            << pattern;
    }
}

TEST(GetLocalEntry, TheGivenNameLiterallyAndNothingFoundLeavesTheRecord) {
    TempDir dir;
    MakeEntries(dir.path(), {"data.bin", "a*b.txt", "aXXb.txt", "q1"});
    // "*" and "?" are characters of the name, never wildcards.
    const std::pair<const char*, int> names[] = {
        {"data.bin", 8}, {"a*b.txt", 7}, {"aXXb.txt", 8},     {"q1", 2},
        {"a*", -1},      {"q?", -1},     {"missing.txt", -1}, {"missing/x.txt", -1}};
    for (const auto& [name, size] : names) {
        DirEntry found = kJunk;
        EXPECT_EQ(GetLocalEntry(dir.file(name), found), size < 0 ? 0 : 1) << name;
        EXPECT_EQ(found.name, size < 0 ? "junk" : name) << name;
        EXPECT_EQ(found.size, size < 0 ? 0u : uint64_t(size)) << name;
    }
}

TEST(LocalPaths, IsDirectoryFollowsLinksAndProbeRefusesOnlyWhatCannotBeRead) {
    TempDir dir;
    MakeEntries(dir.path(), {"sub/", "file", "link -> sub"});
    // clang-format off
    const std::pair<std::string, bool> folders[] = {
        {dir.path() + "/", true}, {dir.file("link"), true}, {dir.file("file"), false},
        {dir.file("missing"), false}, {"", false}};
    // clang-format on
    for (const auto& [path, isFolder] : folders) {
        EXPECT_EQ(PathIsDirectory(path), isFolder) << path;
    }
    // clang-format off
    const std::pair<std::string, bool> probes[] = {
        {"", false}, {"relative/path", false}, {std::string("/tmp\0x", 6), false}, {"/", true},
        {dir.file("missing") + "/deeper/", true}, {"/no-such-top-level-folder-oxlip/x", true}};
    // clang-format on
    for (const auto& [path, passes] : probes) {
        EXPECT_EQ(ProbeLocalPath(path), passes) << path;
    }
}

// A probe whose file system does not answer (a sleeping work here) gives up in time, pumping.
TEST(LocalPaths, BoundedProbesAnswerInTimeAndPumpMeanwhile) {
    using namespace std::chrono;
    int pumps = 0;
    const auto pump = [&] { ++pumps; };
    EXPECT_TRUE(ProbeLocalPathWithin("/", 5000, pump));
    EXPECT_FALSE(ProbeLocalPathWithin("relative/path", 5000, pump));
    const std::tuple<int, int, bool> works[] = {{150, 5000, true}, {1500, 200, false}};
    for (const auto& [sleepMs, timeoutMs, answered] : works) {
        pumps = 0;
        const auto start = steady_clock::now();
        const bool result = RunWithin(
            [sleepMs = sleepMs] {
                std::this_thread::sleep_for(milliseconds(sleepMs));
                return true;
            },
            timeoutMs, pump);
        const auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
        EXPECT_EQ(result, answered) << sleepMs;
        EXPECT_GE(took, std::min(sleepMs, timeoutMs)) << sleepMs;
        EXPECT_LT(took, std::min(sleepMs, timeoutMs) + 1000) << sleepMs;
        EXPECT_GE(pumps, 2) << sleepMs;
    }
}

TEST(MountPoints, OnlyWhatAUserWouldPickUnescapedAndTheLongestPrefixHoldsAPath) {
    // Each line of a mounts table, and the mount point picked from it (none: left out).
    // clang-format off
    const std::pair<const char*, const char*> lines[] = {
        {"/dev/vda2 / ext4 rw 0 0", "/"}, {"proc /proc proc rw 0 0", nullptr},
        {"tmpfs /run/user/1000 tmpfs rw 0 0", nullptr}, {"systemd-1 /net autofs rw 0 0", nullptr},
        {"/dev/loop3 /snap/core22/1234 squashfs ro 0 0", nullptr},
        {"overlay /var/lib/docker/overlay2/abc/merged overlay rw 0 0", nullptr},
        {"/dev/vda2 /etc/hosts ext4 rw 0 0", nullptr}, {"/dev/vda1 /boot/efi vfat rw 0 0", "/boot/efi"},
        {"/dev/sdb1 /media/user/USB\\040STICK vfat rw 0 0", "/media/user/USB STICK"},
        {"/dev/sdc1 /run/media/user/DISK exfat rw 0 0", "/run/media/user/DISK"},
        {"tmpfs /mnt/ram tmpfs rw 0 0", "/mnt/ram"}, {"tmpfs /root/scratch tmpfs rw 0 0", "/root/scratch"},
        {"tmpfs /opt/cache tmpfs rw 0 0", nullptr},
        {"/dev/sdd1 /mnt/back\\134slash ext4 rw 0 0", "/mnt/back\\slash"}, {"garbage", nullptr}};
    // clang-format on
    std::string table;
    std::vector<std::string> picked;
    for (const auto& [line, point] : lines) {
        table += std::string(line) + "\n";
        if (point) {
            picked.push_back(point);
        }
    }
    std::sort(picked.begin(), picked.end());
    EXPECT_EQ(PickUserMountPoints(table, "/root"), picked);
    // The mount seen at a point (the last) decides; the root is always there.
    EXPECT_EQ(PickUserMountPoints("tmpfs /mnt/x tmpfs rw 0 0\nproc /mnt/x proc rw 0 0\n"
                                  "/dev/sda1 /data ext4 rw 0 0\n/dev/sda1 /data ext4 rw 0 0\n",
                                  ""),
              (std::vector<std::string>{"/", "/data"}));
    EXPECT_EQ(PickUserMountPoints("", ""), (std::vector<std::string>{"/"}));
    EXPECT_EQ(ListMountPoints().at(0), "/"); // this system's table

    const std::vector<std::string> mounts{"/", "/home", "/home/user/data"};
    EXPECT_EQ(MountPointOfPath("/home/user/data/x/y.txt", mounts), "/home/user/data");
    EXPECT_EQ(MountPointOfPath("/home/user/data/", mounts), "/home/user/data");
    EXPECT_EQ(MountPointOfPath("/home/user/database", mounts), "/home");
    EXPECT_EQ(MountPointOfPath("/etc", {}), "/");
}

TEST(LocalFileOps, CreateRenameDeleteRemoveRenameNeverReplacesAndCurrentFolderEndsInSlash) {
    TempDir dir;
    EXPECT_TRUE(CreateLocalFolder(dir.file("new")));
    EXPECT_FALSE(CreateLocalFolder(dir.file("new")));
    WriteFileBytes(dir.file("new/a.txt"), "A");
    EXPECT_FALSE(RemoveLocalFolder(dir.file("new"))); // not empty
    EXPECT_TRUE(RenameLocalPath(dir.file("new/a.txt"), dir.file("new/b.txt")));
    EXPECT_FALSE(DeleteLocalFile(dir.file("new"))); // a folder is no file
    EXPECT_TRUE(DeleteLocalFile(dir.file("new/b.txt")));
    EXPECT_FALSE(DeleteLocalFile(dir.file("new/b.txt")));
    EXPECT_TRUE(RemoveLocalFolder(dir.file("new") + "/"));
    EXPECT_FALSE(Exists(dir.file("new")));

    MakeEntries(dir.path(), {"from.txt", "to.txt", "folder/"});
    EXPECT_FALSE(RenameLocalPath(dir.file("from.txt"), dir.file("to.txt")));
    EXPECT_EQ(ReadFileBytes(dir.file("to.txt")), "to.txt");
    EXPECT_FALSE(RenameLocalPath(dir.file("from.txt"), dir.file("folder")));
    // The current folder ends in a slash.
    const std::string before = CurrentLocalFolder();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const std::string inside = CurrentLocalFolder();
    ASSERT_EQ(::chdir(before.c_str()), 0);
    EXPECT_EQ(inside, dir.path() + "/");
}

TEST(LocalFileOps, HiddenTempNamesFitTheLimitAndCutNoCharacter) {
    // name, limit, the part of the name kept
    const std::tuple<std::string, size_t, std::string> rows[] = {
        {"a.txt", 255, "a.txt"},
        {std::string(242, 'x'), 255, std::string(242, 'x')},
        {std::string(255, 'x'), 255, std::string(242, 'x')},
        {"abéああ", 13 + 8, "abéあ"},
        {"abああ", 13 + 4, "ab"}};
    for (const auto& [name, limit, kept] : rows) {
        EXPECT_EQ(HiddenTempName(name, limit), "." + kept + ".part-XXXXXX") << name;
    }
}

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

// In a child's own mount namespace (root there when the tests are not): a tmpfs in a tree, a bind
// mount, a tmpfs as the folder.
TEST(DeleteLocalFolder, AMountPointInTheTreeOrAsTheFolderIsRefusedBeforeAnythingGoes) {
    TempDir dir;
    const char* const files[] = {"tree/own.txt", "tree/mnt/inside.txt", "bound/own.txt",
                                 "outside/keep.txt"};
    MakeEntries(dir.path(), {"tree/mnt/", "bound/sub/outside/", "outside/"});
    const auto ownMounts = [&] {
        const std::string uid = std::to_string(::geteuid());
        const std::string gid = std::to_string(::getegid());
        const bool own = uid == "0" ? ::unshare(CLONE_NEWNS) == 0
                                    : ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                                          WriteFileBytes("/proc/self/setgroups", "deny") &&
                                          WriteFileBytes("/proc/self/uid_map", "0 " + uid + " 1") &&
                                          WriteFileBytes("/proc/self/gid_map", "0 " + gid + " 1");
        return own && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("tmpfs", dir.file("tree/mnt").c_str(), "tmpfs", 0, nullptr) == 0 &&
               ::mount(dir.file("outside").c_str(), dir.file("bound/sub/outside").c_str(), nullptr,
                       MS_BIND, nullptr) == 0;
    };
    const int result = RunInChild(ownMounts, [&] {
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
    if (result == -1) {
        GTEST_SKIP() << "this system lets the tests mount nothing";
    }
    EXPECT_EQ(result, 1);
}
