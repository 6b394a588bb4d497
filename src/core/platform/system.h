// What differs between the systems outside of files: the program's arguments and console, the
// environment, the user's folders and language, and starting another program.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/status.h"

namespace kestrel {

// The program's arguments as UTF-8, the program's own name first. On Windows they are read from
// the UTF-16 command line, so that names in any script arrive intact; elsewhere they are argv.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes the console show the program's UTF-8 output (Windows consoles default to an OEM code page)
// and standard output and error write "\n" line ends unchanged (no "\r\n" on Windows).
void PrepareConsole();

// An environment variable as UTF-8; nothing when it is unset.
std::optional<std::string> EnvironmentVariable(std::string_view name);

// The user's interface language as a tag whose start tells the language ("en", "zh"); empty where
// the system has no such setting apart from the environment (the locale variables decide there).
std::string SystemUiLanguage();

// True when the program runs with administrator rights (root).
bool RunningAsAdministrator();

// The folder under which per-user data lives: %APPDATA% on Windows, $XDG_DATA_HOME or
// ~/.local/share elsewhere. 0x80070003 when it cannot be told.
HResult UserDataBase(std::filesystem::path& base);
// The folder under which per-user settings live: %APPDATA% on Windows, $XDG_CONFIG_HOME or
// ~/.config elsewhere.
std::filesystem::path UserConfigBase();

// True when standard input and standard error are both a terminal, so that a question can be asked.
bool StandardStreamsInteractive();

// True when a window could be shown (a display on Linux; always on Windows).
bool DesktopAvailable();

// The running program's own file; empty when it cannot be told.
std::filesystem::path CurrentProgramPath();

// The file name of a program called `name` (with ".exe" on Windows).
std::string ExecutableFileName(std::string_view name);

// True when `path` names a program this process may start.
bool IsExecutableFile(const std::filesystem::path& path);

// Runs `program` with `arguments` (the first is its own name) in place of this program: on return
// it could not be started. On Windows, where a process cannot be replaced, it waits for the program
// and ends this process with its exit status.
void ReplaceProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments);

// The C library's text for an errno value; empty when it has none.
std::string ErrorNumberText(int err);

// This process's number, for unique temporary names.
unsigned long CurrentProcessId();

}  // namespace kestrel
