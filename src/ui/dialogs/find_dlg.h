// The find and replace dialog of the text pane. It stays open while the user searches: each of
// "查找下一个", "替换" and "全部替换" asks the pane for one step with the dialog's values; "取消" (or
// closing) ends it. The values live in the pane, so the dialog opens with the last ones.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kestrel::ui {

// The dialog's results, one per button.
enum class FindResult { kFindNext = 1, kCancel = 2, kReplace = 3, kReplaceAll = 4 };

struct FindValues {
    QString what;
    QString with;
    bool wholeWord = false;
    bool matchCase = false;
};

class FindDlg : public QDialog {
    Q_OBJECT

  public:
    explicit FindDlg(const FindValues& values, QWidget* parent = nullptr);
    FindValues values() const;

    // Presses a button: takes the values and asks for the step (tests press buttons this way).
    void press(FindResult result);
    // Replace and replace all are offered only for text that can be edited.
    void setReplaceEnabled(bool enabled);
    // Moves the dialog (global coordinates) where it does not cover `match`: into the half of the
    // text view `view` that the match is not in, else above or below the match on the screen. A
    // dialog that is shown and clear of the match stays where it is.
    void placeClearOf(const QRect& view, const QRect& match);

    QLineEdit* whatEdit() const { return what_; }
    QLineEdit* withEdit() const { return with_; }

  signals:
    void requested(kestrel::ui::FindResult result, const kestrel::ui::FindValues& values);

  private:
    QLineEdit* what_ = nullptr;
    QLineEdit* with_ = nullptr;
    QCheckBox* wholeWord_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QPushButton* replace_ = nullptr;
    QPushButton* replaceAll_ = nullptr;
};

}  // namespace kestrel::ui
