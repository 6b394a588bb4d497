// The kestrel program without Qt: --help, --version and the operations on files (/Decompile,
// /Compile, /Edit, /Diff) run here and load nothing of the desktop interface. A window is the desktop
// program's (kestrel-gui), which this program starts in its place when one is wanted.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "cli/command_line.h"

namespace kestrel {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The file name of the desktop program, looked for beside this one and in ../lib/kestrel.
inline constexpr std::string_view kGuiProgramName = "kestrel-gui";

// The captions of the error dialog (OK, Cancel, Abort, Retry, Ignore, Yes, No, Details, Send report)
// in the current language, as InitErrorReporting takes them.
std::array<std::string, 9> errorDialogCaptions();

// "Kestrel Beta 版本 <version>" (in the current language) from this program's version resource, or the
// message that it could not be read; `major` and `minor` receive the low words of the two version parts (0
// then).
std::string programVersionText(std::uint16_t* major = nullptr, std::uint16_t* minor = nullptr);

// Prints a usage problem and the usage text on standard error.
void printUsageError(const std::string& problem);

// Runs the import, compile, edit or comparison of a command line without usage problems; failures are
// reported through the UiSink. Returns the exit status.
int runFileOperation(const CKsCommandLineInfo& commandLine);

// A display server, or a platform chosen explicitly (offscreen in tests).
bool displayAvailable();

// The desktop program to start for `program` (this program's path): beside it, else in
// ../lib/kestrel; empty when neither exists.
std::filesystem::path guiProgramPath(const std::filesystem::path& program);

// main() of the kestrel program.
int runCommandLineProgram(int argc, char** argv);

}  // namespace kestrel
