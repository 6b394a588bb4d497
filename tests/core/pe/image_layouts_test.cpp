// Compiles of images beyond the plain PE32 file with a resource section: PE32+, images without
// resources (kept byte for byte, or given a new resource section), and odd but valid layouts.
#include <gtest/gtest.h>

#include "compile_test_support.h"
#include "core/pe/pe_layout.h"

namespace kestrel::testing {
namespace {

struct Variant {
    const char* name;
    bool pe32Plus;
    bool certificate;
    std::uint32_t symbols;
    bool checksum;
};

const Variant kVariants[] = {
    {"Pe32", false, false, 0, true},
    {"Pe32WithCertificateAndSymbols", false, true, 3, true},
    {"Pe32PlusArm64NoChecksum", true, false, 0, false},
    {"Pe32PlusWithCertificate", true, true, 0, true},
};

pb::ImagePlan planFor(const Variant& variant, bool withResources) {
    pb::ImagePlan plan;
    plan.pe32Plus = variant.pe32Plus;
    if (variant.pe32Plus && !variant.checksum) plan.machine = 0xAA64;
    plan.certificateInOverlay = variant.certificate;
    plan.symbolCount = variant.symbols;
    plan.writeChecksum = variant.checksum;
    plan.withResourceSection = withResources;
    if (withResources) {
        plan.resources = {{pb::kRtRcData, 7, pb::kLangEnUs, pb::bytesOf("seven")},
                          {pb::kRtRcData, u"NAMED", pb::kLangDeDe, pb::bytesOf("named data")},
                          {pb::kRtVersion, 1, pb::kLangEnUs, pb::bytesOf("not really a version block")}};
    }
    return plan;
}

// The description and resource files of `from` (an import of the same image with resources).
void copyResources(const WorkingFolder& from, const WorkingFolder& to) {
    for (const auto& entry : std::filesystem::directory_iterator(from.folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".BIN") || name.ends_with(".kestrel")) continue;
        // Removed first: MinGW's copy_file refuses to overwrite any file ("File exists").
        std::filesystem::remove(to.folder / name);
        std::filesystem::copy_file(entry.path(), to.folder / name);
    }
}

std::size_t dataDirectoryOf(const std::vector<std::byte>& image, std::size_t index) {
    const std::uint32_t lfanew = u32At(image, kPeHeaderOffsetField);
    NtLayout layout;
    EXPECT_EQ(readNtLayout(*ByteReader(Bytes(image.data(), image.size())).from(lfanew), layout), kOk);
    return lfanew + layout.directory(index);
}

TEST(ImageLayouts, ImagesOfBothKindsRoundTripWithAndWithoutResources) {
    for (const Variant& variant : kVariants) {
        for (bool withResources : {true, false}) {
            SCOPED_TRACE(std::string(variant.name) + (withResources ? " with resources" : " without"));
            CompileSink sink;
            pb::ByteVector image = pb::buildImage(planFor(variant, withResources));
            WorkingFolder work(image);
            EXPECT_EQ(std::filesystem::exists(work.folder / "STRINGS.XML"), false);
            ASSERT_TRUE(work.compile().succeeded()) << errorText();
            std::vector<std::byte> rebuilt = readBytes(work.output());
            if (!withResources) {
                // Nothing to change: the very same file, whatever its checksum says.
                EXPECT_EQ(rebuilt, image);
            } else {
                EXPECT_EQ(resourcesOf(rebuilt), resourcesOf(image));
                EXPECT_EQ(rebuilt.size(), image.size());
            }
        }
    }
}

// Resources described for an image that had none: a new .rsrc after the last section, before the
// overlay, with the headers that point at it.
TEST(ImageLayouts, ResourcesAddedToAnImageWithoutThemGetASectionOfTheirOwn) {
    for (const Variant& variant : kVariants) {
        SCOPED_TRACE(variant.name);
        CompileSink sink;
        pb::BuiltImage bare = pb::buildImageWithLayout(planFor(variant, false));
        pb::ByteVector donor = pb::buildImage(planFor(variant, true));
        WorkingFolder work(bare.bytes);
        WorkingFolder source(donor);
        copyResources(source, work);
        ASSERT_TRUE(work.compile().succeeded()) << errorText();
        std::vector<std::byte> rebuilt = readBytes(work.output());
        EXPECT_EQ(resourcesOf(rebuilt), resourcesOf(donor));

        const std::uint32_t lfanew = u32At(rebuilt, kPeHeaderOffsetField);
        NtLayout layout;
        ASSERT_EQ(readNtLayout(*ByteReader(Bytes(rebuilt.data(), rebuilt.size())).from(lfanew), layout), kOk);
        ASSERT_EQ(layout.sectionCount, bare.sections.size() + 1);
        const std::size_t added = lfanew + layout.sectionHeader(bare.sections.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&rebuilt[added]), 5), ".rsrc");
        const std::uint32_t rva = u32At(rebuilt, added + section_field::kVirtualAddress);
        const std::uint32_t raw = u32At(rebuilt, added + section_field::kPointerToRawData);
        const pb::SectionLayout& last = bare.sections.back();
        EXPECT_EQ(rva, (last.virtualAddress + last.virtualSize + 0xFFF) / 0x1000 * 0x1000);
        EXPECT_EQ(raw, last.rawOffset + last.rawSize);
        EXPECT_EQ(u32At(rebuilt, added + section_field::kCharacteristics), 0x40000040u);
        EXPECT_EQ(u32At(rebuilt, dataDirectoryOf(rebuilt, kDirectoryResource)), rva);
        const std::uint32_t sizeOfImage = u32At(rebuilt, lfanew + nt_field::kSizeOfImage);
        EXPECT_EQ(sizeOfImage % 0x1000, 0u);
        EXPECT_GE(sizeOfImage, rva + u32At(rebuilt, added + section_field::kVirtualSize));

        // What followed the last section (symbols, certificate) follows the new one unchanged,
        // and the pointers to it moved with it.
        const std::uint32_t rawSize = u32At(rebuilt, added + section_field::kSizeOfRawData);
        const std::size_t overlayStart = last.rawOffset + last.rawSize;
        const std::size_t moved = std::size_t{raw} + rawSize - overlayStart;
        ASSERT_EQ(rebuilt.size(), bare.bytes.size() + moved);
        EXPECT_TRUE(std::equal(bare.bytes.begin() + static_cast<std::ptrdiff_t>(overlayStart),
                               bare.bytes.end(), rebuilt.begin() + raw + rawSize));
        if (variant.certificate) {
            EXPECT_EQ(u32At(rebuilt, dataDirectoryOf(rebuilt, kDirectorySecurity)),
                      bare.overlayOffset + moved);
        }
        if (variant.symbols != 0) {
            EXPECT_EQ(u32At(rebuilt, lfanew + nt_field::kPointerToSymbolTable),
                      bare.symbolTableOffset + moved);
        }
        if (variant.checksum) {
            EXPECT_EQ(u32At(rebuilt, lfanew + nt_field::kCheckSum),
                      pb::peChecksum(rebuilt, lfanew + nt_field::kCheckSum));
        }
    }
}

TEST(ImageLayouts, NoRoomForAnotherSectionHeaderRefusesBeforeWriting) {
    CompileSink sink;
    pb::BuiltImage bare = pb::buildImageWithLayout(planFor(kVariants[0], false));
    WorkingFolder work(bare.bytes);
    WorkingFolder source(pb::buildImage(planFor(kVariants[0], true)));
    copyResources(source, work);
    // Header space after the table that something else uses (a bound-import table, say).
    auto header = readBytes(work.file("NTHEADER.BIN"));
    header.at(248 + 40 * bare.sections.size() + 3) = std::byte{0x42};
    overwrite(work.file("NTHEADER.BIN"), header);
    EXPECT_TRUE(work.compile().failed());
    EXPECT_NE(errorText().find("没有空间"), std::string::npos) << errorText();
    EXPECT_FALSE(std::filesystem::exists(work.output()));
}

// An installer whose resource section's raw range also covers the raw data of the section after
// it: that section goes to the next boundary after the new resources instead of failing.
TEST(ImageLayouts, SectionWhoseRawDataLayInsideTheResourceRangeIsPlacedAfterIt) {
    CompileSink sink;
    pb::ImagePlan plan = planFor(kVariants[0], true);
    pb::BuiltImage built = pb::buildImageWithLayout(plan);
    const std::size_t rsrc = 1, reloc = 2;
    ASSERT_EQ(built.sections[rsrc].name, ".rsrc");
    PeFields fields(built.bytes);
    putU32At(
        built.bytes, fields.sectionHeader(rsrc) + 16,
        built.sections[reloc].rawOffset + built.sections[reloc].rawSize - built.sections[rsrc].rawOffset);
    putU32At(built.bytes, fields.lfanew + 24 + 64, pb::peChecksum(built.bytes, fields.lfanew + 24 + 64));
    WorkingFolder work(built.bytes);
    std::string trace;
    ASSERT_TRUE(work.compile(&trace).succeeded()) << errorText();
    PeFields rebuilt(readBytes(work.output()));
    EXPECT_EQ(resourcesOf(rebuilt.bytes), resourcesOf(built.bytes));
    EXPECT_GE(rebuilt.rawPointer(reloc), rebuilt.rawPointer(rsrc) + rebuilt.rawSize(rsrc));
    EXPECT_EQ(rebuilt.rawPointer(reloc) % 0x200, 0u);
    EXPECT_EQ(rebuilt.rawData(reloc), PeFields(built.bytes).rawData(reloc));
}

TEST(ImageLayouts, SectionDataInsideTheHeadersIsRefusedNamingTheSection) {
    CompileSink sink;
    pb::BuiltImage built = pb::buildImageWithLayout(planFor(kVariants[0], true));
    PeFields fields(built.bytes);
    putU32At(built.bytes, fields.sectionHeader(0) + 20, 0x100);  // .text raw data inside the headers
    WorkingFolder work(built.bytes);
    std::string trace;
    EXPECT_TRUE(work.compile(&trace).failed());
    EXPECT_NE(errorText().find(".text"), std::string::npos) << errorText();
    EXPECT_NE(errorText().find("文件头"), std::string::npos) << errorText();
    EXPECT_EQ(trace.find("FFFF"), std::string::npos) << trace;  // no negative pad as a huge number
    EXPECT_FALSE(std::filesystem::exists(work.output()));
}

}  // namespace
}  // namespace kestrel::testing
