#include "source_texts.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

namespace testing {

namespace {

bool isIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The value of the escape sequence at `source[at]` (after the backslash); advances `at`.
void appendEscape(std::string_view source, std::size_t& at, std::string& out) {
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
            int value = 0;
            for (; at < source.size() && std::isxdigit(static_cast<unsigned char>(source[at])) != 0; ++at) {
                const char digit = static_cast<char>(std::tolower(static_cast<unsigned char>(source[at])));
                value = value * 16 + (digit <= '9' ? digit - '0' : digit - 'a' + 10);
            }
            out += static_cast<char>(value);
            return;
        }
        default:
            out += c;  // \\ \" \' \?
            return;
    }
}

}  // namespace

bool hasChinese(std::string_view text) {
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if ((lead & 0xF0u) != 0xE0u) continue;
        const unsigned code = ((lead & 0x0Fu) << 12) |
                              ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                              (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
        if ((code >= 0x3000 && code <= 0x303F) || (code >= 0x3400 && code <= 0x9FFF) ||
            (code >= 0xFF00 && code <= 0xFFEF))
            return true;
    }
    return false;
}

std::vector<SourceText> chineseLiterals(std::string_view source, const std::string& file) {
    struct Literal {
        std::string text;
        int firstLine = 0;
        int lastLine = 0;
    };
    std::vector<Literal> literals;
    std::set<int> storedLines;
    bool joining = false;  // only blanks and comments since the last literal
    int line = 1;
    std::size_t at = 0;
    while (at < source.size()) {
        const char c = source[at];
        if (source.compare(at, 2, "//") == 0) {
            const std::size_t end = std::min(source.find('\n', at), source.size());
            if (source.substr(at, end - at).find("stored text") != std::string_view::npos)
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
            for (++at; at < source.size() && source[at] != '"';) {
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
    for (Literal& literal : literals) {
        if (!hasChinese(literal.text)) continue;
        const bool stored = std::any_of(storedLines.begin(), storedLines.end(), [&](int marked) {
            return marked >= literal.firstLine && marked <= literal.lastLine;
        });
        if (!stored)
            result.push_back({std::move(literal.text), file + ":" + std::to_string(literal.firstLine)});
    }
    return result;
}

std::vector<SourceText> chineseLiteralsUnder(const std::filesystem::path& root,
                                             const std::filesystem::path& folder,
                                             const std::vector<std::string>& skip) {
    std::vector<SourceText> texts;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
        const std::filesystem::path& path = entry.path();
        if (path.extension() != ".cpp" && path.extension() != ".h") continue;
        if (std::find(skip.begin(), skip.end(), path.filename().string()) != skip.end()) continue;
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        for (SourceText& text :
             chineseLiterals(content.str(), std::filesystem::relative(path, root).string()))
            texts.push_back(std::move(text));
    }
    return texts;
}

}  // namespace testing
