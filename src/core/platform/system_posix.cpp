#ifndef _WIN32
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/platform/system.h"

namespace kestrel {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// An absolute folder from the environment, else `home`/`fallback`.
std::filesystem::path xdgFolder(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return {};
    return std::filesystem::path(home) / fallback;
}

// strerror_r comes in two shapes; both end up here.
[[maybe_unused]] const char* errorText(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* errorText(const char* result, const char*) {
    return result;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    return arguments;
}

void PrepareConsole() {}

std::optional<std::string> EnvironmentVariable(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string SystemUiLanguage() {
    return {};
}

bool RunningAsAdministrator() {
    return ::geteuid() == 0;
}

HResult UserDataBase(std::filesystem::path& base) {
    std::filesystem::path folder = xdgFolder("XDG_DATA_HOME", ".local/share");
    if (folder.empty()) return hresultFromWin32(win32::kPathNotFound);
    base = folder;
    return kOk;
}

std::filesystem::path UserConfigBase() {
    std::filesystem::path folder = xdgFolder("XDG_CONFIG_HOME", ".config");
    // Without a home folder the settings are looked for under the working folder, as before.
    return folder.empty() ? std::filesystem::path(".config") : folder;
}

bool StandardStreamsInteractive() {
    return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
}

bool DesktopAvailable() {
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

std::filesystem::path CurrentProgramPath() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self;
}

std::string ExecutableFileName(std::string_view name) {
    return std::string(name);
}

bool IsExecutableFile(const std::filesystem::path& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

void ReplaceProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> copies = arguments;
    std::vector<char*> pointers;
    pointers.reserve(copies.size() + 1);
    for (std::string& argument : copies)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    ::execv(program.c_str(), pointers.data());
}

std::string ErrorNumberText(int err) {
    char buffer[256] = {};
    const char* text = errorText(strerror_r(err, buffer, sizeof buffer), buffer);
    return text == nullptr ? std::string() : std::string(text);
}

unsigned long CurrentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

}  // namespace kestrel
#endif
