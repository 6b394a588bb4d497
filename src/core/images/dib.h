// Packed device-independent bitmaps: an information header, a colour table and the pixel rows in
// one buffer. Every consumer of a DIB checks it with validateDib first; the header of a DIB that
// came from a file can say anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

inline constexpr std::uint32_t kDibCoreHeaderSize = 12;  // OS/2 core header
inline constexpr std::uint32_t kDibInfoHeaderSize = 40;
inline constexpr std::uint32_t kDibMaxHeaderSize = 124;  // V5 header

// The BITMAPFILEHEADER in front of a DIB in a .bmp file.
inline constexpr std::uint64_t kBmpFileHeaderSize = 14;

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;
inline constexpr std::uint32_t kBiAlphaBitfields = 6;

inline constexpr std::uint32_t kBiJpeg = 4;
inline constexpr std::uint32_t kBiPng = 5;

// The fields of a DIB's information header and the layout they imply, read without judging them.
// Headers are 12 bytes (core: 16-bit sizes, 3-byte colour-table entries) or 40 bytes and more
// (52 and 56 add the colour and alpha masks, 108 and 124 colour-space data). The import writes
// every bitmap file from these numbers whatever the header claims; validateDib checks them before
// anything reads pixels.
struct DibHeader {
    std::uint32_t headerSize = 0;  // as stored
    std::int64_t width = 0;        // as stored: signed 32 bits, unsigned 16 in a core header
    std::int64_t height = 0;       // as stored; negative means top-down rows
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = kBiRgb;  // BI_RGB for a core header
    std::uint32_t sizeImage = 0;
    std::uint32_t colorsUsed = 0;           // 0 for a core header
    std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha of bit-field DIBs (else 0)

    bool core() const { return headerSize == kDibCoreHeaderSize; }
    bool bitFields() const { return compression == kBiBitfields || compression == kBiAlphaBitfields; }
    std::uint32_t paletteEntrySize() const { return core() ? 3 : 4; }
    // Separate masks after a 40-byte header: 12 bytes, 16 with BI_ALPHABITFIELDS, whatever the bit
    // count. Larger headers hold their masks.
    std::uint64_t maskBytes() const;
    // Colour-table entries: the colours-used field when set, else 2^bitCount for 1, 2, 4 and 8 bits.
    std::uint64_t paletteEntries() const;
    std::uint64_t paletteOffset() const { return std::uint64_t{headerSize} + maskBytes(); }
    // Where the pixels of a packed DIB start: after the header, the masks and the colour table.
    std::uint64_t pixelOffset() const { return paletteOffset() + paletteEntries() * paletteEntrySize(); }
};

// Reads the header at the start of `dib`. A field the bytes do not hold reads as 0, so a caller
// that wants the fields of a short header alone passes just its bytes. Masks are read for bit-field
// compressions: three at offset 40 (after a 40-byte header or inside a larger one), and the alpha
// mask at 52 with BI_ALPHABITFIELDS or in headers of 56 bytes and more.
DibHeader readDibHeader(Bytes dib);

// The 14-byte file header that makes a packed DIB a .BMP file: "BM", the file size (at most
// 2^32 − 1), two reserved words, and the pixel offset readDibHeader implies, never past the file.
std::vector<std::byte> MakeBmpFileHeader(Bytes dib);

enum class DibLayout {
    kBitmap,     // the header's height is the picture's height
    kIconImage,  // icon and cursor images: the height counts the colour rows and the 1-bit mask rows
};

// What validateDib found. Offsets are from the start of the buffer; every region lies inside it.
struct DibInfo {
    std::uint32_t headerSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;  // picture height, always positive (half the header's for icon images)
    bool topDown = false;     // negative height in the header
    std::uint16_t bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t colorsUsed = 0;            // the header field as stored (0 for a core header)
    std::uint32_t paletteEntries = 0;        // entries in the colour table (layout of the buffer)
    std::uint32_t paletteEntrySize = 4;      // 3 for a core header
    std::uint32_t usablePaletteEntries = 0;  // min(paletteEntries, 2^bitCount) for ≤ 8 bits
    std::uint32_t masks[4] = {0, 0, 0, 0};   // red, green, blue, alpha for bit-field DIBs
    std::size_t maskOffset = 0;              // where separate bit-field masks were read (0: none)
    std::size_t paletteOffset = 0;
    std::size_t pixelOffset = 0;
    std::size_t rowBytes = 0;      // stored bytes per row of the colour image (0 when compressed)
    std::size_t imageBytes = 0;    // colour image bytes (the header's size field when compressed)
    std::size_t maskRowBytes = 0;  // icon images: bytes per row of the 1-bit mask
    std::size_t maskBytes = 0;     // icon images: bytes of the mask that follows the colour image
};

// Checks a packed DIB: the header size (12, or 40 to 124), width > 0, height ≠ 0, a bit count of
// 1, 4, 8, 16, 24 or 32 (0 only with JPEG/PNG compression), the colour table and any bit-field
// masks, and the pixel rows (or, when compressed, the header's image size) all inside the buffer,
// with every size computed in 64 bits. Returns E_INVALIDARG (and an empty `info`) when anything
// does not fit.
HResult validateDib(Bytes dib, DibInfo& info, DibLayout layout = DibLayout::kBitmap);

// Memory row (from the start of the pixel data) of the picture row `yFromBottom`, counting
// bottom-up as a DIB does, for the colour image described by `info`.
inline std::size_t dibMemoryRow(const DibInfo& info, std::int32_t yFromBottom) {
    return static_cast<std::size_t>(info.topDown ? info.height - 1 - yFromBottom : yFromBottom);
}

// A picture ready to show: rows top-down, each pixel 0xAARRGGBB with straight (not premultiplied)
// alpha, as a native 32-bit value (the memory layout of QImage::Format_ARGB32).
struct RgbaImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;  // width × height, the top row first
};

// Decodes a packed DIB that validateDib accepts with the same layout: 1/4/8 bits through the
// palette (indices beyond it are black), 16 bits (5-5-5, or bit fields), 24 bits, 32 bits (BI_RGB:
// the fourth byte is the alpha; bit fields through the masks, opaque without an alpha mask), and
// RLE8/RLE4. For icon images below 32 bits the AND mask makes masked pixels transparent (alpha 0).
// Pixels an RLE bitmap skips (delta, end of line, end of bitmap, data that ends early) are
// transparent black. E_INVALIDARG (and an empty `out`) when the DIB is not valid or holds JPEG or
// PNG data; E_OUTOFMEMORY when the picture exceeds kMaxImageBytes.
HResult DecodeDib(Bytes dib, RgbaImage& out, DibLayout layout = DibLayout::kBitmap);

}  // namespace kestrel
