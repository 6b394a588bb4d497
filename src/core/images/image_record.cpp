#include "core/images/image_record.h"

#include <new>
#include <utility>

namespace kestrel {

ImageRecord::ImageRecord(ImageRecord&& other) noexcept {
    *this = std::move(other);
}

ImageRecord& ImageRecord::operator=(ImageRecord&& other) noexcept {
    if (this == &other) return *this;
    width = std::exchange(other.width, 0);
    height = std::exchange(other.height, 0);
    bitDepth = std::exchange(other.bitDepth, 0);
    paletteCount = std::exchange(other.paletteCount, 0u);
    topDown = std::exchange(other.topDown, false);
    rowBytes = std::exchange(other.rowBytes, 0);
    imageBytes = std::exchange(other.imageBytes, 0);
    xPixelsPerMetre = std::exchange(other.xPixelsPerMetre, 0);
    yPixelsPerMetre = std::exchange(other.yPixelsPerMetre, 0);
    // Moving a vector keeps its heap buffer, so the row pointers stay valid.
    palette = std::move(other.palette);
    rows = std::move(other.rows);
    pixels = std::move(other.pixels);
    other.palette.clear();
    other.rows.clear();
    other.pixels.clear();
    return *this;
}

HResult AllocateImageRecord(ImageRecord& record) {
    const bool knownDepth = record.bitDepth == 1 || record.bitDepth == 4 || record.bitDepth == 8 ||
                            record.bitDepth == 24 || record.bitDepth == 32;
    if (record.width <= 0 || record.height <= 0 || !knownDepth) {
        FreeImageRecord(record);
        return kInvalidArg;
    }
    const std::uint64_t maxPalette = record.bitDepth <= 8 ? (std::uint64_t{1} << record.bitDepth) : 0;
    const std::uint64_t rowBytes =
        storedRowBytes(static_cast<std::uint64_t>(record.width), static_cast<std::uint64_t>(record.bitDepth));
    const std::uint64_t imageBytes = rowBytes * static_cast<std::uint64_t>(record.height);
    if (record.paletteCount > maxPalette || imageBytes > kMaxImageBytes) {
        FreeImageRecord(record);
        return kInvalidArg;
    }
    record.rowBytes = static_cast<std::int32_t>(rowBytes);
    record.imageBytes = static_cast<std::int32_t>(imageBytes);
    try {
        record.palette.assign(std::size_t{3} * record.paletteCount, 0);
        record.pixels.assign(static_cast<std::size_t>(imageBytes), 0);
        record.rows.resize(static_cast<std::size_t>(record.height));
    } catch (const std::bad_alloc&) {
        FreeImageRecord(record);
        return kOutOfMemory;
    }
    std::uint8_t* base = record.pixels.data();
    for (std::int32_t i = 0; i < record.height; ++i) {
        const std::int32_t stored = record.topDown ? i : record.height - 1 - i;
        record.rows[static_cast<std::size_t>(i)] = base + static_cast<std::size_t>(stored) * rowBytes;
    }
    return kOk;
}

void FreeImageRecord(ImageRecord& record) {
    ImageRecord released;
    std::swap(record, released);
}

}  // namespace kestrel
