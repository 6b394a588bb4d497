// String tables compiled from STRINGS.XML: order and duplicate rules per language, the block layout,
// and the file as a user may have edited it.
#include <gtest/gtest.h>

#include "compile_compare.h"
#include "compile_test_support.h"
#include "core/pe/string_compile.h"

namespace kestrel::testing {
namespace {

constexpr std::string_view kDuplicateBox = "Kestrel: 这个资源包含双重字串资源 IDs 。一些字串将丢失。";

// --- Order and duplicate rules -----------------------------------------------------------------

struct Element {
    std::optional<std::int64_t> id;
    std::optional<std::int64_t> language;
    bool kept;
};

struct OrderCase {
    const char* name;
    std::vector<Element> elements;
};

class StringOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(StringOrder, DropsPerLanguageAndRemembersThatItDid) {
    StringTableBuilder table(1033);
    bool anyDropped = false;
    for (const Element& element : GetParam().elements) {
        EXPECT_EQ(table.add(element.id, element.language, u"text"), element.kept)
            << (element.id ? *element.id : -1) << "/" << (element.language ? *element.language : -1);
        anyDropped |= !element.kept;
    }
    EXPECT_EQ(table.droppedAny(), anyDropped);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StringOrder,
    ::testing::Values(
        OrderCase{"Ascending", {{1, {}, true}, {2, {}, true}, {40, {}, true}}},
        OrderCase{"RepeatedId", {{7, {}, true}, {7, {}, false}}},
        OrderCase{"LowerThanTheLastKept", {{7, {}, true}, {9, {}, true}, {7, {}, false}, {10, {}, true}}},
        OrderCase{"SameIdInTwoLanguages", {{7, {}, true}, {7, 1031, true}, {3, 1031, false}, {8, {}, true}}},
        OrderCase{"DefaultLanguageSpelledOut", {{3, {}, true}, {3, 1033, false}}},
        OrderCase{"InvalidLanguageMeansDefault", {{5, 70000, true}, {5, {}, false}, {6, -1, true}}},
        OrderCase{"UnusableIds", {{{}, {}, false}, {-1, {}, false}, {65536, {}, false}, {65535, {}, true}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Layout -------------------------------------------------------------------------------------

struct Laid {
    std::vector<std::byte> bytes;
    ByteReader reader() const { return ByteReader(Bytes(bytes.data(), bytes.size())); }
};

Laid layOut(const StringTableBuilder& table, std::uint32_t offset = 0x40, std::uint32_t rva = 0x3000) {
    ByteWriter out;
    out.zeros(offset);
    table.write(out, offset, rva);
    EXPECT_EQ(out.size() - offset, table.size());
    return {out.bytes()};
}

// (block, language) → the 16 strings, read back through the directories.
std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::u16string>> readBack(
    const Laid& laid, std::uint32_t offset = 0x40, std::uint32_t rva = 0x3000) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::u16string>> out;
    ByteReader r = laid.reader();
    std::uint32_t blocks = r.u16Or(offset + 14, 0);
    std::uint32_t previousLanguage = 0;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        std::uint32_t blockNumber = r.u32Or(offset + 16 + 8 * b, 0);
        std::uint32_t group = r.u32Or(offset + 20 + 8 * b, 0);
        EXPECT_TRUE(group & 0x80000000u);
        group &= 0x7FFFFFFF;
        std::uint32_t languages = r.u16Or(group + 14, 0);
        for (std::uint32_t l = 0; l < languages; ++l) {
            std::uint32_t language = r.u32Or(group + 16 + 8 * l, 0);
            if (l > 0) {
                EXPECT_GT(language, previousLanguage);
            }
            previousLanguage = language;
            std::uint32_t entry = r.u32Or(group + 20 + 8 * l, 0);
            std::uint32_t dataRva = r.u32Or(entry, 0), size = r.u32Or(entry + 4, 0);
            EXPECT_EQ(dataRva % 8, 0u);
            std::vector<std::byte> block(laid.bytes.begin() + (dataRva - rva),
                                         laid.bytes.begin() + (dataRva - rva + size));
            out[{blockNumber, language}] = blockStrings(block).value_or(std::vector<std::u16string>{});
        }
    }
    return out;
}

TEST(StringLayout, OneStringGivesAFullBlockOfEmptySlots) {
    StringTableBuilder table;
    table.add(5, std::nullopt, u"five");
    Laid laid = layOut(table);
    auto blocks = readBack(laid);
    ASSERT_EQ(blocks.size(), 1u);
    std::vector<std::u16string> expected(16);
    expected[5] = u"five";
    EXPECT_EQ((blocks[{1, 1033}]), expected);
    // One data entry: 16 length words and the four units.
    EXPECT_EQ(laid.reader().u32Or(0x40 + 16 + 8 + 16 + 8 + 4, 0), 2u * 16 + 2 * 4);
}

TEST(StringLayout, LanguagesOfABlockAreListedInAscendingOrder) {
    StringTableBuilder table(2052);
    table.add(1, std::nullopt, u"红隼");
    table.add(1, 1031, u"Falke");
    table.add(1, 1033, u"Kestrel");
    table.add(40, 1031, u"nur deutsch");
    auto blocks = readBack(layOut(table));
    EXPECT_EQ(blocks.size(), 4u);
    EXPECT_EQ((blocks[{1, 2052}][1]), u"红隼");
    EXPECT_EQ((blocks[{1, 1031}][1]), u"Falke");
    EXPECT_EQ((blocks[{1, 1033}][1]), u"Kestrel");
    EXPECT_EQ((blocks[{3, 1031}][8]), u"nur deutsch");
}

// --- STRINGS.XML in a working folder -------------------------------------------------------------

pb::ImagePlan stringPlan() {
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, 1, pb::kLangEnUs, pb::bytesOf("data")});
    // German first: it is the language the import writes without an L attribute.
    pb::addStrings(plan.resources, pb::kLangDeDe,
                   {{1, u"Falke"},
                    {2, u"A & B \"quoted\" <tag>"},
                    {3, u"Tab\there\r\nnew line"},
                    {20, std::u16string(1500, u'隼')}});
    pb::addStrings(plan.resources, pb::kLangZhCn, {{1, u"红隼"}, {2, u"第二"}, {33, u"只有中文"}});
    return plan;
}

class StringsXml : public ::testing::Test {
  protected:
    CompileSink sink;
    WorkingFolder work{pb::buildImage(stringPlan())};

    std::vector<std::byte> compileOk() {
        sink.messages.clear();
        HResult hr = work.compile();
        EXPECT_TRUE(hr.succeeded()) << errorText();
        return readBytes(work.output());
    }
};

TEST_F(StringsXml, EveryLanguageAndLongStringsSurvive) {
    ASSERT_NE(readText(work.folder / "STRINGS.XML").find("L='2052'"), std::string::npos);
    auto rebuilt = compileOk();
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(expectSameResources(work.image, rebuilt), 5u);  // data + 4 blocks
    auto block = blockStrings(resourceOf(rebuilt, "i:6/i:2/1031"));
    ASSERT_TRUE(block);
    EXPECT_EQ((*block)[4], std::u16string(1500, u'隼'));
}

TEST_F(StringsXml, MissingFileGivesAnEmptyTable) {
    std::filesystem::remove(work.folder / "STRINGS.XML");
    auto rebuilt = compileOk();
    for (const auto& [key, bytes] : resourcesOf(rebuilt))
        EXPECT_FALSE(isStringKey(key)) << key;
    EXPECT_EQ(resourceOf(rebuilt, "i:10/i:1/1033"), pb::bytesOf("data"));
}

TEST_F(StringsXml, UnparsableFileFailsTheCompile) {
    replaceInFile(work.folder / "STRINGS.XML", "S=\"Falke\"", "S=\"Fal\"ke\"");
    EXPECT_TRUE(work.compile().failed());
    EXPECT_NE(errorText().find("处理文件"), std::string::npos) << errorText();
    EXPECT_NE(errorText().find("STRINGS.XML"), std::string::npos) << errorText();
    EXPECT_FALSE(std::filesystem::exists(work.output()));
}

TEST_F(StringsXml, HandEditedElementsAreDroppedWithOneMessage) {
    std::string text = readText(work.folder / "STRINGS.XML");
    auto end = text.rfind("</ROOT>");
    text.insert(
        end,
        "  <E ID='70000' S=\"out of range\"/>\r\n  <E ID='1' S=\"repeated\"/>\r\n"
        "  <X ID='50' S=\"not an E\"/>\r\n  <E S=\"no ID\"/>\r\n  <E ID='100' S=\"&#x41;&amp;&quot;\"/>\r\n");
    overwrite(work.folder / "STRINGS.XML", text);
    auto rebuilt = compileOk();
    EXPECT_EQ(std::count(sink.messages.begin(), sink.messages.end(), std::string(kDuplicateBox)), 1);
    EXPECT_EQ(sink.messages.size(), 1u);
    auto first = blockStrings(resourceOf(rebuilt, "i:6/i:1/1031"));
    ASSERT_TRUE(first);
    EXPECT_EQ((*first)[1], u"Falke");
    // The last line is in the default language, after that language's ID 20.
    auto added = blockStrings(resourceOf(rebuilt, "i:6/i:7/1031"));
    ASSERT_TRUE(added);
    EXPECT_EQ((*added)[4], u"A&\"");
    EXPECT_TRUE(resourceOf(rebuilt, "i:6/i:4/1031").empty());  // ID 50 was not an E
}

}  // namespace
}  // namespace kestrel::testing

namespace kestrel::testing {
namespace {

// Blocks whose data goes on after the 16th string (a zero word, an odd byte): the import keeps
// those bytes in the description, an unchanged compile gives the block back byte for byte, and a
// block whose strings were edited keeps them too. A description without them still compiles.
TEST(StringBlockTail, BytesAfterTheLastStringSurviveImportEditAndCompile) {
    CompileSink sink;
    pb::ImagePlan plan;
    pb::ByteVector padded = pb::makeStringBlock({u"first", u"second"});
    padded.push_back(std::byte{0});
    padded.push_back(std::byte{0});
    pb::ByteVector odd = pb::makeStringBlock({u"", u"odd"});
    odd.push_back(std::byte{0x5A});
    plan.resources = {{pb::kRtString, 1, pb::kLangEnUs, padded}, {pb::kRtString, 2, pb::kLangEnUs, odd}};
    const pb::ByteVector image = pb::buildImage(plan);

    WorkingFolder work(image);
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    EXPECT_EQ(resourcesOf(readBytes(work.output())), resourcesOf(image));

    replaceInFile(work.folder / "STRINGS.XML", "S=\"second\"", "S=\"changed\"");
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    pb::ByteVector edited = pb::makeStringBlock({u"first", u"changed"});
    edited.push_back(std::byte{0});
    edited.push_back(std::byte{0});
    const auto rebuilt = readBytes(work.output());
    EXPECT_EQ(resourceOf(rebuilt, "i:6/i:1/1033"), edited);
    EXPECT_EQ(resourceOf(rebuilt, "i:6/i:2/1033"), odd);

    // A description written before tails were kept: the blocks end after their strings.
    replaceInFile(work.folder / "pe.xml", " Tail='0000'", "");
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    EXPECT_EQ(resourceOf(readBytes(work.output()), "i:6/i:1/1033"),
              pb::makeStringBlock({u"first", u"changed"}));
    replaceInFile(work.folder / "pe.xml", " Tail='5a'", " Tail='5g'");
    EXPECT_TRUE(work.compile().failed());
    EXPECT_NE(errorText().find("Tail"), std::string::npos) << errorText();
}

}  // namespace
}  // namespace kestrel::testing
