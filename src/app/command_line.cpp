#include "app/command_line.h"

#include "core/platform/paths.h"

namespace kestrel {

namespace {

// The argument without its flag prefix, or nullopt-like empty view when it has none.
bool stripFlagPrefix(std::string_view argument, std::string_view& name) {
    if (argument.size() >= 2 && argument.substr(0, 2) == "--") {
        name = argument.substr(2);
        return true;
    }
    if (!argument.empty() && (argument[0] == '/' || argument[0] == '-')) {
        name = argument.substr(1);
        return true;
    }
    return false;
}

}  // namespace

void CKsCommandLineInfo::ParseParam(std::string_view argument, bool isLast) {
    std::string_view name;
    bool recognised = false;
    if (stripFlagPrefix(argument, name)) {
        recognised = true;
        if (iequalsAscii(name, "Compile")) {
            compile = true;
        } else if (iequalsAscii(name, "Decompile")) {
            decompile = true;
        } else if (istartsWithAscii(name, "Output:") || istartsWithAscii(name, "output=")) {
            outputGiven = true;
            output = std::string(name.substr(7));
        } else if (iequalsAscii(name, "help")) {
            help = true;
        } else if (iequalsAscii(name, "version")) {
            version = true;
        } else {
            recognised = false;
        }
    }
    if (!recognised) {
        if (fileName.empty()) {
            fileName = std::string(argument);
        } else {
            extraFileNames.emplace_back(argument);
        }
    }
    if (isLast && !fileName.empty()) shellCommand = ShellCommand::kFileOpen;
}

CKsCommandLineInfo CKsCommandLineInfo::parse(const std::vector<std::string>& arguments) {
    CKsCommandLineInfo info;
    for (std::size_t i = 0; i < arguments.size(); ++i)
        info.ParseParam(arguments[i], i + 1 == arguments.size());
    return info;
}

std::string CKsCommandLineInfo::usageProblem() const {
    const char* operation = compile ? "/Compile" : "/Decompile";
    if (fileName.empty()) return std::string(operation) + " needs a file name";
    if (!extraFileNames.empty()) return "more than one file name: " + extraFileNames.front();
    if (!outputGiven || output.empty()) return std::string(operation) + " needs /Output:<path>";
    return {};
}

std::string usageText() {
    return "Usage:\n"
           "  kestrel /Decompile /Output:<folder> <file>\n"
           "      import the PE file <file> into the working folder <folder>\n"
           "  kestrel /Compile /Output:<folder> <file>\n"
           "      compile <folder>/pe.xml into <folder>/<file name of file> and offer to copy it over "
           "<file>\n"
           "      (/Output: may also name the pe.xml file itself)\n"
           "  kestrel --help | --version\n"
           "Flags are recognised case-insensitively after /, - or --; --output=<path> equals "
           "/Output:<path>.\n"
           "Exit status: 0 success, 1 failure (reported on standard error), 2 usage error.\n";
}

}  // namespace kestrel
