#include "core/images/bmp_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/images/png_codec.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "image_builders.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::BmpPlan;
using testing::makeBmp;
using testing::Row;

// A 32-bit picture whose every byte differs, alpha included.
std::vector<Row> picture32(std::int32_t width, std::int32_t height) {
    std::vector<Row> rows;
    for (std::int32_t y = 0; y < height; ++y) {
        Row row;
        for (std::int32_t x = 0; x < width * 4; ++x)
            row.push_back(testing::patternByte(x, y, 32));
        rows.push_back(row);
    }
    return rows;
}

BmpPlan bmp32(const std::vector<Row>& rows) {
    BmpPlan plan;
    plan.width = static_cast<std::int32_t>(rows[0].size() / 4);
    plan.height = static_cast<std::int32_t>(rows.size());
    plan.bitDepth = 32;
    plan.pixels = testing::bottomUp(rows);
    return plan;
}

// The skip message of a refused file, empty when the file was read; the result must agree.
std::string_view read(const testing::ByteVector& bytes, ImageRecord& record) {
    std::string_view message = "not set";
    const HResult hr = ReadBmp("test.bmp", asBytes(bytes), record, &message);
    EXPECT_EQ(hr.failed(), !message.empty()) << message;
    return message;
}

std::vector<Row> recordRows(const ImageRecord& record) {
    std::vector<Row> rows;
    for (std::int32_t y = 0; y < record.height; ++y) {
        rows.emplace_back(record.row(y), record.row(y) + record.rowBytes);
    }
    return rows;
}

TEST(ReadBmp, OneLeadingPrefixIsSkippedButNotTwo) {
    const auto rows = picture32(3, 2);
    BmpPlan plan = bmp32(rows);
    ImageRecord plain, prefixed;
    ASSERT_EQ(read(makeBmp(plan), plain), "");
    plan.prefix = 128;
    ASSERT_EQ(read(makeBmp(plan), prefixed), "");
    EXPECT_EQ(recordRows(prefixed), recordRows(plain));

    plan.prefix = 256;
    ImageRecord twice;
    EXPECT_EQ(read(makeBmp(plan), twice), bmp_skip::kNotBmp);
    EXPECT_FALSE(twice.allocated());
}

TEST(ReadBmp, TopDownMatchesBottomUp) {
    const auto rows = picture32(5, 4);
    BmpPlan bottomUp = bmp32(rows);
    BmpPlan topDown = bottomUp;
    topDown.height = -4;
    topDown.pixels.clear();
    for (const Row& row : rows)
        topDown.pixels.insert(topDown.pixels.end(), row.begin(), row.end());

    ImageRecord a, b;
    ASSERT_EQ(read(makeBmp(bottomUp), a), "");
    ASSERT_EQ(read(makeBmp(topDown), b), "");
    EXPECT_TRUE(b.topDown);
    EXPECT_EQ(b.height, 4);
    EXPECT_EQ(recordRows(a), rows);
    EXPECT_EQ(recordRows(b), rows);

    // Everything written from the records agrees too.
    const PngConverter codec;
    std::vector<std::byte> pngA, pngB, bmpA, bmpB, dibA, dibB;
    ASSERT_EQ(WritePng(a, pngA), kOk);
    ASSERT_EQ(WritePng(b, pngB), kOk);
    EXPECT_EQ(pngA, pngB);
    ASSERT_EQ(codec.WriteBmp(a, bmpA), kOk);
    ASSERT_EQ(codec.WriteBmp(b, bmpB), kOk);
    EXPECT_EQ(bmpA, bmpB);
    ASSERT_EQ(codec.ImageRecordToDib(a, dibA), kOk);
    ASSERT_EQ(codec.ImageRecordToDib(b, dibB), kOk);
    EXPECT_EQ(dibA, dibB);
}

TEST(ReadBmp, PaletteComesFromTheGapNotFromColoursUsed) {
    // 18 bytes of gap with 4-byte entries: 4 entries and 2 bytes to skip, whatever colours used says.
    BmpPlan plan{.width = 2,
                 .height = 1,
                 .bitDepth = 8,
                 .colorsUsed = 256,
                 .gapTail = {0xEE, 0xEE},
                 .pixels = {3, 1, 0, 0}};
    for (int i = 0; i < 4; ++i)
        plan.palette.insert(plan.palette.end(), {10, 20, std::uint8_t(30 + i), 0});
    ImageRecord record;
    ASSERT_EQ(read(makeBmp(plan), record), "");
    EXPECT_EQ(record.paletteCount, 4u);
    EXPECT_EQ(Row(record.palette.begin() + 9, record.palette.end()), (Row{33, 20, 10}));  // red, green, blue
    EXPECT_EQ(Row(record.pixels.begin(), record.pixels.end()), plan.pixels);
}

TEST(ViewBmpFileDib, ViewsAPackedDibInPlaceAndPacksOnlyAcrossAGap) {
    BmpPlan plan{.width = 2, .height = 1, .bitDepth = 8, .colorsUsed = 4, .pixels = {3, 1, 0, 0}};
    for (int i = 0; i < 4; ++i)
        plan.palette.insert(plan.palette.end(), {10, 20, std::uint8_t(30 + i), 0});
    const testing::ByteVector plain = makeBmp(plan);
    plan.gapTail = {0xEE, 0xEE};
    const testing::ByteVector gapped = makeBmp(plan);

    // No gap: the DIB is the file after its header, viewed where it lies.
    Bytes dib;
    std::vector<std::byte> packed;
    std::uint64_t pixelsAt = 0;
    ASSERT_TRUE(ViewBmpFileDib(asBytes(plain), dib, packed, &pixelsAt).ok());
    EXPECT_TRUE(packed.empty());
    EXPECT_EQ(dib.data(), asBytes(plain).data() + 14);
    EXPECT_EQ(dib.size(), plain.size() - 14);
    EXPECT_EQ(pixelsAt, 14u + 40u + 16u);
    std::vector<std::byte> copy;
    ASSERT_TRUE(ReadBmpFileDib(asBytes(plain), copy).ok());
    EXPECT_TRUE(std::ranges::equal(copy, dib));

    // A gap: the packed copy leaves the gap's bytes out, the same as ReadBmpFileDib gives.
    ASSERT_TRUE(ViewBmpFileDib(asBytes(gapped), dib, packed, &pixelsAt).ok());
    EXPECT_EQ(dib.data(), packed.data());
    EXPECT_EQ(pixelsAt, 14u + 40u + 16u + 2u);
    EXPECT_TRUE(std::ranges::equal(dib, asBytes(plain).subspan(14)));
    ASSERT_TRUE(ReadBmpFileDib(asBytes(gapped), copy).ok());
    EXPECT_TRUE(std::ranges::equal(copy, dib));

    // An invalid DIB leaves nothing behind in either form.
    plan.bitDepth = 7;
    const testing::ByteVector invalid = makeBmp(plan);
    EXPECT_FALSE(ViewBmpFileDib(asBytes(invalid), dib, packed).ok());
    EXPECT_TRUE(dib.empty());
    EXPECT_TRUE(packed.empty());
    EXPECT_FALSE(ReadBmpFileDib(asBytes(invalid), copy).ok());
    EXPECT_TRUE(copy.empty());
}

TEST(ReadBmp, PaletteFromAWideGapIsCappedAtTheBitDepth) {
    BmpPlan plan;
    plan.width = 8;
    plan.height = 1;
    plan.bitDepth = 1;
    plan.palette.assign(1024, 0x11);  // 256 entries' worth of gap for a 1-bit image
    plan.pixels = {0xA5, 0, 0, 0};
    ImageRecord record;
    ASSERT_EQ(read(makeBmp(plan), record), "");
    EXPECT_EQ(record.paletteCount, 2u);
    EXPECT_EQ(record.pixels[0], 0xA5);
    std::vector<std::byte> png;
    EXPECT_EQ(WritePng(record, png), kOk);
}

TEST(ReadBmp, IndicesBeyondThePaletteAreWrittenAsStored) {
    BmpPlan plan;
    plan.width = 4;
    plan.height = 1;
    plan.bitDepth = 8;
    plan.palette.assign(8, 0x40);  // two entries
    plan.pixels = {0, 1, 200, 255};
    ImageRecord record;
    ASSERT_EQ(read(makeBmp(plan), record), "");
    std::vector<std::byte> png;
    ASSERT_EQ(WritePng(record, png), kOk);
    const auto decoded = testing::decodePng(png);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->rows[0], plan.pixels);
    EXPECT_EQ(decoded->plte.size(), 6u);
}

TEST(ReadBmp, Os2CoreHeaderWithThreeBytePalette) {
    BmpPlan plan;
    plan.headerSize = 12;
    plan.width = 3;
    plan.height = 2;
    plan.bitDepth = 4;
    for (int i = 0; i < 16; ++i)
        plan.palette.insert(plan.palette.end(), {std::uint8_t(i), 0x80, 0xFF});
    plan.pixels = {0x12, 0x30, 0, 0, 0x45, 0x60, 0, 0};
    ImageRecord record;
    ASSERT_EQ(read(makeBmp(plan), record), "");
    EXPECT_EQ(record.paletteCount, 16u);
    EXPECT_EQ(record.palette[3 * 7], 0xFF);
    EXPECT_EQ(record.palette[3 * 7 + 2], 7);
    EXPECT_EQ(record.row(0)[0], 0x45);  // bottom-up: the second stored row is the top
}

struct RefusedCase {
    const char* name;
    BmpPlan plan;
    std::string_view message;
};

BmpPlan with(std::function<void(BmpPlan&)> change) {
    BmpPlan plan;
    plan.width = 2;
    plan.height = 2;
    plan.bitDepth = 24;
    plan.pixels.assign(16, 0x55);
    change(plan);
    return plan;
}

class ReadBmpRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ReadBmpRefuses, WithItsMessage) {
    ImageRecord record;
    EXPECT_EQ(read(makeBmp(GetParam().plan), record), GetParam().message);
    EXPECT_FALSE(record.allocated());
    EXPECT_EQ(record.width, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadBmpRefuses,
    ::testing::Values(
        RefusedCase{"HeaderTooSmall", with([](BmpPlan& s) { s.headerSize = 8; }), bmp_skip::kBadHeaderSize},
        RefusedCase{"PixelsInsideHeader", with([](BmpPlan& s) { s.offBits = 40; }), bmp_skip::kBadHeaderSize},
        RefusedCase{"ZeroWidth", with([](BmpPlan& s) { s.width = 0; }), bmp_skip::kWidthBelowOne},
        RefusedCase{"ZeroHeight", with([](BmpPlan& s) { s.height = 0; }), bmp_skip::kHeightBelowOne},
        RefusedCase{"MinimumHeight", with([](BmpPlan& s) { s.height = INT32_MIN; }), bmp_skip::kBadImageSize},
        RefusedCase{"Rle8", with([](BmpPlan& s) { s.compression = 1, s.bitDepth = 8; }),
                    bmp_skip::kCompressed},
        RefusedCase{"SixteenBits", with([](BmpPlan& s) { s.bitDepth = 16; }), bmp_skip::k16Bits},
        RefusedCase{"TwoBits", with([](BmpPlan& s) { s.bitDepth = 2; }), bmp_skip::kBadBitDepth},
        RefusedCase{"TruncatedPixels", with([](BmpPlan& s) { s.pixels.resize(15); }),
                    bmp_skip::kBadImageSize},
        RefusedCase{"PixelsBeyondTheFile", with([](BmpPlan& s) { s.offBits = 4000; }),
                    bmp_skip::kBadImageSize},
        // Row size and image size overflow 32 bits: 0x40000001 × 32 bits per row, 0x10000 rows.
        RefusedCase{"OverflowingSizes",
                    with([](BmpPlan& s) { s.width = 0x40000001, s.height = 0x10000, s.bitDepth = 32; }),
                    bmp_skip::kBadImageSize},
        RefusedCase{"TruncatedPalette", with([](BmpPlan& s) {
                        s.bitDepth = 8, s.offBits = 54 + 1024, s.pixels.clear();
                        s.palette.assign(8, 0);
                    }),
                    bmp_skip::kBadImageSize}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadBmp, ShortFilesEndPrematurely) {
    const auto full = makeBmp(with([](BmpPlan&) {}));
    for (std::size_t size : {0, 10, 17, 30}) {
        ImageRecord record;
        EXPECT_EQ(read(testing::ByteVector(full.begin(), full.begin() + size), record),
                  bmp_skip::kPrematureEnd)
            << size;
    }
    // With a 128-byte prefix, the second look must also find 18 bytes.
    testing::ByteVector prefixed(140, std::byte{0});
    ImageRecord record;
    EXPECT_EQ(read(prefixed, record), bmp_skip::kPrematureEnd);
}

class ConvertBmpToPngTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = SetConverterLogHook([this](std::string_view format, std::string_view name) {
            log_.push_back(safeFormat(format, {std::string(name)}));
        });
    }
    void TearDown() override { SetConverterLogHook(std::move(previous_)); }

    testing::TempDir dir_;
    std::vector<std::string> log_;
    ConverterLogHook previous_;
};

TEST_F(ConvertBmpToPngTest, WritesAnRgbaPngWithTheAlphaUnchanged) {
    auto rows = picture32(4, 3);
    for (std::size_t x = 3; x < rows[1].size(); x += 4)
        rows[1][x] = 0;  // one fully transparent row
    const auto bmp = dir_.write("Bitmap00001.BMP", makeBmp(bmp32(rows)));
    ASSERT_EQ(ConvertBmpToPng(bmp), kOk);

    const auto decoded = testing::decodePng(testing::readBytes(dir_ / "Bitmap00001.png"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->colorType, 6);
    EXPECT_EQ(decoded->bitDepth, 8);
    EXPECT_EQ(decoded->zlibLevel, 2);  // compression level 6 is zlib's default class
    ASSERT_EQ(decoded->rows.size(), 3u);
    for (std::size_t y = 0; y < 3; ++y) {
        for (std::size_t x = 0; x < 16; x += 4) {
            // BMP blue, green, red, alpha → PNG red, green, blue, alpha.
            EXPECT_EQ(decoded->rows[y][x], rows[y][x + 2]);
            EXPECT_EQ(decoded->rows[y][x + 1], rows[y][x + 1]);
            EXPECT_EQ(decoded->rows[y][x + 2], rows[y][x]);
            EXPECT_EQ(decoded->rows[y][x + 3], rows[y][x + 3]);
        }
    }
    const std::string path = pathToUtf8(bmp);
    const std::vector<std::string> expected = {"Reading Bitmap00001.BMP", "Read OK Bitmap00001.BMP",
                                               "Writing Bitmap00001.png", "OK      Bitmap00001.png"};
    EXPECT_EQ(log_, expected);
}

TEST_F(ConvertBmpToPngTest, RefusedInputLeavesNoOutputAndLogsTheFullPath) {
    const auto bmp = dir_.write("a.bmp", makeBmp(with([](BmpPlan& s) { s.bitDepth = 16; })));
    EXPECT_TRUE(ConvertBmpToPng(bmp).failed());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "a.png"));
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[1], safeFormat(bmp_skip::k16Bits, {pathToUtf8(bmp)}));

    log_.clear();
    EXPECT_TRUE(ConvertBmpToPng(dir_ / "missing.bmp").failed());
    EXPECT_EQ(log_.back(), safeFormat(bmp_skip::kCannotOpen, {pathToUtf8(dir_ / "missing.bmp")}));
}

TEST_F(ConvertBmpToPngTest, LibpngFailureLeavesNoPartialPng) {
    // An 8-bit bitmap without a palette: libpng refuses to write a palette image with no colours
    // only after it has started the file.
    const auto bmp =
        dir_.write("b.bmp", makeBmp(with([](BmpPlan& s) { s.bitDepth = 8, s.pixels.assign(8, 1); })));
    EXPECT_TRUE(ConvertBmpToPng(bmp).failed());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "b.png"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

TEST_F(ConvertBmpToPngTest, NoOutputForShortPathsOrOverTheInput) {
    const auto bytes = makeBmp(bmp32(picture32(1, 1)));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    std::filesystem::path shortName("x.bm");
    ASSERT_EQ(WriteWholeFile(shortName, asBytes(bytes)), kOk);
    EXPECT_TRUE(ConvertBmpToPng(shortName).failed());
    EXPECT_EQ(log_.front(), "Reading x.bm");  // read, but nothing written
    std::filesystem::current_path(cwd);

    const auto png = dir_.write("c.png", bytes);
    EXPECT_TRUE(ConvertBmpToPng(png).failed());
    EXPECT_EQ(testing::readBytes(png), bytes);
}

}  // namespace
}  // namespace kestrel
