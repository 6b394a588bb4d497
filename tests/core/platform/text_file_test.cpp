#include "core/platform/text_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::toBytes;

std::vector<std::byte> encode(std::u16string_view text, const DecodedText& format) {
    std::vector<std::byte> out;
    EXPECT_EQ(EncodeTextFile(text, format, out), std::nullopt);
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
        const auto failure = EncodeTextFile(u"a\nb\xD800", decoded, out);
        EXPECT_EQ(out, toBytes("untouched"));
        EXPECT_EQ(failure, (TextEncodeError{.kind = TextEncodeError::Kind::kUnpairedSurrogate,
                                            .encodingName = "UTF-8",
                                            .line = 2,
                                            .codePoint = 0xD800}));
    }
}

TEST(EncodeTextFile, KeepsEachLinesOwnEndAndWritesNewOnesDominant) {
    DecodedText decoded = DecodeTextFile(toBytes("a\r\nb\nc\nd\re"), false);
    EXPECT_EQ(decoded.text, u"a\nb\nc\nd\ne");
    EXPECT_EQ(decoded.lineEnd, LineEnd::kLf);
    EXPECT_EQ(encode(decoded.text, decoded), toBytes("a\r\nb\nc\nd\re"));
    // Lines past the recorded ones end with the dominant line end.
    EXPECT_EQ(encode(decoded.text + u"\nf\ng", decoded), toBytes("a\r\nb\nc\nd\re\nf\ng"));

    // CR then CR LF is two line ends, a tie: CR LF.
    decoded = DecodeTextFile(toBytes("a\r\r\nb"), false);
    EXPECT_EQ(decoded.text, u"a\n\nb");
    EXPECT_EQ(decoded.lineEnd, LineEnd::kCrLf);
    EXPECT_EQ(decoded.lineEnds, (std::vector<LineEnd>{LineEnd::kCr, LineEnd::kCrLf}));

    // Uniform line ends are not listed one by one.
    decoded = DecodeTextFile(toBytes("a\0\r\0b\0\r\0c\0\r\0"sv), true);
    EXPECT_EQ(decoded.lineEnd, LineEnd::kCr);
    EXPECT_TRUE(decoded.lineEnds.empty());
    EXPECT_EQ(encode(u"x\ny", decoded), toBytes("x\0\r\0y\0"sv));

    // Code page 936 with mixed line ends, and a failure located on the right line after them.
    decoded = DecodeTextFile(toBytes("\xD6\xD0\r\xCE\xC4\r\n\n"), false);
    ASSERT_EQ(decoded.encoding, TextEncoding::kCp936);
    EXPECT_EQ(encode(decoded.text, decoded), toBytes("\xD6\xD0\r\xCE\xC4\r\n\n"));
    std::vector<std::byte> out;
    const auto failure = EncodeTextFile(u"中\n文\n한", decoded, out);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->line, 3);
}

// A file whose decoded text holds a NUL, or more than a few bytes no encoding accepts, unpaired
// surrogates or control characters, is data; a few of them in text are not.
TEST(DecodeTextFile, TellsDataFromText) {
    struct Case {
        const char* name;
        std::string_view bytes;
        bool wide;
        bool binary;
    };
    const Case cases[] = {
        {"plain", "<a>\t\f\x1A</a>\r\n", false, false},
        {"nul in UTF-8", "abc\0def"sv, false, true},
        {"nul in UTF-16", "a\0\0\0b\0"sv, true, true},
        {"eight invalid bytes", "x\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFFy", false, false},
        {"nine invalid bytes", "x\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFFy", false, true},
        {"nine controls", "\x01\x02\x03\x04\x05\x06\x07\x08\x0E", false, true},
        {"nine lone surrogates", "\x00\xD8\x00\xD8\x00\xD8\x00\xD8\x00\xD8\x00\xD8\x00\xD8\x00\xD8\x00\xD8"sv,
         true, true},
        {"paired surrogates", "=\xD8\x00\xDE=\xD8\x00\xDE=\xD8\x00\xDE=\xD8\x00\xDE=\xD8\x00\xDE"sv, true,
         false},
        // A message table: UTF-16 strings in a block of 32-bit counts and offsets.
        {"message table", "\x01\0\0\0\x01\0\0\0\x01\0\0\0\x10\0\0\0\x10\0\x01\0O\0K\0\r\0\n\0"sv, false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodedText decoded = DecodeTextFile(toBytes(c.bytes), c.wide);
        EXPECT_EQ(decoded.binary, c.binary);
        // Data or not, what is read is written back unchanged.
        EXPECT_EQ(encode(decoded.text, decoded), toBytes(c.bytes));
    }
}

// After an edit, every line the edit left alone keeps its own end; changed lines take the end of the
// line they replaced, new lines the dominant end.
TEST(LineEndsAfterEdit, KeepsTheEndsOfUntouchedLines) {
    // Lines a..f end CR LF, LF, CR, LF, LF; f is the last line. The dominant end is LF.
    const std::string original = "a\r\nb\nc\rd\ne\nf";
    const DecodedText format = DecodeTextFile(toBytes(original), false);
    ASSERT_EQ(format.lineEnd, LineEnd::kLf);
    struct Case {
        const char* name;
        std::u16string_view edited;
        std::string_view written;
    };
    const Case cases[] = {
        {"unchanged", u"a\nb\nc\nd\ne\nf", "a\r\nb\nc\rd\ne\nf"},
        {"a character typed at the end", u"a\nb\nc\nd\ne\nfx", "a\r\nb\nc\rd\ne\nfx"},
        {"a line changed", u"a\nb\nC!\nd\ne\nf", "a\r\nb\nC!\rd\ne\nf"},
        {"a line inserted at the top", u"new\na\nb\nc\nd\ne\nf", "new\na\r\nb\nc\rd\ne\nf"},
        {"a line split", u"a\nb\nc1\nc2\nd\ne\nf", "a\r\nb\nc1\nc2\rd\ne\nf"},
        {"two lines joined", u"a\nbc\nd\ne\nf", "a\r\nbc\rd\ne\nf"},
        {"a line deleted", u"a\nc\nd\ne\nf", "a\r\nc\rd\ne\nf"},
        {"edits in two places", u"x\na\nb\nc\nd\nf", "x\na\r\nb\nc\rd\nf"},
        {"a line after the last", u"a\nb\nc\nd\ne\nf\ng", "a\r\nb\nc\rd\ne\nf\ng"},
        {"everything replaced", u"1\n2", "1\r\n2"},
        // CR then an empty line's LF would read back as one CR LF: the CR is written CR LF.
        {"the line after a lone CR emptied", u"a\nb\nc\n\ne\nf", "a\r\nb\nc\r\n\ne\nf"},
        {"nothing left", u"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedText edited = format;
        edited.lineEnds = LineEndsAfterEdit(format.text, format, c.edited);
        EXPECT_EQ(encode(c.edited, edited), toBytes(c.written));
    }
    // Uniform line ends need no list.
    const DecodedText uniform = DecodeTextFile(toBytes("a\r\nb\r\n"), false);
    EXPECT_TRUE(LineEndsAfterEdit(uniform.text, uniform, u"a\nx\nb\n").empty());
}

TEST(EncodeTextFile, RefusesCharactersGbkCannotHold) {
    DecodedText decoded = DecodeTextFile(toBytes("\xD6\xD0\r\n"), false);
    ASSERT_EQ(decoded.encoding, TextEncoding::kCp936);
    EXPECT_EQ(encode(u"€中\n", decoded), toBytes("\x80\xD6\xD0\r\n"));

    std::vector<std::byte> out;
    for (std::u16string_view text : {u"中\n\n한"sv, u"中\n\n\U0001F600"sv}) {
        const auto failure = EncodeTextFile(text, decoded, out);
        EXPECT_TRUE(out.empty());
        const bool hangul = text == u"中\n\n한";
        EXPECT_EQ(failure, (TextEncodeError{.kind = TextEncodeError::Kind::kUnencodable,
                                            .encodingName = "GBK/CP936",
                                            .line = 3,
                                            .codePoint = hangul ? 0xD55Cu : 0x1F600u,
                                            .character = hangul ? "한" : "\U0001F600"}));
    }
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
