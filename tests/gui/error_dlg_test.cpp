#include "ui/dialogs/error_dlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "gui_test_support.h"
#include "ui/frame/url_opener.h"

namespace kestrel::ui {
namespace {

struct TypeCase {
    int type;
    std::vector<std::string> captions;
    std::vector<int> results;
    int defaultIndex;
    bool escapeCloses;
};

class ErrorDlgTypes : public ::testing::TestWithParam<TypeCase> {};

ErrorDialogContents sampleContents() {
    return BuildErrorDialogContents(
        ErrorRecord{"KsDoc", "first line\r\nKsDoc(  12)\r\n\r\nsecond \"part\"\r\n"}, std::nullopt,
        "Kestrel Beta 版本 1.020000");
}

TEST_P(ErrorDlgTypes, RowHoldsTheTypesButtonsWithDefaultAndEscapeRule) {
    const TypeCase& c = GetParam();
    InitErrorReporting({"OK", "取消", "终止", "重试", "忽略", "是", "否", "详细", "发送报告"}, "Kestrel");
    std::vector<std::string> custom = {"甲", "乙", "丙"};
    ErrorDlg dialog("Kestrel", sampleContents(), c.type, custom, nullptr);
    ASSERT_EQ(dialog.typeButtons().size(), c.captions.size());
    for (std::size_t i = 0; i < c.captions.size(); ++i)
        EXPECT_EQ(dialog.typeButtons()[i]->text().toStdString(), c.captions[i]) << i;
    EXPECT_EQ(dialog.defaultTypeButton(), dialog.typeButtons()[static_cast<std::size_t>(c.defaultIndex)]);
    EXPECT_TRUE(dialog.defaultTypeButton()->isDefault());

    // Every button of the row has the same width, the send-report and details buttons included.
    const int width = dialog.detailsButton()->width();
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        EXPECT_EQ(button->width(), width);

    dialog.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &escape);
    EXPECT_EQ(dialog.isVisible(), !c.escapeCloses);
    if (c.escapeCloses) {
        EXPECT_EQ(dialog.result(), 2);
    }

    // Each button ends the dialog with its own result.
    for (std::size_t i = 0; i < c.results.size(); ++i) {
        dialog.show();
        dialog.typeButtons()[i]->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), c.results[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, ErrorDlgTypes,
                         ::testing::Values(TypeCase{0, {"OK"}, {1}, 0, false},
                                           TypeCase{1 | 0x100, {"OK", "取消"}, {1, 2}, 1, true},
                                           TypeCase{2 | 0x200, {"终止", "重试", "忽略"}, {3, 4, 5}, 2, false},
                                           TypeCase{3 | 0x300, {"是", "否", "取消"}, {6, 7, 2}, 0, true},
                                           TypeCase{4 | 0x10, {"是", "否"}, {6, 7}, 0, false},
                                           TypeCase{5, {"重试", "取消"}, {4, 2}, 0, true},
                                           TypeCase{6 | 0x200, {"甲", "乙", "丙"}, {0, 1, 2}, 2, true}));

class ErrorDlgTest : public testing::IsolatedGuiTest {};

TEST_F(ErrorDlgTest, DetailsToggleShowsAndHidesTheChainAndRenamesTheButton) {
    ErrorDlg dialog("Kestrel", sampleContents(), 0x10, {}, nullptr);
    dialog.show();
    const int collapsed = dialog.height();
    EXPECT_FALSE(dialog.detailsShown());
    EXPECT_TRUE(dialog.detailsButton()->text().endsWith(QStringLiteral(" >>")));
    EXPECT_EQ(dialog.summaryLabel()->text().toStdString(), "first line");

    dialog.detailsButton()->click();
    EXPECT_TRUE(dialog.detailsShown());
    EXPECT_TRUE(dialog.detailsButton()->text().endsWith(QStringLiteral(" <<")));
    EXPECT_GT(dialog.height(), collapsed);
    EXPECT_TRUE(dialog.detailsBox()->toPlainText().startsWith(QStringLiteral("Kestrel Beta")));
    EXPECT_TRUE(dialog.detailsBox()->toPlainText().contains(QStringLiteral("second \"part\"")));
    screenshot(dialog, "error_dialog_details");

    dialog.detailsButton()->click();
    EXPECT_FALSE(dialog.detailsShown());
    EXPECT_EQ(dialog.height(), collapsed);
}

TEST_F(ErrorDlgTest, SendReportOpensTheEncodedMailAndKeepsTheDialogOpen) {
    std::vector<QByteArray> opened;
    setUrlOpener([&](const QUrl& url) {
        opened.push_back(url.toEncoded());
        return true;
    });
    ErrorDlg dialog("Kestrel", sampleContents(), 0, {}, nullptr);
    dialog.show();
    dialog.sendReportButton()->click();
    setUrlOpener({});
    ASSERT_EQ(opened.size(), 1u);
    const std::string link = opened[0].toStdString();
    EXPECT_EQ(link.rfind("mailto:", 0), 0u);
    EXPECT_NE(link.find("Subject=Error%20Report"), std::string::npos);
    EXPECT_NE(link.find("second%20'part'"), std::string::npos) << link;
    // CR LF pairs become one escaped carriage return (Qt writes the hex digits in capitals).
    EXPECT_NE(
        QString::fromStdString(link).indexOf(QStringLiteral("first%20line%0dKsDoc"), 0, Qt::CaseInsensitive),
        -1)
        << link;
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(ErrorDlgTest, WithoutARecordTheDialogSaysUnspecifiedError) {
    ClearErrorRecord();
    int result = -1;
    QTimer::singleShot(0, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<ErrorDlg*>(widget); dialog && dialog->isVisible()) {
                EXPECT_EQ(dialog->summaryLabel()->text(), QStringLiteral("Unspecified Error."));
                dialog->typeButtons()[0]->click();
            }
        }
    });
    result = ShowErrorDialogWindow(0, nullptr);
    EXPECT_EQ(result, 1);
}

}  // namespace
}  // namespace kestrel::ui
