#include "core/pe/pe_image.h"

#include <algorithm>
#include <span>

#include "core/errors/language.h"
#include "core/pe/section_names.h"
#include "core/platform/format.h"

namespace kestrel {

namespace {

constexpr std::size_t kPeSignatureSize = 4;
// Signature, file header and the largest optional header with all sixteen data directories.
constexpr std::size_t kLongestNtHeaders = nt_field::kOptionalHeader + 240;

}  // namespace

SectionHeader readSectionHeader(const ByteReader& entry) {
    SectionHeader section;
    for (std::size_t b = 0; b < section.name.size(); ++b)
        section.name[b] = entry.u8Or(section_field::kName + b, 0);
    section.virtualSize = entry.u32Or(section_field::kVirtualSize, 0);
    section.virtualAddress = entry.u32Or(section_field::kVirtualAddress, 0);
    section.sizeOfRawData = entry.u32Or(section_field::kSizeOfRawData, 0);
    section.pointerToRawData = entry.u32Or(section_field::kPointerToRawData, 0);
    section.characteristics = entry.u32Or(section_field::kCharacteristics, 0);
    return section;
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

HResult parsePeImage(Bytes file, PeImage& out, std::string* reason, std::uint64_t* cutShortAt) {
    out = PeImage{};
    out.file = file;
    if (cutShortAt != nullptr) *cutShortAt = 0;
    auto refuse = [&](std::string_view format, std::initializer_list<FormatArg> args) {
        if (reason)
            *reason = safeFormat(Localized(format), std::span<const FormatArg>(args.begin(), args.size()));
        return kFail;
    };
    // A failure because the file ends before what its headers need is told apart: the file was
    // cut short (a broken download or copy), not some other kind of file.
    auto cutShort = [&](std::string_view format, std::initializer_list<FormatArg> args) {
        if (cutShortAt != nullptr) *cutShortAt = file.size();
        return refuse(format, args);
    };
    ByteReader reader(file);
    std::int32_t lfanew = 0;
    static constexpr std::string_view kBadPeOffset =
        "DOS 头中的 NT 头偏移 (e_lfanew = 0x%X) 不在文件 (%u 字节) 之内。";
    if (readPeHeaderOffset(file, lfanew).failed()) return cutShort(kBadPeOffset, {0, file.size()});
    if (lfanew <= 0) return refuse(kBadPeOffset, {lfanew, file.size()});
    std::uint64_t nt = static_cast<std::uint32_t>(lfanew);
    if (nt >= file.size()) return cutShort(kBadPeOffset, {nt, file.size()});
    auto ntHeaders = reader.from(nt);
    static constexpr std::string_view kBadNtHeaders =
        "位于 0x%X 的 NT 头无效：没有 \"PE\" 签名、PE32 或 PE32+ 可选头，或者它的大小不对。";
    if (!ntHeaders || ntHeaders->size() < kPeSignatureSize) return cutShort(kBadNtHeaders, {nt});
    NtLayout layout;
    if (readNtLayout(*ntHeaders, layout).failed()) {
        // A PE signature whose headers run past the end of the file.
        const bool signature = *ntHeaders->u8(0) == 'P' && *ntHeaders->u8(1) == 'E' &&
                               *ntHeaders->u8(2) == 0 && *ntHeaders->u8(3) == 0;
        return signature && ntHeaders->size() < kLongestNtHeaders ? cutShort(kBadNtHeaders, {nt})
                                                                  : refuse(kBadNtHeaders, {nt});
    }

    std::uint64_t sectionCount = layout.sectionCount;
    std::uint64_t sizeOfHeaders = *ntHeaders->u32(nt_field::kSizeOfHeaders);
    std::uint64_t tableOffset = nt + layout.sectionTable;
    if (sizeOfHeaders > file.size())
        return cutShort("SizeOfHeaders (0x%X) 大于文件 (0x%X 字节)。", {sizeOfHeaders, file.size()});
    if (tableOffset + kSectionHeaderSize * sectionCount > sizeOfHeaders)
        return refuse("节表 (%u 个节，到 0x%X) 超出 SizeOfHeaders (0x%X)。",
                      {sectionCount, tableOffset + kSectionHeaderSize * sectionCount, sizeOfHeaders});
    out.peHeaderOffset = static_cast<std::uint32_t>(nt);
    out.layout = layout;
    out.sizeOfHeaders = static_cast<std::uint32_t>(sizeOfHeaders);

    std::uint64_t end = sizeOfHeaders;
    out.sections.reserve(static_cast<std::size_t>(sectionCount));
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        ByteReader entry = *reader.slice(tableOffset + i * kSectionHeaderSize, kSectionHeaderSize);
        SectionHeader section = readSectionHeader(entry);
        if (section.hasRawData()) {
            std::uint64_t rawEnd = std::uint64_t{section.pointerToRawData} + section.sizeOfRawData;
            if (section.pointerToRawData >= file.size() ||
                (rawEnd > file.size() && rawEnd - file.size() >= kMaxMissingRawData))
                return cutShort(
                    "节 %s 的原始数据 (0x%X 到 0x%X) 位于文件 (0x%X 字节) 之外。",
                    {sectionNameText(section.name), section.pointerToRawData, rawEnd, file.size()});
            end = std::max(end, rawEnd);
        }
        if (isResourceSectionName(section.name)) {
            // Two resource sections: which one is compiled?
            if (out.resourceSection) return refuse("这个文件有多个资源部分。", {});
            out.resourceSection = out.sections.size();
        }
        out.sections.push_back(section);
    }
    out.overlayOffset = std::min<std::uint64_t>(end, file.size());
    return kOk;
}

}  // namespace kestrel
