// Pure parts of the engine: control replies, what is read from them, and ASCII line ends.

#include "ftp/engine/AsciiMode.h"
#include "ftp/engine/Capabilities.h"
#include "ftp/engine/Reply.h"
#include "ftp/engine/ReplyText.h"
#include "localfs/TextHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace oxlip::ftp {
namespace {

// The replies the parser holds, after those in out.
std::vector<Reply> ParseAll(ReplyParser& parser, std::vector<Reply> out = {}) {
    while (parser.hasReply()) {
        out.push_back(parser.next());
    }
    return out;
}

// Replies fed in one read as "code:text" ("!" when the parser failed).
TEST(ReplyParser, RepliesInOneReadAndGarbage) {
    const std::pair<std::string, std::string> rows[] = {
        {"220 ready\r\n331 password\r\n230 in\r\n", "220:220 ready 331:331 password 230:230 in "},
        {"200\n\r\n\n250 ok\n", "200:200 250:250 ok "},
        {"200 a\0b\r\n"s, "200:200 a?b "},
        {"hello\r\n", "!"},
        {"22 short\r\n", "!"},
        {"2200 long code\r\n", "!"},
        {"620 bad\r\n", "!"}};
    for (const auto& [bytes, expected] : rows) {
        ReplyParser parser;
        parser.feed(bytes);
        std::string got = parser.failed() ? "!" : "";
        for (const Reply& reply : ParseAll(parser)) {
            got += std::to_string(reply.code) + ":" + reply.text() + " ";
        }
        EXPECT_EQ(got, expected) << bytes;
    }
    EXPECT_EQ(ReplyCodeOf("421 bye"), 421);
    EXPECT_EQ(ReplyCodeOf("42"), 0);
}

TEST(ReplyParser, MultiLineEndsOnlyAtSameCodeAndBlank) {
    const std::string reply = "211-Features:\r\n MLST type*;size*;\r\n211-still inside\r\n"
                              "211\tstill inside too\r\n2115 not the end\r\n226 another code\r\n"
                              "211x no\r\nplain text line\r\n211 End\r\n200 next\r\n";
    ReplyParser bytewise;
    std::vector<Reply> split;
    for (char c : reply) {
        bytewise.feed(&c, 1);
        split = ParseAll(bytewise, std::move(split));
    }
    ReplyParser whole;
    whole.feed(reply);
    for (const auto& replies : {ParseAll(whole), split}) {
        ASSERT_EQ(replies.size(), 2u);
        EXPECT_EQ(replies[0].lines.size(), 9u);
        EXPECT_EQ(replies[1].code, 200);
    }
}

TEST(ReplyParser, RepliesOfTooManyLinesOrBytesAreProtocolErrors) {
    // count replies of `lines` lines of `width` bytes, taken at once or left waiting, then
    // "200 next": how many replies come out in all.
    struct Case {
        const char* what;
        std::size_t lines, width, count;
        bool take, fails;
        std::size_t replies;
    } const cases[] = {
        {"too many lines", kMaxReplyLines + 5, 5, 1, true, true, 0},
        {"5 MiB in 5,000 lines", 5000, 1024, 1, true, true, 0},
        {"just under the byte bound", 63, 64 * 1024, 1, true, false, 2},
        {"16 MiB taken reply by reply", 63, 64 * 1024, 4, true, false, 5},
        {"8 MiB left waiting", 63, 64 * 1024, 2, false, true, 1},
    };
    for (const Case& c : cases) {
        ReplyParser parser;
        const std::string inner = " " + std::string(c.width - 1, 'x') + "\r\n";
        std::size_t replies = 0;
        for (std::size_t n = 0; n < c.count; ++n) {
            parser.feed("250-start\r\n");
            for (std::size_t i = 2; i < c.lines && !parser.failed(); ++i) {
                parser.feed(inner);
            }
            parser.feed("250 end\r\n");
            replies += c.take ? ParseAll(parser).size() : 0;
        }
        EXPECT_EQ(parser.failed(), c.fails) << c.what;
        parser.feed("200 next\r\n"); // nothing more is parsed after a failure
        EXPECT_EQ(replies + ParseAll(parser).size(), c.replies) << c.what;
    }
}

TEST(ReplyParser, OverlongLinesAreCut) {
    ReplyParser parser;
    parser.feed("500 " + std::string(1024 * 1024, 'x') + "\r\n");
    EXPECT_EQ(parser.next().lines[0].size(), kMaxReplyLine);
    ReplyParser endless; // a line that never ends keeps memory bounded
    for (int i = 0; i < 64; ++i) {
        endless.feed("220 " + std::string(64 * 1024, 'y'));
    }
    endless.feed("\r\n");
    ASSERT_TRUE(endless.hasReply());
    EXPECT_EQ(endless.next().lines[0].size(), kMaxReplyLine);
}

TEST(ReplyText, SafeToSendRefusesLineEndsAndNul) {
    for (const std::string& bad : {"a\r"s, "a\nDELE b"s, "a\0b"s}) {
        EXPECT_FALSE(IsSafeForCommand(bad)) << bad;
    }
}

TEST(ReplyText, PortsPathsAndTimes) {
    EXPECT_EQ(ParseEpsvPort("229 Entering Extended Passive Mode (|||6446|)"), 6446);
    EXPECT_EQ(ParseEpsvPort("229 ok (!!!21!)"), 21);
    EXPECT_EQ(ParsePasvPort("227 Entering Passive Mode (127,0,0,1,200,10)"), 200 * 256 + 10);
    EXPECT_EQ(ParsePasvPort("227 =127,0,0,1,0,21"), 21); // no parentheses
    // Out of range, port 0, a digit as delimiter, no closing parenthesis, two delimiters; a
    // number past 255, port 0, five numbers; and each form to the other parser.
    for (const char* bad :
         {"229 (|||65536|)", "229 (|||0|)", "229 (1112221)", "229 (|||12|", "229 (||6446|)",
          "227 (127,0,0,1,256,10)", "227 (127,0,0,1,0,0)", "227 (127,0,0,1,200)", ""}) {
        EXPECT_EQ(ParseEpsvPort(bad) + ParsePasvPort(bad), 0) << bad;
    }
    EXPECT_EQ(ParsePasvPort("229 (|||6446|)") + ParseEpsvPort("227 (127,0,0,1,200,10)"), 0);

    const std::pair<const char*, const char*> paths[] = {
        {"257 \"/home/web\" is the current directory", "/home/web"},
        {"257 \"/a \"\"quoted\"\" name\" created", "/a \"quoted\" name"},
        {"257 \"\"", ""},
        {"257 \"/unclosed", nullptr},
        {"257 no quotes", nullptr},
    };
    for (const auto& [text, path] : paths) {
        EXPECT_EQ(ParseQuotedPath(text), path ? std::optional<std::string>(path) : std::nullopt)
            << text;
    }

    EXPECT_EQ(ParseMdtm("  20240601123045.123")->ticks,
              FileTimeFromCivil(2024, 6, 1, 12, 30, 45).ticks);
    for (const char* bad : {"2024060112304", "20241301000000", "20240600000000", "20240601240000",
                            "2024x601123045", ""}) {
        EXPECT_FALSE(ParseMdtm(bad)) << bad;
    }
}

TEST(ReplyText, FeatLinesMakeTheCapabilities) {
    ReplyParser parser;
    parser.feed("211-Features:\r\n utf8\r\n   \r\n mlst type*;Size*;UNIX.mode*;\r\n EPSV\r\n"
                "211 End\r\n");
    ServerCapabilities caps;
    caps.readFeat(parser.next());
    EXPECT_EQ(caps.features, (std::set<std::string>{"UTF8", "MLST", "EPSV"}));
    EXPECT_EQ(caps.mlstFactsWanted(), "type;size;unix.mode;");
    EXPECT_EQ(ServerCapabilities{}.mlstFactsWanted(), "");
}

std::string Decode(const std::vector<std::string>& blocks) {
    AsciiDecoder decoder;
    std::string out;
    for (std::string block : blocks) {
        bool carry = false;
        std::size_t n = decoder.decode(block.data(), block.size(), carry);
        if (carry) {
            out += '\r';
        }
        out.append(block.data(), n);
    }
    if (decoder.finish()) {
        out += '\r';
    }
    return out;
}

std::string Encode(const std::vector<std::string>& blocks) {
    AsciiEncoder encoder;
    std::string out;
    for (const std::string& block : blocks) {
        std::string buf(2 * block.size(), '\0');
        out.append(buf.data(), encoder.encode(block.data(), block.size(), buf.data()));
    }
    return out;
}

// Download turns CR LF into LF, upload bare LF into CR LF, also across blocks.
TEST(AsciiMode, LineEndsAcrossBlocks) {
    EXPECT_EQ(Decode({"a\r", "\nb"}), "a\nb");       // split line end
    EXPECT_EQ(Decode({"a\r", "b"}), "a\rb");         // lone CR at a block end
    EXPECT_EQ(Decode({"a\r", "\r", "\n"}), "a\r\n"); // CR CR LF
    EXPECT_EQ(Decode({"end\r"}), "end\r");           // final CR kept
    EXPECT_EQ(Decode({"a\r", "", "\nb"}), "a\nb");   // empty block in between
    EXPECT_EQ(Encode({"a\r", "\nb"}), "a\r\nb");     // split CR LF stays
    EXPECT_EQ(Encode({"a\r", "b\n"}), "a\rb\r\n");   // lone CR stays
    EXPECT_EQ(Encode({"\n", "\n"}), "\r\n\r\n");
}

} // namespace
} // namespace oxlip::ftp
