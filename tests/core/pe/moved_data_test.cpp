// Compiles of layouts whose data moves or must not move: the memory an added resource section
// may take, file offsets into data that moves with the resource section's new size, and raw data
// that ends unaligned at the end of the file.
#include <gtest/gtest.h>

#include "compile_test_support.h"
#include "core/pe/pe_layout.h"

namespace kestrel::testing {
namespace {

constexpr std::uint32_t kAlign = 0x1000;

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void resetChecksum(std::vector<std::byte>& image) {
    PeFields fields(image);
    const std::size_t at = fields.lfanew + nt_field::kCheckSum;
    putU32At(image, at, pb::peChecksum(image, at));
}

// The working folder's resource file that holds exactly `content`.
std::filesystem::path fileHolding(const WorkingFolder& work, const std::vector<std::byte>& content) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(work.folder))
        if (entry.is_regular_file() && readBytes(entry.path()) == content) return entry.path();
    ADD_FAILURE() << "no file holds the content";
    return {};
}

// An image without resources whose SizeOfImage reaches far beyond its last section (memory the
// program uses, zero-filled at load time): resources added to it go after that memory.
TEST(MovedData, AddedResourceSectionStartsPastTheDeclaredImageMemory) {
    CompileSink sink;
    pb::ImagePlan bare;
    bare.withResourceSection = false;
    pb::BuiltImage built = pb::buildImageWithLayout(bare);
    PeFields fields(built.bytes);
    const std::uint32_t declared = fields.sizeOfImage() + 0x20800;  // not a multiple of the alignment
    putU32At(built.bytes, fields.lfanew + nt_field::kSizeOfImage, declared);
    resetChecksum(built.bytes);

    pb::ImagePlan donorPlan;
    donorPlan.resources = {{pb::kRtRcData, 7, pb::kLangEnUs, pb::bytesOf("seven")}};
    WorkingFolder donor(pb::buildImage(donorPlan));
    WorkingFolder work(built.bytes);
    for (const auto& entry : std::filesystem::directory_iterator(donor.folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".BIN") || name.ends_with(".kestrel")) continue;
        // Removed first: MinGW's copy_file refuses to overwrite any file ("File exists").
        std::filesystem::remove_all(work.folder / name);
        std::filesystem::copy(entry.path(), work.folder / name, std::filesystem::copy_options::recursive);
    }
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    PeFields rebuilt(readBytes(work.output()));
    auto added = rebuilt.section(".rsrc");
    ASSERT_TRUE(added.has_value());
    EXPECT_GE(rebuilt.virtualAddress(*added), alignUp(declared, kAlign));
    EXPECT_EQ(rebuilt.virtualAddress(*added) % kAlign, 0u);
    EXPECT_EQ(rebuilt.sizeOfImage(),
              alignUp(rebuilt.virtualAddress(*added) + rebuilt.virtualSize(*added), kAlign));
    EXPECT_EQ(resourceOf(rebuilt.bytes, "i:10/i:7/1033"), pb::bytesOf("seven"));
}

// A CodeView record kept in the overlay (its debug directory entry has a file offset only) and
// one in the raw data of the section after the resources: when the resource section grows, both
// records move, and so do the entries' file offsets.
TEST(MovedData, DebugDirectoryEntriesFollowTheDataTheyPointAt) {
    CompileSink sink;
    pb::ImagePlan plan;
    plan.resources = {{pb::kRtRcData, 7, pb::kLangEnUs, pb::bytesOf("seven")}};
    pb::SectionPlan rdata;
    rdata.name = ".rdata";
    rdata.data.resize(2 * 28);
    plan.sectionsBeforeResources.push_back(rdata);
    plan.overlay = pb::bytesOf("RSDS-in-the-overlay-record");
    pb::BuiltImage built = pb::buildImageWithLayout(plan);
    PeFields fields(built.bytes);
    const pb::SectionLayout& table = built.sections[1];
    const pb::SectionLayout& reloc = built.sections.back();
    ASSERT_EQ(table.name, ".rdata");
    ASSERT_EQ(reloc.name, ".reloc");
    putU32At(built.bytes, fields.lfanew + 24 + 96 + 8 * 6, table.virtualAddress);
    putU32At(built.bytes, fields.lfanew + 24 + 100 + 8 * 6, 2 * 28);
    const std::uint32_t targets[] = {built.overlayOffset, reloc.rawOffset + 4};
    for (std::size_t k = 0; k < 2; ++k) {
        const std::size_t entry = table.rawOffset + 28 * k;
        putU32At(built.bytes, entry + 12, 2);  // CodeView
        putU32At(built.bytes, entry + 16, 8);  // size of the data
        putU32At(built.bytes, entry + 24, targets[k]);
    }
    resetChecksum(built.bytes);

    WorkingFolder work(built.bytes);
    overwrite(fileHolding(work, pb::bytesOf("seven")), std::string(5000, 'x'));
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    const std::vector<std::byte> rebuilt = readBytes(work.output());
    ASSERT_GT(rebuilt.size(), built.bytes.size());
    PeFields out(rebuilt);
    ASSERT_EQ(out.rawPointer(1), table.rawOffset);
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        const std::uint32_t moved = u32At(rebuilt, table.rawOffset + 28 * k + 24);
        EXPECT_NE(moved, targets[k]);
        ASSERT_LE(std::size_t{moved} + 8, rebuilt.size());
        EXPECT_TRUE(std::equal(rebuilt.begin() + moved, rebuilt.begin() + moved + 8,
                               built.bytes.begin() + targets[k]));
    }
    EXPECT_EQ(u32At(rebuilt, out.lfanew + nt_field::kCheckSum),
              pb::peChecksum(rebuilt, out.lfanew + nt_field::kCheckSum));
}

// A debug directory entry deep in a section file that is read in parts: its file offset field
// lies across the boundary of two parts (at 256 KiB), and both halves get the moved offset.
TEST(MovedData, AnOffsetAcrossTwoPartsOfASectionFileIsMovedWhole) {
    CompileSink sink;
    constexpr std::uint32_t kPart = 256 * 1024;
    constexpr std::uint32_t kEntryAt = kPart - 24 - 2;  // the field spans kPart - 2 .. kPart + 1
    pb::ImagePlan plan;
    plan.resources = {{pb::kRtRcData, 7, pb::kLangEnUs, pb::bytesOf("seven")}};
    pb::SectionPlan rdata;
    rdata.name = ".rdata";
    rdata.data.resize(kPart + 0x100);
    plan.sectionsBeforeResources.push_back(rdata);
    plan.overlay = pb::bytesOf("RSDS-in-the-overlay-record");
    pb::BuiltImage built = pb::buildImageWithLayout(plan);
    PeFields fields(built.bytes);
    const pb::SectionLayout& table = built.sections[1];
    ASSERT_EQ(table.name, ".rdata");
    putU32At(built.bytes, fields.lfanew + 24 + 96 + 8 * 6, table.virtualAddress + kEntryAt);
    putU32At(built.bytes, fields.lfanew + 24 + 100 + 8 * 6, 28);
    const std::size_t entry = table.rawOffset + kEntryAt;
    putU32At(built.bytes, entry + 12, 2);  // CodeView
    putU32At(built.bytes, entry + 16, 8);
    putU32At(built.bytes, entry + 24, built.overlayOffset);
    resetChecksum(built.bytes);

    WorkingFolder work(built.bytes);
    overwrite(fileHolding(work, pb::bytesOf("seven")), std::string(5000, 'x'));
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    const std::vector<std::byte> rebuilt = readBytes(work.output());
    PeFields out(rebuilt);
    const std::uint32_t moved = u32At(rebuilt, out.rawPointer(1) + kEntryAt + 24);
    EXPECT_NE(moved, built.overlayOffset);
    ASSERT_LE(std::size_t{moved} + 8, rebuilt.size());
    EXPECT_TRUE(std::equal(rebuilt.begin() + moved, rebuilt.begin() + moved + 8,
                           built.bytes.begin() + built.overlayOffset));
    EXPECT_EQ(u32At(rebuilt, out.lfanew + nt_field::kCheckSum),
              pb::peChecksum(rebuilt, out.lfanew + nt_field::kCheckSum));
}

// The last section's SizeOfRawData is not a multiple of the file alignment and the file ends
// there (or an overlay follows right there): a compile that changes nothing gives the very same
// file, with and without a resource section.
TEST(MovedData, UnalignedLastSectionAtTheEndIsNotPadded) {
    for (bool withResources : {false, true}) {
        for (bool withOverlay : {false, true}) {
            SCOPED_TRACE(std::string(withResources ? "resources" : "none") + (withOverlay ? " overlay" : ""));
            CompileSink sink;
            pb::ImagePlan plan;
            plan.withResourceSection = withResources;
            if (withResources) plan.resources = {{pb::kRtRcData, 7, pb::kLangEnUs, pb::bytesOf("seven")}};
            pb::BuiltImage built = pb::buildImageWithLayout(plan);
            PeFields fields(built.bytes);
            const std::size_t last = built.sections.size() - 1;
            const std::uint32_t rawSize = built.sections[last].rawSize - 0x1E;
            putU32At(built.bytes, fields.sectionHeader(last) + section_field::kSizeOfRawData, rawSize);
            built.bytes.resize(built.sections[last].rawOffset + rawSize);
            if (withOverlay) {
                const pb::ByteVector overlay = pb::bytesOf("trailing data");
                built.bytes.insert(built.bytes.end(), overlay.begin(), overlay.end());
            }
            resetChecksum(built.bytes);
            WorkingFolder work(built.bytes);
            ASSERT_TRUE(work.compile().succeeded()) << errorText();
            std::vector<std::byte> rebuilt = readBytes(work.output());
            ASSERT_EQ(rebuilt.size(), built.bytes.size());
            if (withResources) {
                // Our resource section is laid out as we lay it out, with the checksum over it;
                // everything else is the original's.
                EXPECT_EQ(resourcesOf(rebuilt), resourcesOf(built.bytes));
                const pb::SectionLayout& rsrc = built.sections[1];
                ASSERT_EQ(rsrc.name, ".rsrc");
                std::copy_n(built.bytes.begin() + rsrc.rawOffset, rsrc.rawSize,
                            rebuilt.begin() + rsrc.rawOffset);
                PeFields fields(built.bytes);
                for (std::size_t field : {fields.sectionHeader(1) + section_field::kVirtualSize,
                                          fields.lfanew + 24 + 100 + 8 * kDirectoryResource})
                    putU32At(rebuilt, field, u32At(built.bytes, field));
                resetChecksum(rebuilt);
            }
            EXPECT_TRUE(rebuilt == built.bytes);
        }
    }
}

}  // namespace
}  // namespace kestrel::testing
