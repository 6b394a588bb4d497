// The header half of the import: DOSHEADER.BIN, NTHEADER.BIN, section files, the overlay, and the
// refusal of images that are not valid PE32 files.
#include <gtest/gtest.h>

#include "core/pe/section_names.h"
#include "import_test_support.h"

namespace kestrel::testing {
namespace {

std::vector<std::byte> slice(const pb::ByteVector& bytes, std::size_t offset, std::size_t count) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset + count)};
}

pb::ImagePlan smallPlan() {
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, 1, pb::kLangEnUs, pb::bytesOf("payload")});
    return plan;
}

TEST(DumpHeaders, WritesHeadersAndEverySectionButTheResources) {
    pb::ImagePlan plan = smallPlan();
    pb::SectionPlan data;
    data.name = ".data";
    data.data = pb::bytesOf("data section");
    plan.sectionsBeforeResources.push_back(data);
    pb::SectionPlan bss;
    bss.name = ".bss";
    bss.noRawData = true;
    bss.virtualSize = 0x100;
    plan.sectionsAfterResources.push_back(bss);
    pb::BuiltImage built = pb::buildImageWithLayout(plan);

    TempDir dir;
    ASSERT_EQ(dumpInto(built.bytes, dir.path()), kOk) << reportText();
    EXPECT_EQ(readBytes(dir / "DOSHEADER.BIN"), slice(built.bytes, 0, built.peHeaderOffset));
    std::uint32_t sizeOfHeaders = built.sections.front().rawOffset;  // the first raw data follows the headers
    EXPECT_EQ(readBytes(dir / "NTHEADER.BIN"),
              slice(built.bytes, built.peHeaderOffset, sizeOfHeaders - built.peHeaderOffset));
    for (const auto& section : built.sections) {
        std::string file = section.name.substr(1) + ".BIN";
        if (section.name == ".rsrc") {
            EXPECT_FALSE(std::filesystem::exists(dir / file));
            continue;
        }
        ASSERT_TRUE(std::filesystem::exists(dir / file)) << file;
        EXPECT_EQ(readBytes(dir / file), slice(built.bytes, section.rawOffset, section.rawSize)) << file;
    }
    EXPECT_EQ(std::filesystem::file_size(dir / "bss.BIN"), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir / "PEOVERLAY.BIN"));
}

struct BrokenImageCase {
    const char* what;
    pb::ImageFault fault;
    bool dosHeaderWritten;
};

class DumpRefusesBrokenImage : public ::testing::TestWithParam<BrokenImageCase> {};

TEST_P(DumpRefusesBrokenImage, WithTheInvalidExeMessageAndNoDescription) {
    pb::ImagePlan plan = smallPlan();
    plan.fault = GetParam().fault;
    TempDir dir;
    EXPECT_EQ(dumpInto(pb::buildImage(plan), dir.path()), kFail);
    EXPECT_NE(reportText().find("无法导入这个 PE 文件"), std::string::npos);
    EXPECT_EQ(std::filesystem::exists(dir / "DOSHEADER.BIN"), GetParam().dosHeaderWritten);
    EXPECT_FALSE(std::filesystem::exists(dir / "NTHEADER.BIN"));
    EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DumpRefusesBrokenImage,
    ::testing::Values(BrokenImageCase{"LfanewPastEnd", pb::ImageFault::kLfanewPastEnd, false},
                      BrokenImageCase{"SizeOfHeadersTooSmall", pb::ImageFault::kSizeOfHeadersTooSmall, true},
                      BrokenImageCase{"RawDataPastEnd", pb::ImageFault::kRawDataPastEnd, true},
                      BrokenImageCase{"RomImage", pb::ImageFault::kRomMagic, true}),
    [](const auto& info) { return std::string(info.param.what); });

// Byte patches on a valid image that each make it invalid.
struct PatchCase {
    const char* what;
    std::uint32_t offsetFromNtHeaders;  // UINT32_MAX: e_lfanew itself
    std::uint32_t value;
    int width;
};

class DumpRefusesPatchedHeader : public ::testing::TestWithParam<PatchCase> {};

TEST_P(DumpRefusesPatchedHeader, WithoutCrashOrOutput) {
    pb::BuiltImage built = pb::buildImageWithLayout(smallPlan());
    const PatchCase& patch = GetParam();
    std::size_t at =
        patch.offsetFromNtHeaders == UINT32_MAX ? 0x3C : built.peHeaderOffset + patch.offsetFromNtHeaders;
    for (int i = 0; i < patch.width; ++i)
        built.bytes[at + i] = static_cast<std::byte>((patch.value >> (8 * i)) & 0xFF);
    TempDir dir;
    EXPECT_EQ(dumpInto(built.bytes, dir.path()), kFail);
    EXPECT_FALSE(std::filesystem::exists(dir / "NTHEADER.BIN"));
    EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
}

INSTANTIATE_TEST_SUITE_P(Patches, DumpRefusesPatchedHeader,
                         ::testing::Values(PatchCase{"BadSignature", 0, 0x00004551, 4},
                                           PatchCase{"NegativeLfanew", UINT32_MAX, 0x80000000u, 4},
                                           PatchCase{"ZeroLfanew", UINT32_MAX, 0, 4},
                                           // An optional header too small for its data directories.
                                           PatchCase{"OptionalHeaderTooSmall", 20, 100, 2},
                                           PatchCase{"SectionCountPastHeaders", 6, 0xFFFF, 2},
                                           PatchCase{"SizeOfHeadersPastEnd", 84, 0x7FFFFFF0u, 4}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(DumpHeaders, BadSignatureStillLeavesTheDosHeader) {
    pb::BuiltImage built = pb::buildImageWithLayout(smallPlan());
    built.bytes[built.peHeaderOffset] = std::byte{'X'};
    TempDir dir;
    EXPECT_EQ(dumpInto(built.bytes, dir.path()), kFail);
    EXPECT_EQ(readBytes(dir / "DOSHEADER.BIN"), slice(built.bytes, 0, built.peHeaderOffset));
}

TEST(DumpHeaders, TinyFilesAreRefused) {
    for (std::size_t size : {2u, 0x3Cu, 0x40u, 0x100u}) {
        pb::ByteVector bytes(size);
        bytes[0] = std::byte{'M'};
        bytes[1] = std::byte{'Z'};
        if (size >= 0x40) bytes[0x3C] = std::byte{0x40};
        TempDir dir;
        EXPECT_EQ(dumpInto(bytes, dir.path()), kFail) << size;
        EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
    }
}

TEST(DumpHeaders, ImageWithoutResourcesImportsWithAnEmptyDescription) {
    pb::ImagePlan plan;
    plan.withResourceSection = false;
    TempDir dir;
    EXPECT_EQ(dumpInto(pb::buildImage(plan), dir.path()), kOk);
    EXPECT_TRUE(std::filesystem::exists(dir / "NTHEADER.BIN"));
    EXPECT_TRUE(std::filesystem::exists(dir / "text.BIN"));
    EXPECT_EQ(readText(dir / "pe.xml"),
              "<Directory Type='0' Named_Entries='0' ID_Entries='0'>\r\n</Directory>\r\n\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "STRINGS.XML"));
}

TEST(DumpHeaders, TwoResourceSectionsAreRefused) {
    pb::ImagePlan plan = smallPlan();
    pb::SectionPlan second;
    second.name = ".RSRC";
    second.data = pb::bytesOf("not the resources");
    plan.sectionsAfterResources.push_back(second);
    TempDir dir;
    EXPECT_EQ(dumpInto(pb::buildImage(plan), dir.path()), kFail);
    EXPECT_NE(reportText().find("这个文件有多个资源部分。"), std::string::npos) << reportText();
    EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
}

// ----- Section file names -----

struct SectionNameCase {
    const char* what;
    std::vector<std::string> names;
    std::vector<std::string> files;
};

SectionNameBytes nameBytes(const std::string& name) {
    SectionNameBytes bytes{};
    for (std::size_t i = 0; i < name.size() && i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(name[i]);
    return bytes;
}

class SectionFileNames : public ::testing::TestWithParam<SectionNameCase> {};

TEST_P(SectionFileNames, AreSafeAndUnique) {
    std::vector<SectionNameBytes> names;
    for (const auto& name : GetParam().names)
        names.push_back(nameBytes(name));
    EXPECT_EQ(sectionFileNames(names), GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SectionFileNames,
    ::testing::Values(
        SectionNameCase{"Ordinary", {".text", ".data", ".reloc"}, {"text.BIN", "data.BIN", "reloc.BIN"}},
        SectionNameCase{"EightCharacters", {"ABCDEFGH"}, {"ABCDEFGH.BIN"}},
        SectionNameCase{"TwoDotsLoseOne", {"..abc"}, {".abc.BIN"}},
        SectionNameCase{"LongNameReferences", {"/4", "/19"}, {"4.BIN", "19.BIN"}},
        SectionNameCase{"Traversal", {".\\..\\..\\"}, {"..%5C..%5C.BIN"}},
        SectionNameCase{"ForbiddenCharacters", {"a:b*\x01"}, {"a%3Ab%2A%01.BIN"}},
        SectionNameCase{"Duplicates", {".text", ".text", ".TEXT"}, {"text.BIN", "text~2.BIN", "TEXT~3.BIN"}},
        SectionNameCase{"Empty", {"", ""}, {".BIN", "~2.BIN"}},
        SectionNameCase{"FixedFileName", {"NTHEADER", "dosheade"}, {"NTHEADER~2.BIN", "dosheade.BIN"}},
        SectionNameCase{"ResourcesAreSkipped", {".rsrc", ".RSRC"}, {"", ""}},
        SectionNameCase{"NotUtf8", {"\xFF\x41"}, {"%FFA.BIN"}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(DumpHeaders, OddSectionNamesStayInsideTheFolderAndApart) {
    pb::ImagePlan plan = smallPlan();
    for (const char* name : {".text", "/4", ".\\..\\..\\", "../x"}) {
        pb::SectionPlan section;
        section.name = name;
        section.data = pb::bytesOf(std::string("section ") + name);
        plan.sectionsAfterResources.push_back(section);
    }
    pb::BuiltImage built = pb::buildImageWithLayout(plan);
    TempDir outer;
    std::filesystem::path folder = outer / "work";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(dumpInto(built.bytes, folder), kOk) << reportText();

    std::vector<SectionNameBytes> names;
    for (const auto& section : built.sections)
        names.push_back(nameBytes(section.name));
    std::vector<std::string> files = sectionFileNames(names);
    for (std::size_t i = 0; i < built.sections.size(); ++i) {
        if (files[i].empty()) continue;
        EXPECT_EQ(readBytes(folder / files[i]),
                  slice(built.bytes, built.sections[i].rawOffset, built.sections[i].rawSize))
            << files[i];
    }
    std::size_t outside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(outer.path())) {
        (void)entry;
        ++outside;
    }
    EXPECT_EQ(outside, 1u);  // only the working folder
}

// ----- Overlay -----

TEST(DumpHeaders, OverlayAndSymbolTableGoToTheOverlayFile) {
    pb::ImagePlan plan = smallPlan();
    plan.symbolCount = 5;
    plan.overlay = pb::bytesOf("appended installer payload");
    pb::BuiltImage built = pb::buildImageWithLayout(plan);
    ASSERT_NE(built.symbolTableOffset, 0u);
    TempDir dir;
    ASSERT_EQ(dumpInto(built.bytes, dir.path()), kOk) << reportText();
    EXPECT_EQ(readBytes(dir / "PEOVERLAY.BIN"), tail(built.bytes, built.symbolTableOffset));
}

TEST(DumpHeaders, ImportWithoutOverlayRemovesAStaleOverlayFile) {
    TempDir dir;
    pb::ImagePlan withOverlay = smallPlan();
    withOverlay.overlay = pb::bytesOf("tail");
    ASSERT_EQ(dumpInto(pb::buildImage(withOverlay), dir.path()), kOk);
    ASSERT_TRUE(std::filesystem::exists(dir / "PEOVERLAY.BIN"));
    ASSERT_EQ(dumpInto(pb::buildImage(smallPlan()), dir.path()), kOk);
    EXPECT_FALSE(std::filesystem::exists(dir / "PEOVERLAY.BIN"));
}

TEST(DumpHeaders, TruncatedLastSectionIsPaddedWithZeros) {
    pb::BuiltImage built = pb::buildImageWithLayout(smallPlan());
    const pb::SectionLayout& last = built.sections.back();
    ASSERT_EQ(std::uint64_t{last.rawOffset} + last.rawSize, built.bytes.size());
    pb::ByteVector cut(built.bytes.begin(), built.bytes.end() - 0x20);
    TempDir dir;
    ASSERT_EQ(dumpInto(cut, dir.path()), kOk) << reportText();
    std::vector<std::byte> expected = slice(built.bytes, last.rawOffset, last.rawSize - 0x20);
    expected.resize(last.rawSize, std::byte{0});
    EXPECT_EQ(readBytes(dir / (last.name.substr(1) + ".BIN")), expected);
}

TEST(DumpHeaders, RawDataFarPastTheEndIsRefused) {
    pb::BuiltImage built = pb::buildImageWithLayout(smallPlan());
    // SizeOfRawData of the last section becomes 256 MiB: no multi-megabyte file of zeros.
    std::size_t header = built.peHeaderOffset + 248 + 40 * (built.sections.size() - 1) + 16;
    built.bytes[header + 3] = std::byte{0x10};
    TempDir dir;
    EXPECT_EQ(dumpInto(built.bytes, dir.path()), kFail);
}

TEST(DumpHeaders, ReimportGivesTheSameFolder) {
    pb::ByteVector image = pb::buildSampleImage();
    TempDir dir;
    ASSERT_EQ(dumpInto(image, dir.path()), kOk) << reportText();
    std::string first = readText(dir / "pe.xml");
    std::string strings = readText(dir / "STRINGS.XML");
    ASSERT_EQ(dumpInto(image, dir.path()), kOk) << reportText();
    EXPECT_EQ(readText(dir / "pe.xml"), first);
    EXPECT_EQ(readText(dir / "STRINGS.XML"), strings);
}

}  // namespace
}  // namespace kestrel::testing
