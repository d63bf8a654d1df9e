#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, Utf8RoundTripIncludingChineseAndAstralPlane) {
    const std::u16string wide = u"伺服管理软件 P00.01 \U0001F600";
    const std::string utf8 = platform::toUtf8(wide);
    EXPECT_TRUE(platform::isValidUtf8(utf8));
    EXPECT_EQ(platform::fromUtf8(utf8), wide);
    EXPECT_EQ(platform::narrowToWide(utf8), wide);
    EXPECT_EQ(platform::wideToNarrow(wide), utf8);
}

TEST(Text, InvalidUtf8IsDecodedAsGb18030) {
    // "驱动" in GB18030 (C7 FD B6 AF) is not valid UTF-8.
    const std::string gb("\xC7\xFD\xB6\xAF", 4);
    EXPECT_FALSE(platform::isValidUtf8(gb));
    EXPECT_EQ(platform::narrowToWide(gb), u"驱动");
}

TEST(Text, MalformedBytesNeverThrowAndBecomeReplacementCharacters) {
    EXPECT_FALSE(platform::isValidUtf8("\xC0\x80"));      // overlong
    EXPECT_FALSE(platform::isValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(platform::isValidUtf8("\xE4\xBD"));      // truncated
    EXPECT_EQ(platform::fromUtf8("a\xFF"), u"a\uFFFD");
    // A lone lead byte at the end is not a complete GB18030 character either.
    const std::u16string w = platform::narrowToWide(std::string("AB\x81", 3));
    EXPECT_EQ(w.substr(0, 2), u"AB");
    EXPECT_EQ(w.size(), 3u);
    EXPECT_EQ(platform::toUtf8(std::u16string(1, char16_t(0xD800))), "?");
}

}  // namespace
