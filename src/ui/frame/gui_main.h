// The desktop program: the command-line operations without a window, otherwise the main window on
// the resumed project or an empty document.
#pragma once

#include <QTranslator>
#include <chrono>
#include <memory>

#include "core/errors/language.h"

namespace kestrel {
class CKsApp;
}

namespace kestrel::ui {

// The last steps of start-up: the frame and view on a document, the shell command (open the named
// or resumed project, else a new document, retried once as a new document), then the window and
// its event loop. False when the program should end at once.
bool runMainWindow(CKsApp& app);

// Installs the translator of the window's language into the application: our English texts, or Qt's
// own Chinese texts for its standard buttons and dialogs. The translation stays installed while the
// returned translator lives; nullptr when there was none to load.
std::unique_ptr<QTranslator> installWindowLanguage(Language language);

// A connection of our own to the X server, made before Qt makes its first one and kept until Qt has
// it. An X server refuses connections for a moment while it resets (which it does whenever its last
// client leaves: the previous run of a script that starts the program again and again), and Qt ends
// the program with abort() when its first connection fails. Ours is retried while the server refuses
// it, and holding it keeps the server from resetting before Qt connects. libxcb is loaded when it is
// asked for, so the program needs no X library of its own.
class X11DisplayHold {
  public:
    // Connects to `display` (as DISPLAY names it), again every 50 ms for up to `patience`.
    X11DisplayHold(const char* display, std::chrono::milliseconds patience);
    ~X11DisplayHold();
    X11DisplayHold(const X11DisplayHold&) = delete;
    X11DisplayHold& operator=(const X11DisplayHold&) = delete;

    // False when libxcb could not be loaded (nothing was tried).
    bool tried() const { return connect_ != nullptr; }
    bool connected() const { return connection_ != nullptr; }

  private:
    void* library_ = nullptr;
    void* (*connect_)(const char*, int*) = nullptr;
    int (*hasError_)(void*) = nullptr;
    void (*disconnect_)(void*) = nullptr;
    void* connection_ = nullptr;
};

// main() of the program with the desktop interface. The language comes from the setting
// General/Language, else from the locale's environment.
int runGuiProgram(int argc, char** argv);

}  // namespace kestrel::ui
