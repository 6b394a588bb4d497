#include "ui/text_wnd.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTextBlock>
#include <QTimer>
#include <chrono>

#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "ui/code_editor.h"
#include "ui/pane_host.h"

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
        // Neither: invalid bytes and NULs are carried through unchanged.
        {"e.css", std::string("x\xFF\0y\x80\r\n", 7), std::string("\xE4\xB8\xADx\xFF\0y\x80\r\n", 10)},
        // Mixed line ends are written with the dominant one.
        {"f.xml", "a\r\nb\r\nc\nd",
         "\xE4\xB8\xAD"
         "a\r\nb\r\nc\r\nd"},
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
    EXPECT_TRUE(pane.Commit().failed());
    EXPECT_TRUE(pane.isModified());
    EXPECT_EQ(testing::readBytes(file), testing::toBytes("\xC4\xE3\xBA\xC3"));
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

    // Replace goes on from the search position; the replacement is undoable.
    const FindValues grow{QStringLiteral("a"), QStringLiteral("aa"), false, true};
    EXPECT_TRUE(pane.FindStep(FindResult::kReplace, grow));
    EXPECT_EQ(pane.editor()->text(), u"a aab A a\n");
    pane.editor()->undo();
    EXPECT_EQ(pane.editor()->text(), u"a ab A a\n");

    // Replace all with a text containing the searched one ends, and is one undo step.
    open(temp_.write("g.xml", "a a a\n"));
    EXPECT_TRUE(wnd->FindStep(FindResult::kReplaceAll, grow));
    EXPECT_EQ(wnd->editor()->text(), u"aa aa aa\n");
    wnd->editor()->undo();
    EXPECT_EQ(wnd->editor()->text(), u"a a a\n");
    EXPECT_FALSE(wnd->FindStep(FindResult::kReplaceAll, {QStringLiteral("zz"), {}, false, false}));
    EXPECT_EQ(sink.messages.size(), 2u);
}

TEST_F(TextWndTest, TheFindDialogRunsUntilCancelledAndKeepsItsValues) {
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
                dialog->press(FindResult::kFindNext);
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
    // The selection from before the dialog is back (it followed the edits).
    EXPECT_EQ(pane.editor()->textCursor().position(), 2);
    pane.OpenFind();
    EXPECT_EQ(opened, 2);
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
            if (EncodeTextFile(before.text, before, reencoded).succeeded() && reencoded == original) {
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
