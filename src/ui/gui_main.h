// The desktop program: the command-line operations without a window, otherwise the main window on
// the resumed project or an empty document.
#pragma once

#include <QTranslator>
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

// main() of the program with the desktop interface. The language comes from the setting
// General/Language, else from the locale's environment.
int runGuiProgram(int argc, char** argv);

}  // namespace kestrel::ui
