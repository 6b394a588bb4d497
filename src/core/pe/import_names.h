// The names of the libraries an image imports from (its import directory), in table order.
#pragma once

#include <string>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// E_FAIL when `file` is no PE image or its import directory does not lie inside the file; an image
// without imports gives an empty list, and a failure an empty one too (never a part of the table).
// Delay-loaded libraries are not listed.
HResult readImportedLibraries(Bytes file, std::vector<std::string>& names);

}  // namespace kestrel
