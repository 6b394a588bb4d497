#include "core/images/icon_files.h"

#include <algorithm>

#include "core/errors/language.h"
#include "core/images/dib.h"
#include "core/images/png_codec.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

// Group resource: 6-byte header, then per entry
//   0 width byte, 1 height byte, 2..5 colour count/reserved/planes (cursors: 16-bit height, planes),
//   6 bit count (16), 8 bytes in resource (32), 12 member ID (16).
constexpr std::uint64_t kGroupHeaderSize = 6;
constexpr std::uint64_t kGroupEntrySize = 14;

}  // namespace

HResult ReadIconDirectory(Bytes file, IconDirectory& out) {
    out = {};
    const ByteReader reader(file);
    if (!reader.contains(0, kIconDirectoryHeaderSize)) return kFail;
    out.reserved = *reader.u16(0);
    out.type = *reader.u16(2);
    out.count = *reader.u16(4);
    const std::uint64_t held = std::min<std::uint64_t>(
        out.count, (file.size() - kIconDirectoryHeaderSize) / kIconDirectoryEntrySize);
    out.entries.resize(static_cast<std::size_t>(held));
    for (std::uint64_t i = 0; i < held; ++i) {
        // Every entry up to `held` lies inside the file.
        if (ReadIconDirectoryEntry(file, i, out.entries[static_cast<std::size_t>(i)]).failed()) {
            out = {};
            return kFail;
        }
    }
    return kOk;
}

HResult ReadIconDirectoryEntry(Bytes file, std::uint64_t index, IconDirectoryEntry& out) {
    out = {};
    if (index > (std::uint64_t{1} << 16)) return kFail;
    const auto entry = ByteReader(file).slice(kIconDirectoryHeaderSize + kIconDirectoryEntrySize * index,
                                              kIconDirectoryEntrySize);
    if (!entry) return kFail;
    out = IconDirectoryEntry{*entry->u8(0),  *entry->u8(1),  *entry->u8(2),  *entry->u16(4),
                             *entry->u16(6), *entry->u32(8), *entry->u32(12)};
    return kOk;
}

HResult FirstIconFileImage(Bytes file, IconFileImage& out) {
    return FirstIconFileImage(file, file.size(), out);
}

HResult FirstIconFileImage(Bytes head, std::uint64_t fileSize, IconFileImage& out) {
    out = {};
    if (head.size() > fileSize) return kFail;
    IconDirectory directory;
    if (ReadIconDirectory(head, directory).failed() || !directory.knownType() || directory.count == 0 ||
        directory.entries.size() != directory.count)
        return kFail;
    const IconDirectoryEntry& entry = directory.entries.front();
    // Both are 32-bit: their sum cannot overflow in 64 bits.
    if (entry.imageBytes == 0 || entry.imageOffset < directory.entriesEnd() ||
        std::uint64_t{entry.imageOffset} + entry.imageBytes > fileSize)
        return kFail;
    out = IconFileImage{entry.imageOffset, entry.imageBytes, entry};
    return kOk;
}

std::uint64_t IconDirectoryExtent(Bytes start, std::uint64_t fileSize) {
    const std::uint64_t count = ByteReader(start).u16(4).value_or(0);
    return std::min(fileSize,
                    kIconDirectoryHeaderSize + kIconDirectoryEntrySize * std::max<std::uint64_t>(count, 1));
}

std::vector<std::byte> MakeSingleIconFileHeader(Bytes image, IconGroupKind kind, std::uint16_t hotSpotX,
                                                std::uint16_t hotSpotY) {
    const ByteReader reader(image);
    std::uint8_t width = 0, height = 0, colorCount = 0;
    if (HasPngSignature(image)) {
        // IHDR follows the signature: length, "IHDR", width, height (big-endian), depth, colour type.
        auto bigEndian32 = [&](std::uint64_t offset) {
            std::uint32_t value = 0;
            for (std::uint64_t i = 0; i < 4; ++i)
                value = (value << 8) | reader.u8Or(offset + i, 0);
            return value;
        };
        width = static_cast<std::uint8_t>(bigEndian32(16));
        height = static_cast<std::uint8_t>(bigEndian32(20));
        const std::uint8_t depth = reader.u8Or(24, 0);
        if (reader.u8Or(25, 0) == 3 && depth < 8) colorCount = static_cast<std::uint8_t>(1u << depth);
    } else {
        // Fields missing from a short image count as zero. The height covers the colour and the
        // mask rows.
        const DibHeader header = readDibHeader(image);
        width = static_cast<std::uint8_t>(header.width);
        height = static_cast<std::uint8_t>(header.height / 2);
        if (header.colorsUsed != 0) {
            colorCount = static_cast<std::uint8_t>(header.colorsUsed);
        } else if (header.bitCount == 1 || header.bitCount == 2 || header.bitCount == 4) {
            colorCount = static_cast<std::uint8_t>(1u << header.bitCount);
        }
    }
    ByteWriter out;
    out.u16(0);
    out.u16(kind == IconGroupKind::kCursor ? kCursorFileType : kIconFileType);
    out.u16(1);
    out.u8(width);
    out.u8(height);
    out.u8(colorCount);
    out.u8(0);
    out.u16(hotSpotX);
    out.u16(hotSpotY);
    out.u32(static_cast<std::uint32_t>(image.size()));
    out.u32(static_cast<std::uint32_t>(kSingleIconImageOffset));
    return std::move(out.bytes());
}

std::uint64_t IconImageOffset(Bytes file) {
    IconDirectory directory;
    if (ReadIconDirectory(file, directory).succeeded() && directory.count > 1 && !directory.entries.empty()) {
        const std::uint64_t offset = directory.entries.front().imageOffset;
        if (offset >= directory.entriesEnd() && offset < file.size()) return offset;
    }
    return kSingleIconImageOffset;
}

std::vector<GroupEntry> ParseGroupEntries(Bytes groupData) {
    const ByteReader reader(groupData);
    std::vector<GroupEntry> entries;
    auto count = reader.u16(4);
    if (!count) return entries;
    const std::uint64_t available = (groupData.size() - kGroupHeaderSize) / kGroupEntrySize;
    const std::uint64_t n = std::min<std::uint64_t>(*count, available);
    entries.reserve(static_cast<std::size_t>(n));
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t at = kGroupHeaderSize + kGroupEntrySize * i;
        GroupEntry entry;
        entry.shownWidth = reader.u8Or(at, 0);
        entry.shownHeight = reader.u8Or(at + 1, 0);
        entry.cursorWidth = reader.u16Or(at, 0);
        entry.cursorHeight = reader.u16Or(at + 2, 0);
        entry.bitCount = reader.u16Or(at + 6, 0);
        entry.bytesInResource = reader.u32Or(at + 8, 0);
        entry.id = reader.u16Or(at + 12, 0);
        entries.push_back(entry);
    }
    return entries;
}

PictureSize GroupEntrySize(const GroupEntry& entry, IconGroupKind kind,
                           const std::optional<PictureSize>& member) {
    if (kind == IconGroupKind::kCursor) {
        if (member) return *member;
        return {entry.cursorWidth, entry.cursorHeight / 2};
    }
    const std::int32_t width = entry.shownWidth == 0 ? 256 : entry.shownWidth;
    const std::int32_t height = entry.shownHeight == 0 ? 256 : entry.shownHeight;
    if (member && (entry.shownWidth == 0 || entry.shownHeight == 0)) {
        return {entry.shownWidth == 0 ? member->width : width,
                entry.shownHeight == 0 ? member->height : height};
    }
    return {width, height};
}

std::string GroupListing(Bytes groupData, IconGroupKind kind,
                         const std::vector<std::optional<PictureSize>>& memberSizes) {
    const std::vector<GroupEntry> entries = ParseGroupEntries(groupData);
    std::string text = safeFormat(Localized(" 图象数: %d\n ID    大小    BPP   字节\n"),
                                  {static_cast<unsigned>(entries.size())});
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const GroupEntry& entry = entries[i];
        const PictureSize size =
            GroupEntrySize(entry, kind, i < memberSizes.size() ? memberSizes[i] : std::nullopt);
        // The byte size is shown as a signed number, as the listing always has.
        text += safeFormat("%3d  %3d x%3d  %3d %6d\n",
                           {unsigned{entry.id}, size.width, size.height, unsigned{entry.bitCount},
                            static_cast<int>(entry.bytesInResource)});
    }
    return text;
}

HResult MemberPath(const fs::path& groupPath, const GroupEntry& entry, IconGroupKind kind, fs::path& out) {
    const std::string name = kind == IconGroupKind::kIcon
                                 ? safeFormat("Icon%.5d.ICO", {unsigned{entry.id}})
                                 : safeFormat("Cursor%.5d.CUR", {unsigned{entry.id}});
    return resolveStored(groupPath.parent_path(), name, out);
}

HResult LoadIconImage(const fs::path& path, IconImage& image) {
    image = IconImage{};
    MappedFile file;
    if (HResult hr = OpenMappedFile(path, file); hr.failed()) return hr;
    const ByteReader reader(file.bytes());
    auto imageBytes = reader.from(IconImageOffset(file.bytes()));
    if (!imageBytes || imageBytes->empty()) return kFail;
    const Bytes bytes = imageBytes->bytes();

    IconImage loaded;
    loaded.shownSize = static_cast<std::uint32_t>(bytes.size());
    if (HasPngSignature(bytes)) {
        const PngConverter codec;
        ImageRecord record;
        if (codec.ReadPng(bytes, record).failed() || codec.ImageRecordToDib(record, loaded.dib).failed())
            return kFail;
        loaded.fromPng = true;
    } else {
        // The stored height counts the colour rows and the mask rows; the picture is the colour image.
        const DibHeader header = readDibHeader(bytes);
        // The height field (bytes 8 to 11) must be there to be halved.
        if (bytes.size() < 12 || header.headerSize < kDibInfoHeaderSize) return kFail;
        loaded.dib.assign(bytes.begin(), bytes.end());
        const auto halved = static_cast<std::uint32_t>(header.height / 2);
        for (int i = 0; i < 4; ++i)
            loaded.dib[8 + i] = static_cast<std::byte>((halved >> (8 * i)) & 0xFF);
    }
    DibInfo info;
    if (validateDib(asBytes(loaded.dib), info).failed()) return kFail;
    loaded.width = info.width;
    loaded.height = info.height;
    loaded.bitCount = info.bitCount;
    image = std::move(loaded);
    return kOk;
}

}  // namespace kestrel
