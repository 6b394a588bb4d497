// Accelerator tables, menus and message tables written byte by byte, decoded to text, compiled
// back; hand-written and hostile texts compiled.
#include "core/pe/rc_script.h"

#include "core/pe/dialog_template.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace kestrel {
namespace {

using ByteVector = std::vector<std::byte>;
using Compile = HResult (*)(std::string_view, std::vector<std::byte>&, ScriptError&);
using Decode = HResult (*)(Bytes, const ScriptOptions&, ScriptText&);

void text16(ByteWriter& out, std::u16string_view value) {
    for (char16_t unit : value)
        out.u16(unit);
    out.u16(0);
}

// Decodes `data`, checks the text compiles back to the same bytes, and returns the text.
ScriptText roundTrip(Decode decode, Compile compile, const ByteVector& data) {
    ScriptText script;
    EXPECT_EQ(decode(data, ScriptOptions{}, script), kOk);
    ByteVector compiled;
    ScriptError error;
    EXPECT_EQ(compile(script.text, compiled, error), kOk)
        << error.line << ":" << error.column << " " << error.message << "\n"
        << script.text;
    EXPECT_EQ(compiled, data) << script.text;
    return script;
}

ScriptError compileError(Compile compile, std::string_view text) {
    ByteVector out{std::byte{1}};
    ScriptError error;
    EXPECT_EQ(compile(text, out, error), kFail) << text;
    EXPECT_TRUE(out.empty());
    return error;
}

ByteVector accelerators(std::uint16_t lastPadding = 0) {
    ByteWriter out;
    for (auto [flags, key, id, pad] :
         {std::tuple{0x01 | 0x08, 0x41, 100, 0}, std::tuple{0x00, int{'x'}, 101, 0},
          std::tuple{0x01 | 0x04 | 0x10 | 0x02, 0x70, 102, 0},
          std::tuple{0x80 | 0x08, 3, 103, static_cast<int>(lastPadding)}}) {
        out.u16(static_cast<std::uint32_t>(flags));
        out.u16(static_cast<std::uint32_t>(key));
        out.u16(static_cast<std::uint32_t>(id));
        out.u16(static_cast<std::uint32_t>(pad));
    }
    return std::move(out.bytes());
}

TEST(RcScriptAccelerators, DecodesToScriptAndCompilesBackExactly) {
    const ScriptText script = roundTrip(AcceleratorsToScript, CompileAcceleratorsScript, accelerators());
    EXPECT_EQ(script.carriedBytes, 0u);
    EXPECT_NE(script.text.find("1 ACCELERATORS\nBEGIN\n    0x41, 100, VIRTKEY, CONTROL\n    \"x\", 101\n"),
              std::string::npos)
        << script.text;
    EXPECT_NE(script.text.find("0x70, 102, VIRTKEY, NOINVERT, SHIFT, ALT\n    3, 103, CONTROL\nEND"),
              std::string::npos);

    // Hand-written: '^' keys, lower-case virtual keys, braces, comments and expressions.
    ByteVector bytes;
    ScriptError error;
    ASSERT_EQ(CompileAcceleratorsScript("LANGUAGE 9, 1\nIDA ACCELERATORS /* keys */ {\n \"^c\", 1 | 2\n"
                                        " \"a\", 0x10, VIRTKEY // comment\n}\n",
                                        bytes, error),
              kOk)
        << error.message;
    const ByteVector expected{std::byte{0},    std::byte{0}, std::byte{3},   std::byte{0},
                              std::byte{3},    std::byte{0}, std::byte{0},   std::byte{0},
                              std::byte{0x81}, std::byte{0}, std::byte{'A'}, std::byte{0},
                              std::byte{0x10}, std::byte{0}, std::byte{0},   std::byte{0}};
    EXPECT_EQ(bytes, expected);
}

// Padding that is not zero, a flag no option names and bytes after the last entry travel in
// `kestrel:` lines; an edit that changes the size is refused rather than patched wrongly.
TEST(RcScriptAccelerators, CarriesWhatTheSyntaxCannotHold) {
    ByteVector data = accelerators(0xBEEF);
    data[0] |= std::byte{0x40};
    data.push_back(std::byte{0x77});
    const ScriptText script = roundTrip(AcceleratorsToScript, CompileAcceleratorsScript, data);
    EXPECT_EQ(script.carriedBytes, 4u) << script.text;
    EXPECT_NE(script.text.find("// kestrel: compiled 32 result 33\n"), std::string::npos) << script.text;

    std::string edited = script.text;
    edited.replace(edited.find("END"), 3, "4, 104\nEND");
    const ScriptError error = compileError(CompileAcceleratorsScript, edited);
    EXPECT_NE(error.message.find("compiled to 32 bytes; this one compiles to 40"), std::string::npos)
        << error.message;
    EXPECT_EQ(error.line, 10);
    EXPECT_EQ(error.column, 1);
}

ByteVector classicMenu() {
    ByteWriter out;
    out.u32(0);
    auto item = [&](std::uint16_t flags, std::uint16_t id, std::u16string_view label) {
        out.u16(flags);
        if ((flags & 0x10) == 0) out.u16(id);
        text16(out, label);
    };
    item(0x10, 0, u"&File \"x\" \\");
    item(0x01, 100, u"&Open\tCtrl+O");
    item(0, 0, u"");
    item(0x08 | 0x02 | 0x20, 101, u"Sa&ve é 中");
    item(0x10 | 0x80, 0, u"Recent");
    item(0x80 | 0x04 | 0x40 | 0x100, 102, u"1\x01");
    item(0x10 | 0x80 | 0x4000, 0, u"&Help");
    item(0x80, 103, u"About");
    return std::move(out.bytes());
}

ByteVector extendedMenu() {
    ByteWriter out;
    out.u16(1);
    out.u16(4);
    out.u32(0);
    auto item = [&](std::uint32_t type, std::uint32_t state, std::uint32_t id, std::uint16_t resInfo,
                    std::u16string_view label, std::uint32_t helpId) {
        out.alignTo(4);
        out.u32(type);
        out.u32(state);
        out.u32(id);
        out.u16(resInfo);
        text16(out, label);
        out.alignTo(4);
        if ((resInfo & 1) != 0) out.u32(helpId);
    };
    item(0, 0, 200, 1, u"&Edit", 7);
    item(0x200, 0x8 | 0x1000, 0x10000, 0, u"Ab", 0);
    item(0x800, 0, 0, 0, u"", 0);
    item(0, 3, 202, 0x80, u"Odd", 0);
    item(0x4000, 0, 0, 0x81, u"Right", 0);
    item(0, 0, 0, 0x80, u"", 0);
    return std::move(out.bytes());
}

TEST(RcScriptMenus, BothKindsDecodeToScriptAndCompileBackExactly) {
    const ScriptText classic = roundTrip(MenuToScript, CompileMenuScript, classicMenu());
    EXPECT_EQ(classic.carriedBytes, 0u) << classic.text;
    EXPECT_NE(classic.text.find("    POPUP \"&File \"\"x\"\" \\\\\"\n    BEGIN\n"
                                "        MENUITEM \"&Open\\tCtrl+O\", 100, GRAYED\n"
                                "        MENUITEM SEPARATOR\n"
                                "        MENUITEM \"Sa&ve é 中\", 101, INACTIVE, CHECKED, MENUBARBREAK\n"),
              std::string::npos)
        << classic.text;
    EXPECT_NE(classic.text.find("MENUITEM \"1\\001\", 102, BITMAP, MENUBREAK, OWNERDRAW\n"),
              std::string::npos);
    EXPECT_NE(classic.text.find("POPUP \"&Help\", HELP\n"), std::string::npos);

    const ScriptText extended = roundTrip(MenuToScript, CompileMenuScript, extendedMenu());
    EXPECT_EQ(extended.carriedBytes, 0u) << extended.text;
    EXPECT_NE(extended.text.find("1 MENUEX\nBEGIN\n    POPUP \"&Edit\", 200, 0x0, 0x0, 7\n    BEGIN\n"
                                 "        MENUITEM \"Ab\", 65536, 0x200, 0x1008\n"
                                 "        MENUITEM \"\", 0, 0x800\n"),
              std::string::npos)
        << extended.text;

    // The help ID of the menu itself has no statement: it is carried.
    ByteVector withHelp = extendedMenu();
    withHelp[4] = std::byte{9};
    EXPECT_EQ(roundTrip(MenuToScript, CompileMenuScript, withHelp).carriedBytes, 1u);

    // Options with or without commas; MENUEX separators are MFT_SEPARATOR items.
    ByteVector bytes;
    ScriptError error;
    ASSERT_EQ(CompileMenuScript(
                  "M MENU\nBEGIN\n POPUP \"a\" GRAYED\n BEGIN\n  MENUITEM \"b\", 5 CHECKED HELP\n END\nEND\n",
                  bytes, error),
              kOk)
        << error.message;
    ByteWriter expected;
    expected.u32(0);
    expected.u16(0x91);
    text16(expected, u"a");
    expected.u16(0x4088);
    expected.u16(5);
    text16(expected, u"b");
    EXPECT_EQ(bytes, expected.bytes());
}

TEST(RcScriptMenus, RejectsWhatTheTemplateCannotHold) {
    std::string deep = "1 MENU\nBEGIN\n";
    for (int i = 0; i < 33; ++i)
        deep += "POPUP \"p\"\nBEGIN\n";
    deep += "MENUITEM \"x\", 1\n";
    for (int i = 0; i < 33; ++i)
        deep += "END\n";
    deep += "END\n";
    ScriptError error = compileError(CompileMenuScript, deep);
    EXPECT_EQ(error.line, 67);
    EXPECT_NE(error.message.find("deeper than 32"), std::string::npos);

    error = compileError(CompileMenuScript, "1 MENU\nBEGIN\n  MENUITEM \"a\", 70000\nEND\n");
    EXPECT_EQ(error, (ScriptError{3, 17, "number out of range (0 to 65535)"}));
    error = compileError(CompileMenuScript, "1 MENU\nBEGIN\n  POPUP \"a\"\n  BEGIN\n  END\nEND\n");
    EXPECT_EQ(error, (ScriptError{5, 3, "a POPUP needs at least one item"}));
    error = compileError(CompileMenuScript, "1 MENU\nBEGIN\n  MENUITEM \"a, 1\nEND\n");
    EXPECT_EQ(error, (ScriptError{3, 12, "string not closed on its line"}));
}

// Hostile text of every kind gives an error with the place of the fault.
TEST(RcScriptErrors, NamePlaceAndFault) {
    EXPECT_EQ(compileError(CompileAcceleratorsScript, ""), (ScriptError{1, 1, "resource name expected"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript, "1 MENU\n"),
              (ScriptError{1, 3, "ACCELERATORS expected"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript, "1 ACCELERATORS\nBEGIN\n \"ab\", 1\nEND"),
              (ScriptError{3, 2, "a key is one character or '^' and a letter"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript, "1 ACCELERATORS\nBEGIN\n 1, 2, SHOUT\nEND"),
              (ScriptError{3, 8, "unknown accelerator option SHOUT"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript, "1 ACCELERATORS\nBEGIN\n 1, 99999999999\nEND"),
              (ScriptError{3, 5, "number larger than 32 bits"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript,
                           "1 ACCELERATORS\nBEGIN\n 1, ((((((((((((((((((((((((((((((((((1"),
              (ScriptError{3, 38, "expression nested too deeply"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript, "1 ACCELERATORS\nBEGIN\n 1, 2\n"),
              (ScriptError{4, 1, "END expected"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript, "1 ACCELERATORS\nBEGIN\nEND\nEND\n"),
              (ScriptError{4, 1, "text after the resource's END"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript, "1 ACCELERATORS /* open\nBEGIN\nEND\n"),
              (ScriptError{1, 16, "comment not closed"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript, "1 ACCELERATORS\nBEGIN\n \"\xC3\", 1\nEND\n"),
              (ScriptError{3, 3, "the text is not UTF-8"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript,
                           "// kestrel: at 0x100000000 00\n1 ACCELERATORS\nBEGIN\nEND\n"),
              (ScriptError{1, 1, "'kestrel: at' needs an offset up to 16 MiB"}));
    EXPECT_EQ(compileError(CompileAcceleratorsScript,
                           "// kestrel: compiled 0 result 4\n// kestrel: at 3 01 02\n"
                           "1 ACCELERATORS\nBEGIN\nEND\n"),
              (ScriptError{2, 1, "carried bytes beyond the resource's end"}));
    EXPECT_EQ(compileError(CompileMessageTableScript, "MessageId=1\nLanguage=English\nabc\n"),
              (ScriptError{4, 1, "message text not ended by a line with a single '.'"}));
    EXPECT_EQ(compileError(CompileMessageTableScript,
                           "MessageId=1\nLanguage=E\na\n.\nMessageId=1\nLanguage=E\nb\n.\n"),
              (ScriptError{6, 1, "message 0x1 appears twice"}));
    EXPECT_EQ(compileError(CompileMessageTableScript, "MessageId=0x\n"),
              (ScriptError{1, 11, "MessageId number (up to 32 bits) expected"}));
    EXPECT_EQ(compileError(CompileMessageTableScript, "MessageId=1\nSeverity=Fatal\n"),
              (ScriptError{2, 10, "unknown severity Fatal"}));
    EXPECT_EQ(compileError(CompileMessageTableScript, "Facility=System\nMessageId=0x10000\nLanguage=E\n"),
              (ScriptError{3, 1, "with Severity or Facility set, MessageId is at most 0xFFFF"}));
    EXPECT_EQ(compileError(CompileMessageTableScript, "FacilityNames=(Io=0x4\n Net=0x5000)\n"),
              (ScriptError{1, 15, "a 'Name=number' entry expected in the list"}));
    EXPECT_EQ(compileError(CompileMessageTableScript, "hello\n"),
              (ScriptError{1, 1, "a 'Keyword=value' line expected"}));
    EXPECT_EQ(compileError(CompileMessageTableScript, ";// kestrel: ansi\nMessageId=1\nLanguage=E\n中\n.\n"),
              (ScriptError{3, 1, "an 8-bit ('kestrel: ansi') message holds a character above U+00FF"}));
}

// An entry: its text, a terminator and zeros up to a multiple of four.
void entry(ByteWriter& out, bool unicode, std::u16string_view text) {
    const std::size_t start = out.size();
    out.u16(0);
    out.u16(unicode ? 1 : 0);
    for (char16_t unit : text)
        unicode ? out.u16(unit) : out.u8(unit);
    unicode ? out.u16(0) : out.u8(0);
    out.alignTo(4);
    out.patchU16(start, static_cast<std::uint32_t>(out.size() - start));
}

// Blocks 1..2 and 0xC0000010; the 8-bit entry carries a byte above 0x7F.
ByteVector messageTable(std::u16string_view lastText = u"Done.\r\n") {
    ByteWriter out;
    out.u32(2);
    out.u32(1);
    out.u32(2);
    out.u32(28);
    out.u32(0xC0000010);
    out.u32(0xC0000010);
    out.u32(0);
    entry(out, true, u"Hello %1,\r\n\r\nsecond line 中\r\n");
    entry(out, false, u"Caf\u00e9\r\n");
    const std::size_t third = out.size();
    entry(out, true, lastText);
    out.patchU32(24, static_cast<std::uint32_t>(third));
    return std::move(out.bytes());
}

TEST(RcScriptMessageTables, DecodeToMessageTextAndCompileBackExactly) {
    const ScriptText script = roundTrip(MessageTableToScript, CompileMessageTableScript, messageTable());
    EXPECT_EQ(script.carriedBytes, 0u) << script.text;
    // The ID above 16 bits makes every message name its severity and facility.
    EXPECT_NE(script.text.find("SeverityNames=(Success=0x0 Informational=0x1 Warning=0x2 Error=0x3)\n"
                               "FacilityNames=(F000=0x0)\n\n"
                               "MessageId=0x1\nSeverity=Success\nFacility=F000\nLanguage=Lang0409\n"
                               "Hello %1,\n\nsecond line 中\n.\n\n"
                               ";// kestrel: ansi\nMessageId=0x2\nSeverity=Success\nFacility=F000\n"
                               "Language=Lang0409\nCafé\n.\n\n"
                               "MessageId=0x10\nSeverity=Error\nFacility=F000\n"),
              std::string::npos)
        << script.text;
    // With the customer bit, which has no statement, MessageId holds the whole ID.
    ByteVector customer = messageTable();
    customer[19] = customer[23] = std::byte{0xE0};
    const ScriptText whole = roundTrip(MessageTableToScript, CompileMessageTableScript, customer);
    EXPECT_NE(whole.text.find("MessageId=0xE0000010\nLanguage"), std::string::npos) << whole.text;

    // Text without the closing CR LF, a lone line feed and a line of a single '.' are carried.
    const ScriptText odd =
        roundTrip(MessageTableToScript, CompileMessageTableScript, messageTable(u"a\nb\r\n.\r\nc"));
    EXPECT_GT(odd.carriedBytes, 0u);

    // Lines ended by a line feed alone are kept that way.
    ByteWriter feeds;
    for (std::uint32_t value : {1u, 7u, 8u, 16u})
        feeds.u32(value);
    entry(feeds, true, u"one\ntwo\n");
    entry(feeds, true, u"\n");
    const ScriptText lf = roundTrip(MessageTableToScript, CompileMessageTableScript, feeds.bytes());
    EXPECT_EQ(lf.carriedBytes, 0u);
    EXPECT_NE(lf.text.find(";// kestrel: line-end lf\n\nMessageId=0x7\nLanguage=Lang0409\none\ntwo\n.\n"),
              std::string::npos)
        << lf.text;

    // Hand-written: IDs counted on from the previous one, out of order, the severity kept for the
    // messages after it, a list over two lines.
    ByteVector bytes;
    ScriptError error;
    ASSERT_EQ(
        CompileMessageTableScript("LanguageNames=(English=0x409:MSG00409\n  German=0x407:MSG00407)\n"
                                  "MessageId=5\nSeverity=Error\nSymbolicName=X\nLanguage=English\nb\n.\n"
                                  "MessageId=\nLanguage=English\nc\n.\nMessageId=4\nLanguage=English\na\n.\n",
                                  bytes, error),
        kOk)
        << error.line << " " << error.message;
    ByteWriter expected;
    for (std::uint32_t value : {1u, 0xC0000004u, 0xC0000006u, 16u})
        expected.u32(value);
    for (char16_t c : {u'a', u'b', u'c'})
        entry(expected, true, std::u16string(1, c) + u"\r\n");
    EXPECT_EQ(bytes, expected.bytes());
}

TEST(RcScriptMessageTables, RejectsBlocksOutsideTheDataAndIdsTwice) {
    ScriptText script;
    ByteVector data = messageTable();
    data[12] = std::byte{0xF0};  // the first block's entries far beyond the end
    EXPECT_EQ(MessageTableToScript(data, ScriptOptions{}, script), kFail);
    data = messageTable();
    data[0] = std::byte{0xFF};  // more blocks than the data holds
    EXPECT_EQ(MessageTableToScript(data, ScriptOptions{}, script), kFail);
    data = messageTable();
    data[16] = std::byte{1};  // the second block holds ID 1 again: no text can say that
    data[17] = data[18] = data[19] = data[20] = data[21] = data[22] = data[23] = std::byte{0};
    data[20] = std::byte{1};
    EXPECT_EQ(MessageTableToScript(data, ScriptOptions{}, script), kFail);
    EXPECT_TRUE(script.text.empty());
    data = messageTable();
    data[8] = std::byte{0xFF};  // a block of 255 entries where 2 fit
    data[9] = std::byte{0xFF};
    EXPECT_EQ(MessageTableToScript(data, ScriptOptions{}, script), kFail);
}

// A dialog of either kind: a menu by name, a class by ordinal, a font, and items with text,
// ordinal and empty titles, predefined and named classes, negative positions and an odd-length text
// that needs padding before the next item.
ByteVector dialogTemplate(bool extended, std::uint16_t creationData = 0) {
    ByteWriter out;
    if (extended) {
        out.u16(1);
        out.u16(0xFFFF);
        out.u32(77);
        out.u32(0x100);
        out.u32(0x80C800C8);
    } else {
        out.u32(0x80C800C8);
        out.u32(0);
    }
    out.u16(3);
    for (std::uint16_t value : {10, 0xFFF6, 200, 100})
        out.u16(value);
    text16(out, u"Main");
    out.u16(0xFFFF);
    out.u16(0x8002);
    text16(out, u"Über \"Tab\"");
    out.u16(9);
    if (extended) {
        out.u16(700);
        out.u8(1);
        out.u8(204);
    }
    text16(out, u"MS Shell Dlg");
    struct Item {
        std::uint32_t style, id;
        std::u16string_view windowClass;
        std::uint16_t classOrdinal;
        std::u16string_view title;
        std::uint16_t titleOrdinal;
    };
    for (const Item& item :
         {Item{0x50010001, 1, u"", 0x80, u"&OK", 0}, Item{0x50000003, 0xFFFF, u"", 0x82, u"", 101},
          Item{0x50010000, 1000, u"SysListView32", 0, u"", 0}}) {
        out.alignTo(4);
        if (extended) {
            out.u32(item.id == 1000 ? 5 : 0);
            out.u32(item.id == 1000 ? 0x200 : 0);
            out.u32(item.style);
        } else {
            out.u32(item.style);
            out.u32(item.id == 1000 ? 0x200 : 0);
        }
        for (std::uint16_t value : {7, 0xFFFE, 50, 14})
            out.u16(value);
        extended ? out.u32(item.id) : out.u16(item.id);
        if (item.classOrdinal != 0) {
            out.u16(0xFFFF);
            out.u16(item.classOrdinal);
        } else {
            text16(out, item.windowClass);
        }
        if (item.titleOrdinal != 0) {
            out.u16(0xFFFF);
            out.u16(item.titleOrdinal);
        } else {
            text16(out, item.title);
        }
        out.u16(item.id == 1000 ? creationData : 0);
        if (item.id == 1000) out.zeros(creationData);
    }
    return std::move(out.bytes());
}

TEST(RcScriptDialogs, BothKindsDecodeToScriptAndCompileBackExactly) {
    const ScriptText classic = roundTrip(DialogToScript, CompileDialogScript, dialogTemplate(false));
    EXPECT_EQ(classic.carriedBytes, 0u) << classic.text;
    EXPECT_NE(classic.text.find(
                  "1 DIALOG 10, -10, 200, 100\nCAPTION \"Über \"\"Tab\"\"\"\nSTYLE 0x80C800C8\n"
                  "MENU \"Main\"\nCLASS 32770\nFONT 9, \"MS Shell Dlg\"\nBEGIN\n"
                  "    CONTROL \"&OK\", 1, 0x80, 0x50010001, 7, -2, 50, 14\n"
                  "    CONTROL 101, 65535, 0x82, 0x50000003, 7, -2, 50, 14\n"
                  "    CONTROL \"\", 1000, \"SysListView32\", 0x50010000, 7, -2, 50, 14, 0x200\nEND\n"),
              std::string::npos)
        << classic.text;

    const ScriptText extended = roundTrip(DialogToScript, CompileDialogScript, dialogTemplate(true));
    EXPECT_EQ(extended.carriedBytes, 0u) << extended.text;
    EXPECT_NE(extended.text.find("1 DIALOGEX 10, -10, 200, 100, 77\n"), std::string::npos) << extended.text;
    EXPECT_NE(extended.text.find("EXSTYLE 0x100\n"), std::string::npos);
    EXPECT_NE(extended.text.find("FONT 9, \"MS Shell Dlg\", 700, 1, 204\n"), std::string::npos);
    EXPECT_NE(extended.text.find("\"SysListView32\", 0x50010000, 7, -2, 50, 14, 0x200, 5\n"),
              std::string::npos);

    // Creation data has no statement here: it is carried, and the text still compiles back.
    EXPECT_GT(roundTrip(DialogToScript, CompileDialogScript, dialogTemplate(true, 6)).carriedBytes, 0u);

    // Without STYLE a dialog is a popup with a border and a system menu; FONT adds DS_SETFONT.
    ByteVector bytes;
    ScriptError error;
    ASSERT_EQ(CompileDialogScript("D DIALOG 0, 0, 10, 10\nFONT 8, \"X\"\n{\n}\n", bytes, error), kOk)
        << error.message;
    ByteWriter expected;
    expected.u32(0x80880040);
    expected.u32(0);
    for (std::uint16_t value : {0, 0, 0, 10, 10, 0, 0, 0})  // count, position, size, menu, class, caption
        expected.u16(value);
    expected.u16(8);
    text16(expected, u"X");
    EXPECT_EQ(bytes, expected.bytes());

    // A control is a visible child unless NOT takes those bits away.
    ASSERT_EQ(CompileDialogScript(
                  "D DIALOG 0, 0, 10, 10\n{\n CONTROL \"\", 1, 0x80, 1 | NOT 0x10000000, 0, 0, 1, 1\n"
                  " CONTROL \"\", 2, 0x80, NOT 0x40000000 | 2, 0, 0, 1, 1\n}\n",
                  bytes, error),
              kOk)
        << error.message;
    DialogTemplate compiled;
    ASSERT_EQ(DecodeDialogTemplate(bytes, compiled), kOk);
    ASSERT_EQ(compiled.items.size(), 2u);
    EXPECT_EQ(compiled.items[0].style, 0x40000001u);
    EXPECT_EQ(compiled.items[1].style, 0x10000002u);
    ByteVector hidden = dialogTemplate(false);
    hidden[hidden.size() - 47] = std::byte{0};  // the last item neither visible nor a child
    const ScriptText hiddenText = roundTrip(DialogToScript, CompileDialogScript, hidden);
    EXPECT_EQ(hiddenText.carriedBytes, 0u);
    EXPECT_NE(hiddenText.text.find(" | NOT 0x10000000 | NOT 0x40000000, "), std::string::npos)
        << hiddenText.text;

    EXPECT_EQ(compileError(CompileDialogScript, "D DIALOG 0, 0, 10, 10\nSTYLE 0x40\nBEGIN\nEND\n"),
              (ScriptError{2, 7, "STYLE holds DS_SETFONT (0x40) but there is no FONT statement"}));
    EXPECT_EQ(compileError(CompileDialogScript,
                           "D DIALOG 0, 0, 10, 10\nBEGIN\n CONTROL \"a\", 1, WIDGET, 0, 1, 2, 3, 4\nEND\n"),
              (ScriptError{3, 18, "unknown control class WIDGET"}));
    EXPECT_EQ(compileError(CompileDialogScript,
                           "D DIALOG 0, 0, 10, 10\nBEGIN\n CONTROL \"a\", 70000, 1, 0, 1, 2, 3, 4\nEND\n"),
              (ScriptError{3, 15, "number out of range (0 to 65535)"}));
    EXPECT_EQ(compileError(CompileDialogScript, "D DIALOG 0, 0, 10\nBEGIN\nEND\n"),
              (ScriptError{2, 1, "',' expected"}));
}

}  // namespace
}  // namespace kestrel
