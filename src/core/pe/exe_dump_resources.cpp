// The resource walk of the import: pe.xml lines for every directory and entry, and one file per
// resource in the working folder.
#include <algorithm>

#include "core/errors/errors.h"
#include "core/images/bmp_reader.h"
#include "core/pe/exe_dump.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

constexpr std::uint32_t kTypeCursor = 1;
constexpr std::uint32_t kTypeBitmap = 2;
constexpr std::uint32_t kTypeIcon = 3;
constexpr std::uint32_t kTypeString = 6;
constexpr std::uint32_t kTypeVersion = 16;

constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;

std::string indent(int spaces) {
    return std::string(static_cast<std::size_t>(std::max(spaces, 0)), ' ');
}

std::string escaped(std::string_view text) {
    std::string out;
    appendXmlEscaped(out, text);
    return out;
}

bool isPng(Bytes data) {
    static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (data.size() < sizeof kSignature) return false;
    for (std::size_t i = 0; i < sizeof kSignature; ++i)
        if (static_cast<std::uint8_t>(data[i]) != kSignature[i]) return false;
    return true;
}

std::uint32_t bigEndian32(const ByteReader& reader, std::uint64_t offset) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | reader.u8Or(offset + i, 0);
    return value;
}

// What the 16-byte directory entry of a .ICO or .CUR file says about its one image.
struct IconEntryFields {
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
};

IconEntryFields iconEntryFields(Bytes image) {
    ByteReader reader(image);
    IconEntryFields fields;
    if (isPng(image)) {
        // IHDR follows the signature: length, "IHDR", width, height (big-endian), depth, colour type.
        fields.width = static_cast<std::uint8_t>(bigEndian32(reader, 16));
        fields.height = static_cast<std::uint8_t>(bigEndian32(reader, 20));
        std::uint8_t depth = reader.u8Or(24, 0);
        std::uint8_t colorType = reader.u8Or(25, 0);
        if (colorType == 3 && depth < 8) fields.colorCount = static_cast<std::uint8_t>(1u << depth);
        return fields;
    }
    // BITMAPINFOHEADER; fields missing from a short resource count as zero. The height covers the
    // colour and the mask rows.
    auto width = static_cast<std::int32_t>(reader.u32Or(4, 0));
    auto height = static_cast<std::int32_t>(reader.u32Or(8, 0));
    std::uint16_t bitCount = reader.u16Or(14, 0);
    std::uint32_t colorsUsed = reader.u32Or(32, 0);
    fields.width = static_cast<std::uint8_t>(width);
    fields.height = static_cast<std::uint8_t>(height / 2);
    if (colorsUsed != 0) {
        fields.colorCount = static_cast<std::uint8_t>(colorsUsed);
    } else if (bitCount == 1 || bitCount == 2 || bitCount == 4) {
        fields.colorCount = static_cast<std::uint8_t>(1u << bitCount);
    }
    return fields;
}

}  // namespace

std::string CExeDump::nameForId(std::uint16_t id) const {
    if (currentTypeNamed_) {
        if (iequalsAscii(currentTypeName_, "AVI")) return safeFormat("AVI%.5d.AVI", {id});
        return safeFormat("%s%.5d", {currentTypeName_, id});
    }
    switch (currentType_) {
        case kTypeCursor:
            return safeFormat("Cursor%.5d.CUR", {id});
        case kTypeBitmap:
            return safeFormat("Bitmap%.5d.BMP", {id});
        case kTypeIcon:
            return safeFormat("Icon%.5d.ICO", {id});
        case kTypeString:
            return std::string(kStringsFileName);
        case kTypeVersion:
            return "VERSION";
        default:
            return safeFormat("%s%.5d", {currentTypeName_, id});
    }
}

// Directory line, its named entries, its ID entries, closing tag. Each directory may be reached
// once per import (a loop or a shared subdirectory is a malformed tree), and only the root and the
// directories of level-1 and level-2 entries exist, so the walk is at most three levels deep.
HResult CExeDump::DumpResourceDirectory(std::uint32_t offset, int level, const ResourceDirectoryEntry& via) {
    HResult hr = kOk;
    std::optional<ResourceDirectory> directory;
    std::optional<std::u16string> name;
    if (!visitedDirectories_.insert(offset).second || !(directory = resources_.directory(offset)) ||
        (via.named && !(name = resources_.name(via.nameOffset())))) {
        hr = kFail;
    } else {
        if (level == 1) {
            currentTypeNamed_ = via.named;
            currentType_ = via.named ? via.nameOffset() : via.id();
            currentTypeName_ = via.named ? utf16ToUtf8(*name) : std::to_string(via.id());
        }
        if (via.named) {
            AppendXml(
                "%s<Directory Type='0' Name='%s' Named_Entries='%d' ID_Entries='%d'>\r\n",
                {indent(4 * level), escaped(utf16ToUtf8(*name)), directory->namedCount, directory->idCount});
        } else {
            AppendXml("%s<Directory Type='%d' Named_Entries='%d' ID_Entries='%d'>\r\n",
                      {indent(4 * level), via.id(), directory->namedCount, directory->idCount});
        }
        for (const auto& entry : directory->entries) {
            hr = DumpResourceEntry(entry, level + 1);
            if (hr.failed()) break;
        }
        AppendXml("%s</Directory>\r\n", {indent(4 * level)});
    }
    if (hr.failed()) {
        report(__LINE__, "Failed in DumpResourceDirectory for resource type %d with error 0x%.8x\n",
               {static_cast<std::int32_t>(via.nameField), hr.value()});
    }
    return hr;
}

HResult CExeDump::DumpResourceEntry(const ResourceDirectoryEntry& entry, int level) {
    HResult hr = kOk;
    std::string lead = indent(4 * (level - 1) + 2);
    if (entry.named) {
        auto name = resources_.name(entry.nameOffset());
        if (!name || level == 3) {
            hr = kFail;  // unreadable name, or a language given by name
        } else {
            currentFileName_ = utf16ToUtf8(*name);
            AppendXml("%s<Entry Name='%s' Directory='%d'>\r\n",
                      {lead, escaped(currentFileName_), entry.leadsToDirectory() ? 1 : 0});
        }
    } else {
        std::uint16_t id = entry.id();
        if (!currentTypeNamed_ && currentType_ == kTypeString && level == 2)
            stringBaseId_ = (std::uint32_t{id} - 1) * 16;
        AppendXml("%s<Entry ID='%d' Directory='%d'>\r\n", {lead, id, entry.leadsToDirectory() ? 1 : 0});
        if (level == 2) currentFileName_ = nameForId(id);
    }

    if (hr.succeeded()) {
        if (entry.leadsToDirectory()) {
            // Language entries lead to data; a directory below them is malformed.
            hr = level < 3 ? DumpResourceDirectory(entry.target(), level, entry) : kFail;
        } else if (level != 3) {
            hr = kFail;  // data where a type or a name directory belongs
        } else if (auto dataEntry = resources_.dataEntry(entry.target()); !dataEntry) {
            hr = kFail;
        } else if (dataEntry->size != 0) {
            auto data = resources_.data(*dataEntry);
            currentLanguage_ = entry.id();
            hr = data ? dumpResourceData(*data) : kFail;
        }
        AppendXml("%s</Entry>\r\n", {lead});
    }
    if (hr.failed()) {
        report(__LINE__, "Failed in DumpResourceEntry for entry %s with error 0x%.8x\n",
               {currentFileName_, hr.value()});
    }
    return hr;
}

HResult CExeDump::dumpResourceData(Bytes data) {
    resourceBytes_ += data.size();
    if (resourceBytes_ > resourceByteLimit_) return kFail;
    if (!currentTypeNamed_) {
        switch (currentType_) {
            case kTypeString: {
                if (HResult hr = DumpStringBlock(data); hr.failed()) return hr;
                shownFileName_ = std::string(kStringsFileName);
                fileLine();
                return kOk;
            }
            case kTypeCursor:
                return dumpIconOrCursor(data, true);
            case kTypeIcon:
                return dumpIconOrCursor(data, false);
            case kTypeBitmap:
                return dumpBitmap(data);
            case kTypeVersion:
                currentFileName_ = "VERSION";
                if (HResult hr = writeResourceFile({}, data, switches_.version); hr.failed()) return hr;
                fileLine();
                return kOk;
            default:
                break;
        }
    }
    if (HResult hr = writeResourceFile({}, data, switches_.plainResources); hr.failed()) return hr;
    fileLine();
    return kOk;
}

// Writes the current resource's file (a header, then the data, so the size of the last write is
// the data's). With the switch off the name is still chosen and reported, and nothing is written.
HResult CExeDump::writeResourceFile(Bytes header, Bytes data, bool enabled, bool pngSibling) {
    if (!enabled) {
        chooseShownName(pngSibling);
        lastWriteSize_ = data.size();
        return kOk;
    }
    if (HResult hr = CreateOutFile(Disposition::kCreateAlways, pngSibling); hr.failed()) return hr;
    HResult hr = header.empty() ? kOk : WriteOut(header);
    if (hr.succeeded()) hr = WriteOut(data);
    HResult closed = CloseOut();
    return hr.failed() ? hr : closed;
}

void CExeDump::fileLine(std::optional<bool> png) {
    if (png) {
        AppendXml("%s<File Name='%s' Size='%d' Png='%d'/>\r\n",
                  {indent(12), escaped(shownFileName_), lastWriteSize_, *png ? 1 : 0});
    } else {
        AppendXml("%s<File Name='%s' Size='%d'/>\r\n", {indent(12), escaped(shownFileName_), lastWriteSize_});
    }
}

// .ICO / .CUR: a 6-byte directory (reserved, type 1 or 2, count 1), one 16-byte entry (width,
// height, colour count, reserved, planes and bit count — the hot spot for cursors —, image size,
// image offset 22), then the image. A cursor resource starts with its hot spot, which is not part
// of the image.
HResult CExeDump::dumpIconOrCursor(Bytes data, bool cursor) {
    ByteReader reader(data);
    Bytes image = data;
    std::uint16_t hotX = 0;
    std::uint16_t hotY = 0;
    if (cursor) {
        hotX = reader.u16Or(0, 0);
        hotY = reader.u16Or(2, 0);
        image = data.size() >= 4 ? data.subspan(4) : Bytes{};
    }
    IconEntryFields fields = iconEntryFields(image);
    ByteWriter header;
    header.u16(0);
    header.u16(cursor ? 2 : 1);
    header.u16(1);
    header.u8(fields.width);
    header.u8(fields.height);
    header.u8(fields.colorCount);
    header.u8(0);
    header.u16(hotX);
    header.u16(hotY);
    header.u32(static_cast<std::uint32_t>(image.size()));
    header.u32(22);
    if (HResult hr = writeResourceFile(asBytes(header.bytes()), image, switches_.images); hr.failed())
        return hr;
    fileLine();
    return kOk;
}

// .BMP: the 14-byte file header ("BM", file size, two reserved words, pixel offset) and the
// resource bytes. The pixel offset counts the info header as it is (40, 108 or 124 bytes; 12 for
// the old core header with 3-byte palette entries), the colour masks that follow a 40-byte header,
// and the palette; it never points past the file.
HResult CExeDump::dumpBitmap(Bytes data) {
    ByteReader reader(data);
    std::uint64_t headerSize = reader.u32Or(0, 0);
    std::uint16_t bitCount = reader.u16Or(14, 0);
    std::uint32_t compression = reader.u32Or(16, 0);
    std::uint64_t colorsUsed = reader.u32Or(32, 0);
    std::uint64_t paletteEntrySize = 4;
    if (headerSize == 12) {
        bitCount = reader.u16Or(10, 0);
        compression = 0;
        colorsUsed = 0;
        paletteEntrySize = 3;
    }
    std::uint64_t masks = 0;
    if (headerSize == 40 && compression == kBitFields) masks = 12;
    if (headerSize == 40 && compression == kAlphaBitFields) masks = 16;
    std::uint64_t palette = paletteEntrySize * colorsUsed;
    if (colorsUsed == 0 && (bitCount == 1 || bitCount == 2 || bitCount == 4 || bitCount == 8))
        palette = paletteEntrySize << bitCount;
    std::uint64_t fileSize = 14 + std::uint64_t{data.size()};
    std::uint64_t pixelOffset = std::min(14 + headerSize + masks + palette, fileSize);

    ByteWriter header;
    header.u8('B');
    header.u8('M');
    header.u32(static_cast<std::uint32_t>(std::min<std::uint64_t>(fileSize, UINT32_MAX)));
    header.u16(0);
    header.u16(0);
    header.u32(static_cast<std::uint32_t>(pixelOffset));

    if (compression == kBitFields) uiSink().message("biCompression", "Bad", MessageIcon::kNone);

    bool pngStep = switches_.pngBitmaps && bitCount == 32 &&
                   iendsWithAscii(storedResourceFileName(currentFileName_), ".bmp");
    if (HResult hr = writeResourceFile(asBytes(header.bytes()), data, switches_.images, pngStep); hr.failed())
        return hr;

    bool png = false;
    if (pngStep && switches_.images) {
        std::filesystem::path bmpPath = outputPath(shownFileName_);
        bool hadRecord = PeekErrorRecord().has_value();
        if (ConvertBmpToPng(bmpPath).succeeded()) {
            png = true;
            (void)RemoveFileIfPresent(bmpPath);
        } else {
            // The bitmap stays as .BMP (the converter refuses bit-field and compressed bitmaps,
            // among others); a partial PNG must not be taken for it.
            (void)RemoveFileIfPresent(outputPath(pngSiblingName(shownFileName_)));
            if (!hadRecord) ClearErrorRecord();
        }
    }
    fileLine(png);
    return kOk;
}

}  // namespace kestrel
