#include "cli/settings_file.h"

#include "cli/user_folders.h"
#include "core/platform/files.h"

namespace kestrel {

namespace {

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::string readIniSetting(const std::filesystem::path& file, std::string_view group, std::string_view key) {
    MappedFile settings;
    if (OpenMappedFile(file, settings).failed()) return {};
    // The Qt store keeps the keys outside any group in [General], so a group of that name is
    // written with a percent sign in front.
    const std::string section = "[" + std::string(group == "General" ? "%General" : group) + "]";
    std::string_view rest = settings.text();
    bool inSection = false;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = trimBlanks(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            inSection = line == section;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos || trimBlanks(line.substr(0, equals)) != key)
            continue;
        std::string_view value = trimBlanks(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return {};
}

Language programLanguage() {
    return ChooseLanguage(readIniSetting(settingsIniPath(), "General", "Language"));
}

}  // namespace kestrel
