// The comparison of two images behind /Diff: nothing between an image and itself, exactly the
// resources and strings that changed, the section, header, overlay and certificate-table changes,
// names and strings quoted so that any text survives, and damaged trees read as far as they go.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "core/pe/pe_diff.h"
#include "import_test_support.h"

namespace kestrel::testing {
namespace {

PeDiff diffOf(const pb::ByteVector& oldBytes, const pb::ByteVector& newBytes) {
    PeImage oldImage, newImage;
    EXPECT_EQ(parsePeImage(asBytes(oldBytes), oldImage), kOk);
    EXPECT_EQ(parsePeImage(asBytes(newBytes), newImage), kOk);
    return DiffPeImages(oldImage, newImage);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> linesStartingWith(const std::string& text, std::string_view prefix) {
    std::vector<std::string> lines = linesOf(text);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::string& line) { return line.rfind(prefix, 0) != 0; }),
                lines.end());
    return lines;
}

pb::ImagePlan resourcePlan(const std::map<std::uint16_t, std::u16string>& strings, pb::VersionPlan version) {
    pb::ImagePlan plan;
    pb::addStrings(plan.resources, pb::kLangEnUs, strings);
    plan.resources.push_back({pb::kRtVersion, 1, pb::kLangEnUs, pb::makeVersionInfo(version)});
    plan.resources.push_back({pb::kRtRcData, u"CONFIG", pb::kLangEnUs, pb::bytesOf("config")});
    plan.resources.push_back({pb::kRtHtml, 1, pb::kLangEnUs, pb::makeHtml("page")});
    pb::addIconGroup(plan.resources, 1, pb::kLangEnUs, 1, {pb::makeIconImage(16, 8)});
    return plan;
}

TEST(PeDiff, AnImageAndItselfHaveNoDifferences) {
    pb::ImagePlan rich = pb::sampleImagePlan();
    rich.pe32Plus = true;
    rich.symbolCount = 3;
    rich.overlay = pb::bytesOf("overlay bytes");
    rich.certificateInOverlay = true;
    pb::ImagePlan damaged = resourcePlan({{1, u"one"}}, pb::defaultVersionPlan());
    damaged.resourceOptions.fault = pb::TreeFault::kEntryPointsAtRoot;
    for (const pb::ByteVector& image :
         {pb::buildSampleImage(), pb::buildImage(rich), pb::buildImage(damaged)}) {
        const PeDiff diff = diffOf(image, image);
        EXPECT_TRUE(diff.empty());
        EXPECT_EQ(FormatPeDiffText(diff), "");
        EXPECT_NE(FormatPeDiffJson(diff, "a", "a").find("\"equal\":true"), std::string::npos);
    }
}

TEST(PeDiff, ListsExactlyTheResourcesAndStringsThatChanged) {
    pb::VersionPlan oldVersion = pb::defaultVersionPlan();
    pb::ImagePlan oldPlan = resourcePlan({{100, u"Hello"}, {101, u"World"}, {110, u"Same"}}, oldVersion);
    pb::VersionPlan newVersion = oldVersion;
    newVersion.fileVersion[1] = 2;
    newVersion.strings[2].second = u"1.2.2.0";  // FileVersion
    newVersion.strings.push_back({u"Comments", u"new"});
    pb::ImagePlan newPlan = resourcePlan({{100, u"Hi"}, {102, u"Added"}, {110, u"Same"}}, newVersion);
    // RCDATA "CONFIG" goes, RCDATA 7 comes, and the HTML page keeps its bytes under another code page.
    std::erase_if(newPlan.resources, [](const pb::Resource& r) { return r.type == pb::kRtRcData; });
    newPlan.resources.push_back({pb::kRtRcData, 7, pb::kLangEnUs, pb::bytesOf("seven")});
    for (pb::Resource& resource : newPlan.resources)
        if (resource.type == pb::kRtHtml) resource.codePage = 1252;

    const PeDiff diff = diffOf(pb::buildImage(oldPlan), pb::buildImage(newPlan));
    const std::string text = FormatPeDiffText(diff);
    const std::size_t oldBlock = pb::makeStringBlock({u"", u"", u"", u"", u"Hello", u"World", u"", u"", u"",
                                                      u"", u"", u"", u"", u"", u"Same"})
                                     .size();
    const std::size_t newBlock = pb::makeStringBlock({u"", u"", u"", u"", u"Hi", u"", u"Added", u"", u"", u"",
                                                      u"", u"", u"", u"", u"Same"})
                                     .size();
    const std::size_t oldVersionSize = pb::makeVersionInfo(oldVersion).size();
    const std::size_t newVersionSize = pb::makeVersionInfo(newVersion).size();
    EXPECT_EQ(linesStartingWith(text, "resource "),
              (std::vector<std::string>{
                  "resource changed: STRING 7 language 1033, " + std::to_string(oldBlock) + " -> " +
                      std::to_string(newBlock) + " bytes",
                  "resource added: RCDATA 7 language 1033, 5 bytes",
                  "resource removed: RCDATA \"CONFIG\" language 1033, 6 bytes",
                  "resource changed: VERSION 1 language 1033, " + std::to_string(oldVersionSize) + " -> " +
                      std::to_string(newVersionSize) + " bytes",
                  "resource code page changed: HTML 1 language 1033, 0 -> 1252",
              }))
        << text;
    EXPECT_EQ(
        linesStartingWith(text, "string "),
        (std::vector<std::string>{
            "string changed: STRING 7 language 1033, ID 100: \"Hello\" -> \"Hi\"",
            "string removed: STRING 7 language 1033, ID 101: \"World\"",
            "string added: STRING 7 language 1033, ID 102: \"Added\"",
            "string changed: VERSION 1 language 1033, \"VS_FIXEDFILEINFO\" \"FileVersion\": \"1.0.2.0\" -> "
            "\"1.2.2.0\"",
            "string changed: VERSION 1 language 1033, \"040904b0\" \"FileVersion\": \"1.0.2.0\" -> "
            "\"1.2.2.0\"",
            "string added: VERSION 1 language 1033, \"040904b0\" \"Comments\": \"new\"",
        }))
        << text;
    const std::string json = FormatPeDiffJson(diff, "old.dll", "new.dll");
    EXPECT_NE(json.find("{\"change\":\"changed\",\"id\":100,\"old\":\"Hello\",\"new\":\"Hi\"}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"type\":10,\"typeLabel\":\"RCDATA\",\"name\":\"CONFIG\""), std::string::npos)
        << json;
}

TEST(PeDiff, ReportsSectionsHeaderFieldsOverlayAndCertificateTable) {
    pb::ImagePlan oldPlan = resourcePlan({{1, u"one"}}, pb::defaultVersionPlan());
    oldPlan.overlay = pb::bytesOf("signature one");
    oldPlan.certificateInOverlay = true;
    pb::ImagePlan newPlan = oldPlan;
    newPlan.overlay = pb::bytesOf("signature two");
    newPlan.sectionsAfterResources.push_back({".extra", pb::bytesOf("more")});
    newPlan.imageBase = 0x20000000;

    const std::string text = FormatPeDiffText(diffOf(pb::buildImage(oldPlan), pb::buildImage(newPlan)));
    EXPECT_TRUE(linesStartingWith(text, "resource ").empty()) << text;
    const std::vector<std::string> lines = linesOf(text);
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    auto hasPrefix = [&](std::string_view prefix) { return !linesStartingWith(text, prefix).empty(); };
    EXPECT_TRUE(has("header changed: NumberOfSections 0x00000003 -> 0x00000004")) << text;
    EXPECT_TRUE(has("header changed: ImageBase 0x10000000 -> 0x20000000")) << text;
    EXPECT_TRUE(hasPrefix("header changed: CheckSum 0x")) << text;
    EXPECT_TRUE(hasPrefix("header changed: CertificateTable.VirtualAddress 0x")) << text;
    EXPECT_TRUE(hasPrefix("section added: \".extra\" (#3): VirtualSize 0x00000004, VirtualAddress 0x"))
        << text;
    EXPECT_TRUE(hasPrefix("section changed: \".reloc\" (#3): VirtualAddress 0x00003000 -> 0x00004000"))
        << text;
    EXPECT_TRUE(hasPrefix("overlay changed: ")) << text;
    EXPECT_TRUE(hasPrefix("certificate table changed: ")) << text;
    // The section table grew into a second file-alignment unit: .text moved, with the same bytes.
    EXPECT_TRUE(has("section changed: \".text\" (#1): PointerToRawData 0x00000200 -> 0x00000400")) << text;
}

TEST(PeDiff, TellsABitmapWhoseHeaderChangedFromOneWhosePictureDid) {
    pb::ImagePlan oldPlan;
    oldPlan.resources.push_back({pb::kRtBitmap, 1, pb::kLangEnUs, pb::makeDib({16, 16, 32})});
    oldPlan.resources.push_back({pb::kRtBitmap, 2, pb::kLangEnUs, pb::makeDib({16, 16, 8})});
    pb::ImagePlan newPlan = oldPlan;
    newPlan.resources[0].data[24] ^= std::byte{0x42};  // XPelsPerMeter
    newPlan.resources[1].data = pb::makeDib({16, 16, 8, false, false, false, 7});
    const std::string size1 = std::to_string(oldPlan.resources[0].data.size());
    const std::string size2 = std::to_string(oldPlan.resources[1].data.size());
    const std::string text = FormatPeDiffText(diffOf(pb::buildImage(oldPlan), pb::buildImage(newPlan)));
    EXPECT_EQ(
        linesStartingWith(text, "resource "),
        (std::vector<std::string>{
            "resource changed: BITMAP 1 language 1033, " + size1 + " -> " + size1 + " bytes, pixels equal",
            "resource changed: BITMAP 2 language 1033, " + size2 + " -> " + size2 + " bytes, pixels differ"}))
        << text;
}

TEST(PeDiff, QuotesNamesAndStringsWhateverTheyHold) {
    pb::ImagePlan oldPlan;
    oldPlan.resources.push_back({u"A\"B\x01", u"\xD800x", pb::kLangEnUs, pb::bytesOf("1")});
    pb::addStrings(oldPlan.resources, pb::kLangEnUs, {{1, u"tab\there \\ \U0001F600"}});
    pb::ImagePlan newPlan = oldPlan;
    newPlan.resources[0].data = pb::bytesOf("2");
    newPlan.resources[1].data = pb::makeStringBlock({u"", u"line\nbreak"});

    const PeDiff diff = diffOf(pb::buildImage(oldPlan), pb::buildImage(newPlan));
    const std::string text = FormatPeDiffText(diff);
    EXPECT_NE(text.find("resource changed: \"A\\\"B\\u0001\" \"\\uD800x\" language 1033, 1 -> 1 bytes"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ID 1: \"tab\\there \\\\ \xF0\x9F\x98\x80\" -> \"line\\nbreak\""), std::string::npos)
        << text;
    EXPECT_NE(
        FormatPeDiffJson(diff, "a", "b").find("\"type\":\"A\\\"B\\u0001\",\"typeLabel\":\"\\\"A\\\\\\\"B"),
        std::string::npos);
}

TEST(PeDiff, DamagedTreesAreComparedAsFarAsTheyCanBeRead) {
    const pb::ImagePlan clean = resourcePlan({{1, u"one"}}, pb::defaultVersionPlan());
    const pb::ByteVector cleanImage = pb::buildImage(clean);
    for (pb::TreeFault fault : {pb::TreeFault::kEntryPointsAtItsOwnDirectory,
                                pb::TreeFault::kEntryPointsAtRoot, pb::TreeFault::kDataOffsetPastSection,
                                pb::TreeFault::kDataSizePastSection, pb::TreeFault::kCountLargerThanData}) {
        pb::ImagePlan plan = clean;
        plan.resourceOptions.fault = fault;
        const pb::ByteVector damaged = pb::buildImage(plan);
        const PeDiff diff = diffOf(cleanImage, damaged);
        EXPECT_FALSE(diff.oldResourcesDamaged) << static_cast<int>(fault);
        EXPECT_TRUE(diff.newResourcesDamaged) << static_cast<int>(fault);
        EXPECT_TRUE(diffOf(damaged, damaged).empty()) << static_cast<int>(fault);
    }
}

TEST(PeDiff, ReadStringBlockTakesShortBlocksAndRefusesStringsPastTheEnd) {
    pb::ByteVector shortBlock = pb::makeStringBlock({u"a", u"bc"});
    shortBlock.resize(2 + 2 + 2 + 4);  // the first two slots only
    std::array<std::u16string, 16> slots;
    ASSERT_EQ(ReadStringBlock(asBytes(shortBlock), slots), kOk);
    EXPECT_EQ(slots[1], u"bc");
    EXPECT_TRUE(slots[15].empty());
    pb::ByteVector padded = pb::makeStringBlock({u"x"});
    padded.resize(padded.size() + 2);  // a zero word after the 16th string
    EXPECT_EQ(ReadStringBlock(asBytes(padded), slots), kOk);
    shortBlock.pop_back();
    EXPECT_EQ(ReadStringBlock(asBytes(shortBlock), slots), kFail);
    EXPECT_TRUE(slots[0].empty()) << "a refused block leaves nothing behind";
}

}  // namespace
}  // namespace kestrel::testing
