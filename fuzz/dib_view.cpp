// Fuzzes the DIB header view, validateDib and DecodeDib, reading every input both as a bitmap and
// as an icon image: the layout the view computes never wraps, what validateDib accepts lies inside
// the input, and a decoded picture has exactly the size validateDib found (a refusal leaves none).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/images/dib.h"
#include "core/images/image_record.h"

namespace {
constexpr std::uint64_t kFuzzPixelBudget = std::uint64_t{1} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const Bytes input(reinterpret_cast<const std::byte*>(data), size);
    const DibHeader header = readDibHeader(input);
    if (header.paletteOffset() < header.headerSize || header.pixelOffset() < header.paletteOffset())
        std::abort();

    for (DibLayout layout : {DibLayout::kBitmap, DibLayout::kIconImage}) {
        DibInfo info;
        const bool valid = validateDib(input, info, layout).succeeded();
        if (valid) {
            if (info.pixelOffset != header.pixelOffset() || info.pixelOffset > size ||
                info.imageBytes > size - info.pixelOffset ||
                info.maskBytes > size - info.pixelOffset - info.imageBytes)
                std::abort();
        }
        // A few bytes of RLE data may describe a picture of up to kMaxImageBytes; decoding one that
        // large is legal but too slow for fuzzing. Pictures beyond the cap are still tried: they are
        // refused before anything is allocated.
        const std::uint64_t claimed =
            static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.height);
        if (valid && claimed > kFuzzPixelBudget && claimed <= kMaxImageBytes / 4) continue;
        RgbaImage image;
        const HResult hr = DecodeDib(input, image, layout);
        if (hr.succeeded()) {
            const std::uint64_t pixels =
                static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height);
            if (!valid || image.width != info.width || image.height != info.height ||
                image.pixels.size() != pixels)
                std::abort();
        } else {
            if (image.width != 0 || image.height != 0 || !image.pixels.empty()) std::abort();
            // A valid DIB is refused only for JPEG or PNG data or a picture beyond the cap.
            if (valid && hr == kInvalidArg && info.compression != kBiJpeg && info.compression != kBiPng)
                std::abort();
        }
    }
    return 0;
}
