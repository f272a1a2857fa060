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
    w.setPlacement(second ? 4500 : 15, 300, 10620, 5790);
    w.state = 0;
}

TEST(SettingsCrashSafety, KilledSavesLeaveOldOrNewFiles) {
    // Every content either file can be left with, recorded after each save once the section
    // order has settled; each killed run starts where the last one ended.
    TempDir dir;
    Settings s(dir.path());
    FakeWindow w;
    std::set<std::string> contents;
    const auto record = [&] {
        contents.insert(ReadFileBytes(s.ftpIniPath()));
        contents.insert(ReadFileBytes(s.userIniPath()));
    };
    for (int i = 0; i < 6; ++i) {
        Apply(s, w, i % 2 == 1);
        for (const auto& save : {&Settings::SaveAsciiExtensions, &Settings::SaveProfile}) {
            ASSERT_TRUE((s.*save)());
            record();
        }
        ASSERT_TRUE(s.SaveAppSettings(&w));
        if (i == 1) {
            contents.clear();
        }
        record();
    }

    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
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
            for (int i = 0; i < 20000; ++i) { // saves until killed; the count bounds a lost child
                Apply(s, w, i % 2 == 0);
                SaveAll(s, w);
            }
            ::_exit(0);
        }
        ::usleep(useconds_t(rng() % 4000));
        ::kill(pid, SIGKILL);
        ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
        for (const std::string& file : {s.ftpIniPath(), s.userIniPath()}) {
            ASSERT_TRUE(contents.count(ReadFileBytes(file))) << seed << " " << ReadFileBytes(file);
        }
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
