#include "core/images/dib.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/platform/byte_reader.h"
#include "image_builders.h"

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

// ----- Decoding -----

using testing::BmpPlan;
using Pixels = std::vector<std::uint32_t>;

// The packed DIB of a BMP file made by the test builder.
std::vector<std::byte> dibOf(const BmpPlan& plan) {
    const auto file = testing::makeBmp(plan);
    return {file.begin() + 14, file.end()};
}

std::vector<std::uint8_t> le32(std::initializer_list<std::uint32_t> values) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t value : values)
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<std::uint8_t>(value >> shift));
    return out;
}

// Colour i of the test palettes: red 0x10·i, blue i (stored blue, green, red, reserved).
std::uint32_t paletteColour(std::uint32_t i) {
    return 0xFF000000u | (0x10 * i) << 16 | i;
}
std::vector<std::uint8_t> palette(std::uint32_t count, std::uint32_t entrySize = 4) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t i = 0; i < count; ++i) {
        out.insert(out.end(), {static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(0x10 * i)});
        if (entrySize == 4) out.push_back(0);
    }
    return out;
}

struct DecodeCase {
    const char* name;
    BmpPlan plan;
    Pixels expected;  // top row first
    DibLayout layout = DibLayout::kBitmap;
};

class DecodeDibFormats : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeDibFormats, GivesTopDownArgbRows) {
    const DecodeCase& param = GetParam();
    RgbaImage image;
    ASSERT_EQ(DecodeDib(asBytes(dibOf(param.plan)), image, param.layout), kOk);
    const std::int32_t height = param.plan.height < 0 ? -param.plan.height : param.plan.height;
    EXPECT_EQ(image.width, param.plan.width);
    EXPECT_EQ(image.height, param.layout == DibLayout::kIconImage ? height / 2 : height);
    EXPECT_EQ(image.pixels, param.expected);
}

const std::uint32_t kP0 = paletteColour(0), kP1 = paletteColour(1), kP2 = paletteColour(2),
                    kP3 = paletteColour(3), kP4 = paletteColour(4), kP5 = paletteColour(5),
                    kP7 = paletteColour(7);

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodeDibFormats,
    ::testing::Values(
        // Rows 101 over 011, stored bottom-up.
        DecodeCase{"OneBit",
                   {.width = 3,
                    .height = 2,
                    .bitDepth = 1,
                    .palette = palette(2),
                    .pixels = {0x60, 0, 0, 0, 0xA0, 0, 0, 0}},
                   {kP1, kP0, kP1, kP0, kP1, kP1}},
        DecodeCase{"FourBitCoreHeader",
                   {.headerSize = 12,
                    .width = 3,
                    .height = 1,
                    .bitDepth = 4,
                    .palette = palette(16, 3),
                    .pixels = {0x12, 0x50, 0, 0}},
                   {kP1, kP2, kP5}},
        DecodeCase{"EightBitTopDown",
                   {.width = 2,
                    .height = -2,
                    .bitDepth = 8,
                    .colorsUsed = 8,
                    .palette = palette(8),
                    .pixels = {1, 2, 0, 0, 3, 4, 0, 0}},
                   {kP1, kP2, kP3, kP4}},
        // 5-5-5: full red, full blue, 16 of 31 in every channel.
        DecodeCase{
            "SixteenBit555",
            {.width = 3, .height = 1, .bitDepth = 16, .pixels = {0x00, 0x7C, 0x1F, 0x00, 0x10, 0x42, 0, 0}},
            {0xFFFF0000u, 0xFF0000FFu, 0xFF848484u}},
        DecodeCase{"SixteenBit565Fields",
                   {.width = 2,
                    .height = 1,
                    .bitDepth = 16,
                    .compression = kBiBitfields,
                    .palette = le32({0xF800, 0x07E0, 0x001F}),
                    .pixels = {0x00, 0xF8, 0xE0, 0x07}},
                   {0xFFFF0000u, 0xFF00FF00u}},
        DecodeCase{"TwentyFourBottomUp",
                   {.width = 1, .height = 2, .bitDepth = 24, .pixels = {6, 5, 4, 0, 3, 2, 1, 0}},
                   {0xFF010203u, 0xFF040506u}},
        DecodeCase{"ThirtyTwoKeepsItsAlpha",
                   {.width = 2, .height = 1, .bitDepth = 32, .pixels = {1, 2, 3, 0x80, 4, 5, 6, 0}},
                   {0x80030201u, 0x00060504u}},
        // Red in the low byte: the masks decide, and without an alpha mask the pixel is opaque.
        DecodeCase{"ThirtyTwoFieldsWithoutAlphaMask",
                   {.width = 1,
                    .height = 1,
                    .bitDepth = 32,
                    .compression = kBiBitfields,
                    .palette = le32({0x000000FF, 0x0000FF00, 0x00FF0000}),
                    .pixels = {0x11, 0x22, 0x33, 0x44}},
                   {0xFF112233u}},
        DecodeCase{"ThirtyTwoAlphaFields",
                   {.width = 1,
                    .height = 1,
                    .bitDepth = 32,
                    .compression = kBiAlphaBitfields,
                    .palette = le32({0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}),
                    .pixels = {1, 2, 3, 0x40}},
                   {0x40030201u}},
        // Bottom row: a run of three 5s. Middle: literal 1, 2, 3 (padded). Top: delta two right, a
        // run of one 7, end of bitmap. Skipped pixels are transparent.
        DecodeCase{"Rle8",
                   {.width = 4,
                    .height = 3,
                    .bitDepth = 8,
                    .compression = kBiRle8,
                    .colorsUsed = 8,
                    .palette = palette(8),
                    .pixels = {3, 5, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 0, 1, 7, 0, 1}},
                   {0, 0, kP7, 0, kP1, kP2, kP3, 0, kP5, kP5, kP5, 0}},
        // Bottom row: a run of five alternating 1, 2. Top: three literal nibbles 3, 4, 5.
        DecodeCase{"Rle4",
                   {.width = 5,
                    .height = 2,
                    .bitDepth = 4,
                    .compression = kBiRle4,
                    .palette = palette(16),
                    .pixels = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1}},
                   {kP3, kP4, kP5, 0, 0, kP1, kP2, kP1, kP2, kP1}},
        // Icon images: set bits of the AND mask (after the colour rows) make pixels transparent
        // below 32 bits; a 32-bit image keeps its own alpha.
        DecodeCase{"IconFourBitMask",
                   {.width = 2,
                    .height = 4,
                    .bitDepth = 4,
                    .palette = palette(16),
                    .pixels = {0x12, 0, 0, 0, 0x34, 0, 0, 0, 0x80, 0, 0, 0, 0x40, 0, 0, 0}},
                   {kP3, kP4 & 0x00FFFFFFu, kP1 & 0x00FFFFFFu, kP2},
                   DibLayout::kIconImage},
        DecodeCase{"IconThirtyTwoIgnoresTheMask",
                   {.width = 1, .height = 2, .bitDepth = 32, .pixels = {1, 2, 3, 0x7F, 0x80, 0, 0, 0}},
                   {0x7F030201u},
                   DibLayout::kIconImage}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeDib, V5HeaderTakesTheAlphaMaskFromTheHeader) {
    auto dib = dibOf({.headerSize = 124,
                      .width = 1,
                      .height = 1,
                      .bitDepth = 32,
                      .compression = kBiBitfields,
                      .pixels = {1, 2, 3, 0x40}});
    const auto masks = le32({0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000});
    for (std::size_t i = 0; i < masks.size(); ++i)
        dib[40 + i] = std::byte{masks[i]};
    RgbaImage image;
    ASSERT_EQ(DecodeDib(asBytes(dib), image), kOk);
    EXPECT_EQ(image.pixels, Pixels{0x40030201u});
}

// What the data says beyond what it holds: decoding stays inside the buffer and the picture.
TEST(DecodeDib, HostileDataStaysInsideThePicture) {
    const BmpPlan rle{.width = 4,
                      .height = 2,
                      .bitDepth = 8,
                      .compression = kBiRle8,
                      .colorsUsed = 4,
                      .palette = palette(4)};
    RgbaImage image;
    // A run of two, then a literal run claiming four bytes where two remain: what came before stays.
    BmpPlan cut = rle;
    cut.pixels = {2, 3, 0, 4, 1, 2};
    ASSERT_EQ(DecodeDib(asBytes(dibOf(cut)), image), kOk);
    EXPECT_EQ(image.pixels, (Pixels{0, 0, 0, 0, kP3, kP3, 0, 0}));
    // A run far wider than the row, deltas beyond the picture, no end of bitmap.
    BmpPlan wide = rle;
    wide.pixels = {255, 1, 0, 2, 255, 0, 0, 2, 0, 255, 2, 2};
    ASSERT_EQ(DecodeDib(asBytes(dibOf(wide)), image), kOk);
    EXPECT_EQ(image.pixels, (Pixels{0, 0, 0, 0, kP1, kP1, kP1, kP1}));
    // Indices beyond a colour table of two entries are black.
    const BmpPlan shortTable{.width = 3,
                             .height = 1,
                             .bitDepth = 8,
                             .colorsUsed = 2,
                             .palette = palette(2),
                             .pixels = {1, 2, 200, 0}};
    ASSERT_EQ(DecodeDib(asBytes(dibOf(shortTable)), image), kOk);
    EXPECT_EQ(image.pixels, (Pixels{kP1, 0xFF000000u, 0xFF000000u}));

    // A few bytes of RLE data cannot make a picture of 2^31 × 2^31 pixels.
    BmpPlan huge = rle;
    huge.width = huge.height = 0x7FFFFFFF;
    huge.pixels = {2, 1, 0, 1};
    EXPECT_EQ(DecodeDib(asBytes(dibOf(huge)), image), kOutOfMemory);
    EXPECT_TRUE(image.pixels.empty());
    // Truncated rows and JPEG data are refused, and leave nothing.
    image.width = 5;
    auto truncated =
        dibOf({.width = 4, .height = 4, .bitDepth = 24, .pixels = std::vector<std::uint8_t>(48)});
    truncated.pop_back();
    EXPECT_EQ(DecodeDib(asBytes(truncated), image), kInvalidArg);
    EXPECT_EQ(image.width, 0);
    const auto jpeg = dibOf(
        {.width = 4, .height = 4, .bitDepth = 0, .compression = kBiJpeg, .pixels = {0xFF, 0xD8, 0xFF, 0xE0}});
    EXPECT_EQ(DecodeDib(asBytes(jpeg), image), kInvalidArg);
}

}  // namespace
}  // namespace kestrel
