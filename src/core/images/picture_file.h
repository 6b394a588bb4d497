// The picture files of the working folder as the image pane takes them: which kind a file is by its
// name, which format it holds by its first bytes, and the packed DIB shown of a bitmap, PNG, icon or
// cursor file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/platform/byte_reader.h"

namespace kestrel {

// What a shown file is; the numbers are the pane's kinds.
enum class ImageKind {
    kNone = 0,
    kBitmap = 1,
    kPng = 2,
    kOther = 3,  // GIF, JPEG, AVI and any other extension: shown as whatever its bytes hold
    kIcon = 6,
    kCursor = 7,
    kIconGroup = 8,
    kCursorGroup = 9,
};

// Sub-mode 9 is an icon group and 10 a cursor group; otherwise the extension decides (any case).
ImageKind imageKindOf(const std::filesystem::path& path, int subMode);

// What a file's first bytes say it holds.
enum class PictureFormat { kUnknown, kPng, kGif, kJpeg, kBmp, kAvi, kWebp, kTiff };

// The format of a file that starts with `head` and is `fileSize` bytes long. "BM" alone is too
// common a start for binary data: a BMP's header size must be a known one and its pixels must start
// after the headers and within the file.
PictureFormat pictureFormatOf(Bytes head, std::uint64_t fileSize);
// The same from the file's first bytes; kUnknown for a file that cannot be read or is empty.
PictureFormat pictureFileFormat(const std::filesystem::path& path);

// A picture to show from a DIB.
struct ShownDib {
    std::vector<std::byte> dib;   // packed; an icon image's height counts the colour rows alone
    bool iconImage = false;       // an icon or cursor DIB: the AND mask follows the colour rows
    std::uint32_t shownSize = 0;  // the size the pane's information line gives
};

// The DIB of a bitmap (from the header's pixel offset, as the compile takes it; a file the BMP
// reader refuses gives the bytes after its file header), a PNG (converted, its size the DIB's image
// size and header), an icon or a cursor file (its first image). Nothing for other kinds or a file
// that cannot be read. The DIB is not checked here: the pane validates it as it decodes it.
std::optional<ShownDib> loadShownDib(const std::filesystem::path& path, ImageKind kind);

}  // namespace kestrel
