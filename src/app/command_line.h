// The program's command line: flags by name (case-insensitive, after a leading "/", "-" or "--")
// and one file name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

struct CKsCommandLineInfo {
    enum class ShellCommand { kFileNew, kFileOpen };

    ShellCommand shellCommand = ShellCommand::kFileNew;
    std::string fileName;
    std::vector<std::string> extraFileNames;  // file names after the first

    bool compile = false;
    bool decompile = false;
    bool outputGiven = false;
    std::string output;
    bool help = false;
    bool version = false;

    // Takes one argument as typed. "Compile", "Decompile", "Output:<path>", "output=<path>", "help"
    // and "version" after a leading "/", "-" or "--" are flags; every other argument, including one
    // that starts with "/", is a file name. After the last argument a file name turns the shell
    // command into "open".
    void ParseParam(std::string_view argument, bool isLast);

    // Parses every argument (program name excluded).
    static CKsCommandLineInfo parse(const std::vector<std::string>& arguments);

    bool isCommandLineOperation() const { return compile || decompile; }

    // For a command-line operation: an empty text when it can run, otherwise what is wrong with it.
    std::string usageProblem() const;
};

// The usage text printed by --help and with usage errors.
std::string usageText();

}  // namespace kestrel
