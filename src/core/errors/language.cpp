#include "core/errors/language.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/platform/system.h"

namespace kestrel {

namespace {

std::atomic<Language> currentLanguage{Language::kChinese};

bool StartsWithEnglish(std::string_view value) {
    return value.size() >= 2 && (value[0] == 'e' || value[0] == 'E') && (value[1] == 'n' || value[1] == 'N');
}

// The table sorted by its Chinese texts once, for binary search.
const std::vector<TextPair>& SortedTable() {
    static const std::vector<TextPair> sorted = [] {
        std::span<const TextPair> table = EnglishTextTable();
        std::vector<TextPair> pairs(table.begin(), table.end());
        std::sort(pairs.begin(), pairs.end(),
                  [](const TextPair& a, const TextPair& b) { return a.chinese < b.chinese; });
        return pairs;
    }();
    return sorted;
}

}  // namespace

const char* ProcessEnvironment(const char* name) {
    return std::getenv(name);
}

Language ChooseLanguage(std::string_view setting, EnvironmentLookup getenv) {
    if (!setting.empty()) return StartsWithEnglish(setting) ? Language::kEnglish : Language::kChinese;
    if (getenv == nullptr) return Language::kChinese;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(name);
        if (value != nullptr && *value != '\0')
            return StartsWithEnglish(value) ? Language::kEnglish : Language::kChinese;
    }
    // Without locale variables, a system with a language setting of its own (Windows) decides.
    if (getenv == ProcessEnvironment) {
        if (const std::string system = SystemUiLanguage(); !system.empty())
            return StartsWithEnglish(system) ? Language::kEnglish : Language::kChinese;
    }
    return Language::kChinese;
}

void SetLanguage(Language language) {
    currentLanguage.store(language, std::memory_order_relaxed);
}

Language CurrentLanguage() {
    return currentLanguage.load(std::memory_order_relaxed);
}

std::string_view EnglishText(std::string_view chinese) {
    const std::vector<TextPair>& table = SortedTable();
    auto found =
        std::lower_bound(table.begin(), table.end(), chinese,
                         [](const TextPair& pair, std::string_view key) { return pair.chinese < key; });
    if (found == table.end() || found->chinese != chinese) return {};
    return found->english;
}

std::string_view Localized(std::string_view chinese) {
    if (CurrentLanguage() != Language::kEnglish) return chinese;
    std::string_view english = EnglishText(chinese);
    return english.empty() ? chinese : english;
}

}  // namespace kestrel
