#include "core/platform/ui_sink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrel {
namespace {

// Points standard input at /dev/null for the lifetime of the object.
class StdinFromDevNull {
  public:
    StdinFromDevNull() : saved_(::dup(STDIN_FILENO)) {
        int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        ::close(null);
    }
    ~StdinFromDevNull() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }

  private:
    int saved_;
};

struct AskCase {
    Buttons buttons;
    int defaultButton;
    Answer expected;
};

class ConsoleAsk : public ::testing::TestWithParam<AskCase> {};

TEST_P(ConsoleAsk, AnswersWithTheDefaultButtonWithoutATerminal) {
    StdinFromDevNull noTerminal;
    ConsoleUiSink sink;
    ::testing::internal::CaptureStderr();
    Answer answer = sink.ask("复制文件吗？", "Kestrel", GetParam().buttons, GetParam().defaultButton,
                             MessageIcon::kQuestion);
    std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, GetParam().expected);
    EXPECT_NE(printed.find("复制文件吗？"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Buttons, ConsoleAsk,
                         ::testing::Values(AskCase{Buttons::kYesNo, 1, Answer::kNo},
                                           AskCase{Buttons::kYesNo, 0, Answer::kYes},
                                           AskCase{Buttons::kYesNoCancel, 2, Answer::kCancel},
                                           AskCase{Buttons::kAbortRetryIgnore, 1, Answer::kRetry},
                                           AskCase{Buttons::kOkCancel, 5, Answer::kOk},
                                           AskCase{Buttons::kRetryCancel, -1, Answer::kRetry}));

class RecordingSink : public ConsoleUiSink {
  public:
    int showError() override { return 42; }
};

TEST(UiSink, InstalledSinkReplacesTheConsoleUntilReset) {
    RecordingSink recording;
    setUiSink(&recording);
    EXPECT_EQ(uiSink().showError(), 42);
    setUiSink(nullptr);
    EXPECT_NE(dynamic_cast<RecordingSink*>(&uiSink()), &recording);
}

}  // namespace
}  // namespace kestrel
