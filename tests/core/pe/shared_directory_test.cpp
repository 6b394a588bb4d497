// A resource tree in which two entries lead to the same directory, without forming a loop. The walk
// would describe (and write) that directory's resources twice under different keys; the import
// refuses the tree as malformed instead, before it writes a description or a project file.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/pe/decompile_file.h"
#include "core/pe/resource_reader.h"
#include "import_test_support.h"

namespace kestrel::testing {
namespace {

void writeU32(pb::ByteVector& bytes, std::uint32_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
}

// Offset of the offset field of entry `index` in the directory at `directory`.
std::uint32_t targetField(std::uint32_t directory, std::size_t index) {
    return directory + kResourceDirectoryHeaderSize + static_cast<std::uint32_t>(index) * kResourceEntrySize +
           4;
}

struct SharedLevel {
    const char* what;
    // Makes the second entry of one level lead where the first one leads.
    void (*share)(pb::ByteVector& section, const ResourceReader& reader);
};

class ImportRefusesSharedDirectory : public ::testing::TestWithParam<SharedLevel> {};

TEST_P(ImportRefusesSharedDirectory, AndLeavesThePeFileAndFolderWithoutADescription) {
    // Two types with one name each, and one type with two names: every level has a second entry.
    pb::ImagePlan plan;
    plan.resources = {{pb::kRtRcData, 1, pb::kLangEnUs, pb::bytesOf("first")},
                      {pb::kRtRcData, 2, pb::kLangEnUs, pb::bytesOf("second")},
                      {pb::kRtHtml, 1, pb::kLangEnUs, pb::bytesOf("<p>third</p>")}};
    pb::BuiltImage built = pb::buildImageWithLayout(plan);

    // The intact image imports: what follows is refused for the shared directory alone.
    TempDir intact;
    const auto intactFile = intact.write("intact.dll", built.bytes);
    std::filesystem::path project;
    ASSERT_EQ(DecompileFile(intactFile, intact.path(), project), kOk) << reportText();

    const auto rsrc = std::find_if(built.sections.begin(), built.sections.end(),
                                   [](const pb::SectionLayout& section) { return section.name == ".rsrc"; });
    ASSERT_NE(rsrc, built.sections.end());
    pb::ByteVector section(built.bytes.begin() + rsrc->rawOffset,
                           built.bytes.begin() + rsrc->rawOffset + rsrc->rawSize);
    GetParam().share(section, ResourceReader(Bytes(section.data(), section.size()), rsrc->virtualAddress));
    std::copy(section.begin(), section.end(), built.bytes.begin() + rsrc->rawOffset);

    // Imported into the folder it lies in, as the command line may be asked to.
    TempDir dir;
    const auto peFile = dir.write("shared.dll", built.bytes);
    ClearErrorRecord();
    EXPECT_EQ(DecompileFile(peFile, dir.path(), project), kFail);
    EXPECT_NE(reportText().find("Failed in DumpResourceDirectory"), std::string::npos) << reportText();
    EXPECT_EQ(readBytes(peFile), built.bytes);
    EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
    EXPECT_FALSE(std::filesystem::exists(dir / "shared.kestrel"));
    ClearErrorRecord();
}

INSTANTIATE_TEST_SUITE_P(Levels, ImportRefusesSharedDirectory,
                         ::testing::Values(
                             // The second type's entry leads to the first type's name directory.
                             SharedLevel{"TwoTypesOneNameDirectory",
                                         [](pb::ByteVector& s, const ResourceReader& r) {
                                             const auto root = r.directory(0);
                                             ASSERT_EQ(root->entries.size(), 2u);
                                             writeU32(s, targetField(0, 1), root->entries[0].offsetField);
                                         }},
                             // The second name's entry leads to the first name's language directory.
                             SharedLevel{"TwoNamesOneLanguageDirectory",
                                         [](pb::ByteVector& s, const ResourceReader& r) {
                                             const std::uint32_t names =
                                                 r.directory(0)->entries.at(0).target();
                                             const auto directory = r.directory(names);
                                             ASSERT_EQ(directory->entries.size(), 2u);
                                             writeU32(s, targetField(names, 1),
                                                      directory->entries[0].offsetField);
                                         }}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace kestrel::testing
