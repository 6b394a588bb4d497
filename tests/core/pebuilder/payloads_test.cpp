// Resource payloads and damaged resource trees, checked at byte level.
#include <gtest/gtest.h>

#include <set>

#include "core/platform/byte_reader.h"
#include "pe_builder/pe_builder.h"

namespace kestrel::pebuilder {
namespace {

struct DibCase {
    DibPlan plan;
    std::uint32_t headerSize, paletteEntries, maskBytes, rowStride;
};

class Dib : public ::testing::TestWithParam<DibCase> {};

TEST_P(Dib, SizesAndHeaderFieldsAgree) {
    const DibCase& c = GetParam();
    const ByteVector dib = makeDib(c.plan);
    ByteReader reader{asBytes(dib)};
    const std::uint32_t height = static_cast<std::uint32_t>(c.plan.height);
    EXPECT_EQ(reader.u32(0), c.headerSize);
    EXPECT_EQ(reader.i32(8), c.plan.topDown ? -c.plan.height : c.plan.height);
    EXPECT_EQ(reader.u16(14), c.plan.bitCount);
    EXPECT_EQ(reader.u32(16), c.maskBytes || (c.headerSize == 124 && c.plan.bitfields) ? 3u : 0u);
    EXPECT_EQ(reader.u32(20), c.rowStride * height);
    EXPECT_EQ(dib.size(), c.headerSize + c.maskBytes + 4 * c.paletteEntries + c.rowStride * height);

    const ByteVector bmp = bmpFileFromDib(dib);
    ByteReader file{asBytes(bmp)};
    EXPECT_EQ(file.u16(0), 0x4D42u);
    EXPECT_EQ(file.u32(2), bmp.size());
    EXPECT_EQ(file.u32(10), bmp.size() - c.rowStride * height);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, Dib,
    ::testing::Values(DibCase{{9, 5, 1}, 40, 2, 0, 4}, DibCase{{13, 7, 4}, 40, 16, 0, 8},
                      DibCase{{33, 3, 8}, 40, 256, 0, 36}, DibCase{{17, 9, 24}, 40, 0, 0, 52},
                      DibCase{{17, 9, 24, false, true}, 40, 0, 0, 52}, DibCase{{5, 4, 32}, 40, 0, 0, 20},
                      DibCase{{5, 4, 32, true}, 40, 0, 12, 20}, DibCase{{5, 4, 16, true}, 40, 0, 12, 12},
                      DibCase{{5, 4, 32, true, false, true}, 124, 0, 0, 20},
                      DibCase{{6, 2, 8, false, false, true}, 124, 256, 0, 8}));

TEST(IconPayloads, GroupEntriesDescribeTheirMembers) {
    std::vector<Resource> resources;
    addIconGroup(resources, 1, kLangEnUs, 10,
                 {makeIconImage(16, 4), makeIconImage(32, 32), makePngIconImage(256)});
    ASSERT_EQ(resources.size(), 4u);
    ByteReader group{asBytes(resources.back().data)};
    EXPECT_EQ(resources.back().type, ResourceId{kRtGroupIcon});
    EXPECT_EQ(group.u16(2), 1u);
    EXPECT_EQ(group.u16(4), 3u);
    const std::uint8_t widths[] = {16, 32, 0};  // 256 is written as 0
    for (std::uint32_t i = 0; i < 3; ++i) {
        const std::uint32_t entry = 6 + 14 * i;
        EXPECT_EQ(group.u8(entry), widths[i]);
        EXPECT_EQ(group.u8(entry + 1), widths[i]);
        EXPECT_EQ(group.u32(entry + 8), resources[i].data.size());
        EXPECT_EQ(group.u16(entry + 12), 10 + i);
        EXPECT_EQ(resources[i].name, ResourceId{static_cast<std::uint16_t>(10 + i)});
    }
    EXPECT_EQ(group.u8(6 + 2), 16u);  // 4-bit image: 16 colours

    // A DIB member: header height counts colour and mask rows; the size covers both.
    ByteReader dib{asBytes(resources[0].data)};
    EXPECT_EQ(dib.u32(8), 32u);
    EXPECT_EQ(resources[0].data.size(), 40u + 16 * 4 + 8 * 16 + 4 * 16);
    // The PNG member is a real PNG of 256 × 256.
    ByteReader png{asBytes(resources[2].data)};
    EXPECT_EQ(png.u32(0), 0x474E5089u);
    EXPECT_EQ(png.u8(18), 1u);  // big-endian width 0x100
    EXPECT_EQ(png.u8(22), 1u);
}

TEST(IconPayloads, CursorsCarryHotSpotAndDoubledGroupHeight) {
    std::vector<Resource> resources;
    addCursorGroup(resources, u"HAND", kLangEnUs, 3, {makeCursorImage(32, 1, 5, 7)});
    ASSERT_EQ(resources.size(), 2u);
    ByteReader cursor{asBytes(resources[0].data)};
    EXPECT_EQ(cursor.u16(0), 5u);
    EXPECT_EQ(cursor.u16(2), 7u);
    EXPECT_EQ(cursor.u32(4), 40u);
    ByteReader group{asBytes(resources[1].data)};
    EXPECT_EQ(group.u16(2), 2u);
    EXPECT_EQ(group.u16(6), 32u);
    EXPECT_EQ(group.u16(8), 64u);
    EXPECT_EQ(group.u16(12), 1u);
    EXPECT_EQ(group.u16(18), 3u);
}

TEST(StringPayloads, BlocksHoldSixteenSlotsAtIdOver16PlusOne) {
    std::vector<Resource> resources;
    addStrings(resources, kLangZhCn, {{0, u"zero"}, {15, u"中文"}, {16, u"next"}, {100, u""}});
    ASSERT_EQ(resources.size(), 3u);
    EXPECT_EQ(resources[0].name, ResourceId{1});
    EXPECT_EQ(resources[1].name, ResourceId{2});
    EXPECT_EQ(resources[2].name, ResourceId{7});
    // Block 1: "zero" (4), 14 empty slots, "中文" (2).
    ByteReader block{asBytes(resources[0].data)};
    EXPECT_EQ(resources[0].data.size(), 2u * 16 + 2 * 4 + 2 * 2);
    EXPECT_EQ(block.u16(0), 4u);
    EXPECT_EQ(block.u16(2 + 8 + 2 * 14), 2u);
    EXPECT_EQ(block.u16(2 + 8 + 2 * 14 + 2), 0x4E2Du);
    EXPECT_EQ(resources[2].data.size(), 32u);  // only empty slots
}

// Walks a VS_VERSIONINFO block the way a reader of the fixed layout does.
TEST(VersionPayload, FixedInfoAndStringsSitWhereReadersLook) {
    VersionPlan plan = defaultVersionPlan();
    plan.fileVersion[0] = 3;
    plan.fileVersion[3] = 7;
    const ByteVector block = makeVersionInfo(plan);
    ByteReader reader{asBytes(block)};
    EXPECT_EQ(reader.u16(0), block.size());
    EXPECT_EQ(reader.u16(2), 52u);
    EXPECT_EQ(reader.u32(40), 0xFEEF04BDu);
    EXPECT_EQ(reader.u32(48), (3u << 16) | 0);
    EXPECT_EQ(reader.u32(52), (2u << 16) | 7);
    // First child at 92: "StringFileInfo".
    auto key = [&](std::uint32_t offset, std::u16string_view expected) {
        for (std::size_t i = 0; i <= expected.size(); ++i)
            if (reader.u16(offset + 6 + 2 * i) != (i < expected.size() ? expected[i] : 0)) return false;
        return true;
    };
    EXPECT_TRUE(key(92, u"StringFileInfo"));
    const std::uint32_t table = 92 + 36;  // 6 + 15 units, rounded up to 4
    EXPECT_TRUE(key(table, u"040904b0"));
    std::uint32_t string = table + 24;
    std::set<std::u16string> keys;
    const std::uint32_t tableEnd = table + *reader.u16(table);
    while (string < tableEnd) {
        std::u16string name;
        for (std::uint32_t at = string + 6; reader.u16Or(at, 0) != 0; at += 2)
            name += static_cast<char16_t>(*reader.u16(at));
        keys.insert(name);
        string = (string + *reader.u16(string) + 3) / 4 * 4;
    }
    EXPECT_EQ(string, tableEnd);
    EXPECT_TRUE(keys.count(u"CompanyName") && keys.count(u"FileVersion") && keys.count(u"ProductName"));
    const std::uint32_t var = (92 + *reader.u16(92) + 3) / 4 * 4;
    EXPECT_TRUE(key(var, u"VarFileInfo"));
    EXPECT_EQ(var + *reader.u16(var), block.size());
}

TEST(TemplatePayloads, DialogAndMenuHeaders) {
    const ByteVector dialog = makeDialog(u"Title");
    ByteReader plain{asBytes(dialog)};
    EXPECT_EQ(plain.u32(0), 0x80C800C0u);
    EXPECT_EQ(plain.u16(8), 3u);
    const ByteVector extended = makeDialogEx(u"标题");
    ByteReader ex{asBytes(extended)};
    EXPECT_EQ(ex.u16(0), 1u);
    EXPECT_EQ(ex.u16(2), 0xFFFFu);
    EXPECT_EQ(ex.u16(16), 3u);
    EXPECT_EQ(ex.u16(30), 0x6807u);  // caption after menu and class
    const ByteVector menu = makeMenu();
    ByteReader m{asBytes(menu)};
    EXPECT_EQ(m.u32(0), 0u);
    EXPECT_EQ(m.u16(4), 0x10u);  // first item is a popup
}

// Reads a directory entry of a built section: (name field, offset field).
std::pair<std::uint32_t, std::uint32_t> entryAt(const ByteVector& section, std::uint32_t directory,
                                                std::uint32_t index) {
    ByteReader reader{asBytes(section)};
    return {*reader.u32(directory + 16 + 8 * index), *reader.u32(directory + 16 + 8 * index + 4)};
}

TEST(TreeFaults, EachKnobDamagesWhatItNames) {
    std::vector<Resource> resources{{u"NAMED", u"ENTRY", kLangEnUs, bytesOf("abcd")},
                                    {kRtRcData, 1, kLangEnUs, bytesOf("efgh")}};
    constexpr std::uint32_t kRva = 0x3000;
    const ByteVector intact = buildResourceSection(resources, kRva);
    const std::uint32_t size = static_cast<std::uint32_t>(intact.size());
    // Layout: root (2 entries), type directories at 32 and 56, name directories at 80 and 104.
    const std::uint32_t namesOfFirstType = entryAt(intact, 0, 0).second & 0x7FFFFFFF;
    const std::uint32_t languagesOfFirstName = entryAt(intact, namesOfFirstType, 0).second & 0x7FFFFFFF;
    const std::uint32_t firstDataEntry = entryAt(intact, languagesOfFirstName, 0).second;
    ByteReader clean{asBytes(intact)};
    ASSERT_EQ(clean.u32(firstDataEntry), kRva + size - 4 - 4 - 4);  // "abcd" then 4 padding, "efgh"

    auto damaged = [&](TreeFault fault) {
        ResourceSectionOptions options;
        options.fault = fault;
        return buildResourceSection(resources, kRva, options);
    };
    EXPECT_EQ(entryAt(damaged(TreeFault::kEntryPointsAtItsOwnDirectory), namesOfFirstType, 0).second,
              0x80000000u | namesOfFirstType);
    EXPECT_EQ(entryAt(damaged(TreeFault::kEntryPointsAtRoot), languagesOfFirstName, 0).second, 0x80000000u);

    const ByteVector offsetPastBytes = damaged(TreeFault::kDataOffsetPastSection);
    ByteReader offsetPast{asBytes(offsetPastBytes)};
    EXPECT_GE(*offsetPast.u32(firstDataEntry), kRva + size);
    const ByteVector sizePastBytes = damaged(TreeFault::kDataSizePastSection);
    ByteReader sizePast{asBytes(sizePastBytes)};
    EXPECT_GT(*sizePast.u32(firstDataEntry) + *sizePast.u32(firstDataEntry + 4), kRva + size);

    const auto namePast = entryAt(damaged(TreeFault::kNamePastEnd), 0, 0).first;
    EXPECT_TRUE(namePast & 0x80000000u);
    EXPECT_GE(namePast & 0x7FFFFFFF, size);

    const ByteVector countedBytes = damaged(TreeFault::kCountLargerThanData);
    ByteReader counted{asBytes(countedBytes)};
    EXPECT_GT(std::uint64_t{16} + 8ull * (*counted.u16(12) + *counted.u16(14)), size);

    // Every knob leaves the rest of the section as it was.
    for (TreeFault fault : {TreeFault::kEntryPointsAtItsOwnDirectory, TreeFault::kEntryPointsAtRoot,
                            TreeFault::kDataOffsetPastSection, TreeFault::kDataSizePastSection,
                            TreeFault::kNamePastEnd, TreeFault::kCountLargerThanData}) {
        const ByteVector bytes = damaged(fault);
        ASSERT_EQ(bytes.size(), intact.size());
        std::size_t differing = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            differing += bytes[i] != intact[i];
        EXPECT_GE(differing, 1u);
        EXPECT_LE(differing, 4u);
    }
}

}  // namespace
}  // namespace kestrel::pebuilder
