#include "core/images/png_codec.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "core/platform/files.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

// libpng reports errors by long-jumping to the setjmp point of the function that called it. Every
// such function below is small and owns nothing with a destructor, and no C++ exception is ever
// thrown through libpng: the callbacks catch their own and turn them into png_error.

[[noreturn]] void onPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void onPngWarning(png_structp, png_const_charp) {}

// Deflate cannot compress better than 1032 to 1; a header claiming more pixels than the file could
// hold is refused before anything is allocated.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::uint64_t kDeflateSlack = 4096;

struct MemoryReader {
    const png_byte* data;
    std::size_t size;
    std::size_t position;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (length > reader->size - reader->position) png_error(png, "Read Error");
    std::memcpy(out, reader->data + reader->position, length);
    reader->position += length;
}

// Owns the read structures; releases them on every path.
class PngReadGuard {
  public:
    PngReadGuard() {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onPngError, onPngWarning);
        if (png_) info_ = png_create_info_struct(png_);
        if (png_) endInfo_ = png_create_info_struct(png_);
    }
    ~PngReadGuard() {
        png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, endInfo_ ? &endInfo_ : nullptr);
    }
    PngReadGuard(const PngReadGuard&) = delete;
    PngReadGuard& operator=(const PngReadGuard&) = delete;

    bool ok() const { return png_ && info_ && endInfo_; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }
    png_infop endInfo() const { return endInfo_; }

  private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    png_infop endInfo_ = nullptr;
};

struct PngHeader {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    int interlace;
    bool hasTransparency;
    png_uint_32 xPixelsPerMetre;  // from a pHYs chunk in metres, else 0
    png_uint_32 yPixelsPerMetre;
};

bool readPngHeader(png_structp png, png_infop info, MemoryReader* reader, PngHeader* header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, reader, readFromMemory);
    png_set_sig_bytes(png, static_cast<int>(kPngSignatureSize));
    png_read_info(png, info);
    int compression = 0;
    int filter = 0;
    png_get_IHDR(png, info, &header->width, &header->height, &header->bitDepth, &header->colorType,
                 &header->interlace, &compression, &filter);
    header->hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    if (png_get_pHYs(png, info, &header->xPixelsPerMetre, &header->yPixelsPerMetre, &unit) == 0 ||
        unit != PNG_RESOLUTION_METER) {
        header->xPixelsPerMetre = 0;
        header->yPixelsPerMetre = 0;
    }
    return true;
}

// Packs four 2-bit samples per byte into two 4-bit samples per byte, in place from the end of the
// row backwards; sample values are unchanged, so palette indices keep their meaning.
void expandTwoToFourBits(png_structp, png_row_infop rowInfo, png_bytep row) {
    static constexpr png_byte kNibbleToByte[16] = {0x00, 0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13,
                                                   0x20, 0x21, 0x22, 0x23, 0x30, 0x31, 0x32, 0x33};
    if (rowInfo->bit_depth != 2 || rowInfo->channels != 1) return;
    const png_size_t outputBytes = (static_cast<png_size_t>(rowInfo->width) + 1) / 2;
    for (png_size_t out = outputBytes; out-- > 0;) {
        const png_byte input = row[out / 2];
        const unsigned nibble = (out % 2 == 0) ? (input >> 4) : (input & 0x0F);
        row[out] = kNibbleToByte[nibble];
    }
    rowInfo->rowbytes = outputBytes;
    rowInfo->bit_depth = 4;
    rowInfo->pixel_depth = 4;
}

struct PngReadPlan {
    int outputBits;  // bits per pixel the record holds
    std::size_t recordRowBytes;
    png_bytepp rows;
};

bool readPngPixels(png_structp png, png_infop info, png_infop endInfo, const PngHeader* header,
                   const PngReadPlan* plan) {
    if (setjmp(png_jmpbuf(png))) return false;
    const int colorType = header->colorType;
    if (plan->outputBits == 32) {
        if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
        if (colorType == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);
        if (header->hasTransparency) png_set_tRNS_to_alpha(png);
        if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(png);
    } else if (header->bitDepth == 2) {
        png_set_user_transform_info(png, nullptr, 4, 1);
        png_set_read_user_transform_fn(png, expandTwoToFourBits);
    }
    if (header->bitDepth == 16) png_set_strip_16(png);
    if (plan->outputBits >= 24) png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    // The rows libpng is about to deliver must be what the record holds, or it would write past them.
    const int channels = png_get_channels(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    if (channels * bitDepth != plan->outputBits || png_get_rowbytes(png, info) > plan->recordRowBytes) {
        png_error(png, "unexpected row layout");
    }
    png_read_image(png, plan->rows);
    png_read_end(png, endInfo);
    return true;
}

// Owns the write structures; releases them on every path.
class PngWriteGuard {
  public:
    PngWriteGuard() {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onPngError, onPngWarning);
        if (png_) info_ = png_create_info_struct(png_);
    }
    ~PngWriteGuard() { png_destroy_write_struct(&png_, info_ ? &info_ : nullptr); }
    PngWriteGuard(const PngWriteGuard&) = delete;
    PngWriteGuard& operator=(const PngWriteGuard&) = delete;

    bool ok() const { return png_ && info_; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

  private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

struct MemoryWriter {
    std::vector<std::byte>* out;
};

bool appendBytes(std::vector<std::byte>& out, const png_byte* data, std::size_t length) noexcept {
    try {
        const auto* bytes = reinterpret_cast<const std::byte*>(data);
        out.insert(out.end(), bytes, bytes + length);
        return true;
    } catch (...) {
        return false;
    }
}

void writeToMemory(png_structp png, png_bytep data, png_size_t length) {
    auto* writer = static_cast<MemoryWriter*>(png_get_io_ptr(png));
    if (!appendBytes(*writer->out, data, length)) png_error(png, "Write Error");
}
void flushMemory(png_structp) {}

struct PngWritePlan {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    int memLevel;  // 0: libpng's default
    bool bgr;
    png_uint_32 xPixelsPerMetre;  // both 0: no pHYs chunk
    png_uint_32 yPixelsPerMetre;
    const png_color* palette;
    int paletteCount;
    png_bytepp rows;
    const PngWriteSettings* settings;
    MemoryWriter* writer;
};

bool encodePng(png_structp png, png_infop info, const PngWritePlan* plan) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, plan->writer, writeToMemory, flushMemory);
    png_set_compression_level(png, plan->settings->compressionLevel);
    if (plan->settings->filterMask != 0) png_set_filter(png, 0, plan->settings->filterMask);
    if (plan->memLevel != 0) png_set_compression_mem_level(png, plan->memLevel);
    if (plan->colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, plan->palette, plan->paletteCount);
        // A bitmap may use indices beyond its palette; they are written as stored, not refused.
        png_set_check_for_invalid_index(png, 0);
    }
    png_set_IHDR(png, info, plan->width, plan->height, plan->bitDepth, plan->colorType,
                 plan->settings->interlace != 0 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (plan->xPixelsPerMetre != 0 || plan->yPixelsPerMetre != 0)
        png_set_pHYs(png, info, plan->xPixelsPerMetre, plan->yPixelsPerMetre, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (plan->bgr) png_set_bgr(png);
    png_write_image(png, plan->rows);
    png_write_end(png, nullptr);
    return true;
}

bool isValidRecord(const ImageRecord& record) {
    const int depth = record.bitDepth;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32) return false;
    if (record.width <= 0 || record.height <= 0 ||
        record.rows.size() != static_cast<std::size_t>(record.height)) {
        return false;
    }
    const std::uint64_t rowBytes =
        storedRowBytes(static_cast<std::uint64_t>(record.width), static_cast<std::uint64_t>(depth));
    return static_cast<std::uint64_t>(record.rowBytes) == rowBytes &&
           record.pixels.size() == rowBytes * static_cast<std::uint64_t>(record.height) &&
           record.palette.size() >= std::size_t{3} * record.paletteCount &&
           (depth > 8 || record.paletteCount <= (1u << depth));
}

constexpr std::uint32_t kPixelsPerMetre = 3780;  // 96 dots per inch

void writePalette(ByteWriter& writer, const ImageRecord& record) {
    for (std::uint32_t i = 0; i < record.paletteCount; ++i) {
        writer.u8(record.palette[3 * i + 2]);
        writer.u8(record.palette[3 * i + 1]);
        writer.u8(record.palette[3 * i]);
        writer.u8(0);
    }
}

// Rows bottom-up, as BMP files and DIBs store them, whatever order the record keeps.
void writeRowsBottomUp(ByteWriter& writer, const ImageRecord& record) {
    const auto rowBytes = static_cast<std::size_t>(record.rowBytes);
    for (std::int32_t y = record.height; y-- > 0;) {
        const auto* row = reinterpret_cast<const std::byte*>(record.row(y));
        writer.append(Bytes(row, rowBytes));
    }
}

// A BMP file's header, information header and palette for `record` (54 + 4 × paletteCount bytes).
void writeBmpHeader(ByteWriter& writer, const ImageRecord& record) {
    const std::uint32_t paletteBytes = 4 * record.paletteCount;
    const auto imageBytes = static_cast<std::uint32_t>(record.imageBytes);
    writer.u16(0x4D42);  // "BM"
    writer.u32(imageBytes + paletteBytes + 54);
    writer.u32(0);
    writer.u32(paletteBytes + 54);
    writer.u32(40);
    writer.u32(static_cast<std::uint32_t>(record.width));
    writer.u32(static_cast<std::uint32_t>(record.height));
    writer.u16(1);
    writer.u16(static_cast<std::uint32_t>(record.bitDepth));
    writer.u32(0);
    writer.u32(imageBytes);
    writer.u32(static_cast<std::uint32_t>(record.xPixelsPerMetre));
    writer.u32(static_cast<std::uint32_t>(record.yPixelsPerMetre));
    writer.zeros(8);
    writePalette(writer, record);
}

// What AllocateImageRecord does for a bottom-up record, except that the rows are the pixel rows of
// `bmp`, a zeroed BMP file of the record's size, instead of a buffer of the record's own.
HResult sizeBmpRecord(ImageRecord& record, std::vector<std::byte>& bmp) {
    const bool knownDepth = record.bitDepth == 1 || record.bitDepth == 4 || record.bitDepth == 8 ||
                            record.bitDepth == 24 || record.bitDepth == 32;
    if (record.width <= 0 || record.height <= 0 || !knownDepth || record.topDown) return kInvalidArg;
    const std::uint64_t maxPalette = record.bitDepth <= 8 ? (std::uint64_t{1} << record.bitDepth) : 0;
    const std::uint64_t rowBytes =
        storedRowBytes(static_cast<std::uint64_t>(record.width), static_cast<std::uint64_t>(record.bitDepth));
    const std::uint64_t imageBytes = rowBytes * static_cast<std::uint64_t>(record.height);
    if (record.paletteCount > maxPalette || imageBytes > kMaxImageBytes) return kInvalidArg;
    record.rowBytes = static_cast<std::int32_t>(rowBytes);
    record.imageBytes = static_cast<std::int32_t>(imageBytes);
    const std::size_t pixelsAt = 54 + std::size_t{4} * record.paletteCount;
    record.palette.assign(std::size_t{3} * record.paletteCount, 0);
    record.rows.resize(static_cast<std::size_t>(record.height));
    bmp.assign(pixelsAt + static_cast<std::size_t>(imageBytes), std::byte{0});
    auto* base = reinterpret_cast<std::uint8_t*>(bmp.data() + pixelsAt);
    for (std::int32_t i = 0; i < record.height; ++i)
        record.rows[static_cast<std::size_t>(i)] =
            base + static_cast<std::size_t>(record.height - 1 - i) * static_cast<std::size_t>(rowBytes);
    return kOk;
}

std::filesystem::path pngNameFor(const std::filesystem::path& path) {
    std::filesystem::path png = replaceLastThree(path, "png");
    return png.empty() ? path : png;
}

}  // namespace

bool HasPngSignature(Bytes bytes) {
    static constexpr std::uint8_t kSignature[kPngSignatureSize] = {0x89, 'P',  'N',  'G',
                                                                   0x0D, 0x0A, 0x1A, 0x0A};
    if (bytes.size() < kPngSignatureSize) return false;
    for (std::size_t i = 0; i < kPngSignatureSize; ++i)
        if (std::to_integer<std::uint8_t>(bytes[i]) != kSignature[i]) return false;
    return true;
}

std::filesystem::path replaceLastThree(const std::filesystem::path& path, std::string_view extension) {
    std::string text = pathToUtf8(path);
    if (text.size() <= 4) return {};
    for (std::size_t i = text.size() - 3; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80 || text[i] == '/') return {};
    }
    text.replace(text.size() - 3, 3, extension);
    return pathFromUtf8(text);
}

HResult WritePng(const ImageRecord& record, std::vector<std::byte>& out, const PngWriteSettings& settings) {
    out.clear();
    if (!isValidRecord(record)) return kInvalidArg;
    PngWritePlan plan{};
    plan.width = static_cast<png_uint_32>(record.width);
    plan.height = static_cast<png_uint_32>(record.height);
    plan.settings = &settings;
    // The resolution travels in a pHYs chunk, which holds values up to 2^31 - 1; a negative one
    // (possible in a BMP header) cannot be stored and leaves the chunk out.
    if (record.xPixelsPerMetre >= 0 && record.yPixelsPerMetre >= 0) {
        plan.xPixelsPerMetre = static_cast<png_uint_32>(record.xPixelsPerMetre);
        plan.yPixelsPerMetre = static_cast<png_uint_32>(record.yPixelsPerMetre);
    }
    switch (record.bitDepth) {
        case 32:
            plan.bitDepth = 8;
            plan.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
            plan.memLevel = 9;
            plan.bgr = true;
            break;
        case 24:
            plan.bitDepth = 8;
            plan.colorType = PNG_COLOR_TYPE_RGB;
            plan.memLevel = 9;
            plan.bgr = true;
            break;
        default:
            plan.bitDepth = record.bitDepth;
            plan.colorType = PNG_COLOR_TYPE_PALETTE;
            break;
    }
    try {
        std::vector<png_color> palette(record.paletteCount);
        for (std::size_t i = 0; i < palette.size(); ++i) {
            palette[i] = {record.palette[3 * i], record.palette[3 * i + 1], record.palette[3 * i + 2]};
        }
        // libpng does not change the rows it writes; its transformations work on a copy.
        std::vector<png_bytep> rows(record.rows.begin(), record.rows.end());
        MemoryWriter writer{&out};
        plan.palette = palette.data();
        plan.paletteCount = static_cast<int>(palette.size());
        plan.rows = rows.data();
        plan.writer = &writer;
        out.reserve(static_cast<std::size_t>(record.imageBytes) / 4 + 1024);

        PngWriteGuard guard;
        if (!guard.ok()) return kOutOfMemory;
        if (!encodePng(guard.png(), guard.info(), &plan)) {
            out.clear();
            return kFail;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return kOutOfMemory;
    }
    return kOk;
}

namespace {

// Decodes `png` into `record`. With `bmp`, the record gets its fields and palette but no pixel
// buffer: libpng delivers the rows straight into their places in `bmp`, a whole BMP file (header,
// palette, bottom-up rows) laid out as WriteBmp lays it out; without, into the record's pixels.
HResult decodePng(Bytes png, ImageRecord& record, std::vector<std::byte>* bmp) {
    FreeImageRecord(record);
    if (bmp) bmp->clear();
    // One 128-byte prefix may stand before the signature.
    std::size_t start = 0;
    const auto* data = reinterpret_cast<const png_byte*>(png.data());
    if (!HasPngSignature(png)) {
        start = kPictureFilePrefixSize;
        if (png.size() < start || !HasPngSignature(png.subspan(start))) return kFail;
    }
    MemoryReader reader{data, png.size(), start + kPngSignatureSize};

    try {
        PngReadGuard guard;
        if (!guard.ok()) return kOutOfMemory;
        PngHeader header{};
        if (!readPngHeader(guard.png(), guard.info(), &reader, &header)) return kFail;

        const int colorType = header.colorType;
        int outputBits = 0;
        if (colorType == PNG_COLOR_TYPE_RGB_ALPHA || colorType == PNG_COLOR_TYPE_GRAY_ALPHA ||
            header.hasTransparency) {
            // The only record that keeps transparency.
            outputBits = 32;
        } else if (colorType == PNG_COLOR_TYPE_RGB) {
            outputBits = 24;
        } else {
            outputBits = header.bitDepth == 2 ? 4 : std::min(header.bitDepth, 8);
        }

        static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
        const std::uint64_t sourceBits =
            std::uint64_t{header.width} * header.height *
            static_cast<std::uint64_t>(kChannels[colorType & 7] * header.bitDepth);
        if (sourceBits / 8 > reader.size * kMaxDeflateRatio + kDeflateSlack) return kInvalidArg;
        if (header.width > 0x7FFFFFFFu || header.height > 0x7FFFFFFFu) return kInvalidArg;

        record.width = static_cast<std::int32_t>(header.width);
        record.height = static_cast<std::int32_t>(header.height);
        record.bitDepth = outputBits;
        record.paletteCount = outputBits <= 8 ? (1u << outputBits) : 0;
        record.topDown = false;
        if (HResult hr = bmp ? sizeBmpRecord(record, *bmp) : AllocateImageRecord(record); hr.failed())
            return hr;
        if (header.xPixelsPerMetre <= 0x7FFFFFFFu && header.yPixelsPerMetre <= 0x7FFFFFFFu) {
            record.xPixelsPerMetre = static_cast<std::int32_t>(header.xPixelsPerMetre);
            record.yPixelsPerMetre = static_cast<std::int32_t>(header.yPixelsPerMetre);
        }

        if (record.paletteCount > 0) {
            if (colorType == PNG_COLOR_TYPE_PALETTE) {
                png_colorp entries = nullptr;
                int count = 0;
                if (png_get_PLTE(guard.png(), guard.info(), &entries, &count) == 0) count = 0;
                const auto copied =
                    std::min<std::uint32_t>(static_cast<std::uint32_t>(count), record.paletteCount);
                for (std::uint32_t i = 0; i < copied; ++i) {
                    record.palette[3 * i] = entries[i].red;
                    record.palette[3 * i + 1] = entries[i].green;
                    record.palette[3 * i + 2] = entries[i].blue;
                }
            } else {
                const int greyDepth = std::min(header.bitDepth, 8);
                std::vector<png_color> ramp(std::size_t{1} << greyDepth);
                png_build_grayscale_palette(greyDepth, ramp.data());
                for (std::size_t i = 0; i < ramp.size(); ++i) {
                    record.palette[3 * i] = ramp[i].red;
                    record.palette[3 * i + 1] = ramp[i].green;
                    record.palette[3 * i + 2] = ramp[i].blue;
                }
            }
        }

        const PngReadPlan plan{outputBits, static_cast<std::size_t>(record.rowBytes), record.rows.data()};
        if (!readPngPixels(guard.png(), guard.info(), guard.endInfo(), &header, &plan)) {
            FreeImageRecord(record);
            if (bmp) bmp->clear();
            return kFail;
        }
        if (bmp) {
            ByteWriter head;
            writeBmpHeader(head, record);
            std::memcpy(bmp->data(), head.bytes().data(), head.size());
        }
    } catch (const std::bad_alloc&) {
        FreeImageRecord(record);
        if (bmp) bmp->clear();
        return kOutOfMemory;
    }
    return kOk;
}

}  // namespace

HResult PngConverter::ReadPng(Bytes png, ImageRecord& record) const {
    return decodePng(png, record, nullptr);
}

HResult PngConverter::ReadPngFile(const std::filesystem::path& path, ImageRecord& record) const {
    FreeImageRecord(record);
    std::vector<std::byte> data;
    try {
        if (HResult hr = ReadWholeFile(path, data); hr.failed()) return hr;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    return ReadPng(asBytes(data), record);
}

HResult PngConverter::WriteBmp(const ImageRecord& record, std::vector<std::byte>& out) const {
    out.clear();
    if (!isValidRecord(record)) return kInvalidArg;
    const std::uint32_t paletteBytes = 4 * record.paletteCount;
    const auto imageBytes = static_cast<std::uint32_t>(record.imageBytes);
    try {
        ByteWriter writer;
        writer.bytes().reserve(54 + paletteBytes + imageBytes);
        writeBmpHeader(writer, record);
        writeRowsBottomUp(writer, record);
        out = std::move(writer.bytes());
    } catch (const std::bad_alloc&) {
        out.clear();
        return kOutOfMemory;
    }
    return kOk;
}

HResult PngConverter::WriteBmpFile(const std::filesystem::path& path, ImageRecord& record) const {
    ImageRecord owned = std::move(record);
    std::vector<std::byte> bmp;
    if (HResult hr = WriteBmp(owned, bmp); hr.failed()) return hr;
    FreeImageRecord(owned);
    return WriteFileAtomic(path, asBytes(bmp));
}

HResult PngConverter::WritePng(const ImageRecord& record, std::vector<std::byte>& out) const {
    return kestrel::WritePng(record, out, settings_);
}

HResult PngConverter::WritePngFile(const std::filesystem::path& path, ImageRecord& record) const {
    ImageRecord owned = std::move(record);
    std::vector<std::byte> png;
    if (HResult hr = WritePng(owned, png); hr.failed()) return hr;
    FreeImageRecord(owned);
    return WriteFileAtomic(path, asBytes(png));
}

HResult PngConverter::ConvertPngToBmp(const std::filesystem::path& bmpPath) const {
    const std::filesystem::path pngPath = pngNameFor(bmpPath);
    // Writing the BMP over its own source would destroy the PNG.
    if (pngPath == bmpPath || IsSameFile(pngPath, bmpPath)) return kInvalidArg;
    std::vector<std::byte> bmp;
    if (HResult hr = ConvertPngFileToBmpBytes(pngPath, bmp); hr.failed()) return hr;
    return WriteFileAtomic(bmpPath, asBytes(bmp));
}

HResult PngConverter::ConvertPngToBmpBytes(Bytes png, std::vector<std::byte>& bmp) const {
    ImageRecord record;
    return decodePng(png, record, &bmp);
}

HResult PngConverter::ConvertPngFileToBmpBytes(const std::filesystem::path& pngPath,
                                               std::vector<std::byte>& bmp) const {
    bmp.clear();
    ImageRecord record;
    if (HResult hr = ReadPngFile(pngPath, record); hr.failed()) return hr;
    return WriteBmp(record, bmp);
}

HResult PngConverter::LoadPngAsDib(const std::filesystem::path& path, std::vector<std::byte>& dib) const {
    dib.clear();
    ImageRecord record;
    if (HResult hr = ReadPngFile(pngNameFor(path), record); hr.failed()) return hr;
    return ImageRecordToDib(record, dib);
}

HResult PngConverter::ImageRecordToDib(const ImageRecord& record, std::vector<std::byte>& dib) const {
    dib.clear();
    if (!isValidRecord(record)) return kInvalidArg;
    // In a DIB, colours used = 0 means a full table; a palette-less record of 1 to 8 bits (a
    // malformed bitmap) gets a black one so that the pixels are where every reader looks for them.
    const std::uint32_t tableEntries =
        record.bitDepth <= 8 && record.paletteCount == 0 ? (1u << record.bitDepth) : record.paletteCount;
    try {
        ByteWriter writer;
        writer.bytes().reserve(40 + 4 * std::size_t{tableEntries} +
                               static_cast<std::size_t>(record.imageBytes));
        writer.u32(40);
        writer.u32(static_cast<std::uint32_t>(record.width));
        writer.u32(static_cast<std::uint32_t>(record.height));
        writer.u16(1);
        writer.u16(static_cast<std::uint32_t>(record.bitDepth));
        writer.u32(0);
        writer.u32(static_cast<std::uint32_t>(record.imageBytes));
        writer.u32(kPixelsPerMetre);
        writer.u32(kPixelsPerMetre);
        writer.u32(tableEntries);
        writer.u32(tableEntries);
        writePalette(writer, record);
        writer.zeros(4 * std::size_t{tableEntries - record.paletteCount});
        writeRowsBottomUp(writer, record);
        dib = std::move(writer.bytes());
    } catch (const std::bad_alloc&) {
        dib.clear();
        return kOutOfMemory;
    }
    return kOk;
}

}  // namespace kestrel
