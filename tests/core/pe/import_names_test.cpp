#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/pe/import_names.h"
#include "pe_builder/pe_builder.h"

namespace kestrel {
namespace {

using pebuilder::ByteVector;

void put32(ByteVector& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
}

// An image with an .idata section after the resources whose import table names `libraries`;
// `nameRvaShift` moves every name's address (to point it outside the image). Without `terminate`
// the section is filled with entries that all name the first library and no closing zero entry,
// so that the table runs into the end of the file.
ByteVector imageImporting(const std::vector<std::string>& libraries, bool pe32Plus,
                          std::uint32_t nameRvaShift = 0, bool terminate = true) {
    constexpr std::size_t kSectionSize = 0x200;
    pebuilder::ImagePlan plan;
    plan.pe32Plus = pe32Plus;
    plan.withRelocations = false;
    plan.sectionsAfterResources.push_back(
        {".idata", ByteVector(kSectionSize), 0, pebuilder::kSectionInitializedData});
    const std::uint32_t rva = pebuilder::buildImageWithLayout(plan).sections.back().virtualAddress;

    ByteVector& data = plan.sectionsAfterResources.back().data;
    const std::size_t entries = terminate ? libraries.size() : kSectionSize / 20;
    // The names follow the table (and its closing entry).
    std::size_t nameAt = terminate ? (entries + 1) * 20 : entries * 20;
    std::vector<std::uint32_t> nameRvas;
    for (const std::string& library : libraries) {
        nameRvas.push_back(rva + static_cast<std::uint32_t>(nameAt) + nameRvaShift);
        for (char c : library)
            data[nameAt++] = static_cast<std::byte>(c);
        data[nameAt++] = std::byte{0};
    }
    for (std::size_t i = 0; i < entries; ++i) {
        put32(data, i * 20, rva);  // import lookup table (not read)
        put32(data, i * 20 + 12, nameRvas[terminate ? i : 0]);
        put32(data, i * 20 + 16, rva);
    }
    pebuilder::BuiltImage built = pebuilder::buildImageWithLayout(plan);
    // Directory 1 (imports) of the optional header: 96 (PE32) or 112 (PE32+) bytes in.
    const std::size_t directory = built.peHeaderOffset + 24 + (pe32Plus ? 112 : 96) + 8;
    put32(built.bytes, directory, rva);
    put32(built.bytes, directory + 4, static_cast<std::uint32_t>((entries + 1) * 20));
    return built.bytes;
}

std::vector<std::string> importsOf(const ByteVector& image, HResult& hr) {
    std::vector<std::string> names;
    hr = readImportedLibraries(Bytes(image.data(), image.size()), names);
    return names;
}

TEST(ImportedLibraries, ListsTheNamesInTableOrderForBothImageKinds) {
    const std::vector<std::string> libraries{"KERNEL32.dll", "zlib1.dll", "msvcrt.dll"};
    for (bool pe32Plus : {false, true}) {
        HResult hr;
        EXPECT_EQ(importsOf(imageImporting(libraries, pe32Plus), hr), libraries) << pe32Plus;
        EXPECT_EQ(hr, kOk);
    }
    // An image without an import directory imports nothing.
    HResult hr;
    EXPECT_TRUE(importsOf(pebuilder::buildSampleImage(), hr).empty());
    EXPECT_EQ(hr, kOk);
}

TEST(ImportedLibraries, RefusesDamagedTablesInsteadOfGuessing) {
    HResult hr;
    // A name outside every section.
    EXPECT_TRUE(importsOf(imageImporting({"KERNEL32.dll"}, false, 0x100000), hr).empty());
    EXPECT_EQ(hr, kFail);
    // A table without its closing zero entry runs off the end of the file.
    importsOf(imageImporting({"k.dll"}, true, 0, false), hr);
    EXPECT_EQ(hr, kFail);
    // Not a PE image at all, and an image cut short inside its headers.
    importsOf(pebuilder::bytesOf("MZ not an image"), hr);
    EXPECT_EQ(hr, kFail);
    ByteVector cut = imageImporting({"KERNEL32.dll"}, false);
    cut.resize(0x100);
    importsOf(cut, hr);
    EXPECT_EQ(hr, kFail);
}

}  // namespace
}  // namespace kestrel
