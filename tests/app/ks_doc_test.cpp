#include "app/ks_doc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/document_controller.h"
#include "app/recent_files.h"
#include "app/settings_store.h"
#include "app_test_env.h"
#include "core/platform/paths.h"
#include "doc_test_support.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::IsolatedAppTest;
using testing::readBytes;
using testing::readText;

ino_t inodeOf(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class DocTest : public IsolatedAppTest {
  protected:
    DocTest() {
        std::filesystem::create_directories(tempFolder_);
        original_ = temp_.write("in/theme.dll", testing::smallPe());
        document_.setRecentFileList(&recent_);
    }
    // Opens the PE file the way File > Open does.
    void openOriginal() {
        ASSERT_TRUE(controller_.openDocument(original_));
        ASSERT_TRUE(document_.isOpen());
        sink_.errors.clear();
    }
    std::filesystem::path tempFolder_ = dataFolder() / "Temp";
    std::filesystem::path original_;
    testing::ScriptedSink sink_;
    SettingsStore settings_;
    RecentFileList recent_{&settings_};
    CKsDoc document_{tempFolder_};
    testing::RecordingView view_{document_};
    DocumentController controller_{document_, nullptr};
};

TEST_F(DocTest, OpeningAPeFileReplacesTempAndShowsThePeFile) {
    temp_.write("data/Quillon/Kestrel/Temp/stale.BIN", "old");
    temp_.write("data/Quillon/Kestrel/Temp/BLUE/ARROW.BMP", "kept");
    openOriginal();
    EXPECT_FALSE(std::filesystem::exists(tempFolder_ / "stale.BIN"));
    EXPECT_EQ(readText(tempFolder_ / "BLUE/ARROW.BMP"), "kept");
    EXPECT_EQ(document_.projectPath(), tempFolder_ / "theme.kestrel");
    EXPECT_EQ(document_.descriptionPath(), tempFolder_ / "pe.xml");
    EXPECT_EQ(document_.resourceFilePath(), original_);
    EXPECT_EQ(controller_.frameTitle(), "theme.dll - Kestrel");
    EXPECT_EQ(recent_.entries(), std::vector<std::string>{original_.string()});
    EXPECT_TRUE(controller_.canSave());
    EXPECT_TRUE(view_.showing);

    // The project file: five lines, each ending in CR LF.
    EXPECT_EQ(readText(document_.projectPath()),
              "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<ROOT>\r\n   <PEFILE FileName=\"pe.xml\"/>\r\n"
              "   <RESFILE FileName=\"" +
                  original_.string() + "\"/>\r\n</ROOT>\r\n");
}

TEST_F(DocTest, AProjectFileIsOpenedWhereItIs) {
    std::filesystem::path work = temp_ / "work";
    std::filesystem::path project;
    ASSERT_EQ(DecompileProject(original_, work, project), kOk);
    std::filesystem::path marker = temp_.write("data/Quillon/Kestrel/Temp/marker", "x");
    // The extension test ignores case.
    std::filesystem::path upper = work / "THEME.KESTREL";
    std::filesystem::rename(project, upper);
    ASSERT_TRUE(controller_.openDocument(upper));
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_EQ(document_.descriptionPath(), work / "pe.xml");
    EXPECT_EQ(document_.projectPath(), upper);
    EXPECT_EQ(controller_.frameTitle(), "theme.dll - Kestrel") << "the title shows the PE file";
}

struct BadFileCase {
    const char* label;
    std::string content;  // "@missing": no file at all
    bool formatMessage = true;
};

class BadFileTest : public DocTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFileTest, IsRefusedBeforeTempIsTouchedAndThePreviousProjectStays) {
    openOriginal();
    std::filesystem::path edit = temp_.write("data/Quillon/Kestrel/Temp/edited.txt", "my edit");
    std::filesystem::path bad = temp_ / "in/bad.dll";
    if (GetParam().content != "@missing") temp_.write("in/bad.dll", GetParam().content);

    EXPECT_FALSE(controller_.openDocument(bad));
    ASSERT_EQ(sink_.errors.size(), 1u);
    if (GetParam().formatMessage) {
        EXPECT_NE(sink_.errors[0].find("文件 " + bad.string() + " 的格式无法被识别。"), std::string::npos)
            << sink_.errors[0];
    }
    // The previous project file was reopened where it lies, not imported again.
    EXPECT_EQ(readText(edit), "my edit");
    EXPECT_TRUE(document_.isOpen());
    EXPECT_EQ(document_.resourceFilePath(), original_);
    EXPECT_TRUE(view_.showing);
    EXPECT_EQ(controller_.frameTitle(), "theme.dll - Kestrel");
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest,
                         ::testing::Values(BadFileCase{"missing", "@missing", false},
                                           BadFileCase{"empty", "", false}, BadFileCase{"one byte", "M"},
                                           BadFileCase{"text", "hello"}, BadFileCase{"MZ only", "MZ"},
                                           BadFileCase{"MZ with a bad e_lfanew",
                                                       "MZ" + std::string(58, '\0') + "\xff\xff\xff\x7f"}));

TEST_F(DocTest, WithoutAPreviousProjectAFailedOpenLeavesNothingOpen) {
    std::filesystem::path bad = temp_.write("in/bad.exe", "hello");
    EXPECT_FALSE(controller_.openDocument(bad));
    EXPECT_FALSE(document_.isOpen());
    EXPECT_EQ(controller_.frameTitle(), "无标题 - Kestrel");
    EXPECT_FALSE(controller_.canSave());

    // A file that is gone (a stale recent entry) is named in the report.
    const std::filesystem::path gone = temp_ / "in/gone.dll";
    EXPECT_FALSE(controller_.openDocument(gone));
    ASSERT_FALSE(sink_.errors.empty());
    EXPECT_NE(sink_.errors.back().find("无法打开文件 " + pathToUtf8(gone)), std::string::npos)
        << sink_.errors.back();
}

TEST_F(DocTest, WhenThePreviousProjectFileIsGoneThePreviousPeFileIsImportedAgain) {
    openOriginal();
    std::filesystem::remove(tempFolder_ / "theme.kestrel");
    std::filesystem::path bad = temp_.write("in/bad.dll", "hello");
    EXPECT_FALSE(controller_.openDocument(bad));
    EXPECT_TRUE(document_.isOpen());
    EXPECT_TRUE(std::filesystem::exists(tempFolder_ / "theme.kestrel"));
}

struct ProjectFileCase {
    const char* label;
    std::string body;  // between <ROOT> and </ROOT>; @PE is replaced by the PE file's path
    bool opens;
};

class ProjectFileTest : public DocTest, public ::testing::WithParamInterface<ProjectFileCase> {};

TEST_P(ProjectFileTest, NothingOfThePreviousProjectStaysInUse) {
    openOriginal();
    std::filesystem::path work = temp_ / "work";
    std::filesystem::path other = temp_.write("in/other.dll", testing::smallPe(7));
    std::filesystem::path project;
    ASSERT_EQ(DecompileProject(other, work, project), kOk);
    std::string body = GetParam().body;
    if (auto at = body.find("@PE"); at != std::string::npos) body.replace(at, 3, other.string());
    if (auto at = body.find("@PIPE"); at != std::string::npos) {
        const std::filesystem::path pipe = temp_ / "in" / "pipe.dll";
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        body.replace(at, 5, pipe.string());
    }
    if (auto at = body.find("@FOLDER"); at != std::string::npos) body.replace(at, 7, (temp_ / "in").string());
    std::filesystem::path handWritten = temp_.write("work/hand.kestrel", "<ROOT>" + body + "</ROOT>");

    bool opened = controller_.openDocument(handWritten);
    EXPECT_EQ(opened, GetParam().opens) << GetParam().label;
    if (opened) {
        EXPECT_EQ(document_.resourceFilePath(), other);
        EXPECT_EQ(document_.descriptionPath(), work / "pe.xml");
    } else {
        // The previous project is back, whole.
        EXPECT_EQ(document_.resourceFilePath(), original_);
        EXPECT_EQ(document_.descriptionPath(), tempFolder_ / "pe.xml");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ProjectFileTest,
    ::testing::Values(
        ProjectFileCase{"complete", "<PEFILE FileName='pe.xml'/><RESFILE FileName='@PE'/>", true},
        ProjectFileCase{"no PEFILE", "<RESFILE FileName='@PE'/>", true},
        ProjectFileCase{"PEFILE in another case", "<PEFILE FileName='PE.XML'/><RESFILE FileName='@PE'/>",
                        true},
        ProjectFileCase{"no RESFILE", "<PEFILE FileName='pe.xml'/>", false},
        ProjectFileCase{"empty RESFILE", "<RESFILE FileName=''/>", false},
        ProjectFileCase{"RESFILE without FileName", "<RESFILE Name='@PE'/>", false},
        ProjectFileCase{"PEFILE without FileName", "<PEFILE/><RESFILE FileName='@PE'/>", false},
        ProjectFileCase{"PEFILE outside the folder",
                        "<PEFILE FileName='..\\work\\pe.xml'/><RESFILE FileName='@PE'/>", false},
        ProjectFileCase{"PE file moved", "<RESFILE FileName='/nonexistent/other.dll'/>", false},
        // Neither may hang the open or be taken as the file to compile over.
        ProjectFileCase{"PE file is a pipe", "<RESFILE FileName='@PIPE'/>", false},
        ProjectFileCase{"PE file is a folder", "<RESFILE FileName='@FOLDER'/>", false}));

TEST_F(DocTest, SaveAnsweredNoKeepsTheProjectAndTheCompiledFile) {
    openOriginal();
    std::vector<std::byte> before = readBytes(original_);
    std::filesystem::path edit = temp_.write("data/Quillon/Kestrel/Temp/edited.txt", "my edit");
    sink_.answers = {Answer::kNo};
    view_.calls.clear();

    EXPECT_TRUE(controller_.save());
    EXPECT_EQ(sink_.questions.size(), 1u);
    EXPECT_EQ(readBytes(original_), before);
    EXPECT_EQ(readText(edit), "my edit");
    EXPECT_TRUE(std::filesystem::exists(tempFolder_ / "theme.dll"));
    EXPECT_EQ(document_.resourceFilePath(), original_);
    EXPECT_EQ(view_.calls.front(), "commit");
    EXPECT_EQ(view_.calls.back(), "rebuild");
    EXPECT_TRUE(view_.showing);
}

TEST_F(DocTest, SaveAnsweredYesReplacesTheOriginalAndImportsItAgain) {
    openOriginal();
    std::filesystem::path edit = temp_.write("data/Quillon/Kestrel/Temp/edited.txt", "my edit");
    ino_t before = inodeOf(original_);
    sink_.answers = {Answer::kYes};
    EXPECT_TRUE(controller_.save());
    EXPECT_NE(inodeOf(original_), before) << "the compiled file was moved into place";
    EXPECT_FALSE(std::filesystem::exists(edit));
    EXPECT_EQ(document_.resourceFilePath(), original_);
    EXPECT_TRUE(view_.showing);
    EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(DocTest, AFailedCompileLeavesTheProjectOpenAndItsDescriptionIntact) {
    openOriginal();
    std::filesystem::path bitmap = tempFolder_ / "Bitmap00101.BMP";
    ASSERT_TRUE(std::filesystem::exists(bitmap));
    std::filesystem::remove(bitmap);
    std::vector<std::byte> before = readBytes(original_);

    EXPECT_FALSE(controller_.save());
    std::string description = readText(tempFolder_ / "pe.xml");
    EXPECT_NE(description.find("Bitmap00101.BMP"), std::string::npos);
    EXPECT_EQ(sink_.errors.size(), 1u);
    EXPECT_TRUE(sink_.questions.empty());
    EXPECT_EQ(readBytes(original_), before);
    EXPECT_TRUE(document_.isOpen());
    EXPECT_TRUE(document_.description().hasSource());
    EXPECT_EQ(view_.calls.back(), "rebuild");
    EXPECT_FALSE(std::filesystem::exists(tempFolder_ / "pe.xml.tmp"));

    // Closing afterwards writes the reloaded description, not an empty one.
    controller_.close();
    EXPECT_EQ(readText(tempFolder_ / "pe.xml"), description);
}

TEST_F(DocTest, APeFileInsideTheWorkingFolderIsImportedWhereItLiesAndCompiledInPlace) {
    openOriginal();
    sink_.answers = {Answer::kNo};
    ASSERT_TRUE(controller_.save());
    std::filesystem::path compiled = tempFolder_ / "theme.dll";
    std::vector<std::byte> compiledBytes = readBytes(compiled);
    ASSERT_FALSE(compiledBytes.empty());

    ASSERT_TRUE(controller_.openDocument(compiled));
    EXPECT_EQ(readBytes(compiled), compiledBytes) << "the file being opened is not cleared away";
    EXPECT_EQ(document_.resourceFilePath(), compiled);

    sink_.questions.clear();
    sink_.messages.clear();
    ASSERT_TRUE(controller_.save());
    EXPECT_TRUE(sink_.questions.empty()) << "no copy question when the compiled file is the PE file";
    ASSERT_EQ(sink_.messages.size(), 1u);
    EXPECT_NE(sink_.messages[0].find("成功的编译为"), std::string::npos);
    EXPECT_TRUE(document_.isOpen());
}

class SavePrompts : public DocumentPrompts {
  public:
    std::optional<std::filesystem::path> askSavePath(std::string_view, const std::filesystem::path& proposed,
                                                     const std::vector<FileFilter>& filters) override {
        this->proposed = proposed;
        this->filters = filters;
        if (choices.empty()) return std::nullopt;
        std::filesystem::path choice = choices.front();
        choices.erase(choices.begin());
        return choice;
    }
    std::vector<std::filesystem::path> choices;
    std::filesystem::path proposed;
    std::vector<FileFilter> filters;
};

TEST_F(DocTest, SaveAsProposesThePeFileAndRefusesAProjectFileName) {
    SavePrompts prompts;
    DocumentController controller(document_, &prompts);
    openOriginal();
    prompts.choices = {temp_ / "out/copy.kestrel"};
    EXPECT_FALSE(controller.saveAs());
    EXPECT_EQ(prompts.proposed, original_);
    ASSERT_EQ(prompts.filters.size(), 2u);
    EXPECT_EQ(prompts.filters[0].name, "Resource Files (*.exe;*.dll;*.msstyles)");
    EXPECT_FALSE(std::filesystem::exists(temp_ / "out/copy.kestrel"));
    EXPECT_EQ(sink_.messages.size(), 1u);
    EXPECT_FALSE(document_.isSaveAs());

    std::filesystem::create_directories(temp_ / "out");
    prompts.choices = {temp_ / "out/copy.dll"};
    sink_.answers = {Answer::kYes};
    EXPECT_TRUE(controller.saveAs());
    EXPECT_EQ(document_.resourceFilePath(), temp_ / "out/copy.dll");
    EXPECT_TRUE(std::filesystem::exists(tempFolder_ / "copy.kestrel"));
    EXPECT_EQ(controller.frameTitle(), "copy.dll - Kestrel");
    EXPECT_FALSE(document_.isSaveAs());
}

TEST_F(DocTest, SaveAsToANameDifferingOnlyInCaseStillAsksAndCopies) {
    SavePrompts prompts;
    DocumentController controller(document_, &prompts);
    openOriginal();
    std::filesystem::path upper = tempFolder_ / "THEME.DLL";
    prompts.choices = {upper};
    sink_.answers = {Answer::kYes};
    EXPECT_TRUE(controller.saveAs());
    EXPECT_EQ(sink_.questions.size(), 1u);
    EXPECT_EQ(document_.resourceFilePath(), upper);
    EXPECT_TRUE(std::filesystem::exists(upper));
}

TEST_F(DocTest, ClosingWritesTheDescriptionBackAndNothingWithoutOne) {
    CKsDoc empty(tempFolder_);
    empty.OnCloseDocument();
    EXPECT_TRUE(std::filesystem::is_empty(tempFolder_));

    openOriginal();
    std::filesystem::remove(tempFolder_ / "pe.xml");
    controller_.close();
    EXPECT_TRUE(std::filesystem::exists(tempFolder_ / "pe.xml"));
    EXPECT_FALSE(document_.isOpen());
    EXPECT_EQ(view_.calls.back(), "rebuild");
    EXPECT_FALSE(view_.showing);
}

TEST_F(DocTest, AModifiedDocumentAsksBeforeItIsReplaced) {
    openOriginal();
    document_.SetModifiedFlag();
    std::filesystem::path other = temp_.write("in/other.dll", testing::smallPe(3));
    sink_.answers = {Answer::kCancel};
    EXPECT_FALSE(controller_.openDocument(other));
    EXPECT_EQ(document_.resourceFilePath(), original_);
    sink_.answers = {Answer::kNo};
    EXPECT_TRUE(controller_.openDocument(other));
    EXPECT_EQ(document_.resourceFilePath(), other);
    EXPECT_FALSE(document_.IsModified());
}

TEST(ClearFolderFilesTest, DeletesPlainFilesOnlyAndSparesTheKeptFile) {
    testing::TempDir temp;
    temp.write("a.bin", "a");
    std::filesystem::path kept = temp.write("Theme.dll", "keep");
    temp.write("sub/inner.bin", "inner");
    std::filesystem::create_symlink(temp / "sub", temp / "link-to-sub");
    std::filesystem::create_symlink(temp / "sub/inner.bin", temp / "link-to-file");
    EXPECT_EQ(ClearFolderFiles(temp.path(), kept), kOk);
    EXPECT_FALSE(std::filesystem::exists(temp / "a.bin"));
    EXPECT_TRUE(std::filesystem::exists(kept));
    EXPECT_TRUE(std::filesystem::exists(temp / "sub/inner.bin"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temp / "link-to-file")));
    EXPECT_EQ(ClearFolderFiles(temp / "missing").value(), 0x80070002u);

    // Kept through a link from elsewhere, or as a link in the folder: neither name is removed.
    temp.write("b.bin", "b");
    std::filesystem::path outside = temp.write("out/link.dll", "");
    std::filesystem::remove(outside);
    std::filesystem::create_symlink(kept, outside);
    EXPECT_EQ(ClearFolderFiles(temp.path(), outside), kOk);
    EXPECT_TRUE(std::filesystem::exists(kept));
    EXPECT_FALSE(std::filesystem::exists(temp / "b.bin"));
    std::filesystem::create_symlink(temp / "out" / "target.dll", temp / "Link.dll");
    temp.write("out/target.dll", "target");
    EXPECT_EQ(ClearFolderFiles(temp.path(), temp / "Link.dll"), kOk);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(temp / "Link.dll")));
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST_F(DocTest, AnImportWhoseProjectFileCannotBeWrittenFails) {
    std::filesystem::path work = temp_ / "work";
    std::filesystem::create_directories(work / "theme.kestrel");
    std::filesystem::path project;
    HResult hr = DecompileProject(original_, work, project);
    EXPECT_TRUE(hr.failed());
    auto record = PeekErrorRecord();
    ASSERT_TRUE(record);
    EXPECT_NE(record->description.find("未能建立文件 " + (work / "theme.kestrel").string()),
              std::string::npos)
        << record->description;
}

TEST(RecentFileListTest, KeepsSixteenDistinctEntriesNewestFirst) {
    testing::TempDir temp;
    testing::ScopedEnvironment environment;
    environment.set("XDG_CONFIG_HOME", temp.path().string());
    {
        SettingsStore store;
        RecentFileList list(&store);
        for (int i = 0; i < 20; ++i)
            list.add("/srv/f" + std::to_string(i) + ".dll");
        list.add("/srv/f10.dll");
        EXPECT_EQ(list.entries().size(), 16u);
        EXPECT_EQ(list.entries()[0], "/srv/f10.dll");
        EXPECT_EQ(list.entries()[1], "/srv/f19.dll");
        EXPECT_EQ(std::count(list.entries().begin(), list.entries().end(), "/srv/f10.dll"), 1);
    }
    SettingsStore store;
    RecentFileList reread(&store);
    EXPECT_EQ(reread.entries().size(), 16u);
    EXPECT_EQ(reread.entries()[0], "/srv/f10.dll");
    EXPECT_FALSE(store.contains(kRecentFileSection, "File17"));
}

}  // namespace
}  // namespace kestrel
