#include "ftp/engine/ListingParser.h"
#include "localfs/TextHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

using oxlip::DirEntry;
using oxlip::ftp::CivilTime;
using oxlip::ftp::ListingAccumulator;
using oxlip::ftp::ParseListing;
using oxlip::ftp::ParseListLine;
using oxlip::ftp::ParseMlsdLine;

namespace {

// 2024-03-15 12:00:00: "Mon dd hh:mm" lines are placed against this.
const CivilTime kNow{2024, 3, 15, 12, 0, 0};

// Ticks written out as "YYYY-MM-DD HH:MM:SS" (plus ".fffffff" when there are sub-seconds),
// independently of the parser's own civil arithmetic.
std::string TimeText(const oxlip::FileTime& time) {
    const time_t seconds = time_t(oxlip::UnixFromFileTime(time));
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    std::string result = text;
    if (const uint64_t fraction = time.ticks % oxlip::kFileTimeTicksPerSecond) {
        std::snprintf(text, sizeof text, ".%07llu", static_cast<unsigned long long>(fraction));
        result += text;
    }
    return result;
}

// The record in one line: type (d folder, - file, l link, L link to a folder), size, time,
// permission digits in hexadecimal, name.
std::string Describe(const DirEntry& e) {
    char kind = '-';
    if (e.isLink()) {
        kind = e.isDirectory() ? 'L' : 'l';
    } else if (e.isDirectory()) {
        kind = 'd';
    }
    char perms[16];
    std::snprintf(perms, sizeof perms, "%x", e.dwReserved0);
    return std::string(1, kind) + " " + std::to_string(e.fileSize()) + " " +
           TimeText(e.ftLastWriteTime) + " " + perms + " [" + e.cFileName + "]";
}

std::string DescribeList(const std::string& line) {
    const auto entry = ParseListLine(line, kNow);
    return entry ? Describe(*entry) : "nullopt";
}

std::string DescribeMlsd(const std::string& line) {
    const auto entry = ParseMlsdLine(line);
    return entry ? Describe(*entry) : "nullopt";
}

struct Case {
    const char* line;
    const char* expected;
};

} // namespace

TEST(ListingParser, UnixAndDosLinesFromRealServers) {
    const Case cases[] = {
        // vsftpd: numeric ids, recent time and year forms, links.
        {"-rw-r--r--    1 1000     1000         1234 Mar 15 10:30 index.html",
         "- 1234 2024-03-15 10:30:00 644 [index.html]"},
        {"drwxr-xr-x    2 1000     1000         4096 Jan 01  2023 images",
         "d 4096 2023-01-01 00:00:00 755 [images]"},
        {"lrwxrwxrwx    1 0        0               7 Mar 02 08:05 bin -> usr/bin",
         "l 7 2024-03-02 08:05:00 777 [bin]"},
        // pyftpdlib: names, and the year written after two blanks.
        {"-rw-r--r--   1 owner    staff        5120 Nov 30  2021 report.pdf",
         "- 5120 2021-11-30 00:00:00 644 [report.pdf]"},
        {"drwxrwxr-x   3 owner    staff        4096 Feb 29 23:59 leap",
         "d 4096 2024-02-29 23:59:00 775 [leap]"},
        // No group column.
        {"-rw-r--r--   1 owner        1234 Mar 15 10:30 nogroup.txt",
         "- 1234 2024-03-15 10:30:00 644 [nogroup.txt]"},
        // ACL and security-context marks after the mode.
        {"-rw-rw-r--+  1 owner staff 12 Mar 15 10:30 acl.txt",
         "- 12 2024-03-15 10:30:00 664 [acl.txt]"},
        {"drwxr-xr-x.  2 root root 6 Mar 15 10:30 selinux",
         "d 6 2024-03-15 10:30:00 755 [selinux]"},
        // Device files show "major, minor" instead of a size.
        {"crw-rw-rw-    1 0        0          1,   3 Mar 15 10:30 null",
         "- 0 2024-03-15 10:30:00 666 [null]"},
        {"brw-rw----    1 0        6          8,0 Mar 15 10:30 sda",
         "- 0 2024-03-15 10:30:00 660 [sda]"},
        // Set-id and sticky letters: only the rwx digits count.
        {"-rwsr-xr-x    1 0        0        63960 Feb  7  2020 passwd",
         "- 63960 2020-02-07 00:00:00 755 [passwd]"},
        {"drwxrwxrwt   10 0        0         4096 Mar 15 11:59 tmp",
         "d 4096 2024-03-15 11:59:00 777 [tmp]"},
        {"-rwSr--r--    1 0        0            1 Mar 15 10:30 setuid-noexec",
         "- 1 2024-03-15 10:30:00 644 [setuid-noexec]"},
        {"-rw-r--r-T    1 0        0            1 Mar 15 10:30 sticky", // T: sticky, no execute
         "- 1 2024-03-15 10:30:00 644 [sticky]"},
        {"----------    1 0        0            1 Mar 15 10:30 none",
         "- 1 2024-03-15 10:30:00 0 [none]"},
        // 64-bit sizes.
        {"-rw-r--r--    1 1000     1000     5368709120 Mar 15 10:30 big.iso",
         "- 5368709120 2024-03-15 10:30:00 644 [big.iso]"},
        // Names with blanks, a leading blank, and an owner that looks like a month.
        {"-rw-r--r--    1 1000     1000           10 Mar 15 10:30 my file  name.txt",
         "- 10 2024-03-15 10:30:00 644 [my file  name.txt]"},
        {"-rw-r--r--    1 1000     1000           10 Mar 15 10:30  leading.txt",
         "- 10 2024-03-15 10:30:00 644 [ leading.txt]"},
        {"-rw-r--r--    1 1000     1000           10 Mar 15 10:30  ",
         "- 10 2024-03-15 10:30:00 644 [ ]"},
        {"-rw-r--r--    1 Jan      Feb            10 Mar 15 10:30 Apr 1 12:00 x",
         "- 10 2024-03-15 10:30:00 644 [Apr 1 12:00 x]"},
        // Links: the name stops before the first " -> "; the target may hold blanks and arrows.
        {"lrwxrwxrwx    1 0        0              12 Mar 15 10:30 my link -> some dir/a -> b",
         "l 12 2024-03-15 10:30:00 777 [my link]"},
        // ISO dates (ls --time-style=long-iso).
        {"-rw-r--r-- 1 owner group 99 2023-07-04 18:20 iso.txt",
         "- 99 2023-07-04 18:20:00 644 [iso.txt]"},
        // Line end left on the line.
        {"-rw-r--r-- 1 owner group 1 Mar 15 10:30 crlf.txt\r",
         "- 1 2024-03-15 10:30:00 644 [crlf.txt]"},
        // IIS in its DOS form.
        {"01-16-24  02:30PM       <DIR>          aspnet_client",
         "d 0 2024-01-16 14:30:00 0 [aspnet_client]"},
        {"01-16-24  10:05AM                 1234 default.htm",
         "- 1234 2024-01-16 10:05:00 0 [default.htm]"},
        {"12-31-99  12:00AM                    0 midnight.txt",
         "- 0 1999-12-31 00:00:00 0 [midnight.txt]"},
        {"07-04-2023  12:15PM       <DIR>          Long Date Folder",
         "d 0 2023-07-04 12:15:00 0 [Long Date Folder]"},
        {"07-04-2023  18:15             5,368,709,120 big file.zip",
         "- 5368709120 2023-07-04 18:15:00 0 [big file.zip]"},
        {"07-04-23  06:15 PM                  17 spaced ampm.txt",
         "- 17 2023-07-04 18:15:00 0 [spaced ampm.txt]"},
        // A name that is only a blank (found by fuzzing: it used to be dropped).
        {"07-04-23  06:15PM                    1  ", "- 1 2023-07-04 18:15:00 0 [ ]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DescribeList(c.line), c.expected) << c.line;
    }
}

TEST(ListingParser, RecentDatesTakeTheYearNearestToNow) {
    const auto yearOf = [](const char* date, const CivilTime& now) {
        const std::string line = std::string("-rw-r--r-- 1 o g 1 ") + date + " name";
        const auto entry = ParseListLine(line, now);
        return entry ? TimeText(entry->ftLastWriteTime) : "nullopt";
    };
    // Up to about six months ahead is this year (clock skew), further ahead is last year.
    EXPECT_EQ(yearOf("Dec 31 23:59", kNow), "2023-12-31 23:59:00");
    EXPECT_EQ(yearOf("Sep 10 10:00", kNow), "2024-09-10 10:00:00");
    EXPECT_EQ(yearOf("Sep 20 10:00", kNow), "2023-09-20 10:00:00");
    EXPECT_EQ(yearOf("Mar 16 08:00", kNow), "2024-03-16 08:00:00");
    // Across New Year both ways.
    const CivilTime newYearsEve{2024, 12, 31, 23, 0, 0};
    EXPECT_EQ(yearOf("Jan  1 00:30", newYearsEve), "2025-01-01 00:30:00");
    const CivilTime newYearsDay{2025, 1, 1, 0, 10, 0};
    EXPECT_EQ(yearOf("Dec 31 23:50", newYearsDay), "2024-12-31 23:50:00");
    // 29 February goes to a leap year.
    EXPECT_EQ(yearOf("Feb 29 10:00", CivilTime{2025, 3, 1, 0, 0, 0}), "2024-02-29 10:00:00");
    EXPECT_EQ(yearOf("Feb 30 10:00", kNow), "nullopt");
}

TEST(ListingParser, LinesThatAreNotEntries) {
    const char* lines[] = {
        "",
        "total 12",
        "total 0",
        "   ",
        "\r",
        "garbage",
        "-rw-r--r-- 1 owner group",
        "-rw-r--r-- 1 owner group 12 Mar 15 10:30", // no name
        "-rw-r--r-- 1 owner group 12 Mar 15 10:30 ",
        "-rw-r--r-- 1 owner group twelve Mar 15 10:30 name",
        "-rw-r--r-- 1 owner group 12 Foo 15 10:30 name",
        "-rw-r--r-- 1 owner group 12 Mar 32 10:30 name",
        "-rw-r--r-- 1 owner group 12 Mar 15 24:30 name",
        "-rw-r--r-- 1 owner group 99999999999999999999999 Mar 15 10:30 overflow",
        "-rwxrwxrwz 1 owner group 12 Mar 15 10:30 badmode",
        "xrw-r--r-- 1 owner group 12 Mar 15 10:30 badtype",
        "crw-rw-rw- 1 0 0 1, x Mar 15 10:30 baddevice",
        "13-45-24  02:30PM       <DIR>          badmonth",
        "01-16-24  13:30PM       <DIR>          badhour",
        "01-16-24  02:30PM       <DIR>",
        "01-16-24  02:30PM                 1,,234 badsize",
        "226 Transfer complete.",
        "ls: cannot open directory .: Permission denied",
    };
    for (const char* line : lines) {
        EXPECT_EQ(DescribeList(line), "nullopt") << line;
    }
    // A NUL anywhere makes the line unusable as a name.
    using namespace std::string_literals;
    EXPECT_EQ(DescribeList("-rw-r--r-- 1 o g 1 Mar 15 10:30 a\0b"s), "nullopt");
    EXPECT_EQ(DescribeMlsd("type=file;size=1; a\0b"s), "nullopt");
}

TEST(ListingParser, MlsdLinesFromRealServers) {
    const Case cases[] = {
        // pyftpdlib (lower-case facts).
        {"type=file;size=1234;perm=r;modify=20240315103000;unix.mode=0o644;unix.uid=1000;"
         "unix.gid=1000;unique=803g1a; index.html",
         "- 1234 2024-03-15 10:30:00 644 [index.html]"},
        {"type=dir;size=4096;perm=el;modify=20230101000000;unix.mode=0o755;unix.uid=1000;"
         "unix.gid=1000;unique=803g1b; images",
         "d 4096 2023-01-01 00:00:00 755 [images]"},
        // ProFTPD, links in both spellings.
        {"modify=20240315103000;perm=adfrw;size=5368709120;type=file;unique=FD00U2A0003;"
         "UNIX.group=1000;UNIX.groupname=user;UNIX.mode=0644;UNIX.owner=1000;"
         "UNIX.ownername=user; big file.iso",
         "- 5368709120 2024-03-15 10:30:00 644 [big file.iso]"},
        {"modify=20240315103000;perm=adfr;size=7;type=OS.unix=symlink;unique=FD00U2A0004;"
         "UNIX.mode=0777; bin",
         "l 7 2024-03-15 10:30:00 777 [bin]"},
        {"modify=20240315103000;perm=adfr;size=7;type=OS.unix=slink:/usr/lib;UNIX.mode=0777; lib",
         "l 7 2024-03-15 10:30:00 777 [lib]"},
        // Pure-FTPd: sizd for folders, set-id bits in the mode.
        {"type=dir;sizd=4096;modify=20200207000000;UNIX.mode=02775;UNIX.uid=0;UNIX.gid=0;"
         "unique=803g1c; shared",
         "d 4096 2020-02-07 00:00:00 775 [shared]"},
        {"type=file;size=63960;modify=20200207000000;UNIX.mode=4755;UNIX.uid=0;UNIX.gid=0;"
         "unique=803g1d; passwd",
         "- 63960 2020-02-07 00:00:00 755 [passwd]"},
        // IIS: fractional seconds, no mode.
        {"type=file;modify=20240315103000.123;size=17; with  blanks .txt",
         "- 17 2024-03-15 10:30:00.1230000 0 [with  blanks .txt]"},
        // cdir/pdir come out as folders from the line parser.
        {"type=cdir;sizd=4096;modify=20240315103000;UNIX.mode=0755; /home/user",
         "d 4096 2024-03-15 10:30:00 755 [/home/user]"},
        // Facts are case-insensitive; no facts at all; a name starting with blanks.
        {"TYPE=DIR;Modify=20240315103000; Upper", "d 0 2024-03-15 10:30:00 0 [Upper]"},
        {" bare name", "- 0 1601-01-01 00:00:00 0 [bare name]"},
        {"type=file;size=1;  two blanks", "- 1 1601-01-01 00:00:00 0 [ two blanks]"},
        // A malformed time gives no time, not a wrong one.
        {"type=file;size=1;modify=20241340250000; badtime", "- 1 1601-01-01 00:00:00 0 [badtime]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DescribeMlsd(c.line), c.expected) << c.line;
    }
    const char* notEntries[] = {
        "",         "type=file;size=1;", "type=file;size=1;name", "garbage; name",
        "=x; name", "type=file; "};
    for (const char* line : notEntries) {
        EXPECT_EQ(DescribeMlsd(line), "nullopt") << line;
    }
}

TEST(ListingParser, BodiesSplitOnEveryLineEndAndSkipNonEntries) {
    const std::string a = "-rw-r--r-- 1 o g 1 Mar 15 10:30 a";
    const std::string b = "drwxr-xr-x 1 o g 2 Mar 15 10:30 b c";
    const std::string c = "lrwxrwxrwx 1 o g 3 Mar 15 10:30 c -> a";
    const std::vector<std::string> bodies = {
        "total 3\r\n" + a + "\r\n" + b + "\r\n" + c + "\r\n", // CR LF
        "total 3\n" + a + "\n" + b + "\n" + c + "\n",         // LF
        "total 3\r" + a + "\r" + b + "\r" + c + "\r",         // CR
        a + "\r\n\r\n" + b + "\r" + c,                        // mixed, blank line, no final end
        a + "\ngarbage\n\n" + b + "\r\n" + c + "\n\n",
    };
    for (const std::string& body : bodies) {
        const auto entries = ParseListing(body, false, kNow);
        ASSERT_EQ(entries.size(), 3u) << body;
        EXPECT_EQ(entries[0].cFileName, "a");
        EXPECT_EQ(entries[1].cFileName, "b c");
        EXPECT_TRUE(entries[1].isDirectory());
        EXPECT_EQ(entries[2].cFileName, "c");
        EXPECT_TRUE(entries[2].isLink());
    }
    EXPECT_TRUE(ParseListing("", false, kNow).empty());
    EXPECT_TRUE(ParseListing("total 0\r\n", false, kNow).empty());
    EXPECT_TRUE(ParseListing(std::string(100, '\0'), false, kNow).empty());
}

TEST(ListingParser, OverlongLinesAreSkippedAndTheRestSurvives) {
    const std::string good = "-rw-r--r-- 1 o g 1 Mar 15 10:30 good\r\n";
    const std::string longName(1 << 20, 'x');
    const std::string longLine = "-rw-r--r-- 1 o g 1 Mar 15 10:30 " + longName;
    auto entries = ParseListing(good + longLine + "\r\n" + good, false, kNow);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].cFileName, "good");
    // A line exactly at the limit is kept; one byte more is not.
    const std::string prefix = "-rw-r--r-- 1 o g 1 Mar 15 10:30 ";
    const std::string atLimit =
        prefix + std::string(oxlip::ftp::kMaxListingLine - prefix.size(), 'y');
    EXPECT_EQ(ParseListing(atLimit + "\n" + atLimit + "z", false, kNow).size(), 1u);
    // A 1 MiB line without any line end at all.
    EXPECT_TRUE(ParseListing(longLine, false, kNow).empty());
}

TEST(ListingParser, MlsdBodiesDropCurrentAndParentFolders) {
    const std::string body = "type=cdir;modify=20240315103000;UNIX.mode=0755; .\r\n"
                             "type=pdir;modify=20240315103000;UNIX.mode=0755; ..\r\n"
                             "type=file;size=3;modify=20240315103000; a\r\n"
                             "type=dir;modify=20240315103000; ..\r\n"; // a real entry named ".."
    const auto entries = ParseListing(body, true, kNow);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].cFileName, "a");
    EXPECT_EQ(entries[1].cFileName, "..");
}

TEST(ListingParser, PiecesGiveTheSameEntriesAsTheWholeBody) {
    std::string body;
    for (int i = 0; i < 50; ++i) {
        body += "-rw-r--r-- 1 o g " + std::to_string(i) + " Mar 15 10:30 file " +
                std::to_string(i) + (i % 3 == 0 ? "\r\n" : (i % 3 == 1 ? "\n" : "\r"));
    }
    const auto whole = ParseListing(body, false, kNow);
    ASSERT_EQ(whole.size(), 50u);
    // Every piece size, including pieces that cut CR LF pairs apart.
    for (std::size_t piece = 1; piece <= 7; ++piece) {
        ListingAccumulator accumulator(false, kNow);
        for (std::size_t at = 0; at < body.size(); at += piece) {
            accumulator.Feed(std::string_view(body).substr(at, piece));
        }
        EXPECT_EQ(accumulator.Finish(), whole) << piece;
    }
}
