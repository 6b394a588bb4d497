// Find in resources in the window: typing lists the matches of what was typed last (every earlier
// search is cancelled), and choosing a result selects its resource in the tree and its match in the
// text or hex pane.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include "app/document_controller.h"
#include "app/recent_files.h"
#include "core/pe/description_edit.h"
#include "core/pe/resource_types.h"
#include "gui_test_support.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/resource_search_dock.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/hex_wnd.h"
#include "ui/panes/pane_host.h"
#include "ui/panes/text_wnd.h"
#include "ui/widgets/code_editor.h"
#include "ui/widgets/hex_edit.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;

class ResourceSearchTest : public testing::IsolatedGuiTest {
  protected:
    void SetUp() override {
        PaneServices services;
        services.chooseReplacement = [](const fs::path&) { return fs::path(); };
        registerPaneFactory(PaneType::kText, makeTextPaneFactory(services));
        registerPaneFactory(PaneType::kHex, makeHexPaneFactory(services));
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        recent = std::make_unique<RecentFileList>(settings_.get());
        document->setRecentFileList(recent.get());
        controller = std::make_unique<DocumentController>(*document, nullptr);
        FrameContext context{document.get(), controller.get(), settings_.get(),
                             recent.get(),   dataFolder(),     "1"};
        frame = std::make_unique<CKsFrame>(context);
        document->setView(frame->view());
        frame->view()->OnInitialUpdate();
        frame->resize(1000, 700);
        frame->show();
        frame->openPath(temp_.write("in/sample.dll", pebuilder::buildSampleImage()));
    }
    void TearDown() override {
        document->setView(nullptr);
        frame.reset();
        for (PaneType type : {PaneType::kText, PaneType::kHex})
            registerPaneFactory(type, {});
    }

    // Waits for the search of what the box holds now.
    bool searched() {
        return testing::waitUntil([&] { return !dock()->isSearching(); }, 10000);
    }
    ResourceSearchDock* dock() const { return frame->searchDock(); }
    QTreeWidget* results() const { return dock()->results(); }

    // The first result row of `type` whose place column starts with `place`; -1 when none.
    int rowOf(std::uint16_t type, const QString& place) const {
        for (int row = 0; row < results()->topLevelItemCount(); ++row) {
            QTreeWidgetItem* item = results()->topLevelItem(row);
            const QString resource = item->text(0);
            if (item->text(2).startsWith(place) &&
                resource.startsWith(QString::fromStdString(typeDisplayName(std::to_string(type)))))
                return row;
        }
        return -1;
    }
    std::optional<DescribedResource> selectedResource() const {
        ResourceTree* tree = frame->view()->tree();
        return DescribeResourceEntry(document->description(), tree->elementOf(tree->currentItem()));
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<RecentFileList> recent;
    std::unique_ptr<DocumentController> controller;
    std::unique_ptr<CKsFrame> frame;
};

TEST_F(ResourceSearchTest, TypedQueryListsMatchesAndChoosingOneSelectsResourceAndMatch) {
    ASSERT_TRUE(document->isOpen());
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    QTest::keyClick(frame->view()->tree(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_NE(dock(), nullptr);
    EXPECT_TRUE(dock()->isVisible());
    EXPECT_TRUE(dock()->queryBox()->hasFocus());

    // Each key starts a search and cancels the one before: only matches of the whole text remain.
    QTest::keyClicks(dock()->queryBox(), QStringLiteral("KESTREL SAMPLE"));
    ASSERT_TRUE(searched());
    ASSERT_GE(results()->topLevelItemCount(), 3);
    for (int row = 0; row < results()->topLevelItemCount(); ++row)
        EXPECT_TRUE(results()->topLevelItem(row)->text(3).contains(QStringLiteral("kestrel sample"),
                                                                   Qt::CaseInsensitive))
            << results()->topLevelItem(row)->text(3).toStdString();
    QApplication::processEvents();
    screenshot(*frame, "resource_search_sample");

    // The manifest: its resource is selected and the match in the text pane.
    const int manifest = rowOf(resource_type::kManifest, QString());
    ASSERT_GE(manifest, 0);
    dock()->choose(manifest);
    ASSERT_TRUE(selectedResource());
    EXPECT_EQ(selectedResource()->type, ResourceKey::ofId(resource_type::kManifest));
    auto* text = qobject_cast<TextWnd*>(frame->view()->paneHost()->activeWidget());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->editor()->textCursor().selectedText(), QStringLiteral("Kestrel sample"));
    EXPECT_TRUE(text->editor()->toPlainText().mid(text->editor()->textCursor().selectionStart() - 13, 13) ==
                QStringLiteral("<description>"));

    // A string: the string table of its language, and the string's text in STRINGS.XML.
    const int string = rowOf(resource_type::kString, QString());
    ASSERT_GE(string, 0);
    dock()->choose(string);
    ASSERT_TRUE(selectedResource());
    EXPECT_EQ(selectedResource()->type, ResourceKey::ofId(resource_type::kString));
    EXPECT_EQ(selectedResource()->language, 1033);
    text = qobject_cast<TextWnd*>(frame->view()->paneHost()->activeWidget());
    ASSERT_NE(text, nullptr);
    QTextCursor selection = text->editor()->textCursor();
    EXPECT_EQ(selection.selectedText(), QStringLiteral("Kestrel sample"));
    EXPECT_TRUE(
        text->editor()->toPlainText().mid(0, selection.selectionStart()).endsWith(QStringLiteral("S=\"")));

    // Case matters when asked: nothing is written in capitals.
    dock()->caseBox()->setChecked(true);
    ASSERT_TRUE(searched());
    EXPECT_EQ(results()->topLevelItemCount(), 0);
    dock()->caseBox()->setChecked(false);

    // Chinese (set as a whole: key clicks cannot type it) finds the Chinese dialog and string.
    dock()->queryBox()->setText(QStringLiteral("示例"));
    ASSERT_TRUE(searched());
    EXPECT_GE(rowOf(resource_type::kDialog, QString()), 0);
    // The tree lists no item of its own for Chinese strings (the language comes first in no block):
    // the string table's item shows STRINGS.XML with the match selected all the same.
    const int chinese = rowOf(resource_type::kString, QString());
    ASSERT_GE(chinese, 0);
    dock()->choose(chinese);
    ASSERT_TRUE(selectedResource());
    EXPECT_EQ(selectedResource()->type, ResourceKey::ofId(resource_type::kString));
    text = qobject_cast<TextWnd*>(frame->view()->paneHost()->activeWidget());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->editor()->textCursor().selectedText(), QStringLiteral("示例"));
    EXPECT_TRUE(text->editor()->textCursor().block().text().contains(QStringLiteral("L='2052'")))
        << text->editor()->textCursor().block().text().toStdString();
}

TEST_F(ResourceSearchTest, HexBytesAreFoundInFilesAndSelectedInTheHexPane) {
    frame->showResourceSearch();
    dock()->hexBox()->setChecked(true);
    dock()->queryBox()->setText(QStringLiteral("4d 5"));
    ASSERT_TRUE(searched());
    EXPECT_EQ(results()->topLevelItemCount(), 0);
    EXPECT_FALSE(dock()->status()->text().isEmpty());

    // "raw data \x01\x02\x03" is RC data 1: "data" then the byte 01.
    dock()->queryBox()->setText(QStringLiteral("64 61 74 61 20 01"));
    ASSERT_TRUE(searched());
    const int row = rowOf(resource_type::kRcData, QString());
    ASSERT_GE(row, 0);
    dock()->choose(row);
    ASSERT_TRUE(selectedResource());
    EXPECT_EQ(selectedResource()->type, ResourceKey::ofId(resource_type::kRcData));
    auto* hex = qobject_cast<HexWnd*>(frame->view()->paneHost()->activeWidget());
    ASSERT_NE(hex, nullptr);
    EXPECT_EQ(hex->hexEdit()->model().selectionStart(), 4);
    EXPECT_EQ(hex->hexEdit()->model().selectionEnd(), 9);
}

}  // namespace
}  // namespace kestrel::ui
