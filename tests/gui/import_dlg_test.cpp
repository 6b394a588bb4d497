#include "ui/dialogs/import_dlg.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "core/platform/paths.h"
#include "gui_test_support.h"
#include "ui/frame/qt_ui_sink.h"

namespace kestrel::ui {
namespace {

class ImportDlgTest : public testing::IsolatedGuiTest {
  protected:
    std::filesystem::path sampleDll(const std::string& name = "sample.dll") {
        return temp_.write("in/" + name, pebuilder::buildSampleImage());
    }
    testing::GuiScriptedSink sink;
};

TEST_F(ImportDlgTest, FileChecksRefuseEmptyMissingAndNonPeFiles) {
    CImportDlg dialog(settings_.get(), dataFolder());
    EXPECT_FALSE(dialog.checkFile());
    dialog.setFile(pathToUtf8(temp_ / "nope.dll"));
    EXPECT_FALSE(dialog.checkFile());
    // Any PE file is taken, with any resources or none, 32 or 64 bits.
    pebuilder::ImagePlan plan;
    plan.resources.push_back(
        {pebuilder::kRtRcData, std::uint16_t{1}, pebuilder::kLangEnUs, pebuilder::bytesOf("x"), 0});
    dialog.setFile(pathToUtf8(temp_.write("in/plain.dll", pebuilder::buildImage(plan))));
    EXPECT_TRUE(dialog.checkFile());
    plan.withResourceSection = false;
    plan.pe32Plus = true;
    dialog.setFile(pathToUtf8(temp_.write("in/bare64.dll", pebuilder::buildImage(plan))));
    EXPECT_TRUE(dialog.checkFile());
    const auto text = temp_.write("in/text.dll", "MZ but not a PE file");
    dialog.setFile(pathToUtf8(text));
    EXPECT_FALSE(dialog.checkFile());
    ASSERT_EQ(sink.messages.size(), 3u);
    EXPECT_EQ(sink.messages[0], "你必须指定一个要插入的文件。");
    EXPECT_EQ(sink.messages[1], "文件 " + pathToUtf8(temp_ / "nope.dll") + " 并不存在。");
    EXPECT_EQ(sink.messages[2], "文件 '" + pathToUtf8(text) + "' 不是 Kestrel 能够拆开的 PE 文件。");
}

TEST_F(ImportDlgTest, LeavingTheFileEditProposesTheDefaultFolder) {
    CImportDlg dialog(settings_.get(), dataFolder());
    dialog.setFile("/x/theme.dll");
    emit dialog.fileEdit()->editingFinished();
    EXPECT_EQ(dialog.folder(), pathToUtf8(dataFolder() / "theme"));
    (void)settings_->SetStringSetting("Dir", "DefaultImport", pathToUtf8(temp_ / "imports"));
    emit dialog.fileEdit()->editingFinished();
    EXPECT_EQ(dialog.folder(), pathToUtf8(temp_ / "imports" / "theme"));
}

TEST_F(ImportDlgTest, TheTempWorkingFolderIsRefused) {
    CImportDlg dialog(settings_.get(), dataFolder());
    for (const char* name : {"/x/temp.dll", "/x/Temp.dll"}) {
        dialog.setFile(name);
        dialog.proposeFolder();
        EXPECT_FALSE(dialog.checkFolder()) << name;
    }
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_NE(sink.messages[0].find("是临时工作目录，请选择其他目录。"), std::string::npos);
    EXPECT_TRUE(sink.questions.empty());
}

TEST_F(ImportDlgTest, FolderChecks) {
    CImportDlg dialog(settings_.get(), dataFolder());
    EXPECT_FALSE(dialog.checkFolder());
    EXPECT_EQ(sink.messages.back(), "你必须指定一个  dump 的目录。");

    const auto file = temp_.write("afile", "x");
    dialog.setFolder(pathToUtf8(file));
    EXPECT_FALSE(dialog.checkFolder());
    EXPECT_EQ(sink.messages.back(), pathToUtf8(file) + " 并不是一个目录");

    // A missing folder: No refuses, Yes creates it. Trailing separators are dropped.
    const auto missing = temp_ / "new" / "folder";
    dialog.setFolder(pathToUtf8(missing) + "//");
    sink.answers = {Answer::kNo};
    EXPECT_FALSE(dialog.checkFolder());
    EXPECT_FALSE(std::filesystem::exists(missing));
    sink.answers = {Answer::kYes};
    EXPECT_TRUE(dialog.checkFolder());
    EXPECT_TRUE(std::filesystem::is_directory(missing));
    EXPECT_EQ(dialog.folder(), pathToUtf8(missing));
}

TEST_F(ImportDlgTest, BrowsingIntoAProjectFolderAsksAndCancelKeepsTheField) {
    CImportDlg dialog(settings_.get(), dataFolder());
    dialog.setFolder("/previous");
    const auto withProject = temp_ / "has";
    temp_.write("has/old.kestrel", "x");
    const auto empty = temp_ / "empty";
    std::filesystem::create_directories(empty);
    std::vector<std::string> offers = {pathToUtf8(withProject), pathToUtf8(empty)};
    std::size_t next = 0;
    dialog.setFolderBrowser([&](QWidget*, const std::string&) -> std::optional<std::string> {
        if (next >= offers.size()) return std::nullopt;
        return offers[next++];
    });
    sink.answers = {Answer::kCancel};
    dialog.browseFolder();
    EXPECT_EQ(dialog.folder(), "/previous");
    // Yes browses again and takes the next folder.
    next = 0;
    sink.answers = {Answer::kYes};
    dialog.browseFolder();
    EXPECT_EQ(dialog.folder(), pathToUtf8(empty));
    ASSERT_EQ(sink.questions.size(), 2u);
    EXPECT_EQ(sink.questions[0], std::string(kImportProjectPresent));
}

TEST_F(ImportDlgTest, OkClosesOnlyWhenBothChecksPass) {
    CImportDlg dialog(settings_.get(), dataFolder());
    dialog.show();
    dialog.setFile(pathToUtf8(sampleDll()));
    dialog.proposeFolder();
    screenshot(dialog, "import_dialog");
    sink.answers = {Answer::kYes};
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(std::filesystem::is_directory(dataFolder() / "sample"));
}

// A typed or proposed folder that already holds a project is never imported into silently.
TEST_F(ImportDlgTest, OkIntoAFolderHoldingAProjectAsksFirst) {
    CImportDlg dialog(settings_.get(), dataFolder());
    dialog.setFile(pathToUtf8(sampleDll()));
    temp_.write("typed/earlier.kestrel", "x");
    const std::string typed = pathToUtf8(temp_ / "typed");
    const auto other = temp_ / "other";
    std::filesystem::create_directories(other);
    dialog.setFolderBrowser([&](QWidget*, const std::string&) { return std::optional(pathToUtf8(other)); });

    dialog.setFolder(typed);
    sink.answers = {Answer::kCancel};  // keeps the dialog open, the folder as it is
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.folder(), typed);
    sink.answers = {Answer::kYes};  // chooses another folder
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.folder(), pathToUtf8(other));

    dialog.setFolder(typed);
    sink.answers = {Answer::kNo};  // imports there after all
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(sink.questions, std::vector<std::string>(3, std::string(kImportProjectPresent)));
}

}  // namespace
}  // namespace kestrel::ui

namespace kestrel::ui {
namespace {

TEST_F(ImportDlgTest, AFolderThatTakesNoFilesIsNamedAndTheBoxOverTheDialogTakesInput) {
    CImportDlg dialog(settings_.get(), dataFolder());
    dialog.setFile(pathToUtf8(sampleDll()));
    // A folder even the administrator cannot write in, existing or to be created.
    for (const std::string folder : {"/sys/kernel", "/proc/kestrel-import"}) {
        sink.messages.clear();
        sink.answers = {Answer::kYes};  // create it
        dialog.setFolder(folder);
        EXPECT_FALSE(dialog.checkFolder()) << folder;
        ASSERT_EQ(sink.messages.size(), 1u) << folder;
        EXPECT_EQ(sink.messages[0].rfind("无法在文件夹 " + folder + " 中写入文件：\r\n", 0), 0u)
            << sink.messages[0];
    }

    // While the modal dialog runs, a box is shown on it, so that the dialog does not block it.
    QtUiSink qtSink;
    setUiSink(&qtSink);
    dialog.open();
    QWidget* boxOwner = nullptr;
    bool answered = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        boxOwner = box->parentWidget();
        box->buttons().front()->click();
        answered = true;
    });
    // Should no box come up on the dialog, the one that did is closed rather than waited for.
    QTimer::singleShot(3000, [&] {
        if (QWidget* other = QApplication::activeModalWidget(); other != nullptr && other != &dialog)
            other->close();
    });
    qtSink.message("test", kAppName, MessageIcon::kExclamation);
    setUiSink(&sink);
    EXPECT_TRUE(answered);
    EXPECT_EQ(boxOwner, &dialog);
    dialog.reject();
}

}  // namespace
}  // namespace kestrel::ui
