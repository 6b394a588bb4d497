#include "cli/user_folders.h"

#include "core/platform/files.h"
#include "core/platform/system.h"

namespace kestrel {

HResult IsUserAdmin() {
    return RunningAsAdministrator() ? kOk : kFalse;
}

HResult GetDataFolder(std::filesystem::path& folder) {
    std::filesystem::path base;
    if (HResult hr = UserDataBase(base); hr.failed()) return hr;
    std::filesystem::path result = base / "Quillon" / "Kestrel";
    if (HResult hr = CreateFolderPath(result); hr.failed()) return hr;
    folder = result / "";
    return kOk;
}

std::filesystem::path settingsIniPath() {
    return UserConfigBase() / "Quillon" / "Kestrel.conf";
}

}  // namespace kestrel
