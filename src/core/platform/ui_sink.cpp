#include "core/platform/ui_sink.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#include "core/platform/system.h"

namespace kestrel {

namespace {

ConsoleUiSink& consoleSink() {
    static ConsoleUiSink sink;
    return sink;
}

std::atomic<UiSink*> currentSink{nullptr};
std::atomic<ConsoleErrorPrinter> errorPrinter{nullptr};

const char* answerLabel(Answer answer) {
    switch (answer) {
        case Answer::kOk:
            return "OK";
        case Answer::kCancel:
            return "Cancel";
        case Answer::kAbort:
            return "Abort";
        case Answer::kRetry:
            return "Retry";
        case Answer::kIgnore:
            return "Ignore";
        case Answer::kYes:
            return "Yes";
        case Answer::kNo:
            return "No";
    }
    return "?";
}

}  // namespace

int buttonCount(Buttons buttons) {
    switch (buttons) {
        case Buttons::kOk:
            return 1;
        case Buttons::kOkCancel:
            return 2;
        case Buttons::kAbortRetryIgnore:
            return 3;
        case Buttons::kYesNoCancel:
        case Buttons::kCompileDiscardCancel:
            return 3;
        case Buttons::kYesNo:
            return 2;
        case Buttons::kRetryCancel:
            return 2;
    }
    return 1;
}

Answer buttonAnswer(Buttons buttons, int index) {
    static constexpr Answer kOkSet[] = {Answer::kOk};
    static constexpr Answer kOkCancelSet[] = {Answer::kOk, Answer::kCancel};
    static constexpr Answer kAbortSet[] = {Answer::kAbort, Answer::kRetry, Answer::kIgnore};
    static constexpr Answer kYesNoCancelSet[] = {Answer::kYes, Answer::kNo, Answer::kCancel};
    static constexpr Answer kYesNoSet[] = {Answer::kYes, Answer::kNo};
    static constexpr Answer kRetryCancelSet[] = {Answer::kRetry, Answer::kCancel};
    if (index < 0 || index >= buttonCount(buttons)) index = 0;
    switch (buttons) {
        case Buttons::kOk:
            return kOkSet[index];
        case Buttons::kOkCancel:
            return kOkCancelSet[index];
        case Buttons::kAbortRetryIgnore:
            return kAbortSet[index];
        case Buttons::kYesNoCancel:
        case Buttons::kCompileDiscardCancel:
            return kYesNoCancelSet[index];
        case Buttons::kYesNo:
            return kYesNoSet[index];
        case Buttons::kRetryCancel:
            return kRetryCancelSet[index];
    }
    return Answer::kOk;
}

void ConsoleUiSink::message(std::string_view text, std::string_view caption, MessageIcon) {
    std::string line;
    if (!caption.empty()) line.append(caption).append(": ");
    line.append(text);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

Answer ConsoleUiSink::ask(std::string_view text, std::string_view caption, Buttons buttons, int defaultButton,
                          MessageIcon icon) {
    if (defaultButton < 0 || defaultButton >= buttonCount(buttons)) defaultButton = 0;
    Answer fallback = buttonAnswer(buttons, defaultButton);
    message(text, caption, icon);
    if (!StandardStreamsInteractive()) {
        std::fprintf(stderr, "(%s)\n", answerLabel(fallback));
        return fallback;
    }
    for (;;) {
        std::string prompt;
        for (int i = 0; i < buttonCount(buttons); ++i) {
            Answer answer = buttonAnswer(buttons, i);
            prompt += (i ? "/" : "");
            prompt += (i == defaultButton ? "[" : "");
            prompt += answerLabel(answer);
            prompt += (i == defaultButton ? "]" : "");
        }
        std::fprintf(stderr, "%s? ", prompt.c_str());
        std::fflush(stderr);
        std::string reply;
        if (!std::getline(std::cin, reply)) return fallback;
        if (reply.empty()) return fallback;
        char first = static_cast<char>(reply[0] | 0x20);
        for (int i = 0; i < buttonCount(buttons); ++i) {
            Answer answer = buttonAnswer(buttons, i);
            if ((answerLabel(answer)[0] | 0x20) == first) return answer;
        }
    }
}

int ConsoleUiSink::showError() {
    if (ConsoleErrorPrinter printer = errorPrinter.load(); printer != nullptr) return printer();
    return static_cast<int>(Answer::kOk);
}

void setConsoleErrorPrinter(ConsoleErrorPrinter printer) {
    errorPrinter = printer;
}

UiSink& uiSink() {
    UiSink* sink = currentSink.load();
    if (sink != nullptr) return *sink;
    return consoleSink();
}

void setUiSink(UiSink* sink) {
    currentSink = sink;
}

}  // namespace kestrel
