#include "core/pe/version_info.h"

#include <gtest/gtest.h>

#include <functional>

#include "pe_builder/pe_builder.h"

namespace kestrel {
namespace {

namespace pb = pebuilder;
using ByteVector = std::vector<std::byte>;

ByteVector utf16(std::u16string_view text, bool terminated = true) {
    ByteWriter out;
    for (char16_t unit : text)
        out.u16(unit);
    if (terminated) out.u16(0);
    return std::move(out.bytes());
}

// A version node written with chosen oddities (padding counts from the start of the resource).
struct Block {
    std::u16string key;
    std::uint16_t type = 1;
    ByteVector value;
    std::optional<std::uint16_t> valueLength;  // default: UTF-16 units for text, bytes otherwise
    std::vector<Block> children;
    bool padKey = true;
    bool padChildren = true;
    std::size_t zeroWordsBefore = 0;
    bool lengthCoversPadding = false;
    ByteVector trailing;  // inside wLength, after the children
    int lengthDelta = 0;
};

Block node(std::u16string key, std::uint16_t type, ByteVector value = {}, std::vector<Block> children = {}) {
    Block block;
    block.key = std::move(key);
    block.type = type;
    block.value = std::move(value);
    block.children = std::move(children);
    return block;
}

void emit(ByteWriter& out, const Block& block) {
    const std::size_t start = out.size();
    out.u16(0);
    out.u16(block.valueLength.value_or(block.type == 1 ? block.value.size() / 2 : block.value.size()));
    out.u16(block.type);
    out.append(asBytes(utf16(block.key)));
    if (block.padKey) out.alignTo(4);
    out.append(asBytes(block.value));
    for (const Block& child : block.children) {
        if (block.padChildren) out.alignTo(4);
        out.zeros(4 * child.zeroWordsBefore);
        emit(out, child);
    }
    if (block.lengthCoversPadding) out.alignTo(4);
    out.append(asBytes(block.trailing));
    out.patchU16(start, static_cast<std::uint32_t>(static_cast<int>(out.size() - start) + block.lengthDelta));
}

Block standardBlock() {
    ByteWriter fixed;
    for (std::uint32_t field :
         {kFixedFileInfoSignature, 0x10000u, 0x10002u, 0u, 0x10002u, 0u, 0x3Fu, 0u, 0x40004u, 2u, 0u, 0u, 0u})
        fixed.u32(field);
    Block table = node(u"040904B0", 1);
    for (auto [key, value] : {std::pair{u"CompanyName", u"Kestrel Test Works"},
                              {u"FileVersion", u"1.0.2"},
                              {u"ProductName", u"Kestrel"},
                              {u"OriginalFilename", u"a.dll"}})
        table.children.push_back(node(key, 1, utf16(value)));
    const Block translation = node(u"Translation", 0, utf16(u"\x0409\x04B0", false));
    return node(u"VS_VERSION_INFO", 0, fixed.bytes(),
                {node(u"StringFileInfo", 1, {}, {table}), node(u"VarFileInfo", 1, {}, {translation})});
}

ByteVector bytesOf(const Block& block, const ByteVector& after = {}) {
    ByteWriter out;
    emit(out, block);
    out.append(asBytes(after));
    return std::move(out.bytes());
}

ByteVector written(const VersionInfo& info) {
    ByteVector bytes;
    EXPECT_EQ(WriteVersionInfo(info, bytes), kOk);
    return bytes;
}

VersionInfo parsed(const ByteVector& bytes) {
    VersionInfo info;
    EXPECT_EQ(ParseVersionInfo(asBytes(bytes), info), kOk);
    return info;
}

struct OddCase {
    const char* name;
    std::function<void(Block&)> change;
    ByteVector after = {};  // bytes after the root
};

const std::vector<OddCase>& oddCases() {
    auto strings = [](Block& root) -> std::vector<Block>& { return root.children[0].children[0].children; };
    static const std::vector<OddCase> cases = {
        {"standard", [](Block&) {}},
        {"text length in bytes", [=](Block& b) { strings(b)[0].valueLength = strings(b)[0].value.size(); }},
        {"value without terminator", [=](Block& b) { strings(b)[1].value = utf16(u"1.0.2", false); }},
        {"strings without padding", [](Block& b) { b.children[0].children[0].padChildren = false; }},
        {"zero words before a string", [=](Block& b) { strings(b)[2].zeroWordsBefore = 2; }},
        {"lengths cover the padding",
         [=](Block& b) {
             for (Block& string : strings(b))
                 string.lengthCoversPadding = true;
         }},
        {"fixed block right after the key", [](Block& b) { b.padKey = false; }},
        {"table longer than its strings", [](Block& b) { b.children[0].children[0].trailing.resize(10); }},
        {"root shorter than its children", [](Block& b) { b.lengthDelta = -6; }},
        {"bytes after the root", [](Block&) {}, utf16(u"tail", false)},
        {"second table, second pair, unknown node",
         [](Block& b) {
             b.children[0].children.push_back(b.children[0].children[0]);
             b.children[0].children[1].key = u"040704E4";
             b.children[1].children[0].value = utf16(u"\x0409\x04B0\x0407\x04E4", false);
             b.children.push_back(node(u"Extra", 0, utf16(u"?", false)));
         }},
    };
    return cases;
}

TEST(VersionInfoRead, OddBlocksReadTheirStringsAndWriteBackByteForByte) {
    for (const OddCase& odd : oddCases()) {
        SCOPED_TRACE(odd.name);
        Block block = standardBlock();
        odd.change(block);
        const ByteVector bytes = bytesOf(block, odd.after);
        VersionInfo info = parsed(bytes);
        const std::vector<std::pair<std::u16string, std::u16string>> strings = {
            {u"CompanyName", u"Kestrel Test Works"},
            {u"FileVersion", u"1.0.2"},
            {u"ProductName", u"Kestrel"},
            {u"OriginalFilename", u"a.dll"}};
        EXPECT_EQ(GetVersionStrings(info), strings);
        EXPECT_EQ(GetFixedFileInfo(info)->fileVersion(), (VersionNumber{1, 2, 0, 0}));
        EXPECT_EQ(written(info), bytes);

        DropOriginalBytes(info.root);
        EXPECT_EQ(written(info), bytes);
    }
}

TEST(VersionInfoEdit, EachEditChangesExactlyItsBytes) {
    const pb::VersionPlan plan = pb::defaultVersionPlan();
    const ByteVector original = pb::makeVersionInfo(plan);
    auto edited = [&](const std::function<void(VersionInfo&)>& edit) {
        VersionInfo info = parsed(original);
        edit(info);
        return written(info);
    };

    pb::VersionPlan newer = plan;
    std::copy_n(VersionNumber{6, 1, 7601, 17514}.begin(), 4, newer.fileVersion);
    EXPECT_EQ(edited([](VersionInfo& info) {
                  FixedFileInfo fixed = *GetFixedFileInfo(info);
                  fixed.setFileVersion({6, 1, 7601, 17514});
                  SetFixedFileInfo(info, fixed);
              }),
              pb::makeVersionInfo(newer));

    // Every other field of the fixed block: its four bytes (the block starts at 40), nothing else.
    const std::pair<std::uint32_t FixedFileInfo::*, std::size_t> fields[] = {
        {&FixedFileInfo::productVersionMS, 4}, {&FixedFileInfo::productVersionLS, 5},
        {&FixedFileInfo::fileFlagsMask, 6},    {&FixedFileInfo::fileFlags, 7},
        {&FixedFileInfo::fileOS, 8},           {&FixedFileInfo::fileType, 9},
        {&FixedFileInfo::fileSubtype, 10}};
    for (auto [field, index] : fields) {
        ByteVector expected = original;
        for (std::size_t i = 0; i < 4; ++i)
            expected[40 + 4 * index + i] = std::byte{0xA5};
        EXPECT_EQ(edited([field = field](VersionInfo& info) {
                      FixedFileInfo fixed = *GetFixedFileInfo(info);
                      fixed.*field = 0xA5A5A5A5;
                      SetFixedFileInfo(info, fixed);
                  }),
                  expected)
            << index;
    }

    pb::VersionPlan emptied = plan;
    emptied.strings[3].second.clear();  // InternalName
    EXPECT_EQ(edited([](VersionInfo& info) { SetVersionString(info, u"internalname", u""); }),
              pb::makeVersionInfo(emptied));

    pb::VersionPlan longer = plan;
    longer.strings[0].second += u" and sons";
    EXPECT_EQ(edited([](VersionInfo& info) {
                  SetVersionString(info, u"CompanyName", u"Kestrel Test Works and sons");
              }),
              pb::makeVersionInfo(longer));

    pb::VersionPlan added = plan;
    added.strings.emplace_back(u"Comments", u"odd");
    EXPECT_EQ(edited([](VersionInfo& info) { SetVersionString(info, u"Comments", u"odd"); }),
              pb::makeVersionInfo(added));

    ByteVector translated = original;  // the pair is the last four bytes
    const ByteVector pair = utf16(u"\x0407\x04E4", false);
    std::copy(pair.begin(), pair.end(), translated.end() - 4);
    EXPECT_EQ(edited([](VersionInfo& info) { SetVersionTranslation(info, {0x0407, 1252}); }), translated);

    // Setting what is already there keeps even odd bytes as they are; a string that changes its
    // length by an odd number of units leaves the strings after it readable and, where they were
    // on their boundary, as they were.
    for (const OddCase& odd : oddCases()) {
        Block block = standardBlock();
        odd.change(block);
        const ByteVector bytes = bytesOf(block, odd.after);
        VersionInfo info = parsed(bytes);
        SetFixedFileInfo(info, *GetFixedFileInfo(info));
        SetVersionString(info, u"ProductName", u"Kestrel");
        if (auto translation = GetVersionTranslation(info)) SetVersionTranslation(info, *translation);
        EXPECT_EQ(written(info), bytes) << odd.name;

        auto strings = GetVersionStrings(info);
        strings[0].second += u"!";
        SetVersionString(info, u"CompanyName", strings[0].second);
        const VersionInfo reread = parsed(written(info));
        EXPECT_EQ(GetVersionStrings(reread), strings) << odd.name;
        const auto& stringsBefore = info.root.children[0].children[0].children;
        const auto& stringsAfter = reread.root.children[0].children[0].children;
        for (std::size_t i = 1; i < stringsBefore.size(); ++i) {
            if (stringsBefore[i].originalOffset % 4 != 0) continue;  // moves onto the boundary
            EXPECT_EQ(stringsAfter[i].original, stringsBefore[i].original) << odd.name << " " << i;
        }
    }
}

TEST(VersionInfoEdit, OtherTablesTranslationsAndUnknownNodesKeepTheirBytes) {
    Block block = standardBlock();
    oddCases().back().change(block);
    const VersionInfo before = parsed(bytesOf(block));
    VersionInfo info = before;
    SetVersionString(info, u"ProductName", u"Kestrel Pro");
    SetVersionTranslation(info, {0x0804, 936});
    const VersionInfo after = parsed(written(info));
    EXPECT_EQ(GetVersionString(after, u"ProductName"), u"Kestrel Pro");
    EXPECT_EQ(after.root.children[0].children[1].original, before.root.children[0].children[1].original);
    EXPECT_EQ(after.root.children[2].original, before.root.children[2].original);
    const ByteVector pairs = utf16(u"\x0804\x03A8\x0407\x04E4", false);
    EXPECT_EQ(after.root.children[1].children[0].value, pairs);
}

// Two tables in one StringFileInfo, the second without ProductVersion: a key set in every table
// reaches both, added only where asked to; the result is what the builder writes for the new strings.
TEST(VersionInfoEdit, EveryTableTakesTheStringAndOnlyWhereAsked) {
    pb::VersionPlan plan = pb::defaultVersionPlan();
    plan.moreTables.push_back({0x0407, 1200, {{u"CompanyName", u"Kestrel Werke"}, {u"FileVersion", u"1.0"}}});
    VersionInfo info = parsed(pb::makeVersionInfo(plan));

    SetVersionStringInEveryTable(info, u"fileversion", u"2.0", MissingVersionString::kSkip);
    SetVersionStringInEveryTable(info, u"ProductVersion", u"2.1", MissingVersionString::kSkip);
    SetVersionStringInEveryTable(info, u"Comments", u"built");
    pb::VersionPlan expected = plan;
    for (auto& [key, value] : expected.strings) {
        if (key == u"FileVersion") value = u"2.0";
        if (key == u"ProductVersion") value = u"2.1";
    }
    expected.strings.emplace_back(u"Comments", u"built");
    expected.moreTables[0].strings[1].second = u"2.0";
    expected.moreTables[0].strings.emplace_back(u"Comments", u"built");
    EXPECT_EQ(written(info), pb::makeVersionInfo(expected));

    const std::vector<VersionStringTable> tables = GetVersionStringTables(parsed(written(info)));
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0].key, u"040904b0");
    EXPECT_EQ(tables[1], (VersionStringTable{u"040704b0", expected.moreTables[0].strings}));

    // Without any table, kSkip changes nothing and kAdd makes the table SetVersionString would.
    Block bare = standardBlock();
    bare.children[0].children.clear();
    const ByteVector withoutTables = bytesOf(bare);
    VersionInfo empty = parsed(withoutTables);
    SetVersionStringInEveryTable(empty, u"FileVersion", u"3.0", MissingVersionString::kSkip);
    EXPECT_EQ(written(empty), withoutTables);
    VersionInfo single = empty;
    SetVersionString(single, u"FileVersion", u"3.0");
    SetVersionStringInEveryTable(empty, u"FileVersion", u"3.0");
    EXPECT_EQ(written(empty), written(single));
    EXPECT_EQ(GetVersionStringTables(empty).size(), 1u);
}

TEST(VersionInfoEdit, MissingPartsAreAddedAndAMinimalBlockReadsBack) {
    Block block = standardBlock();
    block.children.erase(block.children.begin());  // only VarFileInfo, translation 0407/04E4
    block.children[0].children[0].value = utf16(u"\x0407\x04E4", false);
    VersionInfo info = parsed(bytesOf(block));
    SetVersionString(info, u"FileVersion", u"2.0");
    VersionInfo reread = parsed(written(info));
    EXPECT_EQ(reread.root.children[0].key, u"StringFileInfo");
    EXPECT_EQ(reread.root.children[0].children[0].key, u"040704E4");
    EXPECT_EQ(GetVersionString(reread, u"FileVersion"), u"2.0");

    // A String that ends with its key (no value, not even padding) gets its value on the boundary.
    Block bare = standardBlock();
    bare.children[0].children[0].children[2].value.clear();
    bare.children[0].children[0].children[2].padKey = false;
    VersionInfo withBare = parsed(bytesOf(bare));
    EXPECT_EQ(GetVersionString(withBare, u"ProductName"), u"");
    SetVersionString(withBare, u"ProductName", u"Kestrel");
    EXPECT_EQ(GetVersionString(parsed(written(withBare)), u"ProductName"), u"Kestrel");

    VersionInfo minimal = MakeMinimalVersionInfo(0x0804);
    EXPECT_EQ(GetFixedFileInfo(minimal)->signature, kFixedFileInfoSignature);
    EXPECT_TRUE(GetVersionStrings(minimal).empty());
    EXPECT_EQ(minimal.root.children[0].children[0].key, u"080404B0");
    EXPECT_EQ(GetVersionTranslation(minimal), (VersionTranslation{0x0804, 1200}));
    SetVersionString(minimal, u"ProductName", u"Kestrel");
    const ByteVector bytes = written(minimal);
    EXPECT_EQ(GetVersionString(parsed(bytes), u"ProductName"), u"Kestrel");
    EXPECT_EQ(bytes.size() % 4, 0u);
    EXPECT_EQ(ByteReader{asBytes(bytes)}.u16(0), bytes.size());
}

TEST(VersionText, AcceptsOneToFourNumbersAndRefusesEverythingElse) {
    EXPECT_EQ(ParseVersionText("6.1.7601.17514"), (VersionNumber{6, 1, 7601, 17514}));
    EXPECT_EQ(ParseVersionText("2"), (VersionNumber{2, 0, 0, 0}));
    EXPECT_EQ(ParseVersionText("65535.007"), (VersionNumber{65535, 7, 0, 0}));
    for (const char* bad : {"", ".", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "99999999999", "-1", "+1",
                            " 1", "1 ", "1,2", "1.2a", "0x10"})
        EXPECT_EQ(ParseVersionText(bad), std::nullopt) << bad;
}

// Every cut of a block, and every 16-bit field set to a hostile value, is read within its bytes
// (the sanitizer build checks that), written back as it was, and still takes edits.
TEST(VersionInfoRead, CutAndCorruptBlocksReadWhatTheyCanWithinTheirBytes) {
    const ByteVector original = pb::makeVersionInfo(pb::defaultVersionPlan());
    for (std::size_t size = 0; size <= original.size(); ++size) {
        const ByteVector cut(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(size));
        VersionInfo info;
        if (size < 6) {
            EXPECT_EQ(ParseVersionInfo(asBytes(cut), info), kFail);
            continue;
        }
        ASSERT_EQ(ParseVersionInfo(asBytes(cut), info), kOk) << size;
        EXPECT_EQ(written(info), cut);
        EXPECT_EQ(GetFixedFileInfo(info).has_value(), size >= 92) << size;
    }
    ByteVector badSignature = original;
    badSignature[40] = std::byte{0};
    EXPECT_FALSE(GetFixedFileInfo(parsed(badSignature)).has_value());

    // A String claiming more than its table ends with the table; VarFileInfo is still found.
    ByteVector greedy = original;
    greedy[152] = greedy[153] = std::byte{0xFF};  // wLength of the first String (table at 128, key to 152)
    EXPECT_EQ(GetVersionStrings(parsed(greedy)).size(), 1u);
    EXPECT_EQ(GetVersionTranslation(parsed(greedy)), (VersionTranslation{0x0409, 1200}));
    EXPECT_EQ(written(parsed(greedy)), greedy);

    auto keysOf = [](const std::vector<std::pair<std::u16string, std::u16string>>& strings) {
        std::vector<std::u16string> keys;
        for (const auto& string : strings)
            keys.push_back(string.first);
        return keys;
    };
    const std::vector<std::u16string> keys = keysOf(GetVersionStrings(parsed(original)));
    for (std::size_t at = 0; at + 1 < original.size(); at += 2) {
        for (std::uint16_t hostile : {0x0000, 0x0001, 0x0006, 0x0007, 0x7FFF, 0xFFFF}) {
            ByteVector bytes = original;
            bytes[at] = std::byte(hostile & 0xFF);
            bytes[at + 1] = std::byte(hostile >> 8);
            VersionInfo info;
            if (ParseVersionInfo(asBytes(bytes), info).failed()) continue;
            ASSERT_EQ(written(info), bytes) << at << " " << hostile;
            // Edits must show where the blocks on their way are still whole.
            if (keysOf(GetVersionStrings(info)) != keys || !GetVersionTranslation(info)) continue;
            SetVersionString(info, u"ProductName", u"edited");
            SetVersionString(info, u"Comments", u"added");
            SetVersionTranslation(info, {0x0407, 1252});
            SetFixedFileInfo(info, GetFixedFileInfo(info).value_or(FixedFileInfo{kFixedFileInfoSignature}));
            const VersionInfo reread = parsed(written(info));
            EXPECT_EQ(GetVersionString(reread, u"ProductName"), u"edited") << at << " " << hostile;
            EXPECT_EQ(GetVersionString(reread, u"Comments"), u"added") << at << " " << hostile;
            EXPECT_EQ(GetVersionTranslation(reread), (VersionTranslation{0x0407, 1252}))
                << at << " " << hostile;
        }
    }
}

}  // namespace
}  // namespace kestrel
