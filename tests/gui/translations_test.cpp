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
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/source_texts.h"

namespace kestrel::ui {
namespace {

using testing::hasChinese;
using Literal = testing::SourceText;

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
    return testing::chineseLiteralsUnder(KESTREL_SOURCE_DIR, "src/ui");
}

TEST(WindowTranslations, ScannerJoinsLiteralsAndSkipsCommentsCharactersAndStoredTexts) {
    const std::string source =
        "// \"注释\" in a comment\n"
        "/* \"块注释\"\n */ char c = '\"'; int n = 1'000;\n"
        "auto a = tr(\"甲\\r\\n\"\n"
        "            \"乙 %1\");\n"
        "auto b = \"丙\";  // stored text\n"
        "auto d = QT_TRANSLATE_NOOP(\"Ctx\", \"丁\\t\\\"x\\\"\"), e = \"English\";\n";
    const std::vector<Literal> literals = testing::chineseLiterals(source, "f.cpp");
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
