// A synthetic file's texts exported, translated and imported as German, then read back from the
// compiled file; the language names the command line takes.
#include "core/pe/translation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "core/pe/decompile_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/dialog_template.h"
#include "core/pe/menu_template.h"
#include "core/pe/resource_reader.h"
#include "core/pe/version_info.h"
#include "core/platform/text.h"
#include "core/xml/xml_document.h"
#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace pb = pebuilder;
using ByteVector = std::vector<std::byte>;

constexpr std::uint16_t kGerman = 0x407;

void text16(ByteWriter& out, std::u16string_view value) {
    for (char16_t unit : value)
        out.u16(unit);
    out.u16(0);
}

// A classic dialog whose first control is an icon (its text names the icon resource) and whose
// second is a button; the caption's length puts the items on different places of the 32-bit grid
// once it is translated.
ByteVector iconDialog() {
    ByteWriter out;
    out.u32(0x80C80040);  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT
    out.u32(0);
    out.u16(2);
    for (int v : {0, 0, 120, 60})
        out.u16(static_cast<std::uint32_t>(v));
    out.u16(0);
    out.u16(0);
    text16(out, u"Info");
    out.u16(8);
    text16(out, u"MS Shell Dlg");
    struct Item {
        std::uint32_t style;
        std::uint16_t id;
        std::uint16_t cls;
        std::u16string_view title;
    };
    for (const Item& item : {Item{0x50000003, 0xFFFF, 0x82, u"APPICON"}, Item{0x50010000, 1, 0x80, u"OK"}}) {
        out.alignTo(4);
        out.u32(item.style);
        out.u32(0);
        for (int v : {7, 7, 20, 20})
            out.u16(static_cast<std::uint32_t>(v));
        out.u16(item.id);
        out.u16(0xFFFF);
        out.u16(item.cls);
        text16(out, item.title);
        out.u16(0);
    }
    return std::move(out.bytes());
}

// MENUEX: a pop-up (with its help ID after the aligned text) holding an item and a separator,
// then a plain item.
ByteVector extendedMenu() {
    ByteWriter out;
    out.u16(1);
    out.u16(4);
    out.u32(0);
    auto item = [&](std::uint32_t type, std::uint32_t id, std::uint16_t resInfo, std::u16string_view text) {
        out.alignTo(4);
        out.u32(type);
        out.u32(0);
        out.u32(id);
        out.u16(resInfo);
        text16(out, text);
        out.alignTo(4);
    };
    item(0, 0, 0x01, u"&Edit");
    out.u32(77);  // the pop-up's help ID
    item(0, 300, 0, u"&Copy\tCtrl+C");
    item(0x800, 0, 0x80, u"");
    item(0, 301, 0x80, u"&Help");
    return std::move(out.bytes());
}

// Two blocks: a UTF-16 entry with CR LF line ends, an 8-bit one, and an entry in a second block.
ByteVector messageTable() {
    auto entry = [](ByteWriter& out, bool unicode, std::u16string_view text) {
        const std::size_t start = out.size();
        out.u16(0);
        out.u16(unicode ? 1 : 0);
        for (char16_t unit : text)
            unicode ? out.u16(unit) : out.u8(unit);
        unicode ? out.u16(0) : out.u8(0);
        out.alignTo(4);
        out.patchU16(start, static_cast<std::uint32_t>(out.size() - start));
    };
    ByteWriter entries;
    entry(entries, true, u"Disk full.\r\nFree some space.\r\n");
    entry(entries, false, u"Not ready.\r\n");
    const std::size_t second = entries.size();
    entry(entries, true, u"Done.\r\n");
    ByteWriter out;
    out.u32(2);
    const std::uint32_t base = 4 + 2 * 12;
    for (auto [low, high, offset] :
         {std::tuple{1u, 2u, base}, std::tuple{0x100u, 0x100u, base + static_cast<std::uint32_t>(second)}}) {
        out.u32(low);
        out.u32(high);
        out.u32(static_cast<std::uint32_t>(offset));
    }
    out.append(entries.bytes());
    return std::move(out.bytes());
}

pb::ImagePlan samplePlan() {
    pb::ImagePlan plan;
    pb::addStrings(plan.resources, pb::kLangEnUs,
                   {{1, u"Open"}, {2, u"Line one\nLine two"}, {17, u"Say \"hi\""}, {18, u"Keep me"}});
    plan.resources.push_back({pb::kRtDialog, 100, pb::kLangEnUs, pb::makeDialog(u"Settings")});
    plan.resources.push_back({pb::kRtDialog, u"ABOUT", pb::kLangEnUs, pb::makeDialogEx(u"About")});
    plan.resources.push_back({pb::kRtDialog, 101, pb::kLangEnUs, iconDialog()});
    plan.resources.push_back({pb::kRtMenu, 200, pb::kLangEnUs, pb::makeMenu()});
    plan.resources.push_back({pb::kRtMenu, 201, pb::kLangEnUs, extendedMenu()});
    plan.resources.push_back({11, 1, pb::kLangEnUs, messageTable()});
    pb::VersionPlan version = pb::defaultVersionPlan();
    version.strings.emplace_back(u"Comments", u"A comment");
    plan.resources.push_back({pb::kRtVersion, 1, pb::kLangEnUs, pb::makeVersionInfo(version)});
    return plan;
}

ResourceKey key(const pb::ResourceId& id) {
    return id.isName ? ResourceKey::ofName(id.name) : ResourceKey::ofId(id.id);
}

std::u16string german(std::u16string_view text) {
    return u"DE:" + std::u16string(text);
}

class TranslationTest : public ::testing::Test {
  protected:
    // Exports the sample, translates every entry but the ones named, marks `fuzzy` fuzzy, and
    // imports the result as German into out.dll.
    void translate(const std::set<std::string>& untranslated, const std::string& fuzzy) {
        input_ = temp_.write("in/app.dll", pb::buildImage(samplePlan()));
        std::string pot;
        TranslationSummary exported;
        ASSERT_EQ(ExportTranslationTemplate(input_, std::nullopt, pot, &exported), kOk);
        EXPECT_EQ(exported.sourceLanguage, 0x409);
        PoError error;
        ASSERT_EQ(ParsePo(pot, entries_, error), kOk) << error.line << ": " << error.message << "\n" << pot;
        std::vector<PoEntry> translated = entries_;
        for (PoEntry& entry : translated) {
            if (untranslated.count(entry.context)) continue;
            entry.translation = utf16ToUtf8(german(utf8ToUtf16(entry.id)));
            entry.fuzzy = entry.context == fuzzy;
        }
        PoHeader header;
        header.language = "de_DE";
        const auto po = temp_.write("de.po", WritePo(header, translated));
        output_ = temp_ / "out.dll";
        ASSERT_EQ(ImportTranslations(input_, po, output_, kGerman, std::nullopt, &summary_), kOk);
        original_ = testing::readBytes(input_);
        result_ = testing::readBytes(output_);
        ASSERT_EQ(source_.open(original_), kOk);
        ASSERT_EQ(lookup_.open(result_), kOk);
    }

    std::set<std::string> contexts() const {
        std::set<std::string> all;
        for (const PoEntry& entry : entries_)
            all.insert(entry.context);
        return all;
    }

    ByteVector germanBytes(std::uint16_t type, const pb::ResourceId& name) const {
        auto bytes = lookup_.find(ResourceKey::ofId(type), key(name), kGerman);
        EXPECT_TRUE(bytes.has_value()) << type;
        return bytes ? ByteVector(bytes->begin(), bytes->end()) : ByteVector{};
    }

    testing::TempDir temp_;
    std::filesystem::path input_, output_;
    std::vector<PoEntry> entries_;
    TranslationSummary summary_;
    ByteVector original_, result_;
    ResourceLookup source_, lookup_;
};

TEST_F(TranslationTest, ExportNamesEveryTextByResourceAndPlace) {
    translate({}, "");
    const std::set<std::string> expected = {
        "STRINGTABLE 1", "STRINGTABLE 2", "STRINGTABLE 17", "STRINGTABLE 18",
        // makeDialog: caption and three controls (the edit control has no text).
        "DIALOG 100 CAPTION", "DIALOG 100 CONTROL 1", "DIALOG 100 CONTROL 3", "DIALOG ABOUT CAPTION",
        "DIALOG ABOUT CONTROL 1", "DIALOG ABOUT CONTROL 3",
        // The icon's name is not a text.
        "DIALOG 101 CAPTION", "DIALOG 101 CONTROL 2", "MENU 200 1", "MENU 200 1.1", "MENU 200 2",
        "MENU 201 1", "MENU 201 1.1", "MENU 201 2", "MESSAGETABLE 1 0x00000001", "MESSAGETABLE 1 0x00000002",
        "MESSAGETABLE 1 0x00000100", "VERSIONINFO 1 FileDescription", "VERSIONINFO 1 ProductName",
        "VERSIONINFO 1 LegalCopyright", "VERSIONINFO 1 Comments"};
    std::set<std::string> found = contexts();
    // makeMenu's item texts decide the rest of the menu 200 contexts; only the three above are checked.
    for (auto it = found.begin(); it != found.end();)
        it = it->rfind("MENU 200 ", 0) == 0 && !expected.count(*it) ? found.erase(it) : std::next(it);
    EXPECT_EQ(found, expected);
    for (const PoEntry& entry : entries_) {
        if (entry.context == "MESSAGETABLE 1 0x00000001") {
            EXPECT_EQ(entry.id, "Disk full.\nFree some space.\n");
        }
        if (entry.context == "DIALOG 101 CONTROL 2") {
            EXPECT_EQ(entry.comments, std::vector<std::string>{"control ID 1"});
        }
    }
}

TEST_F(TranslationTest, ImportMakesGermanResourcesAndLeavesTheSourceBytes) {
    translate({"STRINGTABLE 18", "MENU 201 2"}, "DIALOG 100 CAPTION");
    EXPECT_EQ(summary_.translated, summary_.texts - 3);

    // Every source resource is in the compiled file with its bytes.
    for (const pb::Resource& resource : samplePlan().resources) {
        auto bytes = lookup_.find(key(resource.type), key(resource.name), resource.language);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(ByteVector(bytes->begin(), bytes->end()), resource.data) << resource.type.id;
    }

    // Dialogs: only the texts differ; the untranslated and the fuzzy caption keep the source's.
    for (const pb::ResourceId& name : {pb::ResourceId(100), pb::ResourceId(u"ABOUT"), pb::ResourceId(101)}) {
        DialogTemplate before, after;
        ASSERT_EQ(DecodeDialogTemplate(*source_.find(ResourceKey::ofId(5), key(name)), before), kOk);
        ASSERT_EQ(DecodeDialogTemplate(germanBytes(5, name), after), kOk) << name.id;
        if (!(name == pb::ResourceId(100))) before.title = german(before.title);
        for (DialogItem& item : before.items) {
            const bool picture =
                item.windowClass.ordinal == dialog_class::kStatic && (item.style & 0x1F) == 3;
            if (item.title.isText() && !item.title.text.empty() && !picture)
                item.title.text = german(item.title.text);
        }
        EXPECT_EQ(after, before);
    }

    // Menus, both kinds; MENU 201 2 stays English.
    for (std::uint16_t id : {200, 201}) {
        MenuTemplate before, after;
        ASSERT_EQ(DecodeMenuTemplate(*source_.find(ResourceKey::ofId(4), ResourceKey::ofId(id)), before),
                  kOk);
        ASSERT_EQ(DecodeMenuTemplate(germanBytes(4, id), after), kOk);
        std::function<void(std::vector<MenuItem>&)> mark = [&](std::vector<MenuItem>& items) {
            for (MenuItem& item : items) {
                if (!item.separator && !item.text.empty() && item.text != u"&Help")
                    item.text = german(item.text);
                mark(item.children);
            }
        };
        mark(before.items);
        EXPECT_EQ(after, before) << id;
    }

    // String table: block 1 and 2 in German, the untranslated string kept.
    ByteVector block1 = germanBytes(6, 1), block2 = germanBytes(6, 2);
    EXPECT_EQ(block1, pb::makeStringBlock({u"", german(u"Open"), german(u"Line one\nLine two")}));
    EXPECT_EQ(block2, pb::makeStringBlock({u"", german(u"Say \"hi\""), u"Keep me"}));

    // Message table: translated texts keep their CR LF line ends; the 8-bit entry becomes UTF-16.
    std::vector<TranslatableText> texts;
    ASSERT_EQ(MessageTableTexts(germanBytes(11, 1), "1", texts), kOk);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].text, u"DE:Disk full.\nFree some space.\n");
    EXPECT_EQ(texts[1].text, u"DE:Not ready.\n");
    EXPECT_EQ(texts[2].context, "MESSAGETABLE 1 0x00000100");
    const ByteVector table = germanBytes(11, 1);
    const ByteVector crlf = pb::utf16Bytes(u"DE:Disk full.\r\nFree some space.\r\n");
    EXPECT_NE(std::search(table.begin(), table.end(), crlf.begin(), crlf.end()), table.end());

    // Version: one table keyed for German with the four strings translated, the others as they were.
    VersionInfo info;
    ASSERT_EQ(ParseVersionInfo(germanBytes(16, 1), info), kOk);
    const std::vector<VersionStringTable> tables = GetVersionStringTables(info);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].key, u"040704b0");  // the source's code page part as it was written
    VersionInfo sourceInfo;
    ASSERT_EQ(ParseVersionInfo(*source_.find(ResourceKey::ofId(16), ResourceKey::ofId(1)), sourceInfo), kOk);
    auto expected = GetVersionStrings(sourceInfo);
    for (auto& [stringKey, value] : expected)
        if (stringKey == u"FileDescription" || stringKey == u"ProductName" ||
            stringKey == u"LegalCopyright" || stringKey == u"Comments")
            value = german(value);
    EXPECT_EQ(tables[0].strings, expected);
    EXPECT_EQ(GetVersionTranslation(info)->language, kGerman);
    EXPECT_EQ(GetFixedFileInfo(info), GetFixedFileInfo(sourceInfo));
}

TEST_F(TranslationTest, ImportingAgainReplacesTheGermanResources) {
    translate({}, "");
    // The compiled file, translated once more from a PO that leaves everything untranslated: the
    // German resources go back to the source texts, and nothing else changes.
    std::vector<PoEntry> empty = entries_;
    const auto po = temp_.write("empty.po", WritePo(PoHeader{}, empty));
    const auto again = temp_ / "again.dll";
    ASSERT_EQ(ImportTranslations(output_, po, again, kGerman, 0x409, nullptr), kOk);
    const ByteVector bytes = testing::readBytes(again);
    ResourceLookup lookup;
    ASSERT_EQ(lookup.open(bytes), kOk);
    for (const pb::Resource& resource : samplePlan().resources) {
        if (resource.type.id == 16) continue;  // the German version resource has its own table key
        auto translated = lookup.find(key(resource.type), key(resource.name), kGerman);
        ASSERT_TRUE(translated.has_value());
        EXPECT_EQ(ByteVector(translated->begin(), translated->end()), resource.data) << resource.type.id;
    }
}

TEST_F(TranslationTest, ReplacedLanguageNeverWritesIntoAFileAnotherEntryUses) {
    translate({}, "");
    // A project whose German dialog names the English dialog's file.
    std::filesystem::path project;
    const auto folder = temp_ / "project";
    ASSERT_EQ(DecompileProject(output_, folder, project), kOk);
    XmlDocument description;
    ASSERT_EQ(description.LoadFile(folder / "pe.xml"), kOk);
    auto fileOf = [&](std::uint16_t language) {
        XmlElement* entry =
            FindResourceEntry(description, ResourceKey::ofId(5), ResourceKey::ofId(100), language);
        return entry ? entry->firstChild() : nullptr;
    };
    ASSERT_NE(fileOf(0x409), nullptr);
    const std::string english = XmlDocument::FindAttribute(fileOf(0x409), "Name")->value();
    description.SetCurrent(fileOf(kGerman));
    ASSERT_TRUE(description.SetCurrentAttribute("Name", english));
    ASSERT_EQ(description.SaveFile(), kOk);
    const ByteVector englishBytes = testing::readBytes(folder / english);

    std::vector<PoEntry> translated = entries_;
    for (PoEntry& entry : translated)
        entry.translation = "DE2:" + entry.id;
    const auto po = temp_.write("again.po", WritePo(PoHeader{}, translated));
    ASSERT_EQ(ImportTranslations(folder, po, temp_ / "rebuilt.dll", kGerman, std::nullopt, nullptr), kOk);
    EXPECT_EQ(testing::readBytes(folder / english), englishBytes);
    const ByteVector rebuilt = testing::readBytes(temp_ / "rebuilt.dll");
    ResourceLookup lookup;
    ASSERT_EQ(lookup.open(rebuilt), kOk);
    auto dialog = lookup.find(ResourceKey::ofId(5), ResourceKey::ofId(100), 0x409);
    ASSERT_TRUE(dialog.has_value());
    EXPECT_EQ(ByteVector(dialog->begin(), dialog->end()), pb::makeDialog(u"Settings"));
}

TEST_F(TranslationTest, FailedImportLeavesTheFileAlone) {
    input_ = temp_.write("in/app.dll", pb::buildImage(samplePlan()));
    const ByteVector before = testing::readBytes(input_);
    const auto bad = temp_.write("bad.po", std::string("msgid \"a\"\nmsgstr \"b\n"));
    EXPECT_EQ(ImportTranslations(input_, bad, {}, kGerman, std::nullopt, nullptr), kFail);
    const auto po = temp_.write("ok.po", std::string("msgid \"\"\nmsgstr \"\"\n"));
    EXPECT_EQ(ImportTranslations(input_, po, {}, 0x409, std::nullopt, nullptr), kInvalidArg);
    EXPECT_EQ(testing::readBytes(input_), before);
}

TEST(TranslationNeutralVersionTest, LanguageNeutralVersionResourceIsTranslatedToo) {
    testing::TempDir temp;
    pb::ImagePlan plan;
    pb::addStrings(plan.resources, pb::kLangEnUs, {{1, u"Open"}});
    plan.resources.push_back({pb::kRtVersion, 1, 0, pb::makeVersionInfo(pb::defaultVersionPlan())});
    const auto input = temp.write("app.dll", pb::buildImage(plan));
    std::string pot;
    TranslationSummary summary;
    ASSERT_EQ(ExportTranslationTemplate(input, std::nullopt, pot, &summary), kOk);
    EXPECT_EQ(summary.sourceLanguage, 0x409);
    std::vector<PoEntry> entries;
    PoError error;
    ASSERT_EQ(ParsePo(pot, entries, error), kOk);
    auto description = std::find_if(entries.begin(), entries.end(), [](const PoEntry& entry) {
        return entry.context == "VERSIONINFO 1 FileDescription";
    });
    ASSERT_NE(description, entries.end()) << pot;
    description->translation = "Beschreibung";
    const auto po = temp.write("de.po", WritePo(PoHeader{}, entries));
    ASSERT_EQ(ImportTranslations(input, po, temp / "out.dll", kGerman, std::nullopt, nullptr), kOk);
    const ByteVector bytes = testing::readBytes(temp / "out.dll");
    ResourceLookup lookup;
    ASSERT_EQ(lookup.open(bytes), kOk);
    VersionInfo info;
    ASSERT_EQ(ParseVersionInfo(*lookup.find(ResourceKey::ofId(16), ResourceKey::ofId(1), kGerman), info),
              kOk);
    EXPECT_EQ(GetVersionString(info, u"FileDescription"), u"Beschreibung");
    EXPECT_EQ(ByteVector(lookup.find(ResourceKey::ofId(16), ResourceKey::ofId(1), 0)->begin(),
                         lookup.find(ResourceKey::ofId(16), ResourceKey::ofId(1), 0)->end()),
              plan.resources.back().data);
}

TEST(LanguageNameTest, NumbersAndLocaleNames) {
    const std::pair<std::string_view, std::optional<std::uint16_t>> cases[] = {
        {"0x407", 0x407},
        {"1031", 0x407},
        {"de", 0x407},
        {"de_DE", 0x407},
        {"de-AT", 0xC07},
        {"DE_de.UTF-8", 0x407},
        {"pt-BR", 0x416},
        {"pt", 0x416},
        {"pt_PT", 0x816},
        {"zh", 0x804},
        {"zh_TW", 0x404},
        {"en", 0x409},
        {"sr", 0x241A},
        {"de_XX", std::nullopt},
        {"xx", std::nullopt},
        {"", std::nullopt},
        {"0x10000", std::nullopt},
        {"d", std::nullopt},
    };
    for (const auto& [text, language] : cases)
        EXPECT_EQ(ParseLanguageName(text), language) << text;
    EXPECT_EQ(LanguageCode(0x407), "de_DE");
    EXPECT_EQ(LanguageCode(0x1234), "0x1234");
}

}  // namespace
}  // namespace kestrel
