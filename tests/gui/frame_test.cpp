#include "ui/frame/ks_frame.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include "app/recent_files.h"
#include "core/platform/paths.h"
#include "gui_test_support.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/image_wnd.h"
#include "ui/panes/pane_host.h"

namespace kestrel::ui {
namespace {

class FrameTest : public testing::IsolatedGuiTest {
  protected:
    std::unique_ptr<CKsFrame> makeFrame() {
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        recent = std::make_unique<RecentFileList>(settings_.get());
        document->setRecentFileList(recent.get());
        controller = std::make_unique<DocumentController>(*document, nullptr);
        FrameContext context{document.get(), controller.get(), settings_.get(),
                             recent.get(),   dataFolder(),     "Kestrel Beta 版本 1.020000"};
        auto frame = std::make_unique<CKsFrame>(context);
        document->setView(frame->view());
        frame->view()->OnInitialUpdate();
        return frame;
    }
    void TearDown() override {
        if (document) document->setView(nullptr);
    }
    // Drags `data` over the frame and drops it there; whether the frame accepted the drag.
    static bool dragAndDrop(CKsFrame& frame, const QMimeData& data) {
        const QPoint centre = frame.rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &enter);
        QDragMoveEvent move(centre, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &move);
        QDropEvent drop(centre, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &drop);
        QApplication::processEvents();
        EXPECT_EQ(enter.isAccepted(), move.isAccepted());
        EXPECT_EQ(enter.isAccepted(), drop.isAccepted());
        return enter.isAccepted();
    }
    static std::unique_ptr<QMimeData> urls(const std::vector<QUrl>& list) {
        auto data = std::make_unique<QMimeData>();
        data->setUrls(QList<QUrl>(list.begin(), list.end()));
        return data;
    }
    static QUrl local(const std::filesystem::path& path) {
        return QUrl::fromLocalFile(QString::fromStdString(pathToUtf8(path)));
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<RecentFileList> recent;
    std::unique_ptr<DocumentController> controller;
};

TEST_F(FrameTest, FirstStartOpensAtHalfTheDesktop) {
    auto frame = makeFrame();
    const QRect desktop = QGuiApplication::primaryScreen()->geometry();
    const SettingsRect rect = frame->initialRect();
    EXPECT_EQ(rect.right - rect.left, desktop.width() / 2);
    EXPECT_EQ(rect.bottom - rect.top, desktop.height() / 2);
    EXPECT_FALSE(frame->opensMaximized());
}

TEST_F(FrameTest, TinyStoredRectangleIsReplacedAndLayoutRoundTrips) {
    (void)settings_->SetRectSetting("Layout", "MainRect", {0, 0, 1, 1});
    auto frame = makeFrame();
    EXPECT_EQ(frame->initialRect(), frame->defaultRect());

    frame->show();
    frame->move(40, 30);
    frame->resize(700, 450);
    frame->saveLayout();
    SettingsRect stored;
    (void)settings_->GetRectSetting("Layout", "MainRect", stored, {});
    const QRect outer = frame->frameGeometry();
    EXPECT_EQ(stored, (SettingsRect{outer.left(), outer.top(), outer.left() + outer.width(),
                                    outer.top() + outer.height()}));
    frame.reset();
    auto again = makeFrame();
    EXPECT_EQ(again->initialRect(), stored);
}

TEST_F(FrameTest, MaximisedStateIsStoredAndRestored) {
    auto frame = makeFrame();
    frame->showMaximized();
    QApplication::processEvents();
    frame->close();
    int maximised = 0;
    (void)settings_->GetIntSetting("Layout", "Max", maximised, 0);
    EXPECT_EQ(maximised, 1);
    frame.reset();
    auto again = makeFrame();
    EXPECT_TRUE(again->opensMaximized());
}

TEST_F(FrameTest, InsertTogglesTheSettingAndOvrShowsOnlyInOverwriteMode) {
    auto frame = makeFrame();
    EXPECT_EQ(frame->overwriteIndicator()->text(), QStringLiteral("OVR"));
    frame->action("insert")->trigger();
    int insert = 0;
    (void)settings_->GetIntSetting("Flag", "Insert", insert, 0);
    EXPECT_EQ(insert, 1);
    EXPECT_TRUE(frame->overwriteIndicator()->text().isEmpty());
    // Any value other than 0 counts as insert mode and toggles back to 0.
    (void)settings_->SetIntSetting("Flag", "Insert", 7);
    frame->toggleInsert();
    (void)settings_->GetIntSetting("Flag", "Insert", insert, 0);
    EXPECT_EQ(insert, 0);
    EXPECT_EQ(frame->overwriteIndicator()->text(), QStringLiteral("OVR"));
}

TEST_F(FrameTest, FeedbackLinkHidesWhenTheMenusReachIt) {
    auto frame = makeFrame();
    frame->show();
    frame->resize(1000, 500);
    QApplication::processEvents();
    EXPECT_TRUE(frame->feedbackLink()->isVisible());
    frame->resize(frame->minimumSizeHint().width(), 500);
    QApplication::processEvents();
    EXPECT_FALSE(frame->feedbackLink()->isVisible());
}

// The edit keys run their commands on what the window shows: both keys of Copy copy the picture of
// the shown bitmap, and Ctrl+D asks before deleting the selected resource. Without a project the
// commands that need one are greyed.
TEST_F(FrameTest, CommandsAndShortcuts) {
    auto frame = makeFrame();
    EXPECT_FALSE(frame->action("delete")->isEnabled());
    EXPECT_FALSE(frame->action("add")->isEnabled());
    EXPECT_FALSE(frame->action("save")->isEnabled());
    EXPECT_FALSE(frame->action("undo")->isEnabled());
    frame->action("undo")->trigger();
    // Import and Compile are reachable from the File menu.
    EXPECT_TRUE(frame->fileMenu()->actions().contains(frame->action("import")));
    EXPECT_TRUE(frame->fileMenu()->actions().contains(frame->action("compile")));

    registerPaneFactory(PaneType::kImage, makeImagePaneFactory({}));
    struct FactoryReset {
        ~FactoryReset() { registerPaneFactory(PaneType::kImage, {}); }
    } factoryReset;
    const auto dll = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    frame->setOpenChooser([&] { return std::optional<std::filesystem::path>(dll); });
    frame->openFile();
    ASSERT_TRUE(document->isOpen());
    frame->show();
    frame->resize(900, 600);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    const auto items = frame->view()->tree()->findItems(QStringLiteral("101 (Deutsch (Deutschland))"),
                                                        Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_FALSE(items.isEmpty());
    frame->view()->tree()->setCurrentItem(items.front());
    ASSERT_EQ(frame->view()->paneHost()->kind(), PaneKind::kImage);
    // The keys as the window gets them, away from the tree (which has keys of its own).
    QWidget* pane = frame->view()->paneHost();
    pane->setFocus();
    QClipboard* clipboard = QGuiApplication::clipboard();
    for (const QKeyCombination key : {Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert}) {
        clipboard->clear();
        QTest::keyClick(pane, key.key(), key.keyboardModifiers());
        EXPECT_FALSE(clipboard->image().isNull()) << QKeySequence(key).toString().toStdString();
    }
    sink.answers = {Answer::kNo};
    QTest::keyClick(pane, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(sink.questions.size(), 1u);
    EXPECT_FALSE(
        frame->view()
            ->tree()
            ->findItems(QStringLiteral("101 (Deutsch (Deutschland))"), Qt::MatchExactly | Qt::MatchRecursive)
            .isEmpty());
}

TEST_F(FrameTest, OpenSaveAndReopenOfTheProject) {
    auto frame = makeFrame();
    const auto dll = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    frame->setOpenChooser([&] { return std::optional<std::filesystem::path>(dll); });
    frame->openFile();
    ASSERT_TRUE(document->isOpen());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("sample.dll[*] - Kestrel"));
    EXPECT_GT(frame->view()->tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(std::filesystem::exists(dataFolder() / "Temp" / "sample.kestrel"));
    EXPECT_EQ(recent->entries().front(), pathToUtf8(dll));
    // The File menu lists it in place of the greyed placeholder.
    emit frame->fileMenu()->aboutToShow();
    QStringList texts;
    for (QAction* item : frame->fileMenu()->actions())
        if (item->isVisible()) texts << item->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("&1 ") + QString::fromStdString(pathToUtf8(dll))));
    EXPECT_FALSE(texts.contains(QStringLiteral("最近的文件")));

    frame->show();
    frame->resize(900, 600);
    // The stored splitter position survives the window being built before it is shown.
    EXPECT_EQ(frame->view()->splitterPosition(), CKsView::kDefaultSplitterX);
    auto items = frame->view()->tree()->findItems(QStringLiteral("101 (Deutsch (Deutschland))"),
                                                  Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_FALSE(items.isEmpty());
    frame->view()->tree()->setCurrentItem(items.front());
    EXPECT_EQ(frame->view()->paneHost()->kind(), PaneKind::kImage);
    EXPECT_TRUE(frame->statusBar()->currentMessage().endsWith(QStringLiteral("Bitmap00101.BMP")));
    QApplication::processEvents();
    screenshot(*frame, "main_window");

    // Save compiles and asks about the copy: No keeps the original, Yes replaces it.
    const auto original = testing::readBytes(dll);
    sink.answers = {Answer::kNo};
    frame->action("save")->trigger();
    EXPECT_EQ(testing::readBytes(dll), original);
    EXPECT_TRUE(document->isOpen());
    sink.answers = {Answer::kYes};
    frame->action("save")->trigger();
    EXPECT_TRUE(sink.errors.empty()) << sink.errors.front();
    EXPECT_TRUE(document->isOpen());
    EXPECT_GT(frame->view()->tree()->topLevelItemCount(), 0);
}

TEST_F(FrameTest, DroppedPeFileOrProjectOpensAsFileOpenDoes) {
    auto frame = makeFrame();
    frame->show();
    EXPECT_TRUE(frame->acceptDrops());
    const auto dll = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    EXPECT_TRUE(dragAndDrop(*frame, *urls({local(dll)})));
    ASSERT_TRUE(document->isOpen());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("sample.dll[*] - Kestrel"));
    EXPECT_TRUE(std::filesystem::exists(dataFolder() / "Temp" / "sample.kestrel"));
    EXPECT_EQ(recent->entries().front(), pathToUtf8(dll));
    EXPECT_GT(frame->view()->tree()->topLevelItemCount(), 0);

    // A project opens where it is, without an import into Temp.
    const auto project = importSample("elsewhere");
    EXPECT_TRUE(dragAndDrop(*frame, *urls({local(project)})));
    EXPECT_EQ(document->projectPath(), project);
    EXPECT_GT(frame->view()->tree()->topLevelItemCount(), 0);
}

TEST_F(FrameTest, DropsOtherThanOneLocalFileAreIgnored) {
    auto frame = makeFrame();
    frame->show();
    const auto dll = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    const auto other = temp_.write("in/other.dll", pebuilder::buildSampleImage());
    std::vector<std::pair<const char*, std::unique_ptr<QMimeData>>> drags;
    drags.emplace_back("two files", urls({local(dll), local(other)}));
    drags.emplace_back("a web address", urls({QUrl(QStringLiteral("https://example.org/sample.dll"))}));
    drags.emplace_back("a folder", urls({local(temp_ / "in")}));
    drags.emplace_back("a missing file", urls({local(temp_ / "in" / "gone.dll")}));
    drags.emplace_back("no addresses", urls({}));
    drags.emplace_back("text only", std::make_unique<QMimeData>());
    drags.back().second->setText(QString::fromStdString(pathToUtf8(dll)));
    for (const auto& [what, data] : drags) {
        EXPECT_FALSE(dragAndDrop(*frame, *data)) << what;
        EXPECT_FALSE(document->isOpen()) << what;
    }
    EXPECT_TRUE(sink.errors.empty()) << sink.errors.front();
}

TEST_F(FrameTest, AboutBoxShowsTheVersionText) {
    auto frame = makeFrame();
    AboutDlg about("Kestrel Beta 版本 1.020000", frame.get());
    about.show();
    auto* label = about.findChild<QLabel*>(QStringLiteral("version"));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().contains(QStringLiteral("Kestrel Beta 版本 1.020000")));
    screenshot(about, "about_box");
}

}  // namespace
}  // namespace kestrel::ui
