// Lists arbitrary bytes as an icon or cursor group, and loads them as a single-image icon file.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/images/icon_files.h"
#include "core/platform/files.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);
    const std::string listing = kestrel::GroupListing(bytes, kestrel::IconGroupKind::kCursor);
    if (listing.empty()) abort();

    for (const kestrel::GroupEntry& entry : kestrel::ParseGroupEntries(bytes)) {
        std::filesystem::path member;
        (void)kestrel::MemberPath(kestrel::fuzzing::scratchFolder("icon") / "1400001", entry,
                                  kestrel::IconGroupKind::kIcon, member);
    }

    const std::filesystem::path path = kestrel::fuzzing::scratchFolder("icon") / "Icon00001.ICO";
    if (kestrel::WriteWholeFile(path, bytes).failed()) abort();
    kestrel::IconImage image;
    (void)kestrel::LoadIconImage(path, image);
    return 0;
}
