#include "ftp/engine/ListingParser.h"
#include "localfs/TextHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

using oxlip::DirEntry;
using oxlip::ftp::CivilTime;
using oxlip::ftp::ListingAccumulator;
using oxlip::ftp::ParseListing;
using oxlip::ftp::ParseListLine;
using oxlip::ftp::ParseMlsdLine;

namespace {

// 2024-03-15 12:00:00: "Mon dd hh:mm" lines are placed against this.
const CivilTime kNow{2024, 3, 15, 12, 0, 0};

// "YYYY-MM-DD HH:MM:SS[.fffffff]", independently of the parser's own civil arithmetic.
std::string TimeText(const oxlip::FileTime& time) {
    const time_t seconds = time_t(oxlip::UnixFromFileTime(time));
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    std::string result = text;
    if (const uint64_t fraction = time.ticks % oxlip::kFileTimeTicksPerSecond) {
        std::snprintf(text, sizeof text, ".%07llu", static_cast<unsigned long long>(fraction));
        result += text;
    }
    return result;
}

// The record in one line: type (d folder, - file, l link, L link to a folder), size, time,
// permission bits in octal, name.
std::string Describe(const DirEntry& e) {
    char kind = '-';
    if (e.link) {
        kind = e.directory ? 'L' : 'l';
    } else if (e.directory) {
        kind = 'd';
    }
    char perms[16];
    std::snprintf(perms, sizeof perms, "%o", e.permissions);
    return std::string(1, kind) + " " + std::to_string(e.size) + " " + TimeText(e.modified) + " " +
           perms + " [" + e.name + "]";
}

std::string Describe(const std::optional<DirEntry>& entry) {
    return entry ? Describe(*entry) : "nullopt";
}

struct Case {
    const char* line; // a wrapped VMS entry holds its two lines
    const char* expected;
};

// The entry of a row as a body gives it, checked against the one-line parser where the row is
// one line.
std::string DescribeRow(const std::string& line) {
    const auto entries = ParseListing(line, false, kNow);
    if (line.find('\n') == std::string::npos) {
        EXPECT_EQ(entries.size() == 1 ? std::optional<DirEntry>(entries[0]) : std::nullopt,
                  ParseListLine(line, kNow))
            << line;
    }
    return entries.empty() ? "nullopt" : entries.size() == 1 ? Describe(entries[0]) : "several";
}

template <std::size_t N> void ExpectRows(const Case (&rows)[N]) {
    for (const Case& c : rows) {
        EXPECT_EQ(DescribeRow(c.line), c.expected) << c.line;
    }
}

const Case kUnix[] = {
    {"-rw-r--r--    1 1000     1000         1234 Mar 15 10:30 index.html",
     "- 1234 2024-03-15 10:30:00 644 [index.html]"},
    {"drwxr-xr-x    2 1000     1000         4096 Jan 01  2023 images",
     "d 4096 2023-01-01 00:00:00 755 [images]"},
    {"lrwxrwxrwx    1 0        0               7 Mar 02 08:05 bin -> usr/bin",
     "l 7 2024-03-02 08:05:00 777 [bin]"},
    {"-rw-r--r--   1 owner    staff        5120 Nov 30  2021 report.pdf",
     "- 5120 2021-11-30 00:00:00 644 [report.pdf]"},
    {"drwxrwxr-x   3 owner    staff        4096 Feb 29 23:59 leap",
     "d 4096 2024-02-29 23:59:00 775 [leap]"},
    {"-rw-r--r--   1 owner        1234 Mar 15 10:30 nogroup.txt",
     "- 1234 2024-03-15 10:30:00 644 [nogroup.txt]"},
    // ACL and security-context marks after the mode.
    {"-rw-rw-r--+  1 owner staff 12 Mar 15 10:30 acl.txt",
     "- 12 2024-03-15 10:30:00 664 [acl.txt]"},
    {"drwxr-xr-x.  2 root root 6 Mar 15 10:30 selinux", "d 6 2024-03-15 10:30:00 755 [selinux]"},
    {"crw-rw-rw-    1 0        0          1,   3 Mar 15 10:30 null",
     "- 0 2024-03-15 10:30:00 666 [null]"},
    // Set-id and sticky letters: only the rwx digits count.
    {"-rwsr-xr-x    1 0        0        63960 Feb  7  2020 passwd",
     "- 63960 2020-02-07 00:00:00 755 [passwd]"},
    {"drwxrwxrwt   10 0        0         4096 Mar 15 11:59 tmp",
     "d 4096 2024-03-15 11:59:00 777 [tmp]"},
    {"-rwSr--r--    1 0        0            1 Mar 15 10:30 setuid-noexec",
     "- 1 2024-03-15 10:30:00 644 [setuid-noexec]"},
    {"----------    1 0        0            1 Mar 15 10:30 none",
     "- 1 2024-03-15 10:30:00 0 [none]"},
    {"-rw-r--r--    1 1000     1000     5368709120 Mar 15 10:30 big.iso",
     "- 5368709120 2024-03-15 10:30:00 644 [big.iso]"},
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
    {"-rw-r--r-- 1 owner group 99 2023-07-04 18:20 iso.txt",
     "- 99 2023-07-04 18:20:00 644 [iso.txt]"},
    {"-rw-r--r-- 1 owner group 1 Mar 15 10:30 crlf.txt\r",
     "- 1 2024-03-15 10:30:00 644 [crlf.txt]"},
};

// Dates as servers in other languages and with other settings write them (kNow is 2024-03-15).
const Case kLocalizedDates[] = {
    {"-rw-r--r-- 1 user group 100  4\xe6\x9c\x88 18\xe6\x97\xa5 2003\xe5\xb9\xb4 ja1",
     "- 100 2003-04-18 00:00:00 644 [ja1]"},
    {"-rw-r--r-- 1 user group 100  3\xe6\x9c\x88 10 09:15 ja2",
     "- 100 2024-03-10 09:15:00 644 [ja2]"},
    {"-rw-r--r-- 1 user group 100 12\x8c\x8e 24\x93\xfa 2023\x94\x4e ja3",
     "- 100 2023-12-24 00:00:00 644 [ja3]"},
    {"-rw-r--r-- 1 user group 100  3\xb7\xee  1 10:00 ja4", "- 100 2024-03-01 10:00:00 644 [ja4]"},
    {"-rw-r--r-- 1 user group 100 2023\xe5\xb9\xb4"
     "11\xe6\x9c\x88"
     "3\xe6\x97\xa5 ja6",
     "- 100 2023-11-03 00:00:00 644 [ja6]"},
    {"-rw-r--r-- 1 user group 100  3\xec\x9b\x94 14 16:20 ko1",
     "- 100 2024-03-14 16:20:00 644 [ko1]"},
    {"-rw-r--r-- 1 user group 100 11\xbf\xf9  5  2022 ko2", "- 100 2022-11-05 00:00:00 644 [ko2]"},
    {"-rw-r--r-- 1 user group 100  6\xd4\xc2 30  2021 zh1", "- 100 2021-06-30 00:00:00 644 [zh1]"},
    {"-rw-r--r-- 1 user group 100  1\xa4\xeb  2 08:00 zh2", "- 100 2024-01-02 08:00:00 644 [zh2]"},
    {"-rw-r--r-- 1 user group 100 26. Juli, 20:10 de1", "- 100 2023-07-26 20:10:00 644 [de1]"},
    {"-rw-r--r-- 1 user group 100  2. Okt.  2019 de2", "- 100 2019-10-02 00:00:00 644 [de2]"},
    {"-rw-r--r-- 1 user group 100 M\xc3\xa4r  5  2020 de3", "- 100 2020-03-05 00:00:00 644 [de3]"},
    {"-rw-r--r-- 1 user group 100 15. M\xe4rz 08:00 de4", "- 100 2024-03-15 08:00:00 644 [de4]"},
    {"-rw-r--r-- 1 user group 100 15 f\xc3\xa9vr. 2022 fr1", "- 100 2022-02-15 00:00:00 644 [fr1]"},
    {"-rw-r--r-- 1 user group 100  3 janv. 09:30 fr2", "- 100 2024-01-03 09:30:00 644 [fr2]"},
    {"-rw-r--r-- 1 user group 100 ene  7  2022 es", "- 100 2022-01-07 00:00:00 644 [es]"},
    {"-rw-r--r-- 1 user group 100 12 giu 2021 it", "- 100 2021-06-12 00:00:00 644 [it]"},
    {"-rw-r--r-- 1 user group 100 mrt  3 11:11 nl", "- 100 2024-03-03 11:11:00 644 [nl]"},
    {"-rw-r--r-- 1 user group 100 2023. m\xc3\xa1rc. 15. hu", "- 100 2023-03-15 00:00:00 644 [hu]"},
    {"-rw-r--r-- 1 user group 100 \xd0\xb4\xd0\xb5\xd0\xba 31  2022 ru1",
     "- 100 2022-12-31 00:00:00 644 [ru1]"},
    {"-rw-r--r-- 1 user group 100 \xec\xe0\xf0  1 10:00 ru2",
     "- 100 2024-03-01 10:00:00 644 [ru2]"},
    {"-rw-r--r-- 1 user group 100 31.01.2024 23:59 n1", "- 100 2024-01-31 23:59:00 644 [n1]"},
    {"-rw-r--r-- 1 user group 100 01/31/24 n2", "- 100 2024-01-31 00:00:00 644 [n2]"},
    {"-rw-r--r-- 1 user group 100 2023/12/01 08:00 n3", "- 100 2023-12-01 08:00:00 644 [n3]"},
    {"-rw-r--r-- 1 user group 100 24-04-2003 17:12 n4", "- 100 2003-04-24 17:12:00 644 [n4]"},
    {"-rw-r--r-- 1 user group 100 09-26 2000 n5", "- 100 2000-09-26 00:00:00 644 [n5]"},
    {"-rw-r--r-- 1 user group 100 09-26 13:45 n6", "- 100 2023-09-26 13:45:00 644 [n6]"},
    {"-rw-r--r-- 1 user group 100 01-jun-99 n7", "- 100 1999-06-01 00:00:00 644 [n7]"},
    // 24:00 is the end of its day; a weekday and seconds with the year last ("ls -lT").
    {"-rw-r--r-- 1 user group 100 Mar 14 24:00 t1", "- 100 2024-03-15 00:00:00 644 [t1]"},
    {"-rw-r--r-- 1 user group 100 Thu Mar 14 10:30:45 2024 t2",
     "- 100 2024-03-14 10:30:45 644 [t2]"},
    {"-rw-r--r-- 1 user group 100 vie 8 mar 2024 t3", "- 100 2024-03-08 00:00:00 644 [t3]"},
    {"-rw-r--r-- 1 user group 100 2024/03/08 (\xe9\x87\x91) 10:30 t4",
     "- 100 2024-03-08 10:30:00 644 [t4]"},
};

const Case kUnixVariants[] = {
    {"-rw-r--r-- 1 user group 34.5K Mar  1 10:00 unit", "- 35328 2024-03-01 10:00:00 644 [unit]"},
    {"-rw-r--r-- 1 user group 1.5G Mar  1 10:00 big", "- 1610612736 2024-03-01 10:00:00 644 [big]"},
    {"-rw-r--r-- 1 John Smith Domain Users 1234 Mar  1 10:00 spaced",
     "- 1234 2024-03-01 10:00:00 644 [spaced]"},
    // Columns run together: a long group into the size, permissions into the link count.
    {"-r-xr-xr-x 1 longowner longgroup123456 Feb 12 17:20 joined",
     "- 123456 2024-02-12 17:20:00 555 [joined]"},
    {"-rw-r--r--12 user group 10 Mar  1 10:00 links", "- 10 2024-03-01 10:00:00 644 [links]"},
    {"-rw-r--r--@ 1 user staff 10 Mar  1 10:00 xattr", "- 10 2024-03-01 10:00:00 644 [xattr]"},
    // VShell writes both the year and the clock.
    {"-rwxr-xr-x    1 user group        9 Oct 08, 2002 09:47 run.sh",
     "- 9 2002-10-08 09:47:00 755 [run.sh]"},
    {"   8 -rw-r--r--  1 user group 4096 Mar  1 10:00 blocks",
     "- 4096 2024-03-01 10:00:00 644 [blocks]"},
    {"-rw-r--r-- 1 user group 1234 no date", "- 1234 1601-01-01 00:00:00 644 [no date]"},
    {"drwxr-xr-x user group 512 nolinks", "d 512 1601-01-01 00:00:00 755 [nolinks]"},
    // All numbers: octal mode with its type, ids, size, seconds since 1970 (UTC).
    {"0100644 1000 1000 1234 1700000000 numeric", "- 1234 2023-11-14 22:13:20 644 [numeric]"},
    {"040755 0 0 4096 1600000000 numdir", "d 4096 2020-09-13 12:26:40 755 [numdir]"},
    // Flags in place of permissions (Connect:Enterprise), a folder without owner (NetPresenz).
    {"-A--R-----TCP B PRODSYS     120   48211 Feb  3 08:15 flags",
     "- 48211 2024-02-03 08:15:00 0 [flags]"},
    {"drwxrwxr-x       folder        7 Feb  3  2001 mac", "d 7 2001-02-03 00:00:00 775 [mac]"},
    {"d [RWCEAFMS] admin                512 Mar 14 09:00 PUBLIC",
     "d 512 2024-03-14 09:00:00 0 [PUBLIC]"},
    {"- [R----F--] admin               2048 Jan  5  2021 LOGIN.EXE",
     "- 2048 2021-01-05 00:00:00 0 [LOGIN.EXE]"},
};

const Case kDos[] = {
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
    {"15.03.2024  14:30    <DIR>          Ordner", "d 0 2024-03-15 14:30:00 0 [Ordner]"},
    {"2024/03/15  09:05         1.234.567 daten.bin",
     "- 1234567 2024-03-15 09:05:00 0 [daten.bin]"},
    {"03/15/2024  02:05 PM    <JUNCTION>     Backup [C:\\Backup]",
     "L 0 2024-03-15 14:05:00 0 [Backup]"},
};

// VMS: sizes in blocks of 512 bytes; folders lose ".DIR" and the version, files keep theirs.
const Case kVms[] = {
    {"BUILD.COM;3             2/5         12-MAR-2024 09:15:42  [DEV,JOHN]  (RWED,RWED,RE,)",
     "- 1024 2024-03-12 09:15:42 0 [BUILD.COM;3]"},
    {"DATA.DIR;1              1/3          5-JAN-2023 14:02  [DEV,JOHN]  (RWE,RWE,RE,E)",
     "d 512 2023-01-05 14:02:00 0 [DATA]"},
    {"NOTES.TXT;12  [JOHN]  4/6  28-FEB-2024 23:30  (RWED,RWED,R,)",
     "- 2048 2024-02-28 23:30:00 0 [NOTES.TXT;12]"},
    {"RUN.LOG;1   155  2-JUL-2023 10:30:13.64", "- 79360 2023-07-02 10:30:13 0 [RUN.LOG;1]"},
    {"OLD.DAT;2   8/9  15-JAN-2000  SYSTEM", "- 4096 2000-01-15 00:00:00 0 [OLD.DAT;2]"},
    {"A_VERY_LONG_FILE_NAME_FOR_WRAPPING.TXT;1\r\n"
     "                       18/18     1-FEB-2024 08:00:00  [DEV,JOHN]  (RWED,RWED,RE,)",
     "- 9216 2024-02-01 08:00:00 0 [A_VERY_LONG_FILE_NAME_FOR_WRAPPING.TXT;1]"},
};

// IBM MVS / z/OS datasets and members, and AS/400. Mainframe sizes that count tracks or
// records are not byte counts: they give no size.
const Case kMainframe[] = {
    {"VOLA01 3390   2024/03/12  1   15  FB      80  3120  PS  PROJ.DATA.SET1",
     "- 0 2024-03-12 00:00:00 0 [PROJ.DATA.SET1]"},
    {"VOLA02 3390   2023/11/02  2    9  VB     255 27998  PO  PROJ.SOURCE.COBOL",
     "d 0 2023-11-02 00:00:00 0 [PROJ.SOURCE.COBOL]"},
    {"Migrated                                              PROJ.OLD.STUFF",
     "- 0 1601-01-01 00:00:00 0 [PROJ.OLD.STUFF]"},
    {"ARCIVE Not Direct Access Device                       PROJ.TAPE.BACKUP",
     "- 0 1601-01-01 00:00:00 0 [PROJ.TAPE.BACKUP]"},
    {" PAYROLL   01.03 2022/05/10 2024/03/11 09:40    22    20     0 JOHN",
     "- 0 2024-03-11 09:40:00 0 [PAYROLL]"},
    {" IEFBR14   000120   00A40F                  01 FO             RN RU            31    ANY",
     "- 288 1601-01-01 00:00:00 0 [IEFBR14]"},
    {"QSYS           77824 02/23/24 15:09:55 *DIR       QOpenSys/",
     "d 77824 2024-02-23 15:09:55 0 [QOpenSys]"},
    {"JOHN            8192 15.03.24 10:30:00 *STMF      readme.txt",
     "- 8192 2024-03-15 10:30:00 0 [readme.txt]"},
    {"JOHN                                   *MEM       MYLIB.LIB/SRC.FILE/MBR1.MBR",
     "- 0 1601-01-01 00:00:00 0 [MYLIB.LIB/SRC.FILE/MBR1.MBR]"},
};

// EPLF (UTC), OS/2, OS-9, old VShell and routers.
const Case kOtherFamilies[] = {
    {"+i8388621.29609,m1700000000,/,\tpub", "d 0 2023-11-14 22:13:20 0 [pub]"},
    {"+i8388621.44468,m1600000000,r,s10376,up644,\tREAD ME",
     "- 10376 2020-09-13 12:26:40 644 [READ ME]"},
    {"   36611      A    04-23-103  10:57  CONFIG.SYS",
     "- 36611 2003-04-23 10:57:00 0 [CONFIG.SYS]"},
    {"    0 DIR       02-11-124  16:15  OS2 TOOLS", "d 0 2024-02-11 16:15:00 0 [OS2 TOOLS]"},
    {"  0.0     24/03/14 1030  d-ewrewr      6C       640 CMDS",
     "d 640 2024-03-14 10:30:00 0 [CMDS]"},
    {"  1.12    23/12/01 0815  ------wr      A3      1234 startup",
     "- 1234 2023-12-01 08:15:00 0 [startup]"},
    {"206876  Apr 04, 2000 21:06 setup.exe", "- 206876 2000-04-04 21:06:00 0 [setup.exe]"},
    {"0  Dec 12, 2002 02:13 archive/", "d 0 2002-12-12 02:13:00 0 [archive]"},
    {"2048    Feb-28-1998  05:23:30   CONFIG <DIR>", "d 0 1998-02-28 05:23:30 0 [CONFIG]"},
    {"1402    Mar-01-2024  10:00:00   boot.cfg", "- 1402 2024-03-01 10:00:00 0 [boot.cfg]"},
    {"router.log       1014196  06/03/04  Thur.   10:20:03",
     "- 1014196 2004-06-03 10:20:03 0 [router.log]"},
    // A facts line where a LIST line was expected (UTC).
    {"type=file;size=5;modify=20240101120000; inlist.txt",
     "- 5 2024-01-01 12:00:00 0 [inlist.txt]"},
};

} // namespace

TEST(ListingParser, EveryFamilyRowByRow) {
    ExpectRows(kUnix), ExpectRows(kLocalizedDates), ExpectRows(kUnixVariants), ExpectRows(kDos);
    ExpectRows(kVms), ExpectRows(kMainframe), ExpectRows(kOtherFamilies);
    // UTC times are shown in the wall clock of now.
    CivilTime tokyo = kNow;
    tokyo.utcOffsetMinutes = 540;
    const auto entry = ParseListLine("+m1700000000,r,s1,\tx", tokyo);
    ASSERT_TRUE(entry);
    EXPECT_EQ(TimeText(entry->modified), "2023-11-15 07:13:20");
}

// All tables as one body, with headings and totals between them: the same entries as row by
// row, and the same again when the body arrives one line at a time or in pieces of every size
// up to 7 (which cut CR LF pairs apart).
TEST(ListingParser, EveryTableParsesTheSameWholeLineByLineOrInPieces) {
    std::string body = "total 20\r\n";
    std::vector<std::string> expected;
    const auto add = [&](const auto& rows) {
        for (const Case& c : rows) {
            body += std::string(c.line) + "\r\n";
            if (std::string(c.expected) != "nullopt") {
                expected.push_back(c.expected);
            }
        }
        body += "Directory USER$DISK:[JOHN]\r\rTotal of 3 files, 21/26 blocks.\n"; // CR, LF
    };
    add(kUnix), add(kLocalizedDates), add(kUnixVariants), add(kDos), add(kVms);
    add(kMainframe), add(kOtherFamilies);
    std::vector<std::string> whole;
    for (const DirEntry& e : ParseListing(body, false, kNow)) {
        whole.push_back(Describe(e));
    }
    EXPECT_EQ(whole, expected);
    ListingAccumulator byLine(false, kNow);
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t end = std::min(body.find('\n', at) + 1, body.size());
        byLine.Feed(std::string_view(body).substr(at, end - at));
        at = end;
    }
    EXPECT_EQ(byLine.Finish(), ParseListing(body, false, kNow));
    for (std::size_t piece = 1; piece <= 7; ++piece) {
        ListingAccumulator accumulator(false, kNow);
        for (std::size_t at = 0; at < body.size(); at += piece) {
            accumulator.Feed(std::string_view(body).substr(at, piece));
        }
        EXPECT_EQ(accumulator.Finish(), ParseListing(body, false, kNow)) << piece;
    }
}

TEST(ListingParser, DatesWithoutYearAreThisYearUnlessMoreThanADayAhead) {
    const auto yearOf = [](const char* date, const CivilTime& now) {
        const std::string line = std::string("-rw-r--r-- 1 o g 1 ") + date + " name";
        const auto entry = ParseListLine(line, now);
        return entry ? TimeText(entry->modified) : "nullopt";
    };
    // Up to a day ahead is this year (clock skew, zones), further ahead is last year.
    EXPECT_EQ(yearOf("Dec 31 23:59", kNow), "2023-12-31 23:59:00");
    EXPECT_EQ(yearOf("Mar 16 11:59", kNow), "2024-03-16 11:59:00");
    EXPECT_EQ(yearOf("Mar 16 12:01", kNow), "2023-03-16 12:01:00");
    EXPECT_EQ(yearOf("Sep 10 10:00", kNow), "2023-09-10 10:00:00");
    // Across New Year both ways: a server ahead of us may already list the new year.
    const CivilTime newYearsEve{2024, 12, 31, 23, 0, 0};
    EXPECT_EQ(yearOf("Jan  1 00:30", newYearsEve), "2025-01-01 00:30:00");
    const CivilTime newYearsDay{2025, 1, 1, 0, 10, 0};
    EXPECT_EQ(yearOf("Dec 31 23:50", newYearsDay), "2024-12-31 23:50:00");
    // 29 February goes to the last leap year.
    EXPECT_EQ(yearOf("Feb 29 10:00", CivilTime{2025, 3, 1, 0, 0, 0}), "2024-02-29 10:00:00");
    EXPECT_EQ(yearOf("Feb 30 10:00", kNow), "nullopt");
}

TEST(ListingParser, LinesThatAreNotEntries) {
    const char* lines[] = {"",
                           "total 12",
                           "   ",
                           "\r",
                           "garbage",
                           "-rw-r--r-- 1 owner group",
                           "-rw-r--r-- 1 owner group 12 Mar 15 10:30", // no name
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
                           "-rw-r--r-- 1 owner group 99999999999999999999K Mar 15 10:30 overflow",
                           "0100644 1000 1000 1234 99999999999999 overflow",
                           "Directory USER$DISK:[JOHN]",
                           "Total of 3 files, 21/26 blocks.",
                           "Grand total of 2 directories, 5 files, 40/60 blocks.",
                           "Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname",
                           " Name     VV.MM   Created       Changed      Size  Init   Mod   Id",
                           " Owner    Last modified  Attributes Sector Bytecount Name",
                           "-------   ------------   ---------- ------ --------- ----",
                           "NAME.TXT;1  x  12-MAR-2024",
                           "NAME.TXT;1  2/5",
                           "+i1,m1,/,",
                           "+s99999999999999999999999,r,\tbig",
                           "QSYS  77824 99/99/99 15:09:55 *DIR  bad/",
                           "type=cdir;modify=20240315103000; .",
                           "garbage=1 name",
                           "550 No files found."};
    for (const char* line : lines) {
        EXPECT_EQ(Describe(ParseListLine(line, kNow)), "nullopt") << line;
    }
    // A NUL anywhere makes the line unusable as a name.
    using namespace std::string_literals;
    EXPECT_EQ(Describe(ParseListLine("-rw-r--r-- 1 o g 1 Mar 15 10:30 a\0b"s, kNow)), "nullopt");
    EXPECT_EQ(Describe(ParseMlsdLine("type=file;size=1; a\0b"s)), "nullopt");
}

TEST(ListingParser, MlsdLinesFromRealServers) {
    const Case cases[] = {
        {"type=file;size=1234;perm=r;modify=20240315103000;unix.mode=0o644;unix.uid=1000;"
         "unix.gid=1000;unique=803g1a; index.html",
         "- 1234 2024-03-15 10:30:00 644 [index.html]"},
        {"type=dir;size=4096;perm=el;modify=20230101000000;unix.mode=0o755;unix.uid=1000;"
         "unix.gid=1000;unique=803g1b; images",
         "d 4096 2023-01-01 00:00:00 755 [images]"},
        {"modify=20240315103000;perm=adfrw;size=5368709120;type=file;unique=FD00U2A0003;"
         "UNIX.group=1000;UNIX.groupname=user;UNIX.mode=0644;UNIX.owner=1000;"
         "UNIX.ownername=user; big file.iso",
         "- 5368709120 2024-03-15 10:30:00 644 [big file.iso]"},
        {"modify=20240315103000;perm=adfr;size=7;type=OS.unix=symlink;unique=FD00U2A0004;"
         "UNIX.mode=0777; bin",
         "l 7 2024-03-15 10:30:00 777 [bin]"},
        {"modify=20240315103000;perm=adfr;size=7;type=OS.unix=slink:/usr/lib;UNIX.mode=0777; lib",
         "l 7 2024-03-15 10:30:00 777 [lib]"},
        {"type=dir;sizd=4096;modify=20200207000000;UNIX.mode=02775;UNIX.uid=0;UNIX.gid=0;"
         "unique=803g1c; shared",
         "d 4096 2020-02-07 00:00:00 775 [shared]"},
        {"type=file;size=63960;modify=20200207000000;UNIX.mode=4755;UNIX.uid=0;UNIX.gid=0;"
         "unique=803g1d; passwd",
         "- 63960 2020-02-07 00:00:00 755 [passwd]"},
        {"type=file;modify=20240315103000.123;size=17; with  blanks .txt",
         "- 17 2024-03-15 10:30:00.1230000 0 [with  blanks .txt]"},
        // cdir/pdir come out as folders from the line parser.
        {"type=cdir;sizd=4096;modify=20240315103000;UNIX.mode=0755; /home/user",
         "d 4096 2024-03-15 10:30:00 755 [/home/user]"},
        {"TYPE=DIR;Modify=20240315103000; Upper", "d 0 2024-03-15 10:30:00 0 [Upper]"},
        {" bare name", "- 0 1601-01-01 00:00:00 0 [bare name]"},
        {"type=file;size=1;  two blanks", "- 1 1601-01-01 00:00:00 0 [ two blanks]"},
        {"type=file;size=12;modify=20240101120000 no semicolon",
         "- 12 2024-01-01 12:00:00 0 [no semicolon]"},
        {"type=dir;modify=20240101120000;\tTabbed", "d 0 2024-01-01 12:00:00 0 [Tabbed]"},
        // A malformed time gives no time, not a wrong one.
        {"type=file;size=1;modify=20241340250000; badtime", "- 1 1601-01-01 00:00:00 0 [badtime]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Describe(ParseMlsdLine(c.line)), c.expected) << c.line;
    }
    const char* notEntries[] = {
        "",         "type=file;size=1;", "type=file;size=1;name", "garbage; name",
        "=x; name", "type=file; "};
    for (const char* line : notEntries) {
        EXPECT_EQ(Describe(ParseMlsdLine(line)), "nullopt") << line;
    }
}

// Every kind of line end, blank lines, a line that is no entry, and no final line end.
TEST(ListingParser, BodiesSplitOnEveryLineEndAndSkipNonEntries) {
    const auto entries = ParseListing("total 3\r-rw-r--r-- 1 o g 1 Mar 15 10:30 a\r\n\r\n"
                                      "drwxr-xr-x 1 o g 2 Mar 15 10:30 b c\ngarbage\n\n"
                                      "lrwxrwxrwx 1 o g 3 Mar 15 10:30 c -> a",
                                      false, kNow);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(Describe(entries[1]), "d 2 2024-03-15 10:30:00 755 [b c]");
    EXPECT_EQ(Describe(entries[2]), "l 3 2024-03-15 10:30:00 777 [c]");
    EXPECT_TRUE(ParseListing("total 0\r\n", false, kNow).empty());
    EXPECT_TRUE(ParseListing(std::string(100, '\0'), false, kNow).empty());
}

TEST(ListingParser, OverlongLinesAreSkippedAndTheRestSurvives) {
    const std::string good = "-rw-r--r-- 1 o g 1 Mar 15 10:30 good\r\n";
    const std::string longName(1 << 20, 'x');
    const std::string longLine = "-rw-r--r-- 1 o g 1 Mar 15 10:30 " + longName;
    auto entries = ParseListing(good + longLine + "\r\n" + good, false, kNow);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].name, "good");
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
    EXPECT_EQ(entries[0].name, "a");
    EXPECT_EQ(entries[1].name, "..");
}
