// PO text written and read back, the forms other tools write, and hostile text.
#include "core/pe/po_file.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

std::vector<PoEntry> parse(std::string_view text) {
    std::vector<PoEntry> entries;
    PoError error;
    EXPECT_EQ(ParsePo(text, entries, error), kOk)
        << error.line << ":" << error.column << " " << error.message;
    return entries;
}

TEST(PoFileTest, WrittenEntriesReadBackUnchanged) {
    PoEntry plain;
    plain.hasContext = true;
    plain.context = "DIALOG \"X\" CAPTION";
    plain.id = "Tab\there, quote \" and backslash \\";
    plain.translation = "Übersetzt";
    plain.references = {"DIALOG/X", "DIALOG/Y"};
    plain.comments = {"control ID 5"};
    PoEntry lines;
    lines.hasContext = true;
    lines.context = "STRINGTABLE 1";
    lines.id = "one\ntwo\r\nthree\n";
    lines.translation = "eins\nzwei\r\ndrei\n";
    lines.fuzzy = true;
    PoEntry control;
    control.id = std::string("bell\a and \x01 and \x7f", 16);
    const std::vector<PoEntry> entries = {plain, lines, control};
    PoHeader header;
    header.language = "de_DE";
    const std::string text = WritePo(header, entries);
    EXPECT_EQ(parse(text), entries) << text;
    // A text with a line break inside is written one line per line.
    EXPECT_NE(text.find("msgid \"\"\n\"one\\n\"\n\"two\\r\\n\"\n\"three\\n\"\n"), std::string::npos) << text;
}

TEST(PoFileTest, ReadsWhatGettextToolsWrite) {
    const std::string text =
        "\xEF\xBB\xBF# translator comment\r\n"
        "msgid \"\"\r\n"
        "msgstr \"Content-Type: text/plain; charset=utf-8\\n\"\r\n"
        "\r\n"
        "#, fuzzy, c-format\r\n"
        "#| msgid \"old\"\r\n"
        "msgctxt \"a\" \"b\"\r\n"
        "msgid \"x\\x41\\101\"\r\n"
        "   \"y\"\r\n"
        "msgstr \"z\"\r\n"
        "msgid \"file\"\n"
        "msgid_plural \"files\"\n"
        "msgstr[0] \"Datei\"\n"
        "msgstr[1] \"Dateien\"\n"
        "#~ msgid \"gone\"\n"
        "#~ msgstr \"weg\"\n";
    const std::vector<PoEntry> entries = parse(text);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].fuzzy);
    EXPECT_EQ(entries[0].context, "ab");
    EXPECT_EQ(entries[0].id, "xAAy");
    EXPECT_EQ(entries[0].translation, "z");
    EXPECT_TRUE(entries[1].plural);
    EXPECT_FALSE(entries[1].hasContext);
    EXPECT_EQ(entries[1].translation, "Datei");
}

TEST(PoFileTest, HostileTextGivesItsLineAndColumn) {
    const struct {
        std::string text;
        int line;
        int column;
    } cases[] = {
        {"msgid \"a\"\nmsgstr \"b", 2, 10},                              // no closing quote
        {"msgid \"a\"\nmsgstr \"b\\q\"", 2, 10},                         // unknown escape
        {"msgid \"a\"\nmsgstr \"b\" x", 2, 12},                          // text after the string
        {"msgid \"a\"\n", 2, 1},                                         // no msgstr at the end
        {"msgstr \"a\"", 1, 1},                                          // msgstr without msgid
        {"msgid \"a\"\nmsgid \"b\"", 2, 1},                              // msgid twice
        {"msgid \"a\"\nmsgstr \"\xC3\x28\"", 2, 9},                      // not UTF-8
        {"msgid \"a\"\nmsgstr \"\\303\"", 1, 1},                         // an escape that is not UTF-8
        {"\"a\"", 1, 1},                                                 // a string without a keyword
        {"msgid \"a\"\nmsgstr \"b\"\nmsgid \"a\"\nmsgstr \"c\"", 3, 1},  // the same entry twice
        {"msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=ISO-8859-1\\n\"", 1, 1},
        {"msgid \"a\"\nmsgid_plural \"b\"\nmsgstr \"c\"", 3, 1},     // plural without msgstr[0]
        {"msgid \"a\"\nmsgid_plural \"b\"\nmsgstr[1] \"c\"", 3, 1},  // msgstr[1] before msgstr[0]
        {"msgid \"a\"\nmsgstr \"\\x\"", 2, 9},
        {"msgfoo \"a\"", 1, 1},
        {"msgid", 1, 6},
    };
    for (const auto& c : cases) {
        std::vector<PoEntry> entries(1);
        PoError error;
        EXPECT_EQ(ParsePo(c.text, entries, error), kFail) << c.text;
        EXPECT_TRUE(entries.empty());
        EXPECT_EQ(std::pair(error.line, error.column), std::pair(c.line, c.column))
            << c.text << ": " << error.message;
        EXPECT_FALSE(error.message.empty());
    }
}

}  // namespace
}  // namespace kestrel
