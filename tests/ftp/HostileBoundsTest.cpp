// Big listings, huge lines and long replies in bounded memory, measured in a forked child.

#include "HostileFixture.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>

namespace oxlip::test {
namespace {

// Under AddressSanitizer resident sizes mean nothing: the cases run unjudged.
#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool kJudgeMemory = false;
#else
constexpr bool kJudgeMemory = true;
#endif

long ResidentKb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

class HostileBoundsTest : public HostileTest {
protected:
    // The steps in a forked child with its own client: its peak resident KiB, or -1.
    long peakOfChild(const std::function<int(ftp::FtpClient&)>& steps) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(60);
            ftp::FtpClient c;
            c.setTimeouts(10000, 30000);
            ::_exit(c.connect(server->server(), HostileServer::user(), HostileServer::password())
                        ? steps(c)
                        : 2);
        }
        int status = 0;
        rusage usage{};
        const bool exited = pid > 0 && ::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status);
        EXPECT_TRUE(exited);
        EXPECT_EQ(exited ? WEXITSTATUS(status) : -1, 0) << "failing step";
        RecordProperty("peak_kb", std::to_string(usage.ru_maxrss));
        return exited && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
    }
};

TEST_F(HostileBoundsTest, BigListingsHugeLinesAndLongRepliesStayWithinBoundedMemory) {
    start("");
    long before = ResidentKb();
    long peak = peakOfChild([](ftp::FtpClient& c) {
        std::vector<DirEntry> entries;
        if (!c.list("/big-100000", entries)) {
            return 3;
        }
        if (entries.size() != 100000 || entries.front().name != "file-0000000.dat" ||
            entries.back().name != "file-0099999.dat" || entries.back().size != 99999) {
            return 4;
        }
        return 0;
    });
    ASSERT_GT(peak, 0);
    EXPECT_TRUE(!kJudgeMemory || peak < 200L * 1024)
        << "peak: " << peak << " KiB, before: " << before << " KiB";

    before = ResidentKb();
    peak = peakOfChild([](ftp::FtpClient& c) {
        // Three entries, then 32 MiB without a line end.
        std::vector<DirEntry> entries;
        if (!c.list("/huge-32", entries)) {
            return 3;
        }
        if (entries.size() != 3 || entries[2].name != "f3.txt") {
            return 4;
        }
        std::string text;
        if (c.rawCommand("SITE LONG 33554432", &text) != 200 || text.size() > 64 * 1024) {
            return 5;
        }
        if (c.rawCommand("NOOP") != 200) {
            return 6;
        }
        // 10 MiB in 5,000 lines is a protocol error.
        return c.rawCommand("SITE MANY 5000 2048") == 0 && c.lost() ? 0 : 7;
    });
    ASSERT_GT(peak, 0);
    EXPECT_TRUE(!kJudgeMemory || peak - before < 24L * 1024)
        << "peak: " << peak << " KiB, before: " << before << " KiB";
}

} // namespace
} // namespace oxlip::test
