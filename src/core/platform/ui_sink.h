// The core never shows a window: messages, questions, the error dialog and the busy cursor go
// through the process's UiSink. The GUI installs a Qt implementation; the command line uses the
// console one.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

enum class MessageIcon { kNone, kStop, kQuestion, kExclamation, kInformation };
// kCompileDiscardCancel answers like Yes/No/Cancel; the window labels its buttons "compile",
// "discard" and "cancel" (the question before unsaved edits would be lost).
enum class Buttons {
    kOk,
    kOkCancel,
    kAbortRetryIgnore,
    kYesNoCancel,
    kYesNo,
    kRetryCancel,
    kCompileDiscardCancel
};
// Values are the Windows dialog results.
enum class Answer { kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7 };

class UiSink {
  public:
    virtual ~UiSink() = default;
    virtual void message(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
    // `defaultButton` is the 0-based index of the default button among `buttons`.
    virtual Answer ask(std::string_view text, std::string_view caption, Buttons buttons, int defaultButton,
                       MessageIcon icon) = 0;
    // Shows the current error record (the error dialog); returns the id of the button pressed.
    virtual int showError() = 0;
    virtual void busy(bool on) = 0;
};

// Prints messages and error reports on standard error; answers questions on the terminal when
// standard input and standard error are both terminals, otherwise with the default button.
class ConsoleUiSink : public UiSink {
  public:
    void message(std::string_view text, std::string_view caption, MessageIcon icon) override;
    Answer ask(std::string_view text, std::string_view caption, Buttons buttons, int defaultButton,
               MessageIcon icon) override;
    int showError() override;
    void busy(bool) override {}
};

// The answers a button set offers, in order.
int buttonCount(Buttons buttons);
Answer buttonAnswer(Buttons buttons, int index);

// The console sink's showError() prints the current error record through this hook, which the
// error-reporting module installs (at start-up and again in InitErrorReporting); without it
// nothing is printed.
using ConsoleErrorPrinter = int (*)();
void setConsoleErrorPrinter(ConsoleErrorPrinter printer);

// The process's sink; a ConsoleUiSink until another is installed. Installing nullptr restores it.
UiSink& uiSink();
void setUiSink(UiSink* sink);

// While alive, drops plain notes (messages without an icon) and passes errors, warnings and questions
// on to the sink that was installed before it. An import run inside another operation uses it: its
// notes (the box about bit-field bitmaps kept as .BMP files) speak of a working folder the caller
// never sees.
class NotesDropped final : public UiSink {
  public:
    NotesDropped() : outer_(uiSink()) { setUiSink(this); }
    ~NotesDropped() override { setUiSink(&outer_); }
    NotesDropped(const NotesDropped&) = delete;
    NotesDropped& operator=(const NotesDropped&) = delete;

    void message(std::string_view text, std::string_view caption, MessageIcon icon) override {
        if (icon != MessageIcon::kNone) outer_.message(text, caption, icon);
    }
    Answer ask(std::string_view text, std::string_view caption, Buttons buttons, int defaultButton,
               MessageIcon icon) override {
        return outer_.ask(text, caption, buttons, defaultButton, icon);
    }
    int showError() override { return outer_.showError(); }
    void busy(bool on) override { outer_.busy(on); }

  private:
    UiSink& outer_;
};

// The product name shown as caption.
inline constexpr std::string_view kAppName = "Kestrel";

}  // namespace kestrel
