// Settings saves killed at random moments leave every settings file whole.

#include "settings/Settings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using oxlip::Settings;
using oxlip::test::ReadFileBytes;
using oxlip::test::TempDir;

namespace {

struct FixedWindow : oxlip::WindowPlacement {
    float l = 0;
    void setPlacement(float, float, float, float) override {}
    void setSizeOnly(float, float) override {}
    void setWindowState(int) override {}
    float left() const override { return l; }
    float top() const override { return 300; }
    float width() const override { return 10620; }
    float height() const override { return 5790; }
    int windowState() const override { return 0; }
};

// One of two complete settings states; they differ in every file and in length.
void Apply(Settings& s, FixedWindow& w, bool second) {
    s.profile = oxlip::ConnectionProfile{};
    s.profile.ProfileName = "仕事";
    s.profile.Server = second ? "ftp.example.jp" : "192.0.2.7";
    s.profile.UserName = second ? "yamada-taro" : "u";
    s.profile.PassWord = second ? "長いパスワード-long-password" : "pw";
    s.profile.Dir = second ? "/public_html/site/" : "/";
    s.profile.LDir = second ? "/home/yamada/サイト/" : "/tmp/";
    s.profile.TransMode = second ? 2 : 0;
    s.profile.LastPathHost = second ? "/public_html/site/img/" : "";
    s.AsciiExtensionList = oxlip::DefaultAsciiExtensions();
    if (second) {
        s.AsciiExtensionList.insert(s.AsciiExtensionList.end(), {"PHP", "XML", "CSV", "MD"});
    } else {
        s.AsciiExtensionList.resize(3);
    }
    s.ListCache = second;
    w.l = second ? 4500 : 15;
}

void SaveAll(Settings& s, const FixedWindow& w) {
    s.SaveAsciiExtensions();
    s.SaveProfile();
    s.SaveAppSettings(&w);
}

// User.ini with each password replaced by its plain text, since the filler differs per save.
std::string WithPlainPasswords(const std::string& text) {
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        end = end == std::string::npos ? text.size() : end + 2;
        std::string line = text.substr(pos, end - pos);
        const std::string key = "PassWord=";
        if (line.compare(0, key.size(), key) == 0 && line.size() >= key.size() + 2) {
            const std::string value = line.substr(key.size(), line.size() - key.size() - 2);
            line = key + "<" + oxlip::UnscramblePassword(value) + ">\r\n";
        }
        out += line;
        pos = end;
    }
    return out;
}

TEST(SettingsCrashSafety, KilledSavesLeaveOldOrNewFiles) {
    // Every file content the saves can leave: computed by an uninterrupted run that first
    // settles the section order as the killed runs below find it.
    std::set<std::string> ftpContents;
    std::set<std::string> userContents;
    {
        TempDir ref;
        for (const bool ext : {false, true}) {
            for (const bool app : {false, true}) {
                Settings s(ref.path());
                FixedWindow w;
                Apply(s, w, false);
                SaveAll(s, w);
                SaveAll(s, w);
                Apply(s, w, ext);
                ASSERT_TRUE(s.SaveAsciiExtensions());
                ASSERT_TRUE(s.SaveProfile());
                Apply(s, w, app);
                ASSERT_TRUE(s.SaveAppSettings(&w));
                ftpContents.insert(ReadFileBytes(s.ftpIniPath()));
                userContents.insert(WithPlainPasswords(ReadFileBytes(s.userIniPath())));
            }
        }
    }
    ASSERT_EQ(ftpContents.size(), 4u);
    ASSERT_EQ(userContents.size(), 2u);

    TempDir dir;
    {
        Settings s(dir.path());
        FixedWindow w;
        Apply(s, w, false);
        SaveAll(s, w);
        SaveAll(s, w);
    }

    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> delayUs(0, 4000);
    const auto start = std::chrono::steady_clock::now();
    int iterations = 0;
    int killedMidWrite = 0;
    // Until enough kills have landed inside a file replacement, bounded in count and time.
    for (; iterations < 400 && killedMidWrite < 50; ++iterations) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) {
            break;
        }
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Settings s(dir.path());
            FixedWindow w;
            // Alternate between the two states until killed; the count bounds a lost child.
            for (int i = 0; i < 20000; ++i) {
                Apply(s, w, i % 2 == 1);
                SaveAll(s, w);
            }
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(delayUs(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        const std::string ftp = ReadFileBytes(dir.file("Ftp.ini"));
        const std::string user = WithPlainPasswords(ReadFileBytes(dir.file("User.ini")));
        ASSERT_TRUE(ftpContents.count(ftp))
            << "seed " << seed << ", run " << iterations << ", Ftp.ini:\n"
            << ftp;
        ASSERT_TRUE(userContents.count(user))
            << "seed " << seed << ", run " << iterations << ", User.ini:\n"
            << user;

        // A temporary file left behind means the kill landed inside a save; clear it so the
        // next one is counted too.
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = e.path().filename().string();
            if (name != "Ftp.ini" && name != "User.ini") {
                ++killedMidWrite;
                std::filesystem::remove(e.path());
            }
        }
    }
    // Only a kill between the temporary file's creation and its rename tests anything.
    EXPECT_GE(killedMidWrite, 10) << "seed " << seed;
    std::cout << "killed " << iterations << " saving processes, " << killedMidWrite
              << " inside a file replacement (seed " << seed << ")\n";
}

} // namespace
