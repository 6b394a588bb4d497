// Exports every resource of an arbitrary PE file as a file in memory: group members that are
// missing or too short, sizes the group invents and scripts that do not decode must all end in a
// file or a refusal, never in a read outside the file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>

#include "core/pe/resource_export.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);
    kestrel::ResourceLookup lookup;
    if (lookup.open(bytes).failed()) return 0;
    for (const kestrel::ResourceKey& type : lookup.types()) {
        for (const kestrel::ResourceKey& name : lookup.names(type)) {
            for (std::uint16_t language : lookup.languages(type, name)) {
                kestrel::ExportedResource exported;
                if (kestrel::ExportResource(lookup, type, name, language, exported).succeeded() &&
                    exported.fileName.empty())
                    abort();
            }
        }
    }
    return 0;
}
