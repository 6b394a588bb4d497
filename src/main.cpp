// The two programs: kestrel, the command line (no Qt), which starts kestrel-gui when a window is
// wanted; and kestrel-gui, the desktop interface.
#if defined(KESTREL_GUI_PROGRAM)
#include "ui/gui_main.h"

int main(int argc, char** argv) {
    return kestrel::ui::runGuiProgram(argc, argv);
}
#else
#include "app/cli_program.h"

int main(int argc, char** argv) {
    return kestrel::runCommandLineProgram(argc, argv);
}
#endif
