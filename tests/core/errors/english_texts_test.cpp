// Every Chinese text of the core and the application has its English counterpart, with the same
// printf placeholders and line ends, and the English table holds nothing but such counterparts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/errors/language.h"

namespace kestrel {
namespace {

struct SourceText {
    std::string text;   // the literal's value, adjacent literals joined
    std::string where;  // file:line
};

bool isIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The value of the escape sequence at `source[at]` (after the backslash); advances `at`.
void appendEscape(const std::string& source, std::size_t& at, std::string& out) {
    const char c = source[at++];
    switch (c) {
        case 'n':
            out += '\n';
            return;
        case 'r':
            out += '\r';
            return;
        case 't':
            out += '\t';
            return;
        case '0':
            out += '\0';
            return;
        case 'x': {
            std::size_t end = at;
            while (end < source.size() && std::isxdigit(static_cast<unsigned char>(source[end])) != 0)
                ++end;
            out += static_cast<char>(std::stoi(source.substr(at, end - at), nullptr, 16));
            at = end;
            return;
        }
        default:
            out += c;
            return;  // \\ \" \' \?
    }
}

bool hasChinese(const std::string& text) {
    // UTF-8 of U+4E00..U+9FFF: E4 B8 80 .. E9 BF BF.
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if ((lead == 0xE4 && next >= 0xB8) || (lead >= 0xE5 && lead <= 0xE9)) return true;
    }
    return false;
}

// The string literals of one C++ source file, adjacent ones joined as the compiler joins them;
// comments, character literals and numbers (with their digit separators) are skipped. A literal
// on a line that carries "// stored text" is left out: it goes into a stored file and must not
// depend on the language.
std::vector<SourceText> chineseLiterals(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string source = buffer.str();
    const std::string name = std::filesystem::relative(file, KESTREL_SOURCE_DIR).string();

    struct Literal {
        std::string text;
        int firstLine = 0;
        int lastLine = 0;
    };
    std::vector<Literal> literals;
    std::set<int> storedLines;
    bool joining = false;  // the last token was a literal
    int line = 1;
    std::size_t at = 0;
    while (at < source.size()) {
        const char c = source[at];
        if (source.compare(at, 2, "//") == 0) {
            const std::size_t end = std::min(source.find('\n', at), source.size());
            if (source.substr(at, end - at).find("stored text") != std::string::npos)
                storedLines.insert(line);
            at = end;
        } else if (source.compare(at, 2, "/*") == 0) {
            const std::size_t end = std::min(source.find("*/", at + 2), source.size() - 2) + 2;
            line += static_cast<int>(std::count(source.begin() + static_cast<std::ptrdiff_t>(at),
                                                source.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
            at = end;
        } else if (c == '"') {
            if (!joining) literals.push_back({{}, line, line});
            Literal& literal = literals.back();
            ++at;
            while (at < source.size() && source[at] != '"') {
                if (source[at] == '\\') {
                    ++at;
                    appendEscape(source, at, literal.text);
                } else {
                    literal.text += source[at++];
                }
            }
            ++at;
            literal.lastLine = line;
            joining = true;
        } else if (c == '\'') {
            for (++at; at < source.size() && source[at] != '\''; ++at)
                if (source[at] == '\\') ++at;
            ++at;
            joining = false;
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0 &&
                   (at == 0 || !isIdentifierChar(source[at - 1]))) {
            // A number: digits, letters, dots, digit separators and the sign of an exponent.
            ++at;
            while (at < source.size() &&
                   (isIdentifierChar(source[at]) || source[at] == '.' || source[at] == '\'' ||
                    ((source[at] == '+' || source[at] == '-') &&
                     std::string_view("eEpP").find(source[at - 1]) != std::string_view::npos)))
                ++at;
            joining = false;
        } else {
            if (c == '\n') ++line;
            if (std::isspace(static_cast<unsigned char>(c)) == 0) joining = false;
            ++at;
        }
    }

    std::vector<SourceText> result;
    for (const Literal& literal : literals) {
        if (!hasChinese(literal.text)) continue;
        const bool stored = std::any_of(storedLines.begin(), storedLines.end(), [&](int marked) {
            return marked >= literal.firstLine && marked <= literal.lastLine;
        });
        if (!stored) result.push_back({literal.text, name + ":" + std::to_string(literal.firstLine)});
    }
    return result;
}

std::vector<SourceText> programTexts() {
    std::vector<SourceText> texts;
    const std::filesystem::path root = KESTREL_SOURCE_DIR;
    for (const char* folder : {"src/core", "src/app"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            const std::filesystem::path& path = entry.path();
            if (path.extension() != ".cpp" && path.extension() != ".h") continue;
            if (path.filename() == "english_texts.cpp") continue;  // the table itself
            for (SourceText& text : chineseLiterals(path))
                texts.push_back(std::move(text));
        }
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
        EXPECT_FALSE(hasChinese(std::string(english))) << source.where << ": " << english;
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
