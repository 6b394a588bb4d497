#include "ui/frame/qt_ui_sink.h"

#include <QApplication>
#include <QPushButton>

#include "ui/dialogs/error_dlg.h"

namespace kestrel::ui {

namespace {

QString toQt(std::string_view text) {
    // Texts of the message table end in CR LF and may carry CR LF inside; a label wants '\n'.
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::kStop:
            return QMessageBox::Critical;
        case MessageIcon::kQuestion:
            return QMessageBox::Question;
        case MessageIcon::kExclamation:
            return QMessageBox::Warning;
        case MessageIcon::kInformation:
            return QMessageBox::Information;
        case MessageIcon::kNone:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::ButtonRole roleOf(Answer answer) {
    switch (answer) {
        case Answer::kOk:
            return QMessageBox::AcceptRole;
        case Answer::kCancel:
            return QMessageBox::RejectRole;
        case Answer::kYes:
            return QMessageBox::YesRole;
        case Answer::kNo:
            return QMessageBox::NoRole;
        default:
            return QMessageBox::ActionRole;
    }
}

// The compile question names what its buttons do.
QString buttonCaption(Buttons buttons, Answer answer) {
    if (buttons == Buttons::kCompileDiscardCancel) {
        if (answer == Answer::kYes) return QCoreApplication::translate("QtUiSink", "编译(&C)");
        if (answer == Answer::kNo) return QCoreApplication::translate("QtUiSink", "放弃(&D)");
    }
    return answerCaption(answer);
}

}  // namespace

QString answerCaption(Answer answer) {
    switch (answer) {
        case Answer::kOk:
            return QCoreApplication::translate("QtUiSink", "确定");
        case Answer::kCancel:
            return QCoreApplication::translate("QtUiSink", "取消");
        case Answer::kAbort:
            return QCoreApplication::translate("QtUiSink", "终止(&A)");
        case Answer::kRetry:
            return QCoreApplication::translate("QtUiSink", "重试(&R)");
        case Answer::kIgnore:
            return QCoreApplication::translate("QtUiSink", "忽略(&I)");
        case Answer::kYes:
            return QCoreApplication::translate("QtUiSink", "是(&Y)");
        case Answer::kNo:
            return QCoreApplication::translate("QtUiSink", "否(&N)");
    }
    return {};
}

std::unique_ptr<QMessageBox> buildMessageBox(std::string_view text, std::string_view caption, Buttons buttons,
                                             int defaultButton, MessageIcon icon, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(toQt(caption.empty() ? kAppName : caption));
    box->setText(toQt(text));
    box->setIcon(boxIcon(icon));
    const int count = buttonCount(buttons);
    QPushButton* escapeButton = nullptr;
    for (int i = 0; i < count; ++i) {
        Answer answer = buttonAnswer(buttons, i);
        QPushButton* button = box->addButton(buttonCaption(buttons, answer), roleOf(answer));
        button->setProperty("answer", static_cast<int>(answer));
        if (i == defaultButton || (i == 0 && (defaultButton < 0 || defaultButton >= count))) {
            box->setDefaultButton(button);
        }
        if (answer == Answer::kCancel || (count == 1 && answer == Answer::kOk)) escapeButton = button;
    }
    // A box without Cancel (Yes/No, Abort/Retry/Ignore) cannot be left with Escape.
    if (escapeButton != nullptr) box->setEscapeButton(escapeButton);
    return box;
}

QWidget* boxParent() {
    // While a modal dialog runs, a box must sit on it: one parented elsewhere (or nowhere, in the
    // moment the focus moves between windows) would be blocked by that dialog and take no input.
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

void QtUiSink::message(std::string_view text, std::string_view caption, MessageIcon icon) {
    auto box = buildMessageBox(text, caption, Buttons::kOk, 0, icon, boxParent());
    box->exec();
}

Answer QtUiSink::ask(std::string_view text, std::string_view caption, Buttons buttons, int defaultButton,
                     MessageIcon icon) {
    auto box = buildMessageBox(text, caption, buttons, defaultButton, icon, boxParent());
    box->exec();
    auto* clicked = box->clickedButton();
    if (clicked == nullptr) return buttonAnswer(buttons, defaultButton);
    return static_cast<Answer>(clicked->property("answer").toInt());
}

int QtUiSink::showError() {
    // A wait cursor over an error report would look like the program is still busy.
    const bool overridden = busyDepth_ > 0;
    if (overridden) QApplication::setOverrideCursor(Qt::ArrowCursor);
    int result = ShowErrorDialogWindow(0, nullptr);
    if (overridden) QApplication::restoreOverrideCursor();
    return result;
}

void QtUiSink::busy(bool on) {
    if (on) {
        ++busyDepth_;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0) {
        --busyDepth_;
        QApplication::restoreOverrideCursor();
    }
}

}  // namespace kestrel::ui
