// Compositing 32-bit DIBs with alpha over the white and grey checkerboard, as the image pane shows
// them. Pure functions over a caller's 32-bit pixel buffer; the GUI blits the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// A caller's pixel buffer: rows top-down, `stride` pixels apart, each pixel 0xFFRRGGBB (the layout
// of a 32-bit RGB image in memory on a little-endian machine).
struct PixelTarget {
    std::span<std::uint32_t> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
};

inline constexpr std::uint8_t kCheckerWhite = 255;
inline constexpr std::uint8_t kCheckerGrey = 192;
inline constexpr std::int32_t kCheckerSize = 6;

// One channel of a source pixel with `alpha` over `background`.
constexpr std::uint8_t blendChannel(std::uint32_t source, std::uint32_t alpha, std::uint32_t background) {
    const std::uint32_t a = alpha <= 127 ? alpha : alpha + 1;
    const std::uint32_t n = 256 - a;
    return static_cast<std::uint8_t>((source * a + n * background + 127) >> 8);
}

// Draws the source rectangle of a packed 32-bit DIB (blue, green, red, alpha), stretched onto the
// destination rectangle of `target` over the checkerboard. The destination is given top-down
// (x, y of its top-left corner); the source y counts rows from the bottom of the DIB, as DIB
// coordinates do. Pixels outside the target are clipped. E_INVALIDARG when the DIB is not a valid
// 32-bit DIB, the source rectangle is empty or outside the DIB, or the target is inconsistent; an
// empty destination draws nothing.
HResult DrawAlphaDib(Bytes dib, const PixelTarget& target, std::int32_t destX, std::int32_t destY,
                     std::int32_t destWidth, std::int32_t destHeight, std::int32_t sourceX,
                     std::int32_t sourceY, std::int32_t sourceWidth, std::int32_t sourceHeight);

// Draws frame `frameIndex` of a vertical strip of `frameCount` frames (frame 0 at the top) into the
// rectangle [left, right) × [top, bottom), split into a 3 × 3 grid by the margins: corners
// unscaled, edges stretched along their length, the centre both ways. Zero margins stretch the
// whole frame over the rectangle.
HResult DrawAlphaDibFrame(Bytes dib, const PixelTarget& target, std::int32_t left, std::int32_t top,
                          std::int32_t right, std::int32_t bottom, std::int32_t marginLeft,
                          std::int32_t marginTop, std::int32_t marginRight, std::int32_t marginBottom,
                          std::int32_t frameCount, std::int32_t frameIndex);

}  // namespace kestrel
