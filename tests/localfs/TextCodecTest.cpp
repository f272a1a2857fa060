#include "localfs/TextCodec.h"

#include <gtest/gtest.h>

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
    const std::string damaged = "[\xe6\x8e\xa5]\r\n\x90\n\xe0\x84\r\n";
    EXPECT_TRUE(oxlip::IsValidUtf8(DecodeUtf8OrCp932(damaged)));
    EXPECT_EQ(DecodeUtf8OrCp932(DecodeUtf8OrCp932(damaged)), DecodeUtf8OrCp932(damaged));
}
