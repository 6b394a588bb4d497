#include "core/images/dib.h"

#include <algorithm>

#include "core/images/image_record.h"

namespace kestrel {

namespace {

bool isKnownBitCount(std::uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Does the compression suit the bit count? JPEG (4) and PNG (5) carry their own depth.
bool isKnownCompression(std::uint32_t compression, std::uint32_t bits) {
    switch (compression) {
        case kBiRgb:
            return isKnownBitCount(bits);
        case kBiRle8:
            return bits == 8;
        case kBiRle4:
            return bits == 4;
        case kBiBitfields:
        case kBiAlphaBitfields:
            return bits == 16 || bits == 32;
        case 4:
        case 5:
            return bits == 0 || isKnownBitCount(bits);
        default:
            return false;
    }
}

HResult invalid(DibInfo& info) {
    info = DibInfo{};
    return kInvalidArg;
}

}  // namespace

// Header layouts read here (little-endian):
//   core (12 bytes):  0 size, 4 width (16), 6 height (16), 8 planes (16), 10 bit count (16)
//   info (40..124):   0 size, 4 width, 8 height (signed; negative = top-down), 12 planes (16),
//                     14 bit count (16), 16 compression, 20 image size, 32 colours used;
//                     headers of 52/56 bytes and more hold the bit-field masks at 40.
// A 40-byte header with bit fields is followed by the masks (12 bytes, 16 with an alpha mask).
HResult validateDib(Bytes dib, DibInfo& info, DibLayout layout) {
    info = DibInfo{};
    const ByteReader reader(dib);
    const auto headerSize = reader.u32(0);
    if (!headerSize) return invalid(info);
    info.headerSize = *headerSize;

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t sizeImage = 0;
    if (info.headerSize == kDibCoreHeaderSize) {
        if (!reader.contains(0, kDibCoreHeaderSize)) return invalid(info);
        width = *reader.u16(4);
        height = *reader.u16(6);
        info.bitCount = *reader.u16(10);
        info.compression = kBiRgb;
        info.paletteEntrySize = 3;
    } else if (info.headerSize >= kDibInfoHeaderSize && info.headerSize <= kDibMaxHeaderSize) {
        if (!reader.contains(0, info.headerSize)) return invalid(info);
        width = *reader.i32(4);
        height = *reader.i32(8);
        info.bitCount = *reader.u16(14);
        info.compression = *reader.u32(16);
        sizeImage = *reader.u32(20);
        info.colorsUsed = *reader.u32(32);
    } else {
        return invalid(info);
    }

    if (width <= 0 || height == 0) return invalid(info);
    if (height < 0) {
        if (layout == DibLayout::kIconImage) return invalid(info);
        height = -height;
        info.topDown = true;
    }
    if (layout == DibLayout::kIconImage) {
        height /= 2;
        if (height == 0 || info.compression != kBiRgb) return invalid(info);
    }
    if (!isKnownCompression(info.compression, info.bitCount)) return invalid(info);
    info.width = static_cast<std::int32_t>(width);
    info.height = static_cast<std::int32_t>(height);

    std::uint64_t afterHeader = info.headerSize;
    if (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields) {
        const std::uint32_t maskCount = info.compression == kBiBitfields ? 3 : 4;
        if (info.headerSize == kDibInfoHeaderSize) {
            afterHeader += 4 * maskCount;
        } else if (info.headerSize < kDibInfoHeaderSize + 4 * maskCount) {
            return invalid(info);
        }
        if (!reader.contains(kDibInfoHeaderSize, 4 * maskCount)) return invalid(info);
        for (std::uint32_t i = 0; i < maskCount; ++i)
            info.masks[i] = *reader.u32(kDibInfoHeaderSize + 4 * i);
        info.maskOffset = kDibInfoHeaderSize;
    }

    const std::uint64_t addressable =
        info.bitCount <= 8 && info.bitCount > 0 ? (std::uint64_t{1} << info.bitCount) : 0;
    const std::uint64_t entries = info.colorsUsed != 0 ? info.colorsUsed : addressable;
    const std::uint64_t paletteEnd = afterHeader + entries * info.paletteEntrySize;
    if (!reader.contains(0, paletteEnd)) return invalid(info);
    info.paletteEntries = static_cast<std::uint32_t>(entries);
    info.usablePaletteEntries = static_cast<std::uint32_t>(std::min(entries, addressable));
    info.paletteOffset = static_cast<std::size_t>(afterHeader);
    info.pixelOffset = static_cast<std::size_t>(paletteEnd);

    const std::uint64_t available = reader.size() - paletteEnd;
    std::uint64_t imageBytes = 0;
    if (info.compression == kBiRgb || info.compression == kBiBitfields ||
        info.compression == kBiAlphaBitfields) {
        const std::uint64_t rowBytes = storedRowBytes(static_cast<std::uint64_t>(width), info.bitCount);
        if (rowBytes == 0 || static_cast<std::uint64_t>(height) > available / rowBytes) return invalid(info);
        imageBytes = rowBytes * static_cast<std::uint64_t>(height);
        info.rowBytes = static_cast<std::size_t>(rowBytes);
    } else {
        imageBytes = sizeImage;
        if (imageBytes == 0 || imageBytes > available) return invalid(info);
    }
    info.imageBytes = static_cast<std::size_t>(imageBytes);

    if (layout == DibLayout::kIconImage) {
        const std::uint64_t maskRowBytes = storedRowBytes(static_cast<std::uint64_t>(width), 1);
        if (static_cast<std::uint64_t>(height) > (available - imageBytes) / maskRowBytes)
            return invalid(info);
        info.maskRowBytes = static_cast<std::size_t>(maskRowBytes);
        info.maskBytes = static_cast<std::size_t>(maskRowBytes * static_cast<std::uint64_t>(height));
    }
    return kOk;
}

}  // namespace kestrel
