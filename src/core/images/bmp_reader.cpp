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
#include "core/platform/format.h"
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
constexpr std::uint64_t kFirstRead = 18;         // file header plus the size field of the info header

std::string_view fail(ImageRecord& record, std::string_view message) {
    FreeImageRecord(record);
    return message;
}

// The picture format a file's first bytes announce, when it is one we know.
std::string_view pictureFormatOf(Bytes file) {
    const ByteReader reader(file);
    auto startsWith = [&](std::initializer_list<std::uint8_t> bytes) {
        std::size_t i = 0;
        for (std::uint8_t byte : bytes)
            if (reader.u8Or(i++, static_cast<std::uint8_t>(~byte)) != byte) return false;
        return true;
    };
    if (startsWith({0xFF, 0xD8, 0xFF})) return "JPEG";
    if (HasPngSignature(file)) return "PNG";
    if (startsWith({'G', 'I', 'F', '8'})) return "GIF";
    if (startsWith({'I', 'I', 42, 0}) || startsWith({'M', 'M', 0, 42})) return "TIFF";
    if (startsWith({'R', 'I', 'F', 'F'}) && reader.u8Or(8, 0) == 'W' && reader.u8Or(9, 0) == 'E')
        return "WebP";
    if (startsWith({0, 0, 1, 0})) return "ICO";
    if (startsWith({0, 0, 2, 0})) return "CUR";
    return {};
}

}  // namespace

BmpFileCheck CheckBmpFileHeader(Bytes file) {
    const ByteReader reader(file);
    if (std::string_view format = pictureFormatOf(file); !format.empty())
        return {"文件 %s 是 %s 图象，不是 BMP 文件。", std::string(format)};
    if (reader.u8Or(0, 0) != 'B' || reader.u8Or(1, 0) != 'M') {
        std::string start;
        for (std::size_t i = 0; i < std::min<std::size_t>(file.size(), 4); ++i)
            start += safeFormat(i == 0 ? "%.2X" : " %.2X", {static_cast<unsigned>(file[i])});
        if (start.empty()) start = "0";
        return {"文件 %s 不是 BMP 文件：它以 %s 开头，而不是 \"BM\"。", start};
    }
    const auto body = reader.from(kBmpFileHeaderSize);
    if (!body || body->size() < 4)
        return {"文件 %s 太短（%s 字节），不是有效的 BMP 文件。", std::to_string(file.size())};
    return {};
}

BmpFileCheck ViewBmpFileDib(Bytes file, Bytes& dib, std::vector<std::byte>& packed,
                            std::uint64_t* pixelOffset) {
    dib = {};
    packed.clear();
    if (BmpFileCheck check = CheckBmpFileHeader(file); !check.ok()) return check;
    const ByteReader reader(file);
    const auto body = reader.from(kBmpFileHeaderSize);
    const DibHeader header = readDibHeader(body->bytes());
    const std::uint64_t pixelsAt = reader.u32Or(10, 0);
    const std::uint64_t tableEnd = kBmpFileHeaderSize + header.pixelOffset();
    if (pixelsAt > file.size() ||
        pixelsAt < kBmpFileHeaderSize + std::min<std::uint64_t>(header.headerSize, 12))
        return {"BMP 文件 %s 的像素偏移 %s 位于文件之外或文件头之内。", safeFormat("0x%X", {pixelsAt})};
    if (pixelsAt > tableEnd && body->contains(0, header.pixelOffset())) {
        // A gap between the colour table and the pixels: the resource holds them together.
        const Bytes table = *body->span(0, header.pixelOffset());
        const Bytes pixels = reader.from(pixelsAt)->bytes();
        packed.reserve(table.size() + pixels.size());
        packed.assign(table.begin(), table.end());
        packed.insert(packed.end(), pixels.begin(), pixels.end());
        dib = asBytes(packed);
    } else {
        dib = body->bytes();
    }
    DibInfo info;
    if (validateDib(dib, info, DibLayout::kBitmap).failed()) {
        dib = {};
        packed.clear();
        return {"BMP 文件 %s 的位图信息头无效（头大小 %s）。", std::to_string(header.headerSize)};
    }
    if (pixelOffset) *pixelOffset = pixelsAt;
    return {};
}

BmpFileCheck ReadBmpFileDib(Bytes file, std::vector<std::byte>& dib, std::uint64_t* pixelOffset) {
    Bytes view;
    BmpFileCheck check = ViewBmpFileDib(file, view, dib, pixelOffset);
    if (check.ok() && dib.empty()) dib.assign(view.begin(), view.end());
    return check;
}

ConverterLogHook SetConverterLogHook(ConverterLogHook hook) {
    return std::exchange(logHook(), std::move(hook));
}

// File header, little-endian: 0 "BM", 10 offset of the pixels; the DIB header follows at 14 (see
// readDibHeader), then the palette in the gap up to the pixels: 3-byte entries after a core
// header, 4 otherwise.
namespace {

// The decoding of ReadBmp: an empty view on success, else the skip message.
std::string_view decodeBmp(std::string_view displayName, Bytes data, ImageRecord& record) {
    FreeImageRecord(record);
    ByteReader file(data);

    std::uint64_t base = 0;
    if (!file.contains(base, kFirstRead)) return bmp_skip::kPrematureEnd;
    if (file.u16(base) != kBmpSignature) {
        // Some bitmaps carry a 128-byte prefix; one is skipped, never two.
        base = kPictureFilePrefixSize;
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
    // The resolution fields follow the image size in every header but the core one.
    if (headerSize >= 32) {
        record.xPixelsPerMetre = static_cast<std::int32_t>(bmp.u32Or(14 + 24, 0));
        record.yPixelsPerMetre = static_cast<std::int32_t>(bmp.u32Or(14 + 28, 0));
    }

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

}  // namespace

HResult ReadBmp(std::string_view displayName, Bytes data, ImageRecord& record,
                std::string_view* skipMessage) {
    const std::string_view message = decodeBmp(displayName, data, record);
    if (skipMessage) *skipMessage = message;
    if (message.empty()) return kOk;
    return message == bmp_skip::kOutOfMemory ? kOutOfMemory : kFail;
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
    std::string_view message;
    if (ReadBmp(name, asBytes(data), record, &message).failed()) {
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
