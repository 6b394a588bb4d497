#include "ui/dialogs/find_dlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace kestrel::ui {

FindDlg::FindDlg(const FindValues& values, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("查找文本"));
    auto* grid = new QGridLayout(this);

    what_ = new QLineEdit(values.what, this);
    with_ = new QLineEdit(values.with, this);
    auto* whatLabel = new QLabel(tr("查找什么(&N):"), this);
    auto* withLabel = new QLabel(tr("替换为(&P):"), this);
    whatLabel->setBuddy(what_);
    withLabel->setBuddy(with_);
    wholeWord_ = new QCheckBox(tr("仅仅匹配完整字句(&W)"), this);
    matchCase_ = new QCheckBox(tr("区分大小写(&C)"), this);
    wholeWord_->setChecked(values.wholeWord);
    matchCase_->setChecked(values.matchCase);

    grid->addWidget(whatLabel, 0, 0);
    grid->addWidget(what_, 0, 1);
    grid->addWidget(withLabel, 1, 0);
    grid->addWidget(with_, 1, 1);
    grid->addWidget(wholeWord_, 2, 0, 1, 2);
    grid->addWidget(matchCase_, 3, 0, 1, 2);

    auto* buttons = new QVBoxLayout;
    auto addButton = [this, buttons](const QString& text, FindResult result) {
        auto* button = new QPushButton(text, this);
        connect(button, &QPushButton::clicked, this, [this, result] { press(result); });
        buttons->addWidget(button);
        return button;
    };
    addButton(tr("查找下一个(&F)"), FindResult::kFindNext)->setDefault(true);
    replace_ = addButton(tr("替换(&R)"), FindResult::kReplace);
    replaceAll_ = addButton(tr("全部替换(&A)"), FindResult::kReplaceAll);
    addButton(tr("取消"), FindResult::kCancel);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 2, 5, 1);
    grid->setColumnMinimumWidth(1, 200);
    what_->selectAll();
}

FindValues FindDlg::values() const {
    return {what_->text(), with_->text(), wholeWord_->isChecked(), matchCase_->isChecked()};
}

void FindDlg::setReplaceEnabled(bool enabled) {
    replace_->setEnabled(enabled);
    replaceAll_->setEnabled(enabled);
}

void FindDlg::placeClearOf(const QRect& view, const QRect& match) {
    if (!isVisible()) adjustSize();
    // Before it is shown the window frame is not known: allow for a title bar.
    const int titleBar = isVisible() ? 0 : style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const QRect frame = isVisible() ? frameGeometry() : QRect(pos(), size() + QSize(0, titleBar));
    if (isVisible() && !frame.intersects(match)) return;
    const QScreen* where = QGuiApplication::screenAt(view.center());
    const QRect screenArea = where != nullptr ? where->availableGeometry() : view.united(frame);
    const int gap = 8;
    auto fits = [&](int top) {
        return top >= screenArea.top() && top + frame.height() <= screenArea.bottom();
    };
    // Centred across the view, kept on the screen.
    const int left = std::clamp(view.center().x() - frame.width() / 2, screenArea.left(),
                                std::max(screenArea.left(), screenArea.right() - frame.width()));
    std::vector<int> tops;
    if (match.center().y() < view.center().y()) {
        tops = {view.bottom() - frame.height(), match.bottom() + gap, match.top() - gap - frame.height()};
    } else {
        tops = {view.top(), match.top() - gap - frame.height(), match.bottom() + gap};
    }
    int top = tops.back();
    for (int candidate : tops) {
        if (fits(candidate) && !QRect(QPoint(left, candidate), frame.size()).intersects(match)) {
            top = candidate;
            break;
        }
    }
    // A window's position is that of its frame.
    move(left, top);
}

void FindDlg::press(FindResult result) {
    if (result == FindResult::kCancel) {
        reject();
        return;
    }
    emit requested(result, values());
}

}  // namespace kestrel::ui
