#include "core/pe/import_names.h"

#include <optional>
#include <utility>

#include "core/pe/pe_layout.h"

namespace kestrel {

namespace {

constexpr std::size_t kDirectoryImport = 1;
constexpr std::size_t kImportDescriptorSize = 20;
constexpr std::size_t kImportNameField = 12;
// No real image imports from more libraries than this; a longer table is damaged.
constexpr std::size_t kMaxImportDescriptors = 4096;
constexpr std::size_t kMaxNameLength = 512;

// The file offset of a relative virtual address, from the section that holds it.
std::optional<std::uint64_t> fileOffsetOf(const ByteReader& nt, const NtLayout& layout, std::uint32_t rva) {
    for (std::size_t i = 0; i < layout.sectionCount; ++i) {
        const std::size_t header = layout.sectionHeader(i);
        const auto address = nt.u32(header + section_field::kVirtualAddress);
        const auto virtualSize = nt.u32(header + section_field::kVirtualSize);
        const auto rawSize = nt.u32(header + section_field::kSizeOfRawData);
        const auto rawOffset = nt.u32(header + section_field::kPointerToRawData);
        if (!address || !virtualSize || !rawSize || !rawOffset) return std::nullopt;
        const std::uint64_t extent = std::max(*virtualSize, *rawSize);
        if (rva >= *address && rva - *address < extent) {
            const std::uint64_t inside = rva - *address;
            if (inside >= *rawSize) return std::nullopt;  // only in memory, not in the file
            return std::uint64_t{*rawOffset} + inside;
        }
    }
    return std::nullopt;
}

// Reads the table into `names`, which may hold a part of it when reading fails.
HResult readImportTable(Bytes file, std::vector<std::string>& names) {
    const ByteReader image(file);
    const auto ntOffset = image.u32(kPeHeaderOffsetField);
    if (image.u16Or(0, 0) != 0x5A4D || !ntOffset) return kFail;
    const auto nt = image.from(*ntOffset);
    if (!nt) return kFail;
    NtLayout layout;
    if (readNtLayout(*nt, layout).failed()) return kFail;
    if (layout.directoryCount <= kDirectoryImport) return kOk;
    const auto tableRva = nt->u32(layout.directory(kDirectoryImport));
    if (!tableRva) return kFail;
    if (*tableRva == 0) return kOk;
    const auto table = fileOffsetOf(*nt, layout, *tableRva);
    if (!table) return kFail;
    for (std::size_t i = 0;; ++i) {
        if (i == kMaxImportDescriptors) return kFail;
        const auto descriptor = image.slice(*table + i * kImportDescriptorSize, kImportDescriptorSize);
        if (!descriptor) return kFail;
        bool allZero = true;
        for (std::size_t k = 0; k < kImportDescriptorSize; k += 4)
            allZero = allZero && descriptor->u32Or(k, 1) == 0;
        if (allZero) return kOk;
        const auto nameOffset = fileOffsetOf(*nt, layout, descriptor->u32Or(kImportNameField, 0));
        if (!nameOffset) return kFail;
        std::string name;
        for (std::size_t k = 0;; ++k) {
            if (k == kMaxNameLength) return kFail;
            const auto c = image.u8(*nameOffset + k);
            if (!c) return kFail;
            if (*c == 0) break;
            name.push_back(static_cast<char>(*c));
        }
        names.push_back(std::move(name));
    }
}

}  // namespace

HResult readImportedLibraries(Bytes file, std::vector<std::string>& names) {
    // The list is given only for a table read to its end: a damaged one gives no half list.
    names.clear();
    std::vector<std::string> read;
    if (HResult hr = readImportTable(file, read); hr.failed()) return hr;
    names = std::move(read);
    return kOk;
}

}  // namespace kestrel
