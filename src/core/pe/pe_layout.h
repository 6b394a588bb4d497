// Where the fields of the NT headers lie, for PE32 and PE32+ images alike. Offsets count from the
// "PE\0\0" signature, which is how NTHEADER.BIN stores the headers. Everything that reads or patches
// a header field takes its offset from here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

inline constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;
inline constexpr std::uint32_t kSectionHeaderSize = 40;
inline constexpr std::uint32_t kDataDirectorySize = 8;
inline constexpr std::uint32_t kMaxDataDirectories = 16;

// The file header's Characteristics bit of a library (IMAGE_FILE_DLL).
inline constexpr std::uint16_t kCharacteristicsDll = 0x2000;

// The DOS header's pointer to the NT headers (e_lfanew).
inline constexpr std::size_t kPeHeaderOffsetField = 0x3C;

// Data directory indexes.
inline constexpr std::size_t kDirectoryResource = 2;
inline constexpr std::size_t kDirectorySecurity = 4;  // its "address" is a file offset
inline constexpr std::size_t kDirectoryBaseRelocations = 5;

namespace nt_field {
// The file header (same for both kinds).
inline constexpr std::size_t kMachine = 4;
inline constexpr std::size_t kNumberOfSections = 6;
inline constexpr std::size_t kPointerToSymbolTable = 12;
inline constexpr std::size_t kSizeOfOptionalHeader = 20;
inline constexpr std::size_t kCharacteristics = 22;
inline constexpr std::size_t kOptionalHeader = 24;
// Optional-header fields at the same place in PE32 and PE32+ (the 64-bit image base of PE32+
// takes the place of PE32's BaseOfData and ImageBase, so everything up to the stack sizes lines up).
inline constexpr std::size_t kMagic = kOptionalHeader + 0;
inline constexpr std::size_t kSizeOfInitializedData = kOptionalHeader + 8;
inline constexpr std::size_t kSectionAlignment = kOptionalHeader + 32;
inline constexpr std::size_t kFileAlignment = kOptionalHeader + 36;
inline constexpr std::size_t kSizeOfImage = kOptionalHeader + 56;
inline constexpr std::size_t kSizeOfHeaders = kOptionalHeader + 60;
inline constexpr std::size_t kCheckSum = kOptionalHeader + 64;
}  // namespace nt_field

// Section header fields, from the start of one 40-byte entry.
namespace section_field {
inline constexpr std::size_t kName = 0;
inline constexpr std::size_t kVirtualSize = 8;
inline constexpr std::size_t kVirtualAddress = 12;
inline constexpr std::size_t kSizeOfRawData = 16;
inline constexpr std::size_t kPointerToRawData = 20;
inline constexpr std::size_t kCharacteristics = 36;
}  // namespace section_field

// The layout of one image's NT headers: the fields whose place depends on the optional header's
// kind, and where the section table starts.
struct NtLayout {
    bool pe32Plus = false;
    std::size_t numberOfRvaAndSizes = 0;  // offset of the field
    std::size_t dataDirectories = 0;      // offset of the first directory
    std::size_t directoryCount = 0;       // directories present: min(16, NumberOfRvaAndSizes)
    std::size_t sectionTable = 0;         // 24 + SizeOfOptionalHeader
    std::size_t sectionCount = 0;

    std::size_t directory(std::size_t index) const { return dataDirectories + kDataDirectorySize * index; }
    std::size_t sectionHeader(std::size_t index) const { return sectionTable + kSectionHeaderSize * index; }
};

// Reads the layout from NT headers (starting at the signature). Accepts the PE32 (0x10B) and PE32+
// (0x20B) optional headers of any machine, when the optional header as SizeOfOptionalHeader gives
// it holds the fixed fields and the data directories NumberOfRvaAndSizes counts (up to 16).
// kFail with `out` empty when the signature, the magic or the sizes do not fit, or `nt` is too
// short for them. The section table itself is not checked against `nt`.
inline HResult readNtLayout(const ByteReader& nt, NtLayout& out) {
    out = {};
    if (nt.u32(0) != kPeSignature) return kFail;
    const auto magic = nt.u16(nt_field::kMagic);
    const auto optionalSize = nt.u16(nt_field::kSizeOfOptionalHeader);
    const auto sections = nt.u16(nt_field::kNumberOfSections);
    if (!magic || !optionalSize || !sections) return kFail;
    NtLayout layout;
    if (*magic == kPe32Magic) {
        layout.numberOfRvaAndSizes = nt_field::kOptionalHeader + 92;
    } else if (*magic == kPe32PlusMagic) {
        layout.pe32Plus = true;
        layout.numberOfRvaAndSizes = nt_field::kOptionalHeader + 108;
    } else {
        return kFail;
    }
    layout.dataDirectories = layout.numberOfRvaAndSizes + 4;
    layout.sectionTable = nt_field::kOptionalHeader + std::size_t{*optionalSize};
    if (layout.sectionTable < layout.dataDirectories) return kFail;
    const auto count = nt.u32(layout.numberOfRvaAndSizes);
    if (!count) return kFail;
    layout.directoryCount = std::min<std::size_t>(kMaxDataDirectories, *count);
    if (layout.directory(layout.directoryCount) > layout.sectionTable) return kFail;
    if (!nt.contains(0, layout.sectionTable)) return kFail;
    layout.sectionCount = *sections;
    out = layout;
    return kOk;
}

}  // namespace kestrel
