// Compiling a working folder back into a PE file.
#pragma once

#include <filesystem>
#include <optional>

#include "core/platform/status.h"

namespace kestrel {

// Compiles the working folder of `descriptionPath` (its pe.xml) into <folder>/<file name of peFile>,
// then offers to copy the result over `target` (`peFile` when none) through the UiSink.
// `showSuccess` shows the success box when no copy question was asked.
HResult CompileFile(const std::optional<std::filesystem::path>& target, const std::filesystem::path& peFile,
                    const std::filesystem::path& descriptionPath, bool showSuccess);

}  // namespace kestrel
