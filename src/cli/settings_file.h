// The settings file read without Qt, for the command line, which links no Qt.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/errors/language.h"

namespace kestrel {

// The value of `key` in the group `group` of an INI file written by the Qt settings store, read
// without Qt; empty when the file, the group or the key is missing. The group "General" is the
// section [%General] there ([General] holds the keys outside any group). Blanks around the value
// and the quotes of a quoted value are removed.
std::string readIniSetting(const std::filesystem::path& file, std::string_view group, std::string_view key);

// The language of the program's texts: the setting General/Language of the settings file, else
// the locale variables of the environment (see ChooseLanguage).
Language programLanguage();

}  // namespace kestrel
