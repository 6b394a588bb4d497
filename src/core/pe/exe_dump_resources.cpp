// The resource walk of the import: pe.xml lines for every directory and entry, and one file per
// resource in the working folder.
#include <png.h>

#include <algorithm>
#include <system_error>

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

// The name of a standard resource type, as resource scripts write it; the number for any other.
std::string typeLabel(std::uint32_t id) {
    static constexpr std::pair<std::uint32_t, const char*> kNames[] = {
        {1, "CURSOR"},       {2, "BITMAP"},       {3, "ICON"},          {4, "MENU"},
        {5, "DIALOG"},       {6, "STRINGTABLE"},  {7, "FONTDIR"},       {8, "FONT"},
        {9, "ACCELERATORS"}, {10, "RCDATA"},      {11, "MESSAGETABLE"}, {12, "GROUP_CURSOR"},
        {14, "GROUP_ICON"},  {16, "VERSIONINFO"}, {17, "DLGINCLUDE"},   {19, "PLUGPLAY"},
        {20, "VXD"},         {21, "ANICURSOR"},   {22, "ANIICON"},      {23, "HTML"},
        {24, "MANIFEST"}};
    for (const auto& [number, name] : kNames)
        if (number == id) return name;
    return std::to_string(id);
}

}  // namespace

std::string CExeDump::currentTypeLabel() const {
    return currentTypeNamed_ ? currentTypeName_ : typeLabel(currentType_);
}

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
        if (level == 0) {
            report(__LINE__, "Failed in DumpResourceDirectory for the root directory with error 0x%.8x\n",
                   {hr.value()});
        } else if (level == 1) {
            report(__LINE__, "Failed in DumpResourceDirectory for resource type %s with error 0x%.8x\n",
                   {currentTypeLabel(), hr.value()});
        } else {
            report(__LINE__, "Failed in DumpResourceDirectory for resource %s of type %s with error 0x%.8x\n",
                   {currentNameLabel_, currentTypeLabel(), hr.value()});
        }
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
            if (level == 2) currentNameLabel_ = currentFileName_;
            AppendXml("%s<Entry Name='%s' Directory='%d'>\r\n",
                      {lead, escaped(currentFileName_), entry.leadsToDirectory() ? 1 : 0});
        }
    } else {
        std::uint16_t id = entry.id();
        if (!currentTypeNamed_ && currentType_ == resource_type::kString && level == 2)
            stringBaseId_ = (std::uint32_t{id} - 1) * 16;
        AppendXml("%s<Entry ID='%d' Directory='%d'>\r\n", {lead, id, entry.leadsToDirectory() ? 1 : 0});
        if (level == 2) {
            currentFileName_ = nameForId(id);
            currentNameLabel_ = std::to_string(id);
        }
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
            currentCodePage_ = dataEntry->codePage;
            if (data) {
                hr = dumpResourceData(*data);
            } else {
                // Packers move resource data out of the resource section and leave the tree behind.
                report(__LINE__, "资源 %s %s (%d) 的数据位于资源节之外（0x%X，%u 字节）；文件可能被压缩。",
                       {currentTypeLabel(), currentNameLabel_, entry.id(), dataEntry->rva, dataEntry->size});
                hr = kFail;
            }
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
                if (stringTail_.empty()) {
                    fileLine();
                } else {
                    AppendXml("%s<File Name='%s' Size='%d' Tail='%s'%s/>\r\n",
                              {indent(12), escaped(shownFileName_), lastWriteSize_, stringTail_,
                               codePageAttribute()});
                }
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
    if (memory_) {
        chooseShownName(pngSibling);
        if (header.empty()) {
            memory_->putView(shownFileName_, data);
        } else {
            memory_->putJoined(shownFileName_, header, data);
        }
        lastWriteSize_ = data.size();
        return kOk;
    }
    if (HResult hr = CreateOutFile(Disposition::kCreateAlways, pngSibling); hr.failed()) return hr;
    // One write call per file: the header goes out in front of the data in the same call.
    HResult hr = header.empty() ? WriteOut(data) : WriteOut(header, data);
    HResult closed = CloseOut();
    return hr.failed() ? hr : closed;
}

void CExeDump::fileLine(std::optional<bool> png) {
    if (png) {
        AppendXml("%s<File Name='%s' Size='%d' Png='%d'%s/>\r\n",
                  {indent(12), escaped(shownFileName_), lastWriteSize_, *png ? 1 : 0, codePageAttribute()});
    } else {
        AppendXml("%s<File Name='%s' Size='%d'%s/>\r\n",
                  {indent(12), escaped(shownFileName_), lastWriteSize_, codePageAttribute()});
    }
}

// Almost every data entry has code page 0; only the others say so, so that their descriptions
// stay as they always were.
std::string CExeDump::codePageAttribute() const {
    if (currentCodePage_ == 0) return {};
    return " CodePage='" + std::to_string(currentCodePage_) + "'";
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
    if (dib.compression == kBiBitfields && ++bitFieldBitmaps_ == 1 && switches_.bitFieldBox)
        uiSink().message("biCompression", "Bad", MessageIcon::kNone);

    bool pngStep = switches_.pngBitmaps && !memory_ && dib.bitCount == 32 &&
                   iendsWithAscii(storedResourceFileName(currentFileName_), ".bmp");
    // The converter takes uncompressed pixels only: bit-field bitmaps stay .BMP without a try.
    const bool refused = dib.headerSize >= 20 && dib.compression != kBiRgb;
    if (!pngStep || !switches_.images || refused) {
        if (HResult hr = writeResourceFile(asBytes(header), data, switches_.images, pngStep); hr.failed())
            return hr;
        // A PNG of that name from elsewhere must not be taken for the bitmap.
        if (pngStep && switches_.images && !freshFolder_) {
            if (HResult hr = RemoveFileIfPresent(outputPath(pngSiblingName(shownFileName_))); hr.failed())
                return hr;
        }
        fileLine(false);
        return kOk;
    }

    // The PNG is made on a worker thread; the description gets its line now, with the digit that
    // says whether the PNG or the .BMP was written filled in when the conversion is done.
    chooseShownName(true);
    lastWriteSize_ = data.size();
    if (HResult hr = createSubfolderOf(shownFileName_); hr.failed()) return hr;
    PngJob job;
    job.bmp.reserve(header.size() + data.size());
    job.bmp.assign(header.begin(), header.end());
    job.bmp.insert(job.bmp.end(), data.begin(), data.end());
    job.bmpPath = outputPath(shownFileName_);
    job.pngPath = outputPath(pngSiblingName(shownFileName_));
    fileLine(false);
    job.xmlDigit = xml_.rfind("Png='0'") + 5;
    queuePngJob(std::move(job));
    return kOk;
}

CExeDump::~CExeDump() {
    stopPngWorkers();
}

// The PNG encoding favours speed: one fixed filter and a low compression level. The pixels are
// the same whatever the settings.
void CExeDump::convertPngJob(PngJob& job) {
    job.converted = false;
    try {
        ImageRecord record;
        if (ReadBmp(pathToUtf8(job.bmpPath), asBytes(job.bmp), record).failed()) return;
        PngWriteSettings settings;
        settings.compressionLevel = 2;
        settings.filterMask = PNG_FILTER_UP;
        std::vector<std::byte> png;
        HResult encoded = WritePng(record, png, settings);
        FreeImageRecord(record);
        if (encoded.failed()) return;
        if (WriteWholeFile(job.pngPath, asBytes(png)).failed()) {
            (void)RemoveFileIfPresent(job.pngPath);
            return;
        }
        job.converted = true;
        std::vector<std::byte>().swap(job.bmp);  // only a bitmap that stays .BMP needs its bytes
    } catch (...) {
        // Out of memory: the bitmap stays a .BMP file.
        (void)RemoveFileIfPresent(job.pngPath);
    }
}

void CExeDump::queuePngJob(PngJob job) {
    {
        std::lock_guard lock(pngMutex_);
        pngJobs_.push_back(std::move(job));
    }
    if (pngWorkers_.empty()) {
        // The walk keeps one core busy writing files; the other cores encode.
        unsigned cores = std::max(2u, std::thread::hardware_concurrency());
        try {
            for (unsigned i = 0; i + 1 < cores; ++i)
                pngWorkers_.emplace_back([this] { pngWorker(); });
        } catch (const std::system_error&) {
            // No threads to be had: the jobs are done on this thread when the walk is over.
        }
    }
    pngReady_.notify_one();
}

CExeDump::PngJob* CExeDump::takePngJob(bool wait) {
    std::unique_lock lock(pngMutex_);
    if (wait) pngReady_.wait(lock, [this] { return walkDone_ || nextPngJob_ < pngJobs_.size(); });
    if (nextPngJob_ >= pngJobs_.size()) return nullptr;
    return &pngJobs_[nextPngJob_++];
}

void CExeDump::pngWorker() {
    while (PngJob* job = takePngJob(true))
        convertPngJob(*job);
}

void CExeDump::stopPngWorkers() {
    {
        std::lock_guard lock(pngMutex_);
        walkDone_ = true;
    }
    pngReady_.notify_all();
    for (auto& worker : pngWorkers_)
        worker.join();
    pngWorkers_.clear();
}

HResult CExeDump::finishPngJobs() {
    {
        std::lock_guard lock(pngMutex_);
        walkDone_ = true;
    }
    pngReady_.notify_all();
    while (PngJob* job = takePngJob(false))
        convertPngJob(*job);
    stopPngWorkers();

    HResult result = kOk;
    for (PngJob& job : pngJobs_) {
        xml_[job.xmlDigit] = job.converted ? '1' : '0';
        if (result.failed()) continue;
        if (job.converted) {
            // A .BMP left beside the PNG by an earlier import would be an outdated copy.
            if (!freshFolder_) result = RemoveFileIfPresent(job.bmpPath);
        } else {
            // The bitmap stays as .BMP (the converter refuses bit-field and compressed bitmaps,
            // among others); a PNG of that name from elsewhere must not be taken for it.
            if (HResult hr = WriteWholeFile(job.bmpPath, asBytes(job.bmp)); hr.failed()) {
                report(__LINE__, "未能建立文件 %s", {pathToUtf8(job.bmpPath)});
                result = hr;
            } else if (!freshFolder_) {
                result = RemoveFileIfPresent(job.pngPath);
            }
        }
    }
    pngJobs_.clear();
    nextPngJob_ = 0;
    return result;
}

}  // namespace kestrel
