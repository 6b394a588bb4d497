#include "core/platform/format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>

namespace kestrel {
namespace {

TEST(SafeFormat, FillsArgumentsAndLeavesMissingOnesEmpty) {
    EXPECT_EQ(safeFormat("路径 %s 无效。", {"a b"}), "路径 a b 无效。");
    EXPECT_EQ(safeFormat("file %s to %s", {"x"}), "file x to ");
    EXPECT_EQ(safeFormat("%s(%4d) : 0x%08X", {"KsDoc", 12, 0x80070002u}), "KsDoc(  12) : 0x80070002");
    EXPECT_EQ(safeFormat("100%% %n %p %f", {1, 2, 3}), "100% %n %p %f");
    EXPECT_EQ(safeFormat("%.8x|%.5d|%-4s|", {0x1234, 7, "ab"}), "00001234|00007|ab  |");
    EXPECT_EQ(safeFormat("%d|%s|%5d|", {}), "||     |");
    EXPECT_EQ(safeFormat("trailing %", {}), "trailing %");
}

struct FormatCase {
    std::string_view format;
    std::vector<FormatArg> args;
    std::string_view expected;
};

class SafeFormatNumbers : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SafeFormatNumbers, MatchesPrintf) {
    EXPECT_EQ(safeFormat(GetParam().format, GetParam().args), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SafeFormatNumbers,
    ::testing::Values(
        FormatCase{"%d", {-2147483647 - 1}, "-2147483648"}, FormatCase{"%d", {0x80004005u}, "-2147467259"},
        FormatCase{"%u", {-1}, "4294967295"}, FormatCase{"%X", {-1}, "FFFFFFFF"},
        FormatCase{"%llu", {18446744073709551615ull}, "18446744073709551615"},
        FormatCase{"%lld", {std::numeric_limits<long long>::min()}, "-9223372036854775808"},
        FormatCase{"%I64X", {0x123456789ull}, "123456789"}, FormatCase{"%zu", {5000000000ull}, "5000000000"},
        FormatCase{"%+d|% d|%+d", {5, 5, -5}, "+5| 5|-5"},
        FormatCase{"%#x|%#X|%#x", {255, 255, 0}, "0xff|0XFF|0"}, FormatCase{"%#010x", {255}, "0x000000ff"},
        FormatCase{"%05d", {-42}, "-0042"}, FormatCase{"%*d|%-*d|", {4, 7, 3, 7}, "   7|7  |"},
        FormatCase{"%.*s", {2, "abcdef"}, "ab"}, FormatCase{"%c%c", {'o', 'k'}, "ok"},
        FormatCase{"%8.3s|", {"abcdef"}, "     abc|"}, FormatCase{"%d %s", {"text", 42}, "0 42"}));

// Lines appended one after another keep what is there and read as each formatted alone.
TEST(AppendFormat, AppendsWhatSafeFormatReturns) {
    std::string text = "<x>";
    appendFormat(text, "%s<E ID='%d' S=\"%s\"/>%%\r\n", {"  ", 7, "t"});
    appendFormat(text, "tail %", {});
    EXPECT_EQ(text, "<x>" + safeFormat("%s<E ID='%d' S=\"%s\"/>%%\r\n", {"  ", 7, "t"}) + "tail %");
    EXPECT_EQ(text, "<x>  <E ID='7' S=\"t\"/>%\r\ntail %");
}

TEST(SafeFormat, CapsHugeWidths) {
    EXPECT_EQ(safeFormat("%99999d", {1}).size(), 4096u);
}

TEST(FormatFixed, UsesTheCLocaleWhateverTheProcessLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(formatFixed(10 * 0.1 + 2000 * 0.00001), "1.020000");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(formatFixed(-0.5, 2), "-0.50");
    EXPECT_EQ(formatFixed(1.5, -1), "1.500000");
    EXPECT_EQ(formatFixed(1e308, 0).size(), 309u);
    EXPECT_EQ(formatFixed(0.25, 600).size(), 602u);
    EXPECT_EQ(formatFixed(std::numeric_limits<double>::infinity()), "inf");
}

struct ParseCase {
    std::string_view text;
    bool ok;
    std::int64_t value;
};

class ParseInt : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseInt, ReadsLikeAtoiAndSaturates) {
    std::int64_t value = -7;
    EXPECT_EQ(parseInt(GetParam().text, value), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(value, GetParam().value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseInt,
    ::testing::Values(ParseCase{"42", true, 42}, ParseCase{" \t-17px", true, -17}, ParseCase{"+8", true, 8},
                      ParseCase{"", false, 0}, ParseCase{"-", false, 0}, ParseCase{"x1", false, 0},
                      ParseCase{"9223372036854775807", true, std::numeric_limits<std::int64_t>::max()},
                      ParseCase{"-9223372036854775808", true, std::numeric_limits<std::int64_t>::min()},
                      ParseCase{"99999999999999999999", true, std::numeric_limits<std::int64_t>::max()},
                      ParseCase{"-99999999999999999999", true, std::numeric_limits<std::int64_t>::min()}));

}  // namespace
}  // namespace kestrel
