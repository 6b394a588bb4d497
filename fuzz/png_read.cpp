// Fuzzes the PNG reader and what consumes its records: the DIB writer, DIB validation, the alpha
// compositor, the BMP writer (read back by the BMP reader) and the PNG writer. Chunk CRCs are
// recomputed before decoding, or nearly every mutation would stop at libpng's CRC check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include <zlib.h>

#include "core/images/alpha_draw.h"
#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/png_codec.h"

namespace {

std::uint32_t readBe32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

void fixChunkCrcs(std::vector<std::uint8_t>& png) {
    std::size_t at = 0;
    if (!kestrel::HasPngSignature(std::as_bytes(std::span(png)))) at = 128;
    at += kestrel::kPngSignatureSize;
    while (png.size() >= 12 && at <= png.size() - 12) {
        const std::uint32_t length = readBe32(png, at);
        if (length > png.size() - at - 12) break;
        const auto crc = static_cast<std::uint32_t>(crc32(0, png.data() + at + 4, length + 4));
        for (int i = 0; i < 4; ++i)
            png[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    std::vector<std::uint8_t> fixed(data, data + size);
    fixChunkCrcs(fixed);
    const Bytes input(reinterpret_cast<const std::byte*>(fixed.data()), fixed.size());
    const PngConverter codec;
    ImageRecord record;
    if (codec.ReadPng(input, record).failed()) {
        if (record.allocated()) std::abort();
        return 0;
    }
    if (record.topDown || record.rows.size() != static_cast<std::size_t>(record.height)) std::abort();

    std::vector<std::byte> dib;
    DibInfo info;
    if (codec.ImageRecordToDib(record, dib).failed() || validateDib(asBytes(dib), info).failed())
        std::abort();
    if (info.bitCount == 32) {
        std::vector<std::uint32_t> pixels(40 * 30);
        const PixelTarget target{pixels, 40, 30, 40};
        const std::int32_t frames = 1 + static_cast<std::int32_t>(size % 3);
        (void)DrawAlphaDibFrame(asBytes(dib), target, -5, -5, 45, 33, 0, 0, 0, 0, frames, frames - 1);
        (void)DrawAlphaDibFrame(asBytes(dib), target, 0, 0, 40, 30, 2, 1, 1, 2, 1, 0);
    }

    std::vector<std::byte> bmp;
    ImageRecord fromBmp;
    if (codec.WriteBmp(record, bmp).failed() || ReadBmp("fuzz.bmp", asBytes(bmp), fromBmp).failed())
        std::abort();
    if (fromBmp.pixels != record.pixels) std::abort();

    std::vector<std::byte> png;
    (void)codec.WritePng(record, png);
    return 0;
}
