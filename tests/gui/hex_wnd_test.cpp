#include "ui/panes/hex_wnd.h"

#include <QAction>
#include <QKeyEvent>
#include <chrono>

#include "core/hex/hex_model.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "ui/frame/ks_view.h"
#include "ui/panes/pane_host.h"
#include "ui/widgets/hex_edit.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;
using pebuilder::ByteVector;

void typeHex(HexEdit& hex, const QString& digits) {
    for (QChar digit : digits) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(digit));
        QCoreApplication::sendEvent(&hex, &key);
    }
}

class HexWndTest : public testing::IsolatedGuiTest {
  protected:
    void SetUp() override {
        services.settings = settings_.get();
        registerPaneFactory(PaneType::kHex, makeHexPaneFactory(services));
        // Entries: a bitmap, a data file used by two resources, a missing file, a string table.
        const fs::path project = projectWith(
            "<Directory Type='0'>"
            "<Entry ID='2' Directory='1'><Directory Type='2'><Entry ID='1' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='BMP\\Bitmap00001.BMP' Png='0'/></Entry>"
            "</Directory></Entry></Directory></Entry>"
            "<Entry ID='10' Directory='1'><Directory Type='10'>"
            "<Entry ID='1' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='DATA1.bin'/></Entry></Directory></Entry>"
            "<Entry ID='2' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='DATA2.bin'/></Entry></Directory></Entry>"
            "<Entry ID='3' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='GONE.bin'/></Entry></Directory></Entry>"
            "</Directory></Entry>"
            "<Entry ID='6' Directory='1'><Directory Type='6'><Entry ID='1' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='STRINGS.XML'/></Entry>"
            "</Directory></Entry></Directory></Entry></Directory>");
        folder = project.parent_path();
        temp_.write("p/BMP/Bitmap00001.BMP", "BM-bitmap");
        temp_.write("p/DATA1.bin", "\x01\x02\x03");
        temp_.write("p/DATA2.bin", "two");
        temp_.write("p/STRINGS.XML", "<ROOT/>");
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        ASSERT_TRUE(document->OpenProject(project));
        files = testing::projectFiles(document->description(), folder, resourceTypeOf);
        host = std::make_unique<PaneHost>();
        host->resize(640, 400);
        host->QWidget::show();
    }
    void TearDown() override {
        host.reset();
        registerPaneFactory(PaneType::kHex, {});
    }
    const testing::ProjectFile& entry(const std::string& name) const {
        static const testing::ProjectFile kNone;
        for (const testing::ProjectFile& file : files) {
            if (file.name == name) return file;
        }
        return kNone;
    }
    XmlElement* element(const std::string& name) const { return entry(name).element; }
    HexWnd* show(const std::string& name, ShowMode mode = ShowMode::kHexFromText) {
        host->ShowFile(document.get(), pathToUtf8(entry(name).path), element(name), mode);
        auto* pane = dynamic_cast<HexPane*>(host->activePane());
        return pane != nullptr ? pane->window() : nullptr;
    }
    static std::string attribute(XmlElement* element, std::string_view name) {
        XmlAttribute* found = XmlDocument::FindAttribute(element, name);
        return found ? found->value() : std::string("<none>");
    }

    testing::GuiScriptedSink sink;
    PaneServices services;
    std::unique_ptr<CKsDoc> document;
    std::vector<testing::ProjectFile> files;
    std::unique_ptr<PaneHost> host;
    fs::path folder;
};

TEST_F(HexWndTest, AMissingFileIsReportedAndNeverCreated) {
    HexWnd* pane = show("GONE.bin");
    ASSERT_NE(pane, nullptr);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("GONE.bin"), std::string::npos) << sink.errors[0];
    EXPECT_FALSE(pane->hexEdit()->hasData());
    typeHex(*pane->hexEdit(), QStringLiteral("41"));
    EXPECT_FALSE(host->activePane()->isModified());
    EXPECT_TRUE(host->CommitPane());
    show("DATA2.bin");
    EXPECT_FALSE(fs::exists(folder / "GONE.bin"));
}

TEST_F(HexWndTest, OnlyAnEditedFileIsWrittenAndUndoReloadsIt) {
    HexWnd* pane = show("DATA1.bin");
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->hexEdit()->data(), testing::toBytes("\x01\x02\x03"));
    EXPECT_FALSE(host->canEdit(EditCommand::kUndo));
    const auto written = fs::last_write_time(folder / "DATA1.bin");
    pane = show("DATA2.bin");
    EXPECT_EQ(fs::last_write_time(folder / "DATA1.bin"), written);

    // Overwrite mode (the default setting): two digits replace the first byte.
    typeHex(*pane->hexEdit(), QStringLiteral("54"));
    EXPECT_TRUE(host->canEdit(EditCommand::kUndo));
    host->edit(EditCommand::kUndo);
    EXPECT_EQ(pane->hexEdit()->data(), testing::toBytes("two"));
    EXPECT_FALSE(host->canEdit(EditCommand::kUndo));

    // Insert mode: the digits go into a new byte before the first.
    ASSERT_TRUE(settings_->SetIntSetting("Flag", "Insert", 1).succeeded());
    typeHex(*pane->hexEdit(), QStringLiteral("3e"));
    show("DATA1.bin");
    EXPECT_EQ(testing::readBytes(folder / "DATA2.bin"), testing::toBytes(">two"));
    EXPECT_TRUE(sink.errors.empty());

    // "查看 文本" asks the host for the text pane on the same file.
    show("DATA2.bin")->switchAction()->trigger();
    EXPECT_TRUE(testing::waitUntil([&] { return host->kind() == PaneKind::kText; }));
    EXPECT_EQ(host->currentPath(), folder / "DATA2.bin");
}

TEST_F(HexWndTest, AFileChangedByAnotherProgramIsReloaded) {
    HexWnd* pane = show("DATA2.bin");
    ASSERT_NE(pane, nullptr);
    typeHex(*pane->hexEdit(), QStringLiteral("00"));
    temp_.write("p/DATA2.bin", "changed");
    fs::last_write_time(folder / "DATA2.bin", fs::file_time_type::clock::now() + std::chrono::seconds(5));
    EXPECT_TRUE(testing::waitUntil([&] { return pane->hexEdit()->data() == testing::toBytes("changed"); },
                                   kFileWatchIntervalMs * 3));
    EXPECT_FALSE(pane->isModified());
}

TEST_F(HexWndTest, ReplaceAsksBeforeOverwritingAnotherResourceAndKeepsPngAndStringsRight) {
    HexWnd* pane = show("DATA1.bin");
    ASSERT_NE(pane, nullptr);
    // A file of the same name as another resource's file: asked, and No keeps both.
    const fs::path other = temp_.write("elsewhere/DATA2.bin", "replacement");
    sink.answers = {Answer::kNo};
    pane->ReplaceWith(other);
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_NE(sink.questions[0].find("已存在并被其他资源使用"), std::string::npos);
    EXPECT_EQ(testing::readBytes(folder / "DATA2.bin"), testing::toBytes("two"));
    EXPECT_EQ(attribute(element("DATA1.bin"), "Name"), "DATA1.bin");
    sink.answers = {Answer::kYes};
    pane->ReplaceWith(other);
    EXPECT_EQ(attribute(element("DATA1.bin"), "Name"), "DATA2.bin");
    EXPECT_EQ(pane->hexEdit()->data(), testing::toBytes("replacement"));

    // A PNG on a bitmap: the entry keeps naming its .BMP, in its folder, and is marked as PNG.
    pane = show("BMP\\Bitmap00001.BMP", ShowMode::kHexFromImage);
    EXPECT_EQ(pane->switchAction()->text(), QStringLiteral(" 查看图象 "));
    sink.answers = {Answer::kYes};  // the different extension
    pane->ReplaceWith(temp_.write("elsewhere/new.png", "\x89PNG"));
    XmlElement* bitmap = element("BMP\\Bitmap00001.BMP");
    EXPECT_EQ(attribute(bitmap, "Name"), "BMP\\new.BMP");
    EXPECT_EQ(attribute(bitmap, "Png"), "1");
    EXPECT_EQ(pane->path(), folder / "BMP/new.png");

    // A string-table entry: STRINGS.XML is replaced, the entry keeps its name.
    pane = show("STRINGS.XML");
    EXPECT_EQ(pane->switchAction()->text(), QStringLiteral("查看 文本"));
    sink.answers = {Answer::kYes};
    pane->ReplaceWith(temp_.write("elsewhere/strings2.xml", "<ROOT>2</ROOT>"));
    EXPECT_EQ(testing::readBytes(folder / "STRINGS.XML"), testing::toBytes("<ROOT>2</ROOT>"));
    EXPECT_EQ(attribute(element("STRINGS.XML"), "Name"), "STRINGS.XML");
    EXPECT_FALSE(fs::exists(folder / "strings2.xml"));
}

TEST_F(HexWndTest, ScreenshotOfADialogResource) {
    const fs::path dll = testing::corpusFile("usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll");
    fs::path project;
    if (dll.empty() || DecompileProject(dll, temp_ / "shell32", project).failed())
        GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    CKsDoc shell32(dataFolder() / "Temp");
    ASSERT_TRUE(shell32.OpenProject(project));
    fs::path dialog;
    for (const testing::ProjectFile& file :
         testing::projectFiles(shell32.description(), temp_ / "shell32", resourceTypeOf)) {
        if (file.type == 5 && fs::file_size(file.path) > 400) {
            dialog = file.path;
            break;
        }
    }
    ASSERT_FALSE(dialog.empty());
    HexWnd pane(nullptr, services);
    pane.resize(760, 420);
    pane.show();
    pane.ShowHexFile(dialog, nullptr, nullptr, ShowMode::kHexFromText);
    HexEdit& hex = *pane.hexEdit();
    hex.setFocus();
    // Select bytes 0x12 to 0x3B with the mouse-free keys: Right to the start, then Shift+Right.
    for (int i = 0; i < 0x12; ++i) {
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QCoreApplication::sendEvent(&hex, &right);
    }
    for (int i = 0; i < 0x2A; ++i) {
        QKeyEvent select(QEvent::KeyPress, Qt::Key_Right, Qt::ShiftModifier);
        QCoreApplication::sendEvent(&hex, &select);
    }
    EXPECT_EQ(hex.model().selectionStart(), 0x12);
    EXPECT_EQ(hex.model().selectionEnd(), 0x3B);
    // The scroll bars follow the layout through a queued signal.
    QCoreApplication::processEvents();
    screenshot(pane, "hex_pane_shell32_dialog");
}

}  // namespace
}  // namespace kestrel::ui
