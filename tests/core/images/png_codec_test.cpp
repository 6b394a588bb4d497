#include "core/images/png_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/platform/byte_reader.h"
#include "image_builders.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::makePng;
using testing::PngPlan;
using testing::Row;

std::vector<Row> patternRows(std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
                             std::uint32_t salt) {
    std::vector<Row> rows;
    for (std::uint32_t y = 0; y < height; ++y) {
        Row row((width * bitsPerPixel + 7) / 8);
        for (std::uint32_t x = 0; x < row.size(); ++x)
            row[x] = testing::patternByte(x, y, salt);
        // Bits past the last pixel are not part of the image.
        if ((width * bitsPerPixel) % 8 != 0)
            row.back() &= static_cast<std::uint8_t>(0xFF00 >> ((width * bitsPerPixel) % 8));
        rows.push_back(row);
    }
    return rows;
}

ImageRecord decode(const testing::ByteVector& png) {
    ImageRecord record;
    EXPECT_EQ(PngConverter().ReadPng(asBytes(png), record), kOk);
    return record;
}

TEST(ReadPng, SixteenColourPaletteAtDepthEightGivesAFullPaletteAndA1078ByteOffset) {
    PngPlan plan{.width = 3, .height = 2, .bitDepth = 8, .colorType = 3};
    for (int i = 0; i < 16; ++i)
        plan.plte.insert(plan.plte.end(), {std::uint8_t(i * 16), 7, 9});
    plan.rows = {{0, 5, 15}, {1, 2, 3}};
    ImageRecord record = decode(makePng(plan));
    ASSERT_EQ(record.bitDepth, 8);
    ASSERT_EQ(record.paletteCount, 256u);
    EXPECT_EQ(record.palette[3 * 15], 240);
    for (std::size_t i = 3 * 16; i < record.palette.size(); ++i)
        ASSERT_EQ(record.palette[i], 0) << i;
    EXPECT_FALSE(record.topDown);
    EXPECT_EQ(Row(record.row(0), record.row(0) + 3), plan.rows[0]);
    EXPECT_EQ(record.pixels[0], 1);  // the buffer holds the bottom row first

    std::vector<std::byte> bmp;
    ASSERT_EQ(PngConverter().WriteBmp(record, bmp), kOk);
    const ByteReader header(asBytes(bmp));
    ASSERT_EQ(bmp.size(), 1078u + 8);
    const std::vector<std::pair<std::size_t, std::uint32_t>> fields32 = {
        {2, 1078 + 8}, {6, 0},  {10, 1078}, {14, 40}, {18, 3}, {22, 2},
        {30, 0},       {34, 8}, {38, 0},    {42, 0},  {46, 0}, {50, 0}};
    EXPECT_EQ(header.u16(0), 0x4D42);
    EXPECT_EQ(header.u16(26), 1);
    EXPECT_EQ(header.u16(28), 8);
    for (auto [offset, value] : fields32)
        EXPECT_EQ(header.u32(offset), value) << offset;
    EXPECT_EQ(header.u32(54 + 4 * 15), 0x00F00709u);  // blue, green, red, 0
    EXPECT_EQ(header.u8(1078), 1);
}

TEST(ReadPng, TwoBitImagesBecomeFourBitsWithTheSameSampleValues) {
    for (int colorType : {0, 3}) {
        for (std::uint32_t width : {1u, 3u, 4u, 7u}) {
            PngPlan plan{.width = width, .height = 2, .bitDepth = 2, .colorType = colorType};
            if (colorType == 3) plan.plte = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
            plan.rows = patternRows(width, 2, 2, width);
            ImageRecord record = decode(makePng(plan));
            ASSERT_EQ(record.bitDepth, 4);
            ASSERT_EQ(record.paletteCount, 16u);
            for (std::uint32_t y = 0; y < 2; ++y) {
                for (std::uint32_t x = 0; x < width; ++x) {
                    const int sample = (plan.rows[y][x / 4] >> (6 - 2 * (x % 4))) & 3;
                    const int stored = (record.row(static_cast<int>(y))[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15;
                    ASSERT_EQ(stored, sample) << colorType << " " << width << " " << x;
                }
            }
            if (colorType == 0) {
                const Row expected = {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255, 0, 0, 0};
                EXPECT_EQ(Row(record.palette.begin(), record.palette.begin() + 15), expected);
            }
        }
    }
}

TEST(ReadPng, SixteenBitSamplesAreStripped) {
    PngPlan rgb{.width = 2, .height = 1, .bitDepth = 16, .colorType = 2};
    rgb.rows = {{0x12, 0x99, 0x34, 0x99, 0x56, 0x99, 0xAB, 0, 0xCD, 0, 0xEF, 0}};
    ImageRecord record = decode(makePng(rgb));
    ASSERT_EQ(record.bitDepth, 24);
    EXPECT_EQ(Row(record.row(0), record.row(0) + 6), (Row{0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB}));

    PngPlan grey{.width = 2, .height = 1, .bitDepth = 16, .colorType = 0};
    grey.rows = {{0x80, 0x01, 0x03, 0xFF}};
    record = decode(makePng(grey));
    ASSERT_EQ(record.bitDepth, 8);
    EXPECT_EQ(record.paletteCount, 256u);
    EXPECT_EQ(record.palette[3 * 200], 200);
    EXPECT_EQ(Row(record.row(0), record.row(0) + 2), (Row{0x80, 0x03}));
}

TEST(ReadPng, RgbaBecomesA32BitBmpWithTheAlphaByte) {
    PngPlan plan{.width = 2, .height = 2, .bitDepth = 8, .colorType = 6};
    plan.rows = patternRows(2, 2, 32, 6);
    ImageRecord record = decode(makePng(plan));
    ASSERT_EQ(record.bitDepth, 32);
    EXPECT_EQ(record.row(1)[4], plan.rows[1][6]);
    EXPECT_EQ(record.row(1)[7], plan.rows[1][7]);

    std::vector<std::byte> bmp;
    ASSERT_EQ(PngConverter().WriteBmp(record, bmp), kOk);
    const ByteReader header(asBytes(bmp));
    EXPECT_EQ(header.u16(28), 32);
    EXPECT_EQ(header.u32(10), 54u);
    // First stored row is the bottom row; its first pixel is blue, green, red, alpha.
    EXPECT_EQ(header.u8(54), plan.rows[1][2]);
    EXPECT_EQ(header.u8(57), plan.rows[1][3]);
}

TEST(ReadPng, OnePrefixIsSkipped) {
    PngPlan plan{.width = 3, .height = 3, .bitDepth = 8, .colorType = 2};
    plan.rows = patternRows(3, 3, 24, 1);
    ImageRecord plain = decode(makePng(plan));
    plan.prefix = 128;
    ImageRecord prefixed = decode(makePng(plan));
    EXPECT_EQ(prefixed.pixels, plain.pixels);
    plan.prefix = 64;
    ImageRecord wrong;
    EXPECT_EQ(PngConverter().ReadPng(asBytes(makePng(plan)), wrong), kFail);
}

// The transparent kinds all become 32-bit records; without tRNS the same images keep their depth.
struct TransparencyCase {
    const char* name;
    PngPlan plan;
    // Expected blue, green, red, alpha of the first two pixels of the top row.
    Row firstPixels;
};

class ReadPngTransparency : public ::testing::TestWithParam<TransparencyCase> {};

TEST_P(ReadPngTransparency, KeepsTheAlphaIn32Bits) {
    ImageRecord record = decode(makePng(GetParam().plan));
    ASSERT_EQ(record.bitDepth, 32);
    EXPECT_EQ(record.paletteCount, 0u);
    EXPECT_EQ(Row(record.row(0), record.row(0) + 8), GetParam().firstPixels);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ReadPngTransparency,
    ::testing::Values(
        TransparencyCase{
            "GreyAlpha8",
            PngPlan{
                .width = 2, .height = 1, .bitDepth = 8, .colorType = 4, .rows = {{0x40, 0x80, 0xC0, 0xFF}}},
            {0x40, 0x40, 0x40, 0x80, 0xC0, 0xC0, 0xC0, 0xFF}},
        TransparencyCase{"GreyAlpha16",
                         PngPlan{.width = 2,
                                 .height = 1,
                                 .bitDepth = 16,
                                 .colorType = 4,
                                 .rows = {{0x40, 1, 0x80, 1, 0xC0, 1, 0xFF, 1}}},
                         {0x40, 0x40, 0x40, 0x80, 0xC0, 0xC0, 0xC0, 0xFF}},
        TransparencyCase{"PaletteTrns",
                         PngPlan{.width = 2,
                                 .height = 1,
                                 .bitDepth = 4,
                                 .colorType = 3,
                                 .plte = {10, 20, 30, 40, 50, 60},
                                 .trns = Row{0x33},
                                 .rows = {{0x01}}},
                         {30, 20, 10, 0x33, 60, 50, 40, 0xFF}},
        TransparencyCase{
            "GreyTrns",
            PngPlan{
                .width = 2, .height = 1, .bitDepth = 2, .colorType = 0, .trns = Row{0, 2}, .rows = {{0x80}}},
            {0xAA, 0xAA, 0xAA, 0, 0, 0, 0, 0xFF}},
        TransparencyCase{"RgbTrns",
                         PngPlan{.width = 2,
                                 .height = 1,
                                 .bitDepth = 8,
                                 .colorType = 2,
                                 .trns = Row{0, 1, 0, 2, 0, 3},
                                 .rows = {{1, 2, 3, 4, 5, 6}}},
                         {3, 2, 1, 0, 6, 5, 4, 0xFF}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadPng, InterlacedImagesReadAllPasses) {
    for (auto [colorType, bits, depth] : {std::tuple{2, 24u, 8}, {6, 32u, 8}, {3, 4u, 4}, {0, 1u, 1}}) {
        PngPlan plan{.width = 13, .height = 11, .bitDepth = depth, .colorType = colorType};
        if (colorType == 3) plan.plte.assign(48, 0x44);
        plan.rows = patternRows(13, 11, bits, bits);
        ImageRecord flat = decode(makePng(plan));
        std::vector<std::byte> interlacedPng;
        ASSERT_EQ(WritePng(flat, interlacedPng, {.interlace = 1}), kOk);
        ASSERT_EQ(std::to_integer<int>(interlacedPng[28]), 1);  // IHDR interlace method: Adam7
        EXPECT_EQ(decode(interlacedPng).pixels, flat.pixels) << colorType;
    }
}

// The conversion to a BMP file decodes the rows straight into the file; it must give the bytes the
// record path gives (header, palette, bottom-up rows with zeroed padding) for every kind of PNG,
// and nothing for a broken one.
TEST(ConvertPngToBmpBytes, DecodesIntoTheFileAsTheRecordPathWritesIt) {
    struct Kind {
        int colorType;
        int depth;
        std::uint32_t bits;  // per pixel in the PNG rows
        bool interlaced;
    };
    for (const Kind kind : {Kind{0, 1, 1, false},
                            {0, 2, 2, false},
                            {0, 8, 8, false},
                            {0, 16, 16, false},
                            {3, 1, 1, false},
                            {3, 2, 2, false},
                            {3, 4, 4, true},
                            {3, 8, 8, false},
                            {2, 8, 24, false},
                            {2, 16, 48, false},
                            {2, 8, 24, true},
                            {4, 8, 16, false},
                            {6, 8, 32, false},
                            {6, 16, 64, true}}) {
        SCOPED_TRACE(std::to_string(kind.colorType) + "/" + std::to_string(kind.depth));
        PngPlan plan{.width = 13, .height = 7, .bitDepth = kind.depth, .colorType = kind.colorType};
        if (kind.colorType == 3) plan.plte.assign(3 * (std::size_t{1} << kind.depth), 0x5A);
        plan.rows = patternRows(13, 7, kind.bits, kind.bits + 3);
        std::vector<std::byte> png = makePng(plan);
        if (kind.interlaced) {
            ImageRecord flat = decode(png);
            ASSERT_EQ(WritePng(flat, png, {.interlace = 1}), kOk);
        }
        ImageRecord record = decode(png);
        std::vector<std::byte> viaRecord, direct;
        ASSERT_EQ(PngConverter().WriteBmp(record, viaRecord), kOk);
        ASSERT_EQ(PngConverter().ConvertPngToBmpBytes(asBytes(png), direct), kOk);
        EXPECT_EQ(direct, viaRecord);
    }
    auto png =
        makePng({.width = 4, .height = 4, .bitDepth = 8, .colorType = 2, .rows = patternRows(4, 2, 24, 9)});
    std::vector<std::byte> bmp(3, std::byte{1});
    EXPECT_TRUE(PngConverter().ConvertPngToBmpBytes(asBytes(png), bmp).failed());
    EXPECT_TRUE(bmp.empty());
}

TEST(ReadPng, RefusesHugeOrBrokenImagesAndReleasesTheRecord) {
    PngPlan huge{
        .width = 0x7FFFFFFF, .height = 0x7FFFFFFF, .bitDepth = 8, .colorType = 6, .rows = {{0, 0, 0, 0}}};
    PngPlan wide{.width = 100000, .height = 100000, .bitDepth = 1, .colorType = 0, .rows = {{0}}};
    PngPlan truncated{
        .width = 4, .height = 4, .bitDepth = 8, .colorType = 2, .rows = patternRows(4, 2, 24, 9)};
    for (const PngPlan& plan : {huge, wide, truncated}) {
        ImageRecord record;
        record.width = 99;
        EXPECT_TRUE(PngConverter().ReadPng(asBytes(makePng(plan)), record).failed()) << plan.width;
        EXPECT_FALSE(record.allocated());
        EXPECT_EQ(record.width, 0);
    }
    auto png =
        makePng({.width = 4, .height = 4, .bitDepth = 8, .colorType = 2, .rows = patternRows(4, 4, 24, 9)});
    for (std::size_t cut : {8u, 20u, 33u, 60u}) {
        ImageRecord record;
        EXPECT_EQ(
            PngConverter().ReadPng(asBytes(testing::ByteVector(png.begin(), png.begin() + cut)), record),
            kFail);
    }
}

// Written PNGs are checked by our zlib-level decoder, not by libpng.
TEST(WritePng, EveryRecordDepthDecodesIndependently) {
    for (int depth : {1, 4, 8, 24, 32}) {
        ImageRecord record;
        record.width = 7;
        record.height = 3;
        record.bitDepth = depth;
        record.paletteCount = depth <= 8 ? (1u << depth) : 0;
        ASSERT_EQ(AllocateImageRecord(record), kOk);
        for (std::size_t i = 0; i < record.palette.size(); ++i)
            record.palette[i] = static_cast<std::uint8_t>(i * 7);
        for (std::size_t i = 0; i < record.pixels.size(); ++i)
            record.pixels[i] = testing::patternByte(i, 0, depth);

        std::vector<std::byte> png;
        ASSERT_EQ(WritePng(record, png), kOk);
        auto decoded = testing::decodePng(png);
        ASSERT_TRUE(decoded) << depth;
        EXPECT_EQ(decoded->colorType, depth == 32 ? 6 : depth == 24 ? 2 : 3);
        EXPECT_EQ(decoded->bitDepth, depth >= 24 ? 8 : depth);
        EXPECT_EQ(decoded->interlace, 0);
        EXPECT_EQ(decoded->zlibLevel, 2);
        EXPECT_EQ(decoded->plte, Row(record.palette.begin(), record.palette.end()));
        const std::size_t used = (7 * static_cast<std::size_t>(depth) + 7) / 8;
        for (int y = 0; y < 3; ++y) {
            const std::uint8_t* row = record.row(y);
            Row expected(row, row + used);
            if (depth >= 24) {
                for (std::size_t x = 0; x < used; x += depth / 8)
                    std::swap(expected[x], expected[x + 2]);
            } else if ((7 * depth) % 8 != 0) {
                expected.back() &= static_cast<std::uint8_t>(0xFF00 >> ((7 * depth) % 8));
                decoded->rows[y].back() &= static_cast<std::uint8_t>(0xFF00 >> ((7 * depth) % 8));
            }
            EXPECT_EQ(decoded->rows[y], expected) << depth << " row " << y;
        }
        // And our reader gives the same record back.
        ImageRecord again = decode(png);
        for (int y = 0; depth >= 8 && y < 3; ++y) {
            EXPECT_EQ(Row(again.row(y), again.row(y) + used), Row(record.row(y), record.row(y) + used))
                << depth;
        }
    }
}

TEST(WritePng, IdentifyAgreesOnTheFormat) {
    if (std::system("identify -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick not installed";
    testing::TempDir dir;
    ImageRecord record;
    record.width = 5;
    record.height = 4;
    record.bitDepth = 32;
    ASSERT_EQ(AllocateImageRecord(record), kOk);
    for (std::size_t i = 0; i < record.pixels.size(); i += 4)
        record.pixels[i + 3] = 0x80;
    ASSERT_EQ(PngConverter().WritePngFile(dir / "a.png", record), kOk);
    EXPECT_FALSE(record.allocated());
    const std::string command =
        "identify -format '%w %h %[channels] %[png:IHDR.bit-depth-orig] %[png:IHDR.color-type-orig]' '" +
        (dir / "a.png").string() + "' > '" + (dir / "out.txt").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(testing::readText(dir / "out.txt"), "5 4 srgba 8 6");
}

TEST(PngConverter, DibHasTheDocumentedHeaderAndValidates) {
    PngPlan plan{.width = 5, .height = 2, .bitDepth = 4, .colorType = 3, .plte = {1, 2, 3, 4, 5, 6}};
    plan.rows = {{0x01, 0x10, 0x00}, {0x11, 0x00, 0x10}};
    ImageRecord record = decode(makePng(plan));
    std::vector<std::byte> dib;
    ASSERT_EQ(PngConverter().ImageRecordToDib(record, dib), kOk);
    const ByteReader header(asBytes(dib));
    EXPECT_EQ(dib.size(), 40u + 64 + 8);
    for (auto [offset, value] : std::vector<std::pair<std::size_t, std::uint32_t>>{
             {0, 40}, {8, 2}, {16, 0}, {20, 8}, {24, 3780}, {28, 3780}, {32, 16}, {36, 16}}) {
        EXPECT_EQ(header.u32(offset), value) << offset;
    }
    EXPECT_EQ(header.u32(44), 0x00040506u);  // (4, 5, 6) as blue, green, red, 0
    EXPECT_EQ(header.u8(40 + 64), 0x11);     // bottom row first

    DibInfo info;
    ASSERT_EQ(validateDib(asBytes(dib), info), kOk);
    EXPECT_EQ(info.pixelOffset, 104u);
    EXPECT_EQ(info.imageBytes, 8u);
}

TEST(PngConverter, BitmapResolutionTravelsThroughThePngAsAPhysChunk) {
    struct Case {
        std::int32_t x, y;
        bool chunk;  // whether the PNG carries the resolution
    };
    for (const Case c :
         {Case{2835, 5669, true}, Case{0, 0, false}, Case{0, 3780, true}, Case{-1, 3780, false}}) {
        testing::BmpPlan plan{.width = 2, .height = 1, .bitDepth = 32};
        plan.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
        testing::ByteVector bmp = testing::makeBmp(plan);
        for (int i = 0; i < 4; ++i) {
            bmp[14 + 24 + i] = static_cast<std::byte>((static_cast<std::uint32_t>(c.x) >> (8 * i)) & 0xFF);
            bmp[14 + 28 + i] = static_cast<std::byte>((static_cast<std::uint32_t>(c.y) >> (8 * i)) & 0xFF);
        }
        ImageRecord record;
        ASSERT_EQ(ReadBmp("t.bmp", asBytes(bmp), record), kOk) << c.x;
        std::vector<std::byte> png;
        ASSERT_EQ(WritePng(record, png), kOk);
        const std::string text(reinterpret_cast<const char*>(png.data()), png.size());
        EXPECT_EQ(text.find("pHYs") != std::string::npos, c.chunk) << c.x << " " << c.y;
        ASSERT_TRUE(testing::decodePng(png)) << c.x;

        // Back to BMP as the compile does: the values come back where the PNG could hold them.
        std::vector<std::byte> back;
        ASSERT_EQ(PngConverter().ConvertPngToBmpBytes(asBytes(png), back), kOk);
        const ByteReader header(asBytes(back));
        EXPECT_EQ(header.u32(14 + 24), c.chunk ? static_cast<std::uint32_t>(c.x) : 0u) << c.x;
        EXPECT_EQ(header.u32(14 + 28), c.chunk ? static_cast<std::uint32_t>(c.y) : 0u) << c.y;
        EXPECT_EQ(std::vector<std::byte>(back.begin() + 54, back.end()),
                  std::vector<std::byte>(bmp.begin() + 54, bmp.end()));
    }

    // A resolution in another unit than the metre is not a pixels-per-metre value.
    ImageRecord record;
    record.width = 1;
    record.height = 1;
    record.bitDepth = 24;
    ASSERT_EQ(AllocateImageRecord(record), kOk);
    record.xPixelsPerMetre = 72;
    record.yPixelsPerMetre = 72;
    std::vector<std::byte> png;
    ASSERT_EQ(WritePng(record, png), kOk);
    const std::size_t type = std::string(reinterpret_cast<const char*>(png.data()), png.size()).find("pHYs");
    ASSERT_LT(type + 17, png.size());
    png[type + 12] = std::byte{0};  // unit unknown: the values only give the aspect ratio
    const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(&png[type]), 13));
    for (int i = 0; i < 4; ++i)
        png[type + 13 + static_cast<std::size_t>(i)] = static_cast<std::byte>((crc >> (24 - 8 * i)) & 0xFF);
    ImageRecord read;
    ASSERT_EQ(PngConverter().ReadPng(asBytes(png), read), kOk);
    EXPECT_EQ(read.xPixelsPerMetre, 0);
    EXPECT_EQ(read.yPixelsPerMetre, 0);
}

TEST(PngConverter, PalettelessBitmapGivesADibWithAFullTable) {
    // A 4-bit bitmap whose pixels follow its header directly has no palette; in a DIB, colours
    // used = 0 would mean 16 entries and put the pixels elsewhere.
    ImageRecord record;
    record.width = 2;
    record.height = 2;
    record.bitDepth = 4;
    ASSERT_EQ(AllocateImageRecord(record), kOk);
    record.pixels[0] = 0x12;
    std::vector<std::byte> dib;
    ASSERT_EQ(PngConverter().ImageRecordToDib(record, dib), kOk);
    DibInfo info;
    ASSERT_EQ(validateDib(asBytes(dib), info), kOk);
    EXPECT_EQ(info.paletteEntries, 16u);
    EXPECT_EQ(dib[info.pixelOffset], std::byte{0x12});
}

TEST(PngConverter, FileConversionsUseTheSiblingNameAndNeverOverwriteTheSource) {
    testing::TempDir dir;
    const auto pngBytes =
        makePng({.width = 2, .height = 2, .bitDepth = 8, .colorType = 2, .rows = patternRows(2, 2, 24, 3)});
    dir.write("Bitmap1.png", pngBytes);
    const PngConverter codec;
    ASSERT_EQ(codec.ConvertPngToBmp(dir / "Bitmap1.BMP"), kOk);
    std::vector<std::byte> inMemory;
    ASSERT_EQ(codec.ConvertPngToBmpBytes(asBytes(pngBytes), inMemory), kOk);
    EXPECT_EQ(testing::readBytes(dir / "Bitmap1.BMP"), inMemory);

    std::vector<std::byte> dib;
    EXPECT_EQ(codec.LoadPngAsDib(dir / "Bitmap1.BMP", dib), kOk);
    EXPECT_EQ(dib.size(), 40u + 16);

    // A name that already ends in "png" would have its PNG replaced by a BMP.
    EXPECT_EQ(codec.ConvertPngToBmp(dir / "Bitmap1.png"), kInvalidArg);
    EXPECT_EQ(testing::readBytes(dir / "Bitmap1.png"), pngBytes);
    EXPECT_TRUE(codec.ConvertPngToBmp(dir / "Missing.bmp").failed());
    EXPECT_FALSE(std::filesystem::exists(dir / "Missing.bmp"));

    EXPECT_EQ(replaceLastThree("a/Bitmap00001.BMP", "png"), std::filesystem::path("a/Bitmap00001.png"));
    EXPECT_EQ(replaceLastThree("a.bm", "png"), std::filesystem::path());
}

TEST(ImageRecord, AllocationRefusesBadSizesAndMapsRows) {
    ImageRecord record;
    record.width = 3;
    record.height = 2;
    record.bitDepth = 24;
    record.topDown = true;
    ASSERT_EQ(AllocateImageRecord(record), kOk);
    EXPECT_EQ(record.rowBytes, 12);
    EXPECT_EQ(record.row(1), record.pixels.data() + 12);
    ImageRecord moved = std::move(record);
    EXPECT_EQ(moved.row(1), moved.pixels.data() + 12);
    EXPECT_FALSE(record.allocated());

    for (auto [width, height, depth, palette] : {std::tuple{0, 1, 8, 0u},
                                                 {1, -1, 8, 0u},
                                                 {1, 1, 2, 0u},
                                                 {1, 1, 1, 3u},
                                                 {1 << 30, 1 << 30, 32, 0u}}) {
        ImageRecord bad;
        bad.width = width;
        bad.height = height;
        bad.bitDepth = depth;
        bad.paletteCount = palette;
        EXPECT_EQ(AllocateImageRecord(bad), kInvalidArg);
        EXPECT_EQ(bad.width, 0);
    }
}

}  // namespace
}  // namespace kestrel
