// The language of the program's texts. The texts are written in Chinese in the sources; English is
// the second language, looked up from the Chinese text. Stored files never depend on the language.
#pragma once

#include <span>
#include <string_view>

namespace kestrel {

enum class Language { kChinese, kEnglish };

// Reads one environment variable (nullptr when unset); std::getenv behind a plain function pointer
// so that tests can pass their own environment.
using EnvironmentLookup = const char* (*)(const char* name);
const char* ProcessEnvironment(const char* name);

// `setting`: the value of the setting General/Language ("" when absent). A non-empty setting
// decides: starting with "en" (any case) -> English, anything else ("zh", ...) -> Chinese.
// Otherwise the first non-empty of LANGUAGE, LC_ALL, LC_MESSAGES, LANG decides the same way
// (C, C.UTF-8, POSIX, zh_CN.UTF-8, ... -> Chinese). Nothing set -> the user's interface language
// where the system has one (Windows; with the process environment only), else Chinese.
Language ChooseLanguage(std::string_view setting, EnvironmentLookup getenv = ProcessEnvironment);

// Process-wide; Chinese until set.
void SetLanguage(Language language);
Language CurrentLanguage();

// The program's text in the current language: `chinese` itself when Chinese is chosen, its English
// counterpart when English is chosen (`chinese` again when the table has none).
std::string_view Localized(std::string_view chinese);
// The English counterpart of `chinese` regardless of the current language; empty when none.
std::string_view EnglishText(std::string_view chinese);

// One entry of the English table: a Chinese text of the sources and its English counterpart.
struct TextPair {
    std::string_view chinese;
    std::string_view english;
};
// The whole English table, in the order it is written (english_texts.cpp).
std::span<const TextPair> EnglishTextTable();

}  // namespace kestrel
