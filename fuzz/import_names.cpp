// Lists the imported libraries of arbitrary bytes: never a crash, a hang or an endless list.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/pe/import_names.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);
    std::vector<std::string> names;
    const kestrel::HResult hr = kestrel::readImportedLibraries(bytes, names);
    if (hr.failed() && !names.empty()) abort();
    if (names.size() > 4096) abort();
    for (const std::string& name : names)
        if (name.size() >= 512) abort();
    return 0;
}
