#include "core/images/colorize_engine.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "colorize_test_files.h"
#include "core/errors/errors.h"
#include "core/images/image_record.h"
#include "core/images/png_codec.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::bmpFile;
using testing::byteAt;
using testing::iconFile;
using testing::readBytes;
using testing::TempDir;
using testing::writeInfoHeader;

struct Rgb {
    int r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

Rgb recolor(const ColorizeEngine& engine, Rgb in) {
    auto r = static_cast<std::uint8_t>(in.r), g = static_cast<std::uint8_t>(in.g),
         b = static_cast<std::uint8_t>(in.b);
    engine.recolorColour(r, g, b);
    return {r, g, b};
}

// Hue 512 is a third of a turn: R' = G, G' = B, B' = R exactly, which makes expected pixels easy.
ColorizeEngine rotatingEngine() {
    ColorizeEngine engine;
    engine.BuildHueTables(512, 0, 0, 0, false, false);
    return engine;
}

// ----- Tables and the pixel rule -----

TEST(ColorizeTables, InitialTablesMapEveryColourToItself) {
    ColorizeEngine engine;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 7)
                ASSERT_EQ(recolor(engine, {r, g, b}), (Rgb{r, g, b}));
    EXPECT_EQ(recolor(engine, {255, 255, 255}), (Rgb{255, 255, 255}));
}

TEST(ColorizeTables, HalfTurnAveragesTheOtherTwoChannels) {
    ColorizeEngine engine;
    engine.BuildHueTables(768, 0, 0, 0, false, false);
    EXPECT_EQ(engine.mix(0)[255], 0);
    EXPECT_EQ(engine.mix(1)[255], 50 * 255);
    EXPECT_EQ(engine.mix(2)[255], 50 * 255);
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 13)
            for (int b = 0; b < 256; b += 11) {
                const Rgb expected{(50 * g + 50 * b + 50) / 100, (50 * b + 50 * r + 50) / 100,
                                   (50 * r + 50 * g + 50) / 100};
                ASSERT_EQ(recolor(engine, {r, g, b}), expected) << r << "," << g << "," << b;
            }
}

struct HueTwins {
    int hue;
    int sameAs;
};
class ColorizeHueTurns : public ::testing::TestWithParam<HueTwins> {};

TEST_P(ColorizeHueTurns, HuesOneTurnApartBuildTheSameTables) {
    ColorizeEngine a, b;
    a.BuildHueTables(GetParam().hue, 10, -20, 30, true, false);
    b.BuildHueTables(GetParam().sameAs, 10, -20, 30, true, false);
    for (int k = 0; k < ColorizeEngine::kMixTableCount; ++k)
        EXPECT_EQ(a.mix(k), b.mix(k)) << "table " << k;
}

// INT_MIN is 1024 modulo 1536; hues below −1536 must still land inside the turn.
INSTANTIATE_TEST_SUITE_P(Turns, ColorizeHueTurns,
                         ::testing::Values(HueTwins{-256, 1280}, HueTwins{1536, 0}, HueTwins{-1536, 0},
                                           HueTwins{3077, 5}, HueTwins{-3172, 1436}, HueTwins{INT_MIN, 1024},
                                           HueTwins{INT_MAX, 511}));

TEST(ColorizeTables, BrightnessOffsetsLinearAndCurve) {
    ColorizeEngine::MixTable table{};
    ColorizeEngine::BuildChannelTable(table, 255, 100, true);
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ((table[static_cast<std::size_t>(x)] + 50) / 100, 255) << x;

    // The curve has full effect at 127 and none at the ends.
    ColorizeEngine::BuildChannelTable(table, 100, 100, false);
    EXPECT_EQ((table[255] + 50) / 100, 255);
    EXPECT_EQ((table[0] + 50) / 100, 2);
    EXPECT_EQ((table[127] + 50) / 100, 227);

    // Negative results are limited to 0 before the weight applies.
    ColorizeEngine::BuildChannelTable(table, -300, 100, true);
    EXPECT_EQ(table[255], 0);
}

TEST(ColorizeTables, LightSourceMovesTheOffsetToTheInputChannel) {
    // Output red takes input green only; brightness +100 on red.
    const std::array<double, 9> weights{0, 100, 0, 0, 100, 0, 0, 0, 100};
    ColorizeEngine outputSide, inputSide;
    outputSide.BuildMatrixTables(weights, 100, 0, 0, false, true);
    inputSide.BuildMatrixTables(weights, 100, 0, 0, true, true);
    EXPECT_EQ(recolor(outputSide, {0, 0, 0}), (Rgb{100, 0, 0}));
    EXPECT_EQ(recolor(inputSide, {0, 0, 0}), (Rgb{0, 0, 0}));
    EXPECT_EQ(recolor(inputSide, {0, 50, 0}), (Rgb{50, 50, 0}));
}

TEST(ColorizeTables, SaturationMovesChannelsTowardsTheLuminance) {
    ColorizeEngine engine;
    engine.BuildSaturationTable(0, 255.0 / 256, false);  // setting −255
    engine.setSaturationOn(true);
    // Y = (25·200 + 55·100 + 20·50 + 50) / 100 = 115; distances 85, −15, −65 lose 84, −14, −64.
    EXPECT_EQ(recolor(engine, {200, 100, 50}), (Rgb{116, 114, 114}));
    EXPECT_EQ(recolor(engine, {90, 90, 90}), (Rgb{90, 90, 90}));

    engine.BuildSaturationTable(0, -255.0 / 256, false);  // setting +255 strengthens colours
    EXPECT_EQ(recolor(engine, {200, 100, 50}), (Rgb{255, 86, 0}));

    engine.BuildSaturationTable(0, 0, false);
    EXPECT_EQ(recolor(engine, {200, 100, 50}), (Rgb{200, 100, 50}));
}

TEST(ColorizeTables, ExtremeSettingsClampInsteadOfOverflowing) {
    ColorizeEngine engine;
    const double huge = 1e15;
    engine.BuildMatrixTables({huge, huge, huge, -huge, -huge, -huge, NAN, 0, 0}, 0, 0, 0, false, true);
    engine.BuildSaturationTable(1e300, -1e300, true);
    engine.setSaturationOn(true);
    const Rgb out = recolor(engine, {255, 255, 255});
    EXPECT_EQ(out.g, 0);
    engine.BuildHueTables(0, INT_MAX, INT_MIN, INT_MAX, true, false);
    (void)recolor(engine, {1, 2, 3});
}

// ----- Files -----

class ColorizeFiles : public ::testing::Test {
  protected:
    void TearDown() override { ClearErrorRecord(); }

    std::filesystem::path write(std::string_view name, const std::vector<std::byte>& bytes) {
        return dir_.write(name, bytes);
    }
    TempDir dir_;
    ColorizeEngine engine_ = rotatingEngine();
};

void setPixel24(std::vector<std::byte>& bytes, std::size_t at, Rgb colour) {
    bytes.at(at) = std::byte(colour.b);
    bytes.at(at + 1) = std::byte(colour.g);
    bytes.at(at + 2) = std::byte(colour.r);
}
Rgb pixel24(const std::vector<std::byte>& bytes, std::size_t at) {
    return {byteAt(bytes, at + 2), byteAt(bytes, at + 1), byteAt(bytes, at)};
}

// A 24-bit bitmap with a given header size (40, V4 108, V5 124), an optional colour table and
// top-down rows. Every byte that is not a pixel is filled with a marker so that a change shows.
struct Header24 {
    std::uint32_t headerSize;
    std::uint32_t coloursUsed;
    bool topDown;
};
class ColorizeHeaders : public ColorizeFiles, public ::testing::WithParamInterface<Header24> {};

TEST_P(ColorizeHeaders, OnlyThePixelsOfA24BitBitmapChange) {
    const Header24 header = GetParam();
    const int width = 5, height = 3;
    const std::size_t rowBytes = 16;
    ByteWriter dib;
    writeInfoHeader(dib, width, header.topDown ? -height : height, 24, 0, header.coloursUsed);
    dib.patchU32(0, header.headerSize);
    while (dib.size() < header.headerSize)
        dib.u8(0xAA);
    for (std::uint32_t i = 0; i < header.coloursUsed; ++i)
        dib.u32(0x00112233u + i);
    const std::size_t pixelOffset = 14 + dib.size();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            dib.u8(static_cast<std::uint32_t>(10 * x + 1));
            dib.u8(static_cast<std::uint32_t>(20 * y + 2));
            dib.u8(static_cast<std::uint32_t>(7 * x + 3 * y));
        }
        dib.u8(0xEE);  // row padding
    }
    std::vector<std::byte> before = bmpFile(dib.bytes(), static_cast<std::uint32_t>(pixelOffset));
    setPixel24(before, pixelOffset + 3, {255, 0, 255});  // key colour
    const auto path = write("Bitmap00001.BMP", before);

    ASSERT_EQ(engine_.RecolorFile(path), kOk);
    const auto after = readBytes(path);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < pixelOffset; ++i)
        ASSERT_EQ(after[i], before[i]) << "header byte " << i;
    for (int y = 0; y < height; ++y) {
        const std::size_t row = pixelOffset + static_cast<std::size_t>(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            const std::size_t at = row + 3 * static_cast<std::size_t>(x);
            const Rgb in = pixel24(before, at);
            const Rgb expected = in == Rgb{255, 0, 255} ? in : Rgb{in.g, in.b, in.r};
            EXPECT_EQ(pixel24(after, at), expected) << x << "," << y;
        }
        EXPECT_EQ(after[row + 15], std::byte{0xEE});
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, ColorizeHeaders,
                         ::testing::Values(Header24{40, 0, false}, Header24{40, 0, true},
                                           Header24{40, 3, false}, Header24{108, 0, false},
                                           Header24{124, 2, true}));

TEST_F(ColorizeFiles, PaletteKeepsTheKeyColourAndZeroesReservedBytes) {
    // 8 bits, 300 colours used: only the first 256 entries are recoloured.
    const std::uint32_t colours = 300;
    ByteWriter dib;
    writeInfoHeader(dib, 4, 2, 8, 0, colours);
    for (std::uint32_t i = 0; i < colours; ++i) {
        dib.u8(i & 0xFF);        // blue
        dib.u8((3 * i) & 0xFF);  // green
        dib.u8(100);             // red
        dib.u8(0x77);
    }
    for (int i = 0; i < 8; ++i)
        dib.u8(static_cast<std::uint32_t>(i));
    std::vector<std::byte> before = bmpFile(dib.bytes(), 54 + 4 * colours);
    const std::size_t magenta = 54 + 4 * 5;
    setPixel24(before, magenta, {255, 0, 255});
    const auto path = write("PAL.bmp", before);

    ASSERT_EQ(engine_.RecolorFile(path), kOk);
    const auto after = readBytes(path);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t entry = 0; entry < colours; ++entry) {
        const std::size_t at = 54 + 4 * entry;
        const Rgb in = pixel24(before, at);
        if (entry >= 256 || at == magenta) {
            EXPECT_EQ(pixel24(after, at), in) << entry;
            EXPECT_EQ(byteAt(after, at + 3), 0x77) << entry;
        } else {
            EXPECT_EQ(pixel24(after, at), (Rgb{in.g, in.b, in.r})) << entry;
            EXPECT_EQ(byteAt(after, at + 3), 0) << entry;
        }
    }
    for (std::size_t i = 54 + 4 * colours; i < after.size(); ++i)
        EXPECT_EQ(after[i], before[i]);
}

TEST_F(ColorizeFiles, ThirtyTwoBitPixelsRecolourMagentaAndKeepAlphaAndTrailingData) {
    ByteWriter dib;
    writeInfoHeader(dib, 3, 2, 32);
    for (int i = 0; i < 6; ++i) {
        dib.u8(255);
        dib.u8(static_cast<std::uint32_t>(i == 0 ? 0 : 40 * i));
        dib.u8(255);
        dib.u8(static_cast<std::uint32_t>(30 * i + 1));  // alpha
    }
    for (int i = 0; i < 8; ++i)
        dib.u8(0x5A);  // data after the pixels
    const auto before = bmpFile(dib.bytes(), 54);
    const auto path = write("A.BMP", before);
    ASSERT_EQ(engine_.RecolorFile(path), kOk);
    const auto after = readBytes(path);
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = 54 + 4 * i;
        const Rgb in = pixel24(before, at);
        EXPECT_EQ(pixel24(after, at), (Rgb{in.g, in.b, in.r})) << i;
        EXPECT_EQ(after[at + 3], before[at + 3]);
    }
    for (std::size_t i = 54 + 24; i < after.size(); ++i)
        EXPECT_EQ(after[i], before[i]);
}

struct Layout16 {
    bool bitfields565;
    int width;
};
class ColorizeSixteenBit : public ColorizeFiles, public ::testing::WithParamInterface<Layout16> {};

TEST_P(ColorizeSixteenBit, RowsKeepTheirPaddingPixel) {
    const auto [rgb565, width] = GetParam();
    const int height = 2;
    ByteWriter dib;
    writeInfoHeader(dib, width, height, 16, rgb565 ? 3 : 0);
    if (rgb565) {
        dib.u32(0xF800);
        dib.u32(0x07E0);
        dib.u32(0x001F);
    }
    const std::size_t pixelOffset = 14 + dib.size();
    const int rowPixels = width + (width & 1);
    std::vector<std::uint16_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < rowPixels; ++x) {
            const unsigned r = (3 * x + 1) & 31, g = (5 * y + 2 * x) & (rgb565 ? 63 : 31),
                           b = (7 * x + y) & 31;
            const std::uint16_t value = x >= width ? 0xFFFF
                                        : rgb565   ? static_cast<std::uint16_t>(r << 11 | g << 5 | b)
                                                 : static_cast<std::uint16_t>(0x8000 | r << 10 | g << 5 | b);
            pixels.push_back(value);
            dib.u16(value);
        }
    const auto path = write("P16.BMP", bmpFile(dib.bytes(), static_cast<std::uint32_t>(pixelOffset)));
    ASSERT_EQ(engine_.RecolorFile(path), kOk);
    const auto after = readBytes(path);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < rowPixels; ++x) {
            const std::size_t index = static_cast<std::size_t>(y * rowPixels + x);
            const std::size_t at = pixelOffset + 2 * index;
            const unsigned out = byteAt(after, at) | byteAt(after, at + 1) << 8;
            const unsigned in = pixels[index];
            unsigned expected;
            if (x >= width) {
                expected = in;
            } else if (rgb565) {
                // R' = G·4, G' = B·8, B' = R·8, packed back as R'/8, G'/4, B'/8.
                const unsigned r = in >> 11, g = (in >> 5) & 63, b = in & 31;
                expected = (g * 4 / 8) << 11 | (b * 8 / 4) << 5 | r;
            } else {
                const unsigned r = (in >> 10) & 31, g = (in >> 5) & 31, b = in & 31;
                expected = g << 10 | b << 5 | r;  // the top bit becomes 0
            }
            EXPECT_EQ(out, expected) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ColorizeSixteenBit,
                         ::testing::Values(Layout16{false, 3}, Layout16{false, 4}, Layout16{true, 3},
                                           Layout16{true, 1}));

struct IconCase {
    std::uint16_t bitCount;
    std::uint16_t type;
};
class ColorizeIcons : public ColorizeFiles, public ::testing::WithParamInterface<IconCase> {};

TEST_P(ColorizeIcons, OnlyTheColourImageChanges) {
    const auto [bitCount, type] = GetParam();
    const int size = 3;
    const std::size_t bytesPerPixel = bitCount / 8;
    const std::size_t rowBytes = (bytesPerPixel * size + 3) / 4 * 4;
    ByteWriter image;
    writeInfoHeader(image, size, 2 * size, bitCount);
    for (int y = 0; y < size; ++y) {
        for (std::size_t i = 0; i < rowBytes; ++i)
            image.u8(static_cast<std::uint32_t>(11 * y + 3 * i + 1));
    }
    for (int y = 0; y < size; ++y)
        image.u32(0xC3C3C3C3);  // the AND mask
    std::vector<std::byte> before = iconFile(image.bytes(), type);
    setPixel24(before, 62, {255, 0, 255});
    const auto path = write(type == 1 ? "Icon00001.ICO" : "Cursor00001.cur", before);

    ASSERT_EQ(engine_.RecolorFile(path), kOk);
    const auto after = readBytes(path);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < 62; ++i)
        ASSERT_EQ(after[i], before[i]) << "header byte " << i;
    for (std::size_t i = 62 + size * rowBytes; i < after.size(); ++i)
        ASSERT_EQ(after[i], before[i]) << i;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const std::size_t at = 62 + y * rowBytes + x * bytesPerPixel;
            const Rgb in = pixel24(before, at);
            const bool kept = bitCount == 24 && in == Rgb{255, 0, 255};
            const Rgb expected = kept ? in : Rgb{in.g, in.b, in.r};
            EXPECT_EQ(pixel24(after, at), expected) << x << "," << y;
            if (bitCount == 32) {
                EXPECT_EQ(after[at + 3], before[at + 3]);
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ColorizeIcons,
                         ::testing::Values(IconCase{24, 1}, IconCase{32, 1}, IconCase{24, 2}));

// Files whose headers claim more than the file holds: never a read or write outside the data; a
// header that does not fit fails with E_FAIL and leaves the file as it was.
struct HostileFile {
    const char* name;
    const char* fileName;
    std::vector<std::byte> (*make)();
    bool fails;
};

std::vector<std::byte> dibWith(std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                               std::size_t pixelBytes, std::uint32_t coloursUsed = 0) {
    ByteWriter dib;
    writeInfoHeader(dib, width, height, bitCount, 0, coloursUsed);
    for (std::size_t i = 0; i < pixelBytes; ++i)
        dib.u8(static_cast<std::uint32_t>(i * 7));
    return std::move(dib.bytes());
}

const HostileFile kHostileFiles[] = {
    {"TallerThanTheFile24", "a.BMP", [] { return bmpFile(dibWith(4, 1000000, 24, 30), 54); }, false},
    {"WiderThanTheFile24", "a.BMP", [] { return bmpFile(dibWith(INT_MAX, 3, 24, 31), 54); }, false},
    {"LowestHeight24", "a.BMP", [] { return bmpFile(dibWith(2, INT_MIN, 24, 20), 54); }, false},
    {"WiderThanTheFile16", "a.BMP", [] { return bmpFile(dibWith(INT_MAX, 2, 16, 13), 54); }, false},
    {"TallerThanTheFile32", "a.BMP", [] { return bmpFile(dibWith(5, 900000, 32, 37), 54); }, false},
    {"IconTallerThanTheFile", "a.ICO", [] { return iconFile(dibWith(64, INT_MAX, 32, 41)); }, false},
    {"IconWiderThanTheFile", "a.CUR", [] { return iconFile(dibWith(INT_MAX, 8, 24, 41), 2); }, false},
    {"PaletteBeyondTheFile", "a.BMP", [] { return bmpFile(dibWith(4, 4, 8, 10, 0xFFFFFFFF), 54 + 1024); },
     false},
    {"PixelOffsetBeyondTheFile", "a.BMP", [] { return bmpFile(dibWith(4, 4, 24, 48), 0xFFFFFFF0); }, false},
    {"PixelOffsetInsideTheHeader", "a.BMP", [] { return bmpFile(dibWith(4, 4, 24, 48), 40); }, true},
    {"HeaderSizeHuge", "a.BMP",
     [] {
         auto bytes = bmpFile(dibWith(4, 4, 24, 48), 54);
         bytes[14] = bytes[15] = bytes[16] = bytes[17] = std::byte{0xFF};
         return bytes;
     },
     true},
    {"HeaderLargerThanTheFile", "a.ICO",
     [] {
         auto bytes = iconFile(dibWith(4, 8, 24, 0));
         bytes[22] = std::byte{124};
         return bytes;
     },
     true},
    {"TruncatedHeader", "a.BMP", [] { return std::vector<std::byte>(30, std::byte{0x42}); }, true},
    {"NoSignature", "a.BMP",
     [] {
         auto bytes = bmpFile(dibWith(2, 2, 24, 16), 54);
         bytes[0] = std::byte{'X'};
         return bytes;
     },
     true},
    {"IconWithBadDirectory", "a.ICO",
     [] {
         auto bytes = iconFile(dibWith(2, 4, 24, 24));
         bytes[2] = std::byte{7};
         return bytes;
     },
     true},
    {"ZeroWidth", "a.BMP", [] { return bmpFile(dibWith(0, 2, 24, 16), 54); }, true},
    {"ShortIcon", "a.ICO", [] { return std::vector<std::byte>(21, std::byte{0}); }, true},
};

class ColorizeHostileFiles : public ColorizeFiles, public ::testing::WithParamInterface<HostileFile> {};

TEST_P(ColorizeHostileFiles, StayInsideTheData) {
    const auto before = GetParam().make();
    const auto path = write(GetParam().fileName, before);
    const HResult hr = engine_.RecolorFile(path);
    const auto after = readBytes(path);
    ASSERT_EQ(after.size(), before.size());
    if (GetParam().fails) {
        EXPECT_EQ(hr, kFail);
        EXPECT_EQ(after, before);
        ASSERT_TRUE(PeekErrorRecord().has_value());
        EXPECT_NE(PeekErrorRecord()->description.find(GetParam().fileName), std::string::npos);
    } else {
        EXPECT_EQ(hr, kOk);
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, ColorizeHostileFiles, ::testing::ValuesIn(kHostileFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ColorizeFiles, FormatsTheEngineDoesNotRecolourAreLeftAlone) {
    ByteWriter png;  // a PNG-compressed icon image
    for (unsigned c : {0x89u, 0x50u, 0x4Eu, 0x47u, 0x0Du, 0x0Au, 0x1Au, 0x0Au})
        png.u8(c);
    png.zeros(40);
    auto jpegBmp = bmpFile(dibWith(4, 4, 0, 40), 54);
    jpegBmp[14 + 16] = std::byte{4};  // BI_JPEG
    const std::vector<std::pair<const char*, std::vector<std::byte>>> files = {
        {"png.ICO", iconFile(png.bytes())},
        {"jpeg.BMP", jpegBmp},
        {"odd.BMP", bmpFile(dibWith(4, 4, 7, 40), 54)},
        // A bit count of 0 without JPEG or PNG data has no colour table: the 4 bytes before the
        // pixels are not a colour.
        {"nobits.BMP", bmpFile(dibWith(4, 4, 0, 40), 58)},
        {"notes.txt", testing::toBytes("hello BMP")},
    };
    for (const auto& [name, bytes] : files) {
        const auto path = write(name, bytes);
        EXPECT_EQ(engine_.RecolorFile(path), kOk) << name;
        EXPECT_EQ(readBytes(path), bytes) << name;
    }
}

TEST_F(ColorizeFiles, AFailedWriteLeavesTheOriginalAndIsReported) {
    const auto before = bmpFile(dibWith(16, 16, 24, 16 * 48), 54);
    const auto path = write("big.BMP", before);
    // A file size limit below the image makes the rewrite fail even for root.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const HResult hr = engine_.RecolorFile(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(hr.failed());
    EXPECT_EQ(readBytes(path), before);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path()))
        ++files;
    EXPECT_EQ(files, 1u) << "temporary file left behind";
    ASSERT_TRUE(PeekErrorRecord().has_value());
    EXPECT_NE(PeekErrorRecord()->description.find("big.BMP"), std::string::npos);
}

TEST_F(ColorizeFiles, FolderSkipsOtherFilesAndSubfoldersAndReturnsTheFirstFailure) {
    const auto good = bmpFile(dibWith(2, 2, 24, 16), 54);
    auto bad = good;
    bad[14] = std::byte{0x99};  // header size 153
    const auto pathA = write("a.BMP", good);
    const auto pathBad = write("b.BMP", bad);
    const auto pathText = write("c.txt", good);
    const auto pathSub = write("sub/d.BMP", good);
    const auto pathZ = write("z.bmp", good);
    const auto pathBadPng = write("e.png", testing::toBytes("not a png"));

    EXPECT_EQ(engine_.RecolorFolder(dir_.path()), kFail);
    EXPECT_NE(readBytes(pathA), good);
    EXPECT_NE(readBytes(pathZ), good) << "files after a failure are still recoloured";
    EXPECT_EQ(readBytes(pathBad), bad);
    EXPECT_EQ(readBytes(pathText), good);
    EXPECT_EQ(readBytes(pathSub), good);
    EXPECT_EQ(readBytes(pathBadPng), testing::toBytes("not a png"));
    ASSERT_TRUE(PeekErrorRecord().has_value());
    EXPECT_NE(PeekErrorRecord()->description.find("b.BMP"), std::string::npos);
    EXPECT_NE(PeekErrorRecord()->description.find("e.png"), std::string::npos);

    EXPECT_EQ(engine_.RecolorFolder(dir_ / "nowhere"), hresultFromWin32(win32::kFileNotFound));
}

TEST_F(ColorizeFiles, AFolderRunEndedByItsProgressLeavesTheRemainingFilesUntouched) {
    const auto good = bmpFile(dibWith(2, 2, 24, 16), 54);
    auto bad = good;
    bad[14] = std::byte{0x99};  // header size 153
    const auto pathA = write("a.BMP", good);
    const auto pathBad = write("b.bmp", bad);
    const auto pathC = write("c.bmp", good);
    const auto pathD = write("d.BMP", good);
    write("pe.xml", testing::toBytes("<x/>"));

    // Stopped after the second image: the failed file is not counted as done, and the text file
    // is not one of the images.
    std::vector<std::pair<std::size_t, std::size_t>> calls;
    ColorizeEngine::FolderRun run;
    const HResult hr = engine_.RecolorFolder(
        dir_.path(),
        [&](std::size_t tried, std::size_t total) {
            calls.emplace_back(tried, total);
            return tried < 2;
        },
        &run);
    EXPECT_EQ(hr, kFail);
    EXPECT_EQ(calls, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 4}, {2, 4}}));
    EXPECT_EQ(run.files, 4u);
    EXPECT_EQ(run.done, 1u);
    EXPECT_TRUE(run.stopped);
    EXPECT_NE(readBytes(pathA), good);
    EXPECT_EQ(readBytes(pathBad), bad);
    EXPECT_EQ(readBytes(pathC), good);
    EXPECT_EQ(readBytes(pathD), good);

    // A stop asked after the last file ends nothing.
    const auto stopAtTheEnd = [](std::size_t tried, std::size_t total) { return tried < total; };
    EXPECT_EQ(engine_.RecolorFolder(dir_.path(), stopAtTheEnd, &run), kFail);
    EXPECT_FALSE(run.stopped);
    EXPECT_EQ(run.done, 3u);
    EXPECT_NE(readBytes(pathD), good);

    // Several folders make one run; one that cannot be read is reported and the others still run.
    const auto pathE = write("e/e.BMP", good);
    EXPECT_EQ(
        engine_.RecolorFolders(std::vector<std::filesystem::path>{dir_ / "nowhere", dir_ / "e"}, {}, &run),
        hresultFromWin32(win32::kFileNotFound));
    EXPECT_EQ(run.files, 1u);
    EXPECT_NE(readBytes(pathE), good);
}

// ----- PNG files and in-memory DIBs -----

std::vector<std::byte> pngOf(std::int32_t width, std::int32_t height, std::int32_t bitDepth) {
    ImageRecord record;
    record.width = width;
    record.height = height;
    record.bitDepth = bitDepth;
    record.paletteCount = bitDepth <= 8 ? 1u << bitDepth : 0;
    EXPECT_EQ(AllocateImageRecord(record), kOk);
    for (std::size_t i = 0; i < record.pixels.size(); ++i)
        record.pixels[i] = static_cast<std::uint8_t>(i * 13);
    for (std::size_t i = 0; i < record.palette.size(); ++i)
        record.palette[i] = static_cast<std::uint8_t>(i);
    std::vector<std::byte> png;
    EXPECT_EQ(WritePng(record, png), kOk);
    return png;
}

TEST_F(ColorizeFiles, ThirtyTwoBitPngIsRecolouredWithItsAlpha) {
    const auto path = write("Bitmap00001.png", pngOf(3, 2, 32));
    const PngConverter codec;
    ImageRecord before, after;
    ASSERT_EQ(codec.ReadPngFile(path, before), kOk);
    ASSERT_EQ(engine_.RecolorFile(path), kOk);
    ASSERT_EQ(codec.ReadPngFile(path, after), kOk);
    ASSERT_EQ(after.bitDepth, 32);
    ASSERT_EQ(after.pixels.size(), before.pixels.size());
    for (std::size_t i = 0; i < before.pixels.size(); i += 4) {
        EXPECT_EQ(after.pixels[i], before.pixels[i + 2]);      // B' = R
        EXPECT_EQ(after.pixels[i + 1], before.pixels[i]);      // G' = B
        EXPECT_EQ(after.pixels[i + 2], before.pixels[i + 1]);  // R' = G
        EXPECT_EQ(after.pixels[i + 3], before.pixels[i + 3]);
    }
}

// What the image pane previews of a PNG (its DIB recoloured) is what the file gets: a palette PNG
// keeps its palette size, an icon stored as PNG is rewritten with its directory entry's size.
TEST_F(ColorizeFiles, PngFilesAndPngIconImagesAreRecolouredAsThePreviewShowsThem) {
    const PngConverter codec;
    auto previewOf = [&](const std::vector<std::byte>& png) {
        ImageRecord record;
        std::vector<std::byte> dib;
        EXPECT_EQ(codec.ReadPng(asBytes(png), record), kOk);
        EXPECT_EQ(codec.ImageRecordToDib(record, dib), kOk);
        EXPECT_EQ(engine_.RecolorDib(dib), kOk);
        return dib;
    };
    auto dibOf = [&](Bytes png) {
        ImageRecord record;
        std::vector<std::byte> dib;
        EXPECT_EQ(codec.ReadPng(png, record), kOk);
        EXPECT_EQ(codec.ImageRecordToDib(record, dib), kOk);
        return dib;
    };
    for (std::int32_t depth : {1, 4, 8, 24, 32}) {
        SCOPED_TRACE(depth);
        const auto png = pngOf(5, 3, depth);
        const auto path = write("Bitmap00002.PNG", png);
        ASSERT_EQ(engine_.RecolorFile(path), kOk);
        const auto after = readBytes(path);
        EXPECT_NE(after, png);
        EXPECT_EQ(dibOf(asBytes(after)), previewOf(png));
    }

    // The import's 256-pixel icons: a PNG image after a one-entry directory.
    const auto png = pngOf(7, 6, 32);
    const auto icon = write("Icon00570.ICO", iconFile(png));
    ASSERT_EQ(engine_.RecolorFile(icon), kOk);
    const auto after = readBytes(icon);
    const ByteReader reader(asBytes(after));
    ASSERT_GT(after.size(), 22u);
    EXPECT_EQ(reader.u32Or(14, 0), after.size() - 22);  // the entry's byte count
    EXPECT_EQ(reader.u32Or(18, 0), 22u);
    EXPECT_EQ(dibOf(asBytes(after).subspan(22)), previewOf(png));
}

TEST(ColorizeDib, ADibWhoseRowsDoNotFitIsRefusedUntouched) {
    ByteWriter dib;
    writeInfoHeader(dib, 1, 2, 24);
    dib.zeros(6);  // the second row is missing
    std::vector<std::byte> bytes = dib.bytes();
    EXPECT_EQ(rotatingEngine().RecolorDib(bytes), kFail);
    EXPECT_EQ(bytes, dib.bytes());
}

// The pixel rule computed literally from the engine's public tables: the oracle for the image loops,
// which take a faster route for ordinary settings and the literal one for extreme ones.
Rgb referenceColour(const ColorizeEngine& engine, Rgb in) {
    auto clamp = [](int v) { return std::clamp(v, 0, 255); };
    int r = (engine.mix(0)[in.r] + engine.mix(1)[in.g] + engine.mix(2)[in.b] + 50) / 100;
    int g = (engine.mix(3)[in.r] + engine.mix(4)[in.g] + engine.mix(5)[in.b] + 50) / 100;
    int b = (engine.mix(6)[in.r] + engine.mix(7)[in.g] + engine.mix(8)[in.b] + 50) / 100;
    if (engine.saturationOn()) {
        r = clamp(r), g = clamp(g), b = clamp(b);
        const int y = (25 * r + 55 * g + 20 * b + 50) / 100;
        r -= engine.saturation(r - y);
        g -= engine.saturation(g - y);
        b -= engine.saturation(b - y);
    }
    return {clamp(r), clamp(g), clamp(b)};
}

struct Setting {
    const char* name;
    void (*apply)(ColorizeEngine&);
    // Whether the tables suit the 64-pixel path (sums within 16 bits) and the 8-pixel path (entries
    // within the packed lanes): the cases lie on both sides of each limit, so that the comparisons
    // with the scalar loop also go through the narrower loops the wide ones fall back to.
    bool sliced = true;
    bool packed = true;
};

void PrintTo(const Setting& setting, std::ostream* out) {
    *out << setting.name;
}

const Setting kSettings[] = {
    {"Identity", [](ColorizeEngine&) {}},
    {"HueBrightnessCurve", [](ColorizeEngine& e) { e.BuildHueTables(300, 40, -25, 90, true, false); }},
    {"HueSaturation",
     [](ColorizeEngine& e) {
         e.BuildHueTables(-700, -30, 10, 0, false, true);
         e.BuildSaturationTable(0, -200.0 / 256, false);
         e.setSaturationOn(true);
     }},
    {"NegativeWeightsDesaturated",
     [](ColorizeEngine& e) {
         e.BuildMatrixTables({30, 70, 0, 0, 40, 60, -10, 40, 60}, -255, 0, 255, false, false);
         e.BuildSaturationTable(0, 255.0 / 256, false);
         e.setSaturationOn(true);
     }},
    {"LargestTypedWeights",
     [](ColorizeEngine& e) {
         e.BuildMatrixTables({999, -99, 999, -99, 999, -99, 999, 999, 999}, 255, 255, -255, true, true);
     }},
    {"BeyondTheFastRange",
     [](ColorizeEngine& e) {
         e.BuildMatrixTables({1100, -1100, 5, 0, 100, 0, 0, 0, 100}, 0, 0, 0, false, true);
         e.setSaturationOn(true);
         e.BuildSaturationTable(10, 3.5, true);
     },
     false, false},
    // Red's most negative sum plus 50 is −40035 (−157.2 × 255 rounds to −40085): the largest deficit
    // the 16-bit sums take, with entries of 999 % that saturate them.
    {"DeficitAtTheSlicedLimit",
     [](ColorizeEngine& e) {
         e.BuildMatrixTables({999, -157.2, 999, 0, 100, 0, -20, 0, 999}, 0, 0, 0, false, true);
         e.BuildSaturationTable(0, -255.0 / 256, false);
         e.setSaturationOn(true);
     }},
    {"DeficitBeyondTheSlicedLimit",
     [](ColorizeEngine& e) {
         e.BuildMatrixTables({999, -157.21, 999, 0, 100, 0, 0, 0, 100}, 0, 0, 0, false, true);
     },
     false, true},
    // Entries at the table limit (2^28) with moderate negative ones: too large for the packed lanes,
    // not for the sliced sums.
    {"HugeWeightsWithSmallNegativeOnes",
     [](ColorizeEngine& e) {
         e.BuildMatrixTables({1e7, -50, 0, 0, 1e7, -100, -30, 0, 1e9}, 20, -20, 0, true, false);
     },
     true, false},
    // Amount at distance 0 is −21: channels equal to the luminance are raised.
    {"SaturationAtZeroDistance",
     [](ColorizeEngine& e) {
         e.BuildHueTables(900, 10, 0, -10, false, false);
         e.BuildSaturationTable(30, 0.7, true);
         e.setSaturationOn(true);
     }},
    // Amounts of ±65536 (the table limit), +65536 at distance 0.
    {"SaturationBeyondEveryChannel",
     [](ColorizeEngine& e) {
         e.BuildHueTables(100, 0, 0, 0, false, true);
         e.BuildSaturationTable(1e300, -1e300, true);
         e.setSaturationOn(true);
     }},
};

class ColorizeImageLoops : public ::testing::TestWithParam<Setting> {};

TEST_P(ColorizeImageLoops, MatchThePixelRule) {
    ColorizeEngine engine;
    GetParam().apply(engine);
    for (std::uint16_t bitCount : {24, 32}) {
        const int width = 97, height = 61;
        const std::size_t bytesPerPixel = bitCount / 8;
        const std::size_t rowBytes = (bytesPerPixel * width + 3) / 4 * 4;
        ByteWriter dib;
        writeInfoHeader(dib, width, height, bitCount);
        // Random colours, runs of one colour and magenta pixels; random padding and alpha.
        std::uint32_t state = 12345;
        auto next = [&state] {
            state = state * 1103515245u + 12345u;
            return state >> 8;
        };
        std::uint32_t colour = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::uint32_t choice = next() % 8;
                if (y % 4 == 0 && x > 0) {
                    // a flat row
                } else if (choice == 0) {
                    colour = 0xFF00FF;
                } else if (choice >= 4) {
                    colour = next() & 0xFFFFFF;
                }
                dib.u8(colour & 0xFF);
                dib.u8((colour >> 8) & 0xFF);
                dib.u8(colour >> 16);
                if (bitCount == 32) dib.u8(next() & 0xFF);
            }
            for (std::size_t pad = bytesPerPixel * width; pad < rowBytes; ++pad)
                dib.u8(next() & 0xFF);
        }
        const std::vector<std::byte> before = dib.bytes();
        std::vector<std::byte> after = before;
        ASSERT_EQ(engine.RecolorDib(after), kOk);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const std::size_t at = 40 + y * rowBytes + x * bytesPerPixel;
                const Rgb in = pixel24(before, at);
                const bool key = bitCount == 24 && in == Rgb{255, 0, 255};
                ASSERT_EQ(pixel24(after, at), key ? in : referenceColour(engine, in))
                    << bitCount << " bits at " << x << "," << y;
            }
    }
}

using VectorPath = ColorizeEngine::VectorPath;

// The paths this processor can run, narrowest first.
std::vector<VectorPath> runnablePaths() {
    std::vector<VectorPath> paths;
    for (VectorPath path : {VectorPath::kScalar, VectorPath::kAvx2, VectorPath::kAvx512Vbmi})
        if (path <= ColorizeEngine::BestVectorPath()) paths.push_back(path);
    return paths;
}

const char* pathName(VectorPath path) {
    switch (path) {
        case VectorPath::kScalar:
            return "scalar";
        case VectorPath::kAvx2:
            return "AVX2";
        case VectorPath::kAvx512Vbmi:
            return "AVX-512";
    }
    return "?";
}

// A DIB of random pixels: new colours, runs of one colour (longer than a vector), greys, the key
// colour; random alpha and row padding.
std::vector<std::byte> noisyDib(int width, int height, std::uint16_t bitCount, std::uint32_t seed) {
    const std::size_t bytesPerPixel = bitCount / 8;
    const std::size_t rowBytes = (bytesPerPixel * static_cast<std::size_t>(width) + 3) / 4 * 4;
    ByteWriter dib;
    writeInfoHeader(dib, width, height, bitCount);
    std::uint32_t state = seed;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    std::uint32_t colour = 0, run = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (run > 0) {
                --run;
            } else {
                const std::uint32_t choice = next() % 16;
                if (choice == 0) {
                    colour = 0xFF00FF;
                } else if (choice == 1) {
                    colour = (next() & 0xFF) * 0x010101;
                } else if (choice == 2) {
                    run = next() % 150;
                } else {
                    colour = next() & 0xFFFFFF;
                }
            }
            dib.u8(colour & 0xFF);
            dib.u8((colour >> 8) & 0xFF);
            dib.u8(colour >> 16);
            if (bitCount == 32) dib.u8(next() & 0xFF);
        }
        for (std::size_t pad = bytesPerPixel * static_cast<std::size_t>(width); pad < rowBytes; ++pad)
            dib.u8(next() & 0xFF);
    }
    return dib.bytes();
}

// Every pixel of `after` is the pixel rule on `before` (the key colour kept in 24 bits); every
// other byte, alpha and row padding included, is unchanged.
::testing::AssertionResult followsThePixelRule(const ColorizeEngine& engine,
                                               const std::vector<std::byte>& before,
                                               const std::vector<std::byte>& after, int width,
                                               std::uint16_t bitCount) {
    if (after.size() != before.size()) return ::testing::AssertionFailure() << "size changed";
    const std::size_t bytesPerPixel = bitCount / 8;
    const std::size_t rowBytes = (bytesPerPixel * static_cast<std::size_t>(width) + 3) / 4 * 4;
    for (std::size_t at = 0; at < before.size(); ++at) {
        const std::size_t inRow = at < 40 ? rowBytes : (at - 40) % rowBytes;
        if (inRow < bytesPerPixel * static_cast<std::size_t>(width) && inRow % bytesPerPixel == 0) {
            const Rgb in = pixel24(before, at);
            const bool key = bitCount == 24 && in == Rgb{255, 0, 255};
            const Rgb expected = key ? in : referenceColour(engine, in);
            if (pixel24(after, at) != expected)
                return ::testing::AssertionFailure()
                       << "pixel " << (at - 40) / rowBytes << ":" << inRow / bytesPerPixel << " (" << in.r
                       << "," << in.g << "," << in.b << ") became (" << pixel24(after, at).r << ","
                       << pixel24(after, at).g << "," << pixel24(after, at).b << "), not (" << expected.r
                       << "," << expected.g << "," << expected.b << ")";
            at += 2;
        } else if (after[at] != before[at]) {
            return ::testing::AssertionFailure() << "byte " << at << " is not a colour but changed";
        }
    }
    return ::testing::AssertionSuccess();
}

// Whichever loop the processor and the settings lead to (the widest one by default), a recoloured
// picture is byte for byte what the scalar loop makes of it.
TEST_P(ColorizeImageLoops, EveryPathWritesWhatTheScalarLoopWrites) {
    ColorizeEngine scalar;
    GetParam().apply(scalar);
    scalar.setVectorLimit(VectorPath::kScalar);
    for (std::uint16_t bitCount : {24, 32}) {
        const std::vector<std::byte> before = noisyDib(203, 5, bitCount, 7);
        std::vector<std::byte> expected = before;
        ASSERT_EQ(scalar.RecolorDib(expected), kOk);
        for (const std::optional<VectorPath> limit :
             {std::optional<VectorPath>(), std::optional(VectorPath::kAvx512Vbmi),
              std::optional(VectorPath::kAvx2)}) {
            ColorizeEngine engine;
            GetParam().apply(engine);
            if (limit) engine.setVectorLimit(*limit);
            std::vector<std::byte> after = before;
            ASSERT_EQ(engine.RecolorDib(after), kOk);
            EXPECT_EQ(after, expected)
                << (limit ? pathName(*limit) : "default") << ", " << bitCount << " bits";
        }
    }
}

// Widths around every multiple of the vector sizes (8 and 64 pixels), so that each path leaves
// every possible remainder to the next; 24-bit rows then end in 0 to 3 padding bytes.
constexpr int kWidths[] = {1,  2,  3,  5,  7,  8,  9,   15,  16,  17,  56,  63,
                           64, 65, 66, 71, 72, 73, 127, 128, 129, 130, 199, 200};

TEST_P(ColorizeImageLoops, EveryPathMatchesThePixelRuleAtEveryRowWidth) {
    for (VectorPath path : runnablePaths()) {
        ColorizeEngine engine;
        GetParam().apply(engine);
        engine.setVectorLimit(path);
        for (std::uint16_t bitCount : {24, 32})
            for (int width : kWidths) {
                const std::vector<std::byte> before =
                    noisyDib(width, 3, bitCount, static_cast<std::uint32_t>(width));
                std::vector<std::byte> after = before;
                ASSERT_EQ(engine.RecolorDib(after), kOk);
                ASSERT_TRUE(followsThePixelRule(engine, before, after, width, bitCount))
                    << pathName(path) << ", " << bitCount << " bits, width " << width;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, ColorizeImageLoops, ::testing::ValuesIn(kSettings),
                         [](const auto& info) { return std::string(info.param.name); });

// A file whose last row is cut short: the whole pixels in it are recoloured, on every path, and not
// a byte beyond the file is read or written (the sanitizer build checks the second part).
TEST_F(ColorizeFiles, ARowCutShortByTheEndOfTheFileIsRecolouredUpToItsLastWholePixel) {
    const int width = 150, height = 2, wholePixels = 70;
    for (VectorPath path : runnablePaths()) {
        ColorizeEngine engine = rotatingEngine();
        engine.setVectorLimit(path);
        for (std::uint16_t bitCount : {24, 32}) {
            const std::size_t bytesPerPixel = bitCount / 8;
            const std::size_t rowBytes = (bytesPerPixel * width + 3) / 4 * 4;
            std::vector<std::byte> dib = noisyDib(width, height, bitCount, 99);
            dib.resize(40 + rowBytes + bytesPerPixel * wholePixels + 2);
            const auto before = bmpFile(dib, 54);
            const auto file = write(bitCount == 24 ? "Cut24.bmp" : "Cut32.bmp", before);
            ASSERT_EQ(engine.RecolorFile(file), kOk);
            const auto after = readBytes(file);
            ASSERT_EQ(after.size(), before.size());
            const std::size_t lastRowEnd = 54 + rowBytes + bytesPerPixel * wholePixels;
            for (std::size_t at = 54; at < after.size(); ++at) {
                const std::size_t inRow = (at - 54) % rowBytes;
                if (at >= lastRowEnd || inRow >= bytesPerPixel * width || inRow % bytesPerPixel == 3) {
                    ASSERT_EQ(after[at], before[at])
                        << pathName(path) << ", " << bitCount << " bits, byte " << at;
                } else if (inRow % bytesPerPixel == 0) {
                    const Rgb in = pixel24(before, at);
                    const bool key = bitCount == 24 && in == Rgb{255, 0, 255};
                    ASSERT_EQ(pixel24(after, at), key ? in : (Rgb{in.g, in.b, in.r}))
                        << pathName(path) << ", " << bitCount << " bits, byte " << at;
                }
            }
        }
    }
}

}  // namespace
}  // namespace kestrel
