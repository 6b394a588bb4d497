// A one-shot edit decodes only the resource section and copies everything else from the file it
// read; the whole import and compile is the reference it must match byte for byte, over layouts
// whose data moves, grows, is appended or is cut short.
#include <gtest/gtest.h>

#include "compile_test_support.h"
#include "core/pe/one_shot_edit.h"
#include "core/pe/pe_layout.h"

namespace kestrel::testing {
namespace {

void resetChecksum(std::vector<std::byte>& image) {
    PeFields fields(image);
    const std::size_t at = fields.lfanew + nt_field::kCheckSum;
    putU32At(image, at, pb::peChecksum(image, at));
}

pb::ImagePlan brandedProgram() {
    pb::ImagePlan plan;
    plan.characteristics = 0x0102;
    plan.resources.push_back(
        {pb::kRtVersion, 1, pb::kLangEnUs, pb::makeVersionInfo(pb::defaultVersionPlan())});
    plan.resources.push_back({pb::kRtManifest, 1, pb::kLangEnUs, pb::makeManifest()});
    pb::addIconGroup(plan.resources, 1, pb::kLangEnUs, 1,
                     {pb::makeIconImage(16, 8), pb::makeIconImage(32, 32)});
    pb::addStrings(plan.resources, pb::kLangEnUs, {{1, u"first"}, {17, u"seventeenth"}});
    return plan;
}

// The data a debug directory entry in .rdata points at lies in the overlay and in .reloc, both of
// which move when the resource section grows.
std::vector<std::byte> withDebugDirectory() {
    pb::ImagePlan plan = brandedProgram();
    pb::SectionPlan rdata;
    rdata.name = ".rdata";
    rdata.data.resize(2 * 28);
    plan.sectionsBeforeResources.push_back(rdata);
    plan.overlay = pb::bytesOf("RSDS-in-the-overlay-record");
    pb::BuiltImage built = pb::buildImageWithLayout(plan);
    PeFields fields(built.bytes);
    const pb::SectionLayout& table = built.sections[1];
    putU32At(built.bytes, fields.lfanew + 24 + 96 + 8 * 6, table.virtualAddress);
    putU32At(built.bytes, fields.lfanew + 24 + 100 + 8 * 6, 2 * 28);
    const std::uint32_t targets[] = {built.overlayOffset, built.sections.back().rawOffset + 4};
    for (std::size_t k = 0; k < 2; ++k) {
        const std::size_t entry = table.rawOffset + 28 * k;
        putU32At(built.bytes, entry + 12, 2);
        putU32At(built.bytes, entry + 16, 8);
        putU32At(built.bytes, entry + 24, targets[k]);
    }
    resetChecksum(built.bytes);
    return built.bytes;
}

// The last section's raw data is cut short by the end of the file.
std::vector<std::byte> withTruncatedLastSection() {
    pb::BuiltImage built = pb::buildImageWithLayout(brandedProgram());
    built.bytes.resize(built.sections.back().rawOffset + 0x20);
    return built.bytes;
}

// Resources the import stores in other shapes than their bytes: bitmaps (the whole import keeps
// 32-bit ones as PNG), a cursor, a named resource; the main icon group in a second
// language, and a second group sharing a member of the main one, which must stay when the main
// group takes new images.
pb::ImagePlan manyKinds() {
    pb::ImagePlan plan = brandedProgram();
    std::uint16_t id = 1;
    for (const pb::DibPlan& dib : std::initializer_list<pb::DibPlan>{{.bitCount = 32},
                                                                     {.bitCount = 32, .bitfields = true},

                                                                     {.bitCount = 24, .topDown = true},
                                                                     {.bitCount = 8}})
        plan.resources.push_back({pb::kRtBitmap, id++, pb::kLangEnUs, pb::makeDib(dib)});
    pb::addCursorGroup(plan.resources, 1, pb::kLangEnUs, 20, {pb::makeCursorImage(32, 32, 3, 4)});
    plan.resources.push_back({pb::kRtRcData, u"CONFIG", pb::kLangEnUs, pb::bytesOf("named")});
    pb::addIconGroup(plan.resources, 1, pb::kLangDeDe, 30, {pb::makeIconImage(16, 8, 9)});
    // Member 2 of the main group.
    plan.resources.push_back(
        {pb::kRtGroupIcon, 2, pb::kLangEnUs, pb::makeIconGroup({{pb::makeIconImage(32, 32), 2}})});
    return plan;
}

struct Layout {
    const char* label;
    std::vector<std::byte> image;
};

std::vector<Layout> layouts() {
    std::vector<Layout> out;
    out.push_back({"resources", pb::buildImage(brandedProgram())});
    pb::ImagePlan big = brandedProgram();
    pb::SectionPlan after;
    after.name = ".debug";
    after.data = pb::ByteVector(0x900, std::byte{0x5A});
    after.characteristics |= 0x02000000;  // discardable: it may move in memory
    big.sectionsAfterResources.push_back(after);
    big.symbolCount = 3;
    big.overlay = pb::ByteVector(0x12345, std::byte{0xA5});
    big.certificateInOverlay = true;
    out.push_back({"sections after the resources, symbols, certificate and overlay", pb::buildImage(big)});
    pb::ImagePlan bare;
    bare.withResourceSection = false;
    bare.overlay = pb::bytesOf("appended");
    out.push_back({"no resource section", pb::buildImage(bare)});
    pb::ImagePlan unsummed = brandedProgram();
    unsummed.writeChecksum = false;
    unsummed.pe32Plus = true;
    out.push_back({"PE32+ without a checksum", pb::buildImage(unsummed)});
    out.push_back({"debug directory", withDebugDirectory()});
    out.push_back({"truncated last section", withTruncatedLastSection()});
    out.push_back({"bitmaps, cursor, named resource, shared member", pb::buildImage(manyKinds())});
    return out;
}

TEST(OneShotEdit, DecodingOnlyTheResourcesGivesTheFileOfTheWholeImport) {
    CompileSink sink;
    TempDir temp;
    ResourceEdits edits;
    // Larger than the old group, so that the resource section grows and what follows it moves.
    edits.iconFile =
        temp.write("app.ico", pb::makeIcoFile({pb::makeIconImage(48, 32, 1), pb::makePngIconImage(64, 2),
                                               pb::makeIconImage(16, 8, 3)}));
    edits.fileVersion = VersionEdit{{1, 2, 3, 4}, "1.2.3.4"};
    edits.productVersion = VersionEdit{{5, 6, 7, 0}, "5.6.7"};
    edits.versionStrings = {{u"CompanyName", u"Kestrel"}, {u"Comments", u"new"}};
    edits.strings = {{1, u"one"}, {40, u"forty"}, {17, u""}};
    edits.executionLevel = "requireAdministrator";
    edits.rcData = {{7, temp.write("seven.bin", std::string(3000, '7'))}};

    for (const Layout& layout : layouts()) {
        SCOPED_TRACE(layout.label);
        const std::filesystem::path file = temp.write("in/file.exe", layout.image);
        const std::filesystem::path fast = temp / "fast.exe";
        const std::filesystem::path whole = temp / "whole.exe";
        ASSERT_TRUE(EditResources(file, whole, edits, EditRoute::kWholeImport).succeeded()) << errorText();
        ASSERT_TRUE(EditResources(file, fast, edits, EditRoute::kResourcesOnly).succeeded()) << errorText();
        const std::vector<std::byte> expected = readBytes(whole);
        EXPECT_TRUE(readBytes(fast) == expected);
        EXPECT_NE(resourcesOf(expected), resourcesOf(layout.image));
        // The same from the bytes a caller has read whole.
        ASSERT_TRUE(EditResources(file, asBytes(layout.image), fast, edits).succeeded()) << errorText();
        EXPECT_TRUE(readBytes(fast) == expected);
        // Edited in place: the file it reads is the one it replaces.
        ASSERT_TRUE(EditResources(file, {}, edits).succeeded()) << errorText();
        EXPECT_TRUE(readBytes(file) == expected);
    }
}

// A 32-bit bitmap with a header the PNG form does not keep (a V5 header, a top-down one) comes
// out of an edit with its bytes, as every resource the edit does not change.
TEST(OneShotEdit, UneditedBitmapsKeepTheirBytes) {
    CompileSink sink;
    TempDir temp;
    pb::ImagePlan plan = brandedProgram();
    std::uint16_t id = 1;
    for (const pb::DibPlan& dib : std::initializer_list<pb::DibPlan>{{.bitCount = 32, .v5Header = true},
                                                                     {.bitCount = 32, .topDown = true},
                                                                     {.bitCount = 32, .seed = 5}})
        plan.resources.push_back({pb::kRtBitmap, id++, pb::kLangEnUs, pb::makeDib(dib)});
    const std::vector<std::byte> image = pb::buildImage(plan);
    const std::filesystem::path file = temp.write("file.exe", image);
    ResourceEdits edits;
    edits.fileVersion = VersionEdit{{1, 2, 3, 4}, "1.2.3.4"};
    ASSERT_TRUE(EditResources(file, temp / "out.exe", edits).succeeded()) << errorText();
    const auto before = resourcesOf(image);
    const auto after = resourcesOf(readBytes(temp / "out.exe"));
    for (std::uint16_t bitmap = 1; bitmap < id; ++bitmap) {
        SCOPED_TRACE(bitmap);
        const std::string key = "i:2/i:" + std::to_string(bitmap) + "/" + std::to_string(pb::kLangEnUs);
        ASSERT_TRUE(before.count(key) && after.count(key));
        EXPECT_TRUE(after.at(key) == before.at(key));
    }
}

// A file the import refuses, or whose edit cannot be compiled, fails alike on both routes and
// leaves the original as it was.
TEST(OneShotEdit, FailuresOfBothRoutesAgreeAndTouchNothing) {
    CompileSink sink;
    TempDir temp;
    ResourceEdits edits;
    edits.rcData = {{7, temp.write("big.bin", std::string(0x3000, 'x'))}};
    pb::ImagePlan fixedMemory = brandedProgram();
    pb::SectionPlan after;
    after.name = ".data";
    after.data = pb::bytesOf("data that code points at");
    fixedMemory.sectionsAfterResources.push_back(after);
    pb::ImagePlan damaged = brandedProgram();
    damaged.fault = pb::ImageFault::kRawDataPastEnd;
    const std::vector<std::byte> notPe = pb::bytesOf("MZ but nothing more");
    for (const std::vector<std::byte>& image :
         {pb::buildImage(fixedMemory), pb::buildImage(damaged), notPe}) {
        const std::filesystem::path file = temp.write("in/file.exe", image);
        for (EditRoute route : {EditRoute::kWholeImport, EditRoute::kResourcesOnly}) {
            SCOPED_TRACE(route == EditRoute::kWholeImport ? "whole import" : "resources only");
            EXPECT_TRUE(EditResources(file, {}, edits, route).failed());
            EXPECT_TRUE(readBytes(file) == image);
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()),
                                    std::filesystem::directory_iterator()),
                      1);
        }
    }
}

}  // namespace
}  // namespace kestrel::testing
