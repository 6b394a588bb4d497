// Resources saved as files: icon and cursor groups as icon files, the other types by kind, and the
// export of many resources into a folder, from a PE file and from a working folder alike.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/images/icon_files.h"
#include "core/pe/resource_export.h"
#include "core/platform/files.h"
#include "import_test_support.h"

namespace kestrel::testing {
namespace {

struct BuiltLookup {
    pb::ByteVector image;
    ResourceLookup lookup;
};

void build(BuiltLookup& built, const std::vector<pb::Resource>& resources) {
    pb::ImagePlan plan;
    plan.resources = resources;
    built.image = pb::buildImage(plan);
    ASSERT_EQ(built.lookup.open(Bytes(built.image.data(), built.image.size())), kOk);
}

std::vector<std::byte> bytesAt(const std::vector<std::byte>& file, std::uint32_t offset, std::uint32_t size) {
    if (offset > file.size() || size > file.size() - offset) return {};
    return {file.begin() + offset, file.begin() + offset + size};
}

TEST(ResourceExport, IconGroupBecomesAnIconFileOfItsMembers) {
    std::vector<pb::Resource> resources;
    const std::vector<pb::IconImage> images = {pb::makeIconImage(16, 4, 1), pb::makeIconImage(32, 8, 2),
                                               pb::makePngIconImage(256, 3)};
    pb::addIconGroup(resources, 7, pb::kLangEnUs, 20, images);
    // A second group whose second member does not exist: the file holds the one that does.
    resources.push_back(
        {pb::kRtGroupIcon, 8, pb::kLangEnUs, pb::makeIconGroup({{images[0], 20}, {images[1], 99}})});
    BuiltLookup built;
    build(built, resources);

    ExportedResource exported;
    ASSERT_EQ(
        ExportResource(built.lookup, ResourceKey::ofId(14), ResourceKey::ofId(7), pb::kLangEnUs, exported),
        kOk);
    EXPECT_EQ(exported.fileName, "7.ico");
    EXPECT_TRUE(exported.missingMembers.empty());
    IconDirectory directory;
    ASSERT_EQ(ReadIconDirectory(asBytes(exported.bytes), directory), kOk);
    EXPECT_EQ(directory.type, kIconFileType);
    ASSERT_EQ(directory.count, 3);
    ASSERT_EQ(directory.entries.size(), 3u);
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconDirectoryEntry& entry = directory.entries[i];
        EXPECT_EQ(entry.width, images[i].width & 0xFF) << i;
        EXPECT_EQ(entry.height, images[i].height & 0xFF) << i;
        EXPECT_EQ(entry.colorCount, images[i].colorCount) << i;
        EXPECT_EQ(entry.bitCount, images[i].bitCount) << i;
        EXPECT_EQ(bytesAt(exported.bytes, entry.imageOffset, entry.imageBytes), images[i].data) << i;
    }
    EXPECT_EQ(directory.entries.back().imageOffset + directory.entries.back().imageBytes,
              exported.bytes.size());

    ASSERT_EQ(
        ExportResource(built.lookup, ResourceKey::ofId(14), ResourceKey::ofId(8), pb::kLangEnUs, exported),
        kOk);
    EXPECT_EQ(exported.missingMembers, std::vector<std::uint16_t>{99});
    ASSERT_EQ(ReadIconDirectory(asBytes(exported.bytes), directory), kOk);
    ASSERT_EQ(directory.count, 1);
    EXPECT_EQ(bytesAt(exported.bytes, directory.entries[0].imageOffset, directory.entries[0].imageBytes),
              images[0].data);
}

TEST(ResourceExport, CursorGroupMovesTheHotSpotIntoTheDirectory) {
    std::vector<pb::Resource> resources;
    const std::vector<pb::IconImage> images = {pb::makeCursorImage(32, 1, 5, 9, 1),
                                               pb::makeCursorImage(48, 8, 24, 2, 2)};
    pb::addCursorGroup(resources, u"ARROW", pb::kLangDeDe, 3, images);
    BuiltLookup built;
    build(built, resources);

    ExportedResource exported;
    ASSERT_EQ(ExportResource(built.lookup, ResourceKey::ofId(12), ResourceKey::ofName(u"ARROW"),
                             pb::kLangDeDe, exported),
              kOk);
    EXPECT_EQ(exported.fileName, "ARROW.cur");
    IconDirectory directory;
    ASSERT_EQ(ReadIconDirectory(asBytes(exported.bytes), directory), kOk);
    EXPECT_EQ(directory.type, kCursorFileType);
    ASSERT_EQ(directory.entries.size(), 2u);
    const std::pair<std::uint16_t, std::uint16_t> hotSpots[] = {{5, 9}, {24, 2}};
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconDirectoryEntry& entry = directory.entries[i];
        EXPECT_EQ(entry.width, images[i].width) << i;
        EXPECT_EQ(entry.height, images[i].height) << i;  // the group's height counts the mask too
        EXPECT_EQ(entry.planes, hotSpots[i].first) << i;
        EXPECT_EQ(entry.bitCount, hotSpots[i].second) << i;
        const pb::ByteVector image(images[i].data.begin() + 4, images[i].data.end());
        EXPECT_EQ(bytesAt(exported.bytes, entry.imageOffset, entry.imageBytes), image) << i;
    }

    // A single cursor keeps its hot spot the same way.
    ASSERT_EQ(
        ExportResource(built.lookup, ResourceKey::ofId(1), ResourceKey::ofId(4), pb::kLangDeDe, exported),
        kOk);
    EXPECT_EQ(exported.fileName, "4.cur");
    IconFileImage single;
    ASSERT_EQ(FirstIconFileImage(asBytes(exported.bytes), single), kOk);
    EXPECT_EQ(single.entry.planes, 24);
    EXPECT_EQ(single.entry.bitCount, 2);
    EXPECT_EQ(single.size, images[1].data.size() - 4);
}

TEST(ResourceExport, OtherTypesGetAFileOfTheirKind) {
    const pb::ByteVector dib = pb::makeDib({});
    pb::ByteVector avi = pb::bytesOf(std::string_view("RIFF\x10\0\0\0AVI LIST", 16));
    pb::ByteVector png = pb::makePngIconImage(16).data;
    std::vector<pb::Resource> resources = {
        {pb::kRtBitmap, u"LOGO", pb::kLangEnUs, dib},
        {pb::kRtDialog, 100, pb::kLangEnUs, pb::makeDialog(u"About")},
        {pb::kRtMenu, 101, pb::kLangEnUs, pb::makeMenu()},
        {pb::kRtMenu, 102, pb::kLangEnUs, pb::bytesOf("\x01\x02")},  // no menu: kept as bytes
        {pb::kRtManifest, 1, pb::kLangEnUs, pb::makeManifest()},
        {u"AVI", 160, pb::kLangEnUs, avi},
        {pb::kRtRcData, u"a/b:c", pb::kLangEnUs, png},
        {pb::kRtRcData, 5, pb::kLangEnUs, pb::bytesOf("plain")},
    };
    BuiltLookup built;
    build(built, resources);
    struct Expected {
        std::string fileName;
        std::optional<pb::ByteVector> bytes;
    };
    const Expected expected[] = {
        {"LOGO.bmp", pb::bmpFileFromDib(dib)},
        {"100.rc", std::nullopt},
        {"101.rc", std::nullopt},
        {"102.bin", pb::bytesOf("\x01\x02")},
        {"1.manifest", pb::makeManifest()},
        {"160.avi", avi},
        {"a_b_c.png", png},
        {"5.bin", pb::bytesOf("plain")},
    };
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const pb::Resource& resource = resources[i];
        const ResourceKey type = resource.type.isName ? ResourceKey::ofName(resource.type.name)
                                                      : ResourceKey::ofId(resource.type.id);
        const ResourceKey name = resource.name.isName ? ResourceKey::ofName(resource.name.name)
                                                      : ResourceKey::ofId(resource.name.id);
        ExportedResource exported;
        ASSERT_EQ(ExportResource(built.lookup, type, name, resource.language, exported), kOk) << i;
        EXPECT_EQ(exported.fileName, expected[i].fileName);
        if (expected[i].bytes) {
            EXPECT_EQ(exported.bytes, *expected[i].bytes) << i;
        }
    }
    ExportedResource dialog;
    ASSERT_EQ(
        ExportResource(built.lookup, ResourceKey::ofId(5), ResourceKey::ofId(100), pb::kLangEnUs, dialog),
        kOk);
    const std::string text(reinterpret_cast<const char*>(dialog.bytes.data()), dialog.bytes.size());
    EXPECT_NE(text.find("100 DIALOG"), std::string::npos) << text;
    EXPECT_NE(text.find("\"About\""), std::string::npos) << text;
    // A language the resource does not have gives nothing.
    EXPECT_EQ(ExportResource(built.lookup, ResourceKey::ofId(5), ResourceKey::ofId(100), 7, dialog), kFail);
}

TEST(ResourceExport, ParsesTypesAndNamesAsTyped) {
    EXPECT_EQ(ParseResourceType("14"), ResourceKey::ofId(14));
    EXPECT_EQ(ParseResourceType("group_icon"), ResourceKey::ofId(14));
    EXPECT_EQ(ParseResourceType("RT_BITMAP"), ResourceKey::ofId(2));
    EXPECT_EQ(ParseResourceType("StringTable"), ResourceKey::ofId(6));
    EXPECT_EQ(ParseResourceType("AVI"), ResourceKey::ofName(u"AVI"));
    EXPECT_EQ(ParseResourceType("65536"), std::nullopt);
    EXPECT_EQ(ParseResourceType(""), std::nullopt);
    EXPECT_EQ(ParseResourceName("0042"), ResourceKey::ofId(42));
    EXPECT_EQ(ParseResourceName("70000"), ResourceKey::ofName(u"70000"));
    EXPECT_EQ(ParseResourceName("IDI_APP"), ResourceKey::ofName(u"IDI_APP"));
    EXPECT_EQ(ResourceTypeName(ResourceKey::ofId(14)), "GROUP_ICON");
    EXPECT_EQ(ResourceTypeName(ResourceKey::ofId(240)), "240");
}

std::vector<std::string> fileNames(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::string> names;
    for (const auto& path : paths)
        names.push_back(pathToUtf8(path.filename()));
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ResourceExport, ExportAllWritesOneFilePerResourceAndLanguage) {
    std::vector<pb::Resource> resources;
    pb::addIconGroup(resources, 1, pb::kLangEnUs, 1, {pb::makeIconImage(16, 8), pb::makeIconImage(32, 8)});
    pb::addIconGroup(resources, 1, pb::kLangDeDe, 3, {pb::makeIconImage(16, 4)});
    resources.push_back({pb::kRtIcon, 50, pb::kLangEnUs, pb::makeIconImage(16, 8, 5).data});  // in no group
    resources.push_back({pb::kRtRcData, u"Data", pb::kLangEnUs, pb::bytesOf("a")});
    resources.push_back({pb::kRtRcData, u"DATA_", pb::kLangEnUs, pb::bytesOf("b")});
    resources.push_back({pb::kRtRcData, u"Data:", pb::kLangEnUs, pb::bytesOf("c")});
    BuiltLookup built;
    build(built, resources);
    TempDir temp;
    const std::filesystem::path folder = temp.path() / "out" / "all";

    ExportSummary summary;
    ASSERT_EQ(ExportResources(built.lookup, {}, folder, summary), kOk);
    EXPECT_TRUE(summary.problems.empty());
    // Members travel inside their groups; the icon no group lists has a file of its own. "Data:" and
    // "DATA_" would both be DATA_ on a case-insensitive file system.
    EXPECT_EQ(fileNames(summary.written),
              (std::vector<std::string>{"GROUP_ICON_1_1031.ico", "GROUP_ICON_1_1033.ico", "ICON_50_1033.ico",
                                        "RCDATA_DATA__1033~2.bin", "RCDATA_Data_1033.bin",
                                        "RCDATA_Data__1033.bin"}));
    std::vector<std::byte> bytes;
    ASSERT_EQ(ReadWholeFile(folder / "RCDATA_DATA__1033~2.bin", bytes), kOk);
    EXPECT_EQ(bytes, pb::bytesOf("b"));

    ExportSelection icons;
    icons.type = ParseResourceType("ICON");
    icons.language = pb::kLangEnUs;
    ASSERT_EQ(ExportResources(built.lookup, icons, temp.path() / "icons", summary), kOk);
    EXPECT_EQ(fileNames(summary.written),
              (std::vector<std::string>{"ICON_1_1033.ico", "ICON_2_1033.ico", "ICON_50_1033.ico"}));

    ExportSelection byName;
    byName.type = ResourceKey::ofId(pb::kRtRcData);
    byName.name = ResourceKey::ofName(u"data");
    ASSERT_EQ(ExportResources(built.lookup, byName, temp.path() / "named", summary), kOk);
    EXPECT_EQ(fileNames(summary.written), (std::vector<std::string>{"RCDATA_Data_1033.bin"}));
}

TEST(ResourceExport, WorkingFolderExportsTheSameFilesAsThePeFile) {
    RecordingSink sink;
    TempDir temp;
    const pb::ByteVector image = pb::buildSampleImage();
    std::filesystem::create_directories(temp.path() / "work");
    ASSERT_EQ(dumpInto(image, temp.path() / "work"), kOk) << reportText();
    XmlDocument description;
    ASSERT_EQ(description.LoadFile(temp.path() / "work" / "pe.xml"), kOk);
    LoadedResources described;
    ASSERT_EQ(LoadDescribedResources(description, temp.path() / "work", described), kOk) << reportText();
    ResourceLookup original;
    ASSERT_EQ(original.open(Bytes(image.data(), image.size())), kOk);

    ExportSummary fromFolder, fromFile;
    ASSERT_EQ(ExportResources(described.lookup, {}, temp.path() / "a", fromFolder), kOk);
    ASSERT_EQ(ExportResources(original, {}, temp.path() / "b", fromFile), kOk);
    ASSERT_EQ(fileNames(fromFolder.written), fileNames(fromFile.written));
    EXPECT_GT(fromFile.written.size(), 10u);
    for (const std::filesystem::path& path : fromFile.written) {
        std::vector<std::byte> a, b;
        ASSERT_EQ(ReadWholeFile(temp.path() / "a" / path.filename(), a), kOk);
        ASSERT_EQ(ReadWholeFile(path, b), kOk);
        EXPECT_EQ(a, b) << pathToUtf8(path.filename());
    }
}

}  // namespace
}  // namespace kestrel::testing
