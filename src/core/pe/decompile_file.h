// Importing a PE file into a working folder.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "core/platform/files.h"
#include "core/platform/status.h"

namespace kestrel {

// What an import met that its caller may want to mention once it is done.
struct ImportSummary {
    int bitFieldBitmaps = 0;  // BI_BITFIELDS bitmaps, kept as .BMP files
    // Set by the caller: it tells the user about bit-field bitmaps itself once the import is done,
    // so the import shows no box when it meets the first one.
    bool callerTellsBitFields = false;
    // Set by the caller: the resource files written are listed in `writtenFiles` (names relative to
    // the folder, with '/'), with the times and sizes they were left with.
    bool callerWantsWrittenFiles = false;
    std::vector<WrittenFile> writtenFiles{};
};

// The command line's warning after an import with bit-field bitmaps; %d is their number.
inline constexpr std::string_view kBitFieldBitmapsWarning =
    "警告: %d 个位域 (BI_BITFIELDS) 位图保留为 BMP 文件。";

// Imports `peFile` into `folder` (created when missing): header and section files, one file per
// resource, pe.xml, STRINGS.XML, and the project file <folder>/<base name>.kestrel, whose path is
// returned in `projectPath`. Failures are recorded (ReportError / ReportMessage) and returned.
// `summary`, when given, receives what the import met (also when it failed part way); its
// callerTellsBitFields is read first.
HResult DecompileFile(const std::filesystem::path& peFile, const std::filesystem::path& folder,
                      std::filesystem::path& projectPath, ImportSummary* summary = nullptr);

// DecompileFile, and then a check that the project file it wrote can be read back and names
// `peFile`: a failed write of the project file is reported ("未能建立文件 %s") and returned.
HResult DecompileProject(const std::filesystem::path& peFile, const std::filesystem::path& folder,
                         std::filesystem::path& projectPath, ImportSummary* summary = nullptr);

// Of `peFile`, the parts an import reads into memory: the headers and the resource section's raw
// data. The sections and the overlay stay in the file, from which they are copied into their files
// (or into the compiled image). A file whose headers are not those of a valid image is read whole,
// so that the import reports on it exactly as on any file.
HResult readHeadersAndResources(const std::filesystem::path& peFile, PartialFileImage& image);

}  // namespace kestrel
