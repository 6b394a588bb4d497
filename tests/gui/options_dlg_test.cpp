#include "ui/dialogs/options_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include "app/ks_app.h"
#include "app/ks_doc.h"
#include "gui_test_support.h"
#include "main_window_run.h"
#include "ui/frame/gui_main.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/ks_view.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/pane_host.h"

namespace kestrel {

// Readable failures for entries.
static void PrintTo(const EditorCommand& entry, std::ostream* out) {
    *out << "{" << entry.name << " | " << entry.command << " | " << entry.arguments << " | "
         << entry.initialFolder << "}";
}

namespace ui {
namespace {

namespace fs = std::filesystem;

// The first line of an error report (the message itself, without the source line).
std::string firstLine(const std::string& report) {
    return report.substr(0, report.find("\r\n"));
}

std::vector<std::string> namesOf(const EditorList& list) {
    std::vector<std::string> names;
    for (const EditorCommand& entry : list)
        names.push_back(entry.name);
    return names;
}

class OptionsTest : public testing::IsolatedGuiTest {
  protected:
    OptionsTest() {
        program = temp_.write("bin/edit", "#!/bin/sh\n");
        fs::permissions(program, fs::perms::owner_all);
        programText = QString::fromStdString(program.string());
    }

    EditorCommand entry(const std::string& name, const std::string& arguments = "",
                        const std::string& folder = "") const {
        return {name, program.string(), arguments, folder};
    }

    // A shown page holding `entries`.
    ExeCmdWidget& page(const EditorList& entries) {
        widget = std::make_unique<ExeCmdWidget>(EditorHint::kImage);
        widget->resize(460, 300);
        widget->setEntries(entries);
        widget->show();
        return *widget;
    }

    // A click on a row: press, a small drag, release.
    static void click(EditorListView& list, int row) {
        const QPoint at = list.visualItemRect(list.item(row)).center();
        const std::pair<QEvent::Type, Qt::MouseButtons> steps[] = {
            {QEvent::MouseButtonPress, Qt::LeftButton},
            {QEvent::MouseMove, Qt::LeftButton},
            {QEvent::MouseButtonRelease, Qt::NoButton}};
        for (const auto& [type, buttons] : steps) {
            const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, at, list.viewport()->mapToGlobal(at), button, buttons, Qt::NoModifier);
            QCoreApplication::sendEvent(list.viewport(), &event);
        }
    }

    testing::GuiScriptedSink sink;
    fs::path program;
    QString programText;
    std::unique_ptr<ExeCmdWidget> widget;
};

TEST_F(OptionsTest, LeavingARowCommitsItsFieldsAndAFailureKeepsTheSelection) {
    ExeCmdWidget& editors = page({entry("A"), entry("B", "--b")});
    ASSERT_EQ(editors.selectedRow(), 0);
    editors.programEdit()->clear();

    // Mouse: press, drag and release ask three times; the error is shown once.
    click(*editors.list(), 1);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(firstLine(sink.errors[0]), "必须为命名为 'A' 的项目指定一个有效的程序。");
    EXPECT_EQ(editors.selectedRow(), 0);
    EXPECT_EQ(editors.list()->currentRow(), 0);
    // Keyboard: the same.
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(editors.list(), &down);
    EXPECT_EQ(sink.errors.size(), 2u);
    EXPECT_EQ(editors.selectedRow(), 0);

    editors.nameEdit()->setText("Renamed");
    editors.programEdit()->setText("/bin/sh");
    click(*editors.list(), 1);
    EXPECT_EQ(sink.errors.size(), 2u);
    EXPECT_EQ(editors.selectedRow(), 1);
    EXPECT_EQ(editors.nameEdit()->text(), "B");
    EXPECT_EQ(editors.entries(), (EditorList{{"Renamed", "/bin/sh", "", ""}, entry("B", "--b")}));
}

// The selected row is committed first, then the rows are checked in order; the first failure is
// shown with its row selected.
TEST_F(OptionsTest, ValidateAllReportsTheFirstProblemInRowOrder) {
    struct Case {
        EditorList entries;
        int selected;
        std::string message;  // empty: valid
        int failingRow;
    };
    const std::string prog = program.string();
    const std::string missing = (temp_ / "missing").string();
    const std::vector<Case> cases = {
        {{entry("Paint"), entry("paint")}, 0, "", 0},
        {{{"Shell", "sh", "", ""}}, 0, "", 0},  // a bare name is looked up on PATH
        {{entry("Paint"), entry("Paint")}, 0, "项目必须有独立的名称。", 1},
        {{entry("A"), {"B", missing, "", ""}, entry("A")},
         0,
         "必须为命名为 'B' 的项目指定一个有效的程序。",
         1},
        {{entry("A"), {"", prog, "", ""}}, 0, "必须为此项目指定一个名称。", 1},
        {{entry("A"), {"Dir", temp_.path().string(), "", ""}},
         0,
         "必须为命名为 'Dir' 的项目指定一个有效的程序。",
         1},
        {{{"", prog, "", ""}, {"B", missing, "", ""}}, 1, "必须为命名为 'B' 的项目指定一个有效的程序。", 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.message);
        ExeCmdWidget& editors = page(test.entries);
        editors.list()->setCurrentRow(test.selected);
        sink.errors.clear();
        EXPECT_EQ(editors.validateAll().failed(), !test.message.empty());
        if (test.message.empty()) continue;
        ASSERT_EQ(sink.errors.size(), 1u);
        EXPECT_EQ(firstLine(sink.errors[0]), test.message);
        EXPECT_EQ(editors.selectedRow(), test.failingRow);
    }
}

TEST_F(OptionsTest, NewDeleteAndMoveKeepRowsAndFieldsInStep) {
    ExeCmdWidget& editors = page({});
    editors.newButton()->click();
    ASSERT_EQ(editors.entries().size(), 1u);
    EXPECT_EQ(editors.nameEdit()->text(), "新项目");
    EXPECT_EQ(editors.nameEdit()->selectedText(), "新项目");
    // The new entry has no program yet: a second New reports it and adds nothing.
    editors.newButton()->click();
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(firstLine(sink.errors[0]), "必须为命名为 '新项目' 的项目指定一个有效的程序。");
    EXPECT_EQ(editors.entries().size(), 1u);

    ExeCmdWidget& list = page({entry("A", "-a", "/tmp"), entry("B"), entry("C")});
    list.upButton()->click();  // the first row stays first
    EXPECT_EQ(namesOf(list.entries()), (std::vector<std::string>{"A", "B", "C"}));
    list.downButton()->click();
    list.downButton()->click();
    list.downButton()->click();  // the last row stays last
    EXPECT_EQ(namesOf(list.entries()), (std::vector<std::string>{"B", "C", "A"}));
    EXPECT_EQ(list.selectedRow(), 2);
    EXPECT_EQ(list.entries()[2], entry("A", "-a", "/tmp"));
    EXPECT_EQ(list.nameEdit()->text(), "A");

    // A move commits the fields first and stops when that fails.
    list.programEdit()->clear();
    list.upButton()->click();
    EXPECT_EQ(namesOf(list.entries()), (std::vector<std::string>{"B", "C", "A"}));
    EXPECT_EQ(sink.errors.size(), 2u);

    // Deleting the last row selects the one before; deleting the only row clears the fields.
    list.deleteButton()->click();
    EXPECT_EQ(list.selectedRow(), 1);
    EXPECT_EQ(list.nameEdit()->text(), "C");
    list.list()->setCurrentRow(0);
    list.deleteButton()->click();
    EXPECT_EQ(list.selectedRow(), 0);
    EXPECT_EQ(list.nameEdit()->text(), "C");
    list.deleteButton()->click();
    EXPECT_TRUE(list.entries().empty());
    EXPECT_TRUE(list.nameEdit()->text().isEmpty());
    EXPECT_TRUE(list.programEdit()->text().isEmpty());
}

TEST_F(OptionsTest, TypingANameWithNoRowSelectedInsertsAFirstRow) {
    ExeCmdWidget& editors = page({entry("A")});
    EXPECT_EQ(editors.insertEntry(2, entry("X")), kInvalidArg);
    editors.list()->clearSelection();
    editors.programEdit()->setText("/bin/sh");
    for (const QString& letter : {QStringLiteral("图"), QStringLiteral("象")}) {
        QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, letter);
        QCoreApplication::sendEvent(editors.nameEdit(), &typed);
    }
    // One new row, renamed by the second letter; the program typed before the name is kept.
    EXPECT_EQ(namesOf(editors.entries()), (std::vector<std::string>{"图象", "A"}));
    EXPECT_EQ(editors.selectedRow(), 0);
    EXPECT_EQ(editors.programEdit()->text(), "/bin/sh");
    EXPECT_TRUE(editors.validateAll().succeeded());
    EXPECT_EQ(editors.entries()[0].command, "/bin/sh");
}

TEST_F(OptionsTest, BrowseTakesTheChosenFileAndWarnsWhenItCannotRun) {
    ExeCmdWidget& editors = page({entry("A")});
    const fs::path plain = temp_.write("bin/readme", "text");
    QStringList starts;
    QString answer;
    editors.setProgramChooser([&](const QString& start) {
        starts << start;
        return answer;
    });
    editors.browseButton()->click();  // cancelled: nothing changes
    EXPECT_EQ(editors.programEdit()->text(), programText);
    answer = QString::fromStdString(plain.string());
    editors.browseButton()->click();
    EXPECT_EQ(editors.programEdit()->text(), answer);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("不是可执行文件"), std::string::npos);
    answer = programText;
    editors.browseButton()->click();
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(starts, (QStringList{programText, programText, QString::fromStdString(plain.string())}));
}

// Arguments and initial folders are not shown in the dialog, yet they survive it.
TEST_F(OptionsTest, DialogOkKeepsEveryFieldOfTheEntriesAndSavesChangedLists) {
    EditorList image = {entry("Paint", "--new \"a b\"", "/srv/img")};
    EditorList text = {entry("Ed", "-n", "/srv/txt"), entry("Vi", "", "/srv/vi")};
    EditorList hex = {entry("Hexer", "--ro", "")};
    ASSERT_TRUE(SaveEditorList(*settings_, kImageEditorsSection, image).succeeded());
    ASSERT_TRUE(SaveEditorList(*settings_, kTextEditorsSection, text).succeeded());
    ASSERT_TRUE(SaveEditorList(*settings_, kHexEditorsSection, hex).succeeded());
    const EditorList imageBefore = image;
    const EditorList hexBefore = hex;

    COptionsDlg dialog({&image, &text, &hex, settings_.get()}, 1, nullptr);
    EXPECT_EQ(dialog.currentPage(), 1);
    dialog.page(1)->downButton()->click();
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(image, imageBefore);
    EXPECT_EQ(hex, hexBefore);
    EXPECT_EQ(text, (EditorList{entry("Vi", "", "/srv/vi"), entry("Ed", "-n", "/srv/txt")}));

    SettingsStore reread;
    EditorList stored;
    ASSERT_TRUE(LoadEditorList(reread, kTextEditorsSection, stored).succeeded());
    EXPECT_EQ(stored, text);
    ASSERT_TRUE(LoadEditorList(reread, kImageEditorsSection, stored).succeeded());
    EXPECT_EQ(stored, imageBefore);
}

TEST_F(OptionsTest, TheBackupOfASaveCanBeTurnedOffAndOnAgain) {
    EditorList image, text, hex;
    for (const bool keep : {false, true}) {
        COptionsDlg dialog({&image, &text, &hex, settings_.get()}, 0, nullptr);
        EXPECT_NE(dialog.backupBox()->isChecked(), keep) << "shows the stored choice, backups by default";
        dialog.backupBox()->setChecked(keep);
        dialog.accept();
        CKsDoc document(dataFolder() / "Temp");
        document.setSettings(settings_.get());
        EXPECT_EQ(document.keepsBackup(), keep);
    }
}

TEST_F(OptionsTest, DialogOkStopsAtTheFirstFailingPageAndCancelDiscards) {
    EditorList image = {entry("Paint")};
    EditorList text;
    EditorList hex;
    {
        COptionsDlg dialog({&image, &text, &hex, settings_.get()}, 0, nullptr);
        dialog.page(0)->newButton()->click();
        dialog.page(0)->programEdit()->setText(programText);
        dialog.page(1)->newButton()->click();  // 新项目 without a program
        dialog.page(2)->newButton()->click();  // so is this one, but page 1 comes first
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(dialog.currentPage(), 1);
        ASSERT_EQ(sink.errors.size(), 1u);
        EXPECT_EQ(firstLine(sink.errors[0]), "必须为命名为 '新项目' 的项目指定一个有效的程序。");
        EXPECT_TRUE(text.empty());
        dialog.reject();
    }
    EXPECT_EQ(image, EditorList{entry("Paint")});
    EXPECT_TRUE(text.empty() && hex.empty());
    EXPECT_FALSE(settings_->contains(kImageEditorsSection, "CmdName1"));
}

// Runs the main window with editor lists in the settings and, once it is on screen, `script` with
// the frame.
class OptionsWindowTest : public OptionsTest {
  protected:
    void runWindow(const std::function<void(CKsFrame&)>& script) {
        testing::runMainWindowOnce({}, [&](CKsFrame& frame, bool) { script(frame); });
    }

    // Runs `action`, which opens the options dialog; `handle` gets the open dialog.
    static void withDialog(const std::function<void()>& action,
                           const std::function<void(COptionsDlg&)>& handle) {
        bool seen = false;
        // A timer of this scope: when no dialog opens it must not fire after the scope ended.
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<COptionsDlg*>(widget);
                    dialog != nullptr && dialog->isVisible()) {
                    seen = true;
                    handle(*dialog);
                    if (dialog->isVisible()) dialog->reject();
                }
            }
        });
        timer.start(0);
        action();
        EXPECT_TRUE(seen);
    }

    // The "编辑" drop-down of the pane that shows `file` in `mode`.
    static QMenu* editMenuOf(CKsFrame& frame, const fs::path& file, ShowMode mode) {
        PaneHost* host = frame.view()->paneHost();
        host->ShowFile(frame.view()->tree()->document(), file.string(), nullptr, mode);
        if (host->activeWidget() == nullptr) return nullptr;
        for (QToolButton* button : host->activeWidget()->findChildren<QToolButton*>()) {
            if (button->text() == "编辑") return button->menu();
        }
        return nullptr;
    }
};

TEST_F(OptionsWindowTest, ToolsAndEachPaneOpenTheirPageAndThePanesSeeTheNewList) {
    ASSERT_TRUE(SaveEditorList(*settings_, kHexEditorsSection, {entry("Hexer", "--ro", "/srv")}).succeeded());
    const fs::path image =
        temp_.write("files/a.bmp", pebuilder::bmpFileFromDib(pebuilder::makeDib({4, 4, 24})));
    const fs::path data = temp_.write("files/data", "hex and text");
    std::vector<int> pages;
    std::vector<std::string> hexMenu;
    runWindow([&](CKsFrame& frame) {
        const auto recordPage = [&](COptionsDlg& dialog) { pages.push_back(dialog.currentPage()); };
        withDialog([&] { frame.action("options")->trigger(); }, recordPage);
        const std::vector<std::pair<fs::path, ShowMode>> panes = {
            {image, ShowMode::kChooseAgain}, {data, ShowMode::kTextFromHex}, {data, ShowMode::kHexFromText}};
        for (const auto& [file, mode] : panes) {
            QMenu* menu = editMenuOf(frame, file, mode);
            ASSERT_NE(menu, nullptr);
            emit menu->aboutToShow();
            withDialog([&] { menu->actions().back()->trigger(); }, recordPage);
        }
        // OK on a changed hex page: the hex pane's menu lists the new entries.
        QMenu* menu = editMenuOf(frame, data, ShowMode::kHexFromText);
        emit menu->aboutToShow();
        withDialog([&] { menu->actions().back()->trigger(); },
                   [&](COptionsDlg& dialog) {
                       dialog.page(2)->newButton()->click();
                       dialog.page(2)->nameEdit()->setText("Bytes");
                       dialog.page(2)->programEdit()->setText("/bin/sh");
                       dialog.accept();
                   });
        emit menu->aboutToShow();
        for (QAction* action : menu->actions())
            hexMenu.push_back(action->text().toStdString());
    });
    EXPECT_EQ(pages, (std::vector<int>{0, 0, 1, 2}));
    EXPECT_EQ(hexMenu, (std::vector<std::string>{"Hexer", "Bytes", "", "定制编辑器 ..."}));
    SettingsStore reread;
    EditorList stored;
    ASSERT_TRUE(LoadEditorList(reread, kHexEditorsSection, stored).succeeded());
    EXPECT_EQ(stored, (EditorList{entry("Hexer", "--ro", "/srv"), {"Bytes", "/bin/sh", "", ""}}));
}

TEST_F(OptionsTest, DialogScreenshots) {
    EditorList image = {{"Paint", "/usr/local/bin/paint", "--new", ""},
                        {"Draw", "/opt/draw/bin/draw", "", ""}};
    EditorList text = {{"Text editor", "/usr/bin/editor", "", ""}, {"Notes", "/usr/local/bin/notes", "", ""}};
    EditorList hex = {{"Hexer", "/usr/local/bin/hexer", "", ""}, {"Bytes", "/opt/bytes/bytes", "", ""}};
    COptionsDlg dialog({&image, &text, &hex, nullptr}, 0, nullptr);
    dialog.show();
    for (int index = 0; index < kOptionsPageCount; ++index) {
        dialog.tabs()->setCurrentIndex(index);
        QCoreApplication::processEvents();
        screenshot(dialog, "options_dialog_page" + std::to_string(index));
    }
    dialog.reject();
}

}  // namespace
}  // namespace ui
}  // namespace kestrel
