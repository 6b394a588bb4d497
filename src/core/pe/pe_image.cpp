#include "core/pe/pe_image.h"

#include <algorithm>

namespace kestrel {

std::optional<std::int32_t> readPeHeaderOffset(Bytes file) {
    return ByteReader(file).i32(kPeHeaderOffsetField);
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
    auto ntHeaders = reader.from(nt);
    if (!ntHeaders) return kFail;
    auto layout = readNtLayout(*ntHeaders);
    if (!layout) return kFail;

    std::uint64_t sectionCount = layout->sectionCount;
    std::uint64_t sizeOfHeaders = *ntHeaders->u32(nt_field::kSizeOfHeaders);
    std::uint64_t tableOffset = nt + layout->sectionTable;
    if (tableOffset + kSectionHeaderSize * sectionCount > sizeOfHeaders || sizeOfHeaders > file.size())
        return kFail;
    out.peHeaderOffset = static_cast<std::uint32_t>(nt);
    out.layout = *layout;
    out.sizeOfHeaders = static_cast<std::uint32_t>(sizeOfHeaders);

    std::uint64_t end = sizeOfHeaders;
    out.sections.reserve(static_cast<std::size_t>(sectionCount));
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        ByteReader entry = *reader.slice(tableOffset + i * kSectionHeaderSize, kSectionHeaderSize);
        SectionHeader section;
        for (std::size_t b = 0; b < section.name.size(); ++b)
            section.name[b] = *entry.u8(b);
        section.virtualSize = *entry.u32(section_field::kVirtualSize);
        section.virtualAddress = *entry.u32(section_field::kVirtualAddress);
        section.sizeOfRawData = *entry.u32(section_field::kSizeOfRawData);
        section.pointerToRawData = *entry.u32(section_field::kPointerToRawData);
        section.characteristics = *entry.u32(section_field::kCharacteristics);
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
