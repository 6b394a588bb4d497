#include "ui/frame/qt_ui_sink.h"

#include <gtest/gtest.h>
#include <QPushButton>

namespace kestrel::ui {
namespace {

struct BoxCase {
    Buttons buttons;
    int defaultButton;
    QStringList captions;
    QString defaultCaption;
};

class MessageBoxButtons : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxButtons, ChineseCaptionsInOrderWithTheAskedDefault) {
    const BoxCase& c = GetParam();
    auto box = buildMessageBox("text\r\nmore", "Kestrel", c.buttons, c.defaultButton, MessageIcon::kQuestion,
                               nullptr);
    QStringList captions;
    for (QAbstractButton* button : box->buttons())
        captions << button->text();
    // Qt orders buttons by role on screen; the set is what matters, the default is checked exactly.
    captions.sort();
    QStringList expected = c.captions;
    expected.sort();
    EXPECT_EQ(captions, expected);
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->defaultButton()->text(), c.defaultCaption);
    EXPECT_EQ(box->text(), QStringLiteral("text\nmore"));
}

INSTANTIATE_TEST_SUITE_P(
    Sets, MessageBoxButtons,
    ::testing::Values(BoxCase{Buttons::kOk, 0, {"确定"}, "确定"},
                      BoxCase{Buttons::kYesNo, 1, {"是(&Y)", "否(&N)"}, "否(&N)"},
                      BoxCase{Buttons::kYesNoCancel, 0, {"是(&Y)", "否(&N)", "取消"}, "是(&Y)"},
                      BoxCase{Buttons::kRetryCancel, 7, {"重试(&R)", "取消"}, "重试(&R)"}));

}  // namespace
}  // namespace kestrel::ui
