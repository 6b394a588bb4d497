// The window in English: with the English translation installed no text of the main window, its
// panes, dialogs and message boxes is left in Chinese (a text looked up under another context than
// the one lupdate filed it under stays Chinese). Also writes the English screenshots, one of them
// small enough for the README.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>

#include "app/recent_files.h"
#include "cli/cli_program.h"
#include "core/errors/language.h"
#include "core/platform/paths.h"
#include "gui_test_support.h"
#include "ui/dialogs/add_resource_dlg.h"
#include "ui/dialogs/error_dlg.h"
#include "ui/dialogs/find_dlg.h"
#include "ui/dialogs/import_dlg.h"
#include "ui/dialogs/options_dlg.h"
#include "ui/frame/gui_main.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/qt_ui_sink.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/hex_wnd.h"
#include "ui/panes/image_wnd.h"
#include "ui/panes/pane_host.h"
#include "ui/panes/preview_wnd.h"
#include "ui/panes/text_wnd.h"
#include "ui/panes/version_wnd.h"

namespace kestrel::ui {
namespace {

bool hasChinese(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x3000 && u <= 0x303F) || (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF);
    });
}

void collectActions(const QList<QAction*>& actions, QStringList& texts) {
    for (QAction* action : actions) {
        texts << action->text() << action->iconText() << action->toolTip() << action->statusTip();
        if (QMenu* menu = action->menu()) {
            texts << menu->title();
            collectActions(menu->actions(), texts);
        }
    }
}

// The interface texts a widget and its children show. The texts of line edits, the resource tree
// and the dialog and menu previews are data of the opened file, not ours.
QStringList interfaceTexts(QWidget& root) {
    QStringList texts{root.windowTitle()};
    QList<QWidget*> widgets = root.findChildren<QWidget*>();
    widgets.prepend(&root);
    for (QWidget* widget : widgets) {
        texts << widget->toolTip() << widget->statusTip();
        collectActions(widget->actions(), texts);
        if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
        if (auto* group = qobject_cast<QGroupBox*>(widget)) texts << group->title();
        if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        }
        if (auto* bar = qobject_cast<QStatusBar*>(widget)) texts << bar->currentMessage();
        if (auto* image = qobject_cast<ImageWnd*>(widget)) texts << image->informationLines();
    }
    return texts;
}

// The texts still in Chinese, one a line (empty when there is none).
std::string chineseTexts(QWidget& root) {
    QStringList found;
    for (const QString& text : interfaceTexts(root))
        if (hasChinese(text)) found << text;
    return found.join(QLatin1Char('\n')).toStdString();
}

// A file of the corpus cache when it has been fetched; nothing is downloaded here.
std::filesystem::path cachedCorpusFile(const std::string& relative) {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const char* home = std::getenv("HOME");
    const std::filesystem::path root =
        cache != nullptr && *cache != '\0'
            ? std::filesystem::path(cache)
            : std::filesystem::path(home != nullptr ? home : "/") / ".cache" / "kestrel-corpus";
    std::filesystem::path file = root / "root" / relative;
    std::error_code error;
    return std::filesystem::is_regular_file(file, error) ? file : std::filesystem::path();
}

class EnglishWindowTest : public testing::IsolatedGuiTest {
  protected:
    void SetUp() override {
        SetLanguage(Language::kEnglish);
        translator_ = installWindowLanguage(Language::kEnglish);
        ASSERT_NE(translator_, nullptr);
        savedCaptions_ = ErrorDialogCaptions();
        savedProductText_ = ErrorReportingProductText();
        InitErrorReporting(errorDialogCaptions(), "Kestrel 1.020000");
        PaneServices services;
        services.settings = settings_.get();
        services.editors = &editors_;
        registerPaneFactory(PaneType::kImage, makeImagePaneFactory(services));
        registerPaneFactory(PaneType::kText, makeTextPaneFactory(services));
        registerPaneFactory(PaneType::kHex, makeHexPaneFactory(services));
        registerPaneFactory(PaneType::kVersion, makeVersionPaneFactory(services));
        registerPaneFactory(PaneType::kDialog, makeDialogPaneFactory());
        registerPaneFactory(PaneType::kMenu, makeMenuPaneFactory());
    }
    void TearDown() override {
        if (document_) document_->setView(nullptr);
        frame_.reset();
        for (PaneType type : {PaneType::kImage, PaneType::kText, PaneType::kHex, PaneType::kVersion,
                              PaneType::kDialog, PaneType::kMenu})
            registerPaneFactory(type, {});
        InitErrorReporting(savedCaptions_, savedProductText_);
        translator_.reset();
        SetLanguage(Language::kChinese);
    }

    // The main window on `file` (imported into the temporary working folder).
    CKsFrame& openFrame(const std::filesystem::path& file) {
        document_ = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        recent_ = std::make_unique<RecentFileList>(settings_.get());
        document_->setRecentFileList(recent_.get());
        controller_ = std::make_unique<DocumentController>(*document_, nullptr);
        FrameContext context{document_.get(), controller_.get(), settings_.get(),
                             recent_.get(),   dataFolder(),      "Kestrel 1.020000"};
        frame_ = std::make_unique<CKsFrame>(context);
        document_->setView(frame_->view());
        frame_->view()->OnInitialUpdate();
        frame_->openPath(file);
        frame_->show();
        // Wide enough for the whole colorize panel beside a picture.
        frame_->resize(1180, 640);
        QApplication::processEvents();
        return *frame_;
    }

    // Selects the first entry under the type item `type` (its first child's first child for groups
    // of several languages); false when the file has no such type.
    bool selectFirstOf(const QString& type) {
        QTreeWidget* tree = frame_->view()->tree();
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = tree->topLevelItem(i);
            if (item->text(0) != type || item->childCount() == 0) continue;
            QTreeWidgetItem* entry = item->child(0);
            while (entry->childCount() > 0)
                entry = entry->child(0);
            tree->expandItem(item);
            tree->setCurrentItem(entry);
            QApplication::processEvents();
            return true;
        }
        return false;
    }

    testing::GuiScriptedSink sink_;
    std::unique_ptr<QTranslator> translator_;
    std::array<std::string, 9> savedCaptions_;
    std::string savedProductText_;
    EditorList editors_;
    std::unique_ptr<CKsDoc> document_;
    std::unique_ptr<RecentFileList> recent_;
    std::unique_ptr<DocumentController> controller_;
    std::unique_ptr<CKsFrame> frame_;
};

TEST_F(EnglishWindowTest, MainWindowPanesDialogsAndBoxesShowNoChinese) {
    // The sample has a resource for every pane; a real program (when the corpus is cached) shows in
    // the screenshots.
    std::vector<std::filesystem::path> files{temp_.write("in/sample.dll", pebuilder::buildSampleImage())};
    const std::filesystem::path program =
        cachedCorpusFile("usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe");
    if (!program.empty()) files.push_back(program);
    CKsFrame& frame = openFrame(files.front());
    for (const std::filesystem::path& file : files) {
        frame.openPath(file);
        ASSERT_TRUE(document_->isOpen());
        // Every menu, with the recent files listed.
        emit frame.fileMenu()->aboutToShow();
        EXPECT_EQ(chineseTexts(frame), "");
        for (const char* type : {"Bitmap", "Version Info", "HTML", "String Table", "Dialog", "Menu",
                                 "RC Data", "Accelerators", "Manifest", "Icon Group"}) {
            if (!selectFirstOf(QString::fromLatin1(type))) continue;
            EXPECT_EQ(chineseTexts(frame), "") << pathToUtf8(file) << ": " << type;
            screenshot(frame, "english_pane_" +
                                  QString::fromLatin1(type).remove(QLatin1Char(' ')).toLower().toStdString());
        }
    }
    // The icon groups of the program, the other types closed.
    frame.view()->tree()->collapseAll();
    ASSERT_TRUE(selectFirstOf(QStringLiteral("Icon Group")));
    QApplication::processEvents();
    screenshot(frame, "english_main_window");
    // The README's picture: the same window, packed as tightly as PNG goes.
    const std::filesystem::path folder = std::filesystem::path(KESTREL_BINARY_DIR) / "screenshots";
    const QImage readme = frame.grab().toImage().convertToFormat(QImage::Format_RGB888);
    EXPECT_TRUE(readme.save(QString::fromStdString((folder / "readme_main_window.png").string()), "PNG", 0));

    AboutDlg about("Kestrel 1.020000", &frame);
    about.show();
    EXPECT_EQ(chineseTexts(about), "");
    screenshot(about, "english_about_box");

    EditorList image, text, hex;
    COptionsDlg options({&image, &text, &hex, nullptr}, 0, &frame);
    for (int page = 0; page < kOptionsPageCount; ++page) {
        options.page(page)->newButton()->click();
    }
    options.show();
    EXPECT_EQ(chineseTexts(options), "");
    screenshot(options, "english_options_dialog");

    CAddResourceDlg add(1033, &frame);
    add.show();
    EXPECT_EQ(chineseTexts(add), "");
    screenshot(add, "english_add_resource_dialog");
    FindDlg find({}, &frame);
    find.show();
    EXPECT_EQ(chineseTexts(find), "");
    screenshot(find, "english_find_dialog");

    auto box =
        buildMessageBox("text", "Kestrel", Buttons::kAbortRetryIgnore, 0, MessageIcon::kQuestion, &frame);
    EXPECT_EQ(chineseTexts(*box), "");
    box = buildMessageBox("text", "Kestrel", Buttons::kYesNoCancel, 0, MessageIcon::kQuestion, &frame);
    EXPECT_EQ(chineseTexts(*box), "");
    box = buildMessageBox("text", "Kestrel", Buttons::kOkCancel, 0, MessageIcon::kQuestion, &frame);
    EXPECT_EQ(chineseTexts(*box), "");
}

TEST_F(EnglishWindowTest, ImportDialogAndErrorDialogScreenshots) {
    const std::filesystem::path sample = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    CImportDlg dialog(settings_.get(), dataFolder());
    dialog.show();
    dialog.setFile(pathToUtf8(sample));
    dialog.proposeFolder();
    QApplication::processEvents();
    EXPECT_EQ(chineseTexts(dialog), "");
    screenshot(dialog, "english_import_dialog");

    // A real failure: a file that is not a PE image, imported.
    const std::filesystem::path text = temp_.write("in/readme.dll", "This is not a program.\n");
    std::filesystem::path project;
    ASSERT_TRUE(DecompileProject(text, temp_ / "out", project).failed());
    ErrorDlg error("Kestrel", TakeErrorDialogContents(), 0, {}, nullptr);
    error.show();
    error.detailsButton()->click();
    QApplication::processEvents();
    EXPECT_EQ(chineseTexts(error), "");
    screenshot(error, "english_error_dialog");
}

}  // namespace
}  // namespace kestrel::ui
