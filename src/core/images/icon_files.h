// Icon and cursor files of a working folder: the single-image .ICO/.CUR files (one per icon or cursor
// resource, named after its ID) and the raw group resources that list them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

enum class IconGroupKind { kIcon, kCursor };

// The first image of a single-image icon or cursor file, ready to show.
struct IconImage {
    std::vector<std::byte> dib;   // packed DIB; its height counts the colour image alone
    std::uint32_t shownSize = 0;  // the size shown in the pane: the image's bytes in the file
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t bitCount = 0;
    bool fromPng = false;  // the file held a PNG-compressed image, decoded into a 32-bit DIB
};

// Icon and cursor files start with a directory: a 6-byte header (reserved 0, type 1 for icons or 2
// for cursors, image count), then one 16-byte entry per image: width, height, colour count,
// reserved (bytes); planes and bit count (16 bits; a cursor file keeps its hot spot there); the
// image's byte count and its offset in the file (32 bits). The images follow.
inline constexpr std::uint64_t kIconDirectoryHeaderSize = 6;
inline constexpr std::uint64_t kIconDirectoryEntrySize = 16;
// Where the one image of a file the import writes starts.
inline constexpr std::uint64_t kSingleIconImageOffset = kIconDirectoryHeaderSize + kIconDirectoryEntrySize;
inline constexpr std::uint16_t kIconFileType = 1;
inline constexpr std::uint16_t kCursorFileType = 2;

struct IconDirectoryEntry {
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint16_t planes = 0;    // cursor files: the hot spot's x
    std::uint16_t bitCount = 0;  // cursor files: the hot spot's y
    std::uint32_t imageBytes = 0;
    std::uint32_t imageOffset = 0;
};

struct IconDirectory {
    std::uint16_t reserved = 0;
    std::uint16_t type = 0;
    std::uint16_t count = 0;
    std::vector<IconDirectoryEntry> entries;  // the entries the file holds: `count` at most

    bool knownType() const { return reserved == 0 && (type == kIconFileType || type == kCursorFileType); }
    // Where the entries end; images lie beyond.
    std::uint64_t entriesEnd() const { return kIconDirectoryHeaderSize + kIconDirectoryEntrySize * count; }
};

// The directory header and the entries the file holds; kFail with `out` empty when the file is
// shorter than the header.
HResult ReadIconDirectory(Bytes file, IconDirectory& out);
// Entry `index` of the directory whatever its count says; kFail with `out` empty when the file does
// not hold it.
HResult ReadIconDirectoryEntry(Bytes file, std::uint64_t index, IconDirectoryEntry& out);

// The first image as the directory gives it, when all of it holds: a known type, at least one
// entry, every entry inside the file, and a non-empty image after the entries and inside the file.
// kFail with `out` empty otherwise.
struct IconFileImage {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    IconDirectoryEntry entry;
};
HResult FirstIconFileImage(Bytes file, IconFileImage& out);
// The same from the start of a file of `fileSize` bytes, for a caller that reads the image itself
// later: `head` must hold the first IconDirectoryExtent bytes of the file.
HResult FirstIconFileImage(Bytes head, std::uint64_t fileSize, IconFileImage& out);
// How much of the start of a file of `fileSize` bytes the directory takes: the header and every
// entry it counts (at least one), or the whole file when that is shorter. `start` holds the file's
// first kSingleIconImageOffset bytes, or all of it when shorter.
std::uint64_t IconDirectoryExtent(Bytes start, std::uint64_t fileSize);

// The directory the import puts in front of an icon or cursor image to make a single-image .ICO or
// .CUR file: one entry whose width, height and colour count come from the image (a PNG image: its
// header's width, height and palette size below 8 bits; a DIB: its width, half its stored height
// and its palette size below 8 bits; each kept to its low byte), the hot spot of a cursor in the
// planes and bit-count fields, the image's size, and the offset kSingleIconImageOffset.
std::vector<std::byte> MakeSingleIconFileHeader(Bytes image, IconGroupKind kind, std::uint16_t hotSpotX = 0,
                                                std::uint16_t hotSpotY = 0);

// Where the image pane and the colorize engine take the first image of an icon or cursor file
// from, to the end of the file. Files of our own have one image right after the directory
// (kSingleIconImageOffset); for a file with several images the first entry's offset is used when
// it lies after the entries and inside the file.
std::uint64_t IconImageOffset(Bytes file);

// Reads the first image of an icon or cursor file. A DIB image is copied with its height halved (the
// stored height counts the colour image and the mask); a PNG image is decoded into a 32-bit DIB.
// Returns the mapping's error code when the file cannot be read, E_FAIL when the image is not a
// usable DIB or PNG. Nothing is reported: the image pane leaves a gap without a message.
HResult LoadIconImage(const std::filesystem::path& path, IconImage& image);

// One entry of an icon or cursor group resource.
struct GroupEntry {
    std::uint8_t shownWidth = 0;     // byte 0 of the entry (icons: width, 0 for 256)
    std::uint8_t shownHeight = 0;    // byte 1 (icons: height; cursors: the high byte of the width)
    std::uint16_t cursorWidth = 0;   // cursor groups: the 16-bit width (bytes 0 and 1)
    std::uint16_t cursorHeight = 0;  // cursor groups: the 16-bit height, colour and mask rows (bytes 2, 3)
    std::uint16_t bitCount = 0;
    std::uint32_t bytesInResource = 0;
    std::uint16_t id = 0;
};

// The entries of a group resource: a 6-byte header whose third 16-bit value is the entry count, then
// 14-byte entries. The count is limited to the entries the data holds; data shorter than the header
// has no entries.
std::vector<GroupEntry> ParseGroupEntries(Bytes groupData);

// A member picture's width and height as its file gives them.
struct PictureSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The size an entry stands for. An icon entry's width and height bytes hold the size, 0 standing for
// 256, which the member's own picture then tells exactly; a cursor entry holds a 16-bit width and a
// height that counts the mask rows too, so the member's picture decides, else the halved height.
PictureSize GroupEntrySize(const GroupEntry& entry, IconGroupKind kind,
                           const std::optional<PictureSize>& member);

// The text the image pane shows for a group: a heading with the entry count and column titles, then
// one line per entry (ID, width and height, bit count, byte size). `memberSizes[i]`, when given, is
// the picture of entry i as its member file holds it.
std::string GroupListing(Bytes groupData, IconGroupKind kind,
                         const std::vector<std::optional<PictureSize>>& memberSizes = {});

// The file of a group member: "Icon%.5d.ICO" or "Cursor%.5d.CUR" with the member's resource ID, in
// the group file's folder, looked up through the stored-name resolver (case-insensitive match).
HResult MemberPath(const std::filesystem::path& groupPath, const GroupEntry& entry, IconGroupKind kind,
                   std::filesystem::path& out);

}  // namespace kestrel
