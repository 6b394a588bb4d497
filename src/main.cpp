// The two programs: kestrel, the command line (no Qt), which starts kestrel-gui when a window is
// wanted; and kestrel-gui, the desktop interface.
#if defined(KESTREL_GUI_PROGRAM)
#include "ui/frame/gui_main.h"

int main(int argc, char** argv) {
    return kestrel::ui::runGuiProgram(argc, argv);
}
#else
#include <string>
#include <vector>

#include "cli/cli_program.h"
#include "core/platform/system.h"

int main(int argc, char** argv) {
    // The arguments as UTF-8 (on Windows from the UTF-16 command line, so that any name arrives).
    kestrel::PrepareConsole();
    std::vector<std::string> arguments = kestrel::ProgramArguments(argc, argv);
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return kestrel::runCommandLineProgram(static_cast<int>(arguments.size()), pointers.data());
}
#endif
