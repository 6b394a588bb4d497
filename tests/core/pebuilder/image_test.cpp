// The builder's images as an independent reader (python3-pefile) sees them.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/platform/byte_reader.h"
#include "pe_builder/oracle.h"
#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel::pebuilder {
namespace {

using kestrel::testing::TempDir;

const std::filesystem::path kOracle = std::filesystem::path(KESTREL_SOURCE_DIR) / "tools" / "pe_resources.py";

// Each test that reads through the oracle starts with this.
#define SKIP_WITHOUT_ORACLE() \
    if (!oracleRuns()) GTEST_SKIP() << "the Python reference reader does not run on this system"

OracleListing oracleOf(const ByteVector& image) {
    TempDir dir;
    std::string error;
    auto listing = readWithOracle(kOracle, dir.write("image.dll", image), &error);
    EXPECT_TRUE(listing.has_value()) << error;
    return listing.value_or(OracleListing{});
}

std::vector<std::string> sectionNames(const OracleListing& listing) {
    std::vector<std::string> names;
    for (const auto& section : listing.sections)
        names.push_back(section.name);
    return names;
}

// Every resource the caller asked for is listed exactly once, with its bytes and code page.
void expectSameResources(const std::vector<Resource>& expected, const OracleListing& listing) {
    ASSERT_EQ(listing.resources.size(), expected.size());
    for (const Resource& resource : expected) {
        std::string type = oracleKey(resource.type), name = oracleKey(resource.name);
        auto matches =
            std::count_if(listing.resources.begin(), listing.resources.end(), [&](const auto& found) {
                return found.type == type && found.name == name && found.language == resource.language;
            });
        ASSERT_EQ(matches, 1) << type << " " << name << " " << resource.language;
        auto found = std::find_if(listing.resources.begin(), listing.resources.end(), [&](const auto& found) {
            return found.type == type && found.name == name && found.language == resource.language;
        });
        EXPECT_EQ(found->data, resource.data) << type << " " << name;
        EXPECT_EQ(found->codePage, resource.codePage) << type << " " << name;
    }
}

TEST(SampleImage, EveryResourceAndSectionReadsBackWithAValidChecksum) {
    SKIP_WITHOUT_ORACLE();
    const ImagePlan plan = sampleImagePlan();
    const BuiltImage image = buildImageWithLayout(plan);
    const OracleListing listing = oracleOf(image.bytes);

    expectSameResources(plan.resources, listing);
    EXPECT_EQ(sectionNames(listing), (std::vector<std::string>{".text", ".data", ".rsrc", ".reloc"}));
    EXPECT_TRUE(listing.checksumValid);
    EXPECT_EQ(listing.overlayOffset, -1);
    EXPECT_EQ(listing.header.at("magic"), 0x10Bu);
    EXPECT_EQ(listing.header.at("machine"), 0x14Cu);
    EXPECT_EQ(listing.header.at("size_of_optional_header"), 224u);
    EXPECT_EQ(listing.header.at("number_of_rva_and_sizes"), 16u);
    ASSERT_EQ(listing.directories.size(), 16u);
    EXPECT_EQ(listing.directories[2], std::make_pair(image.resourceRva, image.resourceSize));
    EXPECT_EQ(listing.directories[5].first, listing.sections[3].virtualAddress);
    EXPECT_TRUE(listing.warnings.empty()) << listing.warnings.front();
}

TEST(SampleImage, CoversTheDemonstrationCases) {
    const std::vector<Resource> resources = sampleResources();
    auto has = [&](const ResourceId& type, const ResourceId& name, std::uint16_t language) {
        return std::any_of(resources.begin(), resources.end(), [&](const Resource& r) {
            return r.type == type && r.name == name && r.language == language;
        });
    };
    for (std::uint16_t language : {kLangEnUs, kLangZhCn, kLangDeDe})
        EXPECT_TRUE(has(kRtBitmap, 101, language));
    EXPECT_TRUE(has(u"AVI", 150, kLangEnUs));
    EXPECT_TRUE(has(u"UIFILE", 1000, kLangEnUs));
    EXPECT_TRUE(has(u"MY_DATA", u"中文名", kLangZhCn));
    EXPECT_TRUE(has(kRtString, 1, kLangEnUs));
    EXPECT_TRUE(has(kRtString, 1, kLangZhCn));
    for (std::uint16_t type :
         {kRtGroupIcon, kRtGroupCursor, kRtVersion, kRtDialog, kRtMenu, kRtHtml, kRtManifest})
        EXPECT_TRUE(std::any_of(resources.begin(), resources.end(), [&](const Resource& r) {
            return r.type == type;
        })) << type;
}

TEST(ResourceOrder, NamesFirstCaseInsensitivelyThenIdsAscending) {
    SKIP_WITHOUT_ORACLE();
    std::vector<Resource> resources;
    for (const ResourceId& name :
         std::vector<ResourceId>{7, u"b_x", 2, u"A", u"éa", u"B", u"Éb", u"a_", 40000})
        resources.push_back({u"DATA", name, kLangEnUs, bytesOf("x")});
    resources.push_back({kRtRcData, 1, kLangZhCn, bytesOf("z")});
    resources.push_back({kRtRcData, 1, kLangEnUs, bytesOf("e")});
    resources.push_back({kRtRcData, 1, 0, bytesOf("n")});

    ImagePlan plan;
    plan.resources = resources;
    std::vector<std::string> order;
    for (const auto& found : oracleOf(buildImage(plan)).resources)
        order.push_back(found.name + "/" + std::to_string(found.language));
    // "A" < "a_" (prefix), "B" and "b_x" fold together, "éa" < "Éb" by their folded letters.
    EXPECT_EQ(order, (std::vector<std::string>{"n:A/1033", "n:a_/1033", "n:B/1033", "n:b_x/1033",
                                               "n:\\u00E9a/1033", "n:\\u00C9b/1033", "i:2/1033", "i:7/1033",
                                               "i:40000/1033", "i:1/0", "i:1/1033", "i:1/2052"}));

    plan.resourceOptions.keepCallerOrder = true;
    order.clear();
    for (const auto& found : oracleOf(buildImage(plan)).resources)
        order.push_back(found.type + "/" + found.name);
    ASSERT_EQ(order.size(), 12u);
    EXPECT_EQ(order.front(), "n:DATA/i:7");
    EXPECT_EQ(order[1], "n:DATA/n:b_x");
    EXPECT_EQ(order.back(), "i:10/i:1");
}

// Layout options, each checked through the independent reader.
struct LayoutCase {
    const char* label;
    void (*configure)(ImagePlan&);
    std::vector<std::string> sections;
    std::uint64_t overlaySize;
};

class ImageLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ImageLayout, ListsTheSectionsAndOverlayItWasAskedFor) {
    SKIP_WITHOUT_ORACLE();
    ImagePlan plan;
    plan.resources.push_back({kRtRcData, 1, kLangEnUs, bytesOf("payload")});
    GetParam().configure(plan);
    const BuiltImage image = buildImageWithLayout(plan);
    const OracleListing listing = oracleOf(image.bytes);

    EXPECT_EQ(sectionNames(listing), GetParam().sections);
    EXPECT_EQ(listing.overlaySize, GetParam().overlaySize);
    if (GetParam().overlaySize > 0) {
        EXPECT_EQ(listing.overlayOffset + static_cast<std::int64_t>(listing.overlaySize),
                  static_cast<std::int64_t>(image.bytes.size()));
    }
    EXPECT_EQ(listing.checksumValid, plan.writeChecksum);
    EXPECT_EQ(listing.header.at("checksum") == 0, !plan.writeChecksum);
    expectSameResources(plan.resources, listing);
    // Raw data lies in file order, each section on the file alignment, none overlapping.
    std::uint32_t end = static_cast<std::uint32_t>(listing.header.at("size_of_headers"));
    for (const auto& section : listing.sections) {
        if (section.rawSize == 0) continue;
        EXPECT_EQ(section.rawOffset % plan.fileAlignment, 0u) << section.name;
        EXPECT_GE(section.rawOffset, end) << section.name;
        end = section.rawOffset + section.rawSize;
    }
    EXPECT_EQ(listing.header.at("size_of_image") % plan.sectionAlignment, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ImageLayout,
    ::testing::Values(
        LayoutCase{"Default", [](ImagePlan&) {}, {".text", ".rsrc", ".reloc"}, 0},
        LayoutCase{"Overlay",
                   [](ImagePlan& s) { s.overlay = bytesOf("OVERLAY-DATA-123"); },
                   {".text", ".rsrc", ".reloc"},
                   16},
        LayoutCase{"SymbolTable",
                   [](ImagePlan& s) { s.symbolCount = 5; },
                   {".text", ".rsrc", ".reloc"},
                   // 5 symbols of 18 bytes, the 4-byte size and one long name (symbol 2) with its terminator.
                   5 * 18 + 4 + sizeof("_kestrel_long_symbol_2")},
        LayoutCase{
            "SectionAfterResources",
            [](ImagePlan& s) {
                s.sectionsAfterResources.push_back({".tls", bytesOf("tls data"), 0, kSectionInitializedData});
            },
            {".text", ".rsrc", ".tls", ".reloc"},
            0},
        LayoutCase{"NoResourceSection",
                   [](ImagePlan& s) {
                       s.withResourceSection = false;
                       s.resources.clear();
                   },
                   {".text", ".reloc"},
                   0},
        LayoutCase{"NoRelocations", [](ImagePlan& s) { s.withRelocations = false; }, {".text", ".rsrc"}, 0},
        LayoutCase{"SectionWithoutRawData",
                   [](ImagePlan& s) {
                       SectionPlan bss{".bss", {}, 0x2345, kSectionUninitializedData, true};
                       s.sectionsBeforeResources.push_back(bss);
                   },
                   {".text", ".bss", ".rsrc", ".reloc"},
                   0},
        LayoutCase{
            "OddSectionNames",
            [](ImagePlan& s) {
                s.sectionsBeforeResources.push_back({"EIGHTCHR", bytesOf("8"), 0, kSectionInitializedData});
                s.sectionsBeforeResources.push_back({".text", bytesOf("again"), 0, kSectionCode});
                s.sectionsBeforeResources.push_back({"", bytesOf("empty"), 0, kSectionInitializedData});
            },
            {".text", "EIGHTCHR", ".text", "", ".rsrc", ".reloc"},
            0},
        LayoutCase{"NoChecksumOtherAlignment",
                   [](ImagePlan& s) {
                       s.writeChecksum = false;
                       s.fileAlignment = 0x1000;
                       s.sectionAlignment = 0x2000;
                   },
                   {".text", ".rsrc", ".reloc"},
                   0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ImageLayout, CertificateDirectoryCoversTheOverlay) {
    SKIP_WITHOUT_ORACLE();
    ImagePlan plan;
    plan.symbolCount = 1;  // 18 + 4 bytes: the overlay has to move to an 8-byte boundary
    plan.overlay = bytesOf("certificate bytes");
    plan.certificateInOverlay = true;
    const BuiltImage image = buildImageWithLayout(plan);
    const OracleListing listing = oracleOf(image.bytes);
    ASSERT_EQ(listing.directories.size(), 16u);
    EXPECT_EQ(listing.directories[4].first % 8, 0u);
    EXPECT_EQ(listing.directories[4].first, image.overlayOffset);
    EXPECT_EQ(listing.directories[4].first + listing.directories[4].second, image.bytes.size());
    EXPECT_TRUE(listing.checksumValid);
}

TEST(ImageLayout, SymbolTableHeaderFieldsPointAtTheSymbols) {
    SKIP_WITHOUT_ORACLE();
    ImagePlan plan;
    plan.symbolCount = 4;
    const BuiltImage image = buildImageWithLayout(plan);
    const OracleListing listing = oracleOf(image.bytes);
    EXPECT_EQ(listing.header.at("number_of_symbols"), 4u);
    EXPECT_EQ(listing.header.at("pointer_to_symbol_table"), image.symbolTableOffset);
    ASSERT_FALSE(listing.sections.empty());
    const auto& last = listing.sections.back();
    EXPECT_EQ(image.symbolTableOffset, last.rawOffset + last.rawSize);
    // The long name of symbol 2 is at offset 4 of the string table.
    ByteReader file{asBytes(image.bytes)};
    EXPECT_EQ(file.u32(image.symbolTableOffset + 2 * 18), 0u);
    EXPECT_EQ(file.u32(image.symbolTableOffset + 2 * 18 + 4), 4u);
}

// Header damage: what the reader sees must be what the knob promises.
TEST(ImageFaults, LfanewPastEndIsRefused) {
    SKIP_WITHOUT_ORACLE();
    ImagePlan plan;
    plan.fault = ImageFault::kLfanewPastEnd;
    TempDir dir;
    std::string error;
    EXPECT_FALSE(readWithOracle(kOracle, dir.write("bad.dll", buildImage(plan)), &error).has_value());
    EXPECT_FALSE(error.empty());
}

TEST(ImageFaults, HeaderFieldsCarryTheDamage) {
    SKIP_WITHOUT_ORACLE();
    ImagePlan plan;
    plan.resources.push_back({kRtRcData, 1, kLangEnUs, bytesOf("payload")});

    plan.fault = ImageFault::kRomMagic;
    ByteVector image = buildImage(plan);
    ByteReader reader{asBytes(image)};
    EXPECT_EQ(reader.u16(0x80 + 24), 0x107u);

    plan.fault = ImageFault::kSizeOfHeadersTooSmall;
    OracleListing listing = oracleOf(buildImage(plan));
    EXPECT_LT(listing.header.at("size_of_headers"), 0x80u + 24 + 224 + 3 * 40);
    EXPECT_TRUE(listing.checksumValid);

    plan.fault = ImageFault::kRawDataPastEnd;
    listing = oracleOf(buildImage(plan));
    ASSERT_EQ(listing.sections.size(), 3u);
    EXPECT_GE(listing.sections[1].rawOffset, listing.fileSize);
}

// Damaged trees inside a whole image, as the independent reader sees them: it must report the
// damage per resource instead of giving up, since compile round-trip tests rely on its listing.
TEST(TreeFaults, OracleReportsDamagePerResource) {
    SKIP_WITHOUT_ORACLE();
    ImagePlan plan;
    plan.resources = {{u"NAMED", 1, kLangEnUs, bytesOf("first")},
                      {kRtRcData, 2, kLangEnUs, bytesOf("second")}};

    plan.resourceOptions.fault = TreeFault::kDataOffsetPastSection;
    OracleListing listing = oracleOf(buildImage(plan));
    ASSERT_EQ(listing.resources.size(), 2u);
    EXPECT_FALSE(listing.resources[0].readable);
    EXPECT_EQ(listing.resources[1].data, bytesOf("second"));

    plan.resourceOptions.fault = TreeFault::kNamePastEnd;
    listing = oracleOf(buildImage(plan));
    ASSERT_EQ(listing.resources.size(), 2u);
    EXPECT_EQ(listing.resources[0].type.substr(0, 2), "x:");
    EXPECT_EQ(listing.resources[0].data, bytesOf("first"));

    plan.resourceOptions.fault = TreeFault::kEntryPointsAtRoot;
    listing = oracleOf(buildImage(plan));
    EXPECT_EQ(listing.resources.size(), 1u);  // the looping entry yields nothing
}

TEST(PeChecksum, IgnoresItsOwnFieldAndCountsAnOddTrailingByte) {
    ByteVector bytes = bytesOf("\x01\x02\x03\x04\xFF\xFF\xFF\xFF\x05");
    // Words 0x0201 + 0x0403 + (field skipped) + 0x0005, plus the length 9.
    EXPECT_EQ(peChecksum(asBytes(bytes), 4), 0x0201u + 0x0403u + 0x0005u + 9u);
    ByteVector carries(0x20000, std::byte{0xFF});
    // 0x10000 words of 0xFFFF fold to 0xFFFF; plus the length.
    EXPECT_EQ(peChecksum(asBytes(carries), 0x100), 0xFFFFu + 0x20000u);
}

}  // namespace
}  // namespace kestrel::pebuilder
