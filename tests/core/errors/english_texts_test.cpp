// Every Chinese text of the core and the application has its English counterpart, with the same
// printf placeholders and line ends, and the English table holds nothing but such counterparts.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "core/errors/language.h"
#include "support/source_texts.h"

namespace kestrel {
namespace {

using testing::hasChinese;
using testing::SourceText;

std::vector<SourceText> programTexts() {
    std::vector<SourceText> texts;
    for (const char* folder : {"src/core", "src/cli", "src/app"}) {
        // english_texts.cpp is the table itself.
        for (SourceText& text :
             testing::chineseLiteralsUnder(KESTREL_SOURCE_DIR, folder, {"english_texts.cpp"}))
            texts.push_back(std::move(text));
    }
    return texts;
}

// The printf conversions of a text in order ("%s", "%.8x", "%04X", "%%" ...).
std::vector<std::string> placeholders(std::string_view text) {
    std::vector<std::string> found;
    for (std::size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at)) {
        std::size_t end = at + 1;
        while (end < text.size() &&
               std::string_view("-+ #0123456789.hlLqjzt").find(text[end]) != std::string_view::npos)
            ++end;
        found.emplace_back(text.substr(at, end + 1 - at));
        at = end + 1;
    }
    return found;
}

// The line ends of a text in order: 'R' for CR LF, 'N' for a lone LF.
std::string lineEnds(std::string_view text) {
    std::string ends;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        ends += i > 0 && text[i - 1] == '\r' ? 'R' : 'N';
    }
    return ends;
}

TEST(EnglishTexts, EveryChineseTextHasAnEnglishOneWithTheSamePlaceholdersAndLineEnds) {
    const std::vector<SourceText> texts = programTexts();
    ASSERT_FALSE(texts.empty());
    for (const SourceText& source : texts) {
        const std::string_view english = EnglishText(source.text);
        if (english.empty()) {
            ADD_FAILURE() << source.where << ": no English text for \"" << source.text << "\"";
            continue;
        }
        EXPECT_EQ(placeholders(english), placeholders(source.text)) << source.where << ": " << english;
        EXPECT_EQ(lineEnds(english), lineEnds(source.text)) << source.where << ": " << english;
        EXPECT_FALSE(hasChinese(english)) << source.where << ": " << english;
    }
}

TEST(EnglishTexts, TheTableHoldsNoTextThatTheSourcesNoLongerHave) {
    std::set<std::string> inSources;
    for (const SourceText& source : programTexts())
        inSources.insert(source.text);
    for (const TextPair& pair : EnglishTextTable())
        EXPECT_TRUE(inSources.count(std::string(pair.chinese)) == 1) << "stale entry: " << pair.chinese;
}

}  // namespace
}  // namespace kestrel
