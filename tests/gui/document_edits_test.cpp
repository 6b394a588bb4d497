// The window never loses an edit: what panes, commands and other programs changed in the working
// folder marks the title, and nothing that would clear it goes on without offering the compile.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidgetItemIterator>

#include "app/document_controller.h"
#include "app/recent_files.h"
#include "core/pe/compile_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/resource_reader.h"
#include "core/pe/version_info.h"
#include "gui_test_support.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/image_wnd.h"
#include "ui/panes/pane_host.h"
#include "ui/panes/text_wnd.h"
#include "ui/panes/version_wnd.h"
#include "ui/widgets/code_editor.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kBitmap = 2, kString = 6, kGroupIcon = 14, kVersion = 16, kManifest = 24;

class DocumentEditsTest : public testing::IsolatedGuiTest {
  protected:
    void SetUp() override {
        PaneServices services;
        services.descriptionEdited = [this](XmlElement* select) {
            if (frame) frame->view()->descriptionEdited(select);
        };
        services.chooseReplacement = [](const fs::path&) { return fs::path(); };
        registerPaneFactory(PaneType::kText, makeTextPaneFactory(services));
        registerPaneFactory(PaneType::kImage, makeImagePaneFactory(services));
        registerPaneFactory(PaneType::kVersion, makeVersionPaneFactory({}));
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
        dll = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    }
    void TearDown() override {
        document->setView(nullptr);
        frame.reset();
        for (PaneType type : {PaneType::kText, PaneType::kImage, PaneType::kVersion})
            registerPaneFactory(type, {});
    }

    // Selects the first language of a resource with a numeric name; false when there is none.
    bool select(std::uint16_t type, std::uint16_t id, std::uint16_t language = 0) {
        ResourceTree* tree = frame->view()->tree();
        for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
            const auto resource = DescribeResourceEntry(document->description(), tree->elementOf(*it));
            if (resource && resource->type == ResourceKey::ofId(type) &&
                resource->name == ResourceKey::ofId(id) &&
                (language == 0 || resource->language == language)) {
                tree->setCurrentItem(*it);
                return true;
            }
        }
        return false;
    }
    template <typename PaneType>
    auto* activeWindow() {
        auto* pane = dynamic_cast<PaneType*>(frame->view()->paneHost()->activePane());
        return pane != nullptr ? pane->window() : nullptr;
    }
    VersionWnd* versionPane() { return activeWindow<VersionPane>(); }
    TextWnd* textPane() { return activeWindow<TextPane>(); }
    ImageWnd* imagePane() { return activeWindow<ImagePane>(); }
    // Types over the version form's value of `name` (without OK).
    bool typeVersionString(const QString& name, const QString& value) {
        VersionWnd* pane = versionPane();
        if (pane == nullptr) return false;
        for (int row = 0; row < kVersionStringRows; ++row) {
            if (pane->form()->nameEdit(row)->text() != name) continue;
            pane->form()->valueEdit(row)->setText(value);
            return true;
        }
        return false;
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<RecentFileList> recent;
    std::unique_ptr<DocumentController> controller;
    std::unique_ptr<CKsFrame> frame;
    fs::path dll;
};

TEST_F(DocumentEditsTest, UncompiledEditsMarkTheTitleAndAreOfferedBeforeAnythingIsCleared) {
    frame->openPath(dll);
    ASSERT_TRUE(document->isOpen());
    EXPECT_FALSE(frame->isWindowModified());
    // The import's bit-field bitmaps are told in the status bar, not in a box.
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("BI_BITFIELDS")));

    // Typing in a pane is an edit before anything is written.
    ASSERT_TRUE(select(kVersion, 1));
    ASSERT_TRUE(typeVersionString(QStringLiteral("CompanyName"), QStringLiteral("Edited Co")));
    frame->updateActions();
    EXPECT_TRUE(frame->isWindowModified());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("sample.dll[*] - Kestrel"));
    QApplication::processEvents();
    screenshot(*frame, "modified_title");

    // Cancel keeps the window and the edit; the pane's edit is in its file by then.
    sink.answers = {Answer::kCancel};
    EXPECT_FALSE(frame->close());
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_NE(sink.questions[0].find("sample.dll"), std::string::npos);
    EXPECT_TRUE(frame->isWindowModified());
    EXPECT_TRUE(document->IsModified());

    // Opening a file (here from the recent list's path) asks the same; Discard goes on.
    sink.answers = {Answer::kNo};
    frame->openPath(dll);
    EXPECT_EQ(sink.questions.size(), 2u);
    EXPECT_FALSE(frame->isWindowModified());

    // A change no command told of is found by the folder watch within its interval.
    temp_.write("data/Quillon/Kestrel/Temp/STRINGS.XML", "changed by another program");
    ASSERT_TRUE(testing::waitUntil([&] { return frame->isWindowModified(); },
                                   CKsFrame::kModifiedCheckIntervalMs * 3));

    // The import command asks before its import may touch the open project's folder.
    frame->view()->setImportChooser([](std::string&, std::string&) { return true; });
    sink.answers = {Answer::kCancel};
    frame->view()->importFile();
    EXPECT_EQ(sink.questions.size(), 3u);
    EXPECT_TRUE(sink.errors.empty());
}

TEST_F(DocumentEditsTest, FiveKindsOfEditSurviveExitThroughTheCompileQuestion) {
    frame->openPath(dll);
    ASSERT_TRUE(document->isOpen());
    const std::vector<std::byte> originalBitmap = [&] {
        ResourceLookup lookup;
        const std::vector<std::byte> bytes = testing::readBytes(dll);
        EXPECT_TRUE(lookup.open(Bytes(bytes.data(), bytes.size())).succeeded());
        const auto data = lookup.find(ResourceKey::ofId(kBitmap), ResourceKey::ofId(101), 1033);
        return data ? std::vector<std::byte>(data->begin(), data->end()) : std::vector<std::byte>{};
    }();

    // A manifest line.
    ASSERT_TRUE(select(kManifest, 2));
    ASSERT_NE(textPane(), nullptr);
    QTextCursor cursor(textPane()->editor()->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("<!-- edited in Kestrel -->"));
    // A version field, typed and left without OK.
    ASSERT_TRUE(select(kVersion, 1));
    ASSERT_TRUE(typeVersionString(QStringLiteral("CompanyName"), QStringLiteral("Edited Co")));
    // A string.
    ASSERT_TRUE(select(kString, 1, 1033));
    ASSERT_NE(textPane(), nullptr);
    QTextCursor found = textPane()->editor()->document()->find(QStringLiteral("Kestrel sample"));
    ASSERT_FALSE(found.isNull());
    found.insertText(QStringLiteral("Kestrel edited"));
    // An icon group replaced from an icon file with one 24-pixel image.
    ASSERT_TRUE(select(kGroupIcon, 1));
    ASSERT_NE(imagePane(), nullptr);
    const fs::path ico =
        temp_.write("in/new.ico", pebuilder::makeIcoFile({pebuilder::makeIconImage(24, 32, 9)}));
    imagePane()->ReplaceWith(ico);
    QApplication::processEvents();
    // A bitmap recoloured.
    ASSERT_TRUE(select(kBitmap, 101, 1033));
    ASSERT_NE(imagePane(), nullptr);
    imagePane()->colorizeEngine().BuildHueTables(512, 0, 0, 0, false, true);
    sink.answers = {Answer::kYes};
    EXPECT_EQ(imagePane()->ApplyColorize(true, false), 1);
    ASSERT_TRUE(sink.errors.empty()) << sink.errors.front();

    // Exit: compile, then yes to the copy over the PE file.
    sink.answers = {Answer::kYes, Answer::kYes};
    EXPECT_TRUE(frame->close());
    ASSERT_TRUE(sink.errors.empty()) << sink.errors.front();
    EXPECT_TRUE(fs::exists(BackupPathOf(dll)));

    // The PE file opens again and holds all five edits.
    ASSERT_TRUE(controller->openDocument(dll));
    const std::vector<std::byte> compiled = testing::readBytes(dll);
    ResourceLookup lookup;
    ASSERT_TRUE(lookup.open(Bytes(compiled.data(), compiled.size())).succeeded());
    auto text = [&](std::uint16_t type, std::uint16_t id) {
        const auto data = lookup.find(ResourceKey::ofId(type), ResourceKey::ofId(id));
        return data ? std::string(reinterpret_cast<const char*>(data->data()), data->size()) : std::string();
    };
    EXPECT_NE(text(kManifest, 2).find("<!-- edited in Kestrel -->"), std::string::npos);
    const auto version = lookup.find(ResourceKey::ofId(kVersion), ResourceKey::ofId(1));
    ASSERT_TRUE(version);
    VersionInfo info;
    ASSERT_TRUE(ParseVersionInfo(*version, info).succeeded());
    EXPECT_EQ(GetVersionString(info, u"CompanyName"), u"Edited Co");
    const std::u16string edited = u"Kestrel edited";
    const std::string block = text(kString, 1);
    EXPECT_NE(block.find(std::string(reinterpret_cast<const char*>(edited.data()), edited.size() * 2)),
              std::string::npos);
    const std::string group = text(kGroupIcon, 1);
    ASSERT_GE(group.size(), 7u);
    EXPECT_EQ(group[4], 1);   // one image
    EXPECT_EQ(group[6], 24);  // 24 pixels wide
    const auto bitmap = lookup.find(ResourceKey::ofId(kBitmap), ResourceKey::ofId(101), 1033);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->size(), originalBitmap.size());
    EXPECT_NE(std::vector<std::byte>(bitmap->begin(), bitmap->end()), originalBitmap);
}

TEST_F(DocumentEditsTest, AMissingRecentFileSaysSoAndLeavesTheList) {
    const fs::path gone = temp_ / "in/gone.dll";
    recent->add(gone);
    recent->add(dll);
    emit frame->fileMenu()->aboutToShow();
    QAction* entry = nullptr;
    for (QAction* item : frame->fileMenu()->actions())
        if (item->text().endsWith(QString::fromStdString(pathToUtf8(gone)))) entry = item;
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(sink.errors[0].rfind("无法打开文件 " + pathToUtf8(gone) + "：\r\n文件不存在。", 0), 0u);
    EXPECT_EQ(recent->entries(), std::vector<std::string>{pathToUtf8(dll)});
}

}  // namespace
}  // namespace kestrel::ui
