// File versions: the one compiled into this program and the fixed block of a PE file's version
// resource.
#pragma once

#include <filesystem>

#include "core/pe/version_info.h"
#include "core/platform/status.h"

namespace kestrel {

// The version compiled into this program.
FixedFileInfo programFileVersion();

// The fixed version block of `path`: this program's own executable gives the compiled-in version;
// a PE file gives the root block of its version resource (ID 1, else the first one; see
// FindVersionResource). 0x80070714 for a file that is not a PE file with resources, 0x80070715
// without a version, E_FAIL when the version resource holds no fixed block.
HResult GetFileVersion(const std::filesystem::path& path, FixedFileInfo& info);

}  // namespace kestrel
