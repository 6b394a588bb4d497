#include "ui/panes/version_wnd.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "core/platform/paths.h"
#include "gui_test_support.h"
#include "ui/panes/hex_wnd.h"
#include "ui/panes/pane_host.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;

// A version resource with fixed information, `strings` strings and a translation.
std::vector<std::byte> versionBytes(int strings, std::uint32_t fileOS = 0x00040004,
                                    std::uint32_t fileType = 2) {
    VersionInfo info = MakeMinimalVersionInfo(0x0409);
    FixedFileInfo fixed = *GetFixedFileInfo(info);
    fixed.setFileVersion({6, 1, 7601, 17514});
    fixed.setProductVersion({6, 1, 0, 0});
    fixed.fileOS = fileOS;
    fixed.fileType = fileType;
    SetFixedFileInfo(info, fixed);
    for (int i = 0; i < strings; ++i) {
        const std::u16string key = i == 0   ? u"CompanyName"
                                   : i == 1 ? u"InternalName"
                                            : u"Key" + std::u16string(1, char16_t(u'A' + i));
        SetVersionString(info, key, u"value " + std::u16string(1, char16_t(u'a' + i)));
    }
    std::vector<std::byte> bytes;
    EXPECT_TRUE(WriteVersionInfo(info, bytes).succeeded());
    return bytes;
}

VersionInfo parsed(const std::vector<std::byte>& bytes) {
    VersionInfo info;
    EXPECT_TRUE(ParseVersionInfo(bytes, info).succeeded());
    return info;
}

TEST(VersionForm, ShowsTheTreeAndTakesOnlyWhatWasEdited) {
    const std::vector<std::byte> original = versionBytes(15, 0x00050000, 9);
    VersionInfo info = parsed(original);
    const VersionFormValues shown = versionFormValues(info);
    EXPECT_EQ(shown.fileVersion, "6,1,7601,17514");
    EXPECT_EQ(shown.flagsMask, "0x0000003f");
    EXPECT_EQ(shown.fileOS, 0);     // 0x00050000 is not in the list: VOS_UNKNOWN
    EXPECT_EQ(shown.fileType, -1);  // 9 is beyond the list: nothing selected
    EXPECT_EQ(shown.names[0], "CompanyName");
    EXPECT_EQ(shown.names[1], "InternalName");
    EXPECT_EQ(shown.values[1], "value b");
    EXPECT_EQ(shown.names[11], "KeyL");  // twelve of the fifteen
    EXPECT_EQ(shown.varName, "Translation");
    EXPECT_EQ(shown.varValue, "0x04b00409");

    // An untouched form changes no byte, not even the values the lists cannot show.
    std::vector<std::byte> bytes;
    EXPECT_TRUE(applyVersionForm(info, shown, shown).isEmpty());
    ASSERT_TRUE(WriteVersionInfo(info, bytes).succeeded());
    EXPECT_EQ(bytes, original);

    VersionFormValues edited = shown;
    edited.fileVersion = " 5, 1,2600 ,0";
    edited.fileType = 1;
    edited.values[0] = "";          // emptied: the key stays with an empty value
    edited.names[12 - 1] = "KeyL";  // read-only in the form; unchanged anyway
    edited.varValue = "0x04e40804";
    ASSERT_TRUE(applyVersionForm(info, shown, edited).isEmpty());
    const FixedFileInfo fixed = *GetFixedFileInfo(info);
    EXPECT_EQ(fixed.fileVersionMS, 0x00050001u);
    EXPECT_EQ(fixed.fileVersionLS, 0x0A280000u);
    EXPECT_EQ(fixed.fileOS, 0x00050000u);
    EXPECT_EQ(fixed.fileType, 1u);
    EXPECT_EQ(GetVersionString(info, u"CompanyName"), std::u16string());
    EXPECT_EQ(GetVersionStrings(info).size(), 15u);
    EXPECT_EQ(GetVersionString(info, u"KeyO"), u"value o");  // beyond the form: kept
    EXPECT_EQ(GetVersionTranslation(info), (VersionTranslation{0x0804, 0x04E4}));
}

TEST(VersionForm, RefusesTextsItCannotTakeAndChangesNothing) {
    const VersionInfo original = parsed(versionBytes(2));
    const VersionFormValues shown = versionFormValues(original);
    auto refused = [&](auto change) {
        VersionInfo info = original;
        VersionFormValues edited = shown;
        change(edited);
        const bool wasRefused = !applyVersionForm(info, shown, edited).isEmpty();
        std::vector<std::byte> before, after;
        EXPECT_TRUE(WriteVersionInfo(original, before).succeeded());
        EXPECT_TRUE(WriteVersionInfo(info, after).succeeded());
        EXPECT_EQ(before, after);
        return wasRefused;
    };
    EXPECT_TRUE(refused([](VersionFormValues& v) { v.fileVersion = "1,2,3"; }));
    EXPECT_TRUE(refused([](VersionFormValues& v) { v.fileVersion = "1,2,3,65536"; }));
    EXPECT_TRUE(refused([](VersionFormValues& v) { v.productVersion = "1,2,-3,4"; }));
    EXPECT_TRUE(refused([](VersionFormValues& v) { v.flags = "0x1g"; }));
    EXPECT_TRUE(refused([](VersionFormValues& v) { v.flagsMask = "0x100000000"; }));
    EXPECT_TRUE(refused([](VersionFormValues& v) { v.varValue = ""; }));
    // A value in a free row needs a name; a good edit next to a bad one is not taken either.
    EXPECT_TRUE(refused([](VersionFormValues& v) {
        v.values[2] = "orphan";
        v.values[0] = "changed";
    }));
}

TEST(VersionForm, AFreeRowAddsItsKey) {
    VersionInfo info = parsed(versionBytes(2));
    const VersionFormValues shown = versionFormValues(info);
    VersionFormValues edited = shown;
    edited.names[2] = " ProductName ";
    edited.values[2] = "Kestrel";
    ASSERT_TRUE(applyVersionForm(info, shown, edited).isEmpty());
    EXPECT_EQ(GetVersionString(info, u"ProductName"), u"Kestrel");
    EXPECT_EQ(versionFormValues(info).names[2], "ProductName");
}

class VersionWndTest : public testing::IsolatedGuiTest {
  protected:
    void SetUp() override {
        registerPaneFactory(PaneType::kVersion, makeVersionPaneFactory({}));
        registerPaneFactory(PaneType::kHex, makeHexPaneFactory({}));
        const fs::path project = projectWith(
            "<Directory Type='0'>"
            "<Entry ID='16' Directory='1'><Directory Type='16'>"
            "<Entry ID='1' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='VERSION'/></Entry></Directory></Entry>"
            "<Entry ID='2' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='BROKEN'/></Entry></Directory></Entry>"
            "</Directory></Entry></Directory>");
        folder = project.parent_path();
        temp_.write("p/VERSION", versionBytes(3));
        temp_.write("p/BROKEN", std::string("\x04\x00", 2));
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        ASSERT_TRUE(document->OpenProject(project));
        files = testing::projectFiles(document->description(), folder, resourceTypeOf);
        host = std::make_unique<PaneHost>();
        host->resize(640, 760);
        host->QWidget::show();
    }
    void TearDown() override {
        host.reset();
        registerPaneFactory(PaneType::kVersion, {});
        registerPaneFactory(PaneType::kHex, {});
    }
    VersionWnd* show(const std::string& name) {
        for (const testing::ProjectFile& file : files) {
            if (file.name == name)
                host->ShowFile(document.get(), file.name, file.element, ShowMode::kTreeSelection);
        }
        auto* pane = dynamic_cast<VersionPane*>(host->activePane());
        return pane != nullptr ? pane->window() : nullptr;
    }

    testing::GuiScriptedSink sink;
    fs::path folder;
    std::unique_ptr<CKsDoc> document;
    std::vector<testing::ProjectFile> files;
    std::unique_ptr<PaneHost> host;
};

TEST_F(VersionWndTest, OkMarksModifiedAndTheCommitWritesTheFile) {
    const std::vector<std::byte> original = testing::readBytes(folder / "VERSION");
    VersionWnd* pane = show("VERSION");
    ASSERT_NE(pane, nullptr);
    VersionForm& form = *pane->form();
    EXPECT_EQ(form.fileOSList()->currentText(), "VOS_NT_WINDOWS32");
    EXPECT_TRUE(form.nameEdit(0)->isReadOnly());
    EXPECT_FALSE(form.nameEdit(3)->isReadOnly());

    // OK with nothing edited and Cancel after typing leave the pane unmodified.
    form.okButton()->click();
    EXPECT_FALSE(pane->isModified());
    form.fileVersionEdit()->setText("9,9,9,9");
    form.cancelButton()->click();
    EXPECT_EQ(form.fileVersionEdit()->text(), "6,1,7601,17514");
    EXPECT_FALSE(pane->isModified());

    // A bad text is refused with a message; the typed text stays for the user to correct.
    form.fileVersionEdit()->setText("5.1.2600");
    form.okButton()->click();
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_TRUE(pane->isModified()) << "the typed text is an edit the pane still holds";

    form.fileVersionEdit()->setText("5,1,2600,0");
    form.valueEdit(0)->setText("Kestrel Makers");
    form.okButton()->click();
    EXPECT_TRUE(pane->isModified());
    EXPECT_EQ(testing::readBytes(folder / "VERSION"), original);  // written on commit only
    ASSERT_TRUE(host->CommitPane());
    EXPECT_FALSE(pane->isModified());
    const VersionInfo written = parsed(testing::readBytes(folder / "VERSION"));
    EXPECT_EQ(GetFixedFileInfo(written)->fileVersion(), (VersionNumber{5, 1, 2600, 0}));
    EXPECT_EQ(GetVersionString(written, u"CompanyName"), u"Kestrel Makers");

    // Undo through the frame shows the file as it is on disk again.
    form.productVersionEdit()->setText("7,0,0,0");
    form.okButton()->click();
    ASSERT_TRUE(host->canEdit(EditCommand::kUndo));
    host->edit(EditCommand::kUndo);
    EXPECT_FALSE(pane->isModified());
    EXPECT_EQ(form.productVersionEdit()->text(), "6,1,0,0");
}

TEST_F(VersionWndTest, LeavingThePaneTakesTypedFieldsAndAFieldThatIsWrongKeepsIt) {
    VersionWnd* pane = show("VERSION");
    ASSERT_NE(pane, nullptr);
    XmlElement* other = nullptr;
    for (const testing::ProjectFile& file : files)
        if (file.name == "BROKEN") other = file.element->parent();
    ASSERT_NE(other, nullptr);

    // Typed without OK: selecting another resource writes it as OK would have.
    pane->form()->valueEdit(0)->setText("Typed Corp");
    EXPECT_TRUE(pane->isModified());
    ASSERT_TRUE(host->Select(document.get(), other));
    EXPECT_EQ(GetVersionString(parsed(testing::readBytes(folder / "VERSION")), u"CompanyName"),
              u"Typed Corp");

    // A field that does not read keeps the pane with the typed text, says why, and writes nothing.
    pane = show("VERSION");
    const std::vector<std::byte> before = testing::readBytes(folder / "VERSION");
    pane->form()->fileVersionEdit()->setText("5.1.2600");
    pane->form()->valueEdit(0)->setText("Never Written");
    EXPECT_FALSE(host->Select(document.get(), other));
    EXPECT_EQ(host->activeWidget(), pane);
    EXPECT_EQ(pane->form()->fileVersionEdit()->text(), "5.1.2600");
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(sink.errors[0].rfind("文件版本 \"5.1.2600\" 无效", 0), 0u) << sink.errors[0];
    EXPECT_FALSE(host->CommitPane());
    EXPECT_EQ(testing::readBytes(folder / "VERSION"), before);

    // Cancel still puts the form back, and the pane can be left.
    pane->form()->cancelButton()->click();
    EXPECT_FALSE(pane->isModified());
    EXPECT_TRUE(host->Select(document.get(), other));
    EXPECT_EQ(testing::readBytes(folder / "VERSION"), before);
}

TEST_F(VersionWndTest, BrokenAndMissingFilesShowNothingToSave) {
    VersionWnd* pane = show("BROKEN");
    ASSERT_NE(pane, nullptr);
    EXPECT_FALSE(pane->form()->isEnabled());
    pane->form()->okButton()->click();
    EXPECT_FALSE(pane->isModified());

    fs::remove(folder / "VERSION");
    pane = show("VERSION");
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(sink.errors.size(), 1u);
    EXPECT_FALSE(pane->isModified());
    EXPECT_TRUE(host->CommitPane());
    EXPECT_FALSE(fs::exists(folder / "VERSION"));  // never created
}

TEST_F(VersionWndTest, ShowHexCommitsAndSwitchesToTheHexPane) {
    VersionWnd* pane = show("VERSION");
    ASSERT_NE(pane, nullptr);
    pane->form()->productVersionEdit()->setText("2,0,0,0");
    pane->form()->okButton()->click();
    pane->hexAction()->trigger();
    ASSERT_TRUE(testing::waitUntil([&] { return dynamic_cast<HexPane*>(host->activePane()) != nullptr; }));
    EXPECT_EQ(GetFixedFileInfo(parsed(testing::readBytes(folder / "VERSION")))->productVersion(),
              (VersionNumber{2, 0, 0, 0}));
}

TEST_F(VersionWndTest, ScreenshotOfShell32) {
    const fs::path dll = testing::corpusFile("usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll");
    fs::path project;
    if (dll.empty() || DecompileProject(dll, temp_ / "shell32", project).failed())
        GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    VersionWnd pane(nullptr);
    pane.resize(640, 760);
    pane.show();
    pane.ShowVersionFile(temp_ / "shell32" / "VERSION", nullptr, nullptr);
    EXPECT_TRUE(pane.form()->isEnabled());
    EXPECT_FALSE(pane.form()->valueEdit(0)->text().isEmpty());
    QCoreApplication::processEvents();
    screenshot(pane, "version_pane_shell32");
}

}  // namespace
}  // namespace kestrel::ui
