// String tables on import: STRINGS.XML lines, languages, escaping, long strings and bad blocks.
#include <gtest/gtest.h>

#include "import_test_support.h"

namespace kestrel::testing {
namespace {

pb::ByteVector rawBlock(std::initializer_list<std::uint16_t> words) {
    pb::ByteVector bytes;
    for (std::uint16_t word : words) {
        bytes.push_back(static_cast<std::byte>(word & 0xFF));
        bytes.push_back(static_cast<std::byte>(word >> 8));
    }
    return bytes;
}

pb::ByteVector image(std::vector<pb::Resource> resources) {
    pb::ImagePlan plan;
    plan.resources = std::move(resources);
    return pb::buildImage(plan);
}

struct StringLine {
    std::int64_t id;
    std::string language;  // empty when the line has no L
    std::string text;
};

// STRINGS.XML read back with the XML engine, entities decoded.
std::vector<StringLine> readStrings(const std::filesystem::path& folder) {
    XmlDocument document;
    std::vector<StringLine> lines;
    if (document.LoadFile(folder / "STRINGS.XML").failed()) return lines;
    XmlElement* root = document.documentNode()->next();
    for (XmlElement* e = root ? root->firstChild() : nullptr; e; e = e->next())
        lines.push_back({std::stoll(attributeOr(e, "ID", "0")), attributeOr(e, "L"), attributeOr(e, "S")});
    return lines;
}

TEST(StringsImport, SecondLanguageCarriesItsLanguage) {
    std::vector<pb::Resource> resources;
    pb::addStrings(resources, pb::kLangEnUs, {{5, u"five"}, {20, u"twenty"}});
    pb::addStrings(resources, pb::kLangZhCn, {{5, u"五"}});
    TempDir dir;
    ASSERT_EQ(dumpInto(image(resources), dir.path()), kOk) << reportText();
    EXPECT_EQ(readText(dir / "STRINGS.XML"),
              "<?xml version='1.0' encoding='ISO-8859-1'?><ROOT>\r\n"
              "  <E ID='5' S=\"five\"/>\r\n"
              "  <E ID='5' L='2052' S=\"五\"/>\r\n"
              "  <E ID='20' S=\"twenty\"/>\r\n"
              "</ROOT>");
    std::string peXml = readText(dir / "pe.xml");
    EXPECT_NE(peXml.find("<File Name='STRINGS.XML' Size='24'/>"), std::string::npos);
    EXPECT_NE(peXml.find("<File Name='STRINGS.XML' Size='32'/>"), std::string::npos);
}

TEST(StringsImport, FirstBlockLanguageIsTheDefault) {
    std::vector<pb::Resource> resources;
    pb::addStrings(resources, pb::kLangZhCn, {{1, u"一"}, {40, u"四十"}});
    pb::addStrings(resources, pb::kLangEnUs, {{40, u"forty"}});
    pb::ImagePlan plan;
    plan.resources = resources;
    plan.resourceOptions.keepCallerOrder = true;
    TempDir dir;
    ASSERT_EQ(dumpInto(pb::buildImage(plan), dir.path()), kOk) << reportText();
    std::vector<StringLine> lines = readStrings(dir.path());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].language, "");
    EXPECT_EQ(lines[1].language, "");
    EXPECT_EQ(lines[2].language, "1033");
}

TEST(StringsImport, TextsSurviveEscapingWhole) {
    std::u16string longCjk(1500, u'汉');
    std::u16string longest(65535, u'x');
    std::u16string awkward = u"a&b \"q\" 'a' <t> \t\r\n\x01 é";
    std::u16string surrogate = std::u16string(u"lone ") + char16_t(0xDC00) + u" end";
    std::vector<pb::Resource> resources;
    pb::addStrings(resources, pb::kLangEnUs, {{1, longCjk}, {2, awkward}, {3, surrogate}, {16, longest}});
    TempDir dir;
    ASSERT_EQ(dumpInto(image(resources), dir.path()), kOk) << reportText();
    std::vector<StringLine> lines = readStrings(dir.path());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(utf8ToUtf16(lines[0].text), longCjk);
    EXPECT_EQ(utf8ToUtf16(lines[1].text), awkward);
    EXPECT_EQ(utf8ToUtf16(lines[2].text), surrogate);
    EXPECT_EQ(lines[3].id, 16);
    EXPECT_EQ(utf8ToUtf16(lines[3].text).size(), 65535u);
}

struct BlockCase {
    const char* what;
    pb::ByteVector block;
    bool ok;
    std::vector<std::int64_t> ids;
};

class StringBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(StringBlocks, AreReadWithinTheirData) {
    TempDir dir;
    HResult hr = dumpInto(image({{pb::kRtString, 2, pb::kLangEnUs, GetParam().block}}), dir.path());
    if (!GetParam().ok) {
        EXPECT_EQ(hr, kFail);
        EXPECT_NE(reportText().find("未能写入 STRINGS.XML 错误"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
        return;
    }
    ASSERT_EQ(hr, kOk) << reportText();
    std::vector<std::int64_t> ids;
    for (const auto& line : readStrings(dir.path()))
        ids.push_back(line.id);
    EXPECT_EQ(ids, GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, StringBlocks,
    ::
        testing::Values(BlockCase{"OnlySlotFive",
                                  rawBlock({0, 0, 0, 0, 0, 1, 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                                  true,
                                  {21}},
                        BlockCase{"ShortBlock", rawBlock({1, 'a', 0, 1, 'c'}), true, {16, 18}},
                        BlockCase{"SeventeenthSlotIsPadding",
                                  rawBlock({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'p', 1, 'q'}),
                                  true,
                                  {31}},
                        BlockCase{
                            "OddTrailingByte",
                            [] {
                                pb::ByteVector bytes = rawBlock({1, 'a'});
                                bytes.push_back(std::byte{0});
                                return bytes;
                            }(),
                            true,
                            {16}},
                        BlockCase{"StringRunsPastData", rawBlock({3, 'a', 'b'}), false, {}},
                        BlockCase{"HugeLength", rawBlock({0, 0xFFFF, 'a'}), false, {}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(StringsImport, ImageWithoutStringsHasNoStringsFile) {
    TempDir dir;
    ASSERT_EQ(dumpInto(image({{pb::kRtRcData, 1, 1033, pb::bytesOf("x")}}), dir.path()), kOk);
    EXPECT_FALSE(std::filesystem::exists(dir / "STRINGS.XML"));
}

}  // namespace
}  // namespace kestrel::testing
