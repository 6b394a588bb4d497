#include "core/images/alpha_draw.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/images/png_codec.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kUntouched = 0x12345678;

struct Canvas {
    Canvas(std::int32_t width, std::int32_t height)
        : pixels(static_cast<std::size_t>(width * height), kUntouched) {
        target = {pixels, width, height, width};
    }
    std::uint32_t at(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y * target.stride + x)];
    }
    std::vector<std::uint32_t> pixels;
    PixelTarget target;
};

// A 32-bit DIB from pixels given top row first as 0xAARRGGBB.
std::vector<std::byte> makeDib32(std::int32_t width, const std::vector<std::uint32_t>& topFirst,
                                 bool topDown = false) {
    ImageRecord record;
    record.width = width;
    record.height = static_cast<std::int32_t>(topFirst.size()) / width;
    record.bitDepth = 32;
    EXPECT_EQ(AllocateImageRecord(record), kOk);
    for (std::int32_t y = 0; y < record.height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t argb = topFirst[static_cast<std::size_t>(y * width + x)];
            for (int c = 0; c < 4; ++c)
                record.row(y)[4 * x + c] = static_cast<std::uint8_t>(argb >> (8 * c));
        }
    }
    std::vector<std::byte> dib;
    EXPECT_EQ(PngConverter().ImageRecordToDib(record, dib), kOk);
    if (topDown) {
        // Same picture stored top row first, with a negative height.
        const std::int32_t negative = -record.height;
        for (int i = 0; i < 4; ++i)
            dib[8 + i] = static_cast<std::byte>(static_cast<std::uint32_t>(negative) >> (8 * i));
        for (std::int32_t y = 0; y < record.height; ++y) {
            for (std::int32_t b = 0; b < 4 * width; ++b) {
                dib[static_cast<std::size_t>(40 + y * 4 * width + b)] =
                    static_cast<std::byte>(record.row(y)[b]);
            }
        }
    }
    return dib;
}

std::uint32_t grey(std::uint32_t value) {
    return 0xFF000000u | value * 0x010101u;
}

TEST(DrawAlphaDib, TransparentImageShowsTheCheckerboard) {
    const auto dib = makeDib32(24, std::vector<std::uint32_t>(24 * 24, 0x00FF0000));
    Canvas canvas(24, 24);
    ASSERT_EQ(DrawAlphaDib(asBytes(dib), canvas.target, 0, 0, 24, 24, 0, 0, 24, 24), kOk);
    // Squares of 6 counted from the bottom-left corner, white there.
    for (std::int32_t y = 0; y < 24; ++y) {
        for (std::int32_t x = 0; x < 24; ++x) {
            const std::int32_t fromBottom = 23 - y;
            const bool white = (x % 12 < 6) == (fromBottom % 12 < 6);
            ASSERT_EQ(canvas.at(x, y), grey(white ? 255 : 192)) << x << "," << y;
        }
    }
}

TEST(DrawAlphaDib, BlendsWithTheExactArithmetic) {
    // Pixels at white (0, bottom row) and grey (6, bottom row) squares.
    struct Case {
        std::uint32_t alpha;
        std::int32_t x;
        std::uint32_t expected;
    };
    for (const Case& c :
         {Case{128, 0, (100 * 129 + 127 * 255 + 127) >> 8}, Case{127, 0, (100 * 127 + 129 * 255 + 127) >> 8},
          Case{64, 6, (100 * 64 + 192 * 192 + 127) >> 8}, Case{1, 6, (100 * 1 + 255 * 192 + 127) >> 8},
          Case{255, 6, 100}, Case{0, 6, 192}}) {
        std::vector<std::uint32_t> pixels(12, 0);
        pixels[static_cast<std::size_t>(c.x)] = (c.alpha << 24) | 0x646464;
        const auto dib = makeDib32(12, pixels);
        Canvas canvas(12, 1);
        ASSERT_EQ(DrawAlphaDib(asBytes(dib), canvas.target, 0, 0, 12, 1, 0, 0, 12, 1), kOk);
        EXPECT_EQ(canvas.at(c.x, 0), grey(c.expected)) << c.alpha;
    }
    EXPECT_EQ(blendChannel(100, 128, 255), 177);
}

TEST(DrawAlphaDib, StretchesKeepingTheOrientation) {
    const std::uint32_t a = 0xFF0000FF, b = 0xFF00FF00, c = 0xFFFF0000, d = 0xFFFFFFFF;
    for (bool topDown : {false, true}) {
        const auto dib = makeDib32(2, {a, b, c, d}, topDown);
        Canvas canvas(4, 4);
        ASSERT_EQ(DrawAlphaDib(asBytes(dib), canvas.target, 0, 0, 4, 4, 0, 0, 2, 2), kOk);
        EXPECT_EQ(canvas.at(0, 0), a);
        EXPECT_EQ(canvas.at(1, 1), a);
        EXPECT_EQ(canvas.at(3, 0), b);
        EXPECT_EQ(canvas.at(0, 3), c);
        EXPECT_EQ(canvas.at(3, 3), d);

        // Source y counts from the bottom: row 0 of the source is the picture's bottom row.
        Canvas one(2, 1);
        ASSERT_EQ(DrawAlphaDib(asBytes(dib), one.target, 0, 0, 2, 1, 0, 0, 2, 1), kOk);
        EXPECT_EQ(one.at(0, 0), c);
        EXPECT_EQ(one.at(1, 0), d);
    }
}

TEST(DrawAlphaDib, ClipsToTheTarget) {
    const auto dib = makeDib32(4, std::vector<std::uint32_t>(16, 0xFF101010));
    Canvas canvas(3, 3);
    ASSERT_EQ(DrawAlphaDib(asBytes(dib), canvas.target, -2, 2, 4, 4, 0, 0, 4, 4), kOk);
    EXPECT_EQ(canvas.at(0, 2), 0xFF101010);
    EXPECT_EQ(canvas.at(1, 2), 0xFF101010);
    EXPECT_EQ(canvas.at(2, 2), kUntouched);
    EXPECT_EQ(canvas.at(0, 1), kUntouched);
    EXPECT_EQ(
        DrawAlphaDib(asBytes(dib), canvas.target, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, 0, 0, 4, 4),
        kOk);
    EXPECT_EQ(DrawAlphaDib(asBytes(dib), canvas.target, 0, 0, 0, 5, 0, 0, 4, 4), kOk);
}

TEST(DrawAlphaDib, RefusesWhatItCannotDrawSafely) {
    const auto dib = makeDib32(4, std::vector<std::uint32_t>(16, 0xFF101010));
    Canvas canvas(4, 4);
    const Bytes bytes = asBytes(dib);
    EXPECT_EQ(DrawAlphaDib(bytes.first(bytes.size() - 1), canvas.target, 0, 0, 4, 4, 0, 0, 4, 4),
              kInvalidArg);
    EXPECT_EQ(DrawAlphaDib(bytes, canvas.target, 0, 0, 4, 4, 1, 0, 4, 4), kInvalidArg);
    EXPECT_EQ(DrawAlphaDib(bytes, canvas.target, 0, 0, 4, 4, 0, -1, 4, 4), kInvalidArg);
    EXPECT_EQ(DrawAlphaDib(bytes, canvas.target, 0, 0, 4, 4, 0, 0, 0, 4), kInvalidArg);
    PixelTarget tooSmall = canvas.target;
    tooSmall.height = 5;
    EXPECT_EQ(DrawAlphaDib(bytes, tooSmall, 0, 0, 4, 4, 0, 0, 4, 4), kInvalidArg);

    // The same bytes called 24-bit are not drawn with alpha.
    auto dib24 = dib;
    dib24[14] = std::byte{24};
    EXPECT_EQ(DrawAlphaDib(asBytes(dib24), canvas.target, 0, 0, 4, 4, 0, 0, 4, 4), kInvalidArg);
    EXPECT_EQ(canvas.at(0, 0), kUntouched);
}

TEST(DrawAlphaDibFrame, DrawsTheChosenFrameOfAStrip) {
    const std::uint32_t red = 0xFFFF0000, blue = 0xFF0000FF;
    const auto dib = makeDib32(2, {red, red, red, red, blue, blue, blue, blue});
    Canvas canvas(4, 4);
    ASSERT_EQ(DrawAlphaDibFrame(asBytes(dib), canvas.target, 0, 0, 4, 4, 0, 0, 0, 0, 2, 1), kOk);
    for (std::uint32_t pixel : canvas.pixels)
        ASSERT_EQ(pixel, blue);
    ASSERT_EQ(DrawAlphaDibFrame(asBytes(dib), canvas.target, 0, 0, 4, 4, 0, 0, 0, 0, 2, 0), kOk);
    for (std::uint32_t pixel : canvas.pixels)
        ASSERT_EQ(pixel, red);
    EXPECT_EQ(DrawAlphaDibFrame(asBytes(dib), canvas.target, 0, 0, 4, 4, 0, 0, 0, 0, 2, 2), kInvalidArg);
    EXPECT_EQ(DrawAlphaDibFrame(asBytes(dib), canvas.target, 0, 0, 4, 4, 0, 0, 0, 0, 5, 0), kInvalidArg);
}

TEST(DrawAlphaDibFrame, MarginsKeepCornersAndStretchTheRest) {
    // 3 × 3 picture, every pixel its own colour; margins of one pixel, drawn into 5 × 5.
    std::vector<std::uint32_t> pixels;
    for (std::uint32_t i = 0; i < 9; ++i)
        pixels.push_back(0xFF000000u | (i + 1));
    const auto dib = makeDib32(3, pixels);
    Canvas canvas(5, 5);
    ASSERT_EQ(DrawAlphaDibFrame(asBytes(dib), canvas.target, 0, 0, 5, 5, 1, 1, 1, 1, 1, 0), kOk);
    auto colour = [](std::uint32_t index) { return 0xFF000000u | (index + 1); };
    EXPECT_EQ(canvas.at(0, 0), colour(0));
    EXPECT_EQ(canvas.at(4, 0), colour(2));
    EXPECT_EQ(canvas.at(0, 4), colour(6));
    EXPECT_EQ(canvas.at(4, 4), colour(8));
    for (std::int32_t i = 1; i < 4; ++i) {
        EXPECT_EQ(canvas.at(i, 0), colour(1));  // top edge
        EXPECT_EQ(canvas.at(0, i), colour(3));  // left edge
        EXPECT_EQ(canvas.at(4, i), colour(5));  // right edge
        EXPECT_EQ(canvas.at(i, 4), colour(7));  // bottom edge
        EXPECT_EQ(canvas.at(i, i), colour(4));  // centre
    }
}

}  // namespace
}  // namespace kestrel
