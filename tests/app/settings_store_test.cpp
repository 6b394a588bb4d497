#include "app/settings_store.h"

#include <gtest/gtest.h>

#include "app_test_env.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::IsolatedAppTest;

class SettingsStoreTest : public IsolatedAppTest {};

TEST_F(SettingsStoreTest, ValuesSurviveANewStoreAndMissingOnesGiveTheDefault) {
    {
        SettingsStore store;
        EXPECT_EQ(store.fileName(), configFile());
        EXPECT_EQ(store.SetIntSetting("Layout", "SplitterX", 317), kOk);
        EXPECT_EQ(store.SetIntSetting("Flag", "Insert", -1), kOk);
        EXPECT_EQ(store.SetStringSetting("Recent File List", "File1", "/srv/主题/theme, v2.dll"), kOk);
        EXPECT_EQ(store.SetRectSetting("Layout", "MainRect", {-8, 10, 1930, 1050}), kOk);
    }
    ASSERT_TRUE(std::filesystem::exists(configFile()));
    SettingsStore store;
    int value = 0;
    EXPECT_EQ(store.GetIntSetting("Layout", "SplitterX", value, 250), kOk);
    EXPECT_EQ(value, 317);
    EXPECT_EQ(store.GetIntSetting("Flag", "Insert", value, 0), kOk);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(store.GetIntSetting("ImageWnd", "ScaleToFit", value, 1), kOk);
    EXPECT_EQ(value, 1);
    std::string text;
    EXPECT_EQ(store.GetStringSetting("Recent File List", "File1", text, ""), kOk);
    EXPECT_EQ(text, "/srv/主题/theme, v2.dll");
    EXPECT_EQ(store.GetStringSetting("Dir", "DefaultImport", text, "/data"), kOk);
    EXPECT_EQ(text, "/data");
    SettingsRect rect;
    EXPECT_EQ(store.GetRectSetting("Layout", "MainRect", rect, {1, 2, 3, 4}), kOk);
    EXPECT_EQ(rect, (SettingsRect{-8, 10, 1930, 1050}));
    EXPECT_EQ(store.GetRectSetting("Layout", "Missing", rect, {1, 2, 3, 4}), kOk);
    EXPECT_EQ(rect, (SettingsRect{1, 2, 3, 4}));
}

// A hand-edited INI line without quotes is read by QSettings as a list; the rectangle and the text
// must still come back as written.
TEST_F(SettingsStoreTest, UnquotedCommaValuesReadBackAsText) {
    std::filesystem::create_directories(configFile().parent_path());
    {
        std::FILE* file = std::fopen(configFile().c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("[Layout]\nMainRect=5,6,700,800\nName=a,b\nSplitterX=12,5\nMax=wide\n", file);
        std::fclose(file);
    }
    SettingsStore store;
    SettingsRect rect;
    EXPECT_EQ(store.GetRectSetting("Layout", "MainRect", rect, {}), kOk);
    EXPECT_EQ(rect, (SettingsRect{5, 6, 700, 800}));
    std::string text;
    EXPECT_EQ(store.GetStringSetting("Layout", "Name", text, ""), kOk);
    EXPECT_EQ(text, "a,b");
    int value = 0;
    EXPECT_EQ(store.GetIntSetting("Layout", "SplitterX", value, 250), kOk);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(store.GetIntSetting("Layout", "Max", value, 1), kOk);
    EXPECT_EQ(value, 1);
}

struct RectCase {
    const char* stored;
    SettingsRect expected;  // the caller's rectangle starts as {-1, -2, -3, -4}
};

class RectParseTest : public IsolatedAppTest, public ::testing::WithParamInterface<RectCase> {};

TEST_P(RectParseTest, UnparsableFieldsKeepTheCallersValues) {
    SettingsStore store;
    ASSERT_EQ(store.SetStringSetting("Layout", "MainRect", GetParam().stored), kOk);
    SettingsRect rect{-1, -2, -3, -4};
    EXPECT_EQ(store.GetRectSetting("Layout", "MainRect", rect, {9, 9, 9, 9}), kOk);
    EXPECT_EQ(rect, GetParam().expected) << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RectParseTest,
    ::testing::Values(RectCase{"10,20,x,40", {10, 20, -3, -4}}, RectCase{"10,20,30,40", {10, 20, 30, 40}},
                      RectCase{"10, 20, 30, 40", {10, 20, 30, 40}},
                      RectCase{"10 ,20,30,40", {10, -2, -3, -4}}, RectCase{"-5,+6,7", {-5, 6, 7, -4}},
                      RectCase{"", {-1, -2, -3, -4}}, RectCase{"garbage", {-1, -2, -3, -4}},
                      RectCase{"99999999999,1,-99999999999,3", {2147483647, 1, -2147483647 - 1, 3}}));

TEST_F(SettingsStoreTest, DeleteSectionRemovesOnlyThatSectionAndReachesTheDisk) {
    {
        SettingsStore store;
        (void)store.SetStringSetting("TextEditors", "CmdName1", "vi");
        (void)store.SetStringSetting("TextEditors", "CmdName2", "ed");
        (void)store.SetIntSetting("Layout", "Max", 1);
        EXPECT_EQ(store.DeleteSection("TextEditors"), kOk);
        EXPECT_FALSE(store.contains("TextEditors", "CmdName1"));
        // Deleting a section that does not exist is fine.
        EXPECT_EQ(store.DeleteSection("HexEditors"), kOk);
    }
    SettingsStore store;
    EXPECT_FALSE(store.contains("TextEditors", "CmdName2"));
    EXPECT_TRUE(store.contains("Layout", "Max"));
}

TEST_F(SettingsStoreTest, FollowsTheConfigFolderOfTheEnvironmentAtCreation) {
    testing::TempDir other;
    testing::ScopedEnvironment environment;
    environment.set("XDG_CONFIG_HOME", other.path().string());
    {
        SettingsStore store;
        (void)store.SetIntSetting("Layout", "Max", 1);
    }
    EXPECT_TRUE(std::filesystem::exists(other / "Quillon/Kestrel.conf"));
    EXPECT_FALSE(std::filesystem::exists(configFile()));
}

}  // namespace
}  // namespace kestrel
