// The command line's /Extract: resources of a PE file saved as files (icon and cursor groups as
// .ico/.cur files, bitmaps as .bmp, dialogs and menus as resource scripts, the rest by content).
#pragma once

#include "cli/command_line.h"

namespace kestrel {

// /Extract [/Output:<folder>] <file> [--type <type>] [--name <name>] [--language <number>]: writes
// the selected resources into the folder (the current one without /Output:), one line per file on
// standard output. Exit status 0 when every selected resource was written whole, 1 when the file
// cannot be read, nothing matches or a resource could not be exported whole.
int runExtractCommand(const CKsCommandLineInfo& commandLine);

}  // namespace kestrel
