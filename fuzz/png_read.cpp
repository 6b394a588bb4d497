// Fuzzes the PNG reader and what consumes its records: the DIB writer, DIB validation, the alpha
// compositor, the BMP writer (read back by the BMP reader) and the PNG writer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/images/alpha_draw.h"
#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/png_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const Bytes input(reinterpret_cast<const std::byte*>(data), size);
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
    if (codec.WriteBmp(record, bmp).failed() || !ReadBmp("fuzz.bmp", asBytes(bmp), fromBmp).empty())
        std::abort();
    if (fromBmp.pixels != record.pixels) std::abort();

    std::vector<std::byte> png;
    (void)codec.WritePng(record, png);
    return 0;
}
