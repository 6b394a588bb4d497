// Where this user's things live: the data folder and the settings file; the administrator check.
#pragma once

#include <filesystem>

#include "core/platform/status.h"

namespace kestrel {

// 0 (kOk) when the process runs as the administrator (root), 1 (kFalse) otherwise.
HResult IsUserAdmin();

// The data folder of this user: $XDG_DATA_HOME/Quillon/Kestrel/ ($HOME/.local/share when
// XDG_DATA_HOME is unset or not absolute), created when missing. Fails with 0x80070003 when
// neither variable names a folder, and with the failure to create it when it cannot be created.
HResult GetDataFolder(std::filesystem::path& folder);

// The settings file: $XDG_CONFIG_HOME/Quillon/Kestrel.conf ($HOME/.config when XDG_CONFIG_HOME is
// unset or not absolute), from the environment at the time of the call.
std::filesystem::path settingsIniPath();

}  // namespace kestrel
