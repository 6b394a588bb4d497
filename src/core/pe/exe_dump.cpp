#include "core/pe/exe_dump.h"

#include <algorithm>

#include "core/errors/errors.h"
#include "core/pe/section_names.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "EXEDUMP";
constexpr std::string_view kCannotWriteFile = "未能写入到文件 %s\n";
constexpr std::uint64_t kResourceByteAllowance = 64u << 20;

}  // namespace

void appendXmlEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "&quot;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                if (byte < 0x20) {
                    out += "&#x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                    out += ';';
                } else {
                    out += c;
                }
        }
    }
}

void CExeDump::report(int line, std::string_view format, std::initializer_list<FormatArg> args) {
    // The innermost failure of a dump starts the report; every caller on the way out adds its line.
    ReportMessage(!reportStarted_, kSource, line, format, args);
    reportStarted_ = true;
}

std::filesystem::path CExeDump::outputPath(std::string_view stored) const {
    std::string native(stored);
    std::replace(native.begin(), native.end(), '\\', '/');
    return folder_ / pathFromUtf8(native);
}

HResult CExeDump::Dump(Bytes image, const std::filesystem::path& folder, std::string_view peXmlName) {
    folder_ = folder;
    image_ = image;
    {
        std::error_code error;
        std::filesystem::directory_iterator entries(folder_, error);
        freshFolder_ = !error && entries == std::filesystem::directory_iterator();
    }
    claimed_ = freshFolder_ ? ClaimedNames() : ClaimedNames(folder_);
    createdFolders_.clear();
    pngJobs_.clear();
    nextPngJob_ = 0;
    walkDone_ = false;
    visitedDirectories_.clear();
    resourceBytes_ = 0;
    resourceByteLimit_ = 8 * std::uint64_t{image.size()} + kResourceByteAllowance;
    reportStarted_ = false;
    xml_.clear();
    strings_.clear();
    stringsStarted_ = false;
    defaultStringLanguage_.reset();

    // The DOS header and stub are written before the image is validated, as far as e_lfanew is a
    // sensible length: a file with a bad signature at a readable offset still leaves them behind.
    std::int32_t peHeaderOffset = 0;
    if (switches_.dosHeader && readPeHeaderOffset(image, peHeaderOffset).succeeded() && peHeaderOffset > 0 &&
        static_cast<std::uint64_t>(peHeaderOffset) <= image.size()) {
        if (HResult hr =
                writeFixedFile(kDosHeaderFileName, image.first(static_cast<std::size_t>(peHeaderOffset)));
            hr.failed()) {
            report(__LINE__, kCannotWriteFile, {kDosHeaderFileName});
            return hr;
        }
    }

    PeImage pe;
    std::string reason;
    if (parsePeImage(image, pe, &reason).failed()) {
        report(__LINE__, "无法导入这个 PE 文件：%s", {reason});
        return kFail;
    }

    if (HResult hr = dumpHeaders(pe); hr.failed()) {
        report(__LINE__, "Failed while dumping NT Header\n", {});
        return hr;
    }

    HResult walk = kOk;
    if (!pe.resourceSection) {
        // An image without resources (a freshly linked program, say) is described by an empty root
        // directory: it compiles back unchanged, and resources added to it get a section of their own.
        AppendXml("<Directory Type='0' Named_Entries='0' ID_Entries='0'>\r\n</Directory>\r\n");
    } else {
        resources_ = ResourceReader::forImage(pe);
        walk = DumpResourceDirectory(0, 0, ResourceDirectoryEntry{});
        HResult images = finishPngJobs();
        if (walk.failed()) report(__LINE__, "当 dumping 资源 (.rsrc) 部分的时候发生错误\n", {});
        if (walk.succeeded()) walk = images;
    }

    HResult closed = CloseStrings();
    AppendXml("\n");
    if (walk.failed()) return walk;
    if (closed.failed()) return closed;
    return FlushXml(peXmlName);
}

// NTHEADER.BIN (NT headers, section table and header padding), one file per section except the
// resource section, and PEOVERLAY.BIN for whatever follows the last section's raw data.
HResult CExeDump::dumpHeaders(const PeImage& pe) {
    std::vector<SectionNameBytes> names;
    names.reserve(pe.sections.size());
    for (const auto& section : pe.sections)
        names.push_back(section.name);
    std::vector<std::string> files = sectionFileNames(names);

    for (std::string_view fixed :
         {kDosHeaderFileName, kNtHeaderFileName, kOverlayFileName, kDescriptionFileName, kStringsFileName})
        claimed_.claimFile(fixed);
    for (const auto& reserved : reserved_)
        claimed_.claimFile(reserved);
    for (const auto& file : files)
        if (!file.empty()) claimed_.claimFile(file);

    if (switches_.ntHeader) {
        Bytes headers = pe.file.subspan(pe.peHeaderOffset, pe.sizeOfHeaders - pe.peHeaderOffset);
        if (HResult hr = writeFixedFile(kNtHeaderFileName, headers); hr.failed()) {
            report(__LINE__, kCannotWriteFile, {kNtHeaderFileName});
            return hr;
        }
    }
    if (!switches_.sectionData) return kOk;
    for (std::size_t i = 0; i < pe.sections.size(); ++i) {
        if (files[i].empty()) continue;
        const SectionHeader& section = pe.sections[i];
        if (HResult hr = writeFixedFile(files[i], pe.availableRawData(section), pe.missingRawData(section));
            hr.failed()) {
            report(__LINE__, kCannotWriteFile, {files[i]});
            return hr;
        }
    }

    // Only images with an overlay get the file; a leftover of an earlier import would otherwise
    // be appended to this image by the compile.
    Bytes overlay = pe.overlay();
    HResult hr = !overlay.empty() ? writeFixedFile(kOverlayFileName, overlay)
                 : freshFolder_   ? kOk
                                  : RemoveFileIfPresent(outputPath(kOverlayFileName));
    if (hr.failed()) {
        report(__LINE__, kCannotWriteFile, {kOverlayFileName});
        return hr;
    }
    return kOk;
}

HResult CExeDump::writeFixedFile(std::string_view name, Bytes data, std::uint64_t zeroPadding) {
    OutputFile file;
    if (HResult hr = file.open(outputPath(name), Disposition::kCreateAlways); hr.failed()) return hr;
    if (source_ && !data.empty()) {
        // The bytes lie in the source file at the place they have in the image.
        const auto offset = static_cast<std::uint64_t>(data.data() - image_.data());
        if (HResult hr = file.copyFrom(*source_, offset, data.size()); hr.failed()) return hr;
    } else if (HResult hr = file.write(data); hr.failed()) {
        return hr;
    }
    if (zeroPadding != 0) {
        std::vector<std::byte> zeros(static_cast<std::size_t>(std::min<std::uint64_t>(zeroPadding, 0x10000)));
        while (zeroPadding != 0) {
            std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(zeroPadding, zeros.size()));
            if (HResult hr = file.write(Bytes(zeros.data(), chunk)); hr.failed()) return hr;
            zeroPadding -= chunk;
        }
    }
    return file.close();
}

std::string CExeDump::chooseShownName(bool pngSibling) {
    shownFileName_ =
        claimed_.claimFor(storedResourceFileName(currentFileName_), currentLanguage_, pngSibling);
    return shownFileName_;
}

HResult CExeDump::CreateOutFile(Disposition disposition, bool pngSibling) {
    if (out_.isOpen()) (void)out_.close();
    chooseShownName(pngSibling);
    if (HResult hr = createSubfolderOf(shownFileName_); hr.failed()) return hr;
    std::filesystem::path path = outputPath(shownFileName_);
    if (HResult hr = out_.open(path, disposition); hr.failed()) {
        report(__LINE__, "未能建立文件 %s", {pathToUtf8(path)});
        return hr;
    }
    return kOk;
}

// Each folder of the working folder is made once per import; its files then go in without a check.
HResult CExeDump::createSubfolderOf(std::string_view stored) {
    std::string_view subfolder = storedFolderPart(stored);
    if (subfolder.empty() || createdFolders_.count(std::string(subfolder)) != 0) return kOk;
    std::filesystem::path folderPath = outputPath(subfolder);
    if (HResult hr = CreateFolderPath(folderPath); hr.failed()) {
        report(__LINE__, "未能建立目录 %s", {pathToUtf8(folderPath)});
        return hr;
    }
    createdFolders_.emplace(subfolder);
    return kOk;
}

HResult CExeDump::WriteOut(Bytes data) {
    if (!out_.isOpen()) return kFail;
    if (HResult hr = out_.write(data); hr.failed()) {
        report(__LINE__, "写入文件时错误 0x%.8x\n", {hr.value()});
        return hr;
    }
    lastWriteSize_ = data.size();
    return kOk;
}

HResult CExeDump::WriteOut(Bytes head, Bytes data) {
    if (!out_.isOpen()) return kFail;
    if (HResult hr = out_.write(head, data); hr.failed()) {
        report(__LINE__, "写入文件时错误 0x%.8x\n", {hr.value()});
        return hr;
    }
    lastWriteSize_ = data.size();
    return kOk;
}

HResult CExeDump::CloseOut() {
    if (!out_.isOpen()) return kFail;
    WrittenFile file;
    if (recordWritten_ && out_.currentState(file.time, file.size)) {
        file.name = shownFileName_;
        std::replace(file.name.begin(), file.name.end(), '\\', '/');
        written_.push_back(std::move(file));
    }
    if (HResult hr = out_.close(); hr.failed()) {
        report(__LINE__, "关闭文件时错误 0x%.8x\n", {hr.value()});
        return hr;
    }
    return kOk;
}

void CExeDump::AppendXml(std::string_view format, std::initializer_list<FormatArg> args) {
    appendFormat(xml_, format, std::span<const FormatArg>(args.begin(), args.size()));
}

HResult CExeDump::FlushXml(std::string_view fileName) {
    if (!switches_.peXml) return kOk;
    if (HResult hr = WriteFileAtomic(outputPath(fileName), std::string_view(xml_)); hr.failed()) {
        report(__LINE__, kCannotWriteFile, {fileName});
        return hr;
    }
    return kOk;
}

}  // namespace kestrel
