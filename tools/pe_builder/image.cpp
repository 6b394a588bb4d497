// PE32 and PE32+ image layout: DOS header and stub, NT headers, section table, section data, symbol table,
// overlay; then the checksum and any deliberate header damage.
#include <algorithm>

#include "core/platform/byte_reader.h"
#include "pe_builder/pe_builder.h"

namespace kestrel::pebuilder {
namespace {

constexpr std::uint32_t kPeHeaderOffset = 0x80;
constexpr std::uint32_t kCoffHeaderSize = 20;
constexpr std::uint32_t kPe32OptionalHeaderSize = 224;
constexpr std::uint32_t kPe32PlusOptionalHeaderSize = 240;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kDataDirectoryCount = 16;
constexpr std::uint32_t kTimeDateStamp = 0x5F5E1000;  // fixed, so builds are reproducible

// Offsets inside the optional header.
constexpr std::uint32_t kOptMagic = 0;
constexpr std::uint32_t kOptSizeOfHeaders = 60;
constexpr std::uint32_t kOptChecksum = 64;

// Directory indexes.
constexpr std::uint32_t kDirResources = 2;
constexpr std::uint32_t kDirCertificates = 4;
constexpr std::uint32_t kDirRelocations = 5;

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment) {
    if (alignment <= 1) return value;
    return (value + alignment - 1) / alignment * alignment;
}

// A real-mode stub that prints a line and exits, as linkers place between the DOS header and the
// PE header.
void writeDosPart(ByteWriter& out) {
    out.u16(0x5A4D);  // "MZ"
    out.u16(0x90);    // bytes on the last page
    out.u16(3);       // pages
    out.u16(0);       // relocations
    out.u16(4);       // header paragraphs
    out.u16(0);       // minimum extra paragraphs
    out.u16(0xFFFF);  // maximum extra paragraphs
    out.u16(0);       // ss
    out.u16(0xB8);    // sp
    out.u16(0);       // checksum
    out.u16(0);       // ip
    out.u16(0);       // cs
    out.u16(0x40);    // relocation table offset
    out.u16(0);       // overlay number
    out.zeros(0x3C - out.size());
    out.u32(kPeHeaderOffset);
    static constexpr std::uint8_t kStubCode[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                                 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    for (std::uint8_t byte : kStubCode)
        out.u8(byte);
    out.append(asBytes(std::string_view{"Kestrel test image: needs Windows.\r\r\n$"}));
    out.zeros(kPeHeaderOffset - out.size());
}

// One base-relocation block for the first section: a HIGHLOW fix-up at offset 4 (the address
// operand of the default .text code) and an ABSOLUTE entry that pads the block to 4 bytes.
ByteVector relocationBlock(std::uint32_t pageRva) {
    ByteWriter out;
    out.u32(pageRva);
    out.u32(12);
    out.u16((3u << 12) | 4);
    out.u16(0);
    return std::move(out.bytes());
}

struct PlacedSection {
    const SectionPlan* plan = nullptr;
    ByteVector data;  // when the builder makes it (.rsrc, .reloc)
    SectionPlan own;
    SectionLayout layout;
};

// COFF symbols naming the sections in turn; every third has a long name kept in the string table.
ByteVector symbolTable(std::uint32_t count, std::size_t sectionCount) {
    ByteWriter symbols;
    ByteWriter strings;
    strings.u32(0);  // total size, patched below
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string name =
            (i % 3 == 2) ? "_kestrel_long_symbol_" + std::to_string(i) : "_sym" + std::to_string(i);
        if (name.size() <= 8) {
            symbols.append(asBytes(name));
            symbols.zeros(8 - name.size());
        } else {
            symbols.u32(0);
            symbols.u32(static_cast<std::uint32_t>(strings.size()));
            strings.append(asBytes(name));
            strings.u8(0);
        }
        symbols.u32(i * 4);                                                                     // value
        symbols.u16(sectionCount == 0 ? 0 : static_cast<std::uint32_t>(i % sectionCount + 1));  // section
        symbols.u16(i % 2 == 0 ? 0x20 : 0);  // type: function
        symbols.u8(i % 2 == 0 ? 2 : 3);      // external / static
        symbols.u8(0);                       // aux symbols
    }
    strings.patchU32(0, static_cast<std::uint32_t>(strings.size()));
    symbols.append(asBytes(strings.bytes()));
    return std::move(symbols.bytes());
}

}  // namespace

SectionPlan defaultTextSection() {
    SectionPlan text;
    text.name = ".text";
    text.characteristics = kSectionCode;
    // push ebp; mov ebp, esp; ... mov eax, [0x10001010]; pop ebp; ret; then the 4-byte cell the
    // instruction reads. The operand at offset 4 is what the default .reloc block fixes up.
    static constexpr std::uint8_t kCode[] = {0x55, 0x8B, 0xEC, 0xA1, 0x10, 0x10, 0x00, 0x10, 0x5D, 0xC3,
                                             0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0x2A, 0x00, 0x00, 0x00};
    for (std::uint8_t byte : kCode)
        text.data.push_back(static_cast<std::byte>(byte));
    return text;
}

std::uint32_t peChecksum(std::span<const std::byte> image, std::size_t checksumOffset) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < image.size(); i += 2) {
        std::uint32_t word = static_cast<std::uint8_t>(image[i]);
        if (i + 1 < image.size())
            word |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(image[i + 1])) << 8;
        if (i >= checksumOffset && i < checksumOffset + 4) word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + image.size());
}

BuiltImage buildImageWithLayout(const ImagePlan& plan) {
    const std::uint32_t fileAlignment = std::max<std::uint32_t>(plan.fileAlignment, 1);
    const std::uint32_t sectionAlignment = std::max<std::uint32_t>(plan.sectionAlignment, 1);

    std::vector<PlacedSection> sections;
    for (const SectionPlan& section : plan.sectionsBeforeResources)
        sections.push_back({&section, {}, {}, {}});
    std::size_t resourceIndex = SIZE_MAX;
    if (plan.withResourceSection) {
        resourceIndex = sections.size();
        PlacedSection rsrc;
        rsrc.own.name = ".rsrc";
        rsrc.own.characteristics = kSectionInitializedData;
        sections.push_back(std::move(rsrc));
    }
    for (const SectionPlan& section : plan.sectionsAfterResources)
        sections.push_back({&section, {}, {}, {}});
    std::size_t relocIndex = SIZE_MAX;
    if (plan.withRelocations) {
        relocIndex = sections.size();
        PlacedSection reloc;
        reloc.own.name = ".reloc";
        reloc.own.characteristics = kSectionRelocations;
        sections.push_back(std::move(reloc));
    }

    // Lay out. Virtual addresses come first because the resource section's bytes depend on its RVA.
    const std::uint32_t optionalHeaderSize =
        plan.pe32Plus ? kPe32PlusOptionalHeaderSize : kPe32OptionalHeaderSize;
    const std::uint32_t headersEnd = kPeHeaderOffset + 4 + kCoffHeaderSize + optionalHeaderSize +
                                     kSectionHeaderSize * static_cast<std::uint32_t>(sections.size());
    const std::uint32_t sizeOfHeaders = alignUp(headersEnd, fileAlignment);
    std::uint32_t rva = alignUp(sizeOfHeaders, sectionAlignment);
    std::uint32_t firstSectionRva = rva;
    std::uint32_t resourceSize = 0;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        PlacedSection& section = sections[i];
        if (i == resourceIndex) {
            section.data = buildResourceSection(plan.resources, rva, plan.resourceOptions);
            resourceSize = static_cast<std::uint32_t>(section.data.size());
        } else if (i == relocIndex) {
            section.data = relocationBlock(firstSectionRva);
        }
        const SectionPlan& own = section.plan ? *section.plan : section.own;
        const ByteVector& data = section.plan ? section.plan->data : section.data;
        std::uint32_t virtualSize =
            own.virtualSize ? own.virtualSize : static_cast<std::uint32_t>(data.size());
        section.layout.name = own.name;
        section.layout.virtualAddress = rva;
        section.layout.virtualSize = std::max<std::uint32_t>(virtualSize, 1);
        rva += alignUp(section.layout.virtualSize, sectionAlignment);
    }
    const std::uint32_t sizeOfImage = rva;

    std::uint32_t fileOffset = sizeOfHeaders;
    for (PlacedSection& section : sections) {
        const SectionPlan& own = section.plan ? *section.plan : section.own;
        const ByteVector& data = section.plan ? section.plan->data : section.data;
        if (own.noRawData || data.empty()) continue;
        section.layout.rawOffset = fileOffset;
        section.layout.rawSize = alignUp(static_cast<std::uint32_t>(data.size()), fileAlignment);
        fileOffset += section.layout.rawSize;
    }
    std::uint32_t symbolOffset = 0;
    ByteVector symbols;
    if (plan.symbolCount > 0) {
        symbols = symbolTable(plan.symbolCount, sections.size());
        symbolOffset = fileOffset;
        fileOffset += static_cast<std::uint32_t>(symbols.size());
    }
    ByteVector overlay = plan.overlay;
    if (plan.certificateInOverlay) {
        fileOffset = alignUp(fileOffset, 8);
        if (overlay.empty()) {
            // A WIN_CERTIFICATE header with a few bytes of (meaningless) certificate.
            ByteWriter certificate;
            certificate.u32(24);
            certificate.u16(0x0200);  // revision 2.0
            certificate.u16(0x0002);  // PKCS#7 signed data
            for (std::uint32_t i = 0; i < 16; ++i)
                certificate.u8(0xA0 + i);
            overlay = std::move(certificate.bytes());
        }
    }
    const std::uint32_t overlayOffset = fileOffset;

    // Sums the optional header reports.
    std::uint32_t sizeOfCode = 0, sizeOfInitialized = 0, sizeOfUninitialized = 0, baseOfCode = 0,
                  baseOfData = 0;
    for (const PlacedSection& section : sections) {
        const SectionPlan& own = section.plan ? *section.plan : section.own;
        std::uint32_t size = alignUp(section.layout.virtualSize, fileAlignment);
        if (own.characteristics & 0x20) {
            sizeOfCode += size;
            if (!baseOfCode) baseOfCode = section.layout.virtualAddress;
        } else if (own.characteristics & 0x80) {
            sizeOfUninitialized += size;
        } else if (own.characteristics & 0x40) {
            sizeOfInitialized += size;
            if (!baseOfData) baseOfData = section.layout.virtualAddress;
        }
    }
    std::uint32_t entryPoint = 0;
    for (const PlacedSection& section : sections) {
        const SectionPlan& own = section.plan ? *section.plan : section.own;
        if ((own.characteristics & 0x20) && section.layout.rawSize > 0) {
            entryPoint = section.layout.virtualAddress;
            break;
        }
    }

    // Write.
    ByteWriter out;
    writeDosPart(out);
    out.u32(0x00004550);  // "PE\0\0"
    out.u16(plan.machine != 0 ? plan.machine : plan.pe32Plus ? 0x8664 : 0x014C);
    out.u16(static_cast<std::uint32_t>(sections.size()));
    out.u32(kTimeDateStamp);
    out.u32(symbolOffset);
    out.u32(plan.symbolCount);
    out.u16(optionalHeaderSize);
    out.u16(plan.characteristics);

    const std::uint32_t optionalHeader = static_cast<std::uint32_t>(out.size());
    out.u16(plan.pe32Plus ? 0x020B : 0x010B);
    out.u8(14);  // linker version
    out.u8(0);
    out.u32(sizeOfCode);
    out.u32(sizeOfInitialized);
    out.u32(sizeOfUninitialized);
    out.u32(entryPoint);
    out.u32(baseOfCode);
    if (plan.pe32Plus) {
        out.u32(plan.imageBase);  // 64-bit image base, high half 1
        out.u32(1);
    } else {
        out.u32(baseOfData);
        out.u32(plan.imageBase);
    }
    out.u32(sectionAlignment);
    out.u32(fileAlignment);
    out.u16(6);  // operating system version
    out.u16(0);
    out.u16(1);  // image version
    out.u16(0);
    out.u16(6);  // subsystem version
    out.u16(0);
    out.u32(0);  // Win32VersionValue
    out.u32(sizeOfImage);
    out.u32(sizeOfHeaders);
    out.u32(0);  // checksum, filled in last
    out.u16(plan.subsystem);
    out.u16(0x0140);                                                       // dynamic base, NX compatible
    for (std::uint32_t size : {0x100000u, 0x1000u, 0x100000u, 0x1000u}) {  // stack and heap
        out.u32(size);
        if (plan.pe32Plus) out.u32(0);
    }
    out.u32(0);  // loader flags
    out.u32(kDataDirectoryCount);
    const std::uint32_t directories = static_cast<std::uint32_t>(out.size());
    out.zeros(8 * kDataDirectoryCount);
    auto setDirectory = [&](std::uint32_t index, std::uint32_t address, std::uint32_t size) {
        out.patchU32(directories + 8 * index, address);
        out.patchU32(directories + 8 * index + 4, size);
    };
    if (resourceIndex != SIZE_MAX)
        setDirectory(kDirResources, sections[resourceIndex].layout.virtualAddress, resourceSize);
    if (relocIndex != SIZE_MAX)
        setDirectory(kDirRelocations, sections[relocIndex].layout.virtualAddress,
                     static_cast<std::uint32_t>(sections[relocIndex].data.size()));
    if (plan.certificateInOverlay)
        setDirectory(kDirCertificates, overlayOffset, static_cast<std::uint32_t>(overlay.size()));

    for (const PlacedSection& section : sections) {
        const SectionPlan& own = section.plan ? *section.plan : section.own;
        std::string name = own.name.substr(0, 8);
        out.append(asBytes(name));
        out.zeros(8 - name.size());
        out.u32(section.layout.virtualSize);
        out.u32(section.layout.virtualAddress);
        out.u32(section.layout.rawSize);
        out.u32(section.layout.rawOffset);
        out.u32(0);  // relocations
        out.u32(0);  // line numbers
        out.u16(0);
        out.u16(0);
        out.u32(own.characteristics);
    }
    out.zeros(sizeOfHeaders - out.size());
    for (const PlacedSection& section : sections) {
        if (section.layout.rawSize == 0) continue;
        const ByteVector& data = section.plan ? section.plan->data : section.data;
        out.append(asBytes(data));
        out.alignTo(fileAlignment);
    }
    out.append(asBytes(symbols));
    out.zeros(overlayOffset - out.size());
    out.append(asBytes(overlay));

    // Damage goes in before the checksum, so that the checksum stays valid for what was written.
    switch (plan.fault) {
        case ImageFault::kNone:
            break;
        case ImageFault::kLfanewPastEnd:
            out.patchU32(0x3C, static_cast<std::uint32_t>(out.size()) + 0x100);
            break;
        case ImageFault::kSizeOfHeadersTooSmall:
            out.patchU32(optionalHeader + kOptSizeOfHeaders, kPeHeaderOffset);
            break;
        case ImageFault::kRawDataPastEnd:
            if (resourceIndex != SIZE_MAX)
                out.patchU32(optionalHeader + optionalHeaderSize +
                                 kSectionHeaderSize * static_cast<std::uint32_t>(resourceIndex) + 20,
                             alignUp(static_cast<std::uint32_t>(out.size()), fileAlignment) + fileAlignment);
            break;
        case ImageFault::kRomMagic:
            out.patchU16(optionalHeader + kOptMagic, 0x0107);
            break;
    }
    if (plan.writeChecksum)
        out.patchU32(optionalHeader + kOptChecksum,
                     peChecksum(asBytes(out.bytes()), optionalHeader + kOptChecksum));

    BuiltImage image;
    image.bytes = std::move(out.bytes());
    for (const PlacedSection& section : sections)
        image.sections.push_back(section.layout);
    image.peHeaderOffset = kPeHeaderOffset;
    image.resourceRva = resourceIndex != SIZE_MAX ? sections[resourceIndex].layout.virtualAddress : 0;
    image.resourceSize = resourceSize;
    image.symbolTableOffset = symbolOffset;
    image.overlayOffset = overlayOffset;
    return image;
}

ByteVector buildImage(const ImagePlan& plan) {
    return buildImageWithLayout(plan).bytes;
}

}  // namespace kestrel::pebuilder
