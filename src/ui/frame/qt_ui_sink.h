// The GUI's UiSink: message boxes with the program's Chinese button captions and default buttons,
// the error dialog, and the wait cursor.
#pragma once

#include <QMessageBox>
#include <memory>

#include "core/platform/ui_sink.h"

namespace kestrel::ui {

// Builds the message box a message or question shows (not yet shown), so that its buttons and
// default can be checked without running it.
std::unique_ptr<QMessageBox> buildMessageBox(std::string_view text, std::string_view caption, Buttons buttons,
                                             int defaultButton, MessageIcon icon, QWidget* parent);
// The window a message box or the error dialog is shown on: the running modal dialog, else the
// active window.
QWidget* boxParent();
// The caption of a button of the message boxes ("确定", "取消", "是(&Y)", ...).
QString answerCaption(Answer answer);

class QtUiSink : public UiSink {
  public:
    void message(std::string_view text, std::string_view caption, MessageIcon icon) override;
    Answer ask(std::string_view text, std::string_view caption, Buttons buttons, int defaultButton,
               MessageIcon icon) override;
    int showError() override;
    void busy(bool on) override;

  private:
    int busyDepth_ = 0;
};

// Installs a QtUiSink for its lifetime.
class ScopedQtUiSink {
  public:
    ScopedQtUiSink() { setUiSink(&sink_); }
    ~ScopedQtUiSink() { setUiSink(nullptr); }
    ScopedQtUiSink(const ScopedQtUiSink&) = delete;
    ScopedQtUiSink& operator=(const ScopedQtUiSink&) = delete;

  private:
    QtUiSink sink_;
};

// Shows the wait cursor through the UiSink while alive.
class BusyCursor {
  public:
    BusyCursor() { uiSink().busy(true); }
    ~BusyCursor() { uiSink().busy(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace kestrel::ui
