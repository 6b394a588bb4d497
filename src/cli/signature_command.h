// The command line's part on Authenticode signatures: /Sign, /Signature, the signature choice of
// /Edit (strip, keep or sign anew) and the note /Compile prints about a signature it kept.
#pragma once

#include <filesystem>

#include "cli/command_line.h"

namespace kestrel {

// /Sign: signs the file in place or into /Output:. Returns the exit status.
int runSignCommand(const CKsCommandLineInfo& commandLine);

// /Signature: prints what the file's signature says and whether it matches the file. Exit status 0
// when it matches (and, with --ca, its chain verifies), 1 when the file is unsigned or it does not
// match, 2 when the file or its signature cannot be read.
int runSignatureCommand(const CKsCommandLineInfo& commandLine);

// /Edit: a signed file needs --strip-signature, --keep-signature or a signing option (otherwise a
// usage error, exit 2, with nothing touched); the edit then runs and the result is stripped or
// signed before it replaces the target.
int runEditCommand(const CKsCommandLineInfo& commandLine);

// After a compile: one line on standard error when `compiled` carries a signature that no longer
// matches it.
void noteKeptSignature(const std::filesystem::path& compiled);

}  // namespace kestrel
