// The command line reads the language setting from the settings file without Qt; what the Qt
// settings store writes must be what that reader finds.
#include <gtest/gtest.h>

#include "app/settings_store.h"
#include "app_test_env.h"
#include "cli/settings_file.h"
#include "cli/user_folders.h"

namespace kestrel {
namespace {

class LanguageSettingTest : public testing::IsolatedAppTest {
  protected:
    LanguageSettingTest() {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            environment_.set(name, std::nullopt);
        environment_.set("LANG", "zh_CN.UTF-8");
    }
    std::string readLanguage() const { return readIniSetting(settingsIniPath(), "General", "Language"); }
};

TEST_F(LanguageSettingTest, TheValueTheStoreWritesIsReadWithoutQtAndDecides) {
    EXPECT_EQ(settingsIniPath(), configFile());
    EXPECT_EQ(readLanguage(), "") << "no settings file yet";
    EXPECT_EQ(programLanguage(), Language::kChinese);
    {
        SettingsStore store;
        // Neighbours that must not be taken for the setting: a key of that name outside any group
        // (the store's own [General] section) and in another group.
        ASSERT_EQ(store.SetStringSetting("", "Language", "zh"), kOk);
        ASSERT_EQ(store.SetStringSetting("Options", "Language", "zh"), kOk);
        ASSERT_EQ(store.SetStringSetting("Recent File List", "File1", "/srv/主题/a, b.dll"), kOk);
        ASSERT_EQ(store.SetStringSetting("General", "Language", "en"), kOk);
        ASSERT_EQ(store.SetIntSetting("General", "Other", 3), kOk);
        ASSERT_EQ(store.sync(), kOk);
    }
    EXPECT_EQ(readLanguage(), "en");
    EXPECT_EQ(programLanguage(), Language::kEnglish);

    {
        SettingsStore store;
        store.removeKey("General", "Language");
        ASSERT_EQ(store.sync(), kOk);
    }
    EXPECT_EQ(readLanguage(), "");
    environment_.set("LANG", "en_GB.UTF-8");
    EXPECT_EQ(programLanguage(), Language::kEnglish) << "the locale decides without the setting";
    {
        SettingsStore store;
        ASSERT_EQ(store.SetStringSetting("General", "Language", "zh_CN"), kOk);
    }
    EXPECT_EQ(programLanguage(), Language::kChinese) << "the setting wins over the locale";
}

TEST_F(LanguageSettingTest, HandWrittenFilesWithBlanksQuotesAndCrLf) {
    temp_.write("config/Quillon/Kestrel.conf",
                "; comment\r\n[General]\r\nLanguage=zh\r\n\r\n[%General]\r\n  Language =  \"en\"  \r\n");
    EXPECT_EQ(readLanguage(), "en");
    temp_.write("config/Quillon/Kestrel.conf", "[%General]\nLanguageX=en\n[Other]\nLanguage=en\n");
    EXPECT_EQ(readLanguage(), "");
}

}  // namespace
}  // namespace kestrel
