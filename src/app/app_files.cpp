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

namespace {

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

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
