// Small image files for the colorize and icon tests, built byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/platform/byte_reader.h"
#include "support/dib_builders.h"

namespace kestrel::testing {

// A BMP file: file header, `dib` (header, masks, palette, pixels); the pixel offset is given.
inline std::vector<std::byte> bmpFile(const std::vector<std::byte>& dib, std::uint32_t pixelOffset) {
    ByteWriter out;
    out.u16(0x4D42);
    out.u32(static_cast<std::uint32_t>(14 + dib.size()));
    out.u32(0);
    out.u32(pixelOffset);
    out.append(asBytes(dib));
    return std::move(out.bytes());
}

// A single-image icon (type 1) or cursor (type 2) file around `image`.
inline std::vector<std::byte> iconFile(const std::vector<std::byte>& image, std::uint16_t type = 1) {
    ByteWriter out;
    out.u16(0);
    out.u16(type);
    out.u16(1);
    out.u8(16);
    out.u8(16);
    out.u8(0);
    out.u8(0);
    out.u16(0);
    out.u16(0);
    out.u32(static_cast<std::uint32_t>(image.size()));
    out.u32(22);
    out.append(asBytes(image));
    return std::move(out.bytes());
}

inline std::uint8_t byteAt(const std::vector<std::byte>& bytes, std::size_t offset) {
    return static_cast<std::uint8_t>(bytes.at(offset));
}

}  // namespace kestrel::testing
