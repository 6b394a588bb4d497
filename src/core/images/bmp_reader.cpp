#include "core/images/bmp_reader.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "core/errors/language.h"
#include "core/images/dib.h"
#include "core/images/png_codec.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

ConverterLogHook& logHook() {
    static ConverterLogHook hook;
    return hook;
}

void log(std::string_view format, std::string_view name) {
    if (const ConverterLogHook& hook = logHook()) hook(Localized(format), name);
}

// The name used in the progress lines: the path without a drive, after its last separator.
std::string progressName(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
    return fileNameOf(path);
}

constexpr std::uint16_t kBmpSignature = 0x4D42;  // "BM"
constexpr std::uint64_t kPrefixSize = 128;
constexpr std::uint64_t kFirstRead = 18;  // file header plus the size field of the info header

std::string_view fail(ImageRecord& record, std::string_view message) {
    FreeImageRecord(record);
    return message;
}

}  // namespace

ConverterLogHook SetConverterLogHook(ConverterLogHook hook) {
    return std::exchange(logHook(), std::move(hook));
}

// File header, little-endian: 0 "BM", 10 offset of the pixels; the DIB header follows at 14 (see
// readDibHeader), then the palette in the gap up to the pixels: 3-byte entries after a core
// header, 4 otherwise.
std::string_view ReadBmp(std::string_view displayName, Bytes data, ImageRecord& record) {
    FreeImageRecord(record);
    ByteReader file(data);

    std::uint64_t base = 0;
    if (!file.contains(base, kFirstRead)) return bmp_skip::kPrematureEnd;
    if (file.u16(base) != kBmpSignature) {
        // Some bitmaps carry a 128-byte prefix; one is skipped, never two.
        base = kPrefixSize;
        if (!file.contains(base, kFirstRead)) return bmp_skip::kPrematureEnd;
        if (file.u16(base) != kBmpSignature) return bmp_skip::kNotBmp;
    }
    ByteReader bmp = *file.from(base);
    const std::uint32_t offBits = *bmp.u32(10);
    const std::uint32_t headerSize = *bmp.u32(14);
    if (headerSize < kDibCoreHeaderSize || headerSize > kDibMaxHeaderSize ||
        std::uint64_t{offBits} < std::uint64_t{headerSize} + 14) {
        return bmp_skip::kBadHeaderSize;
    }
    const std::uint64_t headerEnd = 14 + std::uint64_t{headerSize};
    if (!bmp.contains(0, headerEnd)) return bmp_skip::kPrematureEnd;
    const std::uint64_t gap = std::uint64_t{offBits} - headerEnd;

    // Fields beyond the end of a short header read as 0.
    const DibHeader header = readDibHeader(*bmp.span(14, headerSize));
    const std::int64_t width = header.width;
    const bool topDown = header.height < 0;
    const std::int64_t height = topDown ? -header.height : header.height;
    const std::uint32_t bitDepth = header.bitCount;
    const std::uint32_t compression = header.compression;
    const std::uint32_t entrySize = header.paletteEntrySize();
    if (width <= 0) return fail(record, bmp_skip::kWidthBelowOne);
    if (height <= 0) return fail(record, bmp_skip::kHeightBelowOne);
    if (compression != 0) return fail(record, bmp_skip::kCompressed);

    std::uint64_t paletteCount = 0;
    if (bitDepth == 1 || bitDepth == 4 || bitDepth == 8) {
        // The palette fills the gap; the colours-used field is not consulted. Entries beyond what
        // the bit depth can address are skipped with the rest of the gap.
        paletteCount = std::min(gap / entrySize, std::uint64_t{1} << bitDepth);
    } else if (bitDepth == 16) {
        return fail(record, bmp_skip::k16Bits);
    } else if (bitDepth != 24 && bitDepth != 32) {
        return fail(record, bmp_skip::kBadBitDepth);
    }
    const std::uint64_t skipBytes = gap - paletteCount * entrySize;

    const std::uint64_t imageBytes =
        storedRowBytes(static_cast<std::uint64_t>(width), bitDepth) * static_cast<std::uint64_t>(height);
    const std::uint64_t available = bmp.size() > offBits ? bmp.size() - offBits : 0;
    if (imageBytes > available || imageBytes > kMaxImageBytes) return fail(record, bmp_skip::kBadImageSize);

    record.width = static_cast<std::int32_t>(width);
    record.height = static_cast<std::int32_t>(height);
    record.bitDepth = static_cast<std::int32_t>(bitDepth);
    record.paletteCount = static_cast<std::uint32_t>(paletteCount);
    record.topDown = topDown;
    if (AllocateImageRecord(record).failed()) return fail(record, bmp_skip::kOutOfMemory);

    ByteCursor cursor(bmp.bytes(), static_cast<std::size_t>(headerEnd));
    for (std::uint64_t i = 0; i < paletteCount; ++i) {
        auto entry = cursor.take(entrySize);
        if (!entry) return fail(record, bmp_skip::kPrematureEnd);
        record.palette[3 * i] = static_cast<std::uint8_t>((*entry)[2]);
        record.palette[3 * i + 1] = static_cast<std::uint8_t>((*entry)[1]);
        record.palette[3 * i + 2] = static_cast<std::uint8_t>((*entry)[0]);
    }
    if (!cursor.skip(skipBytes)) return fail(record, bmp_skip::kPrematureEnd);
    auto pixels = cursor.take(imageBytes);
    if (!pixels) return fail(record, bmp_skip::kPrematureEnd);
    // The stored row order is kept; the row table maps rows to the picture.
    std::copy(pixels->begin(), pixels->end(), reinterpret_cast<std::byte*>(record.pixels.data()));

    log(bmp_progress::kReadOk, progressName(displayName));
    return {};
}

HResult ReadBmpFile(const std::filesystem::path& path, ImageRecord& record) {
    FreeImageRecord(record);
    const std::string name = pathToUtf8(path);
    log(bmp_progress::kReading, progressName(name));
    std::vector<std::byte> data;
    HResult hr = kOk;
    try {
        hr = ReadWholeFile(path, data);
    } catch (const std::bad_alloc&) {
        log(bmp_skip::kOutOfMemory, name);
        return kOutOfMemory;
    }
    if (hr.failed()) {
        log(bmp_skip::kCannotOpen, name);
        return kFail;
    }
    const std::string_view message = ReadBmp(name, asBytes(data), record);
    if (!message.empty()) {
        log(message, name);
        return kFail;
    }
    return kOk;
}

HResult WritePngFile(const std::filesystem::path& path, ImageRecord& record) {
    ImageRecord owned = std::move(record);
    const std::string name = pathToUtf8(path);
    log(bmp_progress::kWriting, progressName(name));
    std::vector<std::byte> png;
    if (HResult hr = WritePng(owned, png); hr.failed()) {
        if (hr == kOutOfMemory) log(bmp_skip::kOutOfMemory, name);
        return hr;
    }
    FreeImageRecord(owned);
    if (HResult hr = WriteFileAtomic(path, asBytes(png)); hr.failed()) {
        log(bmp_skip::kCannotCreate, name);
        return hr;
    }
    log(bmp_progress::kWritten, progressName(name));
    return kOk;
}

HResult ConvertBmpToPng(const std::filesystem::path& path) {
    ImageRecord record;
    if (HResult hr = ReadBmpFile(path, record); hr.failed()) return hr;
    const std::filesystem::path output = replaceLastThree(path, "png");
    // A path too short to carry an extension gives no output; neither may the PNG replace the BMP.
    if (output.empty() || output == path || IsSameFile(output, path)) return kInvalidArg;
    return WritePngFile(output, record);
}

}  // namespace kestrel
