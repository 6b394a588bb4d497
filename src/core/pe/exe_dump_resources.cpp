// The resource walk of the import: pe.xml lines for every directory and entry, and one file per
// resource in the working folder.
#include <algorithm>

#include "core/errors/errors.h"
#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/png_codec.h"
#include "core/pe/exe_dump.h"
#include "core/pe/resource_types.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

std::string indent(int spaces) {
    return std::string(static_cast<std::size_t>(std::max(spaces, 0)), ' ');
}

std::string escaped(std::string_view text) {
    std::string out;
    appendXmlEscaped(out, text);
    return out;
}

}  // namespace

std::string CExeDump::nameForId(std::uint16_t id) const {
    return resourceFileNameForId(currentTypeNamed_, currentType_, currentTypeName_, id);
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
        if (!currentTypeNamed_ && currentType_ == resource_type::kString && level == 2)
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
            case resource_type::kString: {
                if (HResult hr = DumpStringBlock(data); hr.failed()) return hr;
                shownFileName_ = std::string(kStringsFileName);
                fileLine();
                return kOk;
            }
            case resource_type::kCursor:
                return dumpIconOrCursor(data, true);
            case resource_type::kIcon:
                return dumpIconOrCursor(data, false);
            case resource_type::kBitmap:
                return dumpBitmap(data);
            case resource_type::kVersion:
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
    const std::vector<std::byte> header =
        MakeSingleIconFileHeader(image, cursor ? IconGroupKind::kCursor : IconGroupKind::kIcon, hotX, hotY);
    if (HResult hr = writeResourceFile(asBytes(header), image, switches_.images); hr.failed()) return hr;
    fileLine();
    return kOk;
}

// .BMP: the 14-byte file header and the resource bytes. The header's pixel offset is where the DIB
// header puts the pixels, however odd the header: after the header as it is (40, 108 or 124
// bytes; 12 for the old core header with 3-byte palette entries), the colour masks that follow a
// 40-byte header, and the colour table.
HResult CExeDump::dumpBitmap(Bytes data) {
    const DibHeader dib = readDibHeader(data);
    const std::vector<std::byte> header = MakeBmpFileHeader(data);

    // Bit-field bitmaps stay .BMP files. One box says so; visual styles hold hundreds of them, and
    // the caller counts them at the end.
    if (dib.compression == kBiBitfields && ++bitFieldBitmaps_ == 1)
        uiSink().message("biCompression", "Bad", MessageIcon::kNone);

    bool pngStep = switches_.pngBitmaps && dib.bitCount == 32 &&
                   iendsWithAscii(storedResourceFileName(currentFileName_), ".bmp");
    if (HResult hr = writeResourceFile(asBytes(header), data, switches_.images, pngStep); hr.failed())
        return hr;

    bool png = false;
    if (pngStep && switches_.images) {
        std::filesystem::path bmpPath = outputPath(shownFileName_);
        bool hadRecord = PeekErrorRecord().has_value();
        if (ConvertBmpToPng(bmpPath).succeeded()) {
            png = true;
            // The description names the PNG; a .BMP left beside it would be an outdated copy.
            if (HResult hr = RemoveFileIfPresent(bmpPath); hr.failed()) return hr;
        } else {
            // The bitmap stays as .BMP (the converter refuses bit-field and compressed bitmaps,
            // among others); a PNG of that name from elsewhere must not be taken for it.
            if (HResult hr = RemoveFileIfPresent(outputPath(pngSiblingName(shownFileName_))); hr.failed())
                return hr;
            if (!hadRecord) ClearErrorRecord();
        }
    }
    fileLine(png);
    return kOk;
}

}  // namespace kestrel
