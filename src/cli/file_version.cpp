#include "cli/file_version.h"

#include <optional>

#include "core/platform/files.h"

namespace kestrel {

FixedFileInfo programFileVersion() {
    FixedFileInfo info;
    info.signature = kFixedFileInfoSignature;
    info.structVersion = 0x00010000;
    info.fileVersionMS = KESTREL_VERSION_MS;
    info.fileVersionLS = KESTREL_VERSION_LS;
    info.productVersionMS = KESTREL_VERSION_MS;
    info.productVersionLS = KESTREL_VERSION_LS;
    info.fileFlagsMask = 0x3F;
    info.fileOS = 0x00040004;
    info.fileType = 1;  // application
    return info;
}

HResult GetFileVersion(const std::filesystem::path& path, FixedFileInfo& info) {
    if (IsSameFile(path, "/proc/self/exe")) {
        info = programFileVersion();
        return kOk;
    }
    MappedFile file;
    if (HResult hr = OpenMappedFile(path, file); hr.failed()) return hr;
    Bytes resource;
    if (HResult hr = FindVersionResource(file.bytes(), resource); hr.failed()) return hr;
    VersionInfo version;
    if (HResult hr = ParseVersionInfo(resource, version); hr.failed()) return hr;
    std::optional<FixedFileInfo> fixed = GetFixedFileInfo(version);
    if (!fixed) return kFail;
    info = *fixed;
    return kOk;
}

}  // namespace kestrel
