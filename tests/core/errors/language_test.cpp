#include "core/errors/language.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace kestrel {
namespace {

// A fake environment for ChooseLanguage; the lookup is a plain function pointer, so the values
// live in a static map that each case fills.
std::map<std::string, std::string>& fakeEnvironment() {
    static std::map<std::string, std::string> values;
    return values;
}
const char* fakeGetenv(const char* name) {
    auto found = fakeEnvironment().find(name);
    return found == fakeEnvironment().end() ? nullptr : found->second.c_str();
}

struct ChoiceCase {
    const char* what;
    std::string_view setting;
    std::map<std::string, std::string> environment;
    Language expected;
};

TEST(ChooseLanguage, SettingFirstThenTheFirstNonEmptyLocaleVariable) {
    const ChoiceCase cases[] = {
        {"nothing set", "", {}, Language::kChinese},
        {"C locale", "", {{"LANG", "C"}}, Language::kChinese},
        {"C.UTF-8 in LC_ALL", "", {{"LC_ALL", "C.UTF-8"}, {"LANG", "en_US.UTF-8"}}, Language::kChinese},
        {"POSIX", "", {{"LANG", "POSIX"}}, Language::kChinese},
        {"Chinese locale", "", {{"LANG", "zh_CN.UTF-8"}}, Language::kChinese},
        {"English LANG", "", {{"LANG", "en_US.UTF-8"}}, Language::kEnglish},
        {"upper-case EN", "", {{"LANG", "EN_gb"}}, Language::kEnglish},
        {"bare e is not English", "", {{"LANG", "e"}}, Language::kChinese},
        {"LANGUAGE before LC_ALL", "", {{"LANGUAGE", "en"}, {"LC_ALL", "zh_CN.UTF-8"}}, Language::kEnglish},
        {"LANGUAGE Chinese wins over LANG",
         "",
         {{"LANGUAGE", "zh_CN:en"}, {"LANG", "en_US"}},
         Language::kChinese},
        {"empty LANGUAGE is skipped",
         "",
         {{"LANGUAGE", ""}, {"LC_MESSAGES", "en_US"}, {"LANG", "zh_CN"}},
         Language::kEnglish},
        {"LC_ALL before LC_MESSAGES",
         "",
         {{"LC_ALL", "zh_CN"}, {"LC_MESSAGES", "en_US"}},
         Language::kChinese},
        {"LC_MESSAGES before LANG", "", {{"LC_MESSAGES", "en_US"}, {"LANG", "zh_CN"}}, Language::kEnglish},
        {"setting en overrides a Chinese locale", "en", {{"LANG", "zh_CN.UTF-8"}}, Language::kEnglish},
        {"setting En-us", "En_US", {}, Language::kEnglish},
        {"setting zh overrides an English locale",
         "zh",
         {{"LANGUAGE", "en"}, {"LANG", "en_US"}},
         Language::kChinese},
        {"any other setting is Chinese", "de", {{"LANG", "en_US"}}, Language::kChinese},
    };
    for (const ChoiceCase& c : cases) {
        fakeEnvironment() = c.environment;
        EXPECT_EQ(ChooseLanguage(c.setting, fakeGetenv), c.expected) << c.what;
    }
    fakeEnvironment().clear();
}

class LocalizedTexts : public ::testing::Test {
  protected:
    void TearDown() override { SetLanguage(Language::kChinese); }
};

TEST_F(LocalizedTexts, ChineseByDefaultEnglishWhenChosenAndTheChineseWhenNoEntry) {
    const std::string_view known = "无错误。\r\n";
    const std::string_view unknown = "表中没有的文字";
    EXPECT_EQ(CurrentLanguage(), Language::kChinese);
    EXPECT_EQ(Localized(known), known);
    // A text copied elsewhere (not the table's own pointer) is found by its contents.
    const std::string copy(known);
    SetLanguage(Language::kEnglish);
    EXPECT_EQ(CurrentLanguage(), Language::kEnglish);
    EXPECT_EQ(Localized(copy), "No error.\r\n");
    EXPECT_EQ(Localized(unknown), unknown);
    EXPECT_EQ(Localized(""), "");
    SetLanguage(Language::kChinese);
    EXPECT_EQ(Localized(copy), known);
}

TEST(EnglishTextTable, EveryTextHasOneEntryAndEveryLookupFindsIt) {
    std::map<std::string_view, std::string_view> seen;
    for (const TextPair& pair : EnglishTextTable()) {
        EXPECT_FALSE(pair.english.empty()) << pair.chinese;
        EXPECT_TRUE(seen.emplace(pair.chinese, pair.english).second) << "twice: " << pair.chinese;
        EXPECT_EQ(EnglishText(pair.chinese), pair.english) << pair.chinese;
    }
}

}  // namespace
}  // namespace kestrel
