// Fuzzes the BMP reader and everything that consumes its records: the PNG writer (and reading the
// PNG back), the BMP and DIB writers, DIB validation and the alpha compositor. Also validates the
// bytes after the file header as a packed DIB, which is how the image pane sees a .BMP file, and
// reads the file as the compile does (ReadBmpFileDib).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/images/alpha_draw.h"
#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/png_codec.h"

namespace {

using namespace kestrel;

void drawIfAlpha(Bytes dib, std::uint32_t seed) {
    DibInfo info;
    if (validateDib(dib, info).failed() || info.bitCount != 32) return;
    std::vector<std::uint32_t> pixels(32 * 24);
    const PixelTarget target{pixels, 32, 24, 32};
    (void)DrawAlphaDibFrame(dib, target, 0, 0, 32, 24, 0, 0, 0, 0, 1, 0);
    (void)DrawAlphaDibFrame(dib, target, -3, 2, 40, 20, seed & 3, (seed >> 2) & 3, (seed >> 4) & 3,
                            (seed >> 6) & 3, 1 + ((seed >> 8) & 3), (seed >> 10) & 3);
    (void)DrawAlphaDib(dib, target, 1, 1, 7, 9, 0, 0, info.width, info.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes input(reinterpret_cast<const std::byte*>(data), size);
    const std::uint32_t seed = size > 0 ? data[size - 1] * 0x0101u + static_cast<std::uint32_t>(size) : 0;
    if (size > 14) drawIfAlpha(input.subspan(14), seed);

    // The BMP file reader of the compile and the description edits: what it accepts is a valid DIB.
    std::vector<std::byte> packed;
    std::uint64_t pixelOffset = 0;
    if (ReadBmpFileDib(input, packed, &pixelOffset).ok()) {
        DibInfo packedInfo;
        if (validateDib(asBytes(packed), packedInfo).failed() || pixelOffset > size) std::abort();
    } else if (!packed.empty()) {
        std::abort();
    }

    ImageRecord record;
    if (ReadBmp("fuzz.bmp", input, record).failed()) {
        if (record.allocated()) std::abort();  // a refused file must leave nothing behind
        return 0;
    }
    const PngConverter codec;
    std::vector<std::byte> dib;
    if (codec.ImageRecordToDib(record, dib).failed()) std::abort();
    DibInfo info;
    if (validateDib(asBytes(dib), info).failed()) std::abort();
    drawIfAlpha(asBytes(dib), seed);

    std::vector<std::byte> bmp;
    ImageRecord again;
    if (codec.WriteBmp(record, bmp).failed() || ReadBmp("again.bmp", asBytes(bmp), again).failed())
        std::abort();

    std::vector<std::byte> png;
    if (WritePng(record, png).succeeded()) {
        // What we write we must read back with the same pixels.
        ImageRecord decoded;
        if (codec.ReadPng(asBytes(png), decoded).failed() || decoded.width != record.width ||
            decoded.height != record.height) {
            std::abort();
        }
        if (record.bitDepth >= 24) {
            const auto used =
                static_cast<std::size_t>(record.width) * static_cast<std::size_t>(record.bitDepth / 8);
            for (std::int32_t y = 0; y < record.height; ++y) {
                for (std::size_t i = 0; i < used; ++i) {
                    if (decoded.row(y)[i] != record.row(y)[i]) std::abort();
                }
            }
        }
    }
    return 0;
}
