// One decoded image in BMP byte order, shared by the BMP reader, the PNG codec and the colorize
// engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/platform/status.h"

namespace kestrel {

// Largest pixel buffer a record may hold. Bitmaps in resource sections are far smaller; the cap
// keeps hostile headers from asking for gigabytes, and keeps every size within the signed 32-bit
// fields below.
inline constexpr std::uint64_t kMaxImageBytes = std::uint64_t{256} << 20;

// Bytes per stored row: ((bitDepth × width + 31) / 32) × 4, in 64 bits so that no field of a
// hostile header can overflow it.
constexpr std::uint64_t storedRowBytes(std::uint64_t width, std::uint64_t bitDepth) {
    return (bitDepth * width + 31) / 32 * 4;
}

// The record owns its buffers; it can be moved but not copied (the row table points into the pixel
// buffer, which a move keeps in place).
struct ImageRecord {
    std::int32_t width = 0;          // pixels per row, > 0
    std::int32_t height = 0;         // rows, > 0
    std::int32_t bitDepth = 0;       // 1, 4, 8, 24 or 32
    std::uint32_t paletteCount = 0;  // 0 for 24 and 32 bits
    bool topDown = false;            // first stored row is the top row
    std::int32_t rowBytes = 0;       // storedRowBytes(width, bitDepth)
    std::int32_t imageBytes = 0;     // rowBytes × height
    // Resolution in pixels per metre, as a BMP header stores it (biXPelsPerMeter, biYPelsPerMeter);
    // 0 when unknown.
    std::int32_t xPixelsPerMetre = 0;
    std::int32_t yPixelsPerMetre = 0;

    std::vector<std::uint8_t> palette;  // paletteCount × (red, green, blue)
    std::vector<std::uint8_t*> rows;    // rows[0] is the top row, rows[height − 1] the bottom row
    // The rows as a BMP file stores them: blue, green, red[, fourth byte] for 24/32 bits, packed
    // palette indices (most significant first) for 1/4/8 bits, each row padded to rowBytes.
    std::vector<std::uint8_t> pixels;

    ImageRecord() = default;
    ImageRecord(const ImageRecord&) = delete;
    ImageRecord& operator=(const ImageRecord&) = delete;
    ImageRecord(ImageRecord&& other) noexcept;
    ImageRecord& operator=(ImageRecord&& other) noexcept;
    ~ImageRecord() = default;

    bool allocated() const { return !rows.empty(); }
    // Row `y` of the picture counted from the top.
    std::uint8_t* row(std::int32_t y) { return rows[static_cast<std::size_t>(y)]; }
    const std::uint8_t* row(std::int32_t y) const { return rows[static_cast<std::size_t>(y)]; }
};

// Fills rowBytes and imageBytes from width, height and bitDepth, allocates the palette
// (3 × paletteCount bytes), the zeroed pixel buffer and the row table (mapping rows according to
// topDown). Fails with E_INVALIDARG when a size is not positive, the bit depth is not 1, 4, 8, 24
// or 32, the palette holds more than 2^bitDepth entries or the pixels exceed kMaxImageBytes; with
// E_OUTOFMEMORY when an allocation fails. On failure the record is released.
HResult AllocateImageRecord(ImageRecord& record);

// Releases the buffers and zeroes every field. A released record may be released again.
void FreeImageRecord(ImageRecord& record);

}  // namespace kestrel
