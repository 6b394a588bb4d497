#include "core/platform/text.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

class Utf16RoundTrip : public ::testing::TestWithParam<std::u16string> {};

TEST_P(Utf16RoundTrip, ComesBackUnchanged) {
    std::string utf8 = utf16ToUtf8(GetParam());
    EXPECT_TRUE(isWtf8(utf8));
    EXPECT_EQ(utf8ToUtf16(utf8), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Strings, Utf16RoundTrip,
                         ::testing::Values(u"", u"ARROW_1", u"中文名称", std::u16string(u"a\0b", 3),
                                           u"\U0001F600 pair", std::u16string(1, u'\xD800'),
                                           std::u16string(1, u'\xDFFF'),
                                           std::u16string{u'x', 0xDC00, 0xD800, u'y'},
                                           std::u16string{0xD83D, 0xD83D, 0xDE00}, std::u16string{0xDBFF}));

TEST(Utf16ToUtf8, WritesLoneSurrogatesAsThreeBytes) {
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, u'\xD800')), "\xED\xA0\x80");
    EXPECT_EQ(utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(IsWtf8, RefusesMalformedSequences) {
    EXPECT_TRUE(isWtf8("\xED\xA0\x80"));
    EXPECT_FALSE(isWtf8("\xED\xA0\xBD\xED\xB8\x80"));  // a pair spelled as two surrogates
    EXPECT_FALSE(isWtf8("\xC0\xAF"));                  // overlong '/'
    EXPECT_FALSE(isWtf8("\xE0\x80\xAF"));
    EXPECT_FALSE(isWtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isWtf8("\xE4\xB8"));          // cut short
    EXPECT_FALSE(isWtf8("\xD6\xD0"));
}

TEST(Utf8ToUtf16, FallsBackToCp936) {
    EXPECT_EQ(utf8ToUtf16("\xD6\xD0\xCE\xC4.bmp"), u"中文.bmp");
    EXPECT_EQ(cp936ToUtf16("\x80"), u"\u20AC");
    EXPECT_EQ(storedTextToUtf8("\xB1\xED"), "表");
    EXPECT_EQ(storedTextToUtf8("plain \xE8\xA1\xA8"), "plain \xE8\xA1\xA8");
    // Bytes not even CP936 can read become replacement characters, one per byte; nothing is lost
    // around them.
    EXPECT_EQ(utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(utf8ToUtf16("\xD6\xD0\xD6"), u"中\uFFFD");
}

}  // namespace
}  // namespace kestrel
