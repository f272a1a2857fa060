#include "ftp/engine/NameCodec.h"
#include "localfs/TextCodec.h"

#include <gtest/gtest.h>

#include <random>

using namespace std::string_literals;
using oxlip::IsValidUtf8;
using oxlip::ftp::EscapeInvalidUtf8;
using oxlip::ftp::HasByteEscape;
using oxlip::ftp::NameCodec;
using oxlip::ftp::UnescapeBytes;

namespace {

const std::string kNihonUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC"; // 日本 in UTF-8
const std::string kNihonCp932 = "\x93\xFA\x96\x7B";        // 日本 in CP932
const std::string kSoCp932 = "\x83\x5C";                   // ソ: a trail byte that is "\"
const std::string kSoUtf8 = "\xE3\x82\xBD";                // ソ in UTF-8
const std::string kNeither = "bad\x81";                    // a lone CP932 lead byte
const std::string kEscapeRangeUtf8 = "\xEF\x9E\x80";       // U+F780, valid UTF-8
const std::string kEmoji = "\xF0\x9F\x98\x80";             // no CP932 form

} // namespace

TEST(NameCodec, Utf8ServerKeepsValidNamesAndEscapesTheRest) {
    NameCodec codec(true);
    EXPECT_EQ(codec.Decode(kNihonUtf8 + ".txt"), kNihonUtf8 + ".txt");
    const std::string decoded = codec.Decode(kNihonCp932); // kept reversibly
    EXPECT_TRUE(HasByteEscape(decoded));
    EXPECT_EQ(codec.Encode("/pub/" + decoded + "/" + kNihonUtf8),
              "/pub/" + kNihonCp932 + "/" + kNihonUtf8);
    EXPECT_FALSE(codec.ServerNamesCp932());
}

TEST(NameCodec, NamesOfANonUtf8ServerGoBackInTheEncodingTheyCameIn) {
    NameCodec codec(false);
    // One folder holding a CP932 name, a UTF-8 name and a name that is neither.
    const std::string cp932 = codec.Decode(kNihonCp932 + ".txt");
    const std::string so = codec.Decode(kSoCp932);
    const std::string utf8 = codec.Decode(kSoUtf8 + "-utf8");
    EXPECT_EQ(cp932 + so + utf8, kNihonUtf8 + ".txt" + kSoUtf8 + kSoUtf8 + "-utf8");
    EXPECT_TRUE(codec.ServerNamesCp932());
    EXPECT_EQ(codec.Encode("/" + so + "/" + cp932 + "/" + utf8 + "/" + codec.Decode(kNeither)),
              "/" + kSoCp932 + "/" + kNihonCp932 + ".txt/" + kSoUtf8 + "-utf8/" + kNeither);
    // A path the server sent (a PWD answer) decodes part by part as well.
    EXPECT_EQ(codec.Decode("/" + kNihonCp932 + "/sub/"), "/" + kNihonUtf8 + "/sub/");
}

TEST(NameCodec, NewNamesFollowWhatTheServerHasShown) {
    NameCodec codec(false);
    EXPECT_EQ(codec.Encode("/new/" + kNihonUtf8), "/new/" + kNihonUtf8); // nothing seen yet
    codec.Decode(kSoCp932);
    EXPECT_EQ(codec.Encode("/new/" + kNihonUtf8), "/new/" + kNihonCp932);
    EXPECT_EQ(codec.Encode(kNihonUtf8 + kEmoji), kNihonUtf8 + kEmoji); // no CP932 form
    codec.SetServerUtf8(true); // a UTF-8 server never gets CP932
    EXPECT_EQ(codec.Encode(kNihonUtf8), kNihonUtf8);
}

TEST(NameCodec, TwoNamesThatLookAlikeStayApart) {
    NameCodec codec(false);
    const std::string first = codec.Decode(kNihonUtf8);
    const std::string second = codec.Decode(kNihonCp932);
    EXPECT_NE(first, second);
    EXPECT_EQ(codec.Encode(first + "/" + second), kNihonUtf8 + "/" + kNihonCp932);
    // Valid UTF-8 for a code point used by the escapes is not mistaken for an escape.
    NameCodec utf8(true);
    const std::string escaped = utf8.Decode(kEscapeRangeUtf8);
    EXPECT_NE(escaped, utf8.Decode("\x80"s));
    EXPECT_EQ(utf8.Encode(escaped), kEscapeRangeUtf8);
}

TEST(NameCodec, AnyBytesComeBackExactly) {
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string raw(random() % 12, '\0');
        for (char& c : raw) { // mostly high bytes, some ASCII and "/" to exercise paths
            const unsigned v = random() % 260;
            c = v >= 256 ? '/' : char(v);
        }
        for (bool serverUtf8 : {true, false}) {
            NameCodec codec(serverUtf8);
            const std::string decoded = codec.Decode(raw);
            ASSERT_TRUE(IsValidUtf8(decoded)) << round;
            ASSERT_EQ(codec.Encode(decoded), raw) << round;
        }
        ASSERT_EQ(UnescapeBytes(EscapeInvalidUtf8(raw)), raw) << round;
    }
}
