// Resource bounds: big listings, huge lines and long replies are handled within bounded
// memory. Each case runs in a forked child whose peak resident size the kernel reports.

#include "HostileFixture.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>

namespace oxlip::test {
namespace {

// AddressSanitizer's shadow memory and quarantine make resident sizes meaningless: under it
// the cases run but their memory is not judged.
#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool kJudgeMemory = false;
#else
constexpr bool kJudgeMemory = true;
#endif

// The resident size of this process now, in KiB.
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
    // Runs the steps with a fresh client (the parent's is not shared across the fork) in a
    // forked child, killed by an alarm after a minute. The child's peak resident size in KiB,
    // or -1 when a step failed (the failing step's number is reported).
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

    // Huge lines and replies never sit in memory.
    before = ResidentKb();
    peak = peakOfChild([](ftp::FtpClient& c) {
        // Three entries, then a 32 MiB line without a line end: the entries come out.
        std::vector<DirEntry> entries;
        if (!c.list("/huge-32", entries)) {
            return 3;
        }
        if (entries.size() != 3 || entries[2].name != "f3.txt") {
            return 4;
        }
        // A 32 MiB reply line is cut and the session goes on.
        std::string text;
        if (c.rawCommand("SITE LONG 33554432", &text) != 200 || text.size() > 64 * 1024) {
            return 5;
        }
        if (c.rawCommand("NOOP") != 200) {
            return 6;
        }
        // A reply of 10 MiB in 5,000 lines is a protocol error: the connection is given up.
        return c.rawCommand("SITE MANY 5000 2048") == 0 && c.lost() ? 0 : 7;
    });
    ASSERT_GT(peak, 0);
    EXPECT_TRUE(!kJudgeMemory || peak - before < 24L * 1024)
        << "peak: " << peak << " KiB, before: " << before << " KiB";
}

} // namespace
} // namespace oxlip::test
