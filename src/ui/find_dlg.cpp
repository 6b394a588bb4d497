#include "ui/find_dlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

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
    addButton(tr("替换(&R)"), FindResult::kReplace);
    addButton(tr("全部替换(&A)"), FindResult::kReplaceAll);
    addButton(tr("取消"), FindResult::kCancel);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 2, 5, 1);
    grid->setColumnMinimumWidth(1, 200);
    what_->selectAll();
}

FindValues FindDlg::values() const {
    return {what_->text(), with_->text(), wholeWord_->isChecked(), matchCase_->isChecked()};
}

void FindDlg::press(FindResult result) {
    if (result == FindResult::kCancel) {
        reject();
        return;
    }
    emit requested(result, values());
}

}  // namespace kestrel::ui
