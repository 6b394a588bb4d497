#include "core/images/dib.h"

#include <algorithm>
#include <bit>
#include <new>

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
        case kBiJpeg:
        case kBiPng:
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

std::uint64_t DibHeader::maskBytes() const {
    if (headerSize != kDibInfoHeaderSize) return 0;
    if (compression == kBiBitfields) return 12;
    if (compression == kBiAlphaBitfields) return 16;
    return 0;
}

std::uint64_t DibHeader::paletteEntries() const {
    if (colorsUsed != 0) return colorsUsed;
    if (bitCount == 1 || bitCount == 2 || bitCount == 4 || bitCount == 8) return std::uint64_t{1} << bitCount;
    return 0;
}

// Header layouts read here (little-endian):
//   core (12 bytes):  0 size, 4 width (16), 6 height (16), 8 planes (16), 10 bit count (16)
//   info (40..124):   0 size, 4 width, 8 height (signed; negative = top-down), 12 planes (16),
//                     14 bit count (16), 16 compression, 20 image size, 32 colours used;
//                     40 red, 44 green, 48 blue mask (52 bytes and more), 52 alpha mask (56 and more).
// A 40-byte header with bit fields is followed by the masks (12 bytes, 16 with an alpha mask).
DibHeader readDibHeader(Bytes dib) {
    const ByteReader reader(dib);
    DibHeader header;
    header.headerSize = reader.u32Or(0, 0);
    if (header.core()) {
        header.width = reader.u16Or(4, 0);
        header.height = reader.u16Or(6, 0);
        header.planes = reader.u16Or(8, 0);
        header.bitCount = reader.u16Or(10, 0);
        return header;
    }
    header.width = static_cast<std::int32_t>(reader.u32Or(4, 0));
    header.height = static_cast<std::int32_t>(reader.u32Or(8, 0));
    header.planes = reader.u16Or(12, 0);
    header.bitCount = reader.u16Or(14, 0);
    header.compression = reader.u32Or(16, 0);
    header.sizeImage = reader.u32Or(20, 0);
    header.colorsUsed = reader.u32Or(32, 0);
    if (header.bitFields()) {
        const bool alpha = header.compression == kBiAlphaBitfields || header.headerSize >= 56;
        for (std::uint32_t i = 0; i < (alpha ? 4u : 3u); ++i)
            header.masks[i] = reader.u32Or(kDibInfoHeaderSize + 4 * i, 0);
    }
    return header;
}

std::vector<std::byte> MakeBmpFileHeader(Bytes dib) {
    const std::uint64_t fileSize = kBmpFileHeaderSize + std::uint64_t{dib.size()};
    const std::uint64_t pixelOffset =
        std::min(kBmpFileHeaderSize + readDibHeader(dib).pixelOffset(), fileSize);
    ByteWriter header;
    header.u8('B');
    header.u8('M');
    header.u32(static_cast<std::uint32_t>(std::min<std::uint64_t>(fileSize, UINT32_MAX)));
    header.u16(0);
    header.u16(0);
    header.u32(static_cast<std::uint32_t>(pixelOffset));
    return std::move(header.bytes());
}

HResult validateDib(Bytes dib, DibInfo& info, DibLayout layout) {
    info = DibInfo{};
    const ByteReader reader(dib);
    if (!reader.contains(0, 4)) return invalid(info);
    const DibHeader header = readDibHeader(dib);
    const bool infoHeader = header.headerSize >= kDibInfoHeaderSize && header.headerSize <= kDibMaxHeaderSize;
    if ((!header.core() && !infoHeader) || !reader.contains(0, header.headerSize)) return invalid(info);
    info.headerSize = header.headerSize;
    info.bitCount = header.bitCount;
    info.compression = header.compression;
    info.colorsUsed = header.colorsUsed;
    info.paletteEntrySize = header.paletteEntrySize();

    const std::int64_t width = header.width;
    std::int64_t height = header.height;
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

    if (header.bitFields()) {
        const std::uint32_t maskCount = info.compression == kBiBitfields ? 3 : 4;
        if (info.headerSize != kDibInfoHeaderSize && info.headerSize < kDibInfoHeaderSize + 4 * maskCount)
            return invalid(info);
        if (!reader.contains(kDibInfoHeaderSize, 4 * maskCount)) return invalid(info);
        std::copy(std::begin(header.masks), std::end(header.masks), std::begin(info.masks));
        info.maskOffset = kDibInfoHeaderSize;
    }

    const std::uint64_t addressable =
        info.bitCount <= 8 && info.bitCount > 0 ? (std::uint64_t{1} << info.bitCount) : 0;
    const std::uint64_t entries = header.paletteEntries();
    const std::uint64_t paletteEnd = header.pixelOffset();
    if (!reader.contains(0, paletteEnd)) return invalid(info);
    info.paletteEntries = static_cast<std::uint32_t>(entries);
    info.usablePaletteEntries = static_cast<std::uint32_t>(std::min(entries, addressable));
    info.paletteOffset = static_cast<std::size_t>(header.paletteOffset());
    info.pixelOffset = static_cast<std::size_t>(paletteEnd);

    const std::uint64_t available = reader.size() - paletteEnd;
    std::uint64_t imageBytes = 0;
    if (info.compression == kBiRgb || header.bitFields()) {
        const std::uint64_t rowBytes = storedRowBytes(static_cast<std::uint64_t>(width), info.bitCount);
        if (rowBytes == 0 || static_cast<std::uint64_t>(height) > available / rowBytes) return invalid(info);
        imageBytes = rowBytes * static_cast<std::uint64_t>(height);
        info.rowBytes = static_cast<std::size_t>(rowBytes);
    } else {
        imageBytes = header.sizeImage;
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

// ----- Decoding -----

namespace {

constexpr std::uint32_t kOpaque = 0xFF000000u;

std::uint32_t byteAt(Bytes bytes, std::size_t offset) {
    return std::to_integer<std::uint32_t>(bytes[offset]);
}

// One channel of a bit-field pixel: the mask's bits, taken as one run from its lowest set bit,
// scaled to 0..255 (narrow fields spread over the whole range, wide ones keep their top 8 bits).
class ChannelField {
  public:
    explicit ChannelField(std::uint32_t mask)
        : mask_(mask),
          shift_(mask != 0 ? std::countr_zero(mask) : 0),
          bits_(mask != 0 ? std::bit_width(mask >> shift_) : 0) {}

    bool present() const { return bits_ > 0; }
    std::uint32_t scaled(std::uint32_t pixel) const {
        if (bits_ == 0) return 0;
        const std::uint64_t value = (pixel & mask_) >> shift_;
        if (bits_ >= 8) return static_cast<std::uint32_t>(value >> (bits_ - 8));
        const std::uint64_t maximum = (std::uint64_t{1} << bits_) - 1;
        return static_cast<std::uint32_t>((value * 255 + maximum / 2) / maximum);
    }

  private:
    std::uint32_t mask_;
    int shift_;
    int bits_;
};

struct BitFieldFormat {
    ChannelField red, green, blue, alpha;

    std::uint32_t argb(std::uint32_t pixel) const {
        const std::uint32_t a = alpha.present() ? alpha.scaled(pixel) : 0xFF;
        return a << 24 | red.scaled(pixel) << 16 | green.scaled(pixel) << 8 | blue.scaled(pixel);
    }
};

BitFieldFormat bitFieldFormat(const DibInfo& info) {
    if (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields)
        return {ChannelField(info.masks[0]), ChannelField(info.masks[1]), ChannelField(info.masks[2]),
                ChannelField(info.masks[3])};
    // 16-bit BI_RGB pixels are 5-5-5 with the top bit unused.
    return {ChannelField(0x7C00), ChannelField(0x03E0), ChannelField(0x001F), ChannelField(0)};
}

// The colour table as opaque pixels; indices beyond it are black.
std::vector<std::uint32_t> paletteOf(Bytes dib, const DibInfo& info) {
    std::vector<std::uint32_t> palette(256, kOpaque);
    for (std::size_t i = 0; i < info.usablePaletteEntries; ++i) {
        const std::size_t at = info.paletteOffset + i * info.paletteEntrySize;
        palette[i] = kOpaque | byteAt(dib, at + 2) << 16 | byteAt(dib, at + 1) << 8 | byteAt(dib, at);
    }
    return palette;
}

// Uncompressed rows, each `info.rowBytes` long, into `out` (top row first).
void decodeRows(Bytes dib, const DibInfo& info, const std::vector<std::uint32_t>& palette, RgbaImage& out) {
    const auto width = static_cast<std::size_t>(info.width);
    const BitFieldFormat fields = bitFieldFormat(info);
    const bool bgra = info.bitCount == 32 && info.compression == kBiRgb;
    for (std::int32_t y = 0; y < info.height; ++y) {
        const Bytes row = dib.subspan(
            info.pixelOffset + dibMemoryRow(info, info.height - 1 - y) * info.rowBytes, info.rowBytes);
        std::uint32_t* target = out.pixels.data() + static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < width; ++x) {
            switch (info.bitCount) {
                case 1:
                    target[x] = palette[(byteAt(row, x / 8) >> (7 - x % 8)) & 1];
                    break;
                case 4:
                    target[x] = palette[(byteAt(row, x / 2) >> (x % 2 ? 0 : 4)) & 0xF];
                    break;
                case 8:
                    target[x] = palette[byteAt(row, x)];
                    break;
                case 16:
                    target[x] = fields.argb(byteAt(row, 2 * x) | byteAt(row, 2 * x + 1) << 8);
                    break;
                case 24:
                    target[x] = kOpaque | byteAt(row, 3 * x + 2) << 16 | byteAt(row, 3 * x + 1) << 8 |
                                byteAt(row, 3 * x);
                    break;
                default: {
                    const std::uint32_t value = byteAt(row, 4 * x) | byteAt(row, 4 * x + 1) << 8 |
                                                byteAt(row, 4 * x + 2) << 16 | byteAt(row, 4 * x + 3) << 24;
                    target[x] = bgra ? value : fields.argb(value);
                    break;
                }
            }
        }
    }
}

// RLE8 and RLE4: pairs of (count, value) repeat a value (RLE4: two alternating indices); a count of
// 0 escapes: 0 end of line, 1 end of bitmap, 2 delta (right, up), 3 or more that many literal
// indices, padded to a 16-bit boundary. Rows count from the bottom. Everything is clipped to the
// picture and stops where the data ends.
void decodeRle(Bytes dib, const DibInfo& info, const std::vector<std::uint32_t>& palette, RgbaImage& out) {
    ByteCursor data(dib.subspan(info.pixelOffset, info.imageBytes));
    const bool rle4 = info.compression == kBiRle4;
    const auto width = static_cast<std::uint64_t>(info.width);
    const auto height = static_cast<std::uint64_t>(info.height);
    std::uint64_t x = 0, y = 0;
    auto put = [&](std::uint32_t index) {
        if (x < width && y < height) {
            const std::uint64_t outRow = info.topDown ? y : height - 1 - y;
            out.pixels[static_cast<std::size_t>(outRow * width + x)] = palette[index];
        }
        ++x;
    };
    while (y < height) {
        const auto count = data.u8();
        const auto value = data.u8();
        if (!count || !value) return;
        if (*count > 0) {
            for (unsigned i = 0; i < *count; ++i)
                put(rle4 ? (i % 2 ? *value & 0xF : *value >> 4) : *value);
            continue;
        }
        switch (*value) {
            case 0:
                x = 0;
                ++y;
                break;
            case 1:
                return;
            case 2: {
                const auto right = data.u8();
                const auto up = data.u8();
                if (!right || !up) return;
                x += *right;
                y += *up;
                break;
            }
            default: {
                const unsigned literalBytes = rle4 ? (*value + 1u) / 2 : *value;
                const auto literal = data.take(literalBytes + literalBytes % 2);
                if (!literal) return;
                for (unsigned i = 0; i < *value; ++i) {
                    const std::uint32_t packed = byteAt(*literal, rle4 ? i / 2 : i);
                    put(rle4 ? (i % 2 ? packed & 0xF : packed >> 4) : packed);
                }
                break;
            }
        }
    }
}

// Icon images: the 1-bit AND mask after the colour rows (bottom-up) makes its set pixels transparent.
void applyIconMask(Bytes dib, const DibInfo& info, RgbaImage& out) {
    const auto width = static_cast<std::size_t>(info.width);
    const std::size_t maskOffset = info.pixelOffset + info.imageBytes;
    for (std::int32_t y = 0; y < info.height; ++y) {
        const Bytes row =
            dib.subspan(maskOffset + static_cast<std::size_t>(info.height - 1 - y) * info.maskRowBytes,
                        info.maskRowBytes);
        std::uint32_t* target = out.pixels.data() + static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < width; ++x)
            if ((byteAt(row, x / 8) >> (7 - x % 8)) & 1) target[x] &= 0x00FFFFFFu;
    }
}

}  // namespace

HResult DecodeDib(Bytes dib, RgbaImage& out, DibLayout layout) {
    out = RgbaImage{};
    DibInfo info;
    if (validateDib(dib, info, layout).failed()) return kInvalidArg;
    if (info.compression == kBiJpeg || info.compression == kBiPng) return kInvalidArg;
    const std::uint64_t pixelCount =
        static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.height);
    if (pixelCount > kMaxImageBytes / 4) return kOutOfMemory;

    RgbaImage image;
    try {
        const bool rle = info.compression == kBiRle8 || info.compression == kBiRle4;
        image.pixels.assign(static_cast<std::size_t>(pixelCount), rle ? 0u : kOpaque);
        const std::vector<std::uint32_t> palette = paletteOf(dib, info);
        if (rle)
            decodeRle(dib, info, palette, image);
        else
            decodeRows(dib, info, palette, image);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    if (layout == DibLayout::kIconImage && info.bitCount < 32) applyIconMask(dib, info, image);
    image.width = info.width;
    image.height = info.height;
    out = std::move(image);
    return kOk;
}

}  // namespace kestrel
