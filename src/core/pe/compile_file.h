// Compiling a working folder back into a PE file.
#pragma once

#include <filesystem>
#include <optional>

#include "core/platform/status.h"

namespace kestrel {

// How the compiled file reaches its destination.
struct CompileCopy {
    // Ask before copying (the plain Save); false copies at once (the user named the destination).
    bool ask = true;
    // An existing destination is first copied to <destination>.bak beside it (one backup, replaced
    // each time); the copy is not made when the backup cannot be written.
    bool keepBackup = false;
};

// Compiles the working folder of `descriptionPath` (its pe.xml) into <folder>/<file name of peFile>,
// then copies the result over `target` (`peFile` when none), asking first through the UiSink when
// `copy.ask` is set. `showSuccess` shows the success box when no copy question was asked.
// `copied`, when given, tells whether the compiled file was copied to the destination.
HResult CompileFile(const std::optional<std::filesystem::path>& target, const std::filesystem::path& peFile,
                    const std::filesystem::path& descriptionPath, bool showSuccess,
                    const CompileCopy& copy = {}, bool* copied = nullptr);

// The backup a copy over `destination` keeps: <destination>.bak.
std::filesystem::path BackupPathOf(const std::filesystem::path& destination);

}  // namespace kestrel
