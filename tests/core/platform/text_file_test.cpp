#include "core/platform/text_file.h"

#include <gtest/gtest.h>

#include "core/errors/errors.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::toBytes;

std::vector<std::byte> encode(std::u16string_view text, const DecodedText& format) {
    std::vector<std::byte> out;
    EXPECT_EQ(EncodeTextFile(text, format, out), kOk);
    return out;
}

struct RoundTripCase {
    const char* name;
    std::string_view bytes;
    bool wide;
    TextEncoding encoding;
    bool bom;
    std::u16string_view text;
};

class TextFileRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// Each file is read as expected and written back byte for byte.
TEST_P(TextFileRoundTrip, KeepsEveryByte) {
    const RoundTripCase& c = GetParam();
    DecodedText decoded = DecodeTextFile(toBytes(c.bytes), c.wide);
    EXPECT_EQ(decoded.encoding, c.encoding);
    EXPECT_EQ(decoded.bom, c.bom);
    EXPECT_EQ(decoded.text, c.text);
    EXPECT_EQ(encode(decoded.text, decoded), toBytes(c.bytes));
}

using namespace std::string_view_literals;
INSTANTIATE_TEST_SUITE_P(
    Files, TextFileRoundTrip,
    ::testing::Values(
        RoundTripCase{"IniWithBom", "\xFF\xFE[\0a\0]\0\r\0\n\0"sv, true, TextEncoding::kUtf16Le, true,
                      u"[a]\n"},
        // No mark, a NUL and a lone surrogate inside, an odd last byte.
        RoundTripCase{"IniWithoutBom", "k\0\0\0\x00\xD8=\0\n\0\x7F"sv, true, TextEncoding::kUtf16Le, false,
                      u"k\0\xD800=\n"sv},
        RoundTripCase{"MarkedUtf16", "\xFF\xFEx\0\xFE"sv, false, TextEncoding::kUtf16Le, true, u"x"},
        RoundTripCase{"EmptyIni", ""sv, true, TextEncoding::kUtf16Le, false, u""},
        RoundTripCase{"Empty", ""sv, false, TextEncoding::kUtf8, false, u""},
        RoundTripCase{"Utf8WithBom", "\xEF\xBB\xBF<a>\xE4\xB8\xAD</a>\n"sv, false, TextEncoding::kUtf8, true,
                      u"<a>中</a>\n"},
        RoundTripCase{"Utf8WithNul", "a\0\xF0\x9F\x98\x80\rb\r"sv, false, TextEncoding::kUtf8, false,
                      u"a\0\U0001F600\nb\n"sv},
        RoundTripCase{"Cp936", "\xD6\xD0\xCE\xC4\r\n\x80"sv, false, TextEncoding::kCp936, false, u"中文\n€"},
        // Overlong, encoded surrogate, above U+10FFFF, no lead byte, cut short: every byte carried as an
        // escape (0xFF also rules out GBK).
        RoundTripCase{"InvalidUtf8", "a\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xFF\xE4\xB8"sv, false,
                      TextEncoding::kUtf8Escaped, false,
                      u"a\xDCC0\xDCAF\xDCED\xDCA0\xDC80\xDCF4\xDC90\xDC80\xDC80\xDCFF\xDCE4\xDCB8"},
        // After a UTF-8 mark, GBK bytes are not read as GBK.
        RoundTripCase{"MarkedUtf8WithGbk", "\xEF\xBB\xBF\xD6\xD0\xE4\xB8\xAD"sv, false,
                      TextEncoding::kUtf8Escaped, true, u"\xDCD6\xDCD0中"}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

TEST(DecodeTextFile, PrefersUtf8AndTakesOnlyExactGbk) {
    // Valid as both: UTF-8 wins.
    EXPECT_EQ(DecodeTextFile(toBytes("caf\xC3\xA9"), false).encoding, TextEncoding::kUtf8);
    EXPECT_EQ(DecodeTextFile(toBytes("caf\xC3\xA9"), false).text, u"café");
    // Not GBK: 0xFF is no lead byte; a lead byte at the end is incomplete.
    for (std::string_view bytes : {"\xD6\xD0\xFF", "\xD6\xD0\xD6"}) {
        DecodedText decoded = DecodeTextFile(toBytes(bytes), false);
        EXPECT_EQ(decoded.encoding, TextEncoding::kUtf8Escaped);
        EXPECT_EQ(decoded.text.substr(0, 2), u"\xDCD6\xDCD0");
    }
}

TEST(EncodeTextFile, CarriesInvalidBytesThroughAnEdit) {
    DecodedText decoded = DecodeTextFile(toBytes("key=\xFF\xFEvalue\r\nname=\xD6\xD0\xFF\r\n"), false);
    ASSERT_EQ(decoded.encoding, TextEncoding::kUtf8Escaped);
    std::u16string edited = decoded.text;
    edited.replace(0, 3, u"clé");
    edited += u"new=中\n";
    EXPECT_EQ(encode(edited, decoded),
              toBytes("cl\xC3\xA9=\xFF\xFEvalue\r\nname=\xD6\xD0\xFF\r\nnew=\xE4\xB8\xAD\r\n"));

    // A lone surrogate that carries no byte cannot be written, in either UTF-8 mode.
    std::vector<std::byte> out = toBytes("untouched");
    for (TextEncoding encoding : {TextEncoding::kUtf8Escaped, TextEncoding::kUtf8}) {
        decoded.encoding = encoding;
        ClearErrorRecord();
        EXPECT_EQ(EncodeTextFile(u"a\nb\xD800", decoded, out), kFail);
        EXPECT_EQ(out, toBytes("untouched"));
        ASSERT_TRUE(PeekErrorRecord().has_value());
        EXPECT_NE(PeekErrorRecord()->description.find("U+D800"), std::string::npos);
        EXPECT_NE(PeekErrorRecord()->description.find("第 2 行"), std::string::npos);
    }
    ClearErrorRecord();
}

TEST(EncodeTextFile, WritesTheDominantLineEnd) {
    DecodedText decoded = DecodeTextFile(toBytes("a\r\nb\nc\nd\re"), false);
    EXPECT_EQ(decoded.text, u"a\nb\nc\nd\ne");
    EXPECT_EQ(decoded.lineEnd, LineEnd::kLf);
    EXPECT_EQ(encode(decoded.text, decoded), toBytes("a\nb\nc\nd\ne"));

    // CR then CR LF is two line ends, a tie: CR LF.
    decoded = DecodeTextFile(toBytes("a\r\r\nb"), false);
    EXPECT_EQ(decoded.text, u"a\n\nb");
    EXPECT_EQ(decoded.lineEnd, LineEnd::kCrLf);

    decoded = DecodeTextFile(toBytes("a\0\r\0b\0\r\0\n\0c\0\r\0"sv), true);
    EXPECT_EQ(decoded.lineEnd, LineEnd::kCr);
    EXPECT_EQ(encode(u"x\ny", decoded), toBytes("x\0\r\0y\0"sv));
}

TEST(EncodeTextFile, RefusesCharactersGbkCannotHold) {
    DecodedText decoded = DecodeTextFile(toBytes("\xD6\xD0\r\n"), false);
    ASSERT_EQ(decoded.encoding, TextEncoding::kCp936);
    EXPECT_EQ(encode(u"€中\n", decoded), toBytes("\x80\xD6\xD0\r\n"));

    std::vector<std::byte> out;
    for (std::u16string_view text : {u"中\n\n한"sv, u"中\n\n\U0001F600"sv}) {
        ClearErrorRecord();
        EXPECT_EQ(EncodeTextFile(text, decoded, out), kFail);
        EXPECT_TRUE(out.empty());
        ASSERT_TRUE(PeekErrorRecord().has_value());
        const std::string message = PeekErrorRecord()->description;
        EXPECT_NE(message.find("GBK/CP936"), std::string::npos);
        EXPECT_NE(message.find("第 3 行"), std::string::npos);
        EXPECT_NE(message.find(text == u"中\n\n한" ? "“한”(U+D55C)" : "“\U0001F600”(U+1F600)"),
                  std::string::npos)
            << message;
    }
    ClearErrorRecord();
}

TEST(PrefersUtf16, MatchesIniInAnyCase) {
    EXPECT_TRUE(prefersUtf16("a/SETUP.INI"));
    EXPECT_TRUE(prefersUtf16("b.Ini"));
    EXPECT_FALSE(prefersUtf16("ini"));
    EXPECT_FALSE(prefersUtf16("c.inf"));
    EXPECT_FALSE(prefersUtf16("d.ini.xml"));
}

}  // namespace
}  // namespace kestrel
