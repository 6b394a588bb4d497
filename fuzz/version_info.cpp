// Reads the fixed version block of arbitrary bytes: as a version resource (first byte 0) and, for any
// other first byte, as a whole file through GetFileVersion, which finds the version resource of a PE
// file through the resource lookup. Neither may crash; a block that parses must carry the signature.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "app/app_files.h"
#include "core/platform/files.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const kestrel::Bytes rest(reinterpret_cast<const std::byte*>(data + 1), size - 1);
    kestrel::FixedFileInfo info;
    if (data[0] == 0) {
        if (kestrel::parseFixedFileInfo(rest, info).succeeded() &&
            info.signature != kestrel::kFixedFileInfoSignature)
            std::abort();
        return 0;
    }
    const std::filesystem::path path = kestrel::fuzzing::scratchFolder("version") / "file.dll";
    if (kestrel::WriteWholeFile(path, rest).failed()) std::abort();
    if (kestrel::GetFileVersion(path, info).succeeded() && info.signature != kestrel::kFixedFileInfoSignature)
        std::abort();
    return 0;
}
