#include "core/errors/errors.h"
#include "core/errors/text_encode_report.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace kestrel {
namespace {

class ErrorReporting : public ::testing::Test {
  protected:
    void SetUp() override { ClearErrorRecord(); }
    void TearDown() override { ClearErrorRecord(); }

    static std::string description() {
        auto record = PeekErrorRecord();
        return record ? record->description : std::string("<none>");
    }
};

TEST_F(ErrorReporting, MissingFileGetsTheSystemTextUnitLineAndCode) {
    EXPECT_EQ(ReportError(true, "KsDoc", 12, HResult::fromValue(0x80070002u)).value(), 0x80070002u);
    EXPECT_EQ(description(), "系统找不到指定的文件。\r\nKsDoc(  12) : 0x80070002\r\n\r\n");
    EXPECT_EQ(PeekErrorRecord()->source, "KsDoc");
}

TEST_F(ErrorReporting, TableTextsTakeTheArgumentsAndMissingOnesStayEmpty) {
    (void)ReportError(true, "compile", 7, HResult::fromValue(0xC004000Du), {"C:\\x\\theme.dll"});
    EXPECT_EQ(description(), "编译 'C:\\x\\theme.dll' 时发生错误。\r\ncompile(   7) : 0xC004000D\r\n\r\n");
    (void)ReportError(true, "KsDoc", 3, HResult::fromValue(0xC004000Au), {"a.dll"});
    EXPECT_EQ(description(),
              "文件 'a.dll' 无法复制到 '' 。\r\n确认目标文件不是只读并且未打开。\r\nKsDoc(   3) : "
              "0xC004000A\r\n\r\n");
    // An argument that looks like a format is copied as text.
    (void)ReportError(true, "KsDoc", 4, HResult::fromValue(0xC0040001u), {"%s%n%d"});
    EXPECT_EQ(description(), "路径 %s%n%d 无效。\r\nKsDoc(   4) : 0xC0040001\r\n\r\n");
}

TEST_F(ErrorReporting, SystemAndUnknownTextsAreNeverFormatted) {
    (void)ReportError(true, "EXEDUMP", 1, HResult::fromValue(0x80070005u), {"ignored"});
    EXPECT_EQ(description(), "拒绝访问。\r\nEXEDUMP(   1) : 0x80070005\r\n\r\n");
    (void)ReportError(true, "EXEDUMP", 2, HResult::fromValue(0x80071234u), {"ignored"});
    EXPECT_EQ(description(), "Unknown error 0x80071234\r\nEXEDUMP(   2) : 0x80071234\r\n\r\n");

    const FormatArg args[] = {"x"};
    EXPECT_EQ(MessageEntryText({"50%s %d%%\r\n", MessageOrigin::kSystem}, args), "50%s %d%%\r\n");
    EXPECT_EQ(MessageEntryText({"50%s %d%%\r\n", MessageOrigin::kUnknown}, args), "50%s %d%%\r\n");
    EXPECT_EQ(MessageEntryText({"50%s %d%%\r\n", MessageOrigin::kProgramTable}, args), "50x %\r\n");

    // Texts from strerror are copied verbatim too.
    HResult errnoCode = hresultFromErrno(EPIPE);
    auto text = SystemMessageText(errnoCode);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, std::string(std::strerror(EPIPE)) + "\r\n");
    EXPECT_EQ(LookupMessageText(errnoCode).origin, MessageOrigin::kSystem);
    EXPECT_FALSE(SystemMessageText(HResult::fromValue(0x8007F000u)).has_value());
}

TEST_F(ErrorReporting, EveryCodeWeProduceHasAText) {
    const std::uint32_t systemCodes[] = {0x80004005u, 0x8007000Eu, 0x80070057u, 0x80004003u, 0x80070002u,
                                         0x80070003u, 0x80070004u, 0x80070005u, 0x80070006u, 0x80070011u,
                                         0x80070013u, 0x80070020u, 0x80070026u, 0x80070050u, 0x80070070u,
                                         0x80070091u, 0x800700B7u, 0x800700CEu, 0x800700DFu, 0x8007010Bu,
                                         0x800703EEu, 0x8007045Du, 0x80070781u};
    for (std::uint32_t code : systemCodes) {
        MessageText text = LookupMessageText(HResult::fromValue(code));
        EXPECT_EQ(text.origin, MessageOrigin::kSystem) << std::hex << code;
        EXPECT_TRUE(text.text.ends_with("\r\n")) << std::hex << code;
    }
    for (std::uint32_t code = 0xC0040001u; code <= 0xC0040026u; ++code) {
        if (code == 0xC004000Fu) continue;
        auto text = ProgramMessageText(HResult::fromValue(code));
        ASSERT_TRUE(text.has_value()) << std::hex << code;
        EXPECT_TRUE(text->ends_with("\r\n")) << std::hex << code;
    }
    EXPECT_FALSE(ProgramMessageText(HResult::fromValue(0xC004000Fu)).has_value());
    EXPECT_EQ(*ProgramMessageText(HResult::fromValue(0xC0040011u)),
              "无法重命名色彩方案为 \"%s\" 。名称已存在。\r\n");
}

// Each reason a text file cannot be saved reads as its own sentence, with the line, the character,
// its code point and the encoding filled in, and starts a new record.
TEST_F(ErrorReporting, TextEncodeErrorsNameTheLineCharacterAndEncoding) {
    using Kind = TextEncodeError::Kind;
    (void)ReportError(true, "Earlier", 1, kFail);
    ReportTextEncodeError({.kind = Kind::kUnencodable,
                           .encodingName = "GBK/CP936",
                           .line = 3,
                           .codePoint = 0x1F600,
                           .character = "\U0001F600"},
                          "TextWnd", 9);
    EXPECT_EQ(description(),
              "文本第 3 行的字符“\U0001F600”(U+1F600) 无法以文件的编码 (GBK/CP936) 保存。\r\nTextWnd(   "
              "9)\r\n\r\n");
    ReportTextEncodeError(
        {.kind = Kind::kUnpairedSurrogate, .encodingName = "UTF-8", .line = 2, .codePoint = 0xD800},
        "TextWnd", 9);
    EXPECT_EQ(description(),
              "文本第 2 行有不成对的代理项 U+D800，无法以文件的编码 (UTF-8) 保存。\r\nTextWnd(   9)\r\n\r\n");
    ReportTextEncodeError({.kind = Kind::kNoConverter, .encodingName = "GBK/CP936"}, "TextWnd", 9);
    EXPECT_EQ(description(), "系统缺少到文件的编码 (GBK/CP936) 的转换，无法保存。\r\nTextWnd(   9)\r\n\r\n");
}

TEST_F(ErrorReporting, NewestReportComesFirstAndStartNewDiscards) {
    ReportMessage(false, "Old", 1, "stale");
    (void)ReportError(true, "EXEDUMP", 40, HResult::fromValue(0x80070002u));
    ReportMessage(false, "KsDoc", 50, "打开文件 %s 时发生错误。\r\n\r\n", {"x.dll"});
    (void)ReportError(false, "CKsApp", 60, HResult::fromValue(0xC004000Bu), {"x.dll"});
    EXPECT_EQ(description(),
              "反编译 'x.dll' 时发生错误。\r\nCKsApp(  60) : 0xC004000B\r\n\r\n"
              "打开文件 x.dll 时发生错误。\r\nKsDoc(  50)\r\n\r\n"
              "系统找不到指定的文件。\r\nEXEDUMP(  40) : 0x80070002\r\n\r\n");
    EXPECT_EQ(PeekErrorRecord()->source, "CKsApp");

    auto taken = TakeErrorRecord();
    ASSERT_TRUE(taken.has_value());
    EXPECT_FALSE(PeekErrorRecord().has_value());
    ReportMessage(false, "KsDoc", 5, "alone");
    EXPECT_EQ(description(), "alone\r\nKsDoc(   5)\r\n\r\n");
}

TEST_F(ErrorReporting, RecordsArePerThread) {
    ReportMessage(true, "Main", 1, "main thread");
    std::optional<ErrorRecord> seenByOther = ErrorRecord{};
    std::thread([&] { seenByOther = PeekErrorRecord(); }).join();
    EXPECT_FALSE(seenByOther.has_value());
    EXPECT_EQ(description(), "main thread\r\nMain(   1)\r\n\r\n");
}

struct SummaryCase {
    const char* name;
    ErrorRecord record;
    std::string_view summary;
};

class DialogSummary : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(DialogSummary, FollowsTheSummaryRule) {
    auto contents = BuildErrorDialogContents(GetParam().record, std::nullopt, "Kestrel Beta 版本 1.020000");
    EXPECT_EQ(contents.summary, GetParam().summary);
    std::string details = GetParam().record.description;
    while (!details.empty() && (details.back() == '\r' || details.back() == '\n'))
        details.pop_back();
    EXPECT_EQ(contents.details, "Kestrel Beta 版本 1.020000\r\n" + details);
}

INSTANTIATE_TEST_SUITE_P(
    Records, DialogSummary,
    ::testing::Values(SummaryCase{"UpToTheSourceName",
                                  {"KsDoc", "打开失败。\r\nKsDoc(  50)\r\n\r\nrest\r\nEXEDUMP(   1)\r\n\r\n"},
                                  "打开失败。"},
                      SummaryCase{"UpToTheFirstBlankLine",
                                  {"Gone", "first\r\nline two\r\n\r\nsecond\r\n"},
                                  "first\r\nline two"},
                      SummaryCase{"WholeDescription", {"Gone", "only text\r\n\n"}, "only text"},
                      SummaryCase{"EmptySourceName", {"", "text\r\n(   1)\r\n\r\nmore"}, "text\r\n(   1)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DialogContents, WithoutARecordShowsUnspecifiedError) {
    auto contents = BuildErrorDialogContents(std::nullopt, std::nullopt, "Kestrel");
    EXPECT_EQ(contents.summary, "Unspecified Error.");
    EXPECT_EQ(contents.details, "Kestrel\r\nUnspecifiedError.\r\nErrorDlg(" +
                                    std::to_string(kUnspecifiedErrorLine) + ") : 0x80004005");
    auto given = BuildErrorDialogContents(ErrorRecord{"A", "x\r\nA(   1)\r\n"}, "Given", "");
    EXPECT_EQ(given.summary, "Given");
    EXPECT_EQ(given.details, "x\r\nA(   1)");
}

// A reporter's name inside the text (a path with "compile" or "Edit" in it) does not cut the
// summary short: it is the newest entry's own text, whatever it holds.
TEST(DialogContents, SummaryIsTheNewestEntryWhateverItsTextHolds) {
    RecordError(true, "KsDoc", 3, kFail);
    ReportMessage(false, "compile", 12, "%s", {"/home/compile/Edit/app.dll: compile(1) failed\r\n\r\nhere"});
    auto record = PeekErrorRecord();
    ASSERT_TRUE(record.has_value());
    auto contents = BuildErrorDialogContents(record, std::nullopt, "");
    EXPECT_EQ(contents.summary, "/home/compile/Edit/app.dll: compile(1) failed\r\n\r\nhere");
    ClearErrorRecord();

    // A record put together by hand has its summary end at the source line.
    auto handMade = BuildErrorDialogContents(
        ErrorRecord{"compile", "C:\\compile\\x.dll\r\ncompile(  7)\r\n\r\n"}, std::nullopt, "");
    EXPECT_EQ(handMade.summary, "C:\\compile\\x.dll");
}

TEST(DialogContents, TakingThemClearsTheRecord) {
    InitErrorReporting({"OK", "取消", "终止", "重试", "忽略", "是", "否", "详细", "发送报告"},
                       "Kestrel Beta 版本 1.020000");
    ReportMessage(true, "KsDoc", 9, "坏了");
    auto contents = TakeErrorDialogContents();
    EXPECT_EQ(contents.summary, "坏了");
    EXPECT_EQ(contents.details, "Kestrel Beta 版本 1.020000\r\n坏了\r\nKsDoc(   9)");
    EXPECT_FALSE(PeekErrorRecord().has_value());
}

TEST(MailReport, EncodesTheBody) {
    EXPECT_EQ(EncodeMailBody("a \"b\"\r\nc"), "a%20'b'%0dc");
    EXPECT_EQ(EncodeMailBody("C:\\x&y=1?#%+/'"), "C%3A%5Cx%26y%3D1%3F%23%25%2B%2F'");
    EXPECT_EQ(EncodeMailBody("lone\r-\n-\t"), "lone%0D-%0A-%09");
    EXPECT_EQ(EncodeMailBody("版"), "%E7%89%88");
    EXPECT_EQ(EncodeMailBody("A-z_0.9~"), "A-z_0.9~");
    EXPECT_EQ(ErrorReportMailLink("x y"), "mailto:support@quillon.example?Subject=Error%20Report&Body=x%20y");
}

struct ButtonCase {
    int type;
    std::vector<int> results;
    int defaultButton;
    bool escapeCloses;
};

class DialogButtons : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(DialogButtons, FollowTheType) {
    const std::string custom[] = {"Keep", "Drop", "", "Never"};
    auto buttons = ErrorDialogButtonsFor(GetParam().type, custom);
    std::vector<int> results;
    for (std::size_t i = 0; i < buttons.buttons.size(); ++i) {
        results.push_back(buttons.buttons[i].result);
        EXPECT_EQ(buttons.buttons[i].controlId, kFirstTypeButtonId + static_cast<int>(i));
    }
    EXPECT_EQ(results, GetParam().results);
    EXPECT_EQ(buttons.defaultButton, GetParam().defaultButton);
    EXPECT_EQ(buttons.escapeCloses, GetParam().escapeCloses);
}

INSTANTIATE_TEST_SUITE_P(Types, DialogButtons,
                         ::testing::Values(ButtonCase{0, {1}, 0, false}, ButtonCase{0x100, {1}, 0, false},
                                           ButtonCase{1, {1, 2}, 0, true}, ButtonCase{0x101, {1, 2}, 1, true},
                                           ButtonCase{2, {3, 4, 5}, 0, false},
                                           ButtonCase{0x202, {3, 4, 5}, 2, false},
                                           ButtonCase{3, {6, 7, 2}, 0, true},
                                           ButtonCase{0x303, {6, 7, 2}, 0, true},
                                           ButtonCase{4, {6, 7}, 0, false}, ButtonCase{5, {4, 2}, 0, true},
                                           ButtonCase{0x106, {0, 1}, 1, true}, ButtonCase{9, {1}, 0, false}));

TEST(DialogButtons, CaptionsAndIconsComeFromTheTables) {
    InitErrorReporting({"OK", "取消", "终止", "重试", "忽略", "是", "否", "详细", "发送报告"}, "");
    auto buttons = ErrorDialogButtonsFor(0x34);
    ASSERT_EQ(buttons.buttons.size(), 2u);
    EXPECT_EQ(buttons.buttons[0].caption, "是");
    EXPECT_EQ(buttons.buttons[1].caption, "否");
    EXPECT_EQ(buttons.icon, MessageIcon::kExclamation);
    EXPECT_EQ(buttons.sendReportCaption, "发送报告...");
    EXPECT_EQ(ErrorDialogButtonsFor(0x10).icon, MessageIcon::kStop);
    EXPECT_EQ(ErrorDialogButtonsFor(0x50).icon, MessageIcon::kNone);
    auto noCustom = ErrorDialogButtonsFor(6);
    ASSERT_EQ(noCustom.buttons.size(), 1u);
    EXPECT_EQ(noCustom.buttons[0].result, 1);
    EXPECT_EQ(DetailsButtonCaption(false), "详细 >>");
    EXPECT_EQ(DetailsButtonCaption(true), "详细 <<");
}

// Each line once: the summary is the first entry of the details, which follow the product line.
TEST(ShowErrorDialog, PrintsSummaryAndDetailsOnTheConsole) {
    setUiSink(nullptr);
    InitErrorReporting({"OK", "取消", "终止", "重试", "忽略", "是", "否", "详细", "发送报告"},
                       "Kestrel Beta");
    (void)ReportError(true, "EXEDUMP", 30, HResult::fromValue(0x80070002u));
    ReportMessage(false, "KsDoc", 31, "反编译失败。");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ShowErrorDialog(0), 1);
    std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        printed,
        "Kestrel Beta\n反编译失败。\nKsDoc(  31)\n\n系统找不到指定的文件。\nEXEDUMP(  30) : 0x80070002\n");
    EXPECT_FALSE(PeekErrorRecord().has_value());

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ShowErrorDialog(0), 1);
    printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed.rfind("Unspecified Error.\n", 0), 0u);
}

}  // namespace
}  // namespace kestrel
