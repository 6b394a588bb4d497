// DIBs built byte by byte for tests that need exact pixels (pebuilder::makeDib makes patterned ones).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/platform/byte_reader.h"

namespace kestrel::testing {

// A 40-byte information header.
inline void writeInfoHeader(ByteWriter& out, std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                            std::uint32_t compression = 0, std::uint32_t coloursUsed = 0) {
    out.u32(40);
    out.u32(static_cast<std::uint32_t>(width));
    out.u32(static_cast<std::uint32_t>(height));
    out.u16(1);
    out.u16(bitCount);
    out.u32(compression);
    out.u32(0);
    out.u32(3780);
    out.u32(3780);
    out.u32(coloursUsed);
    out.u32(0);
}

// A bottom-up 24-bit DIB from rows of 0xRRGGBB colours, top row first.
inline std::vector<std::byte> dib24(const std::vector<std::vector<std::uint32_t>>& rows) {
    ByteWriter dib;
    writeInfoHeader(dib, static_cast<std::int32_t>(rows.front().size()),
                    static_cast<std::int32_t>(rows.size()), 24);
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        for (std::uint32_t colour : *row) {
            dib.u16(colour & 0xFFFF);
            dib.u8(colour >> 16);
        }
        dib.alignTo(4);
    }
    return std::move(dib.bytes());
}

}  // namespace kestrel::testing
