// Fuzzes the AVI reader: a refused file leaves an empty movie; an accepted one holds frames of the
// movie's size, within the frame and memory caps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/images/avi_reader.h"
#include "core/images/image_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const Bytes input(reinterpret_cast<const std::byte*>(data), size);
    AviMovie movie;
    if (ReadAvi(input, movie).failed()) {
        if (!movie.frames.empty() || movie.width != 0 || movie.height != 0 || movie.frameMicroseconds != 0)
            std::abort();
        return 0;
    }
    if (movie.frames.empty() || movie.frames.size() > kMaxAviFrames || movie.width <= 0 ||
        movie.width > kMaxAviDimension || movie.height <= 0 || movie.height > kMaxAviDimension) {
        std::abort();
    }
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(movie.width) * static_cast<std::uint64_t>(movie.height);
    if (4 * pixels * movie.frames.size() > kMaxImageBytes) std::abort();
    for (const RgbaImage& frame : movie.frames) {
        if (frame.width != movie.width || frame.height != movie.height || frame.pixels.size() != pixels)
            std::abort();
        for (std::uint32_t pixel : frame.pixels) {
            if ((pixel >> 24) != 0xFF) std::abort();  // movies are opaque
        }
    }
    return 0;
}
