#include "ftp/engine/ListingParser.h"
#include "localfs/TextHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <tuple>

using namespace std::string_literals;
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

// Type (d folder, - file, l link, L link to a folder), size, time, octal permissions, [name].
std::string Describe(const std::optional<DirEntry>& e) {
    if (!e) {
        return "nullopt";
    }
    const char kind = e->link ? (e->directory ? 'L' : 'l') : (e->directory ? 'd' : '-');
    char perms[16];
    std::snprintf(perms, sizeof perms, "%o", e->permissions);
    return std::string(1, kind) + " " + std::to_string(e->size) + " " + TimeText(e->modified) +
           " " + perms + " [" + e->name + "]";
}

// A line (a wrapped VMS entry: its two lines) and its entry; one row per form of every family.
const std::pair<const char*, const char*> kRows[] = {
    {"-rw-r--r-- 1 1000 1000 1234 Mar 15 10:30 a", "- 1234 2024-03-15 10:30:00 644 [a]"},
    {"-rw-r--r-- 1 owner 1234 Mar 15 10:30 nogroup", "- 1234 2024-03-15 10:30:00 644 [nogroup]"},
    {"-rw-rw-r--+ 1 owner staff 12 Mar 15 10:30 acl", "- 12 2024-03-15 10:30:00 664 [acl]"},
    // Set-id letters: only the rwx digits count.
    {"-rwsr-xr-x 1 0 0 63960 Feb  7  2020 passwd", "- 63960 2020-02-07 00:00:00 755 [passwd]"},
    {"crw-rw-rw- 1 0 0 1,   3 Mar 15 10:30 null", "- 0 2024-03-15 10:30:00 666 [null]"},
    {"-rw-r--r-- 1 0 0 10 Mar 15 10:30 a  b c", "- 10 2024-03-15 10:30:00 644 [a  b c]"},
    {"-rw-r--r-- 1 0 0 10 Mar 15 10:30  leading", "- 10 2024-03-15 10:30:00 644 [ leading]"},
    {"-rw-r--r-- 1 Jan Feb 1 Mar 15 10:30 Apr 1 1:00", "- 1 2024-03-15 10:30:00 644 [Apr 1 1:00]"},
    // The name stops before the first " -> "; the target may hold blanks and arrows.
    {"lrwxrwxrwx 1 0 0 9 Mar 15 10:30 a b -> c d/e -> f", "l 9 2024-03-15 10:30:00 777 [a b]"},
    {"-rw-r--r-- 1 owner group 99 2023-07-04 18:20 iso", "- 99 2023-07-04 18:20:00 644 [iso]"},
    // Dates as servers in other languages and with other settings write them.
    {"-rw-r--r-- 1 u g 1  4\xe6\x9c\x88 18\xe6\x97\xa5 2003\xe5\xb9\xb4 j",
     "- 1 2003-04-18 00:00:00 644 [j]"},
    {"-rw-r--r-- 1 u g 100  3\xe6\x9c\x88 10 09:15 ja2", "- 100 2024-03-10 09:15:00 644 [ja2]"},
    {"-rw-r--r-- 1 u g 100 2023\xe5\xb9\xb4"
     "11\xe6\x9c\x88"
     "3\xe6\x97\xa5 ja3",
     "- 100 2023-11-03 00:00:00 644 [ja3]"},
    {"-rw-r--r-- 1 u g 100 26. Juli, 20:10 de", "- 100 2023-07-26 20:10:00 644 [de]"},
    {"-rw-r--r-- 1 u g 1 12\x8c\x8e 24\x93\xfa 2023\x94\x4e sj",
     "- 1 2023-12-24 00:00:00 644 [sj]"},
    {"-rw-r--r-- 1 u g 1  3\xb7\xee  1 10:00 euc", "- 1 2024-03-01 10:00:00 644 [euc]"},
    {"-rw-r--r-- 1 u g 1  3\xec\x9b\x94 14 16:20 ko", "- 1 2024-03-14 16:20:00 644 [ko]"},
    {"-rw-r--r-- 1 u g 1 11\xbf\xf9  5  2022 euckr", "- 1 2022-11-05 00:00:00 644 [euckr]"},
    {"-rw-r--r-- 1 u g 1  6\xd4\xc2 30  2021 gbk", "- 1 2021-06-30 00:00:00 644 [gbk]"},
    {"-rw-r--r-- 1 u g 1  1\xa4\xeb  2 08:00 big5", "- 1 2024-01-02 08:00:00 644 [big5]"},
    {"-rw-r--r-- 1 u g 1 \xd0\xb4\xd0\xb5\xd0\xba 31  2022 ru", "- 1 2022-12-31 00:00:00 644 [ru]"},
    {"-rw-r--r-- 1 u g 1 \xec\xe0\xf0  1 10:00 cp1251", "- 1 2024-03-01 10:00:00 644 [cp1251]"},
    {"-rw-r--r-- 1 u g 1 15. M\xe4rz 08:00 latin1", "- 1 2024-03-15 08:00:00 644 [latin1]"},
    {"-rw-r--r-- 1 u g 1 12 giu 2021 it", "- 1 2021-06-12 00:00:00 644 [it]"},
    {"-rw-r--r-- 1 u g 1 mrt  3 11:11 nl", "- 1 2024-03-03 11:11:00 644 [nl]"},
    {"-rw-r--r-- 1 u g 1 ene  7  2022 es", "- 1 2022-01-07 00:00:00 644 [es]"},
    {"-rw-r--r-- 1 u g 100 15 f\xc3\xa9vr. 2022 fr", "- 100 2022-02-15 00:00:00 644 [fr]"},
    {"-rw-r--r-- 1 u g 100 2023. m\xc3\xa1rc. 15. hu", "- 100 2023-03-15 00:00:00 644 [hu]"},
    {"-rw-r--r-- 1 u g 100 31.01.2024 23:59 n1", "- 100 2024-01-31 23:59:00 644 [n1]"},
    {"-rw-r--r-- 1 u g 100 01/31/24 n2", "- 100 2024-01-31 00:00:00 644 [n2]"},
    {"-rw-r--r-- 1 u g 100 2023/12/01 08:00 n3", "- 100 2023-12-01 08:00:00 644 [n3]"},
    {"-rw-r--r-- 1 u g 100 09-26 2000 n4", "- 100 2000-09-26 00:00:00 644 [n4]"},
    {"-rw-r--r-- 1 u g 100 09-26 13:45 n5", "- 100 2023-09-26 13:45:00 644 [n5]"},
    {"-rw-r--r-- 1 u g 100 01-jun-99 n6", "- 100 1999-06-01 00:00:00 644 [n6]"},
    // 24:00 is the end of its day; a weekday and seconds with the year last ("ls -lT").
    {"-rw-r--r-- 1 u g 100 Mar 14 24:00 t1", "- 100 2024-03-15 00:00:00 644 [t1]"},
    {"-rw-r--r-- 1 u g 100 Thu Mar 14 10:30:45 2024 t2", "- 100 2024-03-14 10:30:45 644 [t2]"},
    {"-rw-r--r-- 1 u g 100 vie 8 mar 2024 t3", "- 100 2024-03-08 00:00:00 644 [t3]"},
    {"-rw-r--r-- 1 u g 1 2024/03/08 (\xe9\x87\x91) 10:30 t4", "- 1 2024-03-08 10:30:00 644 [t4]"},
    {"-rw-r--r-- 1 u g 34.5K Mar  1 10:00 unit", "- 35328 2024-03-01 10:00:00 644 [unit]"},
    {"-rw-r--r-- 1 J Smith Dom Users 12 Mar  1 10:00 spaced",
     "- 12 2024-03-01 10:00:00 644 [spaced]"},
    // Columns run together: a long group into the size, permissions into the link count.
    {"-r-xr-xr-x 1 owner longgroup123456 Feb 12 17:20 j", "- 123456 2024-02-12 17:20:00 555 [j]"},
    {"-rw-r--r--12 u g 10 Mar  1 10:00 links", "- 10 2024-03-01 10:00:00 644 [links]"},
    {"-rwxr-xr-x 1 u g 9 Oct 08, 2002 09:47 vshell", "- 9 2002-10-08 09:47:00 755 [vshell]"},
    {"   8 -rw-r--r--  1 u g 4096 Mar  1 10:00 blocks", "- 4096 2024-03-01 10:00:00 644 [blocks]"},
    {"-rw-r--r-- 1 u g 1234 no date", "- 1234 1601-01-01 00:00:00 644 [no date]"},
    {"drwxr-xr-x u g 512 nolinks", "d 512 1601-01-01 00:00:00 755 [nolinks]"},
    // All numbers: octal mode with its type, ids, size, seconds since 1970 (UTC).
    {"0100644 1000 1000 1234 1700000000 numeric", "- 1234 2023-11-14 22:13:20 644 [numeric]"},
    // Flags for permissions (Connect:Enterprise), no owner (NetPresenz), NetWare rights.
    {"-A--R-----TCP B PRODSYS  120  48211 Feb  3 08:15 f", "- 48211 2024-02-03 08:15:00 0 [f]"},
    {"drwxrwxr-x       folder        7 Feb  3  2001 mac", "d 7 2001-02-03 00:00:00 775 [mac]"},
    {"d [RWCEAFMS] admin 512 Mar 14 09:00 PUBLIC", "d 512 2024-03-14 09:00:00 0 [PUBLIC]"},
    {"01-16-24  10:05AM                 1234 a.htm", "- 1234 2024-01-16 10:05:00 0 [a.htm]"},
    {"12-31-99  12:00AM                    0 midnight", "- 0 1999-12-31 00:00:00 0 [midnight]"},
    {"07-04-2023  18:15     5,368,709,120 a b.zip", "- 5368709120 2023-07-04 18:15:00 0 [a b.zip]"},
    {"07-04-23  06:15 PM                  17 pm", "- 17 2023-07-04 18:15:00 0 [pm]"},
    // A name that is only a blank (found by fuzzing: it used to be dropped).
    {"07-04-23  06:15PM                    1  ", "- 1 2023-07-04 18:15:00 0 [ ]"},
    {"15.03.2024  14:30    <DIR>          Ordner", "d 0 2024-03-15 14:30:00 0 [Ordner]"},
    {"2024/03/15  09:05         1.234.567 d.bin", "- 1234567 2024-03-15 09:05:00 0 [d.bin]"},
    {"03/15/2024  02:05 PM    <JUNCTION>     B [C:\\B]", "L 0 2024-03-15 14:05:00 0 [B]"},
    // VMS: sizes in blocks of 512 bytes; folders lose ".DIR" and the version, files keep theirs.
    {"BUILD.COM;3   2/5   12-MAR-2024 09:15:42  [DEV,JOHN]  (RWED,RWED,RE,)",
     "- 1024 2024-03-12 09:15:42 0 [BUILD.COM;3]"},
    {"DATA.DIR;1   1/3    5-JAN-2023 14:02  [DEV,JOHN]  (RWE,RWE,RE,E)",
     "d 512 2023-01-05 14:02:00 0 [DATA]"},
    {"NOTES.TXT;12  [JOHN]  4/6  28-FEB-2024 23:30  (RWED,RWED,R,)",
     "- 2048 2024-02-28 23:30:00 0 [NOTES.TXT;12]"},
    {"RUN.LOG;1   155  2-JUL-2023 10:30:13.64", "- 79360 2023-07-02 10:30:13 0 [RUN.LOG;1]"},
    {"OLD.DAT;2   8/9  15-JAN-2000  SYSTEM", "- 4096 2000-01-15 00:00:00 0 [OLD.DAT;2]"},
    {"A_VERY_LONG_FILE_NAME_FOR_WRAPPING.TXT;1\r\n"
     "                       18/18     1-FEB-2024 08:00:00  [DEV,JOHN]  (RWED,RWED,RE,)",
     "- 9216 2024-02-01 08:00:00 0 [A_VERY_LONG_FILE_NAME_FOR_WRAPPING.TXT;1]"},
    // MVS datasets and members, AS/400: sizes in tracks or records give no size.
    {"VOLA01 3390   2024/03/12  1   15  FB      80  3120  PS  PROJ.DATA.SET1",
     "- 0 2024-03-12 00:00:00 0 [PROJ.DATA.SET1]"},
    {"VOLA02 3390   2023/11/02  2    9  VB     255 27998  PO  PROJ.SOURCE.COBOL",
     "d 0 2023-11-02 00:00:00 0 [PROJ.SOURCE.COBOL]"},
    {"Migrated                                        P.OLD", "- 0 1601-01-01 00:00:00 0 [P.OLD]"},
    {"ARCIVE Not Direct Access Device                 P.TAPE",
     "- 0 1601-01-01 00:00:00 0 [P.TAPE]"},
    {" PAY   01.03 2022/05/10 2024/03/11 09:40    22    20     0 JOHN",
     "- 0 2024-03-11 09:40:00 0 [PAY]"},
    {" IEFBR14   000120   00A40F                  01 FO             RN RU            31    ANY",
     "- 288 1601-01-01 00:00:00 0 [IEFBR14]"},
    {"QSYS   77824 02/23/24 15:09:55 *DIR    Q/", "d 77824 2024-02-23 15:09:55 0 [Q]"},
    {"JOHN    8192 15.03.24 10:30:00 *STMF    r.txt", "- 8192 2024-03-15 10:30:00 0 [r.txt]"},
    {"JOHN                     *MEM    L.LIB/F.FILE/M.MBR",
     "- 0 1601-01-01 00:00:00 0 [L.LIB/F.FILE/M.MBR]"},
    // EPLF (UTC), OS/2, OS-9, old VShell, routers, a facts line in a LIST body (UTC).
    {"+i8388621.29609,m1700000000,/,\tpub", "d 0 2023-11-14 22:13:20 0 [pub]"},
    {"+i1.2,m1600000000,r,s10376,up644,\tR M", "- 10376 2020-09-13 12:26:40 644 [R M]"},
    {"    0 DIR       02-11-124  16:15  OS2 TOOLS", "d 0 2024-02-11 16:15:00 0 [OS2 TOOLS]"},
    {"  0.0     24/03/14 1030  d-ewrewr      6C       640 C", "d 640 2024-03-14 10:30:00 0 [C]"},
    {"0  Dec 12, 2002 02:13 archive/", "d 0 2002-12-12 02:13:00 0 [archive]"},
    {"2048    Feb-28-1998  05:23:30   CONFIG <DIR>", "d 0 1998-02-28 05:23:30 0 [CONFIG]"},
    {"r.log       1014196  06/03/04  Thur.   10:20:03", "- 1014196 2004-06-03 10:20:03 0 [r.log]"},
    {"type=file;size=5;modify=20240101120000; inlist", "- 5 2024-01-01 12:00:00 0 [inlist]"},
    {"total 12", "nullopt"},
    {"   ", "nullopt"},
    {"-rw-r--r-- 1 o g 12 Mar 15 10:30", "nullopt"},
    {"-rw-r--r-- 1 o g twelve Mar 15 10:30 name", "nullopt"},
    {"-rw-r--r-- 1 o g 12 Mar 15 24:30 name", "nullopt"},
    {"-rw-r--r-- 1 o g 99999999999999999999999 Mar 15 10:30 overflow", "nullopt"},
    {"-rw-r--r-- 1 o g 99999999999999999999K Mar 15 10:30 overflow", "nullopt"},
    {"-rwxrwxrwz 1 o g 12 Mar 15 10:30 badmode", "nullopt"},
    {"crw-rw-rw- 1 0 0 1, x Mar 15 10:30 baddevice", "nullopt"},
    {"0100644 1000 1000 1234 99999999999999 overflow", "nullopt"},
    {"01-16-24  13:30PM       <DIR>          badhour", "nullopt"},
    {"01-16-24  02:30PM       <DIR>", "nullopt"},
    {"01-16-24  02:30PM                 1,,234 badsize", "nullopt"},
    {"550 No files found.", "nullopt"},
    {"ls: cannot open directory .: Permission denied", "nullopt"},
    {"Directory USER$DISK:[JOHN]", "nullopt"},
    {"Total of 3 files, 21/26 blocks.", "nullopt"},
    {"NAME.TXT;1  x  12-MAR-2024", "nullopt"},
    {"NAME.TXT;1  2/5", "nullopt"},
    {"Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname", "nullopt"},
    {" Name     VV.MM   Created       Changed      Size  Init   Mod   Id", "nullopt"},
    {" Owner    Last modified  Attributes Sector Bytecount Name", "nullopt"},
    {"-------   ------------   ---------- ------ --------- ----", "nullopt"},
    {"+i1,m1,/,", "nullopt"},
    {"type=cdir;modify=20240315103000; .", "nullopt"},
    {"garbage=1 name", "nullopt"},
};

} // namespace

// Each row alone; then all rows as one body with CR LF, LF and CR line ends: the same entries,
// also when the body arrives in pieces of every size up to 7.
TEST(ListingParser, EveryFormAloneAndInOneBody) {
    std::string body = "total 20\r\n";
    std::vector<std::string> expected;
    for (const auto& [line, entry] : kRows) {
        const auto entries = ParseListing(line, false, kNow);
        const auto one = entries.size() == 1 ? std::optional(entries[0]) : std::nullopt;
        EXPECT_EQ(entries.size() > 1 ? "several" : Describe(one), entry) << line;
        body += std::string(line) + (body.size() % 3 ? "\r\n" : "\n\r\r");
        if (std::string(entry) != "nullopt") {
            expected.push_back(entry);
        }
    }
    const auto whole = ParseListing(body, false, kNow);
    std::vector<std::string> described;
    for (const DirEntry& e : whole) {
        described.push_back(Describe(e));
    }
    EXPECT_EQ(described, expected);
    for (std::size_t piece = 1; piece <= 7; ++piece) {
        ListingAccumulator accumulator(false, kNow);
        for (std::size_t at = 0; at < body.size(); at += piece) {
            accumulator.Feed(std::string_view(body).substr(at, piece));
        }
        EXPECT_EQ(accumulator.Finish(), whole) << piece;
    }
}

TEST(ListingParser, DatesWithoutYearAreThisYearUnlessMoreThanADayAhead) {
    const std::tuple<const char*, CivilTime, const char*> rows[] = {
        {"Dec 31 23:59", kNow, "2023-12-31 23:59:00"},
        {"Mar 16 11:59", kNow, "2024-03-16 11:59:00"}, // clock skew, zones
        {"Mar 16 12:01", kNow, "2023-03-16 12:01:00"},
        {"Jan  1 00:30", {2024, 12, 31, 23, 0, 0}, "2025-01-01 00:30:00"},
        {"Dec 31 23:50", {2025, 1, 1, 0, 10, 0}, "2024-12-31 23:50:00"},
        {"Feb 29 10:00", {2025, 3, 1, 0, 0, 0}, "2024-02-29 10:00:00"}, // the last leap year
        {"Feb 30 10:00", kNow, "nullopt"},
    };
    for (const auto& [date, now, expected] : rows) {
        const auto entry = ParseListLine("-rw-r--r-- 1 o g 1 "s + date + " name", now);
        EXPECT_EQ(entry ? TimeText(entry->modified) : "nullopt", expected) << date;
    }
    CivilTime tokyo = kNow; // UTC times are shown in the wall clock of now
    tokyo.utcOffsetMinutes = 540;
    EXPECT_EQ(Describe(ParseListLine("+m1700000000,r,s1,\tx", tokyo)),
              "- 1 2023-11-15 07:13:20 0 [x]");
}

TEST(ListingParser, MlsdLinesFromRealServers) {
    const std::pair<const char*, const char*> rows[] = {
        {"type=file;size=1234;perm=r;modify=20240315103000;unix.mode=0o644;unique=8g1a; a.html",
         "- 1234 2024-03-15 10:30:00 644 [a.html]"},
        {"modify=20240315103000;perm=adfrw;size=5368709120;type=file;UNIX.mode=0644; big file",
         "- 5368709120 2024-03-15 10:30:00 644 [big file]"},
        {"size=7;type=OS.unix=symlink;UNIX.mode=0777; bin", "l 7 1601-01-01 00:00:00 777 [bin]"},
        {"type=OS.unix=slink:/usr/lib;UNIX.mode=0777; lib", "l 0 1601-01-01 00:00:00 777 [lib]"},
        {"type=dir;sizd=4096;UNIX.mode=02775; shared", "d 4096 1601-01-01 00:00:00 775 [shared]"},
        {"type=file;modify=20240315103000.123; a  b ", "- 0 2024-03-15 10:30:00.1230000 0 [a  b ]"},
        {"type=cdir;UNIX.mode=0755; /h/u", "d 0 1601-01-01 00:00:00 755 [/h/u]"},
        {"TYPE=DIR;Modify=20240315103000; Upper", "d 0 2024-03-15 10:30:00 0 [Upper]"},
        {" bare name", "- 0 1601-01-01 00:00:00 0 [bare name]"},
        {"type=file;size=1;  two blanks", "- 1 1601-01-01 00:00:00 0 [ two blanks]"},
        {"type=file;size=12;modify=20240101120000 no semi", "- 12 2024-01-01 12:00:00 0 [no semi]"},
        {"type=dir;modify=20240101120000;\tTabbed", "d 0 2024-01-01 12:00:00 0 [Tabbed]"},
        // A malformed time gives no time, not a wrong one.
        {"type=file;size=1;modify=20241340250000; badtime", "- 1 1601-01-01 00:00:00 0 [badtime]"},
        {"", "nullopt"},
        {"type=file;size=1;", "nullopt"},
        {"type=file;size=1;name", "nullopt"},
        {"garbage; name", "nullopt"},
        {"=x; name", "nullopt"},
        {"type=file; ", "nullopt"},
    };
    for (const auto& [line, entry] : rows) {
        EXPECT_EQ(Describe(ParseMlsdLine(line)), entry) << line;
    }
}

// Lines too long, or with a NUL, are skipped; the rest survives.
TEST(ListingParser, OverlongLinesAndNulsAreSkipped) {
    const std::string prefix = "-rw-r--r-- 1 o g 1 Mar 15 10:30 ";
    const std::string longLine = prefix + std::string(1 << 20, 'x');
    const std::string good = prefix + "good\r\n";
    EXPECT_EQ(ParseListing(good + longLine + "\r\n" + good, false, kNow).size(), 2u);
    const std::string atLimit =
        prefix + std::string(oxlip::ftp::kMaxListingLine - prefix.size(), 'y');
    EXPECT_EQ(ParseListing(atLimit + "\n" + atLimit + "z", false, kNow).size(), 1u);
    EXPECT_TRUE(ParseListing(longLine, false, kNow).empty()); // no line end at all
    EXPECT_TRUE(ParseListing(std::string(100, '\0'), false, kNow).empty());
    EXPECT_EQ(Describe(ParseListLine(prefix + "a\0b"s, kNow)), "nullopt");
    EXPECT_EQ(Describe(ParseMlsdLine("type=file;size=1; a\0b"s)), "nullopt");
}

TEST(ListingParser, MlsdBodiesDropCurrentAndParentFolders) {
    const std::string body = "type=cdir;modify=20240315103000;UNIX.mode=0755; .\r\n"
                             "type=pdir;modify=20240315103000;UNIX.mode=0755; ..\r\n"
                             "type=file;size=3;modify=20240315103000; a\r\n"
                             "type=dir;modify=20240315103000; ..\r\n"; // a real entry named ".."
    const auto entries = ParseListing(body, true, kNow);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name + entries[1].name, "a..");
}
