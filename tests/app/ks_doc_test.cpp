#include "app/ks_doc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/document_controller.h"
#include "app/recent_files.h"
#include "app/settings_store.h"
#include "app_test_env.h"
#include "core/pe/compile_file.h"
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
    temp_.write("data/Quillon/Kestrel/Temp/BLUE/ARROW.BMP", "stale");
    openOriginal();
    EXPECT_FALSE(std::filesystem::exists(tempFolder_ / "stale.BIN"));
    EXPECT_FALSE(std::filesystem::exists(tempFolder_ / "BLUE")) << "earlier imports' subfolders go too";
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

TEST_F(DocTest, AFreshAccountWithoutAWorkingFolderOpensAPeFile) {
    std::filesystem::remove_all(tempFolder_);
    openOriginal();
    EXPECT_TRUE(std::filesystem::exists(tempFolder_ / "pe.xml"));
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

    // The edit is offered for compile first; discarding it still leaves it where it is.
    sink_.answers = {Answer::kNo};
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

    // The build stayed in Temp only, so opening another file offers the compile again: discarded.
    sink_.answers = {Answer::kNo};
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

TEST_F(DocTest, SaveAsToANameDifferingOnlyInCaseCopies) {
    SavePrompts prompts;
    DocumentController controller(document_, &prompts);
    openOriginal();
    std::filesystem::path upper = tempFolder_ / "THEME.DLL";
    prompts.choices = {upper};
    EXPECT_TRUE(controller.saveAs());
    EXPECT_TRUE(sink_.questions.empty()) << "Save As writes where the user has just said";
    EXPECT_EQ(document_.resourceFilePath(), upper);
    EXPECT_TRUE(std::filesystem::exists(upper));
}

TEST_F(DocTest, ClosingWritesTheDescriptionBackAndNothingWithoutOne) {
    CKsDoc empty(tempFolder_);
    empty.OnCloseDocument();
    EXPECT_TRUE(std::filesystem::is_empty(tempFolder_));

    openOriginal();
    std::filesystem::remove(tempFolder_ / "pe.xml");
    sink_.answers = {Answer::kNo};  // the removal is a change of the folder: not compiled
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

TEST_F(DocTest, ChangesOfTheWorkingFolderAreOfferedForCompileBeforeTheyCouldBeLost) {
    openOriginal();
    EXPECT_FALSE(document_.CheckModified());
    EXPECT_TRUE(controller_.SaveModified());
    EXPECT_TRUE(sink_.questions.empty());

    // A change no command told of (another program's edit) is seen in the folder.
    temp_.write("data/Quillon/Kestrel/Temp/edited.txt", "one");
    EXPECT_TRUE(document_.CheckModified());
    view_.calls.clear();
    sink_.answers = {Answer::kCancel};
    EXPECT_FALSE(controller_.SaveModified());
    ASSERT_EQ(sink_.questions.size(), 1u);
    EXPECT_NE(sink_.questions[0].find("theme.dll"), std::string::npos);
    EXPECT_EQ(view_.count("store"), 1) << "the pane's edits are part of the question";
    // A pane that cannot store its edits stops everything before the question.
    view_.commitSucceeds = false;
    EXPECT_FALSE(controller_.SaveModified());
    EXPECT_EQ(sink_.questions.size(), 1u);
    view_.commitSucceeds = true;

    // Discard takes the folder as it is: nothing more is asked.
    sink_.answers = {Answer::kNo};
    EXPECT_TRUE(controller_.SaveModified());
    EXPECT_FALSE(document_.CheckModified());

    // Compile with the copy declined leaves the edits in Temp only: the user stays with them.
    const std::vector<std::byte> before = readBytes(original_);
    std::filesystem::path bitmap;
    for (const auto& entry : std::filesystem::directory_iterator(tempFolder_))
        if (entry.path().extension() == ".BMP") bitmap = entry.path();
    ASSERT_FALSE(bitmap.empty());
    std::vector<std::byte> pixels = readBytes(bitmap);
    pixels.back() ^= std::byte{0xFF};
    temp_.write(pathToUtf8(bitmap.lexically_relative(temp_.path())), pixels);
    sink_.answers = {Answer::kYes, Answer::kNo};
    EXPECT_FALSE(controller_.SaveModified());
    EXPECT_EQ(readBytes(original_), before);
    EXPECT_TRUE(document_.IsModified());

    // Compile with the copy made: the PE file holds the build and the previous file is kept once.
    sink_.answers = {Answer::kYes, Answer::kYes};
    EXPECT_TRUE(controller_.SaveModified());
    EXPECT_NE(readBytes(original_), before);
    EXPECT_EQ(readBytes(BackupPathOf(original_)), before);
    EXPECT_FALSE(document_.IsModified());
    EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(DocTest, SaveAsWritesTheChosenFileAndSaveKeepsOneBackupUnlessTurnedOff) {
    SavePrompts prompts;
    DocumentController controller(document_, &prompts);
    openOriginal();
    std::filesystem::create_directories(temp_ / "out");
    const std::filesystem::path copy = temp_ / "out/copy.dll";
    temp_.write("out/copy.dll", "an older file the user chose to replace");
    prompts.choices = {copy};
    EXPECT_TRUE(controller.saveAs());
    EXPECT_TRUE(sink_.questions.empty());
    EXPECT_NE(readText(copy), "an older file the user chose to replace");
    EXPECT_FALSE(std::filesystem::exists(BackupPathOf(copy)))
        << "only the project's own PE file is backed up";

    // Plain Save still asks before it replaces the PE file, and keeps the previous one.
    const std::vector<std::byte> previous = readBytes(copy);
    temp_.write("data/Quillon/Kestrel/Temp/edited.txt", "edit");
    sink_.answers = {Answer::kYes};
    EXPECT_TRUE(controller.save());
    EXPECT_EQ(sink_.questions.size(), 1u);
    EXPECT_EQ(readBytes(BackupPathOf(copy)), previous);

    // The setting turns the backup off.
    ASSERT_TRUE(settings_.SetIntSetting(kBackupSection, kBackupKey, 0).succeeded());
    document_.setSettings(&settings_);
    std::filesystem::remove(BackupPathOf(copy));
    sink_.answers = {Answer::kYes};
    EXPECT_TRUE(controller.save());
    EXPECT_FALSE(std::filesystem::exists(BackupPathOf(copy)));
}

TEST_F(DocTest, ClearingTempRemovesSubfoldersButNothingALinkLeadsTo) {
    const std::filesystem::path outside = temp_.write("outside/mine.txt", "mine").parent_path();
    temp_.write("data/Quillon/Kestrel/Temp/OLD/NESTED/X.BMP", "stale");
    std::filesystem::create_directory_symlink(outside, tempFolder_ / "LINKED");
    std::filesystem::create_directories(tempFolder_ / "HOLDER");
    std::filesystem::create_directory_symlink(outside, tempFolder_ / "HOLDER" / "inner");
    // A PE file lying in a subfolder of Temp is imported, not removed with its folder.
    const std::filesystem::path inside =
        temp_.write("data/Quillon/Kestrel/Temp/KEEP/inside.dll", testing::smallPe(5));
    ASSERT_TRUE(controller_.openDocument(inside));
    EXPECT_FALSE(std::filesystem::exists(tempFolder_ / "OLD"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(tempFolder_ / "LINKED")));
    EXPECT_FALSE(std::filesystem::exists(tempFolder_ / "HOLDER"));
    EXPECT_EQ(readText(outside / "mine.txt"), "mine");
    EXPECT_TRUE(std::filesystem::exists(inside));
}

// The folders an earlier process moved aside and did not live to delete go with the next open;
// nothing that is in use, lies outside or merely resembles their name is touched.
TEST_F(DocTest, LeftoversOfAnEarlierProcessGoButNothingInUseOrOutside) {
    namespace fs = std::filesystem;
    temp_.write("data/Quillon/Kestrel/Temp/stale.BIN", "old");
    const fs::path leftover =
        temp_.write("data/Quillon/Kestrel/Temp.discarded-999999-1/OLD.BMP", "x").parent_path();
    // The user opens a compiled file that was left in such a folder: it is imported, not deleted.
    const fs::path opened =
        temp_.write("data/Quillon/Kestrel/Temp.discarded-999999-2/again.dll", testing::smallPe(3));
    const fs::path outside = temp_.write("outside/mine.txt", "mine").parent_path();
    fs::create_directory_symlink(outside, dataFolder() / "Temp.discarded-999999-3");
    const fs::path other = temp_.write("data/Quillon/Kestrel/Other.discarded-1/keep.txt", "keep");

    ASSERT_TRUE(controller_.openDocument(opened));
    EXPECT_FALSE(fs::exists(tempFolder_ / "stale.BIN")) << "the previous import is out of the folder at once";
    EXPECT_TRUE(fs::exists(tempFolder_ / "pe.xml"));
    document_.discarder().finish();
    EXPECT_TRUE(document_.discarder().pending().empty());

    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(opened));
    EXPECT_TRUE(fs::is_symlink(dataFolder() / "Temp.discarded-999999-3"));
    EXPECT_EQ(readText(outside / "mine.txt"), "mine");
    EXPECT_EQ(readText(other), "keep");
    // Of this process's own folders moved aside, none is left.
    for (const auto& entry : fs::directory_iterator(dataFolder()))
        EXPECT_FALSE(
            entry.path().filename().string().starts_with("Temp.discarded-" + std::to_string(::getpid())))
            << entry.path();

    // The project still works from the folder it was imported into.
    EXPECT_EQ(document_.projectPath(), tempFolder_ / "again.kestrel");
    EXPECT_FALSE(document_.CheckModified());
}

// A working folder that is a link is emptied where it leads, as before, and stays a link.
TEST_F(DocTest, AWorkingFolderThatIsALinkIsEmptiedInPlace) {
    namespace fs = std::filesystem;
    const fs::path real = temp_.write("elsewhere/Temp/stale.BIN", "old").parent_path();
    fs::remove_all(tempFolder_);
    fs::create_directory_symlink(real, tempFolder_);
    openOriginal();
    EXPECT_TRUE(fs::is_symlink(tempFolder_));
    EXPECT_FALSE(fs::exists(real / "stale.BIN"));
    EXPECT_TRUE(fs::exists(real / "pe.xml"));
    EXPECT_TRUE(document_.discarder().pending().empty());
}

// A folder moved aside waits out its delay and is gone, at the latest, when its owner ends.
TEST(FolderDiscarderTest, KeepsTheMovedFolderUntilItsTimeAndDeletesItAtTheEnd) {
    namespace fs = std::filesystem;
    testing::TempDir temp;
    const fs::path folder = temp.write("Temp/sub/a.txt", "a").parent_path().parent_path();
    fs::path aside;
    {
        FolderDiscarder discarder(std::chrono::hours(1));
        ASSERT_TRUE(discarder.moveAside(folder));
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_TRUE(fs::is_empty(folder));
        ASSERT_EQ(discarder.pending().size(), 1u);
        aside = discarder.pending()[0];
        EXPECT_EQ(aside.parent_path(), temp.path());
        EXPECT_EQ(readText(aside / "sub" / "a.txt"), "a");
        EXPECT_FALSE(discarder.moveAside(temp / "missing")) << "nothing to move: the caller clears in place";
    }
    EXPECT_FALSE(fs::exists(aside));
    EXPECT_TRUE(fs::is_directory(folder));
}

// The modified check sees every change the full state would: a changed, an added and a removed
// file, also in a subfolder; below the first level of subfolders nothing is looked at.
TEST(FolderStateTest, TheCheckSeesWhatTheStateSees) {
    namespace fs = std::filesystem;
    testing::TempDir temp;
    const fs::path folder = temp / "w";
    temp.write("w/a.txt", "a");
    temp.write("w/SUB/b.txt", "b");
    temp.write("w/SUB/DEEP/c.txt", "c");
    const FolderState state = ReadFolderState(folder);
    EXPECT_EQ(state.size(), 2u);
    EXPECT_TRUE(state.count("SUB/b.txt"));
    EXPECT_TRUE(FolderMatchesState(folder, state));

    temp.write("w/SUB/DEEP/c.txt", "changed deep down");
    EXPECT_TRUE(FolderMatchesState(folder, state));
    temp.write("w/SUB/b.txt", "bigger");
    EXPECT_FALSE(FolderMatchesState(folder, state));
    temp.write("w/SUB/b.txt", "b");
    fs::last_write_time(folder / "SUB" / "b.txt", fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_FALSE(FolderMatchesState(folder, state)) << "same size, other time";

    const FolderState now = ReadFolderState(folder);
    temp.write("w/new.txt", "");
    EXPECT_FALSE(FolderMatchesState(folder, now));
    fs::remove(folder / "new.txt");
    EXPECT_TRUE(FolderMatchesState(folder, now));
    fs::remove(folder / "a.txt");
    EXPECT_FALSE(FolderMatchesState(folder, now)) << "a file that is gone";
}

// The open takes the state to compare with from the import's own list: each listed file, also
// those in a subfolder, must carry exactly the time and size the folder shows, or a fresh open
// would count as modified (or hide a change).
TEST_F(DocTest, TheImportListsItsFilesAsTheFolderShowsThem) {
    namespace fs = std::filesystem;
    pebuilder::ImagePlan plan;
    plan.resources.push_back(
        {u"DATA", u"BLUE_ARROW_BIN", pebuilder::kLangEnUs, pebuilder::ByteVector(300, std::byte{7}), 0});
    plan.resources.push_back({pebuilder::kRtBitmap, std::uint16_t{101}, pebuilder::kLangEnUs,
                              pebuilder::makeDib({16, 16, 8, false, false, false, 1}), 0});
    const fs::path pe = temp_.write("in/named.dll", pebuilder::buildImage(plan));
    ImportSummary summary;
    summary.callerWantsWrittenFiles = true;
    fs::path project;
    ASSERT_TRUE(DecompileProject(pe, temp_ / "work", project, &summary).succeeded());
    const FolderState onDisk = ReadFolderState(temp_ / "work");
    ASSERT_GE(summary.writtenFiles.size(), 2u);
    bool inSubfolder = false;
    for (const WrittenFile& file : summary.writtenFiles) {
        auto it = onDisk.find(file.name);
        ASSERT_NE(it, onDisk.end()) << file.name;
        EXPECT_EQ(it->second, std::pair(file.time, static_cast<std::uintmax_t>(file.size))) << file.name;
        inSubfolder = inSubfolder || file.name.find('/') != std::string::npos;
    }
    EXPECT_TRUE(inSubfolder);
    EXPECT_EQ(ReadFolderState(temp_ / "work", summary.writtenFiles), onDisk);

    // Opened in the window: not modified, and a changed resource file is seen.
    ASSERT_TRUE(controller_.openDocument(pe));
    EXPECT_FALSE(document_.CheckModified());
    fs::path listed = tempFolder_ / pathFromUtf8(summary.writtenFiles.front().name);
    fs::last_write_time(listed, fs::last_write_time(listed) + std::chrono::seconds(5));
    EXPECT_TRUE(document_.CheckModified());
}

// The check before Temp is cleared reads a file's first 64 KiB only when its headers lie inside
// them; headers that reach further are checked on the whole file, and such a file still opens.
TEST_F(DocTest, HeadersBeyondTheFirstBytesAreCheckedOnTheWholeFile) {
    pebuilder::ImagePlan plan;
    plan.fileAlignment = 0x20000;  // SizeOfHeaders 128 KiB
    plan.resources.push_back({pebuilder::kRtBitmap, std::uint16_t{101}, pebuilder::kLangEnUs,
                              pebuilder::makeDib({16, 16, 8, false, false, false, 2}), 0});
    const std::filesystem::path wide = temp_.write("in/wide.dll", pebuilder::buildImage(plan));
    std::string cause;
    EXPECT_EQ(CheckImportable(wide, &cause), kOk) << cause;
    EXPECT_TRUE(controller_.openDocument(wide));
    // Cut inside its headers, it is refused with the reason of the whole file.
    std::vector<std::byte> bytes = readBytes(wide);
    bytes.resize(0x18000);
    const std::filesystem::path cut = temp_.write("in/cut.dll", bytes);
    EXPECT_TRUE(CheckImportable(cut, &cause).failed());
    EXPECT_NE(cause.find("98304"), std::string::npos) << cause;
    ClearErrorRecord();
}

TEST_F(DocTest, AFileThatCannotBeOpenedSaysWhyInTheFirstLines) {
    std::vector<std::byte> pe = testing::smallPe();
    pe.resize(300);
    const std::filesystem::path cut = temp_.write("in/cut.dll", pe);
    const std::filesystem::path text = temp_.write("in/notes.dll", "just some text");
    const std::filesystem::path missing = temp_ / "in/gone.dll";
    const struct {
        std::filesystem::path file;
        std::string cause;
    } cases[] = {{missing, "文件不存在。"},
                 {text, "它不是 PE 文件 (程序、DLL 或 .msstyles)。"},
                 {cut, "文件不完整：在第 300 字节处被截断。"}};
    for (const auto& entry : cases) {
        sink_.errors.clear();
        EXPECT_FALSE(controller_.openDocument(entry.file));
        ASSERT_EQ(sink_.errors.size(), 1u) << entry.file;
        const std::string expected = "无法打开文件 " + entry.file.string() + "：\r\n" + entry.cause + "\r\n";
        EXPECT_EQ(sink_.errors[0].substr(0, expected.size()), expected);
    }
}

TEST_F(DocTest, BitFieldBitmapsAreToldOnceAfterTheImportInsteadOfInABox) {
    const std::filesystem::path sample = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    ASSERT_TRUE(controller_.openDocument(sample));
    EXPECT_TRUE(sink_.messages.empty());
    EXPECT_EQ(document_.takeImportNotice(), "警告: 2 个位域 (BI_BITFIELDS) 位图保留为 BMP 文件。");
    EXPECT_EQ(document_.takeImportNotice(), "");
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
