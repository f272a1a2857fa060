#include "LocalFsTestUtil.h"
#include "localfs/LocalFs.h"
#include "localfs/TextHelpers.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <tuple>

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

TEST(LocalFileOps, CreateRenameDeleteRemoveAndRenameNeverReplaces) {
    TempDir dir;
    EXPECT_TRUE(CreateLocalFolder(dir.file("new")));
    EXPECT_FALSE(CreateLocalFolder(dir.file("new")));
    WriteFileBytes(dir.file("new/a.txt"), "A");
    EXPECT_FALSE(RemoveLocalFolder(dir.file("new"))); // not empty
    EXPECT_TRUE(RenameLocalPath(dir.file("new/a.txt"), dir.file("new/b.txt")));
    EXPECT_EQ(NamesIn(dir.file("new")), std::vector<std::string>{"b.txt"});
    EXPECT_FALSE(DeleteLocalFile(dir.file("new"))); // a folder is no file
    EXPECT_TRUE(DeleteLocalFile(dir.file("new/b.txt")));
    EXPECT_FALSE(DeleteLocalFile(dir.file("new/b.txt")));
    EXPECT_TRUE(RemoveLocalFolder(dir.file("new") + "/"));
    EXPECT_FALSE(Exists(dir.file("new")));

    MakeEntries(dir.path(), {"from.txt", "to.txt", "folder/"});
    EXPECT_FALSE(RenameLocalPath(dir.file("from.txt"), dir.file("to.txt")));
    EXPECT_EQ(ReadFileBytes(dir.file("to.txt")), "to.txt");
    EXPECT_FALSE(RenameLocalPath(dir.file("from.txt"), dir.file("folder")));
}

TEST(LocalFileOps, HiddenTempNamesFitTheLimitAndCutNoCharacter) {
    std::string many; // 85 three-byte characters
    for (int i = 0; i < 85; ++i) {
        many += "あ";
    }
    // name, limit, the part of the name kept
    const std::tuple<std::string, size_t, std::string> rows[] = {
        {"a.txt", 255, "a.txt"},
        {std::string(242, 'x'), 255, std::string(242, 'x')},
        {std::string(255, 'x'), 255, std::string(242, 'x')},
        {many, 255, many.substr(0, 240)},
        {"abéああ", 13 + 8, "abéあ"},
        {"abああ", 13 + 4, "ab"}};
    for (const auto& [name, limit, kept] : rows) {
        EXPECT_EQ(HiddenTempName(name, limit), "." + kept + ".part-XXXXXX") << name;
    }
}

TEST(LocalFileOps, CurrentFolderEndsInSlash) {
    TempDir dir;
    const std::string before = CurrentLocalFolder();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const std::string inside = CurrentLocalFolder();
    ASSERT_EQ(::chdir(before.c_str()), 0);
    EXPECT_EQ(inside, dir.path() + "/");
}
