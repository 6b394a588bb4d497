#include "core/images/picture_file.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/image_record.h"
#include "core/images/png_codec.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

// How much of a file decides its format.
constexpr std::uint64_t kHeadBytes = 64;

bool startsWith(Bytes bytes, std::string_view signature, std::size_t at = 0) {
    if (at > bytes.size() || signature.size() > bytes.size() - at) return false;
    return std::equal(signature.begin(), signature.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char a, std::byte b) { return static_cast<std::byte>(a) == b; });
}

bool looksLikeBmp(Bytes head, std::uint64_t fileSize) {
    const ByteReader reader(head);
    if (!startsWith(head, "BM")) return false;
    const std::uint32_t pixels = reader.u32Or(10, 0);
    const std::uint32_t header = reader.u32Or(14, 0);
    const bool knownHeader = header == 12 || header == 40 || header == 52 || header == 56 || header == 64 ||
                             header == 108 || header == 124;
    return knownHeader && pixels >= kBmpFileHeaderSize + header && pixels <= fileSize;
}

}  // namespace

ImageKind imageKindOf(const std::filesystem::path& path, int subMode) {
    if (subMode == 9) return ImageKind::kIconGroup;
    if (subMode == 10) return ImageKind::kCursorGroup;
    const std::string extension = extensionOf(pathToUtf8(path.filename()));
    if (iequalsAscii(extension, ".bmp")) return ImageKind::kBitmap;
    if (iequalsAscii(extension, ".png")) return ImageKind::kPng;
    if (iequalsAscii(extension, ".ico")) return ImageKind::kIcon;
    if (iequalsAscii(extension, ".cur")) return ImageKind::kCursor;
    return ImageKind::kOther;
}

PictureFormat pictureFormatOf(Bytes head, std::uint64_t fileSize) {
    if (HasPngSignature(head)) return PictureFormat::kPng;
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a")) return PictureFormat::kGif;
    if (startsWith(head, "\xFF\xD8\xFF")) return PictureFormat::kJpeg;
    if (looksLikeBmp(head, fileSize)) return PictureFormat::kBmp;
    if (startsWith(head, "RIFF") && startsWith(head, "AVI ", 8)) return PictureFormat::kAvi;
    if (startsWith(head, "RIFF") && startsWith(head, "WEBP", 8)) return PictureFormat::kWebp;
    if (startsWith(head, std::string_view("II*\0", 4)) || startsWith(head, std::string_view("MM\0*", 4)))
        return PictureFormat::kTiff;
    return PictureFormat::kUnknown;
}

PictureFormat pictureFileFormat(const std::filesystem::path& path) {
    FileReader file;
    if (file.open(path).failed() || file.size() == 0) return PictureFormat::kUnknown;
    std::vector<std::byte> head(static_cast<std::size_t>(std::min(file.size(), kHeadBytes)));
    if (file.readAt(0, head).failed()) return PictureFormat::kUnknown;
    return pictureFormatOf(asBytes(head), file.size());
}

std::optional<ShownDib> loadShownDib(const std::filesystem::path& path, ImageKind kind) {
    ShownDib shown;
    switch (kind) {
        case ImageKind::kBitmap: {
            MappedFile file;
            if (OpenMappedFile(path, file).failed() || file.size() <= kBmpFileHeaderSize) return std::nullopt;
            // The BMP reader of the compile, so that the pane shows the pixels the compile takes
            // (from the header's pixel offset); a file it refuses is shown as far as its bytes go.
            if (!ReadBmpFileDib(file.bytes(), shown.dib).ok()) {
                const Bytes bytes = file.bytes().subspan(kBmpFileHeaderSize);
                shown.dib.assign(bytes.begin(), bytes.end());
            }
            shown.shownSize = static_cast<std::uint32_t>(shown.dib.size());
            return shown;
        }
        case ImageKind::kPng: {
            // The file itself, whatever the case of its extension (LoadPngAsDib would look for the
            // name ending in "png" exactly, which a case-sensitive file system may not hold).
            const PngConverter codec;
            ImageRecord record;
            if (codec.ReadPngFile(path, record).failed() ||
                codec.ImageRecordToDib(record, shown.dib).failed())
                return std::nullopt;
            // The header's image size field.
            shown.shownSize = ByteReader(asBytes(shown.dib)).u32Or(20, 0) + kDibInfoHeaderSize;
            return shown;
        }
        case ImageKind::kIcon:
        case ImageKind::kCursor: {
            IconImage image;
            if (LoadIconImage(path, image).failed()) return std::nullopt;
            shown.dib = std::move(image.dib);
            shown.iconImage = !image.fromPng;
            shown.shownSize = image.shownSize;
            return shown;
        }
        case ImageKind::kNone:
        case ImageKind::kOther:
        case ImageKind::kIconGroup:
        case ImageKind::kCursorGroup:
            break;
    }
    return std::nullopt;
}

}  // namespace kestrel
