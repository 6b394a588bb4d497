// kestrel-rcedit: the classic one-shot resource editor's command line on top of Kestrel's edits.
#include <string>
#include <vector>

#include "core/platform/system.h"
#include "rcedit/rcedit_program.h"

int main(int argc, char** argv) {
    kestrel::PrepareConsole();
    std::vector<std::string> arguments = kestrel::ProgramArguments(argc, argv);
    if (!arguments.empty()) arguments.erase(arguments.begin());
    return kestrel::runRceditProgram(arguments);
}
