#include "image_builders.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kestrel::testing {

namespace {

void put8(ByteVector& out, std::uint32_t v) {
    out.push_back(static_cast<std::byte>(v & 0xFF));
}
void put16(ByteVector& out, std::uint32_t v) {
    put8(out, v);
    put8(out, v >> 8);
}
void put32(ByteVector& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void putBe32(ByteVector& out, std::uint32_t v) {
    put8(out, v >> 24);
    put8(out, v >> 16);
    put8(out, v >> 8);
    put8(out, v);
}
void append(ByteVector& out, const std::vector<std::uint8_t>& bytes) {
    for (auto b : bytes)
        put8(out, b);
}

void chunk(ByteVector& out, std::string_view type, const std::vector<std::uint8_t>& data) {
    putBe32(out, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> crcInput(type.begin(), type.end());
    crcInput.insert(crcInput.end(), data.begin(), data.end());
    append(out, crcInput);
    putBe32(out, static_cast<std::uint32_t>(crc32(0, crcInput.data(), static_cast<uInt>(crcInput.size()))));
}

int channelsOf(int colorType) {
    static constexpr std::array<int, 7> kChannels = {1, 0, 3, 1, 2, 0, 4};
    return kChannels[static_cast<std::size_t>(colorType) & 7];
}

std::uint32_t readBe32(std::span<const std::byte> bytes, std::size_t at) {
    return (std::to_integer<std::uint32_t>(bytes[at]) << 24) |
           (std::to_integer<std::uint32_t>(bytes[at + 1]) << 16) |
           (std::to_integer<std::uint32_t>(bytes[at + 2]) << 8) |
           std::to_integer<std::uint32_t>(bytes[at + 3]);
}

}  // namespace

ByteVector makeBmp(const BmpPlan& plan) {
    const std::uint32_t headerEnd = 14 + plan.headerSize;
    const auto offBits = plan.offBits.value_or(
        headerEnd + static_cast<std::uint32_t>(plan.palette.size() + plan.gapTail.size()));
    ByteVector out(plan.prefix, std::byte{0xAB});
    put16(out, 0x4D42);
    put32(out, offBits + static_cast<std::uint32_t>(plan.pixels.size()));
    put32(out, 0);
    put32(out, offBits);
    put32(out, plan.headerSize);
    if (plan.headerSize == 12) {
        put16(out, static_cast<std::uint32_t>(plan.width));
        put16(out, static_cast<std::uint32_t>(plan.height));
        put16(out, 1);
        put16(out, plan.bitDepth);
    } else {
        put32(out, static_cast<std::uint32_t>(plan.width));
        put32(out, static_cast<std::uint32_t>(plan.height));
        put16(out, 1);
        put16(out, plan.bitDepth);
        put32(out, plan.compression);
        put32(out, static_cast<std::uint32_t>(plan.pixels.size()));
        put32(out, 2835);
        put32(out, 2835);
        put32(out, plan.colorsUsed);
        put32(out, 0);
        for (std::uint32_t i = 40; i < plan.headerSize; ++i)
            put8(out, 0);
    }
    append(out, plan.palette);
    append(out, plan.gapTail);
    append(out, plan.pixels);
    return out;
}

std::vector<std::uint8_t> bottomUp(const std::vector<Row>& topFirst) {
    std::vector<std::uint8_t> out;
    for (auto it = topFirst.rbegin(); it != topFirst.rend(); ++it)
        out.insert(out.end(), it->begin(), it->end());
    return out;
}

ByteVector makePng(const PngPlan& plan) {
    ByteVector out(plan.prefix, std::byte{0xCD});
    append(out, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    std::vector<std::uint8_t> ihdr;
    for (std::uint32_t v : {plan.width, plan.height}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(plan.bitDepth),
                             static_cast<std::uint8_t>(plan.colorType), 0, 0, 0});
    chunk(out, "IHDR", ihdr);
    if (!plan.plte.empty()) chunk(out, "PLTE", plan.plte);
    if (plan.trns) chunk(out, "tRNS", *plan.trns);

    std::vector<std::uint8_t> raw;
    auto addRow = [&](const Row& row) {
        raw.push_back(0);
        raw.insert(raw.end(), row.begin(), row.end());
    };
    for (const Row& row : plan.rows)
        addRow(row);
    uLongf compressedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> compressed(compressedSize);
    compress2(compressed.data(), &compressedSize, raw.data(), static_cast<uLong>(raw.size()), 9);
    compressed.resize(compressedSize);
    chunk(out, "IDAT", compressed);
    chunk(out, "IEND", {});
    return out;
}

std::optional<DecodedPng> decodePng(std::span<const std::byte> png) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return std::nullopt;
    DecodedPng decoded;
    std::vector<std::uint8_t> idat;
    std::size_t at = 8;
    bool sawHeader = false, sawEnd = false;
    while (at + 12 <= png.size() && !sawEnd) {
        const std::uint32_t length = readBe32(png, at);
        if (length > png.size() - at - 12) return std::nullopt;
        const auto* typeAndData = reinterpret_cast<const std::uint8_t*>(png.data() + at + 4);
        const std::string_view type(reinterpret_cast<const char*>(typeAndData), 4);
        if (crc32(0, typeAndData, length + 4) != readBe32(png, at + 8 + length)) return std::nullopt;
        const std::uint8_t* data = typeAndData + 4;
        if (!sawHeader && type != "IHDR") return std::nullopt;
        if (type == "IHDR") {
            if (length != 13) return std::nullopt;
            decoded.width = readBe32(png, at + 8);
            decoded.height = readBe32(png, at + 12);
            decoded.bitDepth = data[8];
            decoded.colorType = data[9];
            decoded.interlace = data[12];
            sawHeader = true;
        } else if (type == "PLTE") {
            decoded.plte.assign(data, data + length);
        } else if (type == "tRNS") {
            decoded.trns.assign(data, data + length);
        } else if (type == "IDAT") {
            idat.insert(idat.end(), data, data + length);
        } else if (type == "IEND") {
            sawEnd = true;
        }
        at += 12 + length;
    }
    if (!sawEnd || idat.size() < 2 || decoded.interlace != 0) return std::nullopt;
    decoded.zlibLevel = idat[1] >> 6;

    const auto bits = static_cast<std::uint64_t>(channelsOf(decoded.colorType) * decoded.bitDepth);
    const std::size_t rowBytes = static_cast<std::size_t>((decoded.width * bits + 7) / 8);
    const std::size_t pixelBytes = std::max<std::size_t>(1, static_cast<std::size_t>(bits / 8));
    std::vector<std::uint8_t> raw((rowBytes + 1) * decoded.height);
    uLongf rawSize = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawSize, idat.data(), static_cast<uLong>(idat.size())) != Z_OK ||
        rawSize != raw.size()) {
        return std::nullopt;
    }
    Row previous(rowBytes, 0);
    for (std::uint32_t y = 0; y < decoded.height; ++y) {
        const std::uint8_t filter = raw[y * (rowBytes + 1)];
        Row row(raw.begin() + static_cast<std::ptrdiff_t>(y * (rowBytes + 1) + 1),
                raw.begin() + static_cast<std::ptrdiff_t>((y + 1) * (rowBytes + 1)));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int left = i >= pixelBytes ? row[i - pixelBytes] : 0;
            const int up = previous[i];
            const int upLeft = i >= pixelBytes ? previous[i - pixelBytes] : 0;
            int predictor = 0;
            switch (filter) {
                case 0:
                    predictor = 0;
                    break;
                case 1:
                    predictor = left;
                    break;
                case 2:
                    predictor = up;
                    break;
                case 3:
                    predictor = (left + up) / 2;
                    break;
                case 4: {
                    const int p = left + up - upLeft;
                    const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
                    predictor = (pa <= pb && pa <= pc) ? left : (pb <= pc ? up : upLeft);
                    break;
                }
                default:
                    return std::nullopt;
            }
            row[i] = static_cast<std::uint8_t>(row[i] + predictor);
        }
        decoded.rows.push_back(row);
        previous = row;
    }
    return decoded;
}

std::uint8_t patternByte(std::uint32_t x, std::uint32_t y, std::uint32_t salt) {
    std::uint32_t h = x * 73856093u ^ y * 19349663u ^ salt * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return static_cast<std::uint8_t>(h >> 15);
}

}  // namespace kestrel::testing
