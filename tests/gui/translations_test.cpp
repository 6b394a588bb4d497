// The window's Chinese texts against src/ui/translations/kestrel_en.ts: every Chinese string literal
// of src/ui (outside comments; a literal on a line marked "stored text" is data and stays as it is)
// has a finished English translation with the same placeholders in the same order and a mnemonic
// where the source has one, and the .ts keeps no finished translation of a text the sources lost.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QXmlStreamReader>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;

struct Literal {
    std::string text;
    std::string where;  // file:line
};

bool hasChinese(const std::string& utf8) {
    const QString text = QString::fromStdString(utf8);
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x3000 && u <= 0x303F) || (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF);
    });
}

// The value of the escape sequence at `text[i]` (just after the backslash); advances `i` past it.
char unescape(const std::string& text, std::size_t& i) {
    const char c = text[i++];
    switch (c) {
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case '0':
            return '\0';
        case 'x': {
            int value = 0;
            while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])))
                value = value * 16 + std::stoi(std::string(1, text[i++]), nullptr, 16);
            return static_cast<char>(value);
        }
        default:
            return c;  // \" \' \\ \?
    }
}

// The string literals of a C++ source, comments and character literals skipped, adjacent literals
// joined as the compiler (and lupdate) joins them. Literals on a line whose comment says
// "stored text" are left out.
std::vector<Literal> stringLiterals(const std::string& text, const std::string& file) {
    std::vector<Literal> literals;
    std::set<int> storedLines;
    int line = 1;
    bool joinable = false;  // only blanks and comments since the last literal
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (text.compare(i, 2, "//") == 0) {
            const std::size_t end = std::min(text.find('\n', i), text.size());
            if (text.substr(i, end - i).find("stored text") != std::string::npos) storedLines.insert(line);
            i = end;
        } else if (text.compare(i, 2, "/*") == 0) {
            const std::size_t end = std::min(text.find("*/", i + 2), text.size() - 2) + 2;
            line += static_cast<int>(std::count(text.begin() + static_cast<std::ptrdiff_t>(i),
                                                text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
            i = end;
        } else if (c == '"') {
            std::string value;
            for (++i; i < text.size() && text[i] != '"';) {
                if (text[i] == '\\') {
                    ++i;
                    value += unescape(text, i);
                } else {
                    value += text[i++];
                }
            }
            ++i;
            if (joinable) {
                literals.back().text += value;
            } else {
                literals.push_back({value, file + ":" + std::to_string(line)});
            }
            joinable = true;
        } else if (c == '\'' && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
            // A character literal ('"' must not start a string); 1'000 is a number.
            for (++i; i < text.size() && text[i] != '\'';)
                i += text[i] == '\\' ? 2 : 1;
            ++i;
            joinable = false;
        } else {
            ++i;
            joinable = false;
        }
    }
    std::vector<Literal> shown;
    for (Literal& literal : literals) {
        const int at = std::stoi(literal.where.substr(literal.where.rfind(':') + 1));
        if (hasChinese(literal.text) && storedLines.count(at) == 0) shown.push_back(std::move(literal));
    }
    return shown;
}

struct Message {
    std::string context;
    std::string source;
    std::string translation;
    bool finished = false;
};

// The text of the current element up to its end; Linguist writes control characters as
// <byte value="xd"/>.
QString elementText(QXmlStreamReader& reader) {
    QString text;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isCharacters()) {
            text += reader.text();
        } else if (reader.isStartElement() && reader.name() == QStringLiteral("byte")) {
            QString value = reader.attributes().value(QStringLiteral("value")).toString();
            const bool hex = value.startsWith(QLatin1Char('x'));
            text += QChar(static_cast<char16_t>(value.mid(hex ? 1 : 0).toUInt(nullptr, hex ? 16 : 10)));
            reader.skipCurrentElement();
        } else if (reader.isEndElement()) {
            break;
        }
    }
    return text;
}

std::vector<Message> readTs(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QXmlStreamReader reader(&file);
    std::vector<Message> messages;
    std::string context;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement()) continue;
        if (reader.name() == QStringLiteral("name")) {
            context = elementText(reader).toStdString();
        } else if (reader.name() == QStringLiteral("message")) {
            messages.push_back({context, {}, {}, false});
        } else if (reader.name() == QStringLiteral("source")) {
            messages.back().source = elementText(reader).toStdString();
        } else if (reader.name() == QStringLiteral("translation")) {
            const QString type = reader.attributes().value(QStringLiteral("type")).toString();
            messages.back().finished = type.isEmpty();
            messages.back().translation = elementText(reader).toStdString();
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return messages;
}

// printf conversions (with flags and widths, "%%" included) and Qt's %1 … %99, in order.
std::vector<std::string> placeholders(const std::string& text) {
    static const QRegularExpression pattern(
        QStringLiteral("%(?:[-+ #0]*\\d*(?:\\.\\d+)?[sdxXuc%]|\\d{1,2})"));
    std::vector<std::string> found;
    auto matches = pattern.globalMatch(QString::fromStdString(text));
    while (matches.hasNext())
        found.push_back(matches.next().captured().toStdString());
    return found;
}

// A mnemonic is an '&' before a character other than '&' and blank.
bool hasMnemonic(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] == '&') {
            ++i;
        } else if (text[i + 1] != ' ') {
            return true;
        }
    }
    return false;
}

std::vector<Literal> windowTexts() {
    std::vector<Literal> all;
    for (const auto& entry : fs::directory_iterator(fs::path(KESTREL_SOURCE_DIR) / "src" / "ui")) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".cpp" && extension != ".h") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        for (Literal& literal : stringLiterals(content.str(), entry.path().filename().string()))
            all.push_back(std::move(literal));
    }
    return all;
}

TEST(WindowTranslations, ScannerJoinsLiteralsAndSkipsCommentsCharactersAndStoredTexts) {
    const std::string source =
        "// \"注释\" in a comment\n"
        "/* \"块注释\"\n */ char c = '\"'; int n = 1'000;\n"
        "auto a = tr(\"甲\\r\\n\"\n"
        "            \"乙 %1\");\n"
        "auto b = \"丙\";  // stored text\n"
        "auto d = QT_TRANSLATE_NOOP(\"Ctx\", \"丁\\t\\\"x\\\"\"), e = \"English\";\n";
    const std::vector<Literal> literals = stringLiterals(source, "f.cpp");
    ASSERT_EQ(literals.size(), 2u);
    EXPECT_EQ(literals[0].text, "甲\r\n乙 %1");
    EXPECT_EQ(literals[0].where, "f.cpp:4");
    EXPECT_EQ(literals[1].text, "丁\t\"x\"");
    EXPECT_EQ(literals[1].where, "f.cpp:7");
}

TEST(WindowTranslations, EveryChineseTextHasAFinishedMatchingEnglishTranslation) {
    const std::vector<Message> messages =
        readTs(QStringLiteral(KESTREL_SOURCE_DIR "/src/ui/translations/kestrel_en.ts"));
    ASSERT_FALSE(messages.empty());
    std::map<std::string, std::vector<const Message*>> bySource;
    for (const Message& message : messages)
        bySource[message.source].push_back(&message);

    const std::vector<Literal> texts = windowTexts();
    ASSERT_GT(texts.size(), 100u);
    std::set<std::string> sources;
    for (const Literal& literal : texts) {
        sources.insert(literal.text);
        auto found = bySource.find(literal.text);
        if (found == bySource.end()) {
            ADD_FAILURE() << literal.where
                          << ": not in the .ts (run the kestrel_ui_lupdate target): " << literal.text;
            continue;
        }
        for (const Message* message : found->second) {
            const std::string at = literal.where + " [" + message->context + "] ";
            EXPECT_TRUE(message->finished && !message->translation.empty())
                << at << "untranslated: " << literal.text;
            EXPECT_FALSE(hasChinese(message->translation)) << at << message->translation;
            EXPECT_EQ(placeholders(message->translation), placeholders(message->source))
                << at << literal.text;
            EXPECT_EQ(hasMnemonic(message->translation), hasMnemonic(message->source)) << at << literal.text;
            // A shortcut shown after a tab stays as it is.
            const std::size_t tab = message->source.find('\t');
            if (tab != std::string::npos) {
                const std::size_t translatedTab = message->translation.find('\t');
                EXPECT_EQ(translatedTab == std::string::npos ? std::string()
                                                             : message->translation.substr(translatedTab),
                          message->source.substr(tab))
                    << at << literal.text;
            }
        }
    }
    for (const Message& message : messages) {
        EXPECT_TRUE(!message.finished || sources.count(message.source) > 0)
            << "[" << message.context
            << "] translation of a text the sources no longer have: " << message.source;
    }
}

}  // namespace
}  // namespace kestrel::ui
