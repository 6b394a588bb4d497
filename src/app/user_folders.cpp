#include "app/user_folders.h"

#include <unistd.h>

#include <cstdlib>

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
    if (HResult hr = CreateFolderPath(result); hr.failed()) return hr;
    folder = result / "";
    return kOk;
}

std::filesystem::path settingsIniPath() {
    std::filesystem::path base;
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome != nullptr && configHome[0] == '/') {
        base = configHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr ? home : "") / ".config";
    }
    return base / "Quillon" / "Kestrel.conf";
}

}  // namespace kestrel
