// The resource walk of the import: pe.xml layout, one file per resource and language, the file
// formats of bitmaps, icons and cursors, safe and unique file names, and hostile trees.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "core/images/png_codec.h"
#include "core/pe/decompile_file.h"
#include "core/pe/memory_folder.h"
#include "core/pe/resource_reader.h"
#include "core/pe/section_names.h"
#include "core/platform/files.h"
#include "import_test_support.h"

namespace kestrel::testing {
namespace {

using pb::ResourceId;

pb::ImagePlan planWith(std::vector<pb::Resource> resources) {
    pb::ImagePlan plan;
    plan.resources = std::move(resources);
    return plan;
}

struct Imported {
    TempDir dir;
    HResult result = kOk;
    std::vector<DumpedResource> resources;

    std::vector<std::byte> file(const DumpedResource& resource) const {
        return readBytes(storedPath(dir.path(), resource.file));
    }
};

std::unique_ptr<Imported> import(const pb::ByteVector& image, bool png = true) {
    auto out = std::make_unique<Imported>();
    out->result = dumpInto(image, out->dir.path(), png);
    if (out->result.succeeded()) {
        auto described = readDescription(out->dir.path());
        EXPECT_TRUE(described.has_value()) << "pe.xml does not parse";
        if (described) out->resources = std::move(*described);
    }
    return out;
}

TEST(ImportResources, WorkedExampleComesOutByteForByte) {
    pb::IconImage icon = pb::makeIconImage(32, 4);
    ASSERT_EQ(icon.data.size(), 744u);
    pb::ByteVector group = pb::makeIconGroup({{icon, 1}});
    ASSERT_EQ(group.size(), 20u);
    auto imported = import(pb::buildImage(planWith(
        {{pb::kRtIcon, 1, pb::kLangEnUs, icon.data}, {pb::kRtGroupIcon, 101, pb::kLangEnUs, group}})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    const char* expected =
        "<Directory Type='0' Named_Entries='0' ID_Entries='2'>\r\n"
        "  <Entry ID='3' Directory='1'>\r\n"
        "    <Directory Type='3' Named_Entries='0' ID_Entries='1'>\r\n"
        "      <Entry ID='1' Directory='1'>\r\n"
        "        <Directory Type='1' Named_Entries='0' ID_Entries='1'>\r\n"
        "          <Entry ID='1033' Directory='0'>\r\n"
        "            <File Name='Icon00001.ICO' Size='744'/>\r\n"
        "          </Entry>\r\n"
        "        </Directory>\r\n"
        "      </Entry>\r\n"
        "    </Directory>\r\n"
        "  </Entry>\r\n"
        "  <Entry ID='14' Directory='1'>\r\n"
        "    <Directory Type='14' Named_Entries='0' ID_Entries='1'>\r\n"
        "      <Entry ID='101' Directory='1'>\r\n"
        "        <Directory Type='101' Named_Entries='0' ID_Entries='1'>\r\n"
        "          <Entry ID='1033' Directory='0'>\r\n"
        "            <File Name='1400101' Size='20'/>\r\n"
        "          </Entry>\r\n"
        "        </Directory>\r\n"
        "      </Entry>\r\n"
        "    </Directory>\r\n"
        "  </Entry>\r\n"
        "</Directory>\r\n"
        "\n";
    EXPECT_EQ(readText(imported->dir / "pe.xml"), expected);
    EXPECT_EQ(readBytes(imported->dir / "1400101"), group);
    EXPECT_EQ(tail(readBytes(imported->dir / "Icon00001.ICO"), 22), icon.data);
}

TEST(ImportResources, EveryLanguageOfABitmapIsKept) {
    std::vector<pb::Resource> resources;
    for (std::uint16_t language : {pb::kLangDeDe, pb::kLangEnUs, pb::kLangZhCn})
        resources.push_back(
            {pb::kRtBitmap, 1, language, pb::makeDib({8, 8, 8, false, false, false, language})});
    auto imported = import(pb::buildImage(planWith(resources)));
    ASSERT_EQ(imported->result, kOk) << reportText();
    EXPECT_NE(
        readText(imported->dir / "pe.xml").find("<Directory Type='1' Named_Entries='0' ID_Entries='3'>"),
        std::string::npos);
    std::vector<std::string> files;
    for (const auto& resource : resources) {
        const DumpedResource* dumped =
            findDumped(imported->resources, resource.type, resource.name, resource.language);
        ASSERT_NE(dumped, nullptr) << resource.language;
        EXPECT_EQ(imported->file(*dumped), pb::bmpFileFromDib(resource.data));
        EXPECT_EQ(dumped->png, 0);
        files.push_back(dumped->file);
    }
    EXPECT_EQ(files,
              (std::vector<std::string>{"Bitmap00001.BMP", "Bitmap00001~1033.BMP", "Bitmap00001~2052.BMP"}));
}

// Resources whose file names collide in one way or another: every one must keep its own bytes.
struct CollisionCase {
    const char* what;
    std::vector<pb::Resource> resources;
    std::vector<std::string> files;  // in the walk's order
};

pb::Resource raw(ResourceId type, ResourceId name, std::uint16_t language, std::string text) {
    return {std::move(type), std::move(name), language, pb::bytesOf(text)};
}

class ImportKeepsCollidingResources : public ::testing::TestWithParam<CollisionCase> {};

TEST_P(ImportKeepsCollidingResources, InFilesOfTheirOwn) {
    pb::ImagePlan plan = planWith(GetParam().resources);
    plan.resourceOptions.keepCallerOrder = true;
    auto imported = import(pb::buildImage(plan));
    ASSERT_EQ(imported->result, kOk) << reportText();
    std::vector<std::string> files;
    for (const auto& resource : GetParam().resources) {
        const DumpedResource* dumped =
            findDumped(imported->resources, resource.type, resource.name, resource.language);
        ASSERT_NE(dumped, nullptr);
        EXPECT_EQ(imported->file(*dumped), resource.data) << dumped->file;
        files.push_back(dumped->file);
    }
    EXPECT_EQ(files, GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportKeepsCollidingResources,
    ::testing::Values(
        CollisionCase{"TwoVersionResources",
                      {raw(pb::kRtVersion, 1, 1033, "first"), raw(pb::kRtVersion, 2, 1033, "second"),
                       raw(pb::kRtVersion, 2, 2052, "third")},
                      {"VERSION", "VERSION~1033", "VERSION~2052"}},
        CollisionCase{"UifileThenPlainResources",
                      {raw(u"UIFILE", 1000, 1033, "ui"), raw(u"VARIANT", 1, 1033, "variant"),
                       raw(pb::kRtDialog, 5, 1033, "dialog"), raw(pb::kRtRcData, 9, 1033, "rcdata")},
                      {"UIFILE01000", "VARIANT00001", "500005", "1000009"}},
        CollisionCase{"SameNameUnderTwoTypes",
                      {raw(pb::kRtRcData, u"DATA", 1033, "rc"), raw(pb::kRtHtml, u"DATA", 1033, "html")},
                      {"DATA", "DATA~1033"}},
        CollisionCase{"EqualAfterTheUnderscoreRules",
                      {raw(pb::kRtRcData, u"A_BMP", 1033, "one"), raw(pb::kRtRcData, u"A.BMP", 1033, "two")},
                      {"A.BMP", "A~1033.BMP"}},
        CollisionCase{
            "FixedFileNames",
            {raw(pb::kRtRcData, u"pe_xml", 1033, "x"), raw(pb::kRtRcData, u"STRINGS_XML", 1033, "s"),
             raw(pb::kRtRcData, u"DOSHEADER_BIN", 1033, "d"), raw(pb::kRtRcData, u"text_BIN", 1033, "t"),
             raw(pb::kRtRcData, u"PEOVERLAY.BIN", 1033, "o")},
            {"pe~1033.xml", "STRINGS~1033.XML", "DOSHEADER~1033.BIN", "text~1033.BIN", "PEOVERLAY~1033.BIN"}},
        CollisionCase{"CaseOnly",
                      {raw(pb::kRtRcData, u"Name", 1033, "a"), raw(pb::kRtRcData, u"NAME", 1033, "b"),
                       raw(pb::kRtRcData, u"name", 1033, "c")},
                      {"Name", "NAME~1033", "name~1033~2"}},
        CollisionCase{
            "FolderAndFile",
            {raw(pb::kRtRcData, u"BLUE", 1033, "file"), raw(pb::kRtRcData, u"BLUE_ARROW", 1033, "in folder"),
             raw(pb::kRtRcData, u"RED_X", 1033, "folder first"),
             raw(pb::kRtRcData, u"RED", 1033, "then file")},
            {"BLUE", "BLUE~1033\\ARROW", "RED\\X", "RED~1033"}}),
    [](const auto& info) { return std::string(info.param.what); });

// Names that need escaping in pe.xml or on the file system.
class ImportOddNames : public ::testing::TestWithParam<std::u16string> {};

TEST_P(ImportOddNames, AreDescribedExactlyAndStayInsideTheFolder) {
    std::u16string name = GetParam();
    pb::Resource resource = raw(pb::kRtRcData, ResourceId(name), 1033, "odd name");
    pb::Resource typed = raw(ResourceId(name), 7, 1033, "odd type");
    TempDir outer;
    std::filesystem::path folder = outer / "work";
    std::filesystem::create_directories(folder);
    if (name.find(u'\xD800') != std::u16string::npos && !outer.holdsLoneSurrogateNames())
        GTEST_SKIP() << "this file system has no names with lone surrogates";
    ASSERT_EQ(dumpInto(pb::buildImage(planWith({resource, typed})), folder), kOk) << reportText();
    auto described = readDescription(folder);
    ASSERT_TRUE(described.has_value());
    for (const auto& expected : {resource, typed}) {
        const DumpedResource* dumped = findDumped(*described, expected.type, expected.name, 1033);
        ASSERT_NE(dumped, nullptr) << utf16ToUtf8(name);
        std::filesystem::path path;
        ASSERT_EQ(resolveStored(folder, dumped->file, path), kOk) << dumped->file;
        EXPECT_EQ(readBytes(path), expected.data) << dumped->file;
    }
    std::size_t outside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(outer.path())) {
        (void)entry;
        ++outside;
    }
    EXPECT_EQ(outside, 1u);
}

INSTANTIATE_TEST_SUITE_P(Names, ImportOddNames,
                         ::testing::Values(u"IT'S", u"A&B", u"<TAG>", u"SAY \"HI\"", u"..\\..\\ESCAPE",
                                           u"../../ESCAPE", u"..", u"._..", u"C:\\ABS", u"/ROOT", u"TAB\tX",
                                           u"中文_名字", u"CAFÉ_é", std::u16string(u"LONE\xD800SURROGATE"),
                                           std::u16string(), u"_", u"X_",
                                           u"DLLS/MSI/I386-WINDOWS/MSISERVER_T.RES"));

// The import into memory (that of a one-shot edit) holds exactly the resource files the import
// into a folder writes, under the same names (folder parts and case-only twins included) and
// STRINGS.XML; a resource stored as it is stays a view into the image, with no copy.
TEST(ImportResources, IntoMemoryHoldsTheFolderFilesAndViewsOfPlainResources) {
    pb::ImagePlan plan =
        planWith({raw(pb::kRtRcData, u"Name", 1033, "a"),
                  raw(pb::kRtRcData, u"NAME", 1033, "b"),
                  raw(pb::kRtRcData, u"BLUE", 1033, "file"),
                  raw(pb::kRtRcData, u"BLUE_ARROW", 1033, "in folder"),
                  raw(u"AVI", 5, 1033, "riff"),
                  {pb::kRtBitmap, 1, 1033, pb::makeDib({8, 8, 32, false, false, false, 1})},
                  {pb::kRtBitmap, u"NORMAL_BMP", 1033, pb::makeDib({8, 8, 8, false, false, false, 2})}});
    pb::addIconGroup(plan.resources, 1, 1033, 1, {pb::makeIconImage(16, 8), pb::makePngIconImage(48)});
    pb::addCursorGroup(plan.resources, 1, 1033, 1, {pb::makeCursorImage(32, 32, 3, 4)});
    pb::addStrings(plan.resources, 1033, {{1, u"one"}, {40, u"forty"}});
    const pb::ByteVector image = pb::buildImage(plan);
    TempDir onDisk;
    TempDir headers;
    // Both without the section files, as the edit imports.
    CExeDump toDisk;
    toDisk.switches().sectionData = false;
    ASSERT_EQ(toDisk.Dump(Bytes(image.data(), image.size()), onDisk.path(), "pe.xml"), kOk) << reportText();
    MemoryFolder memory;
    CExeDump dump;
    dump.switches().sectionData = false;
    dump.setMemoryFolder(&memory);
    ASSERT_EQ(dump.Dump(Bytes(image.data(), image.size()), headers.path(), "pe.xml"), kOk) << reportText();

    std::size_t resourceFiles = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(onDisk.path())) {
        if (!entry.is_regular_file()) continue;
        const std::filesystem::path relative = entry.path().lexically_relative(onDisk.path());
        if (std::filesystem::exists(headers.path() / relative)) {
            EXPECT_EQ(readBytes(headers.path() / relative), readBytes(entry.path())) << relative;
            continue;
        }
        const HeldBytes* held = memory.find(relative.generic_string());
        ASSERT_NE(held, nullptr) << relative;
        EXPECT_TRUE(std::ranges::equal(held->bytes, readBytes(entry.path()))) << relative;
        ++resourceFiles;
    }
    EXPECT_EQ(memory.size(), resourceFiles);
    EXPECT_TRUE(memory.contains("strings.xml"));
    // The folder gets the headers and the description only.
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(headers.path()))
        written.insert(entry.path().lexically_relative(headers.path()).generic_string());
    EXPECT_EQ(written, (std::set<std::string>{std::string(kDosHeaderFileName), std::string(kNtHeaderFileName),
                                              "pe.xml"}));
    EXPECT_EQ(dump.xmlText(), readText(onDisk / "pe.xml"));

    auto described = readDescription(onDisk.path());
    ASSERT_TRUE(described.has_value());
    const HeldBytes* plain = memory.find(findDumped(*described, u"AVI", 5, 1033)->file);
    ASSERT_NE(plain, nullptr);
    EXPECT_GE(plain->bytes.data(), image.data());
    EXPECT_LE(plain->bytes.data() + plain->bytes.size(), image.data() + image.size());
}

TEST(ImportResources, NamedTypesAndNamedBitmaps) {
    pb::ByteVector dib = pb::makeDib({8, 8, 24, false, false, false, 1});
    auto imported = import(pb::buildImage(planWith({raw(u"AVI", 5, 1033, "riff"),
                                                    raw(u"HTML", 5, 1033, "<html>"),
                                                    {pb::kRtBitmap, u"NORMAL_BMP", 1033, dib},
                                                    {pb::kRtBitmap, u"BLUE_ARROW_BMP", 1033, dib}})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    EXPECT_EQ(findDumped(imported->resources, u"AVI", 5, 1033)->file, "AVI00005.AVI");
    EXPECT_EQ(findDumped(imported->resources, u"HTML", 5, 1033)->file, "HTML00005");
    EXPECT_EQ(findDumped(imported->resources, pb::kRtBitmap, u"NORMAL_BMP", 1033)->file, "NORMAL.BMP");
    EXPECT_EQ(findDumped(imported->resources, pb::kRtBitmap, u"BLUE_ARROW_BMP", 1033)->file,
              "BLUE\\ARROW.BMP");
    EXPECT_EQ(readBytes(imported->dir / "BLUE" / "ARROW.BMP"), pb::bmpFileFromDib(dib));
    EXPECT_NE(readText(imported->dir / "pe.xml")
                  .find("<Directory Type='0' Name='AVI' Named_Entries='0' ID_Entries='1'>"),
              std::string::npos);
}

TEST(ImportResources, CursorFileHoldsTheImageAndTheHotSpot) {
    pb::IconImage cursor = pb::makeCursorImage(32, 4, 5, 7);
    auto imported = import(pb::buildImage(planWith({{pb::kRtCursor, 3, 1033, cursor.data}})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    const DumpedResource* dumped = findDumped(imported->resources, pb::kRtCursor, 3, 1033);
    ASSERT_NE(dumped, nullptr);
    EXPECT_EQ(dumped->file, "Cursor00003.CUR");
    std::vector<std::byte> file = imported->file(*dumped);
    ASSERT_EQ(file.size(), 22 + cursor.data.size() - 4);
    ByteReader reader(Bytes(file.data(), file.size()));
    EXPECT_EQ(reader.u16(2), 2);   // cursor
    EXPECT_EQ(reader.u8(6), 32);   // width
    EXPECT_EQ(reader.u8(7), 32);   // height (half the DIB height)
    EXPECT_EQ(reader.u8(8), 16);   // colours
    EXPECT_EQ(reader.u16(10), 5);  // hot spot x
    EXPECT_EQ(reader.u16(12), 7);  // hot spot y
    EXPECT_EQ(reader.u32(14), cursor.data.size() - 4);
    EXPECT_EQ(reader.u32(18), 22u);
    EXPECT_EQ(tail(file, 22), tail(cursor.data, 4));
    EXPECT_EQ(dumped->size, static_cast<std::int64_t>(cursor.data.size() - 4));
}

TEST(ImportResources, ShortIconAndCursorResourcesAreWrittenSafely) {
    auto imported = import(
        pb::buildImage(planWith({raw(pb::kRtCursor, 1, 1033, "ab"), raw(pb::kRtIcon, 2, 1033, "tiny icon"),
                                 raw(pb::kRtBitmap, 3, 1033, std::string("\x28\0\0\0\x10", 5))})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    EXPECT_EQ(std::filesystem::file_size(imported->dir / "Cursor00001.CUR"), 22u);
    EXPECT_EQ(std::filesystem::file_size(imported->dir / "Icon00002.ICO"), 22u + 9);
    std::vector<std::byte> bmp = readBytes(imported->dir / "Bitmap00003.BMP");
    ASSERT_EQ(bmp.size(), 14u + 5);
    EXPECT_EQ(ByteReader(Bytes(bmp.data(), bmp.size())).u32(10), 19u);  // clamped to the file
}

TEST(ImportResources, PngIconImageTakesItsSizeFromTheHeader) {
    pb::IconImage png = pb::makePngIconImage(256);
    pb::IconImage small = pb::makePngIconImage(48);
    auto imported = import(
        pb::buildImage(planWith({{pb::kRtIcon, 1, 1033, png.data}, {pb::kRtIcon, 2, 1033, small.data}})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    std::vector<std::byte> big = readBytes(imported->dir / "Icon00001.ICO");
    std::vector<std::byte> little = readBytes(imported->dir / "Icon00002.ICO");
    EXPECT_EQ(big[6], std::byte{0});  // 256 is stored as 0
    EXPECT_EQ(big[7], std::byte{0});
    EXPECT_EQ(little[6], std::byte{48});
    EXPECT_EQ(little[7], std::byte{48});
    EXPECT_EQ(little[8], std::byte{0});
    EXPECT_EQ(tail(big, 22), png.data);
}

TEST(ImportResources, ZeroSizedDataGivesAnEntryWithoutFile) {
    auto imported = import(pb::buildImage(planWith({{pb::kRtRcData, 1, 1033, {}}})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    ASSERT_EQ(imported->resources.size(), 1u);
    EXPECT_TRUE(imported->resources[0].file.empty());
    EXPECT_FALSE(std::filesystem::exists(imported->dir / "1000001"));
}

struct BitmapCase {
    const char* what;
    pb::DibPlan dib;
    int png;      // what the File element records
    bool badBox;  // the bit-field message box
};

class ImportBitmaps : public ::testing::TestWithParam<BitmapCase> {};

TEST_P(ImportBitmaps, FileHeaderAndPngStep) {
    const BitmapCase& param = GetParam();
    pb::ByteVector dib = pb::makeDib(param.dib);
    RecordingSink sink;
    auto imported = import(pb::buildImage(planWith({{pb::kRtBitmap, 1, 1033, dib}})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    const DumpedResource* dumped = findDumped(imported->resources, pb::kRtBitmap, 1, 1033);
    ASSERT_NE(dumped, nullptr);
    EXPECT_EQ(dumped->file, "Bitmap00001.BMP");
    EXPECT_EQ(dumped->size, static_cast<std::int64_t>(dib.size()));
    EXPECT_EQ(dumped->png, param.png);
    EXPECT_EQ(std::filesystem::exists(imported->dir / "Bitmap00001.png"), param.png == 1);
    if (param.png == 0) {
        std::vector<std::byte> expected = pb::bmpFileFromDib(dib);
        if (param.dib.v5Header) expected[10] = std::byte{14 + 124};  // masks are inside the V5 header
        EXPECT_EQ(readBytes(imported->dir / "Bitmap00001.BMP"), expected);
    } else {
        EXPECT_FALSE(std::filesystem::exists(imported->dir / "Bitmap00001.BMP"));
    }
    EXPECT_EQ(sink.messages.size(), param.badBox ? 1u : 0u);
    if (param.badBox && !sink.messages.empty()) {
        EXPECT_EQ(sink.messages[0], "Bad: biCompression");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ImportBitmaps,
    ::testing::Values(BitmapCase{"OneBit", {9, 5, 1, false, false, false, 1}, 0, false},
                      BitmapCase{"FourBit", {13, 7, 4, false, false, false, 2}, 0, false},
                      BitmapCase{"EightBit", {16, 16, 8, false, false, false, 3}, 0, false},
                      BitmapCase{"TwentyFourTopDown", {17, 9, 24, false, true, false, 4}, 0, false},
                      BitmapCase{"SixteenBitFields", {8, 8, 16, true, false, false, 5}, 0, true},
                      BitmapCase{"ThirtyTwoToPng", {48, 48, 32, false, false, false, 6}, 1, false},
                      BitmapCase{"ThirtyTwoBitFieldsKeepsBmp", {40, 20, 32, true, false, false, 7}, 0, true},
                      BitmapCase{"ThirtyTwoV5KeepsBmp", {16, 16, 32, true, false, true, 8}, 0, true}),
    [](const auto& info) { return std::string(info.param.what); });

// The pixels of a 32-bit DIB without colour masks: the last width × height × 4 bytes.
std::vector<std::uint8_t> dibPixels(const pb::ByteVector& dib, const pb::DibPlan& plan) {
    const std::size_t bytes =
        static_cast<std::size_t>(plan.width) * static_cast<std::size_t>(plan.height) * 4;
    std::vector<std::uint8_t> out(bytes);
    std::memcpy(out.data(), dib.data() + dib.size() - bytes, bytes);
    return out;
}

// Many 32-bit bitmaps are converted at the same time; each PNG must hold its own bitmap's pixels
// (alpha included), the description must list them in tree order, and a bitmap the converter
// refuses among them stays a .BMP with its flag 0.
TEST(ImportResources, ManyThirtyTwoBitBitmapsBecomePngsWithTheirOwnPixels) {
    std::vector<pb::Resource> resources;
    std::vector<pb::DibPlan> plans;
    for (std::uint16_t id = 1; id <= 14; ++id) {
        const bool refused = id == 6 || id == 11;
        plans.push_back({static_cast<std::int32_t>(8 + 7 * id), static_cast<std::int32_t>(5 + 3 * id), 32,
                         refused, id % 3 == 0, false, id});
        resources.push_back({pb::kRtBitmap, id, 1033, pb::makeDib(plans.back())});
    }
    auto imported = import(pb::buildImage(planWith(resources)));
    ASSERT_EQ(imported->result, kOk) << reportText();
    ASSERT_EQ(imported->resources.size(), resources.size());
    for (std::uint16_t id = 1; id <= 14; ++id) {
        const pb::DibPlan& plan = plans[id - 1];
        const DumpedResource& dumped = imported->resources[id - 1];
        char name[32];
        std::snprintf(name, sizeof name, "Bitmap%05u.BMP", static_cast<unsigned>(id));
        ASSERT_EQ(dumped.file, name);
        const pb::ByteVector& dib = resources[id - 1].data;
        EXPECT_EQ(dumped.size, static_cast<std::int64_t>(dib.size())) << name;
        const std::filesystem::path png = imported->dir / pngSiblingName(name);
        if (plan.bitfields) {
            EXPECT_EQ(dumped.png, 0) << name;
            EXPECT_FALSE(std::filesystem::exists(png)) << name;
            EXPECT_EQ(readBytes(imported->dir / name), pb::bmpFileFromDib(dib)) << name;
            continue;
        }
        EXPECT_EQ(dumped.png, 1) << name;
        EXPECT_FALSE(std::filesystem::exists(imported->dir / name)) << name;
        ImageRecord record;
        ASSERT_EQ(PngConverter().ReadPngFile(png, record), kOk) << name;
        ASSERT_EQ(record.width, plan.width);
        ASSERT_EQ(record.height, plan.height);
        ASSERT_EQ(record.bitDepth, 32);
        std::vector<std::uint8_t> expected = dibPixels(dib, plan);
        if (plan.topDown) {
            // The decoded record is bottom-up; the DIB stores the top row first.
            const std::size_t row = static_cast<std::size_t>(plan.width) * 4;
            std::vector<std::uint8_t> flipped(expected.size());
            for (std::int32_t y = 0; y < plan.height; ++y)
                std::memcpy(flipped.data() + row * static_cast<std::size_t>(plan.height - 1 - y),
                            expected.data() + row * static_cast<std::size_t>(y), row);
            expected = std::move(flipped);
        }
        EXPECT_EQ(record.pixels, expected) << name;
    }
}

// Importing again into a used folder: a .BMP left beside a new PNG, or a PNG beside a bitmap that
// stays .BMP, would be an outdated copy and is removed.
TEST(ImportResources, LeftoversBesideConvertedBitmapsAreRemoved) {
    TempDir dir;
    const pb::ByteVector image =
        pb::buildImage(planWith({{pb::kRtBitmap, 1, 1033, pb::makeDib({12, 9, 32, false, false, false, 1})},
                                 {pb::kRtBitmap, 2, 1033, pb::makeDib({12, 9, 32, true, false, false, 2})}}));
    const std::string stale = "stale";
    ASSERT_EQ(WriteWholeFile(dir / "Bitmap00001.BMP", asBytes(stale)), kOk);
    ASSERT_EQ(WriteWholeFile(dir / "Bitmap00002.png", asBytes(stale)), kOk);
    ASSERT_EQ(dumpInto(image, dir.path()), kOk) << reportText();
    EXPECT_FALSE(std::filesystem::exists(dir / "Bitmap00001.BMP"));
    ImageRecord record;
    EXPECT_EQ(PngConverter().ReadPngFile(dir / "Bitmap00001.png", record), kOk);
    EXPECT_FALSE(std::filesystem::exists(dir / "Bitmap00002.png"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Bitmap00002.BMP"));
}

// Visual styles hold hundreds of bit-field bitmaps: one box for the first, and a count for the
// caller's summary.
TEST(ImportResources, BitFieldBitmapsShowOneBoxAndAreCounted) {
    TempDir dir;
    const std::filesystem::path pe = dir / "theme.dll";
    const pb::ByteVector image =
        pb::buildImage(planWith({{pb::kRtBitmap, 1, 1033, pb::makeDib({8, 8, 16, true, false, false, 1})},
                                 {pb::kRtBitmap, 2, 1033, pb::makeDib({8, 8, 32, true, false, false, 2})},
                                 {pb::kRtBitmap, 3, 1033, pb::makeDib({8, 8, 8, false, false, false, 3})},
                                 {pb::kRtBitmap, 4, 1033, pb::makeDib({8, 8, 32, true, false, true, 4})}}));
    ASSERT_EQ(WriteWholeFile(pe, asBytes(image)), kOk);
    RecordingSink sink;
    std::filesystem::path project;
    ImportSummary summary{.bitFieldBitmaps = 99};
    ASSERT_EQ(DecompileFile(pe, dir / "work", project, &summary), kOk) << reportText();
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Bad: biCompression"});
    EXPECT_EQ(summary.bitFieldBitmaps, 3);
    EXPECT_TRUE(std::filesystem::exists(dir / "work/Bitmap00004.BMP"));
}

// A core header keeps its sizes in 16-bit fields at 4 and 6 and its bit count at 10; the directory
// entry of the .ICO takes them from there.
TEST(ImportResources, CoreHeaderIconGetsItsEntryFromTheCoreFields) {
    ByteWriter dib;
    dib.u32(12);
    dib.u16(16);
    dib.u16(32);  // colour and mask rows
    dib.u16(1);
    dib.u16(4);
    for (int i = 0; i < 16 * 3; ++i)
        dib.u8(0x77);
    dib.zeros(16 * 8 + 16 * 4);
    auto imported = import(pb::buildImage(planWith({{pb::kRtIcon, 1, 1033, dib.bytes()}})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    const std::vector<std::byte> file = readBytes(imported->dir / "Icon00001.ICO");
    const ByteReader reader(Bytes(file.data(), file.size()));
    EXPECT_EQ(reader.u8(6), 16);  // width
    EXPECT_EQ(reader.u8(7), 16);  // height
    EXPECT_EQ(reader.u8(8), 16);  // colours
    EXPECT_EQ(tail(file, 22), dib.bytes());
}

TEST(ImportResources, NamedBitmapWithoutBmpExtensionIsNotConverted) {
    pb::ByteVector dib = pb::makeDib({8, 8, 32, false, false, false, 1});
    auto imported = import(pb::buildImage(planWith({{pb::kRtBitmap, u"NOR", 1033, dib}})));
    ASSERT_EQ(imported->result, kOk) << reportText();
    const DumpedResource* dumped = findDumped(imported->resources, pb::kRtBitmap, u"NOR", 1033);
    EXPECT_EQ(dumped->png, 0);
    EXPECT_EQ(readBytes(imported->dir / "NOR"), pb::bmpFileFromDib(dib));
    EXPECT_FALSE(std::filesystem::exists(imported->dir / "NORpng"));
}

// ----- Hostile trees -----

class ImportRefusesMalformedTree : public ::testing::TestWithParam<pb::TreeFault> {};

TEST_P(ImportRefusesMalformedTree, WithoutDescription) {
    pb::ImagePlan plan = planWith({raw(pb::kRtRcData, u"NAMED", 1033, "a"), raw(pb::kRtRcData, 2, 1033, "b"),
                                   raw(pb::kRtRcData, 2, 2052, "c")});
    plan.resourceOptions.fault = GetParam();
    TempDir dir;
    EXPECT_EQ(dumpInto(pb::buildImage(plan), dir.path()), kFail);
    EXPECT_NE(reportText().find("当 dumping 资源 (.rsrc) 部分的时候发生错误"), std::string::npos);
    EXPECT_NE(reportText().find("Failed in DumpResourceDirectory for "), std::string::npos);
    if (GetParam() == pb::TreeFault::kDataOffsetPastSection) {
        // Named by type, name and language, with the address, the way a packed file is met.
        EXPECT_NE(reportText().find("资源 RCDATA NAMED (1033) 的数据位于资源节之外（0x"), std::string::npos)
            << reportText();
        EXPECT_NE(reportText().find("for resource NAMED of type RCDATA"), std::string::npos) << reportText();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
}

INSTANTIATE_TEST_SUITE_P(Faults, ImportRefusesMalformedTree,
                         ::testing::Values(pb::TreeFault::kEntryPointsAtItsOwnDirectory,
                                           pb::TreeFault::kEntryPointsAtRoot,
                                           pb::TreeFault::kDataOffsetPastSection,
                                           pb::TreeFault::kDataSizePastSection, pb::TreeFault::kNamePastEnd,
                                           pb::TreeFault::kCountLargerThanData));

// Patches one resource tree built from a single resource: root → type → name → language → data.
struct TreePatch {
    const char* what;
    void (*apply)(pb::ByteVector& section, const ResourceReader& reader);
};

void writeU32(pb::ByteVector& bytes, std::uint32_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
}

// Offset of the first entry of the directory at `offset`.
std::uint32_t firstEntry(std::uint32_t offset) {
    return offset + kResourceDirectoryHeaderSize;
}

std::uint32_t childOf(const ResourceReader& reader, std::uint32_t offset) {
    return reader.directory(offset)->entries.at(0).target();
}

class ImportRefusesPatchedTree : public ::testing::TestWithParam<TreePatch> {};

TEST_P(ImportRefusesPatchedTree, AsAFormatError) {
    pb::ImagePlan plan = planWith({raw(pb::kRtRcData, 1, 1033, "data")});
    pb::BuiltImage built = pb::buildImageWithLayout(plan);
    const pb::SectionLayout* rsrc = nullptr;
    for (const auto& section : built.sections)
        if (section.name == ".rsrc") rsrc = &section;
    ASSERT_NE(rsrc, nullptr);
    pb::ByteVector section(built.bytes.begin() + rsrc->rawOffset,
                           built.bytes.begin() + rsrc->rawOffset + rsrc->rawSize);
    ResourceReader reader(Bytes(section.data(), section.size()), rsrc->virtualAddress);
    GetParam().apply(section, reader);
    std::copy(section.begin(), section.end(), built.bytes.begin() + rsrc->rawOffset);
    TempDir dir;
    EXPECT_EQ(dumpInto(built.bytes, dir.path()), kFail);
    EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
}

INSTANTIATE_TEST_SUITE_P(
    Patches, ImportRefusesPatchedTree,
    ::testing::Values(TreePatch{"DataAtTypeLevel",
                                [](pb::ByteVector& s, const ResourceReader& r) {
                                    std::uint32_t typeDir = childOf(r, 0);
                                    writeU32(s, firstEntry(0) + 4,
                                             childOf(r, childOf(r, typeDir)) & 0x7FFFFFFF);
                                    (void)typeDir;
                                }},
                      TreePatch{"DataAtNameLevel",
                                [](pb::ByteVector& s, const ResourceReader& r) {
                                    std::uint32_t typeDir = childOf(r, 0);
                                    std::uint32_t nameDir = childOf(r, typeDir);
                                    writeU32(s, firstEntry(typeDir) + 4, childOf(r, nameDir));
                                }},
                      TreePatch{"LanguageLeadsToDirectory",
                                [](pb::ByteVector& s, const ResourceReader& r) {
                                    std::uint32_t nameDir = childOf(r, childOf(r, 0));
                                    // An unvisited, well-formed directory: a copy of the language directory's
                                    // header with no entries, placed over the data entry.
                                    std::uint32_t data = childOf(r, nameDir);
                                    for (std::uint32_t i = 0; i < 16; ++i)
                                        s[data + i] = std::byte{0};
                                    writeU32(s, firstEntry(nameDir) + 4, 0x80000000u | data);
                                }},
                      TreePatch{"NamedLanguage",
                                [](pb::ByteVector& s, const ResourceReader& r) {
                                    std::uint32_t nameDir = childOf(r, childOf(r, 0));
                                    s[nameDir + 12] = std::byte{1};  // one named entry, no ID entries
                                    s[nameDir + 14] = std::byte{0};
                                    writeU32(s, firstEntry(nameDir),
                                             0x80000000u);  // name at offset 0 (empty)
                                }},
                      TreePatch{"SharedSubdirectory",
                                [](pb::ByteVector& s, const ResourceReader& r) {
                                    // The name directory's entry points back at its own directory's parent.
                                    std::uint32_t typeDir = childOf(r, 0);
                                    std::uint32_t nameDir = childOf(r, typeDir);
                                    writeU32(s, firstEntry(nameDir) + 4, 0x80000000u | typeDir);
                                }}),
    [](const auto& info) { return std::string(info.param.what); });

// Many entries sharing one large data entry must not turn a small file into gigabytes of output.
TEST(ImportResources, SharedDataCannotMultiplyTheOutput) {
    std::vector<pb::Resource> resources;
    resources.push_back({pb::kRtRcData, 1, 1033, pb::ByteVector(2u << 20, std::byte{0x5A})});
    for (std::uint16_t id = 2; id < 64; ++id)
        resources.push_back(raw(pb::kRtRcData, id, 1033, "x"));
    pb::BuiltImage built = pb::buildImageWithLayout(planWith(resources));
    const pb::SectionLayout* rsrc = nullptr;
    for (const auto& section : built.sections)
        if (section.name == ".rsrc") rsrc = &section;
    ASSERT_NE(rsrc, nullptr);
    Bytes section(built.bytes.data() + rsrc->rawOffset, rsrc->rawSize);
    ResourceReader reader(section, rsrc->virtualAddress);
    std::uint32_t typeDir = childOf(reader, 0);
    std::vector<std::uint32_t> dataEntries;
    ResourceDirectory names = *reader.directory(typeDir);
    for (const auto& name : names.entries)
        dataEntries.push_back(childOf(reader, name.target()));
    ResourceDataEntry big = *reader.dataEntry(dataEntries.front());
    for (std::uint32_t entry : dataEntries) {
        writeU32(built.bytes, rsrc->rawOffset + entry, big.rva);
        writeU32(built.bytes, rsrc->rawOffset + entry + 4, big.size);
    }
    TempDir dir;
    EXPECT_EQ(dumpInto(built.bytes, dir.path()), kFail);
    EXPECT_FALSE(std::filesystem::exists(dir / "pe.xml"));
}

}  // namespace
}  // namespace kestrel::testing
