#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/platform/system.h"
#include "core/platform/text.h"

namespace kestrel {

namespace {

std::string toUtf8(const wchar_t* text) {
    std::u16string units;
    for (; *text != L'\0'; ++text)
        units.push_back(static_cast<char16_t>(*text));
    return utf16ToUtf8(units);
}

std::wstring toWide(std::string_view text) {
    const std::u16string units = utf8ToUtf16(text);
    return std::wstring(units.begin(), units.end());
}

std::optional<std::wstring> wideVariable(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    if (value == nullptr) return std::nullopt;
    return std::wstring(value);
}

// A command-line argument quoted the way CommandLineToArgvW and the C runtime split it again.
std::wstring quoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote is escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide == nullptr) {
        for (int i = 0; i < argc; ++i)
            arguments.emplace_back(argv[i]);
        return arguments;
    }
    for (int i = 0; i < count; ++i)
        arguments.push_back(toUtf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
    // Lines end in "\n" as on Linux, so that reports (/Diff, --json) are the same bytes everywhere;
    // consoles show them alike.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

std::optional<std::string> EnvironmentVariable(std::string_view name) {
    std::optional<std::wstring> value = wideVariable(toWide(name).c_str());
    if (!value) return std::nullopt;
    return toUtf8(value->c_str());
}

std::string SystemUiLanguage() {
    switch (PRIMARYLANGID(::GetUserDefaultUILanguage())) {
        case LANG_CHINESE:
            return "zh";
        case LANG_ENGLISH:
            return "en";
        default:
            // Readers of any other language get the English texts rather than the Chinese ones.
            return "en";
    }
}

bool RunningAsAdministrator() {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                    0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    ::FreeSid(administrators);
    return member != FALSE;
}

HResult UserDataBase(std::filesystem::path& base) {
    std::optional<std::wstring> appData = wideVariable(L"APPDATA");
    if (!appData || appData->empty()) return hresultFromWin32(win32::kPathNotFound);
    base = std::filesystem::path(*appData);
    return kOk;
}

std::filesystem::path UserConfigBase() {
    std::filesystem::path base;
    if (UserDataBase(base).failed()) return std::filesystem::path(L".config");
    return base;
}

bool StandardStreamsInteractive() {
    return ::_isatty(::_fileno(stdin)) && ::_isatty(::_fileno(stderr));
}

bool DesktopAvailable() {
    return true;
}

std::filesystem::path CurrentProgramPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutableFileName(std::string_view name) {
    return std::string(name) + ".exe";
}

bool IsExecutableFile(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void ReplaceProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    std::wstring commandLine;
    for (const std::string& argument : arguments) {
        if (!commandLine.empty()) commandLine.push_back(L' ');
        commandLine += quoteArgument(toWide(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return;
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hProcess);
    std::exit(static_cast<int>(status));
}

std::string ErrorNumberText(int err) {
    char buffer[256] = {};
    if (::strerror_s(buffer, sizeof buffer, err) != 0) return {};
    return buffer;
}

unsigned long CurrentProcessId() {
    return static_cast<unsigned long>(::GetCurrentProcessId());
}

}  // namespace kestrel
#endif
