#include "app/ks_app.h"

#include <gtest/gtest.h>

#include "app_test_env.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::IsolatedAppTest;
using testing::readText;

class KsAppTest : public IsolatedAppTest {
  protected:
    struct Outcome {
        bool started;
        int exitCode;
        std::string errors;
    };
    Outcome run(const std::vector<std::string>& arguments, CKsApp::GuiStarter gui = {}) {
        ::testing::internal::CaptureStderr();
        CKsApp app(CKsCommandLineInfo::parse(arguments), std::move(gui));
        bool started = app.InitInstance();
        int exitCode = app.ExitInstance();
        return {started, exitCode, ::testing::internal::GetCapturedStderr()};
    }
    void setRecentFile(const std::string& path) {
        SettingsStore store;
        (void)store.SetStringSetting(kRecentFileSection, "File1", path);
    }
};

class UsageErrorTest : public KsAppTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(UsageErrorTest, EndsWithStatusTwoBeforeTouchingAnyFile) {
    // A resumable project must not stand in for the missing file name of a command-line operation.
    setRecentFile("/srv/themes/uxtheme.dll");
    std::filesystem::create_directories(dataFolder() / "Temp");
    std::filesystem::path project = temp_.write("data/Quillon/Kestrel/Temp/uxtheme.kestrel", "<ROOT/>");
    std::vector<std::string> arguments = GetParam();
    for (std::string& argument : arguments) {
        if (argument == "@temp") argument = "/Output:" + (dataFolder() / "Temp").string();
    }
    Outcome outcome = run(arguments);
    EXPECT_FALSE(outcome.started);
    EXPECT_EQ(outcome.exitCode, kExitUsage);
    EXPECT_NE(outcome.errors.find("Usage:"), std::string::npos);
    EXPECT_EQ(readText(project), "<ROOT/>");
    EXPECT_FALSE(std::filesystem::exists(dataFolder() / "Temp/pe.xml"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "pe.xml"));
}

INSTANTIATE_TEST_SUITE_P(Arguments, UsageErrorTest,
                         ::testing::Values(std::vector<std::string>{"/Compile", "@temp"},
                                           std::vector<std::string>{"/Decompile", "@temp"},
                                           std::vector<std::string>{"/Compile", "theme.dll"},
                                           // No operation and no desktop interface in this build.
                                           std::vector<std::string>{}));

TEST_F(KsAppTest, WithoutADataFolderStartUpEnds) {
    environment_.set("XDG_DATA_HOME", std::nullopt);
    environment_.set("HOME", std::nullopt);
    Outcome outcome = run({"/Decompile", "a.dll", "/Output:/tmp/x"});
    EXPECT_EQ(outcome.exitCode, kExitFailure);
    EXPECT_NE(outcome.errors.find("获取某个路径时发生错误。"), std::string::npos) << outcome.errors;
}

struct ResumeCase {
    const char* recent;
    bool projectExists;
    const char* expectedFile;  // relative to the data folder; "" for none
    bool expectOpen;
};

class ResumeRuleTest : public KsAppTest, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(ResumeRuleTest, ReopensTheLastTempProjectOnlyWhenItExists) {
    setRecentFile(GetParam().recent);
    if (GetParam().projectExists) temp_.write("data/Quillon/Kestrel/Temp/uxtheme.kestrel", "<ROOT/>");
    CKsCommandLineInfo seen;
    Outcome outcome = run({}, [&](CKsApp& app) {
        seen = app.commandLineInfo();
        return true;
    });
    EXPECT_TRUE(outcome.started);
    std::string expected = *GetParam().expectedFile ? (dataFolder() / GetParam().expectedFile).string() : "";
    EXPECT_EQ(seen.fileName, expected);
    EXPECT_EQ(seen.shellCommand == CKsCommandLineInfo::ShellCommand::kFileOpen, GetParam().expectOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResumeRuleTest,
    ::testing::Values(ResumeCase{"", false, "", false},
                      ResumeCase{"C:\\a\\uxtheme.dll", true, "Temp/uxtheme.kestrel", true},
                      ResumeCase{"/srv/a/uxtheme.dll", true, "Temp/uxtheme.kestrel", true},
                      ResumeCase{"/srv/a/uxtheme.dll", false, "Temp/uxtheme.kestrel", false}));

TEST_F(KsAppTest, AFileOnTheCommandLineIsNotReplacedByTheResumedProject) {
    setRecentFile("/srv/a/uxtheme.dll");
    temp_.write("data/Quillon/Kestrel/Temp/uxtheme.kestrel", "<ROOT/>");
    CKsCommandLineInfo seen;
    run({"/srv/b/other.dll"}, [&](CKsApp& app) {
        seen = app.commandLineInfo();
        return true;
    });
    EXPECT_EQ(seen.fileName, "/srv/b/other.dll");
}

class RecordingDocuments : public DocumentCommands {
  public:
    bool openDocument(const std::filesystem::path& path) override {
        calls.push_back("open " + path.string());
        return openSucceeds;
    }
    bool newDocument() override {
        calls.push_back("new");
        return newSucceeds;
    }
    std::vector<std::string> calls;
    bool openSucceeds = false;
    bool newSucceeds = true;
};

TEST_F(KsAppTest, AFailedOpenAtStartIsRetriedOnceAsANewDocument) {
    RecordingDocuments documents;
    CKsApp app(CKsCommandLineInfo::parse({"/srv/broken.dll"}));
    EXPECT_TRUE(app.ProcessShellCommand(documents));
    EXPECT_EQ(documents.calls, (std::vector<std::string>{"open /srv/broken.dll", "new"}));
    EXPECT_TRUE(app.commandLineInfo().fileName.empty());

    RecordingDocuments failing;
    failing.newSucceeds = false;
    CKsApp empty(CKsCommandLineInfo::parse({}));
    EXPECT_FALSE(empty.ProcessShellCommand(failing));
    EXPECT_EQ(failing.calls, std::vector<std::string>{"new"});
}

TEST_F(KsAppTest, OnlyChangedEditorListsAreWrittenBackAtExit) {
    {
        SettingsStore store;
        (void)store.SetStringSetting("TextEditors", "CmdName1", "vi");
        (void)store.SetStringSetting("HexEditors", "CmdName1", "xxd");
    }
    ::testing::internal::CaptureStderr();
    CKsApp app(CKsCommandLineInfo{}, [](CKsApp&) { return true; });
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(app.textEditors().size(), 1u);
    app.imageEditors().push_back({"GIMP", "gimp", "", ""});
    // Meanwhile another instance changes the text editors; this one did not, so it keeps out.
    {
        SettingsStore other;
        (void)other.SetStringSetting("TextEditors", "CmdName1", "kate");
    }
    app.hexEditors().clear();
    EXPECT_EQ(app.ExitInstance(), kExitSuccess);
    ::testing::internal::GetCapturedStderr();

    SettingsStore store;
    std::string text;
    (void)store.GetStringSetting("TextEditors", "CmdName1", text, "");
    EXPECT_EQ(text, "kate");
    (void)store.GetStringSetting("ImageEditors", "CmdName1", text, "");
    EXPECT_EQ(text, "GIMP");
    EXPECT_FALSE(store.contains("HexEditors", "CmdName1"));
}

}  // namespace
}  // namespace kestrel
