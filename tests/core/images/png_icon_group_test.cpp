// Icon files made from one PNG picture: eight sizes largest first, the 256-pixel image as PNG, the
// others as 32-bit DIBs with AND masks that decode to the resampled picture.
#include "core/images/png_icon_group.h"

#include <gtest/gtest.h>
#include <stb/stb_image_resize.h>

#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/png_codec.h"
#include "image_builders.h"

namespace kestrel {
namespace {

using testing::makePng;
using testing::PngPlan;

// An RGBA picture: a colour pattern, a fully transparent top-left quarter and a half-transparent
// band, so that resampling mixes colour with alpha.
PngPlan squarePicture(std::uint32_t size) {
    PngPlan plan{.width = size, .height = size, .colorType = 6};
    for (std::uint32_t y = 0; y < size; ++y) {
        testing::Row& row = plan.rows.emplace_back();
        for (std::uint32_t x = 0; x < size; ++x) {
            const bool clear = x < size / 2 && y < size / 2;
            row.insert(row.end(), {testing::patternByte(x, y, 1), static_cast<std::uint8_t>(x * 255 / size),
                                   testing::patternByte(x, y, 3),
                                   static_cast<std::uint8_t>(clear ? 0 : (y % 16 < 4 ? 128 : 255))});
        }
    }
    return plan;
}

// What the picture becomes at `size`, through the same resampler, as decoded pixels.
std::vector<std::uint32_t> expectedPixels(const PngPlan& plan, int size) {
    std::vector<std::uint8_t> source;
    for (const testing::Row& row : plan.rows)
        source.insert(source.end(), row.begin(), row.end());
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size * size * 4));
    const int width = static_cast<int>(plan.width);
    EXPECT_EQ(stbir_resize_uint8_srgb(source.data(), width, width, 0, out.data(), size, size, 0, 4, 3, 0), 1);
    std::vector<std::uint32_t> pixels;
    for (std::size_t i = 0; i < out.size(); i += 4)
        pixels.push_back(std::uint32_t{out[i + 3]} << 24 | std::uint32_t{out[i]} << 16 |
                         std::uint32_t{out[i + 1]} << 8 | out[i + 2]);
    return pixels;
}

Bytes member(const std::vector<std::byte>& icon, const IconDirectoryEntry& entry) {
    return Bytes(icon).subspan(entry.imageOffset, entry.imageBytes);
}

TEST(PngIconGroupTest, MakesEightSizesLargestFirstThatDecodeToTheResampledPicture) {
    const PngPlan plan = squarePicture(300);
    std::vector<std::byte> icon;
    ASSERT_TRUE(MakeIconFileFromPng(makePng(plan), icon).succeeded());
    IconDirectory directory;
    ASSERT_EQ(ReadIconDirectory(icon, directory), kOk);
    EXPECT_EQ(directory.type, kIconFileType);
    ASSERT_EQ(directory.entries.size(), kPngIconSizes.size());

    for (std::size_t i = 0; i < kPngIconSizes.size(); ++i) {
        const int size = kPngIconSizes[i];
        const IconDirectoryEntry& entry = directory.entries[i];
        SCOPED_TRACE(size);
        EXPECT_EQ(entry.width, size & 0xFF);
        EXPECT_EQ(entry.height, size & 0xFF);
        EXPECT_EQ(entry.bitCount, 32);
        ASSERT_LE(std::uint64_t{entry.imageOffset} + entry.imageBytes, icon.size());
        const Bytes image = member(icon, entry);
        RgbaImage decoded;
        if (size == 256) {
            ASSERT_TRUE(HasPngSignature(image));
            ImageRecord record;
            std::vector<std::byte> dib;
            PngConverter converter;
            ASSERT_TRUE(converter.ReadPng(image, record).succeeded());
            ASSERT_TRUE(converter.ImageRecordToDib(record, dib).succeeded());
            ASSERT_TRUE(DecodeDib(dib, decoded).succeeded());
        } else {
            ASSERT_FALSE(HasPngSignature(image));
            ASSERT_TRUE(DecodeDib(image, decoded, DibLayout::kIconImage).succeeded());
            // The AND mask (after the colour rows, bottom-up) is set exactly where alpha is 0.
            const std::size_t maskRow = static_cast<std::size_t>((size + 31) / 32 * 4);
            const Bytes mask = image.subspan(40 + static_cast<std::size_t>(size * size * 4));
            ASSERT_EQ(mask.size(), maskRow * static_cast<std::size_t>(size));
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const bool set = (std::to_integer<unsigned>(
                                          mask[static_cast<std::size_t>(size - 1 - y) * maskRow + x / 8]) >>
                                      (7 - x % 8)) &
                                     1;
                    EXPECT_EQ(set, decoded.pixels[static_cast<std::size_t>(y * size + x)] >> 24 == 0);
                }
        }
        EXPECT_EQ(decoded.width, size);
        EXPECT_EQ(decoded.height, size);
        EXPECT_EQ(decoded.pixels, expectedPixels(plan, size));
    }
}

TEST(PngIconGroupTest, APictureOf256PixelsIsItsOwnLargestImage) {
    const std::vector<std::byte> png = makePng(squarePicture(256));
    std::vector<std::byte> icon;
    ASSERT_TRUE(MakeIconFileFromPng(png, icon).succeeded());
    IconDirectory directory;
    ASSERT_EQ(ReadIconDirectory(icon, directory), kOk);
    ASSERT_FALSE(directory.entries.empty());
    const Bytes first = member(icon, directory.entries.front());
    EXPECT_EQ(std::vector<std::byte>(first.begin(), first.end()), png);
}

TEST(PngIconGroupTest, RefusesPicturesThatAreNotSquarePngs) {
    PngPlan wide = squarePicture(32);
    wide.width = 16;
    for (testing::Row& row : wide.rows)
        row.resize(16 * 4);
    std::vector<std::byte> icon{std::byte{1}};
    EXPECT_EQ(MakeIconFileFromPng(makePng(wide), icon), kInvalidArg);
    EXPECT_TRUE(icon.empty());
    const std::vector<std::byte> broken(kPngSignatureSize + 4, std::byte{0x89});
    EXPECT_EQ(MakeIconFileFromPng(broken, icon), kInvalidArg);
}

}  // namespace
}  // namespace kestrel
