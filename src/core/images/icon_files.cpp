#include "core/images/icon_files.h"

#include <algorithm>

#include "core/images/dib.h"
#include "core/images/png_codec.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

// Single-image file: 6-byte directory (reserved, type, count), 16-byte entries, then the images.
constexpr std::uint64_t kDirectorySize = 6;
constexpr std::uint64_t kDirectoryEntrySize = 16;
constexpr std::uint64_t kFirstImageOffset = kDirectorySize + kDirectoryEntrySize;

// Group resource: 6-byte header, then per entry
//   0 width byte, 1 height byte, 2..5 colour count/reserved/planes (cursors: 16-bit height, planes),
//   6 bit count (16), 8 bytes in resource (32), 12 member ID (16).
constexpr std::uint64_t kGroupHeaderSize = 6;
constexpr std::uint64_t kGroupEntrySize = 14;

}  // namespace

std::uint64_t IconImageOffset(Bytes file) {
    const ByteReader reader(file);
    const std::uint16_t count = reader.u16Or(4, 0);
    if (count > 1) {
        const std::uint64_t firstImage = kDirectorySize + kDirectoryEntrySize * count;
        if (auto offset = reader.u32(kDirectorySize + 12);
            offset && *offset >= firstImage && *offset < file.size())
            return *offset;
    }
    return kFirstImageOffset;
}

bool StartsWithPngSignature(Bytes bytes) {
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (bytes.size() < sizeof kSignature) return false;
    for (std::size_t i = 0; i < sizeof kSignature; ++i)
        if (static_cast<unsigned char>(bytes[i]) != kSignature[i]) return false;
    return true;
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
        entry.bitCount = reader.u16Or(at + 6, 0);
        entry.bytesInResource = reader.u32Or(at + 8, 0);
        entry.id = reader.u16Or(at + 12, 0);
        entries.push_back(entry);
    }
    return entries;
}

std::string GroupListing(Bytes groupData) {
    const std::vector<GroupEntry> entries = ParseGroupEntries(groupData);
    std::string text =
        safeFormat(" 图象数: %d\n ID    大小    BPP   字节\n", {static_cast<unsigned>(entries.size())});
    for (const GroupEntry& entry : entries) {
        // The byte size is shown as a signed number, as the listing always has.
        text += safeFormat("%3d  %3d x%3d  %3d %6d\n",
                           {unsigned{entry.id}, unsigned{entry.shownWidth}, unsigned{entry.shownHeight},
                            unsigned{entry.bitCount}, static_cast<int>(entry.bytesInResource)});
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
    if (StartsWithPngSignature(bytes)) {
        const PngConverter codec;
        ImageRecord record;
        if (codec.ReadPng(bytes, record).failed() || codec.ImageRecordToDib(record, loaded.dib).failed())
            return kFail;
        loaded.fromPng = true;
    } else {
        // The stored height counts the colour rows and the mask rows; the picture is the colour image.
        const ByteReader header(bytes);
        auto headerSize = header.u32(0);
        auto storedHeight = header.i32(8);
        if (!headerSize || *headerSize < kDibInfoHeaderSize || !storedHeight) return kFail;
        loaded.dib.assign(bytes.begin(), bytes.end());
        const std::uint32_t halved = static_cast<std::uint32_t>(*storedHeight / 2);
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
