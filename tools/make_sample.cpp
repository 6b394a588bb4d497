// make-sample <out.dll>: writes the demonstration file sample.dll.
// make-sample --summary <file>: prints the version numbers of a PE file and a one-line summary
// (size, sections, resources, types, languages), read with a small reader of its own.
// make-sample --variants <folder>: writes the sample and variants of it (overlay, symbol table,
// extra sections, damaged trees and headers), e.g. as seeds for fuzzing or for manual imports.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/files.h"
#include "pe_builder/pe_builder.h"

namespace {

using kestrel::ByteReader;

struct Section {
    std::string name;
    std::uint32_t virtualAddress = 0, virtualSize = 0, rawSize = 0, rawOffset = 0;
};

struct Summary {
    std::vector<Section> sections;
    std::size_t resources = 0;
    std::set<std::uint32_t> types;  // IDs, or the name offset with the high bit set
    std::set<std::uint32_t> languages;
    std::optional<std::uint32_t> versionRva, versionSize;
};

std::optional<std::uint32_t> rvaToOffset(const std::vector<Section>& sections, std::uint32_t rva) {
    for (const Section& section : sections) {
        std::uint32_t extent = section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
        if (rva >= section.virtualAddress && rva - section.virtualAddress < extent &&
            rva - section.virtualAddress < section.rawSize)
            return section.rawOffset + (rva - section.virtualAddress);
    }
    return std::nullopt;
}

// Walks type → name → language directories, at most three levels and each table once.
bool walkResources(const ByteReader& rsrc, Summary& summary) {
    std::set<std::uint32_t> visited;
    struct Frame {
        std::uint32_t offset;
        int level;
        std::uint32_t type;
    };
    std::vector<Frame> pending{{0, 0, 0}};
    while (!pending.empty()) {
        Frame frame = pending.back();
        pending.pop_back();
        if (!visited.insert(frame.offset).second) return false;
        auto named = rsrc.u16(frame.offset + 12);
        auto ids = rsrc.u16(frame.offset + 14);
        if (!named || !ids) return false;
        std::uint32_t count = *named + *ids;
        if (!rsrc.contains(frame.offset + 16, 8ull * count)) return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t entry = frame.offset + 16 + 8 * i;
            std::uint32_t key = *rsrc.u32(entry);
            std::uint32_t target = *rsrc.u32(entry + 4);
            bool subdirectory = (target & 0x80000000u) != 0;
            if (frame.level < 2) {
                if (!subdirectory) return false;
                if (frame.level == 0) summary.types.insert(key);
                pending.push_back(
                    {target & 0x7FFFFFFFu, frame.level + 1, frame.level == 0 ? key : frame.type});
                continue;
            }
            if (subdirectory) return false;
            auto rva = rsrc.u32(target);
            auto size = rsrc.u32(target + 4);
            if (!rva || !size) return false;
            ++summary.resources;
            summary.languages.insert(key);
            if (frame.type == 16 && !summary.versionRva) {
                summary.versionRva = *rva;
                summary.versionSize = *size;
            }
        }
    }
    return true;
}

int printSummary(const char* path) {
    std::vector<std::byte> bytes;
    if (kestrel::HResult hr = kestrel::ReadWholeFile(path, bytes); hr.failed()) {
        std::fprintf(stderr, "make-sample: cannot read %s (0x%08X)\n", path, hr.value());
        return 1;
    }
    ByteReader file{kestrel::asBytes(bytes)};
    auto fail = [path](const char* why) {
        std::fprintf(stderr, "make-sample: %s: %s\n", path, why);
        return 1;
    };
    if (file.u16Or(0, 0) != 0x5A4D) return fail("no MZ header");
    auto peOffset = file.u32(0x3C);
    if (!peOffset || file.u32Or(*peOffset, 0) != 0x00004550) return fail("no PE header");
    std::uint64_t coff = *peOffset + 4ull;
    auto sectionCount = file.u16(coff + 2);
    auto optionalSize = file.u16(coff + 16);
    std::uint64_t optional = coff + 20;
    if (!sectionCount || !optionalSize || file.u16Or(optional, 0) != 0x10B) return fail("not a PE32 image");
    Summary summary;
    std::uint64_t table = optional + *optionalSize;
    for (std::uint32_t i = 0; i < *sectionCount; ++i) {
        auto header = file.slice(table + 40ull * i, 40);
        if (!header) return fail("section table truncated");
        Section section;
        for (std::size_t c = 0; c < 8 && header->u8Or(c, 0) != 0; ++c)
            section.name += static_cast<char>(*header->u8(c));
        section.virtualSize = *header->u32(8);
        section.virtualAddress = *header->u32(12);
        section.rawSize = *header->u32(16);
        section.rawOffset = *header->u32(20);
        summary.sections.push_back(section);
    }
    std::uint32_t resourceRva = file.u32Or(optional + 96 + 16, 0);
    std::uint32_t resourceSize = file.u32Or(optional + 96 + 20, 0);
    if (resourceRva != 0) {
        auto offset = rvaToOffset(summary.sections, resourceRva);
        auto rsrc = offset ? file.slice(*offset, resourceSize) : std::nullopt;
        if (!rsrc || !walkResources(*rsrc, summary)) return fail("damaged resource directory");
    }

    if (summary.versionRva) {
        auto offset = rvaToOffset(summary.sections, *summary.versionRva);
        auto version = offset ? file.slice(*offset, *summary.versionSize) : std::nullopt;
        // VS_FIXEDFILEINFO sits at offset 40 of the block, after the "VS_VERSION_INFO" key.
        if (!version || version->u32Or(40, 0) != 0xFEEF04BD) return fail("damaged version block");
        auto printVersion = [&](const char* label, std::uint32_t at) {
            std::uint32_t ms = *version->u32(at), ls = *version->u32(at + 4);
            std::printf("%s %u.%u.%u.%u\n", label, ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
        };
        printVersion("FileVersion", 48);
        printVersion("ProductVersion", 56);
    } else {
        std::printf("no version resource\n");
    }
    std::string names;
    for (const Section& section : summary.sections)
        names += (names.empty() ? "" : " ") + section.name;
    std::printf("%s: %zu bytes, %zu sections (%s), %zu resources, %zu types, %zu languages\n", path,
                bytes.size(), summary.sections.size(), names.c_str(), summary.resources, summary.types.size(),
                summary.languages.size());
    return 0;
}

bool writeImage(const std::filesystem::path& path, const std::vector<std::byte>& image) {
    if (kestrel::HResult hr = kestrel::WriteFileAtomic(path, kestrel::asBytes(image)); hr.failed()) {
        std::fprintf(stderr, "make-sample: cannot write %s (0x%08X)\n", path.string().c_str(), hr.value());
        return false;
    }
    return true;
}

int writeVariants(const std::filesystem::path& folder) {
    using namespace kestrel::pebuilder;
    if (kestrel::HResult hr = kestrel::CreateFolderPath(folder); hr.failed()) {
        std::fprintf(stderr, "make-sample: cannot create %s (0x%08X)\n", folder.string().c_str(), hr.value());
        return 1;
    }
    struct Variant {
        const char* name;
        void (*configure)(ImagePlan&);
    };
    static const Variant kVariants[] = {
        {"sample.dll", [](ImagePlan&) {}},
        {"overlay.dll", [](ImagePlan& s) { s.overlay = bytesOf("appended installer data"); }},
        {"symbols.dll", [](ImagePlan& s) { s.symbolCount = 6; }},
        {"certificate.dll", [](ImagePlan& s) { s.certificateInOverlay = true; }},
        {"after_rsrc.dll",
         [](ImagePlan& s) {
             s.sectionsAfterResources.push_back({".tls", bytesOf("tls"), 0, kSectionInitializedData});
         }},
        {"bss.dll",
         [](ImagePlan& s) {
             s.sectionsBeforeResources.push_back({".bss", {}, 0x800, kSectionUninitializedData, true});
         }},
        {"caller_order.dll", [](ImagePlan& s) { s.resourceOptions.keepCallerOrder = true; }},
        {"tree_self_loop.dll",
         [](ImagePlan& s) { s.resourceOptions.fault = TreeFault::kEntryPointsAtItsOwnDirectory; }},
        {"tree_root_loop.dll", [](ImagePlan& s) { s.resourceOptions.fault = TreeFault::kEntryPointsAtRoot; }},
        {"data_past_section.dll",
         [](ImagePlan& s) { s.resourceOptions.fault = TreeFault::kDataOffsetPastSection; }},
        {"size_past_section.dll",
         [](ImagePlan& s) { s.resourceOptions.fault = TreeFault::kDataSizePastSection; }},
        {"name_past_end.dll", [](ImagePlan& s) { s.resourceOptions.fault = TreeFault::kNamePastEnd; }},
        {"count_too_large.dll",
         [](ImagePlan& s) { s.resourceOptions.fault = TreeFault::kCountLargerThanData; }},
        {"lfanew_past_end.dll", [](ImagePlan& s) { s.fault = ImageFault::kLfanewPastEnd; }},
        {"headers_too_small.dll", [](ImagePlan& s) { s.fault = ImageFault::kSizeOfHeadersTooSmall; }},
        {"raw_data_past_end.dll", [](ImagePlan& s) { s.fault = ImageFault::kRawDataPastEnd; }},
        {"rom_magic.dll", [](ImagePlan& s) { s.fault = ImageFault::kRomMagic; }},
        {"pe32plus.dll",
         [](ImagePlan& s) {
             s.pe32Plus = true;
             s.certificateInOverlay = true;
         }},
        {"no_resources.dll", [](ImagePlan& s) { s.withResourceSection = false; }},
    };
    for (const Variant& variant : kVariants) {
        ImagePlan plan = sampleImagePlan();
        variant.configure(plan);
        if (!writeImage(folder / variant.name, buildImage(plan))) return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--summary") return printSummary(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--variants") return writeVariants(argv[2]);
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr,
                     "usage: make-sample <out.dll>\n       make-sample --summary <file>\n"
                     "       make-sample --variants <folder>\n");
        return 2;
    }
    return writeImage(argv[1], kestrel::pebuilder::buildSampleImage()) ? 0 : 1;
}
