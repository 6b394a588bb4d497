// The desktop program: the command-line operations without a window, otherwise the main window on
// the resumed project or an empty document.
#pragma once

namespace kestrel {
class CKsApp;
}

namespace kestrel::ui {

// The last steps of start-up: the frame and view on a document, the shell command (open the named
// or resumed project, else a new document, retried once as a new document), then the window and
// its event loop. False when the program should end at once.
bool runMainWindow(CKsApp& app);

// main() of the program with the desktop interface.
int runGuiProgram(int argc, char** argv);

}  // namespace kestrel::ui
