#include "app/app_files.h"

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "core/platform/files.h"

namespace kestrel {

HResult IsUserAdmin() {
    return ::geteuid() == 0 ? kOk : kFalse;
}

HResult GetDataFolder(std::filesystem::path& folder) {
    std::filesystem::path base;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return hresultFromWin32(win32::kPathNotFound);
        base = std::filesystem::path(home) / ".local" / "share";
    }
    std::filesystem::path result = base / "Quillon" / "Kestrel";
    (void)CreateFolderPath(result);
    folder = result / "";
    return kOk;
}

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

bool filesHaveSameContent(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    auto sizeA = std::filesystem::file_size(a, error);
    if (error) return false;
    auto sizeB = std::filesystem::file_size(b, error);
    if (error || sizeA != sizeB) return false;
    std::vector<std::byte> bytesA;
    std::vector<std::byte> bytesB;
    if (ReadWholeFile(a, bytesA).failed() || ReadWholeFile(b, bytesB).failed()) return false;
    return bytesA == bytesB;
}

}  // namespace kestrel
