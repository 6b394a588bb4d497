// kestrel-rcedit: the one-shot resource edits behind the command line that build pipelines have long
// called through Wine to brand a Windows program (its icon, version, manifest and strings):
//
//   kestrel-rcedit <file> [--set-version-string <key> <value>] [--set-file-version <v>]
//                  [--set-product-version <v>] [--set-icon <ico or png>]
//                  [--set-requested-execution-level <level>] [--application-manifest <file>]
//                  [--set-resource-string <id> <value>] [--set-rcdata <id> <file>]
//                  [--get-version-string <key>] [--get-resource-string <id>] [-h|--help]
//
// Options are matched exactly (with their short forms -svs, -gvs, -sfv, -spv, -si, -srel, -am, --srs,
// -grs) and taken in order; the first argument that is no option is the file, edited in place. Errors
// are the texts the wrappers of this command line look for ("Fatal error: ...", "Unable to load
// file: ...", "Unrecognized argument: ...") on standard error, with exit status 1; a question prints
// its answer without a line end and exits at once, changing nothing.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

// Runs the program on its arguments (without the program name); returns the exit status.
int runRceditProgram(const std::vector<std::string>& arguments);

}  // namespace kestrel
