#include "core/pe/pe_image.h"

#include <algorithm>

namespace kestrel {

namespace {

// Offsets inside the NT headers.
constexpr std::uint32_t kNumberOfSectionsOffset = 6;
constexpr std::uint32_t kSizeOfOptionalHeaderOffset = 20;
constexpr std::uint32_t kMagicOffset = 24;
constexpr std::uint32_t kSizeOfHeadersOffset = 24 + 60;

}  // namespace

std::optional<std::int32_t> readPeHeaderOffset(Bytes file) {
    return ByteReader(file).i32(0x3C);
}

Bytes PeImage::availableRawData(const SectionHeader& section) const {
    if (!section.hasRawData() || section.pointerToRawData >= file.size()) return {};
    std::uint64_t available =
        std::min<std::uint64_t>(section.sizeOfRawData, file.size() - section.pointerToRawData);
    return file.subspan(section.pointerToRawData, static_cast<std::size_t>(available));
}

std::uint64_t PeImage::missingRawData(const SectionHeader& section) const {
    if (!section.hasRawData()) return 0;
    return section.sizeOfRawData - availableRawData(section).size();
}

Bytes PeImage::overlay() const {
    if (overlayOffset >= file.size()) return {};
    return file.subspan(static_cast<std::size_t>(overlayOffset));
}

HResult parsePeImage(Bytes file, PeImage& out) {
    out = PeImage{};
    out.file = file;
    ByteReader reader(file);
    auto lfanew = readPeHeaderOffset(file);
    if (!lfanew || *lfanew <= 0) return kFail;
    std::uint64_t nt = static_cast<std::uint32_t>(*lfanew);
    auto ntHeaders = reader.slice(nt, kPe32NtHeadersSize);
    if (!ntHeaders || ntHeaders->u32(0) != kPeSignature) return kFail;
    if (ntHeaders->u16(kMagicOffset) != kPe32Magic ||
        ntHeaders->u16(kSizeOfOptionalHeaderOffset) != kPe32OptionalHeaderSize)
        return kFail;

    std::uint64_t sectionCount = *ntHeaders->u16(kNumberOfSectionsOffset);
    std::uint64_t sizeOfHeaders = *ntHeaders->u32(kSizeOfHeadersOffset);
    std::uint64_t tableOffset = nt + kPe32NtHeadersSize;
    if (tableOffset + kSectionHeaderSize * sectionCount > sizeOfHeaders || sizeOfHeaders > file.size())
        return kFail;
    out.peHeaderOffset = static_cast<std::uint32_t>(nt);
    out.sizeOfHeaders = static_cast<std::uint32_t>(sizeOfHeaders);

    std::uint64_t end = sizeOfHeaders;
    out.sections.reserve(static_cast<std::size_t>(sectionCount));
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        ByteReader entry = *reader.slice(tableOffset + i * kSectionHeaderSize, kSectionHeaderSize);
        SectionHeader section;
        for (std::size_t b = 0; b < section.name.size(); ++b)
            section.name[b] = *entry.u8(b);
        section.virtualSize = *entry.u32(8);
        section.virtualAddress = *entry.u32(12);
        section.sizeOfRawData = *entry.u32(16);
        section.pointerToRawData = *entry.u32(20);
        section.characteristics = *entry.u32(36);
        if (section.hasRawData()) {
            if (section.pointerToRawData >= file.size()) return kFail;
            std::uint64_t rawEnd = std::uint64_t{section.pointerToRawData} + section.sizeOfRawData;
            if (rawEnd > file.size() && rawEnd - file.size() >= kMaxMissingRawData) return kFail;
            end = std::max(end, rawEnd);
        }
        if (isResourceSectionName(section.name)) {
            if (out.resourceSection) return kFail;  // two resource sections: which one is compiled?
            out.resourceSection = out.sections.size();
        }
        out.sections.push_back(section);
    }
    out.overlayOffset = std::min<std::uint64_t>(end, file.size());
    return kOk;
}

}  // namespace kestrel
