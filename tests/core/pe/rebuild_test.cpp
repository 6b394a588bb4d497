#include <gtest/gtest.h>

#include "compile_compare.h"
#include "compile_test_support.h"
#include "core/pe/one_shot_edit.h"
#include "core/pe/pe_checksum.h"
#include "core/platform/format.h"

namespace kestrel::testing {
namespace {

pb::ImagePlan withOverlay() {
    pb::ImagePlan plan = pb::sampleImagePlan();
    plan.symbolCount = 5;
    plan.overlay = pb::bytesOf("certificate table stand-in, 8-byte aligned....");
    plan.certificateInOverlay = true;
    return plan;
}

// An overlay of odd length with no certificate: the checksum must count its last byte alone.
pb::ImagePlan withOddOverlay() {
    pb::ImagePlan plan = pb::sampleImagePlan();
    plan.overlay = pb::bytesOf("an installer payload of odd length\x01\x02\x03");
    return plan;
}

pb::ImagePlan resourceLast() {
    pb::ImagePlan plan = pb::sampleImagePlan();
    plan.withRelocations = false;
    plan.writeChecksum = false;
    return plan;
}

pb::ImagePlan withUninitializedData() {
    pb::ImagePlan plan = pb::sampleImagePlan();
    pb::SectionPlan bss;
    bss.name = ".bss";
    bss.virtualSize = 0x3000;
    bss.noRawData = true;
    bss.characteristics = pb::kSectionUninitializedData;
    plan.sectionsBeforeResources.insert(plan.sectionsBeforeResources.begin(), bss);
    return plan;
}

struct RoundTripCase {
    const char* name;
    pb::ImagePlan (*plan)();
};

class UnchangedRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(UnchangedRoundTrip, KeepsEveryResourceSectionAndHeaderField) {
    CompileSink sink;
    WorkingFolder work(pb::buildImage(GetParam().plan()));
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
                         ::testing::Values(RoundTripCase{"Sample", pb::sampleImagePlan},
                                           RoundTripCase{"OverlayWithSymbolsAndCertificate", withOverlay},
                                           RoundTripCase{"OddOverlay", withOddOverlay},
                                           RoundTripCase{"ResourceSectionLast", resourceLast},
                                           RoundTripCase{"UninitializedDataFirst", withUninitializedData}),
                         [](const auto& info) { return std::string(info.param.name); });

// The output is checksummed piece by piece (data and runs of zeros of any length, odd ones
// included); the sum must equal the one over the whole file.
TEST(PeChecksum, PiecesOfAnyLengthSumAsTheWholeFile) {
    std::vector<std::byte> whole;
    PeChecksum pieces;
    std::uint32_t state = 12345;
    auto next = [&state] { return state = state * 1103515245u + 12345u; };
    for (int i = 0; i < 200; ++i) {
        const std::size_t length = (next() >> 16) % 9;
        if (next() & 0x100) {
            pieces.addZeros(length);
            whole.insert(whole.end(), length, std::byte{0});
        } else {
            std::vector<std::byte> data(length);
            for (std::byte& b : data)
                b = static_cast<std::byte>(next() >> 24);
            pieces.add(Bytes(data.data(), data.size()));
            whole.insert(whole.end(), data.begin(), data.end());
        }
        const Bytes all(whole.data(), whole.size());
        ASSERT_EQ(pieces.finish(), pb::peChecksum(all, whole.size())) << "after piece " << i;
        ASSERT_EQ(computePeChecksum(all, whole.size()), pb::peChecksum(all, whole.size()));
    }
    // The checksum field is skipped wherever it lies, even when the end of the file cuts it.
    const Bytes all(whole.data(), whole.size());
    for (std::size_t field : {std::size_t{0}, std::size_t{6}, (whole.size() - 2) & ~std::size_t{1}}) {
        EXPECT_EQ(computePeChecksum(all, field), pb::peChecksum(all, field)) << field;
    }
}

// Long pieces are summed without a fold per word: totals far above 16 bits, and totals that are
// exact multiples of 0xFFFF (where the end-around carry gives 0xFFFF, not 0), must fold to the same
// sum as word by word.
TEST(PeChecksum, LongPiecesFoldAsWordByWord) {
    auto filled = [](std::size_t words, std::uint16_t word) {
        std::vector<std::byte> bytes;
        for (std::size_t i = 0; i < words; ++i) {
            bytes.push_back(static_cast<std::byte>(word & 0xFF));
            bytes.push_back(static_cast<std::byte>(word >> 8));
        }
        return bytes;
    };
    std::vector<std::vector<std::byte>> inputs{filled(1 << 20, 0xFFFF), filled(0xFFFF, 0xFFFF),
                                               filled(3, 0x5555), filled(300001, 0x8001)};
    std::vector<std::byte> mixed = filled(70000, 0xFFFE);
    mixed.push_back(std::byte{0x7F});  // an odd end
    inputs.push_back(mixed);
    for (const auto& input : inputs) {
        const Bytes all(input.data(), input.size());
        PeChecksum sum;
        sum.add(all.first(1));  // a piece that leaves a low byte waiting
        sum.add(all.subspan(1));
        EXPECT_EQ(sum.finish(), pb::peChecksum(all, input.size())) << input.size();
        EXPECT_EQ(computePeChecksum(all, input.size()), pb::peChecksum(all, input.size())) << input.size();
    }
}

// Long pieces of varied bytes, split at odd and even offsets: a sum that took whole blocks of bytes
// at a time must still pair each byte with its neighbour as words of the file do (uniform words, as
// above, would hide a swapped half or a block end that loses bytes).
TEST(PeChecksum, LongPiecesOfVariedBytesSplitAnywhereSumAsWordByWord) {
    std::vector<std::byte> data(700001);
    std::uint32_t state = 99;
    for (std::byte& b : data) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::byte>(state >> 24);
    }
    const Bytes all(data.data(), data.size());
    const std::uint32_t expected = pb::peChecksum(all, data.size());
    for (std::size_t split : {std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
                              std::size_t{262143}, std::size_t{262144}, std::size_t{350001}}) {
        PeChecksum sum;
        sum.add(all.first(split));
        sum.add(all.subspan(split, 3));
        sum.add(all.subspan(split + 3));
        EXPECT_EQ(sum.finish(), expected) << split;
    }
    PeChecksum whole;
    whole.add(all);
    EXPECT_EQ(whole.finish(), expected);
}

// An edit copies the sections and the overlay it keeps from the original in pieces and sums the
// checksum on the way, putting it into the headers last. Data longer than a piece, an overlay of
// odd length and an edit in place must give the checksum of the whole file, as the full import
// and compile do.
TEST(StreamedOutput, ChecksumOfSectionsAndOverlayLongerThanAPieceIsThatOfTheWholeFile) {
    CompileSink sink;
    TempDir temp;
    auto varied = [](std::size_t size, std::uint32_t state) {
        pb::ByteVector bytes(size);
        for (std::byte& b : bytes) {
            state = state * 1103515245u + 12345u;
            b = static_cast<std::byte>(state >> 16);
        }
        return bytes;
    };
    pb::ImagePlan plan = pb::sampleImagePlan();
    pb::SectionPlan text = pb::defaultTextSection();
    const pb::ByteVector code = varied(600 * 1024, 3);
    text.data.insert(text.data.end(), code.begin(), code.end());
    plan.sectionsBeforeResources = {text};
    plan.overlay = varied(3 * 262144 + 7, 5);
    const std::vector<std::byte> image = pb::buildImage(plan);
    ASSERT_NE(PeFields(image).checksum(), 0u);

    ResourceEdits edits;
    edits.strings = {{1, u"one"}, {40, u"forty"}};
    const std::filesystem::path file = temp.write("in/file.exe", image);
    const std::filesystem::path whole = temp / "whole.exe";
    const std::filesystem::path fast = temp / "fast.exe";
    ASSERT_TRUE(EditResources(file, whole, edits, EditRoute::kWholeImport).succeeded()) << errorText();
    ASSERT_TRUE(EditResources(file, fast, edits, EditRoute::kResourcesOnly).succeeded()) << errorText();
    const PeFields edited(readBytes(fast));
    EXPECT_EQ(edited.checksum(), pb::peChecksum(edited.bytes, edited.lfanew + 24 + 64));
    EXPECT_TRUE(edited.bytes == readBytes(whole));
    ASSERT_TRUE(EditResources(file, {}, edits).succeeded()) << errorText();
    EXPECT_TRUE(readBytes(file) == edited.bytes);
}

// --- Moving the sections after the resource section ---------------------------------------------

// One RCDATA resource: our layout gives a section of 88 + (size rounded up to 8) bytes.
constexpr std::size_t kOneResourceOverhead = 88;

pb::ImagePlan oneResource(std::size_t size) {
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, 1, pb::kLangEnUs, pb::ByteVector(size, std::byte{0x5A})});
    return plan;
}

TEST(RebuildMoves, GrowingResourceSectionMovesRelocationsInFileAndMemory) {
    CompileSink sink;
    pb::BuiltImage built = pb::buildImageWithLayout(oneResource(0x1D00));
    WorkingFolder work(built.bytes);
    PeFields original(work.image);
    std::size_t rsrc = *original.section(".rsrc"), reloc = *original.section(".reloc");
    ASSERT_EQ(original.rawSize(rsrc), 0x1E00u);

    overwrite(work.file("1000001"), std::string(0x2300 - kOneResourceOverhead, 'G'));
    std::string trace;
    ASSERT_TRUE(work.compile(&trace).succeeded()) << errorText();
    PeFields rebuilt(readBytes(work.output()));

    EXPECT_EQ(rebuilt.rawSize(rsrc), 0x2400u);
    EXPECT_EQ(rebuilt.virtualSize(rsrc), 0x2300u);
    EXPECT_EQ(rebuilt.directorySize(2), 0x2300u);
    EXPECT_EQ(rebuilt.rawPointer(reloc), original.rawPointer(reloc) + 0x600);
    EXPECT_EQ(rebuilt.virtualAddress(reloc), original.virtualAddress(reloc) + 0x1000);
    EXPECT_EQ(rebuilt.directoryRva(5), original.directoryRva(5) + 0x1000);
    EXPECT_EQ(rebuilt.sizeOfImage(), original.sizeOfImage() + 0x1000);
    // Initialized data is counted in raw sizes, as linkers count it: 0x600 more, not 0x1000.
    EXPECT_EQ(rebuilt.optional(8), original.optional(8) + 0x600);
    EXPECT_EQ(rebuilt.rawData(reloc), original.rawData(reloc));
    EXPECT_EQ(rebuilt.checksum(), pb::peChecksum(rebuilt.bytes, rebuilt.lfanew + 24 + 64));
    EXPECT_NE(trace.find(safeFormat("RESOURCE at 0x%.8x\n", {original.rawPointer(rsrc) + 0x2300})),
              std::string::npos)
        << trace;
}

TEST(RebuildMoves, SectionWithoutRawDataKeepsPointerZero) {
    CompileSink sink;
    pb::ImagePlan plan = oneResource(0x100);
    pb::SectionPlan bss;
    bss.name = ".bss2";
    bss.noRawData = true;
    bss.virtualSize = 0x800;
    bss.characteristics = pb::kSectionUninitializedData;
    plan.sectionsAfterResources.push_back(bss);
    WorkingFolder work(pb::buildImage(plan));
    PeFields original(work.image);
    // Grows the raw size (0x200 → 0x400) but not the memory size (one 0x1000 page).
    overwrite(work.file("1000001"), std::string(0x300, 'G'));
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    PeFields rebuilt(readBytes(work.output()));
    std::size_t bssIndex = *original.section(".bss2"), reloc = *original.section(".reloc");
    EXPECT_EQ(rebuilt.rawPointer(bssIndex), 0u);
    EXPECT_EQ(rebuilt.virtualAddress(bssIndex), original.virtualAddress(bssIndex));
    EXPECT_EQ(rebuilt.rawPointer(reloc), original.rawPointer(reloc) + 0x200);
    EXPECT_EQ(rebuilt.rawData(reloc), original.rawData(reloc));
}

struct MovedSectionCase {
    const char* name;
    std::uint32_t characteristics;
    bool accepted;
};

class SectionAfterResources : public ::testing::TestWithParam<MovedSectionCase> {};

// Code and data that move in memory would keep pointing at their old addresses: only relocations
// and discardable sections may follow a resource section that changes its memory size.
TEST_P(SectionAfterResources, MovesOnlyWhenNothingCanPointIntoIt) {
    CompileSink sink;
    pb::ImagePlan plan = oneResource(0x100);
    pb::SectionPlan after;
    after.name = GetParam().name;
    after.data = pb::bytesOf("referenced by code");
    after.characteristics = GetParam().characteristics;
    plan.sectionsAfterResources.push_back(after);
    WorkingFolder work(pb::buildImage(plan));

    // Unchanged: nothing moves in memory, always accepted.
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    std::filesystem::remove(work.output());

    overwrite(work.file("1000001"), std::string(0x1800, 'G'));
    HResult hr = work.compile();
    EXPECT_EQ(hr.succeeded(), GetParam().accepted) << errorText();
    EXPECT_EQ(std::filesystem::exists(work.output()), GetParam().accepted);
    if (!GetParam().accepted) {
        EXPECT_NE(errorText().find(GetParam().name), std::string::npos) << errorText();
    } else {
        PeFields original(work.image), rebuilt(readBytes(work.output()));
        std::size_t index = *original.section(GetParam().name);
        EXPECT_EQ(rebuilt.virtualAddress(index), original.virtualAddress(index) + 0x1000);
        EXPECT_EQ(rebuilt.rawData(index), original.rawData(index));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SectionAfterResources,
                         ::testing::Values(MovedSectionCase{".data2", pb::kSectionInitializedData, false},
                                           MovedSectionCase{".debug", pb::kSectionRelocations, true}),
                         [](const auto& info) { return std::string(info.param.name + 1); });

// --- Header and section files ----------------------------------------------------------------------

struct DamagedHeaderCase {
    const char* name;
    void (*damage)(std::vector<std::byte>& ntHeader);
};

class DamagedHeaderFile : public ::testing::TestWithParam<DamagedHeaderCase> {};

TEST_P(DamagedHeaderFile, FailsWithoutOutput) {
    CompileSink sink;
    WorkingFolder work(pb::buildImage(oneResource(16)));
    auto header = readBytes(work.file("NTHEADER.BIN"));
    GetParam().damage(header);
    overwrite(work.file("NTHEADER.BIN"), header);
    EXPECT_TRUE(work.compile().failed());
    EXPECT_NE(errorText().find("未能传送文件"), std::string::npos) << errorText();
    EXPECT_NE(errorText().find("NTHEADER.BIN"), std::string::npos) << errorText();
    EXPECT_FALSE(std::filesystem::exists(work.output()));
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedHeaderFile,
    ::testing::Values(
        DamagedHeaderCase{"ShorterThanTheOptionalHeader", [](auto& h) { h.resize(100); }},
        DamagedHeaderCase{"SectionTableCut", [](auto& h) { h.resize(248 + 40 * u16At(h, 6) - 1); }},
        DamagedHeaderCase{"MoreSectionsThanTheFileHolds", [](auto& h) { h[6] = std::byte{0xFF}; }},
        DamagedHeaderCase{"NoSignature", [](auto& h) { h[0] = std::byte{'X'}; }},
        DamagedHeaderCase{"RomImage", [](auto& h) { h[24] = std::byte{0x07}; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RebuildFiles, SectionOverrunningTheNextOneIsRefused) {
    CompileSink sink;
    WorkingFolder work(pb::buildImage(pb::sampleImagePlan()));
    auto text = readBytes(work.file("text.BIN"));
    text.resize(text.size() + 0x400, std::byte{0x90});
    overwrite(work.file("text.BIN"), text);
    EXPECT_TRUE(work.compile().failed());
    EXPECT_NE(errorText().find(".data"), std::string::npos) << errorText();
    EXPECT_FALSE(std::filesystem::exists(work.output()));
}

TEST(RebuildFiles, GapBeforeASectionIsPaddedAndKept) {
    CompileSink sink;
    WorkingFolder work(pb::buildImage(pb::sampleImagePlan()));
    PeFields original(work.image);
    auto header = readBytes(work.file("NTHEADER.BIN"));
    std::size_t data = *original.section(".data");
    // Every section from .data on lies 0x200 bytes further into the file.
    for (std::size_t i = data; i < original.sectionCount(); ++i) {
        std::size_t at = 248 + 40 * i + 20;
        putU32At(header, at, u32At(header, at) + 0x200);
    }
    overwrite(work.file("NTHEADER.BIN"), header);
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    PeFields rebuilt(readBytes(work.output()));
    EXPECT_EQ(rebuilt.rawPointer(data), original.rawPointer(data) + 0x200);
    EXPECT_EQ(rebuilt.rawData(data), original.rawData(data));
    expectSameResources(work.image, rebuilt.bytes);
}

TEST(RebuildFiles, FailedCompileLeavesThePeFileInTheWorkingFolderUntouched) {
    CompileSink sink;
    WorkingFolder work(pb::buildImage(pb::sampleImagePlan()));
    std::filesystem::copy_file(work.original, work.output());
    std::filesystem::remove(work.file("VERSION"));
    EXPECT_TRUE(work.compile().failed());
    EXPECT_EQ(readBytes(work.output()), work.image);
    for (const auto& entry : std::filesystem::directory_iterator(work.folder))
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace kestrel::testing
