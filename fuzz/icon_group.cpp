// Lists arbitrary bytes as an icon or cursor group, and loads them as a single-image icon file.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/images/icon_files.h"
#include "core/platform/files.h"

namespace {

// A private folder for the input files, on tmpfs when there is one (the rewrites flush to disk),
// removed when the fuzzer exits.
const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "kestrel-fuzz-icon-XXXXXX").string();
        if (!mkdtemp(pattern.data())) abort();
        return std::filesystem::path(pattern);
    }();
    static const bool cleanup = [] {
        return std::atexit([] {
                   std::error_code error;
                   std::filesystem::remove_all(folder, error);
               }) == 0;
    }();
    (void)cleanup;
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);
    const std::string listing = kestrel::GroupListing(bytes);
    if (listing.empty()) abort();

    for (const kestrel::GroupEntry& entry : kestrel::ParseGroupEntries(bytes)) {
        std::filesystem::path member;
        (void)kestrel::MemberPath(scratchFolder() / "1400001", entry, kestrel::IconGroupKind::kIcon, member);
    }

    const std::filesystem::path path = scratchFolder() / "Icon00001.ICO";
    if (kestrel::WriteWholeFile(path, bytes).failed()) abort();
    kestrel::IconImage image;
    (void)kestrel::LoadIconImage(path, image);
    return 0;
}
