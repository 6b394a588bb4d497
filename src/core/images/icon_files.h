// Icon and cursor files of a working folder: the single-image .ICO/.CUR files (one per icon or cursor
// resource, named after its ID) and the raw group resources that list them.
#pragma once

#include <cstdint>
#include <filesystem>
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

// Where the first image of an icon or cursor file starts. Files of our own have one image right
// after the 6-byte directory and its 16-byte entry (offset 22); for a file with several images the
// first entry's offset is used when it lies in the file.
std::uint64_t IconImageOffset(Bytes file);

// True when `bytes` starts with the PNG signature (PNG-compressed icon images).
bool StartsWithPngSignature(Bytes bytes);

// Reads the first image of an icon or cursor file. A DIB image is copied with its height halved (the
// stored height counts the colour image and the mask); a PNG image is decoded into a 32-bit DIB.
// Returns the mapping's error code when the file cannot be read, E_FAIL when the image is not a
// usable DIB or PNG. Nothing is reported: the image pane leaves a gap without a message.
HResult LoadIconImage(const std::filesystem::path& path, IconImage& image);

// One entry of an icon or cursor group resource.
struct GroupEntry {
    std::uint8_t shownWidth = 0;   // byte 0 of the entry (icons: width, 0 for 256)
    std::uint8_t shownHeight = 0;  // byte 1 (icons: height; cursors: the high byte of the width)
    std::uint16_t bitCount = 0;
    std::uint32_t bytesInResource = 0;
    std::uint16_t id = 0;
};

// The entries of a group resource: a 6-byte header whose third 16-bit value is the entry count, then
// 14-byte entries. The count is limited to the entries the data holds; data shorter than the header
// has no entries.
std::vector<GroupEntry> ParseGroupEntries(Bytes groupData);

// The text the image pane shows for a group: a heading with the entry count and column titles, then
// one line per entry (ID, the two shown size bytes, bit count, byte size).
std::string GroupListing(Bytes groupData);

// The file of a group member: "Icon%.5d.ICO" or "Cursor%.5d.CUR" with the member's resource ID, in
// the group file's folder, looked up through the stored-name resolver (case-insensitive match).
HResult MemberPath(const std::filesystem::path& groupPath, const GroupEntry& entry, IconGroupKind kind,
                   std::filesystem::path& out);

}  // namespace kestrel
