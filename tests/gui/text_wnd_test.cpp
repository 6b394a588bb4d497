#include "ui/panes/text_wnd.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <chrono>

#include "core/errors/errors.h"
#include "core/pe/resource_types.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "ui/panes/pane_host.h"
#include "ui/widgets/code_editor.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;
using pebuilder::ByteVector;

// Types text at the start of the editor as a keyboard would (key events carry the characters).
void typeAtStart(CodeEditor& editor, const QString& text) {
    QTextCursor cursor = editor.textCursor();
    cursor.setPosition(0);
    editor.setTextCursor(cursor);
    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&editor, &key);
}

class TextWndTest : public testing::IsolatedGuiTest {
  protected:
    TextWnd& open(const fs::path& file, XmlElement* element = nullptr, QSize size = {600, 400}) {
        wnd = std::make_unique<TextWnd>(nullptr, services, state);
        wnd->resize(size);
        wnd->show();
        wnd->ShowTextFile(file, element, document.get());
        return *wnd;
    }

    // A project with a string table in two languages (both naming STRINGS.XML) and an INI entry;
    // returns the first string-table File element.
    XmlElement* openProject() {
        const fs::path project = projectWith(
            "<Directory Type='0'>"
            "<Entry ID='6' Directory='1'><Directory Type='6'><Entry ID='1' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='STRINGS.XML'/></Entry>"
            "<Entry ID='2052' Directory='0'><File Name='STRINGS.XML'/></Entry>"
            "</Directory></Entry></Directory></Entry>"
            "<Entry Name='TEXT' Directory='1'><Directory Type='0'><Entry ID='1' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='TEXT\\setup.ini'/></Entry>"
            "</Directory></Entry></Directory></Entry></Directory>");
        folder = project.parent_path();
        temp_.write("p/STRINGS.XML", "<?xml version='1.0' encoding='ISO-8859-1'?><ROOT>\r\n</ROOT>\r\n");
        temp_.write("p/TEXT/setup.ini", std::string("\xFF\xFEk\0=\0v\0", 8));
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        EXPECT_TRUE(document->OpenProject(project));
        return document->description().FindElement(
            "\\Directory\\Entry\\Directory\\Entry\\Directory\\Entry\\File");
    }
    static std::string attribute(XmlElement* element, std::string_view name) {
        XmlAttribute* found = XmlDocument::FindAttribute(element, name);
        return found ? found->value() : std::string("<none>");
    }

    testing::GuiScriptedSink sink;
    PaneServices services;
    TextPaneState state;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<TextWnd> wnd;
    fs::path folder;
};

// ----- Encodings ----------------------------------------------------------------------------------

TEST_F(TextWndTest, AnEditKeepsTheEncodingByteOrderMarkAndLineEnds) {
    struct Case {
        std::string name;
        std::string before;
        std::string after;  // once "中" is typed at the start
    };
    const std::vector<Case> cases = {
        // UTF-16LE with its mark and an odd last byte.
        {"a.ini", std::string("\xFF\xFEk\0=\0v\0\r\0\n\0A", 11),
         std::string("\xFF\xFE\x2D\x4Ek\0=\0v\0\r\0\n\0A", 13)},
        {"b.ini", std::string("k\0\n\0", 4), std::string("\x2D\x4Ek\0\n\0", 6)},
        {"c.xml", "\xEF\xBB\xBF<a/>\n<b/>\n", "\xEF\xBB\xBF\xE4\xB8\xAD<a/>\n<b/>\n"},
        // Valid GBK that is not UTF-8 ("你好") stays GBK.
        {"d.htm", "\xC4\xE3\xBA\xC3\r\n", "\xD6\xD0\xC4\xE3\xBA\xC3\r\n"},
        // Neither: a few invalid bytes are carried through unchanged.
        {"e.css", "x\xFFy\x80\r\n", "\xE4\xB8\xADx\xFFy\x80\r\n"},
        // Mixed line ends: each line keeps its own.
        {"f.xml", "a\r\nb\r\nc\nd",
         "\xE4\xB8\xAD"
         "a\r\nb\r\nc\nd"},
        {"uifile1", "<x>\r</x>\r", "\xE4\xB8\xAD<x>\r</x>\r"},
        // Separators and a no-break space inside a line are characters of the file, not line ends
        // (the text control takes U+2029 as its own line separator).
        {"g.htm",
         "a\xE2\x80\xA9"
         "b\xE2\x80\xA8"
         "c\xC2\xA0"
         "d\xEE\x80\x80\n",
         "\xE4\xB8\xAD"
         "a\xE2\x80\xA9"
         "b\xE2\x80\xA8"
         "c\xC2\xA0"
         "d\xEE\x80\x80\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = temp_.write("t/" + c.name, testing::toBytes(c.before));
        TextWnd& pane = open(file);
        EXPECT_FALSE(pane.isModified());
        typeAtStart(*pane.editor(), QStringLiteral("中"));
        EXPECT_TRUE(pane.isModified());
        ASSERT_TRUE(pane.Commit().succeeded());
        EXPECT_FALSE(pane.isModified());
        EXPECT_EQ(testing::readBytes(file), testing::toBytes(c.after));
    }
    EXPECT_TRUE(sink.errors.empty());
}

TEST_F(TextWndTest, ATextTheFileEncodingCannotHoldIsRefusedAndTheFileKept) {
    const fs::path file = temp_.write("gbk.htm", testing::toBytes("\xC4\xE3\xBA\xC3"));
    TextWnd& pane = open(file);
    typeAtStart(*pane.editor(), QString::fromUtf8("\xF0\x9F\x98\x80"));  // not in GBK
    ClearErrorRecord();
    EXPECT_TRUE(pane.Commit().failed());
    ASSERT_TRUE(PeekErrorRecord().has_value());
    EXPECT_NE(PeekErrorRecord()->description.find("U+1F600"), std::string::npos);
    ClearErrorRecord();
    EXPECT_TRUE(pane.isModified());
    EXPECT_EQ(testing::readBytes(file), testing::toBytes("\xC4\xE3\xBA\xC3"));
}

// Typing and pressing Enter in a file whose lines end in CR LF, LF and lone CR: every line the
// edit did not touch is written back byte for byte, line end included.
TEST_F(TextWndTest, AnEditWritesTheUntouchedLinesBackByteForByte) {
    struct Case {
        std::string name;
        std::string before;
        std::string after;  // "!" typed at the end, Enter pressed after the first character of line 2
    };
    const std::vector<Case> cases = {
        {"mixed.xml", "<a>\r\n<bb/>\n<c/>\r<d/>\r\n</a>", "<a>\r\n<\r\nbb/>\n<c/>\r<d/>\r\n</a>!"},
        {"lone.htm", "x\ryy\rz\r\nw", "x\ry\ry\rz\r\nw!"},
        // 中 LF 文字 CR LF 表 CR 末
        {"gbk.css", "\xD6\xD0\n\xCE\xC4\xD7\xD6\r\n\xB1\xED\r\xC4\xA9",
         "\xD6\xD0\n\xCE\xC4\r\n\xD7\xD6\r\n\xB1\xED\r\xC4\xA9!"},
        {"wide.ini", std::string("a\0\r\0b\0b\0\n\0c\0\r\0\n\0e\0", 18),
         std::string("a\0\r\0b\0\r\0\n\0b\0\n\0c\0\r\0\n\0e\0!\0", 24)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = temp_.write("m/" + c.name, testing::toBytes(c.before));
        TextWnd& pane = open(file);
        CodeEditor& editor = *pane.editor();
        QTextCursor cursor = editor.textCursor();
        cursor.movePosition(QTextCursor::End);
        editor.setTextCursor(cursor);
        QKeyEvent bang(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("!"));
        QCoreApplication::sendEvent(&editor, &bang);
        cursor.setPosition(editor.document()->findBlockByNumber(1).position() + 1);
        editor.setTextCursor(cursor);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QCoreApplication::sendEvent(&editor, &enter);
        ASSERT_TRUE(pane.Commit().succeeded());
        EXPECT_EQ(testing::readBytes(file), testing::toBytes(c.after));
        // A second edit is measured against what was written, not against what was read.
        cursor.movePosition(QTextCursor::Start);
        editor.setTextCursor(cursor);
        QCoreApplication::sendEvent(&editor, &bang);
        cursor.movePosition(QTextCursor::Start);
        cursor.deleteChar();
        ASSERT_TRUE(pane.Commit().succeeded());
        EXPECT_EQ(testing::readBytes(file), testing::toBytes(c.after));
    }
}

// Data that is not text (a message table: 32-bit counts and offsets, UTF-16 strings, a CR in the
// middle) opens read-only under a note; typing, pasting and replacing change nothing, and leaving
// it never writes the file.
TEST_F(TextWndTest, BinaryDataOpensReadOnlyAndIsNeverWritten) {
    const std::string table("\x01\0\0\0\x01\0\0\0\x01\0\0\0\x10\0\0\0\x14\0\x01\0O\0K\0\r\0\n\0\0\0\0\0", 32);
    const fs::path file = temp_.write("MESSAGETABLE_1.bin", testing::toBytes(table));
    TextWnd& pane = open(file);
    EXPECT_TRUE(pane.isBinary());
    EXPECT_TRUE(pane.editor()->isReadOnly());
    ASSERT_FALSE(pane.binaryNote()->isHidden());
    EXPECT_EQ(pane.binaryNote()->text(), QStringLiteral("二进制数据，只读"));
    // The note sits between the toolbar and the text.
    EXPECT_GE(pane.binaryNote()->geometry().top(), pane.toolBar()->geometry().bottom());
    EXPECT_GE(pane.editor()->geometry().top(), pane.binaryNote()->geometry().bottom());

    typeAtStart(*pane.editor(), QStringLiteral("x"));
    QKeyEvent erase(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(pane.editor(), &erase);
    EXPECT_EQ(pane.editor()->text().substr(0, 4), std::u16string(u"\x01\0\0\0", 4));
    pane.FindStep(FindResult::kReplace, {QStringLiteral("O"), QStringLiteral("0"), false, true});
    EXPECT_FALSE(
        pane.FindStep(FindResult::kReplaceAll, {QStringLiteral("O"), QStringLiteral("0"), false, true}));
    EXPECT_EQ(pane.editor()->text().find(u'0'), std::u16string::npos);
    EXPECT_FALSE(pane.isModified());
    const auto before = fs::last_write_time(file);
    EXPECT_TRUE(pane.Commit().succeeded());
    EXPECT_EQ(fs::last_write_time(file), before);
    EXPECT_EQ(testing::readBytes(file), testing::toBytes(table));

    // A text file shown next in the same pane is editable again, without the note.
    open(temp_.write("next.xml", "<a/>\n"));
    EXPECT_FALSE(wnd->editor()->isReadOnly());
    EXPECT_TRUE(wnd->binaryNote()->isHidden());
}

TEST_F(TextWndTest, AMissingFileShowsTheErrorAndIsNeverCreated) {
    const fs::path missing = temp_ / "gone.xml";
    TextWnd& pane = open(missing);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("未能打开文件： \r\n\r\n'" + pathToUtf8(missing) + "'"), std::string::npos);
    EXPECT_FALSE(pane.isLoaded());
    EXPECT_TRUE(pane.editor()->isReadOnly());
    EXPECT_FALSE(pane.isModified());
    EXPECT_TRUE(pane.Commit().succeeded());
    EXPECT_FALSE(fs::exists(missing));
}

// ----- Commit, watch, undo ------------------------------------------------------------------------

TEST_F(TextWndTest, TheHostWritesOnlyEditedTextAndTheWatchReloads) {
    XmlElement* strings = openProject();
    registerPaneFactory(PaneType::kText, makeTextPaneFactory(services));
    {
        PaneHost host;
        host.resize(600, 400);
        const fs::path ini = folder / "TEXT/setup.ini";
        host.ShowFile(document.get(), "TEXT\\setup.ini", nullptr, ShowMode::kTreeSelection);
        auto* pane = static_cast<TextPane*>(host.activePane());
        ASSERT_NE(pane, nullptr);
        TextWnd* text = pane->window();
        EXPECT_EQ(text->editor()->text(), u"k=v");
        EXPECT_FALSE(host.canEdit(EditCommand::kUndo));

        // Unedited: leaving the entry does not touch the file.
        const auto before = fs::last_write_time(ini);
        host.ShowFile(document.get(), "STRINGS.XML", strings, ShowMode::kTreeSelection);
        EXPECT_EQ(fs::last_write_time(ini), before);

        // Edited: leaving writes it; undo was available meanwhile.
        host.ShowFile(document.get(), "TEXT\\setup.ini", nullptr, ShowMode::kTreeSelection);
        text = static_cast<TextPane*>(host.activePane())->window();
        typeAtStart(*text->editor(), QStringLiteral("#"));
        EXPECT_TRUE(host.canEdit(EditCommand::kUndo));
        EXPECT_TRUE(host.CommitPane());
        EXPECT_EQ(testing::readBytes(ini), testing::toBytes(std::string("\xFF\xFE#\0k\0=\0v\0", 10)));

        // Another program changes the file: the pane shows the new text, dropping unsaved edits.
        typeAtStart(*text->editor(), QStringLiteral("?"));
        temp_.write("p/TEXT/setup.ini", std::string("\xFF\xFEn\0e\0w\0", 8));
        fs::last_write_time(ini, fs::file_time_type::clock::now() + std::chrono::seconds(5));
        EXPECT_TRUE(
            testing::waitUntil([&] { return text->editor()->text() == u"new"; }, kFileWatchIntervalMs * 3));
        EXPECT_FALSE(text->isModified());
        EXPECT_FALSE(host.canEdit(EditCommand::kUndo));
    }
    registerPaneFactory(PaneType::kText, {});
}

TEST_F(TextWndTest, ReplacingAStringTableEntryReplacesStringsXmlAndKeepsTheName) {
    XmlElement* strings = openProject();
    const fs::path chosen =
        temp_.write("elsewhere/mine.xml", "<ROOT>\r\n  <E ID='1' S=\"x\"/>\r\n</ROOT>\r\n");
    TextWnd& pane = open(folder / "STRINGS.XML", strings);
    sink.answers = {Answer::kNo};
    pane.ReplaceWith(chosen);
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_NE(sink.questions[0].find("STRINGS.XML"), std::string::npos);
    EXPECT_NE(testing::readBytes(folder / "STRINGS.XML"), testing::readBytes(chosen));

    sink.answers = {Answer::kYes};
    pane.ReplaceWith(chosen);
    EXPECT_EQ(testing::readBytes(folder / "STRINGS.XML"), testing::readBytes(chosen));
    EXPECT_FALSE(fs::exists(folder / "mine.xml"));
    EXPECT_EQ(attribute(strings, "Name"), "STRINGS.XML");
    EXPECT_EQ(pane.path(), folder / "STRINGS.XML");
    EXPECT_EQ(pane.editor()->text(), u"<ROOT>\n  <E ID='1' S=\"x\"/>\n</ROOT>\n");
}

// ----- Find and replace ---------------------------------------------------------------------------

TEST_F(TextWndTest, FindAndReplaceFollowTheDialogsValues) {
    TextWnd& pane = open(temp_.write("f.xml", "a ab A a\n"));
    auto selected = [&] { return pane.editor()->textCursor().selectedText(); };
    auto selectionStart = [&] { return pane.editor()->textCursor().selectionStart(); };

    // Whole words, any case: "a" at 0, "A" at 5, "a" at 7; then not found, and the search starts over.
    const FindValues words{QStringLiteral("a"), QStringLiteral("b"), true, false};
    for (int expected : {0, 5, 7}) {
        EXPECT_TRUE(pane.FindStep(FindResult::kFindNext, words));
        EXPECT_EQ(selectionStart(), expected);
    }
    EXPECT_FALSE(pane.FindStep(FindResult::kFindNext, words));
    EXPECT_EQ(sink.messages, std::vector<std::string>{"文本未找到"});
    EXPECT_TRUE(pane.FindStep(FindResult::kFindNext, words));
    EXPECT_EQ(selectionStart(), 0);
    EXPECT_EQ(selected(), QStringLiteral("a"));

    // Replace replaces the match that find selected, then selects the next one; undoable.
    const FindValues grow{QStringLiteral("a"), QStringLiteral("aa"), false, true};
    EXPECT_TRUE(pane.FindStep(FindResult::kReplace, grow));
    EXPECT_EQ(pane.editor()->text(), u"aa ab A a\n");
    EXPECT_EQ(selectionStart(), 3);
    EXPECT_EQ(selected(), QStringLiteral("a"));
    EXPECT_TRUE(pane.FindStep(FindResult::kReplace, grow));
    EXPECT_EQ(pane.editor()->text(), u"aa aab A a\n");
    EXPECT_EQ(selectionStart(), 9);
    pane.editor()->undo();
    pane.editor()->undo();
    EXPECT_EQ(pane.editor()->text(), u"a ab A a\n");
    // With no match selected, Replace replaces the next one from where the search stands (the top
    // of a freshly shown file), and selects the one after it.
    open(temp_.write("f2.xml", "a ab A a\n"));
    QTextCursor caret = wnd->editor()->textCursor();
    caret.setPosition(4);
    wnd->editor()->setTextCursor(caret);
    EXPECT_TRUE(wnd->FindStep(FindResult::kReplace, grow));
    EXPECT_EQ(wnd->editor()->text(), u"aa ab A a\n");
    EXPECT_EQ(wnd->editor()->textCursor().selectionStart(), 3);

    // Replace all with a text containing the searched one ends, and is one undo step.
    open(temp_.write("g.xml", "a a a\n"));
    EXPECT_TRUE(wnd->FindStep(FindResult::kReplaceAll, grow));
    EXPECT_EQ(wnd->editor()->text(), u"aa aa aa\n");
    wnd->editor()->undo();
    EXPECT_EQ(wnd->editor()->text(), u"a a a\n");
    EXPECT_FALSE(wnd->FindStep(FindResult::kReplaceAll, {QStringLiteral("zz"), {}, false, false}));
    EXPECT_EQ(sink.messages.size(), 2u);
}

TEST_F(TextWndTest, TheFindDialogRunsUntilCancelledAndKeepsItsValuesAndTheMatch) {
    TextWnd& pane = open(temp_.write("g.xml", "one two one\n"));
    QTextCursor start = pane.editor()->textCursor();
    start.setPosition(4);
    pane.editor()->setTextCursor(start);
    int opened = 0;
    QObject::connect(&pane, &TextWnd::findDialogOpened, [&](FindDlg* dialog) {
        ++opened;
        QTimer::singleShot(0, dialog, [&, dialog] {
            if (opened == 1) {
                dialog->whatEdit()->setText(QStringLiteral("one"));
                dialog->withEdit()->setText(QStringLiteral("1"));
                dialog->press(FindResult::kReplace);
                EXPECT_EQ(pane.editor()->textCursor().selectionStart(), 6);
            } else {
                EXPECT_EQ(dialog->whatEdit()->text(), QStringLiteral("one"));
                EXPECT_EQ(dialog->withEdit()->text(), QStringLiteral("1"));
            }
            dialog->press(FindResult::kCancel);
        });
    });
    pane.OpenFind();
    EXPECT_EQ(pane.editor()->text(), u"1 two one\n");
    // Closing the dialog keeps the last match selected.
    EXPECT_EQ(pane.editor()->textCursor().selectionStart(), 6);
    EXPECT_EQ(pane.editor()->textCursor().selectedText(), QStringLiteral("one"));
    pane.OpenFind();
    EXPECT_EQ(opened, 2);
}

// Ctrl+F opens the dialog and F3 / Shift+F3 go to the next and previous match from the caret; the
// dialog moves where it does not cover the match it found.
TEST_F(TextWndTest, FindKeysWorkAndTheDialogLeavesTheMatchVisible) {
    std::string lines;
    for (int i = 0; i < 120; ++i)
        lines += (i == 3 || i == 20 || i == 100 ? "needle " : "hay ") + std::to_string(i) + "\n";
    TextWnd& pane = open(temp_.write("long.xml", lines), nullptr, {600, 500});
    pane.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&pane));
    CodeEditor& editor = *pane.editor();
    editor.setFocus();
    auto line = [&] { return editor.textCursor().blockNumber(); };
    // A key as the window gets it; the pane's window is active again once a dialog has closed.
    auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        if (!pane.isActiveWindow()) {
            pane.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&pane));
        }
        QTest::keyClick(&editor, key, modifiers);
    };
    auto matchOnScreen = [&] {
        return editor.cursorRect().translated(editor.viewport()->mapToGlobal(QPoint(0, 0)));
    };

    // F3 with nothing to search for yet opens the dialog, as Ctrl+F does.
    std::vector<int> found;
    int opened = 0;
    QObject::connect(&pane, &TextWnd::findDialogOpened, [&](FindDlg* dialog) {
        ++opened;
        QTimer::singleShot(0, dialog, [&, dialog] {
            dialog->whatEdit()->setText(QStringLiteral("needle"));
            for (int i = 0; i < 3; ++i) {
                dialog->press(FindResult::kFindNext);
                found.push_back(line());
                EXPECT_FALSE(dialog->frameGeometry().intersects(matchOnScreen()))
                    << "match on line " << line();
            }
            dialog->press(FindResult::kCancel);
        });
    });
    press(Qt::Key_F3);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(found, (std::vector<int>{3, 20, 100}));
    EXPECT_EQ(line(), 100);

    press(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(line(), 20);
    EXPECT_EQ(editor.textCursor().selectedText(), QStringLiteral("needle"));
    press(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(line(), 3);
    press(Qt::Key_F3);
    EXPECT_EQ(line(), 20);
    press(Qt::Key_F3, Qt::ShiftModifier);
    press(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"文本未找到"});
    EXPECT_EQ(line(), 3);

    found.clear();
    press(Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(found, (std::vector<int>{3, 20, 100}));
}

// ----- Toolbar, colouring, real files -------------------------------------------------------------

TEST_F(TextWndTest, FontSizesCycleAndXmlIsColouredButOtherTextIsNot) {
    TextWnd& pane = open(temp_.write("a.css", "p { }\n"));
    EXPECT_EQ(pane.highlighter(), nullptr);
    std::vector<int> sizes;
    for (int i = 0; i < 6; ++i) {
        pane.fontAction()->trigger();
        sizes.push_back(pane.editor()->font().pixelSize());
    }
    EXPECT_EQ(sizes, (std::vector<int>{20, 24, 30, 9, 11, 16}));
    for (const char* name : {"m.manifest", "x.XML", "UIFILE2"}) {
        open(temp_.write(name, "<a b='c'/>\n"));
        EXPECT_NE(wnd->highlighter(), nullptr) << name;
    }
    open(temp_.write("plain.htm", "<?xml version='1.0'?>\n<a/>"));
    EXPECT_NE(wnd->highlighter(), nullptr);
}

// Every text file of real imported programs: shown unchanged, and an edit that is taken back
// writes the same bytes (or, for mixed line ends, the same encoding, mark and dominant line end).
TEST_F(TextWndTest, RealTextFilesSurviveViewingAndEditing) {
    int files = 0;
    std::map<TextEncoding, int> encodings;
    for (const char* dll : {"shell32.dll", "mshtml.dll", "shdocvw.dll", "comctl32.dll"}) {
        const fs::path file =
            testing::corpusFile(std::string("usr/lib/i386-linux-gnu/wine/i386-windows/") + dll);
        fs::path project;
        if (file.empty() || DecompileProject(file, temp_ / dll, project).failed())
            GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
        CKsDoc doc(dataFolder() / "Temp");
        ASSERT_TRUE(doc.OpenProject(project));
        std::vector<std::pair<fs::path, XmlElement*>> texts;
        for (const testing::ProjectFile& file :
             testing::projectFiles(doc.description(), temp_ / dll, resourceTypeOf)) {
            if (choosePane(ShowMode::kTreeSelection, file.type, file.name, false).kind == PaneKind::kText)
                texts.emplace_back(file.path, file.element);
        }
        std::sort(texts.begin(), texts.end());
        texts.erase(std::unique(texts.begin(), texts.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    texts.end());
        for (const auto& [path, element] : texts) {
            SCOPED_TRACE(path.string());
            const ByteVector original = testing::readBytes(path);
            const DecodedText before = DecodeTextFile(original, prefersUtf16(path));
            TextWnd& pane = open(path, element);
            ASSERT_TRUE(pane.isLoaded());
            EXPECT_FALSE(pane.isModified());
            typeAtStart(*pane.editor(), QStringLiteral("x"));
            pane.editor()->undo();
            ASSERT_TRUE(pane.Commit().succeeded());
            const ByteVector written = testing::readBytes(path);
            DecodedText after = DecodeTextFile(written, prefersUtf16(path));
            EXPECT_EQ(after.encoding, before.encoding);
            EXPECT_EQ(after.bom, before.bom);
            EXPECT_EQ(after.lineEnd, before.lineEnd);
            EXPECT_EQ(after.text, before.text);
            // Uniform line ends: the very same bytes.
            std::vector<std::byte> reencoded;
            if (!EncodeTextFile(before.text, before, reencoded) && reencoded == original) {
                EXPECT_EQ(written, original);
            }
            ++encodings[before.encoding];
            ++files;
        }
    }
    EXPECT_GT(files, 3);
    std::printf("[ text files ] %d (UTF-8 %d, UTF-16 %d, GBK %d, escaped %d)\n", files,
                encodings[TextEncoding::kUtf8], encodings[TextEncoding::kUtf16Le],
                encodings[TextEncoding::kCp936], encodings[TextEncoding::kUtf8Escaped]);
}

// kernelbase's message table shown as text (the hex pane's "查看 文本"): read-only under its note;
// a key typed at the end and leaving the entry leave every byte of it as it was.
TEST_F(TextWndTest, ARealMessageTableIsShownReadOnlyAndKeptByteForByte) {
    const fs::path dll = testing::corpusFile("usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernelbase.dll");
    fs::path project;
    if (dll.empty() || DecompileProject(dll, temp_ / "kernelbase", project).failed())
        GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    CKsDoc doc(dataFolder() / "Temp");
    ASSERT_TRUE(doc.OpenProject(project));
    fs::path table;
    XmlElement* element = nullptr;
    for (const testing::ProjectFile& file :
         testing::projectFiles(doc.description(), temp_ / "kernelbase", resourceTypeOf)) {
        if (file.type == resource_type::kMessageTable && table.empty()) {
            table = file.path;
            element = file.element;
        }
    }
    ASSERT_FALSE(table.empty());
    const ByteVector original = testing::readBytes(table);
    TextWnd& pane = open(table, element, {720, 480});
    EXPECT_TRUE(pane.isBinary());
    EXPECT_FALSE(pane.binaryNote()->isHidden());
    QTextCursor cursor = pane.editor()->textCursor();
    cursor.movePosition(QTextCursor::End);
    pane.editor()->setTextCursor(cursor);
    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(pane.editor(), &key);
    EXPECT_FALSE(pane.isModified());
    EXPECT_TRUE(pane.Commit().succeeded());
    EXPECT_EQ(testing::readBytes(table), original);
    cursor.movePosition(QTextCursor::Start);
    pane.editor()->setTextCursor(cursor);
    screenshot(pane, "text_pane_message_table_read_only");
}

TEST_F(TextWndTest, ScreenshotsOfRealTextFiles) {
    const fs::path dll = testing::corpusFile("usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll");
    fs::path project;
    if (dll.empty() || DecompileProject(dll, temp_ / "shell32", project).failed())
        GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    TextWnd& pane = open(temp_ / "shell32/STRINGS.XML", nullptr, {720, 480});
    state.find = {QStringLiteral("文件夹"), {}, false, false};
    bool shot = false;
    QObject::connect(&pane, &TextWnd::findDialogOpened, [&](FindDlg* dialog) {
        QTimer::singleShot(0, dialog, [&, dialog] {
            dialog->whatEdit()->setText(QStringLiteral("Folder"));
            dialog->press(FindResult::kFindNext);
            // The dialog drawn over the pane where a window manager would centre it.
            QPixmap picture = pane.grab();
            QPainter painter(&picture);
            const QPixmap box = dialog->grab();
            painter.drawPixmap((picture.width() - box.width()) / 2 + 80, picture.height() - box.height() - 20,
                               box);
            painter.end();
            const fs::path folder = fs::path(KESTREL_BINARY_DIR) / "screenshots";
            fs::create_directories(folder);
            shot = picture.save(QString::fromStdString((folder / "text_pane_strings_find.png").string()));
            dialog->press(FindResult::kCancel);
        });
    });
    pane.OpenFind();
    EXPECT_TRUE(shot);

    // A manifest, coloured.
    fs::path manifest;
    for (const auto& entry : fs::recursive_directory_iterator(temp_ / "shell32")) {
        if (!entry.is_regular_file()) continue;
        const ByteVector bytes = testing::readBytes(entry.path());
        const std::string head(reinterpret_cast<const char*>(bytes.data()),
                               std::min<std::size_t>(bytes.size(), 200));
        if (head.find("<assembly") != std::string::npos) manifest = entry.path();
    }
    ASSERT_FALSE(manifest.empty());
    open(manifest, nullptr, {720, 420});
    EXPECT_NE(wnd->highlighter(), nullptr);
    screenshot(*wnd, "text_pane_manifest");
}

}  // namespace
}  // namespace kestrel::ui
