#include <memory>

#include "core/errors/errors.h"
#include "core/pe/exe_dump.h"
#include "core/pe/project_files.h"
#include "core/pe/section_names.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "KsDoc";

}  // namespace

HResult DecompileFile(const std::filesystem::path& peFile, const std::filesystem::path& folder,
                      std::filesystem::path& projectPath) {
    (void)CreateFolderPath(folder);

    MappedFile file;
    if (HResult hr = OpenMappedFile(peFile, file); hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    Bytes image = file.bytes();
    if (image.size() < 2 || image[0] != std::byte{'M'} || image[1] != std::byte{'Z'}) {
        ReportMessage(true, kSource, __LINE__, "文件 %s 的格式无法被识别。", {pathToUtf8(peFile)});
        return kFail;
    }

    std::string projectName = pathToUtf8(peFile.stem()) + ".kestrel";
    HResult hr = kOk;
    {
        auto dump = std::make_unique<CExeDump>();
        dump->switches().pngBitmaps = true;
        dump->reserveFileName(projectName);
        hr = dump->Dump(image, folder, kDescriptionFileName);
    }
    CloseMappedFile(file);
    if (hr.failed()) return ReportError(false, kSource, __LINE__, hr);

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
        (void)ReportError(false, kSource, __LINE__, written);
        ReportMessage(false, kSource, __LINE__, "未能建立文件 %s", {pathToUtf8(projectPath)});
        return written;
    }
    return hr;
}

}  // namespace kestrel
