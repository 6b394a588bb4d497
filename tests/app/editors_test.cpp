#include "app/editors.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app/settings_store.h"
#include "app_test_env.h"
#include "core/errors/errors.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::IsolatedAppTest;
using testing::readText;

class EditorListTest : public IsolatedAppTest {};

TEST_F(EditorListTest, LoadingStopsAtTheFirstMissingName) {
    {
        SettingsStore store;
        (void)store.SetStringSetting("ImageEditors", "CmdName1", "GIMP");
        (void)store.SetStringSetting("ImageEditors", "CmdCommand1", "/usr/bin/gimp");
        (void)store.SetStringSetting("ImageEditors", "CmdArgs1", "--no-splash");
        (void)store.SetStringSetting("ImageEditors", "CmdName3", "Krita");
        (void)store.SetStringSetting("ImageEditors", "CmdCommand3", "krita");
    }
    SettingsStore store;
    EditorList list{{"stale", "", "", ""}};
    ASSERT_EQ(LoadEditorList(store, kImageEditorsSection, list), kOk);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], (EditorCommand{"GIMP", "/usr/bin/gimp", "--no-splash", ""}));
}

TEST_F(EditorListTest, SavingAShorterListLeavesNoFormerEntriesBehind) {
    SettingsStore store;
    EditorList three{{"one", "ed", "-p, x", "/tmp"}, {"two", "vi", "", ""}, {"three", "nano", "", ""}};
    ASSERT_EQ(SaveEditorList(store, kTextEditorsSection, three), kOk);
    EditorList one{{"two", "vi", "", ""}};
    ASSERT_EQ(SaveEditorList(store, kTextEditorsSection, one), kOk);

    SettingsStore reread;
    EditorList loaded;
    ASSERT_EQ(LoadEditorList(reread, kTextEditorsSection, loaded), kOk);
    EXPECT_EQ(loaded, one);
    EXPECT_FALSE(reread.contains(kTextEditorsSection, "CmdName2"));
    EXPECT_FALSE(reread.contains(kTextEditorsSection, "CmdArgs3"));
}

TEST_F(EditorListTest, FieldsRoundTripThroughTheSettingsFile) {
    EditorList list{{"十六进制", "/opt/hex editor/bin/hx", "--mode=\"a, b\" 'c d'", "/home/u/工作"},
                    {"plain", "xxd", "", ""}};
    {
        SettingsStore store;
        ASSERT_EQ(SaveEditorList(store, kHexEditorsSection, list), kOk);
    }
    SettingsStore store;
    EditorList loaded;
    ASSERT_EQ(LoadEditorList(store, kHexEditorsSection, loaded), kOk);
    EXPECT_EQ(loaded, list);
}

TEST_F(EditorListTest, AnEmptyListRemovesItsSection) {
    SettingsStore store;
    ASSERT_EQ(SaveEditorList(store, kHexEditorsSection, {{"hx", "hx", "", ""}}), kOk);
    ASSERT_EQ(SaveEditorList(store, kHexEditorsSection, {}), kOk);
    EXPECT_EQ(readText(configFile()).find("HexEditors"), std::string::npos);
}

TEST_F(EditorListTest, AnEntryWithoutANameDoesNotHideTheEntriesAfterIt) {
    SettingsStore store;
    ASSERT_EQ(SaveEditorList(store, kImageEditorsSection,
                             {{"a", "a", "", ""}, {"", "b", "", ""}, {"c", "c", "", ""}}),
              kOk);
    EditorList loaded;
    ASSERT_EQ(LoadEditorList(store, kImageEditorsSection, loaded), kOk);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[1].name, "c");
}

struct SplitCase {
    const char* text;
    std::vector<std::string> expected;
};

class SplitArgumentsTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitArgumentsTest, SplitsLikeAShellWithoutExpanding) {
    EXPECT_EQ(splitArguments(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitArgumentsTest,
                         ::testing::Values(SplitCase{"", {}}, SplitCase{"   ", {}},
                                           SplitCase{"-a  -b\t-c", {"-a", "-b", "-c"}},
                                           SplitCase{"\"two words\" x", {"two words", "x"}},
                                           SplitCase{"'it''s' \"a \\\"q\\\" \\n\"", {"its", "a \"q\" \\n"}},
                                           SplitCase{"a\\ b c\\\\", {"a b", "c\\"}}, SplitCase{"\"\"", {""}},
                                           SplitCase{"$HOME `id` *", {"$HOME", "`id`", "*"}},
                                           SplitCase{"\"unterminated", {"unterminated"}},
                                           SplitCase{"trailing\\", {"trailing"}}));

// A program that records its arguments (one per line) and its working folder, for launch tests.
class EditorLaunchTest : public IsolatedAppTest {
  protected:
    std::filesystem::path makeRecorder(const std::string& name) {
        std::filesystem::path script = temp_ / "bin" / name;
        std::filesystem::create_directories(script.parent_path());
        std::ofstream out(script);
        out << "#!/bin/sh\n"
            << "pwd > '" << (temp_ / "record.tmp").string() << ".cwd'\n"
            << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << (temp_ / "record.tmp").string()
            << "'\n"
            << "/bin/mv '" << (temp_ / "record.tmp").string() << "' '" << recordFile().string() << "'\n";
        out.close();
        ::chmod(script.c_str(), 0755);
        return script;
    }
    std::filesystem::path recordFile() const { return temp_ / "record.txt"; }
    // Waits for the detached recorder to finish.
    bool waitForRecord() const {
        for (int i = 0; i < 500; ++i) {
            if (std::filesystem::exists(recordFile())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::string recordedCwd() const {
        std::string text = readText(temp_ / "record.tmp.cwd");
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    std::filesystem::path file_ = temp_.write("picture one.png", "x");
};

TEST_F(EditorLaunchTest, StartsTheCommandWithTheFileThenTheArgumentsInTheInitialFolder) {
    std::filesystem::path recorder = makeRecorder("paint");
    std::filesystem::create_directories(temp_ / "work dir");
    EditorCommand editor{"Paint", recorder.string(), "--flag \"a b\" ;rm", (temp_ / "work dir").string()};
    ASSERT_EQ(LaunchEditor(EditorKind::kImage, file_, &editor, {}), kOk);
    ASSERT_TRUE(waitForRecord());
    EXPECT_EQ(readText(recordFile()), file_.string() + "\n--flag\na b\n;rm\n");
    EXPECT_EQ(recordedCwd(), (temp_ / "work dir").string());
}

TEST_F(EditorLaunchTest, EmptyArgumentsAddNothingAfterTheFile) {
    std::filesystem::path recorder = makeRecorder("paint");
    EditorList list{{"first", recorder.string(), "", ""}, {"second", "/nonexistent", "", ""}};
    ASSERT_EQ(LaunchEditor(EditorKind::kImage, file_, nullptr, list), kOk);
    ASSERT_TRUE(waitForRecord());
    EXPECT_EQ(readText(recordFile()), file_.string() + "\n");
}

struct FailureCase {
    const char* label;
    EditorCommand editor;
    std::uint32_t code;
};

class EditorStartFailureTest : public EditorLaunchTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EditorStartFailureTest, IsReportedWithItsCode) {
    EditorCommand editor = GetParam().editor;
    if (editor.command == "@plainfile") editor.command = file_.string();
    if (editor.initialFolder == "@plainfile") {
        editor.command = makeRecorder("paint").string();
        editor.initialFolder = file_.string();
    }
    ReportMessage(true, "Test", 1, "earlier");
    HResult hr = LaunchEditor(EditorKind::kImage, file_, &editor, {});
    EXPECT_EQ(hr.value(), GetParam().code) << GetParam().label;
    auto record = PeekErrorRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->description.find("earlier"), std::string::npos)
        << "a launch failure starts a new report";
    EXPECT_FALSE(std::filesystem::exists(recordFile()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditorStartFailureTest,
    ::testing::Values(FailureCase{"missing path", {"x", "/nonexistent/editor", "", ""}, 0x80070003u},
                      FailureCase{"not on PATH", {"x", "kestrel-no-such-editor", "", ""}, 0x80070002u},
                      FailureCase{"empty command", {"x", "", "", ""}, 0x80070002u},
                      FailureCase{"not executable", {"x", "@plainfile", "", ""}, 0x80070005u},
                      FailureCase{"folder is a file", {"x", "", "", "@plainfile"}, 0x8007010Bu}));

TEST_F(EditorLaunchTest, WithoutEditorsTheShellOpenerIsUsed) {
    LaunchOptions options;
    options.shellOpener = makeRecorder("opener").string();
    ASSERT_EQ(LaunchEditor(EditorKind::kImage, file_, nullptr, {}, options), kOk);
    ASSERT_TRUE(waitForRecord());
    EXPECT_EQ(readText(recordFile()), file_.string() + "\n");
}

TEST_F(EditorLaunchTest, WithoutAnOpenerImageAndHexLaunchesFailWithTheirReports) {
    LaunchOptions options;
    options.shellOpener = "/nonexistent/opener";
    EXPECT_TRUE(LaunchEditor(EditorKind::kImage, file_, nullptr, {}, options).failed());
    EXPECT_EQ(PeekErrorRecord()->description.find("尝试编辑"), std::string::npos);

    EXPECT_TRUE(LaunchEditor(EditorKind::kHex, file_, nullptr, {}, options).failed());
    std::string hexReport = PeekErrorRecord()->description;
    EXPECT_NE(hexReport.find("尝试编辑 '" + file_.string() + "' 文件时发生一个错误。"), std::string::npos);
    EXPECT_NE(hexReport.find("Hex 编辑器"), std::string::npos);
}

TEST_F(EditorLaunchTest, TextFilesFallBackToTheFirstDesktopEditorOnPath) {
    makeRecorder("second-editor");
    testing::ScopedEnvironment environment;
    environment.set("PATH", (temp_ / "bin").string());
    LaunchOptions options;
    options.shellOpener = "/nonexistent/opener";
    options.textEditorFallbacks = {"first-editor", "second-editor"};
    ASSERT_EQ(LaunchEditor(EditorKind::kText, file_, nullptr, {}, options), kOk);
    ASSERT_TRUE(waitForRecord());
    EXPECT_EQ(readText(recordFile()), file_.string() + "\n");

    options.textEditorFallbacks = {"first-editor"};
    EXPECT_EQ(LaunchEditor(EditorKind::kText, file_, nullptr, {}, options).value(), 0x80070002u);
    EXPECT_NE(PeekErrorRecord()->description.find("文本编辑器"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
