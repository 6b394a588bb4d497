// Data folder, administrator check and file versions.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/errors/language.h"
#include "core/pe/version_info.h"
#include "core/platform/status.h"

namespace kestrel {

// 0 (kOk) when the process runs as the administrator (root), 1 (kFalse) otherwise.
HResult IsUserAdmin();

// The data folder of this user: $XDG_DATA_HOME/Quillon/Kestrel/ ($HOME/.local/share when
// XDG_DATA_HOME is unset or not absolute), created when missing (a failure to create it is left to
// the first write there). Fails with 0x80070003 when neither variable names a folder.
HResult GetDataFolder(std::filesystem::path& folder);

// The version compiled into this program.
FixedFileInfo programFileVersion();

// The fixed version block of `path`: this program's own executable gives the compiled-in version;
// a PE file gives the root block of its version resource (ID 1, else the first one; see
// FindVersionResource). 0x80070714 for a file that is not a PE file with resources, 0x80070715
// without a version, E_FAIL when the version resource holds no fixed block.
HResult GetFileVersion(const std::filesystem::path& path, FixedFileInfo& info);

// The settings file: $XDG_CONFIG_HOME/Quillon/Kestrel.conf ($HOME/.config when XDG_CONFIG_HOME is
// unset or not absolute), from the environment at the time of the call.
std::filesystem::path settingsIniPath();

// The value of `key` in the group `group` of an INI file written by the Qt settings store, read
// without Qt; empty when the file, the group or the key is missing. The group "General" is the
// section [%General] there ([General] holds the keys outside any group). Blanks around the value
// and the quotes of a quoted value are removed.
std::string readIniSetting(const std::filesystem::path& file, std::string_view group, std::string_view key);

// The language of the program's texts: the setting General/Language of the settings file, else
// the locale variables of the environment (see ChooseLanguage).
Language programLanguage();

// True when both files exist and hold the same bytes.
bool filesHaveSameContent(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace kestrel
