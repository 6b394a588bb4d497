// Writes the seed corpora of the BMP and PNG fuzz targets. Disabled: run it on purpose with
//   tests_images --gtest_also_run_disabled_tests --gtest_filter='*FuzzSeeds*'
// and commit what changed under fuzz/corpus/.
#include <gtest/gtest.h>

#include <string>

#include "core/images/png_codec.h"
#include "core/platform/files.h"
#include "image_builders.h"

namespace kestrel {
namespace {

using testing::BmpPlan;
using testing::PngPlan;

void writeSeed(const char* target, const std::string& name, const testing::ByteVector& bytes) {
    const auto folder = std::filesystem::path(KESTREL_SOURCE_DIR) / "fuzz" / "corpus" / target;
    ASSERT_EQ(CreateFolderPath(folder), kOk);
    ASSERT_EQ(WriteWholeFile(folder / name, asBytes(bytes)), kOk);
}

std::vector<testing::Row> rows(std::uint32_t width, std::uint32_t height, std::uint32_t bits) {
    std::vector<testing::Row> out;
    for (std::uint32_t y = 0; y < height; ++y) {
        testing::Row row((width * bits + 7) / 8);
        for (std::uint32_t x = 0; x < row.size(); ++x)
            row[x] = testing::patternByte(x, y, bits);
        out.push_back(row);
    }
    return out;
}

TEST(FuzzSeeds, DISABLED_Write) {
    for (std::uint16_t depth : {1, 4, 8, 24, 32}) {
        BmpPlan plan;
        plan.width = 5;
        plan.height = 3;
        plan.bitDepth = depth;
        if (depth <= 8) plan.palette.assign(4u << depth, 0x7F);
        plan.pixels.assign(static_cast<std::size_t>((5 * depth + 31) / 32 * 4 * 3), 0x5A);
        writeSeed("bmp_read", "depth" + std::to_string(depth) + ".bmp", testing::makeBmp(plan));
        plan.height = -3;
        writeSeed("bmp_read", "topdown" + std::to_string(depth) + ".bmp", testing::makeBmp(plan));
    }
    BmpPlan core{.headerSize = 12, .width = 3, .height = 2, .bitDepth = 4};
    core.palette.assign(48, 0x33);
    core.pixels.assign(8, 0x12);
    writeSeed("bmp_read", "core4.bmp", testing::makeBmp(core));
    BmpPlan prefixed{.width = 2, .height = 2, .bitDepth = 32, .prefix = 128};
    prefixed.pixels.assign(16, 0x80);
    writeSeed("bmp_read", "prefix32.bmp", testing::makeBmp(prefixed));
    BmpPlan v5{.headerSize = 124, .width = 2, .height = 2, .bitDepth = 32, .compression = 3};
    v5.pixels.assign(16, 0x80);
    writeSeed("bmp_read", "v5bitfields.bmp", testing::makeBmp(v5));

    struct Kind {
        int colorType;
        int depth;
        std::uint32_t bits;
    };
    for (const Kind& kind : {Kind{0, 1, 1},
                             {0, 2, 2},
                             {0, 16, 16},
                             {2, 8, 24},
                             {2, 16, 48},
                             {3, 2, 2},
                             {3, 8, 8},
                             {4, 8, 16},
                             {6, 8, 32},
                             {6, 16, 64}}) {
        PngPlan plan{.width = 9, .height = 5, .bitDepth = kind.depth, .colorType = kind.colorType};
        if (kind.colorType == 3) plan.plte.assign(12, 0x90);
        plan.rows = rows(9, 5, kind.bits);
        const std::string name = "type" + std::to_string(kind.colorType) + "_" + std::to_string(kind.depth);
        const auto png = testing::makePng(plan);
        writeSeed("png_read", name + ".png", png);
        ImageRecord record;
        std::vector<std::byte> interlaced;
        ASSERT_EQ(PngConverter().ReadPng(asBytes(png), record), kOk);
        ASSERT_EQ(WritePng(record, interlaced, {.interlace = 1}), kOk);
        writeSeed("png_read", name + "_interlaced.png", interlaced);
    }
    PngPlan trns{.width = 4,
                 .height = 2,
                 .bitDepth = 4,
                 .colorType = 3,
                 .plte = {1, 2, 3, 4, 5, 6},
                 .trns = testing::Row{9}};
    trns.rows = rows(4, 2, 4);
    writeSeed("png_read", "palette_trns.png", testing::makePng(trns));
    PngPlan prefixed2{.width = 2, .height = 2, .bitDepth = 8, .colorType = 2, .prefix = 128};
    prefixed2.rows = rows(2, 2, 24);
    writeSeed("png_read", "prefix.png", testing::makePng(prefixed2));
}

// Packed DIBs (no file header) for the DIB view target, which reads each as a bitmap and as an
// icon image.
TEST(FuzzSeeds, DISABLED_WriteDibView) {
    auto dib = [](const BmpPlan& plan) {
        const auto file = testing::makeBmp(plan);
        return testing::ByteVector(file.begin() + 14, file.end());
    };
    auto bytes = [](std::size_t count, std::uint8_t salt) {
        std::vector<std::uint8_t> out(count);
        for (std::size_t i = 0; i < count; ++i)
            out[i] = testing::patternByte(static_cast<std::uint32_t>(i), 0, salt);
        return out;
    };
    writeSeed("dib_view", "depth1.dib",
              dib({.width = 5, .height = 3, .bitDepth = 1, .palette = bytes(8, 1), .pixels = bytes(12, 2)}));
    writeSeed("dib_view", "core4.dib",
              dib({.headerSize = 12,
                   .width = 3,
                   .height = 2,
                   .bitDepth = 4,
                   .palette = bytes(48, 3),
                   .pixels = bytes(8, 4)}));
    writeSeed("dib_view", "rle8.dib",
              dib({.width = 4,
                   .height = 3,
                   .bitDepth = 8,
                   .compression = 1,
                   .colorsUsed = 8,
                   .palette = bytes(32, 5),
                   .pixels = {3, 5, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 0, 1, 7, 0, 1}}));
    writeSeed("dib_view", "rle4.dib",
              dib({.width = 5,
                   .height = 2,
                   .bitDepth = 4,
                   .compression = 2,
                   .palette = bytes(64, 6),
                   .pixels = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1}}));
    writeSeed("dib_view", "fields16.dib",
              dib({.width = 3,
                   .height = 2,
                   .bitDepth = 16,
                   .compression = 3,
                   .palette = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0},
                   .pixels = bytes(16, 7)}));
    writeSeed("dib_view", "topdown24.dib",
              dib({.width = 3, .height = -2, .bitDepth = 24, .pixels = bytes(24, 8)}));
    writeSeed("dib_view", "alphafields32.dib",
              dib({.width = 2,
                   .height = 2,
                   .bitDepth = 32,
                   .compression = 6,
                   .palette = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0xFF},
                   .pixels = bytes(16, 9)}));
    // A 4-bit icon image: 4 × 4 colour rows, then the 1-bit mask rows.
    writeSeed(
        "dib_view", "icon4.dib",
        dib({.width = 4, .height = 8, .bitDepth = 4, .palette = bytes(64, 10), .pixels = bytes(32, 11)}));
}

}  // namespace
}  // namespace kestrel
