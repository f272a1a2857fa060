#include "localfs/TextHelpers.h"
#include "localfs/TextCodec.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

using namespace oxlip;
using namespace std::string_literals;

TEST(TrimAtNul, CutsAtTheFirstNul) {
    EXPECT_EQ(TrimAtNul("abc\0def\0"s), "abc");
    EXPECT_EQ(TrimAtNul("\0abc"s), "");
    EXPECT_EQ(TrimAtNul("abc"), "abc");
}

TEST(FormatSizeKB, WholeKilobytesGroupedByThousandsBeyondFourGigabytes) {
    // clang-format off
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0KB"}, {-2147483648LL, "0KB"}, {1, "1KB"}, {2047, "1KB"}, {1024 * 999, "999KB"},
        {1024 * 1000000LL, "1,000,000KB"}, {5000000000LL, "4,882,812KB"},
        {INT64_MAX, "9,007,199,254,740,991KB"}};
    // clang-format on
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(FormatSizeKB(bytes), text) << bytes;
    }
}

TEST(FileTime, FormattedWithoutLeadingZeroOnTheHourOverTheWholeRange) {
    // Fractions of a second never show; no four-digit year, no text.
    const std::pair<FileTime, const char*> cases[] = {
        {FileTime{FileTimeFromCivil(2003, 4, 5, 9, 5, 7).ticks + 9999999}, "2003/04/05 9:05:07"},
        {FileTimeFromCivil(2024, 2, 29, 12, 0, 0), "2024/02/29 12:00:00"},
        {FileTime{0}, "1601/01/01 0:00:00"},
        {FileTimeFromCivil(9999, 12, 31, 23, 59, 59), "9999/12/31 23:59:59"},
        {FileTime{UINT64_MAX}, ""}};
    for (const auto& [time, text] : cases) {
        EXPECT_EQ(FormatFileTime(time), text) << time.ticks;
    }
}

TEST(FileTime, UnixAndCivilConversionsClampToTheRange) {
    EXPECT_EQ(FileTimeFromUnix(1, 500).ticks, kFileTimeUnixEpoch + 10000005);
    EXPECT_EQ(UnixFromFileTime(FileTimeFromUnix(-86400)), -86400);
    EXPECT_EQ(FileTimeFromCivil(2003, 4, 5, 9, 5, 7), FileTimeFromUnix(1049533507));
    EXPECT_EQ(FileTimeFromCivil(1600, 12, 31, 23, 59, 59).ticks, 0u);
    EXPECT_EQ(FileTimeFromUnix(INT64_MIN).ticks, 0u);
    EXPECT_EQ(FileTimeFromUnix(INT64_MAX).ticks, UINT64_MAX);
}

TEST(FileTime, LocalTimeUsesTheOffsetOfThatMoment) {
    // zone, UTC, local time; Central Europe is one hour ahead in winter, two in summer
    const std::string cet = "CET-1CEST,M3.5.0,M10.5.0/3";
    const std::tuple<std::string, FileTime, FileTime> cases[] = {
        {"JST-9", FileTimeFromCivil(2003, 4, 5, 0, 5, 7), FileTimeFromCivil(2003, 4, 5, 9, 5, 7)},
        {cet, FileTimeFromCivil(2023, 1, 15, 12, 0, 0), FileTimeFromCivil(2023, 1, 15, 13, 0, 0)},
        {cet, FileTimeFromCivil(2023, 7, 15, 12, 0, 0), FileTimeFromCivil(2023, 7, 15, 14, 0, 0)},
        {"EST5", FileTime{0}, FileTime{0}}, // no wrap-around at the start of the range
    };
    const test::ScopedEnv tz("TZ");
    for (const auto& [zone, utc, local] : cases) {
        ::setenv("TZ", zone.c_str(), 1);
        ::tzset();
        EXPECT_EQ(FileTimeToLocalFileTime(utc), local) << zone << " " << utc.ticks;
    }
}

TEST(PathHelpers, ExtensionNameAndParentTables) {
    // clang-format off
    const std::pair<const char*, const char*> extensions[] = {
        {"archive.tar.gz", "gz"}, {"Makefile", ""}, {".profile", "profile"}, {"name.", ""},
        {"/home/my.docs/Makefile", "docs/Makefile"}};
    // clang-format on
    for (const auto& [name, extension] : extensions) {
        EXPECT_EQ(GetExtension(name), extension) << name;
    }
    // path, separator, name part, parent; the other separator is an ordinary character.
    // clang-format off
    const std::tuple<const char*, char, const char*, const char*> rows[] = {
        {"/pub/incoming/", '/', "", "/pub/"}, {"/pub/a.txt", '/', "a.txt", "/pub/"},
        {"/", '/', "", "/"}, {"pub/", '/', "", "pub/"}, {"", '/', "", "/"},
        {"readme.txt", '/', "", "readme.txt/"}, {"/pub/a\\b", '\\', "b", "/pub/a\\"},
        {"C:\\a/b", '/', "b", "C:\\a/"}};
    // clang-format on
    for (const auto& [path, separator, name, parent] : rows) {
        EXPECT_EQ(GetNamePart(path, separator), name) << path << " " << separator;
        EXPECT_EQ(GetParentPath(path, separator), parent) << path << " " << separator;
    }
}

TEST(MatchesWildcard, StarAndQuestionMarkOfWholeCharacters) {
    // clang-format off
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"Makefile", "*.*", true}, {"..", "*.*", true}, {"", "*", true}, {"a.txt.txt", "*.txt", true}, {"readme.txt.bak", "*.txt", false}, {"readme.TXT", "*.txt", false}, {"file1.log", "file?.log", true}, {"file.log", "file?.log", false}, {"file12.log", "file?.log", false}, {"abcbcd", "a*bcd", true}, {"aXbY", "a*b*c", false}, {"exactly", "exact", false}, {"name", "", false},
        // A question mark is one character, not one byte.
        {"日記.txt", "??.txt", true}, {"日記.txt", "??????.txt", false}, {"aé", "*?", true}};
    // clang-format on
    for (const auto& [name, pattern, matches] : cases) {
        EXPECT_EQ(MatchesWildcard(name, pattern), matches) << name << " ~ " << pattern;
    }
    // A long name against many stars stays quick (no exponential backtracking).
    EXPECT_FALSE(MatchesWildcard(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*b"));
}

TEST(TextCodec, Utf8CheckIsStrict) {
    // Invalid: overlong "/", a surrogate, beyond U+10FFFF, cut short, bad continuations, CP932.
    // clang-format off
    const std::pair<std::string, bool> cases[] = {
        {"", true}, {"plain ASCII", true}, {"日本語ｱ", true}, {"\xf0\x9f\x98\x80", true},
        {"\xf4\x8f\xbf\xbf", true}, {std::string("a\0b", 3), true}, {"\xc0\xaf", false},
        {"\xe0\x80\xaf", false}, {"\xf0\x80\x80\xaf", false}, {"\xed\xa0\x80", false},
        {"\xf4\x90\x80\x80", false}, {"\xf5\x80\x80\x80", false}, {"\xe3\x81", false},
        {"\x80", false}, {"\xe3\x81\x41", false}, {"\x83\x65\x83\x58", false}};
    // clang-format on
    for (const auto& [bytes, valid] : cases) {
        EXPECT_EQ(oxlip::IsValidUtf8(bytes), valid) << testing::PrintToString(bytes);
    }
}

TEST(TextCodec, Cp932BothWays) {
    EXPECT_EQ(oxlip::Cp932ToUtf8("\x8e\x96\x96\xb1\x8f\x8a"), "事務所");
    EXPECT_EQ(oxlip::Cp932ToUtf8("\xb1\xb2"), "ｱｲ");
    EXPECT_EQ(oxlip::Cp932ToUtf8("\x87\x40"), "①");      // an NEC special character
    EXPECT_EQ(oxlip::Cp932ToUtf8("\x82"), std::nullopt); // lead byte without its trail
    EXPECT_EQ(oxlip::Utf8ToCp932("テスト"), "\x83\x65\x83\x58\x83\x67");
    EXPECT_EQ(oxlip::Utf8ToCp932("😀"), std::nullopt);
    EXPECT_EQ(oxlip::Utf8ToCp932("\xff"), std::nullopt);
    // Long text grows the output buffer several times.
    EXPECT_EQ(oxlip::Cp932ToUtf8(std::string(5000, '\xb1'))->size(), 5000u * 3);
}

TEST(TextCodec, MixedOrDamagedTextAlwaysDecodesToUtf8) {
    using oxlip::DecodeUtf8OrCp932;
    // Whole-text decisions first: UTF-8 stays, CP932 is converted.
    EXPECT_EQ(DecodeUtf8OrCp932("a\xe3\x81\x82"), "a\xe3\x81\x82");
    EXPECT_EQ(DecodeUtf8OrCp932("\x82\xa0"), "\xe3\x81\x82"); // あ
    EXPECT_EQ(DecodeUtf8OrCp932("a\x82"), "a\xef\xbf\xbd");
    // Neither as a whole: line by line, line ends kept, undecodable bytes become U+FFFD.
    EXPECT_EQ(DecodeUtf8OrCp932("\xe3\x81\x82\r\n\x82\xa0\n\xff\r"),
              "\xe3\x81\x82\r\n\xe3\x81\x82\n\xef\xbf\xbd\r");
}
