// Dialogs, menus, accelerator tables and message tables edited as script text in the window: the
// preview follows the text, a fault keeps the last good preview and names its line, and the host's
// commit writes the compiled bytes; Add Language copies a language's resources.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidgetItemIterator>

#include "app/document_controller.h"
#include "app/recent_files.h"
#include "core/pe/description_edit.h"
#include "core/pe/dialog_template.h"
#include "core/pe/menu_template.h"
#include "core/pe/rc_script.h"
#include "core/pe/resource_types.h"
#include "gui_test_support.h"
#include "ui/dialogs/add_language_dlg.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/dialog_preview.h"
#include "ui/panes/hex_wnd.h"
#include "ui/panes/menu_preview.h"
#include "ui/panes/pane_host.h"
#include "ui/panes/preview_wnd.h"
#include "ui/panes/text_wnd.h"
#include "ui/widgets/code_editor.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;

// Replaces the first occurrence of `from` in the editor's text as typing would (one edit).
bool replaceInEditor(CodeEditor& editor, const QString& from, const QString& to) {
    QTextCursor found = editor.document()->find(from);
    if (found.isNull()) return false;
    found.insertText(to);
    return true;
}

// Inserts a line before line `line` (1-based).
void insertLineBefore(CodeEditor& editor, int line, const QString& text) {
    QTextCursor cursor(editor.document()->findBlockByNumber(line - 1));
    cursor.insertText(text + QLatin1Char('\n'));
}

class ScriptEditTest : public testing::IsolatedGuiTest {
  protected:
    void SetUp() override {
        registerPaneFactory(PaneType::kDialog, makeDialogPaneFactory());
        registerPaneFactory(PaneType::kMenu, makeMenuPaneFactory());
        registerPaneFactory(PaneType::kText, makeTextPaneFactory({}));
        registerPaneFactory(PaneType::kHex, makeHexPaneFactory({}));
    }
    void TearDown() override {
        host.reset();
        for (PaneType type : {PaneType::kDialog, PaneType::kMenu, PaneType::kText, PaneType::kHex})
            registerPaneFactory(type, {});
    }
    bool importCorpus(const std::string& relative) {
        const fs::path file = testing::corpusFile(relative);
        fs::path project;
        if (file.empty() || DecompileProject(file, temp_ / "work", project).failed()) return false;
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        if (!document->OpenProject(project)) return false;
        files = testing::projectFiles(document->description(), temp_ / "work", resourceTypeOf);
        host = std::make_unique<PaneHost>();
        QObject::connect(host.get(), &PaneHost::editsStored, [this] { ++stored; });
        host->resize(1100, 640);
        host->QWidget::show();
        return true;
    }
    std::vector<testing::ProjectFile> ofType(int type) const {
        std::vector<testing::ProjectFile> result;
        for (const testing::ProjectFile& file : files) {
            XmlElement* entry = file.element != nullptr ? file.element->parent() : nullptr;
            XmlAttribute* id = entry != nullptr ? XmlDocument::FindAttribute(entry, "ID") : nullptr;
            if (file.type == type && id != nullptr && id->value() == "1033") result.push_back(file);
        }
        return result;
    }
    template <typename Pane>
    Pane* show(const testing::ProjectFile& file) {
        host->ShowFile(document.get(), file.name, file.element, ShowMode::kTreeSelection);
        return dynamic_cast<Pane*>(host->activePane());
    }
    static void screenshotOf(QWidget& widget, const std::string& name) {
        QCoreApplication::processEvents();
        screenshot(widget, name);
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::vector<testing::ProjectFile> files;
    std::unique_ptr<PaneHost> host;
    int stored = 0;
};

constexpr const char* kComdlg32 = "usr/lib/i386-linux-gnu/wine/i386-windows/comdlg32.dll";
constexpr const char* kNotepad = "usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe";
constexpr const char* kKernelbase = "usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernelbase.dll";

TEST_F(ScriptEditTest, DialogCaptionEditedInTheScriptReachesThePreviewAndTheFile) {
    if (!importCorpus(kComdlg32)) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    // The dialog with a caption and the most controls.
    const testing::ProjectFile* chosen = nullptr;
    std::size_t most = 0;
    std::vector<testing::ProjectFile> dialogs = ofType(resource_type::kDialog);
    for (const testing::ProjectFile& file : dialogs) {
        DialogTemplate dialog;
        const std::vector<std::byte> bytes = testing::readBytes(file.path);
        if (DecodeDialogTemplate(bytes, dialog).succeeded() && !dialog.title.empty() &&
            dialog.items.size() > most) {
            most = dialog.items.size();
            chosen = &file;
        }
    }
    ASSERT_NE(chosen, nullptr);
    DialogPane* pane = show<DialogPane>(*chosen);
    ASSERT_NE(pane, nullptr);
    DialogWnd* wnd = pane->window();
    const std::vector<std::byte> original = testing::readBytes(chosen->path);
    DialogTemplate before;
    ASSERT_TRUE(DecodeDialogTemplate(original, before).succeeded());

    // Nothing is written while the script is only looked at.
    wnd->scriptAction()->trigger();
    ASSERT_TRUE(wnd->isScriptShown());
    EXPECT_FALSE(wnd->isModified());
    EXPECT_TRUE(host->CommitPane());
    EXPECT_EQ(stored, 0);
    const QString caption = QString::fromStdU16String(before.title);
    ASSERT_TRUE(
        wnd->scriptEditor()->document()->toPlainText().contains(QStringLiteral("CAPTION \"") + caption));
    screenshotOf(*host, "script_dialog_comdlg32");

    // The preview follows the text after the typing pause.
    ASSERT_TRUE(replaceInEditor(*wnd->scriptEditor(), QStringLiteral("CAPTION \"") + caption,
                                QStringLiteral("CAPTION \"Übersetzt")));
    ASSERT_TRUE(testing::waitUntil([&] {
        auto* preview = qobject_cast<DialogPreview*>(wnd->preview());
        return preview != nullptr &&
               QString::fromStdU16String(preview->dialog().title).startsWith("Übersetzt");
    }));
    EXPECT_TRUE(wnd->scriptStatus()->text().isEmpty());
    EXPECT_EQ(testing::readBytes(chosen->path), original);

    // A fault keeps the last good preview and names its line.
    QWidget* good = wnd->preview();
    insertLineBefore(*wnd->scriptEditor(), 3, QStringLiteral("NOT A STATEMENT ("));
    EXPECT_FALSE(wnd->followScript());
    EXPECT_EQ(wnd->preview(), good);
    EXPECT_TRUE(wnd->scriptStatus()->text().contains(QStringLiteral("第 3 行")))
        << wnd->scriptStatus()->text().toStdString();
    // The commit refuses it: the error is shown, the file and the edits stay.
    EXPECT_FALSE(host->CommitPane());
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("3"), std::string::npos);
    EXPECT_EQ(testing::readBytes(chosen->path), original);
    EXPECT_TRUE(wnd->isModified());
    screenshotOf(*host, "script_dialog_fault");

    // Mended through the window's Undo, the commit writes the compiled template: only the caption
    // changed.
    ASSERT_TRUE(host->canEdit(EditCommand::kUndo));
    host->edit(EditCommand::kUndo);
    ASSERT_TRUE(wnd->followScript());
    ASSERT_TRUE(host->CommitPane());
    EXPECT_EQ(stored, 1);
    EXPECT_FALSE(wnd->isModified());
    DialogTemplate after;
    ASSERT_TRUE(DecodeDialogTemplate(testing::readBytes(chosen->path), after).succeeded());
    EXPECT_EQ(after.title, u"Übersetzt");
    after.title = before.title;
    EXPECT_EQ(after, before);
}

TEST_F(ScriptEditTest, MenuItemEditedInTheScriptReachesThePreviewAndTheFile) {
    if (!importCorpus(kNotepad)) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    const std::vector<testing::ProjectFile> menus = ofType(resource_type::kMenu);
    ASSERT_FALSE(menus.empty());
    MenuPane* pane = show<MenuPane>(menus[0]);
    ASSERT_NE(pane, nullptr);
    MenuWnd* wnd = pane->window();
    const std::vector<std::byte> original = testing::readBytes(menus[0].path);
    MenuTemplate before;
    ASSERT_TRUE(DecodeMenuTemplate(original, before).succeeded());
    ASSERT_FALSE(before.items.empty());
    const QString first = QString::fromStdU16String(before.items[0].text);

    wnd->ShowScript(true);
    EXPECT_TRUE(wnd->scriptAction()->isChecked());
    screenshotOf(*host, "script_menu_notepad");
    ASSERT_TRUE(replaceInEditor(*wnd->scriptEditor(), QLatin1Char('"') + first + QLatin1Char('"'),
                                QStringLiteral("\"&Datei\"")));
    ASSERT_TRUE(testing::waitUntil([&] {
        auto* preview = qobject_cast<MenuPreview*>(wnd->preview());
        return preview != nullptr && preview->menu().items[0].text == u"&Datei";
    }));

    // An unclosed pop-up: the preview keeps "&Datei", the status names the line of the end.
    QWidget* good = wnd->preview();
    QTextCursor end(wnd->scriptEditor()->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QStringLiteral("\nPOPUP \"Broken\"\nBEGIN\n"));
    const int lines = wnd->scriptEditor()->document()->blockCount();
    EXPECT_FALSE(wnd->followScript());
    EXPECT_EQ(wnd->preview(), good);
    EXPECT_TRUE(wnd->scriptStatus()->text().contains(QStringLiteral("第 ")));
    EXPECT_FALSE(host->CommitPane());
    EXPECT_EQ(testing::readBytes(menus[0].path), original);
    (void)lines;

    // Hiding the script keeps the edit pending; the commit writes the compiled menu.
    wnd->scriptEditor()->undo();
    wnd->ShowScript(false);
    EXPECT_TRUE(host->hasPendingEdits());
    ASSERT_TRUE(host->CommitPane());
    MenuTemplate after;
    ASSERT_TRUE(DecodeMenuTemplate(testing::readBytes(menus[0].path), after).succeeded());
    EXPECT_EQ(after.items[0].text, u"&Datei");
    // Everything else of the menu is as it was.
    after.items[0].text = before.items[0].text;
    EXPECT_EQ(after, before);
}

TEST_F(ScriptEditTest, AcceleratorsAreEditedAsTextAndWrittenBack) {
    if (!importCorpus(kNotepad)) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    std::vector<testing::ProjectFile> tables = ofType(resource_type::kAccelerator);
    if (tables.empty()) {
        for (const testing::ProjectFile& file : files)
            if (file.type == resource_type::kAccelerator) tables.push_back(file);
    }
    ASSERT_FALSE(tables.empty());
    auto* pane = show<TextPane>(tables[0]);
    ASSERT_NE(pane, nullptr);
    TextWnd* wnd = pane->window();
    ASSERT_TRUE(wnd->isScript());
    EXPECT_FALSE(wnd->isBinary());
    const std::vector<std::byte> original = testing::readBytes(tables[0].path);
    const QString text = wnd->editor()->document()->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("ACCELERATORS")));

    // A fault is refused with its line; the file stays.
    QTextCursor end(wnd->editor()->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QStringLiteral("\n\"Q\", 1, NOSUCHFLAG\n"));
    EXPECT_FALSE(host->CommitPane());
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(testing::readBytes(tables[0].path), original);
    wnd->editor()->undo();

    // One more key before END: the table grows by one 8-byte entry and decodes to the text.
    QTextCursor last = wnd->editor()->document()->find(
        QStringLiteral("END"), 0, QTextDocument::FindCaseSensitively | QTextDocument::FindWholeWords);
    ASSERT_FALSE(last.isNull());
    last.movePosition(QTextCursor::StartOfBlock);
    last.insertText(QStringLiteral("    123, 40123, VIRTKEY, CONTROL\n"));
    ASSERT_TRUE(host->CommitPane());
    EXPECT_EQ(stored, 1);
    const std::vector<std::byte> written = testing::readBytes(tables[0].path);
    EXPECT_EQ(written.size(), original.size() + 8);
    ScriptText decoded;
    ASSERT_TRUE(AcceleratorsToScript(written, {}, decoded).succeeded());
    EXPECT_NE(decoded.text.find("40123"), std::string::npos);
}

TEST_F(ScriptEditTest, MessageTableIsEditedAsTextAndWrittenBack) {
    if (!importCorpus(kKernelbase)) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    std::vector<testing::ProjectFile> tables;
    for (const testing::ProjectFile& file : files)
        if (file.type == resource_type::kMessageTable) tables.push_back(file);
    ASSERT_FALSE(tables.empty());
    auto* pane = show<TextPane>(tables[0]);
    ASSERT_NE(pane, nullptr);
    TextWnd* wnd = pane->window();
    ASSERT_TRUE(wnd->isScript());
    const std::vector<std::byte> original = testing::readBytes(tables[0].path);
    QTextCursor top(wnd->editor()->document());
    wnd->editor()->setTextCursor(top);
    screenshotOf(*host, "script_message_table_kernelbase");

    // Untouched, nothing is written; leaving the entry keeps every byte.
    EXPECT_FALSE(host->hasPendingEdits());
    EXPECT_TRUE(host->CommitPane());
    EXPECT_EQ(testing::readBytes(tables[0].path), original);

    // The first message's text, translated: its line follows "Language=".
    const QTextBlock language = wnd->editor()->document()->find(QStringLiteral("Language=")).block();
    ASSERT_TRUE(language.isValid());
    const QTextBlock textLine = language.next();
    QTextCursor line(textLine);
    line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    line.insertText(QStringLiteral("Übersetzte Meldung"));
    ASSERT_TRUE(host->CommitPane());
    ScriptText decoded;
    ASSERT_TRUE(MessageTableToScript(testing::readBytes(tables[0].path), {}, decoded).succeeded());
    EXPECT_NE(decoded.text.find("Übersetzte Meldung"), std::string::npos);
    EXPECT_NE(testing::readBytes(tables[0].path), original);

    // "查看 Hex" still leads to the bytes.
    wnd->hexAction()->trigger();
    ASSERT_TRUE(testing::waitUntil([&] { return dynamic_cast<HexPane*>(host->activePane()) != nullptr; }));
}

TEST(AddLanguageDlg, TakesANameFromTheListOrANumberAndRefusesTheSourceLanguage) {
    testing::GuiScriptedSink sink;
    CAddLanguageDlg dialog({0x0000, 0x0409, 0x0804}, 0x0409);
    ASSERT_EQ(dialog.sourceBox()->count(), 3);
    EXPECT_EQ(dialog.sourceBox()->currentData().toInt(), 0x0409);
    EXPECT_TRUE(dialog.sourceBox()->currentText().startsWith(QStringLiteral("English (United States)")));
    EXPECT_TRUE(dialog.sourceBox()->currentText().endsWith(QStringLiteral("0x0409")));
    // Languages the file has are not offered as new ones.
    EXPECT_EQ(dialog.targetBox()->findData(0x0804), -1);
    const int german = dialog.targetBox()->findData(0x0407);
    ASSERT_GE(german, 0);
    EXPECT_TRUE(dialog.targetBox()->itemText(german).contains(QStringLiteral("Deutsch")));

    dialog.targetBox()->setCurrentIndex(german);
    auto request = dialog.request();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->source, 0x0409);
    EXPECT_EQ(request->target, 0x0407);
    dialog.targetBox()->setEditText(QStringLiteral("0x0c07"));
    ASSERT_TRUE(dialog.request());
    EXPECT_EQ(dialog.request()->target, 0x0C07);
    for (const char* wrong : {"1033", "0x10000", "German", ""}) {
        SCOPED_TRACE(wrong);
        dialog.targetBox()->setEditText(QString::fromLatin1(wrong));
        EXPECT_FALSE(dialog.request(true));
    }
    EXPECT_EQ(sink.messages.size(), 4u);
    // Numbers without locale data still get a label.
    EXPECT_EQ(languageLabel(0x7C99), QStringLiteral("0x7C99"));
    EXPECT_TRUE(languageLabel(0x0007).startsWith(QStringLiteral("German · Deutsch")));
}

TEST_F(ScriptEditTest, AddLanguageFromTheToolsMenuCopiesTheResourcesAndShowsThem) {
    PaneServices services;
    registerPaneFactory(PaneType::kText, makeTextPaneFactory(services));
    auto opened = std::make_unique<CKsDoc>(dataFolder() / "Temp");
    RecentFileList recent(settings_.get());
    opened->setRecentFileList(&recent);
    DocumentController controller(*opened, nullptr);
    FrameContext context{opened.get(), &controller, settings_.get(), &recent, dataFolder(), "1"};
    auto frame = std::make_unique<CKsFrame>(context);
    opened->setView(frame->view());
    frame->view()->OnInitialUpdate();
    frame->resize(1000, 700);
    frame->show();
    frame->openPath(temp_.write("in/sample.dll", pebuilder::buildSampleImage()));
    ASSERT_TRUE(opened->isOpen());
    std::vector<std::uint16_t> offered;
    std::uint16_t proposed = 0;
    frame->view()->setAddLanguageChooser(
        [&](const std::vector<std::uint16_t>& present, std::uint16_t source) {
            offered = present;
            proposed = source;
            return std::optional(AddLanguageRequest{1033, 0x0C07});
        });
    QAction* action = frame->action("addLanguage");
    ASSERT_NE(action, nullptr);
    frame->updateActions();
    ASSERT_TRUE(action->isEnabled());
    action->trigger();
    ASSERT_TRUE(sink.errors.empty()) << sink.errors.front();
    EXPECT_NE(std::find(offered.begin(), offered.end(), 1033), offered.end());
    // U.S. English is proposed as the source even where the tree starts with another language.
    EXPECT_EQ(proposed, 1033);

    // The tree lists the copies, the first of them is selected, pe.xml names them on disk.
    ResourceTree* tree = frame->view()->tree();
    int german = 0;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        const auto resource = DescribeResourceEntry(opened->description(), tree->elementOf(*it));
        if (resource && resource->language == 0x0C07) ++german;
    }
    EXPECT_GT(german, 3);
    const auto selected = DescribeResourceEntry(opened->description(), tree->elementOf(tree->currentItem()));
    ASSERT_TRUE(selected);
    EXPECT_EQ(selected->language, 0x0C07);
    XmlDocument written;
    ASSERT_TRUE(written.LoadFile(opened->descriptionPath()).succeeded());
    EXPECT_FALSE(ListResourceEntries(written).empty());
    EXPECT_NE(ListResourceLanguages(written), std::vector<std::uint16_t>{1033});
    frame->updateActions();
    EXPECT_TRUE(frame->isWindowModified());
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("个位图保留原来的语言")));

    // A second copy to the same language clashes and is shown as an error; nothing changes.
    const std::size_t entries = ListResourceEntries(opened->description()).size();
    action->trigger();
    EXPECT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(ListResourceEntries(opened->description()).size(), entries);
    opened->setView(nullptr);
    frame.reset();
}

}  // namespace
}  // namespace kestrel::ui
