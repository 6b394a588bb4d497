#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/errors/errors.h"
#include "core/pe/decompile_file.h"
#include "core/pe/exe_dump.h"
#include "core/pe/pe_image.h"
#include "core/pe/section_names.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "KsDoc";
constexpr std::string_view kCannotCreate = "未能建立文件 %s";
constexpr const char* kOverwritesInput =
    "导入的文件 %s 位于工作目录中，会被同名的输出文件覆盖。请选择其他目录。";

// Where `peFile` lies inside `folder`: its name relative to the folder in the stored form
// (backslashes); empty when it lies elsewhere.
std::string storedNameInside(const std::filesystem::path& peFile, const std::filesystem::path& folder) {
    std::error_code error;
    const std::filesystem::path file = std::filesystem::weakly_canonical(peFile, error);
    if (error) return {};
    const std::filesystem::path base = std::filesystem::weakly_canonical(folder, error);
    if (error) return {};
    const std::filesystem::path relative = file.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..") return {};
    std::string stored = pathToUtf8(relative);
    std::replace(stored.begin(), stored.end(), '/', '\\');
    return stored;
}

// The names the import writes under fixed names (headers, sections, descriptions, project): one
// of them equal to the file being imported would overwrite it.
bool takesFixedName(std::string_view stored, Bytes image, std::string_view projectName) {
    std::vector<std::string> names{std::string(kDosHeaderFileName), std::string(kNtHeaderFileName),
                                   std::string(kOverlayFileName),   std::string(kDescriptionFileName),
                                   std::string(kStringsFileName),   std::string(projectName)};
    PeImage pe;
    if (parsePeImage(image, pe).succeeded()) {
        std::vector<SectionNameBytes> sections;
        for (const auto& section : pe.sections)
            sections.push_back(section.name);
        for (std::string& file : sectionFileNames(sections))
            names.push_back(std::move(file));
    }
    return std::any_of(names.begin(), names.end(),
                       [stored](const std::string& name) { return iequalsAscii(name, stored); });
}

// Every entry under `folder` (relative paths, links not followed); nothing when it cannot be listed.
std::optional<std::set<std::filesystem::path>> listFolder(const std::filesystem::path& folder) {
    std::set<std::filesystem::path> entries;
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(folder, error), end;
    if (error) return std::nullopt;
    for (; it != end; it.increment(error)) {
        if (error) return std::nullopt;
        entries.insert(it->path().lexically_relative(folder));
    }
    if (error) return std::nullopt;
    return entries;
}

// After a failed import: removes every entry the import added to `folder` (deepest first), and
// the folder itself when the import created it. Files that were there before stay.
void removeAdded(const std::filesystem::path& folder, const std::set<std::filesystem::path>& before,
                 bool folderCreated) {
    auto now = listFolder(folder);
    if (!now) return;
    for (auto it = now->rbegin(); it != now->rend(); ++it) {
        if (before.count(*it) != 0) continue;
        std::error_code error;
        std::filesystem::remove(folder / *it, error);
    }
    if (folderCreated) {
        std::error_code error;
        std::filesystem::remove(folder, error);
    }
}

}  // namespace

HResult readHeadersAndResources(const std::filesystem::path& peFile, PartialFileImage& image) {
    // Small pages for the headers; the resource section, one long run, gets large ones.
    if (HResult hr = image.open(peFile, false); hr.failed()) return hr;
    const std::uint64_t size = image.bytes().size();
    constexpr std::uint64_t kHeaderGuess = 4096;
    if (HResult hr = image.load(0, std::min(size, kHeaderGuess)); hr.failed()) return hr;
    PeImage pe;
    bool valid = parsePeImage(image.bytes(), pe).succeeded();
    if (valid && pe.sizeOfHeaders > kHeaderGuess) {
        if (HResult hr = image.load(0, pe.sizeOfHeaders); hr.failed()) return hr;
        valid = parsePeImage(image.bytes(), pe).succeeded();
    }
    if (!valid) return image.load(0, size);
    if (!pe.resourceSection) return kOk;
    const Bytes resources = pe.availableRawData(pe.sections[*pe.resourceSection]);
    if (resources.empty()) return kOk;
    return image.load(static_cast<std::uint64_t>(resources.data() - image.bytes().data()), resources.size());
}

HResult DecompileFile(const std::filesystem::path& peFile, const std::filesystem::path& folder,
                      std::filesystem::path& projectPath, ImportSummary* summary) {
    const bool callerTellsBitFields = summary != nullptr && summary->callerTellsBitFields;
    const bool callerWantsWrittenFiles = summary != nullptr && summary->callerWantsWrittenFiles;
    if (summary) {
        *summary = ImportSummary{};
        summary->callerTellsBitFields = callerTellsBitFields;
        summary->callerWantsWrittenFiles = callerWantsWrittenFiles;
    }
    std::error_code existsError;
    const bool folderCreated = !std::filesystem::exists(folder, existsError) && !existsError;
    if (HResult hr = CreateFolderPath(folder); hr.failed()) {
        hr = ReportError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "未能建立目录 %s", {pathToUtf8(folder)});
        return hr;
    }

    // Only the headers and the resource section are read into memory; the header and section
    // files and the overlay are copied from the open file, without passing through our memory.
    auto file = std::make_unique<PartialFileImage>();
    if (HResult hr = readHeadersAndResources(peFile, *file); hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    Bytes image = file->bytes();
    if (image.size() < 2 || image[0] != std::byte{'M'} || image[1] != std::byte{'Z'}) {
        ReportMessage(true, kSource, __LINE__, "文件 %s 的格式无法被识别。", {pathToUtf8(peFile)});
        return kFail;
    }

    std::string projectName = pathToUtf8(peFile.stem()) + ".kestrel";
    // A file imported into the folder it lies in must survive its own import: resource files keep
    // clear of its name, and a fixed name equal to it refuses the import before anything is written.
    const std::string inside = storedNameInside(peFile, folder);
    if (!inside.empty() && takesFixedName(inside, image, projectName)) {
        const HResult exists = ReportError(true, kSource, __LINE__, hresultFromWin32(win32::kFileExists));
        ReportMessage(false, kSource, __LINE__, kOverwritesInput, {pathToUtf8(peFile)});
        return exists;
    }
    // A failed import takes away what it wrote: the folder is left as the import found it.
    const std::optional<std::set<std::filesystem::path>> before = listFolder(folder);
    auto undo = [&] {
        if (before) removeAdded(folder, *before, folderCreated);
    };
    HResult hr = kOk;
    {
        auto dump = std::make_unique<CExeDump>();
        dump->switches().pngBitmaps = true;
        dump->switches().bitFieldBox = !callerTellsBitFields;
        dump->recordWrittenFiles(callerWantsWrittenFiles);
        dump->setSourceFile(&file->file());
        dump->reserveFileName(projectName);
        if (!inside.empty()) dump->reserveFileName(inside);
        hr = dump->Dump(image, folder, kDescriptionFileName);
        if (summary) {
            summary->bitFieldBitmaps = dump->bitFieldBitmaps();
            summary->writtenFiles = dump->writtenFiles();
        }
    }
    file.reset();
    if (hr.failed()) {
        undo();
        return ReportError(false, kSource, __LINE__, hr);
    }

    projectPath = folder / pathFromUtf8(projectName);
    XmlDocument project;
    HResult written = project.OpenOutput(projectPath);
    if (written.succeeded()) {
        project.MakeElement("ROOT");
        written = project.SetAttribute("\\ROOT\\PEFILE", "FileName", kDescriptionFileName);
        if (written.succeeded())
            written = project.SetAttribute("\\ROOT\\RESFILE", "FileName", pathToUtf8(peFile));
        if (written.succeeded()) written = project.SaveFile();
    }
    // Without its project file the import cannot be opened: report it rather than claim success.
    if (written.failed()) {
        undo();
        written = ReportError(false, kSource, __LINE__, written);
        ReportMessage(false, kSource, __LINE__, kCannotCreate, {pathToUtf8(projectPath)});
        return written;
    }
    return hr;
}

HResult DecompileProject(const std::filesystem::path& peFile, const std::filesystem::path& folder,
                         std::filesystem::path& projectPath, ImportSummary* summary) {
    if (HResult hr = DecompileFile(peFile, folder, projectPath, summary); hr.failed()) return hr;
    // The import does not check its last write, the project file; without it the working folder
    // cannot be opened, so a missing or foreign project file fails the import.
    XmlDocument project;
    HResult hr = project.LoadFile(projectPath);
    std::string resourceFile;
    if (hr.succeeded()) hr = project.GetAttribute("\\ROOT\\RESFILE", "FileName", resourceFile);
    if (hr.succeeded() && resourceFile != pathToUtf8(peFile)) hr = kFail;
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, kCannotCreate, {pathToUtf8(projectPath)});
    }
    return hr;
}

}  // namespace kestrel
