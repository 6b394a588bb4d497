// Builds BMP and PNG files in code for the image tests, and decodes PNG files at the zlib level so
// that what our writer produces is checked by something other than libpng.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrel::testing {

using ByteVector = std::vector<std::byte>;
using Row = std::vector<std::uint8_t>;

struct BmpPlan {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bitDepth = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint8_t> palette{};  // entry bytes as stored (blue, green, red[, 0])
    std::vector<std::uint8_t> gapTail{};  // bytes between the palette and the pixels
    std::vector<std::uint8_t> pixels{};   // stored rows, padded
    std::size_t prefix = 0;               // bytes in front of the file
    std::optional<std::uint32_t> offBits{};
};
ByteVector makeBmp(const BmpPlan& plan);

// Stored rows of a picture given top row first, in the order a bottom-up BMP keeps them.
std::vector<std::uint8_t> bottomUp(const std::vector<Row>& topFirst);

struct PngPlan {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int bitDepth = 8;
    int colorType = 2;
    std::vector<std::uint8_t> plte{};  // red, green, blue triplets
    std::optional<std::vector<std::uint8_t>> trns{};
    std::vector<Row> rows{};  // packed samples of each row, top first, no filter byte
    std::size_t prefix = 0;
};
ByteVector makePng(const PngPlan& plan);

struct DecodedPng {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    int zlibLevel = -1;  // the FLEVEL bits of the zlib header
    std::vector<std::uint8_t> plte;
    std::vector<std::uint8_t> trns;
    std::vector<Row> rows;  // unfiltered, packed samples, top first
};
// Checks the signature, every chunk CRC and the chunk order; nullopt on any fault.
std::optional<DecodedPng> decodePng(std::span<const std::byte> png);

// A grey value per pixel from a hash of its position, for test pictures.
std::uint8_t patternByte(std::uint32_t x, std::uint32_t y, std::uint32_t salt);

}  // namespace kestrel::testing
