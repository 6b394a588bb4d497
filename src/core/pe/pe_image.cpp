#include "core/pe/pe_image.h"

#include <algorithm>

namespace kestrel {

namespace {

constexpr std::size_t kPeSignatureSize = 4;
// Signature, file header and the largest optional header with all sixteen data directories.
constexpr std::size_t kLongestNtHeaders = nt_field::kOptionalHeader + 240;

}  // namespace

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

HResult parsePeImage(Bytes file, PeImage& out, std::uint64_t* cutShortAt) {
    out = PeImage{};
    out.file = file;
    if (cutShortAt != nullptr) *cutShortAt = 0;
    // A failure because the file ends before what its headers need is told apart: the file was
    // cut short (a broken download or copy), not some other kind of file.
    auto cutShort = [&] {
        if (cutShortAt != nullptr) *cutShortAt = file.size();
        return kFail;
    };
    ByteReader reader(file);
    auto lfanew = readPeHeaderOffset(file);
    if (!lfanew) return cutShort();
    if (*lfanew <= 0) return kFail;
    std::uint64_t nt = static_cast<std::uint32_t>(*lfanew);
    auto ntHeaders = reader.from(nt);
    if (!ntHeaders || ntHeaders->size() < kPeSignatureSize) return cutShort();
    auto layout = readNtLayout(*ntHeaders);
    if (!layout) {
        // A PE signature whose headers run past the end of the file.
        const bool signature = *ntHeaders->u8(0) == 'P' && *ntHeaders->u8(1) == 'E' &&
                               *ntHeaders->u8(2) == 0 && *ntHeaders->u8(3) == 0;
        return signature && ntHeaders->size() < kLongestNtHeaders ? cutShort() : kFail;
    }

    std::uint64_t sectionCount = layout->sectionCount;
    std::uint64_t sizeOfHeaders = *ntHeaders->u32(nt_field::kSizeOfHeaders);
    std::uint64_t tableOffset = nt + layout->sectionTable;
    if (tableOffset + kSectionHeaderSize * sectionCount > sizeOfHeaders) return kFail;
    if (sizeOfHeaders > file.size()) return cutShort();
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
            if (section.pointerToRawData >= file.size()) return cutShort();
            std::uint64_t rawEnd = std::uint64_t{section.pointerToRawData} + section.sizeOfRawData;
            if (rawEnd > file.size() && rawEnd - file.size() >= kMaxMissingRawData) return cutShort();
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
