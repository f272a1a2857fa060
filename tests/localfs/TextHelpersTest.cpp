#include "localfs/TextHelpers.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace oxlip;
using namespace std::string_literals;

TEST(TrimAtNul, CutsAtTheFirstNul) {
    EXPECT_EQ(TrimAtNul("abc\0def\0"s), "abc");
    EXPECT_EQ(TrimAtNul("\0abc"s), "");
    EXPECT_EQ(TrimAtNul("abc"), "abc");
    EXPECT_EQ(TrimAtNul(""), "");
    EXPECT_EQ(TrimAtNul(std::string(260, '\0')), "");
}

TEST(FormatSizeKB, WholeKilobytesGroupedByThousands) {
    const struct {
        int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0KB"},
        {-1, "0KB"},
        {-2147483648LL, "0KB"},
        {1, "1KB"},
        {1023, "1KB"},
        {1024, "1KB"},
        {2047, "1KB"},
        {2048, "2KB"},
        {1048575, "1,023KB"},
        {1048576, "1,024KB"},
        {2147483647, "2,097,151KB"},
        {1024 * 999, "999KB"},
        {1024 * 1000, "1,000KB"},
        {1024 * 1000000LL, "1,000,000KB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSizeKB(c.bytes), c.text) << c.bytes;
    }
}

TEST(FormatSizeKB, SizesBeyondFourGigabytesDoNotWrap) {
    EXPECT_EQ(FormatSizeKB(2147483648LL), "2,097,152KB");
    EXPECT_EQ(FormatSizeKB(4294967296LL), "4,194,304KB");
    EXPECT_EQ(FormatSizeKB(5000000000LL), "4,882,812KB");
    EXPECT_EQ(FormatSizeKB(INT64_MAX), "9,007,199,254,740,991KB");
}

TEST(FormatFileTime, DateBlankTimeWithoutLeadingZeroOnTheHour) {
    EXPECT_EQ(FormatFileTime(FileTimeFromCivil(2003, 4, 5, 9, 5, 7)), "2003/04/05 9:05:07");
    EXPECT_EQ(FormatFileTime(FileTimeFromCivil(2003, 4, 5, 0, 0, 0)), "2003/04/05 0:00:00");
    EXPECT_EQ(FormatFileTime(FileTimeFromCivil(1999, 12, 31, 23, 59, 59)), "1999/12/31 23:59:59");
    EXPECT_EQ(FormatFileTime(FileTimeFromCivil(2024, 2, 29, 12, 0, 0)), "2024/02/29 12:00:00");
    // Fractions of a second never show.
    FileTime t = FileTimeFromCivil(2003, 4, 5, 9, 5, 7);
    t.ticks += 9999999;
    EXPECT_EQ(FormatFileTime(t), "2003/04/05 9:05:07");
}

TEST(FormatFileTime, TheWholeRange) {
    EXPECT_EQ(FormatFileTime(FileTime{0}), "1601/01/01 0:00:00");
    EXPECT_EQ(FormatFileTime(FileTimeFromUnix(0)), "1970/01/01 0:00:00");
    EXPECT_EQ(FormatFileTime(FileTimeFromCivil(9999, 12, 31, 23, 59, 59)), "9999/12/31 23:59:59");
    // No four-digit year past 9999: the text stays empty.
    EXPECT_EQ(FormatFileTime(FileTimeFromCivil(10000, 1, 1, 0, 0, 0)), "");
    EXPECT_EQ(FormatFileTime(FileTime{UINT64_MAX}), "");
}

TEST(FileTime, UnixConversions) {
    EXPECT_EQ(FileTimeFromUnix(0).ticks, kFileTimeUnixEpoch);
    EXPECT_EQ(FileTimeFromUnix(1, 500).ticks, kFileTimeUnixEpoch + 10000005);
    EXPECT_EQ(UnixFromFileTime(FileTimeFromUnix(1049533507)), 1049533507);
    EXPECT_EQ(UnixFromFileTime(FileTimeFromUnix(-86400)), -86400);
    EXPECT_EQ(FileTimeFromCivil(2003, 4, 5, 9, 5, 7), FileTimeFromUnix(1049533507));
    EXPECT_EQ(FileTimeFromCivil(1601, 1, 1, 0, 0, 0).ticks, 0u);
    // Before 1601 there is nothing earlier to give than the start.
    EXPECT_EQ(FileTimeFromCivil(1600, 12, 31, 23, 59, 59).ticks, 0u);
    EXPECT_EQ(FileTimeFromUnix(INT64_MIN).ticks, 0u);
    EXPECT_EQ(FileTimeFromUnix(INT64_MAX).ticks, UINT64_MAX);
}

// Sets TZ for one test and puts the old value back.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

TEST(FileTime, LocalTimeUsesTheOffsetOfThatMoment) {
    {
        ZoneScope zone("JST-9");
        EXPECT_EQ(FileTimeToLocalFileTime(FileTimeFromCivil(2003, 4, 5, 0, 5, 7)),
                  FileTimeFromCivil(2003, 4, 5, 9, 5, 7));
    }
    {
        // Central Europe: one hour ahead in winter, two in summer.
        ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(FileTimeToLocalFileTime(FileTimeFromCivil(2023, 1, 15, 12, 0, 0)),
                  FileTimeFromCivil(2023, 1, 15, 13, 0, 0));
        EXPECT_EQ(FileTimeToLocalFileTime(FileTimeFromCivil(2023, 7, 15, 12, 0, 0)),
                  FileTimeFromCivil(2023, 7, 15, 14, 0, 0));
    }
    {
        // West of Greenwich near the start of the range: no wrap-around.
        ZoneScope zone("EST5");
        EXPECT_EQ(FileTimeToLocalFileTime(FileTime{0}).ticks, 0u);
    }
}

TEST(GetExtension, TextAfterTheLastDotAnywhere) {
    EXPECT_EQ(GetExtension("readme.txt"), "txt");
    EXPECT_EQ(GetExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(GetExtension("Makefile"), "");
    EXPECT_EQ(GetExtension(".profile"), "profile");
    EXPECT_EQ(GetExtension("name."), "");
    EXPECT_EQ(GetExtension("C:\\my.docs\\Makefile"), "docs\\Makefile");
    EXPECT_EQ(GetExtension("/home/my.docs/Makefile"), "docs/Makefile");
    EXPECT_EQ(GetExtension("Photo.JPG"), "JPG");
    EXPECT_EQ(GetExtension(""), "");
}

struct PathRow {
    const char* path;
    char separator;
    const char* name;
    const char* parent;
};

TEST(PathHelpers, NameAndParentTable) {
    const PathRow rows[] = {
        {"C:\\tmp\\readme.txt", '\\', "readme.txt", "C:\\tmp\\"},
        {"C:\\work\\sub\\", '\\', "", "C:\\work\\"},
        {"C:\\work\\sub", '\\', "sub", "C:\\work\\"},
        {"C:\\work\\", '\\', "", "C:\\"},
        {"C:\\", '\\', "", "C:\\"},
        {"C:", '\\', "", "C:\\"},
        {"readme.txt", '\\', "", "readme.txt\\"},
        {"", '\\', "", "\\"},
        {"/pub/incoming/", '/', "", "/pub/"},
        {"/pub/a.txt", '/', "a.txt", "/pub/"},
        {"/pub/", '/', "", "/"},
        {"/", '/', "", "/"},
        {"pub/", '/', "", "pub/"},
        {"", '/', "", "/"},
        // Local paths on this system.
        {"/home/user/readme.txt", '/', "readme.txt", "/home/user/"},
        {"/home/user/sub/", '/', "", "/home/user/"},
        {"/home/user/sub", '/', "sub", "/home/user/"},
        {"/home/", '/', "", "/"},
        {"readme.txt", '/', "", "readme.txt/"},
        // The separator is the one given: the other one is an ordinary character.
        {"/pub/a\\b", '\\', "b", "/pub/a\\"},
        {"C:\\a/b", '/', "b", "C:\\a/"},
    };
    for (const PathRow& row : rows) {
        EXPECT_EQ(GetNamePart(row.path, row.separator), row.name)
            << row.path << " " << row.separator;
        EXPECT_EQ(GetParentPath(row.path, row.separator), row.parent)
            << row.path << " " << row.separator;
    }
}

TEST(PathHelpers, AncestorChainEndsAtTheRoot) {
    std::string path = "/a/b/c/";
    std::vector<std::string> chain{path};
    for (int i = 0; i < 10; ++i) {
        const std::string parent = GetParentPath(path, '/');
        if (parent == path) {
            break;
        }
        chain.push_back(parent);
        path = parent;
    }
    EXPECT_EQ(chain, (std::vector<std::string>{"/a/b/c/", "/a/b/", "/a/", "/"}));
}

struct WildcardCase {
    const char* name;
    const char* pattern;
    bool matches;
};

template <size_t N> void ExpectMatches(const WildcardCase (&cases)[N]) {
    for (const WildcardCase& c : cases) {
        EXPECT_EQ(MatchesWildcard(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
    }
}

TEST(MatchesWildcard, StarAndQuestionMark) {
    const WildcardCase cases[] = {
        {"readme.txt", "*.*", true},
        {"Makefile", "*.*", true},
        {".", "*.*", true},
        {"..", "*.*", true},
        {"", "*", true},
        {"anything", "*", true},
        {"readme.txt", "*.txt", true},
        {"readme.txt.bak", "*.txt", false},
        {"a.txt.txt", "*.txt", true},
        {"readme.TXT", "*.txt", false},
        {"file1.log", "file?.log", true},
        {"file12.log", "file?.log", false},
        {"file.log", "file?.log", false},
        {"abcbcd", "a*bcd", true},
        {"aXbYc", "a*b*c", true},
        {"aXbY", "a*b*c", false},
        {"exact", "exact", true},
        {"exact", "Exact", false},
        {"exactly", "exact", false},
        {"name", "", false},
        {"", "", true},
        {"名前.txt", "*.txt", true},
    };
    ExpectMatches(cases);
    // A long name against many stars stays quick (no exponential backtracking).
    EXPECT_FALSE(MatchesWildcard(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*b"));
}

TEST(MatchesWildcard, QuestionMarkIsOneCharacterNotOneByte) {
    const WildcardCase cases[] = {
        {"日記.txt", "??.txt", true},      {"日記.txt", "?.txt", false},
        {"日記.txt", "??????.txt", false}, {"aé", "*?", true},
        {"写真1.jpg", "写真?.jpg", true},
    };
    ExpectMatches(cases);
}
