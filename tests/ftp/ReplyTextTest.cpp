#include "ftp/engine/ReplyText.h"
#include "ftp/engine/Capabilities.h"
#include "ftp/engine/Reply.h"
#include "localfs/TextHelpers.h"

#include <gtest/gtest.h>

using namespace std::string_literals;
using namespace oxlip;
using namespace oxlip::ftp;

TEST(ReplyText, SafeToSendRefusesLineEndsAndNul) {
    for (const std::string& good : {"name with blanks.txt"s, "\xE6\x97\xA5\xE6\x9C\xAC"s, ""s}) {
        EXPECT_TRUE(IsSafeForCommand(good)) << good;
    }
    for (const std::string& bad : {"a\r"s, "a\nDELE b"s, "a\0b"s, "\r\n"s}) {
        EXPECT_FALSE(IsSafeForCommand(bad)) << bad;
    }
}

TEST(ReplyText, PassivePorts) {
    const struct {
        const char* text;
        uint16_t epsv;
        uint16_t pasv;
    } rows[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", 6446, 0},
        {"229 ok (!!!21!)", 21, 0},
        {"229 (|||65536|)", 0, 0},   // out of range
        {"229 (|||0|)", 0, 0},       // no port 0
        {"229 (1112221)", 0, 0},     // a digit is no delimiter
        {"229 (|||12|", 0, 0},       // no closing parenthesis
        {"229 (||6446|)", 0, 0},     // two delimiters only
        {"229 (|||1234567|)", 0, 0}, // too many digits
        {"227 Entering Passive Mode (127,0,0,1,200,10)", 0, 200 * 256 + 10},
        {"227 =127,0,0,1,0,21", 0, 21},    // no parentheses
        {"227 (127,0,0,1,256,10)", 0, 0},  // a number past 255
        {"227 (127,0,0,1,0,0)", 0, 0},     // port 0
        {"227 (127,0,0,1,200)", 0, 0},     // five numbers
        {"227 (1270,0,0,1,200,10)", 0, 0}, // a number of four digits
        {"", 0, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ParseEpsvPort(row.text), row.epsv) << row.text;
        EXPECT_EQ(ParsePasvPort(row.text), row.pasv) << row.text;
    }
}

TEST(ReplyText, QuotedPaths) {
    const struct {
        const char* text;
        std::optional<std::string> path;
    } rows[] = {
        {"257 \"/home/web\" is the current directory", "/home/web"},
        {"257 \"/a \"\"quoted\"\" name\" created", "/a \"quoted\" name"},
        {"257 \"\"", ""},
        {"257 \"/unclosed", std::nullopt},
        {"257 no quotes", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ParseQuotedPath(row.text), row.path) << row.text;
    }
}

TEST(ReplyText, MdtmTimes) {
    EXPECT_EQ(ParseMdtm("20240601123045")->ticks, FileTimeFromCivil(2024, 6, 1, 12, 30, 45).ticks);
    EXPECT_EQ(ParseMdtm("  20240601123045.123")->ticks,
              FileTimeFromCivil(2024, 6, 1, 12, 30, 45).ticks);
    for (const char* bad : {"2024060112304", "20241301000000", "20240600000000", "20240601240000",
                            "2024x601123045", ""}) {
        EXPECT_FALSE(ParseMdtm(bad)) << bad;
    }
}

TEST(ReplyText, FeatLinesMakeTheCapabilities) {
    EXPECT_FALSE(ParseFeatLine("   "));
    EXPECT_FALSE(ParseFeatLine("211 End")); // a line with a code names no feature
    const auto mlst = ParseFeatLine(" mlst type*;Size*;modify*;");
    ASSERT_TRUE(mlst);
    EXPECT_EQ(mlst->keyword, "MLST");
    EXPECT_EQ(mlst->params, "type*;Size*;modify*;");

    ReplyParser parser;
    parser.feed("211-Features:\r\n UTF8\r\n MLST type*;size*;UNIX.mode*;\r\n EPSV\r\n"
                "211 End\r\n");
    ServerCapabilities caps;
    caps.readFeat(parser.next());
    EXPECT_EQ(caps.features, (std::set<std::string>{"UTF8", "MLST", "EPSV"}));
    EXPECT_TRUE(caps.has("MLST"));
    EXPECT_EQ(caps.mlstFactsWanted(), "type;size;unix.mode;");
    EXPECT_EQ(ServerCapabilities{}.mlstFactsWanted(), "");
}
