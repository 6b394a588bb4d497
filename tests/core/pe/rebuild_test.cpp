#include <gtest/gtest.h>

#include "compile_compare.h"
#include "compile_test_support.h"

namespace kestrel::testing {
namespace {

pb::ImageSpec withOverlay() {
    pb::ImageSpec spec = pb::sampleImageSpec();
    spec.symbolCount = 5;
    spec.overlay = pb::bytesOf("certificate table stand-in, 8-byte aligned....");
    spec.certificateInOverlay = true;
    return spec;
}

pb::ImageSpec resourceLast() {
    pb::ImageSpec spec = pb::sampleImageSpec();
    spec.withRelocations = false;
    spec.writeChecksum = false;
    return spec;
}

pb::ImageSpec withUninitializedData() {
    pb::ImageSpec spec = pb::sampleImageSpec();
    pb::SectionSpec bss;
    bss.name = ".bss";
    bss.virtualSize = 0x3000;
    bss.noRawData = true;
    bss.characteristics = pb::kSectionUninitializedData;
    spec.sectionsBeforeResources.insert(spec.sectionsBeforeResources.begin(), bss);
    return spec;
}

struct RoundTripCase {
    const char* name;
    pb::ImageSpec (*spec)();
};

class UnchangedRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(UnchangedRoundTrip, KeepsEveryResourceSectionAndHeaderField) {
    CompileSink sink;
    WorkingFolder work(pb::buildImage(GetParam().spec()));
    sink.messages.clear();  // the import's own boxes
    std::string trace;
    HResult hr = work.compile(&trace);
    ASSERT_TRUE(hr.succeeded()) << errorText();
    EXPECT_TRUE(sink.messages.empty()) << sink.messages.front();

    PeFields original(work.image);
    PeFields rebuilt(readBytes(work.output()));
    expectSameResources(original.bytes, rebuilt.bytes);
    expectSameSections(original, rebuilt);

    // Checksum: valid where the original had one, 0 where it had none.
    if (original.checksum() == 0) {
        EXPECT_EQ(rebuilt.checksum(), 0u);
    } else {
        EXPECT_EQ(rebuilt.checksum(), pb::peChecksum(rebuilt.bytes, rebuilt.lfanew + 24 + 64));
    }
    EXPECT_EQ(original.directoryRva(2), rebuilt.directoryRva(2));
    EXPECT_EQ(rebuilt.directorySize(2), rebuilt.virtualSize(*rebuilt.section(".rsrc")));

    // The overlay follows the last section, and the offsets that pointed into it follow it.
    std::uint64_t originalEnd = 0, rebuiltEnd = 0;
    for (std::size_t i = 0; i < original.sectionCount(); ++i) {
        originalEnd = std::max<std::uint64_t>(originalEnd, original.rawPointer(i) + original.rawSize(i));
        rebuiltEnd = std::max<std::uint64_t>(rebuiltEnd, rebuilt.rawPointer(i) + rebuilt.rawSize(i));
    }
    ASSERT_EQ(original.bytes.size() - originalEnd, rebuilt.bytes.size() - rebuiltEnd);
    EXPECT_TRUE(std::equal(original.bytes.begin() + originalEnd, original.bytes.end(),
                           rebuilt.bytes.begin() + rebuiltEnd));
    std::int64_t shift = static_cast<std::int64_t>(rebuiltEnd) - static_cast<std::int64_t>(originalEnd);
    if (original.symbolTable() != 0) {
        EXPECT_EQ(rebuilt.symbolTable(), original.symbolTable() + shift);
    }
    if (original.directoryRva(4) != 0) {
        EXPECT_EQ(rebuilt.directoryRva(4), original.directoryRva(4) + shift);
    }

    EXPECT_NE(trace.find("RESOURCE section\n"), std::string::npos);
    EXPECT_NE(trace.find("SECTION: .text\n"), std::string::npos);

    // Importing the rebuilt file describes it exactly as the first import did.
    TempDir second;
    std::filesystem::path project;
    ASSERT_TRUE(DecompileFile(work.output(), second.path(), project).succeeded()) << errorText();
    EXPECT_EQ(readText(work.folder / "pe.xml"), readText(second / "pe.xml"));
    EXPECT_EQ(readText(work.folder / "STRINGS.XML"), readText(second / "STRINGS.XML"));
}

INSTANTIATE_TEST_SUITE_P(Images, UnchangedRoundTrip,
                         ::testing::Values(RoundTripCase{"Sample", pb::sampleImageSpec},
                                           RoundTripCase{"OverlayWithSymbolsAndCertificate", withOverlay},
                                           RoundTripCase{"ResourceSectionLast", resourceLast},
                                           RoundTripCase{"UninitializedDataFirst", withUninitializedData}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel::testing
