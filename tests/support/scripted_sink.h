// A UI sink for tests: answers questions from a script (the default button once the script is
// used up) and records every message, question and error report. It installs itself for its
// lifetime.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors/errors.h"
#include "core/platform/ui_sink.h"

namespace kestrel::testing {

class ScriptedSink : public UiSink {
  public:
    ScriptedSink() { setUiSink(this); }
    ~ScriptedSink() override { setUiSink(nullptr); }
    ScriptedSink(const ScriptedSink&) = delete;
    ScriptedSink& operator=(const ScriptedSink&) = delete;

    void message(std::string_view text, std::string_view, MessageIcon) override {
        messages.emplace_back(text);
    }
    Answer ask(std::string_view text, std::string_view, Buttons buttons, int defaultButton,
               MessageIcon) override {
        questions.emplace_back(text);
        if (answers.empty()) return buttonAnswer(buttons, defaultButton);
        Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    int showError() override {
        auto record = TakeErrorRecord();
        errors.push_back(record ? record->description : std::string());
        return 1;
    }
    void busy(bool) override {}

    std::deque<Answer> answers;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::string> errors;
};

}  // namespace kestrel::testing
