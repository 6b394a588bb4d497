// The two operations that move between a PE file and a working folder.
#pragma once

#include <filesystem>
#include <optional>

#include "core/platform/status.h"

namespace kestrel {

// Imports `peFile` into `folder` (created when missing): header and section files, one file per
// resource, pe.xml, STRINGS.XML, and the project file <folder>/<base name>.kestrel, whose path is
// returned in `projectPath`. Failures are recorded (ReportError / ReportMessage) and returned.
HResult DecompileFile(const std::filesystem::path& peFile, const std::filesystem::path& folder,
                      std::filesystem::path& projectPath);

// Compiles the working folder of `descriptionPath` (its pe.xml) into <folder>/<file name of peFile>,
// then offers to copy the result over `target` (`peFile` when none) through the UiSink.
// `showSuccess` shows the success box when no copy question was asked.
HResult CompileFile(const std::optional<std::filesystem::path>& target, const std::filesystem::path& peFile,
                    const std::filesystem::path& descriptionPath, bool showSuccess);

}  // namespace kestrel
