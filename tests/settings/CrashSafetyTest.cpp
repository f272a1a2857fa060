// Settings saves killed at random moments leave every settings file whole.

#include "SettingsTestSupport.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using oxlip::Settings;
using namespace oxlip::test;

namespace {

// One of two settings states differing in every file (no password: its scrambled form varies).
void Apply(Settings& s, FakeWindow& w, bool second) {
    // clang-format off
    static const oxlip::ConnectionProfile profiles[] = {
        {"仕事", "192.0.2.7", "u", "", "/", "/tmp/", 0, "", ""},
        {"仕事", "ftp.example.jp", "yamada-taro", "", "/public_html/site/", "/home/yamada/サイト/", 2,
         "", "/public_html/site/img/"}};
    // clang-format on
    s.profile = profiles[second];
    s.AsciiExtensionList = second ? std::vector<std::string>{"CGI", "PHP", "XML", "CSV", "MD"}
                                  : std::vector<std::string>{"CGI", "CSS"};
    s.ListCache = second;
    w.l = second ? 4500 : 15, w.t = 300, w.w = 10620, w.h = 5790, w.state = 0;
}

TEST(SettingsCrashSafety, KilledSavesLeaveOldOrNewFiles) {
    // Every content the saves can leave, recorded after each save once the section order settled.
    TempDir dir;
    std::set<std::string> ftpContents;
    std::set<std::string> userContents;
    {
        TempDir ref;
        Settings s(ref.path());
        FakeWindow w;
        for (int i = 0; i < 6; ++i) {
            Apply(s, w, i % 2 == 1 && i > 1);
            for (const auto& save : {&Settings::SaveAsciiExtensions, &Settings::SaveProfile}) {
                ASSERT_TRUE((s.*save)());
                ftpContents.insert(ReadFileBytes(s.ftpIniPath()));
            }
            ASSERT_TRUE(s.SaveAppSettings(&w));
            ftpContents.insert(ReadFileBytes(s.ftpIniPath()));
            userContents.insert(ReadFileBytes(s.userIniPath()));
            if (i == 1) { // settled: the start of every killed run
                std::filesystem::copy(ref.path(), dir.path(),
                                      std::filesystem::copy_options::recursive);
                ftpContents = {ReadFileBytes(s.ftpIniPath())};
                userContents = {ReadFileBytes(s.userIniPath())};
            }
        }
    }
    ASSERT_EQ(ftpContents.size(), 4u);
    ASSERT_EQ(userContents.size(), 2u);

    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> delayUs(0, 4000);
    const auto start = std::chrono::steady_clock::now();
    int iterations = 0;
    int killedMidWrite = 0;
    // Until enough kills have landed inside a file replacement, bounded in count and time.
    for (; iterations < 400 && killedMidWrite < 50 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(20);
         ++iterations) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Settings s(dir.path());
            FakeWindow w;
            // Alternate between the two states until killed; the count bounds a lost child.
            for (int i = 0; i < 20000; ++i) {
                Apply(s, w, i % 2 == 1);
                SaveAll(s, w);
            }
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(delayUs(rng)));
        ::kill(pid, SIGKILL);
        ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
        const std::string ftp = ReadFileBytes(dir.file("Ftp.ini"));
        const std::string user = ReadFileBytes(dir.file("User.ini"));
        ASSERT_TRUE(ftpContents.count(ftp)) << "seed " << seed << ", Ftp.ini:\n" << ftp;
        ASSERT_TRUE(userContents.count(user)) << "seed " << seed << ", User.ini:\n" << user;

        // A temporary file left behind: the kill landed inside a save; cleared to count the next.
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            if (e.path().filename() != "Ftp.ini" && e.path().filename() != "User.ini") {
                ++killedMidWrite;
                std::filesystem::remove(e.path());
            }
        }
    }
    // Only a kill between the temporary file's creation and its rename tests anything.
    EXPECT_GE(killedMidWrite, 10) << "seed " << seed << ", " << iterations << " kills";
}

} // namespace
