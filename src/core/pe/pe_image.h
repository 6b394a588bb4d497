// The PE32 and PE32+ image layout as the import and the resource lookup read it: headers, section
// table, resource section and overlay, all validated against the size of the file.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/pe/pe_layout.h"
#include "core/pe/section_names.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// Raw data may run past the end of the file by less than the largest file alignment (a truncated
// last section); the loader maps zeros there. Anything further is refused.
inline constexpr std::uint64_t kMaxMissingRawData = 0x10000;

struct SectionHeader {
    SectionNameBytes name{};
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t characteristics = 0;

    bool hasRawData() const { return sizeOfRawData != 0; }
};

// The fields of one section header; `entry` holds its kSectionHeaderSize bytes.
SectionHeader readSectionHeader(const ByteReader& entry);

struct PeImage {
    Bytes file;
    std::uint32_t peHeaderOffset = 0;  // e_lfanew
    NtLayout layout;
    std::uint32_t sizeOfHeaders = 0;
    std::vector<SectionHeader> sections;  // section-table order
    std::optional<std::size_t> resourceSection;
    std::uint64_t overlayOffset = 0;  // end of the last raw data; the file size when nothing follows

    // The raw data of a section that lies inside the file (shorter than SizeOfRawData when the file
    // ends early), and how many zero bytes complete it.
    Bytes availableRawData(const SectionHeader& section) const;
    std::uint64_t missingRawData(const SectionHeader& section) const;
    Bytes overlay() const;
};

// e_lfanew when the file is long enough to hold it; kFail with `out` 0 otherwise.
inline HResult readPeHeaderOffset(Bytes file, std::int32_t& out) {
    const auto offset = ByteReader(file).i32(kPeHeaderOffsetField);
    out = offset.value_or(0);
    return offset ? kOk : kFail;
}

// Parses and validates a PE32 or PE32+ image of any machine: signature, an optional header that
// readNtLayout accepts, headers and section table inside SizeOfHeaders inside the file, raw data
// starting inside the file, at most one resource section. Any violation is E_FAIL (nothing is
// reported); `reason`, when given, then receives what is wrong and where, in the current language.
// `cutShortAt`, when given, is set to the file's size when the failure is that the file ends before
// what its headers need (it was cut short), else to 0.
HResult parsePeImage(Bytes file, PeImage& out, std::string* reason = nullptr,
                     std::uint64_t* cutShortAt = nullptr);

}  // namespace kestrel
