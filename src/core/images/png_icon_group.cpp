#include "core/images/png_icon_group.h"

#include <stb/stb_image_resize.h>

#include "core/images/dib.h"
#include "core/images/image_record.h"
#include "core/images/png_codec.h"

namespace kestrel {

namespace {

constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
constexpr std::uint16_t kIconType = 1;
constexpr std::uint32_t kIconDirectoryHeaderBytes = 6;
constexpr std::uint32_t kIconEntryBytes = 16;
constexpr std::int32_t kPngMemberSize = 256;

void put16(std::vector<std::byte>& out, std::uint32_t value) {
    out.push_back(static_cast<std::byte>(value & 0xFF));
    out.push_back(static_cast<std::byte>((value >> 8) & 0xFF));
}
void put32(std::vector<std::byte>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// A square picture as red, green, blue, alpha bytes, the top row first.
struct RgbaPicture {
    std::int32_t size = 0;
    std::vector<std::uint8_t> bytes;
};

HResult decodePng(Bytes png, RgbaPicture& picture) {
    ImageRecord record;
    PngConverter converter;
    std::vector<std::byte> dib;
    RgbaImage decoded;
    if (converter.ReadPng(png, record).failed() || converter.ImageRecordToDib(record, dib).failed() ||
        DecodeDib(asBytes(dib), decoded).failed())
        return kInvalidArg;
    if (decoded.width <= 0 || decoded.width != decoded.height) return kInvalidArg;
    picture.size = decoded.width;
    picture.bytes.resize(decoded.pixels.size() * 4);
    for (std::size_t i = 0; i < decoded.pixels.size(); ++i) {
        const std::uint32_t pixel = decoded.pixels[i];
        picture.bytes[i * 4 + 0] = static_cast<std::uint8_t>(pixel >> 16);
        picture.bytes[i * 4 + 1] = static_cast<std::uint8_t>(pixel >> 8);
        picture.bytes[i * 4 + 2] = static_cast<std::uint8_t>(pixel);
        picture.bytes[i * 4 + 3] = static_cast<std::uint8_t>(pixel >> 24);
    }
    return kOk;
}

HResult resample(const RgbaPicture& source, std::int32_t size, RgbaPicture& out) {
    out.size = size;
    if (size == source.size) {
        out.bytes = source.bytes;
        return kOk;
    }
    out.bytes.assign(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4, 0);
    const int done = stbir_resize_uint8_srgb(source.bytes.data(), source.size, source.size, 0,
                                             out.bytes.data(), size, size, 0, 4, 3, 0);
    return done ? kOk : kOutOfMemory;
}

// A 32-bit icon DIB: the header (height doubled for the mask), the rows bottom-up as blue, green,
// red, alpha, then the AND mask rows (1 bit a pixel, rows padded to 4 bytes), set where alpha is 0.
std::vector<std::byte> iconDib(const RgbaPicture& picture) {
    const auto size = static_cast<std::uint32_t>(picture.size);
    const std::uint32_t maskRowBytes = (size + 31) / 32 * 4;
    std::vector<std::byte> dib;
    dib.reserve(kBitmapInfoHeaderSize + size * size * 4 + maskRowBytes * size);
    put32(dib, kBitmapInfoHeaderSize);
    put32(dib, size);
    put32(dib, size * 2);
    put16(dib, 1);   // planes
    put16(dib, 32);  // bits per pixel
    put32(dib, 0);   // BI_RGB
    put32(dib, size * size * 4 + maskRowBytes * size);
    for (int i = 0; i < 4; ++i)
        put32(dib, 0);  // resolution and palette counts
    for (std::uint32_t y = size; y-- > 0;) {
        for (std::uint32_t x = 0; x < size; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * size + x) * 4;
            for (std::size_t channel : {2u, 1u, 0u, 3u})
                dib.push_back(static_cast<std::byte>(picture.bytes[at + channel]));
        }
    }
    for (std::uint32_t y = size; y-- > 0;) {
        std::vector<std::byte> row(maskRowBytes, std::byte{0});
        for (std::uint32_t x = 0; x < size; ++x) {
            if (picture.bytes[(static_cast<std::size_t>(y) * size + x) * 4 + 3] == 0)
                row[x / 8] |= static_cast<std::byte>(0x80 >> (x % 8));
        }
        dib.insert(dib.end(), row.begin(), row.end());
    }
    return dib;
}

HResult encodePng(const RgbaPicture& picture, std::vector<std::byte>& png) {
    ImageRecord record;
    record.width = picture.size;
    record.height = picture.size;
    record.bitDepth = 32;
    if (HResult hr = AllocateImageRecord(record); hr.failed()) return hr;
    for (std::int32_t y = 0; y < picture.size; ++y) {
        std::uint8_t* row = record.row(y);
        for (std::int32_t x = 0; x < picture.size; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.size) +
                                    static_cast<std::size_t>(x)) *
                                   4;
            row[x * 4 + 0] = picture.bytes[at + 2];
            row[x * 4 + 1] = picture.bytes[at + 1];
            row[x * 4 + 2] = picture.bytes[at + 0];
            row[x * 4 + 3] = picture.bytes[at + 3];
        }
    }
    return WritePng(record, png, PngWriteSettings{.compressionLevel = 9});
}

}  // namespace

HResult MakeIconFileFromPng(Bytes png, std::vector<std::byte>& iconFile) {
    iconFile.clear();
    {
        RgbaPicture source;
        if (HResult hr = decodePng(png, source); hr.failed()) return hr;
        std::vector<std::vector<std::byte>> images;
        for (std::int32_t size : kPngIconSizes) {
            std::vector<std::byte> image;
            if (size == kPngMemberSize && source.size == kPngMemberSize) {
                image.assign(png.begin(), png.end());
                images.push_back(std::move(image));
                continue;
            }
            RgbaPicture resized;
            if (HResult hr = resample(source, size, resized); hr.failed()) return hr;
            if (size == kPngMemberSize) {
                if (HResult hr = encodePng(resized, image); hr.failed()) return hr;
            } else {
                image = iconDib(resized);
            }
            images.push_back(std::move(image));
        }
        put16(iconFile, 0);
        put16(iconFile, kIconType);
        put16(iconFile, static_cast<std::uint32_t>(images.size()));
        std::uint32_t offset =
            kIconDirectoryHeaderBytes + kIconEntryBytes * static_cast<std::uint32_t>(images.size());
        for (std::size_t i = 0; i < images.size(); ++i) {
            const auto size = static_cast<std::uint32_t>(kPngIconSizes[i]);
            iconFile.push_back(static_cast<std::byte>(size & 0xFF));  // 256 is written as 0
            iconFile.push_back(static_cast<std::byte>(size & 0xFF));
            iconFile.push_back(std::byte{0});  // colour count
            iconFile.push_back(std::byte{0});  // reserved
            put16(iconFile, 1);                // planes
            put16(iconFile, 32);               // bits per pixel
            put32(iconFile, static_cast<std::uint32_t>(images[i].size()));
            put32(iconFile, offset);
            offset += static_cast<std::uint32_t>(images[i].size());
        }
        for (const std::vector<std::byte>& image : images)
            iconFile.insert(iconFile.end(), image.begin(), image.end());
    }
    return kOk;
}

}  // namespace kestrel
