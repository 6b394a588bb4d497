#include "core/images/dib.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/platform/byte_reader.h"

namespace kestrel {
namespace {

struct DibPlan {
    std::uint32_t headerSize = 40;
    std::int32_t width = 4;
    std::int32_t height = 2;
    std::uint16_t bitCount = 8;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::uint32_t colorsUsed = 0;
    std::size_t tableBytes = 256 * 4;  // bytes after the header: masks and palette
    std::size_t pixelBytes = 8;
};

std::vector<std::byte> makeDib(const DibPlan& plan) {
    ByteWriter writer;
    writer.u32(plan.headerSize);
    if (plan.headerSize == 12) {
        writer.u16(static_cast<std::uint32_t>(plan.width));
        writer.u16(static_cast<std::uint32_t>(plan.height));
        writer.u16(1);
        writer.u16(plan.bitCount);
    } else {
        writer.u32(static_cast<std::uint32_t>(plan.width));
        writer.u32(static_cast<std::uint32_t>(plan.height));
        writer.u16(1);
        writer.u16(plan.bitCount);
        writer.u32(plan.compression);
        writer.u32(plan.sizeImage);
        writer.zeros(8);
        writer.u32(plan.colorsUsed);
        writer.u32(0);
        if (plan.headerSize > 40) writer.zeros(plan.headerSize - 40);
    }
    writer.zeros(plan.tableBytes + plan.pixelBytes);
    return writer.bytes();
}

DibPlan with(std::function<void(DibPlan&)> change) {
    DibPlan plan;
    change(plan);
    return plan;
}

struct ValidCase {
    const char* name;
    DibPlan plan;
    std::size_t pixelOffset;
    std::size_t imageBytes;
};

class ValidDib : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidDib, LocatesThePixels) {
    const auto dib = makeDib(GetParam().plan);
    DibInfo info;
    ASSERT_EQ(validateDib(asBytes(dib), info), kOk);
    EXPECT_EQ(info.pixelOffset, GetParam().pixelOffset);
    EXPECT_EQ(info.imageBytes, GetParam().imageBytes);
    // One byte less and the same DIB no longer fits.
    const std::vector<std::byte> shorter(dib.begin(), dib.end() - 1);
    EXPECT_EQ(validateDib(asBytes(shorter), info), kInvalidArg);
    EXPECT_EQ(info.width, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ValidDib,
    ::testing::Values(
        ValidCase{"Palette8", DibPlan{}, 40 + 1024, 8},
        ValidCase{"Core4", with([](DibPlan& s) { s.headerSize = 12, s.bitCount = 4, s.tableBytes = 48; }),
                  12 + 48, 8},
        ValidCase{"TopDown24", with([](DibPlan& s) {
                      s.bitCount = 24, s.height = -2, s.tableBytes = 0, s.pixelBytes = 24;
                  }),
                  40, 24},
        ValidCase{"Bitfields32After40", with([](DibPlan& s) {
                      s.bitCount = 32, s.compression = 3, s.tableBytes = 12, s.pixelBytes = 32;
                  }),
                  52, 32},
        ValidCase{"V5Bitfields", with([](DibPlan& s) {
                      s.headerSize = 124, s.bitCount = 32, s.compression = 3, s.tableBytes = 0;
                      s.pixelBytes = 32;
                  }),
                  124, 32},
        ValidCase{"Rle8", with([](DibPlan& s) { s.compression = 1, s.sizeImage = 5, s.pixelBytes = 5; }),
                  40 + 1024, 5}),
    [](const auto& info) { return std::string(info.param.name); });

class HostileDib : public ::testing::TestWithParam<std::pair<const char*, DibPlan>> {};

TEST_P(HostileDib, IsRefused) {
    const auto dib = makeDib(GetParam().second);
    DibInfo info;
    EXPECT_EQ(validateDib(asBytes(dib), info), kInvalidArg);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HostileDib,
    ::testing::Values(std::pair{"HeaderSize16", with([](DibPlan& s) { s.headerSize = 16; })},
                      std::pair{"ZeroWidth", with([](DibPlan& s) { s.width = 0; })},
                      std::pair{"ZeroHeight", with([](DibPlan& s) { s.height = 0; })},
                      std::pair{"MinimumHeight", with([](DibPlan& s) { s.height = INT32_MIN; })},
                      std::pair{"HugeHeight",
                                with([](DibPlan& s) { s.height = 0x7FFFFFFF, s.width = 0x7FFFFFFF; })},
                      std::pair{"BitCount2", with([](DibPlan& s) { s.bitCount = 2; })},
                      std::pair{"PaletteBeyondBuffer", with([](DibPlan& s) { s.colorsUsed = 0xFFFFFFFF; })},
                      std::pair{"RleSizeBeyondBuffer",
                                with([](DibPlan& s) { s.compression = 1, s.sizeImage = 0xFFFFFFF0; })},
                      std::pair{"UnknownCompression", with([](DibPlan& s) { s.compression = 9; })},
                      std::pair{"BitfieldsWithoutMasks", with([](DibPlan& s) {
                                    s.bitCount = 32, s.compression = 3, s.tableBytes = 0, s.pixelBytes = 32;
                                })},
                      std::pair{"BitfieldsIn44ByteHeader", with([](DibPlan& s) {
                                    s.headerSize = 44, s.bitCount = 32, s.compression = 3, s.pixelBytes = 64;
                                })}),
    [](const auto& info) { return std::string(info.param.first); });

TEST(ValidateDib, IconImagesCountTheMaskRows) {
    // 32 × 32 at 4 bits: height 64 in the header, 16 palette entries, 512 colour bytes, 128 mask bytes.
    const DibPlan icon{.width = 32, .height = 64, .bitCount = 4, .tableBytes = 64, .pixelBytes = 512 + 128};
    const auto dib = makeDib(icon);
    DibInfo info;
    ASSERT_EQ(validateDib(asBytes(dib), info, DibLayout::kIconImage), kOk);
    EXPECT_EQ(info.height, 32);
    EXPECT_EQ(info.imageBytes, 512u);
    EXPECT_EQ(info.maskBytes, 128u);
    const std::vector<std::byte> noMask(dib.begin(), dib.end() - 1);
    EXPECT_EQ(validateDib(asBytes(noMask), info, DibLayout::kIconImage), kInvalidArg);
    // The same bytes as a plain bitmap claim 64 colour rows, which do not fit.
    EXPECT_EQ(validateDib(asBytes(dib), info), kInvalidArg);
}

}  // namespace
}  // namespace kestrel
