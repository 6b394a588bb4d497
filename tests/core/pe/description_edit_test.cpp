// Adding, replacing and deleting resources in the description: the edited folder must compile into
// a file whose resources are what was added, and that file must import back into the same
// description.
#include <gtest/gtest.h>

#include <set>

#include "compile_test_support.h"
#include "core/images/bmp_reader.h"
#include "core/images/icon_files.h"
#include "core/images/png_codec.h"
#include "core/images/png_icon_group.h"
#include "core/pe/description_edit.h"
#include "core/xml/xml_document.h"
#include "pe_builder/oracle.h"

namespace kestrel::testing {
namespace {

using Bytes8 = std::vector<std::byte>;

const std::filesystem::path kOracle = std::filesystem::path(KESTREL_SOURCE_DIR) / "tools" / "pe_resources.py";

ResourceKey id(std::uint16_t value) {
    return ResourceKey::ofId(value);
}
ResourceKey named(std::u16string_view text) {
    return ResourceKey::ofName(std::u16string(text));
}

// An .ico or .cur file holding `images`; a cursor image's hot spot moves into its entry.
Bytes8 iconFile(const std::vector<pb::IconImage>& images, bool cursor) {
    ByteWriter out;
    out.u16(0);
    out.u16(cursor ? 2 : 1);
    out.u16(static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (const pb::IconImage& image : images) {
        const std::size_t size = image.data.size() - (cursor ? 4 : 0);
        out.u8(image.width & 0xFF);
        out.u8(image.height & 0xFF);
        out.u8(image.colorCount);
        out.u8(0);
        out.u16(cursor ? u16At(image.data, 0) : 1);
        out.u16(cursor ? u16At(image.data, 2) : image.bitCount);
        out.u32(static_cast<std::uint32_t>(size));
        out.u32(offset);
        offset += static_cast<std::uint32_t>(size);
    }
    for (const pb::IconImage& image : images)
        out.append(asBytes(image.data).subspan(cursor ? 4 : 0));
    return std::move(out.bytes());
}

Bytes8 tail(const Bytes8& bytes, std::size_t from) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end()};
}

// Compares resource maps key by key, so that a failure names the resource.
void expectResources(const std::map<std::string, Bytes8>& actual,
                     const std::map<std::string, Bytes8>& expected) {
    auto keys = [](const std::map<std::string, Bytes8>& map) {
        std::vector<std::string> out;
        for (const auto& [key, bytes] : map)
            out.push_back(key);
        return out;
    };
    ASSERT_EQ(keys(actual), keys(expected));
    for (const auto& [key, bytes] : expected) {
        const Bytes8& got = actual.at(key);
        const std::size_t common = std::min(got.size(), bytes.size());
        const auto first =
            std::mismatch(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(common), bytes.begin());
        EXPECT_TRUE(got == bytes) << key << ": " << got.size() << " bytes, expected " << bytes.size()
                                  << ", first difference at " << (first.first - got.begin());
    }
}

// The files the description names (their Name attributes).
std::vector<std::string> describedFiles(const std::filesystem::path& peXml) {
    XmlDocument document;
    EXPECT_TRUE(document.LoadFile(peXml).succeeded());
    std::vector<std::string> names;
    auto walk = [&](auto& self, const XmlElement* element) -> void {
        for (; element; element = element->next()) {
            if (element->name() == "File")
                names.push_back(XmlDocument::FindAttribute(element, "Name")->value());
            self(self, element->firstChild());
        }
    };
    walk(walk, document.documentNode()->next());
    return names;
}

// pe.xml as the elements and decoded attributes in document order, one line per element.
std::string outline(const std::filesystem::path& peXml) {
    XmlDocument document;
    EXPECT_TRUE(document.LoadFile(peXml).succeeded()) << pathToUtf8(peXml);
    std::string text;
    auto walk = [&](auto& self, const XmlElement* element, int depth) -> void {
        for (; element; element = element->next()) {
            text += std::string(2 * depth, ' ') + std::string(element->name());
            for (const XmlAttribute* a = element->firstAttribute(); a; a = a->next())
                text += " " + std::string(a->name()) + "=" + a->value();
            text += "\n";
            self(self, element->firstChild(), depth + 1);
        }
    };
    walk(walk, document.documentNode()->next(), 0);
    return text;
}

// A working folder with its description loaded, saved and compiled the way the project does it.
struct Project {
    CompileSink sink;
    WorkingFolder work;
    XmlDocument description;

    explicit Project(pb::ByteVector image) : work(std::move(image)) { load(); }
    void load() { EXPECT_TRUE(description.LoadFile(work.folder / "pe.xml").succeeded()); }

    XmlElement* add(const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
                    const std::filesystem::path& source) {
        XmlElement* added = nullptr;
        HResult hr = AddResource(description, work.folder, type, name, language, source, added);
        EXPECT_TRUE(hr.succeeded()) << std::hex << hr.value() << "\n" << errorText();
        return added;
    }
    XmlElement* find(const ResourceKey& type, const ResourceKey& name,
                     std::uint16_t language = pb::kLangEnUs) {
        return FindResourceEntry(description, type, name, language);
    }
    // Writes pe.xml back (the tree is released) and compiles; the compiled file's bytes.
    Bytes8 saveAndCompile() {
        EXPECT_TRUE(description.SaveFile().succeeded());
        EXPECT_TRUE(work.compile().succeeded()) << errorText();
        load();
        return readBytes(work.output());
    }
};

pb::ImagePlan planWith(std::vector<pb::Resource> resources, bool pe32Plus = false) {
    pb::ImagePlan plan;
    plan.withResourceSection = !resources.empty();
    plan.resources = std::move(resources);
    plan.pe32Plus = pe32Plus;
    return plan;
}

class AddToFileWithoutResources : public ::testing::TestWithParam<bool> {};

TEST_P(AddToFileWithoutResources, CompiledResourcesAreTheAddedOnesAndImportBackIntoTheSameDescription) {
    Project project(pb::buildImage(planWith({}, GetParam())));
    TempDir sources;
    const std::vector<pb::IconImage> icons = {pb::makeIconImage(16, 4, 1), pb::makeIconImage(32, 8, 2),
                                              pb::makePngIconImage(256, 3)};
    const std::vector<pb::IconImage> cursors = {pb::makeCursorImage(32, 1, 3, 7, 4),
                                                pb::makeCursorImage(48, 8, 10, 12, 5)};
    const Bytes8 version = pb::makeVersionInfo(pb::defaultVersionPlan());
    const Bytes8 rgbaPng = pb::makePngIconImage(48, 6).data;
    const Bytes8 dib24 = pb::makeDib({.width = 20, .height = 10, .bitCount = 24, .seed = 7});
    const Bytes8 dib32 = pb::makeDib({.width = 12, .height = 9, .bitCount = 32, .seed = 8});
    Bytes8 rgbPng;  // the 24-bit bitmap as an RGB PNG
    {
        ImageRecord record;
        ASSERT_EQ(ReadBmp("rgb", asBytes(pb::bmpFileFromDib(dib24)), record), kOk);
        ASSERT_TRUE(WritePng(record, rgbPng).succeeded());
    }
    const Bytes8 settings = pb::bytesOf("volume=11\r\n");

    XmlElement* group = project.add(id(14), id(1), 1033, sources.write("app.ico", iconFile(icons, false)));
    project.add(id(12), id(2), 1033, sources.write("arrow.cur", iconFile(cursors, true)));
    project.add(id(16), id(1), 1033, sources.write("version.bin", version));
    project.add(id(2), id(101), 1033, sources.write("logo.png", rgbaPng));
    project.add(id(2), id(102), 1033, sources.write("rgb.png", rgbPng));
    project.add(id(2), id(103), 1033, sources.write("alpha.bmp", pb::bmpFileFromDib(dib32)));
    project.add(id(2), named(u"SPLASH_BMP"), 1033, sources.write("splash.bmp", pb::bmpFileFromDib(dib24)));
    project.add(named(u"CONFIG"), named(u"Default_Settings"), 2052, sources.write("settings.ini", settings));
    auto described = DescribeResourceEntry(project.description, group);
    ASSERT_TRUE(described.has_value());
    EXPECT_EQ(described->type, id(14));
    EXPECT_EQ(described->language, 1033);

    // 32-bit bitmaps are kept as PNG beside the .BMP name (a given PNG as it is), others as BMP.
    auto png = [&](const ResourceKey& name) {
        XmlElement* entry = project.find(id(2), name);
        XmlAttribute* attribute = XmlDocument::FindAttribute(entry ? entry->firstChild() : nullptr, "Png");
        return attribute ? attribute->value() : "missing";
    };
    EXPECT_EQ(png(id(101)), "1");
    EXPECT_EQ(png(id(102)), "0");
    EXPECT_EQ(png(id(103)), "1");
    EXPECT_EQ(png(named(u"SPLASH_BMP")), "0");
    EXPECT_EQ(readBytes(project.work.folder / "Bitmap00101.png"), rgbaPng);
    EXPECT_FALSE(std::filesystem::exists(project.work.folder / "Bitmap00103.BMP"));
    EXPECT_TRUE(std::filesystem::exists(project.work.folder / "SPLASH.BMP"));

    const Bytes8 compiled = project.saveAndCompile();
    PngConverter converter;
    Bytes8 rgbBmp;
    ASSERT_TRUE(converter.ConvertPngToBmpBytes(asBytes(rgbPng), rgbBmp).succeeded());
    Bytes8 rgbaBmp;
    ASSERT_TRUE(converter.ConvertPngToBmpBytes(asBytes(rgbaPng), rgbaBmp).succeeded());
    // Kept as PNG, the 32-bit bitmap comes back whole: its resolution travels in the PNG.
    const std::map<std::string, Bytes8> expected = {
        {"i:3/i:1/1033", icons[0].data},
        {"i:3/i:2/1033", icons[1].data},
        {"i:3/i:3/1033", icons[2].data},
        {"i:14/i:1/1033", pb::makeIconGroup({{icons[0], 1}, {icons[1], 2}, {icons[2], 3}})},
        {"i:1/i:1/1033", cursors[0].data},
        {"i:1/i:2/1033", cursors[1].data},
        {"i:12/i:2/1033", pb::makeCursorGroup({{cursors[0], 1}, {cursors[1], 2}})},
        {"i:16/i:1/1033", version},
        {"i:2/i:101/1033", tail(rgbaBmp, 14)},
        {"i:2/i:102/1033", tail(rgbBmp, 14)},
        {"i:2/i:103/1033", dib32},
        {"i:2/n:SPLASH_BMP/1033", dib24},
        {"n:CONFIG/n:Default_Settings/2052", settings},
    };
    expectResources(resourcesOf(compiled), expected);

    // The independent reader (where it runs) sees the same resources.
    if (pb::oracleRuns()) {
        std::string error;
        auto listing = pb::readWithOracle(kOracle, project.work.output(), &error);
        ASSERT_TRUE(listing.has_value()) << error;
        std::map<std::string, Bytes8> seen;
        for (const auto& resource : listing->resources)
            seen[resource.type + "/" + resource.name + "/" + std::to_string(resource.language)] =
                resource.data;
        expectResources(seen, expected);
    }

    // Imported again, the file gives the edited description and the same resource files (PNGs are
    // encoded anew by the import).
    WorkingFolder again(compiled);
    EXPECT_EQ(outline(again.folder / "pe.xml"), outline(project.work.folder / "pe.xml"));
    for (const std::string& name : describedFiles(again.folder / "pe.xml"))
        EXPECT_TRUE(readBytes(again.file(name)) == readBytes(project.work.file(name))) << name;
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, AddToFileWithoutResources, ::testing::Bool());

TEST(DescriptionEdit, NewEntriesTakeTheLinkersOrderAmongExistingOnes) {
    std::vector<pb::Resource> resources = {{u"MIDDLE", 5, 1033, pb::bytesOf("m")},
                                           {pb::kRtRcData, u"beta", 1033, pb::bytesOf("b")},
                                           {pb::kRtRcData, 20, 1033, pb::bytesOf("20")},
                                           {pb::kRtManifest, 1, 1033, pb::makeManifest()}};
    Project project(pb::buildImage(planWith(resources)));
    TempDir sources;
    const auto data = sources.write("data.bin", std::string_view("data"));
    for (std::u16string name : {u"gamma", u"Alpha", u"betA2"})
        project.add(id(10), named(name), 1033, data);
    for (std::uint16_t number : {30, 7})
        project.add(id(10), id(number), 1033, data);
    project.add(id(10), id(20), 2052, data);
    project.add(id(10), id(20), 0, data);
    project.add(named(u"ZEBRA"), id(1), 1033, data);
    project.add(named(u"aardvark"), id(1), 1033, data);
    project.add(id(5), id(1), 1033, data);

    const Bytes8 compiled = project.saveAndCompile();
    ResourceLookup lookup;
    ASSERT_TRUE(lookup.open(asBytes(compiled)).succeeded());
    auto texts = [](const std::vector<ResourceKey>& keys) {
        std::vector<std::string> out;
        for (const ResourceKey& key : keys)
            out.push_back(key.isName ? utf16ToUtf8(key.name) : std::to_string(key.id));
        return out;
    };
    EXPECT_EQ(texts(lookup.types()),
              (std::vector<std::string>{"aardvark", "MIDDLE", "ZEBRA", "5", "10", "24"}));
    EXPECT_EQ(texts(lookup.names(id(10))),
              (std::vector<std::string>{"Alpha", "beta", "betA2", "gamma", "7", "20", "30"}));
    EXPECT_EQ(lookup.languages(id(10), id(20)), (std::vector<std::uint16_t>{0, 1033, 2052}));
}

// Images with icon groups 1 (members 1 and 2) and 2 (members 2 and 3), a version block and a
// string table, all in one language; `foreignGroup` adds group 3 in another language that lists
// member 3, which exists in the first language only.
pb::ByteVector sharedMemberImage(const std::vector<pb::IconImage>& icons, bool foreignGroup = false) {
    std::vector<pb::Resource> resources;
    for (std::uint16_t i = 0; i < 3; ++i)
        resources.push_back({pb::kRtIcon, static_cast<std::uint16_t>(i + 1), 1033, icons[i].data});
    resources.push_back({pb::kRtGroupIcon, 1, 1033, pb::makeIconGroup({{icons[0], 1}, {icons[1], 2}})});
    resources.push_back({pb::kRtGroupIcon, 2, 1033, pb::makeIconGroup({{icons[1], 2}, {icons[2], 3}})});
    resources.push_back({pb::kRtVersion, 1, 1033, pb::makeVersionInfo(pb::defaultVersionPlan())});
    pb::addStrings(resources, 1033, {{1, u"one"}});
    if (foreignGroup) resources.push_back({pb::kRtGroupIcon, 3, 2052, pb::makeIconGroup({{icons[2], 3}})});
    return pb::buildImage(planWith(resources));
}

const std::vector<pb::IconImage> kSharedIcons = {pb::makeIconImage(16, 4, 1), pb::makeIconImage(32, 8, 2),
                                                 pb::makeIconImage(48, 24, 3)};

TEST(DescriptionEdit, RefusedAdditionsChangeNeitherTheDescriptionNorTheFolder) {
    Project project(sharedMemberImage(kSharedIcons));
    TempDir sources;
    const auto twoIcons = sources.write("two.ico", iconFile({kSharedIcons[0], kSharedIcons[1]}, false));
    Bytes8 truncated = iconFile({kSharedIcons[0]}, false);
    truncated.resize(truncated.size() - 1);
    const auto data = sources.write("data.bin", std::string_view("data"));
    const Bytes8 square = pb::makePngIconImage(48, 4).data;
    Bytes8 oblong = square;
    oblong[23] = std::byte{47};  // IHDR height
    project.add(id(2), id(1), 1033, sources.write("b.bmp", pb::bmpFileFromDib(pb::makeDib({}))));
    project.add(id(10), named(u"Config"), 1033, data);

    struct Case {
        ResourceKey type, name;
        std::uint16_t language;
        std::filesystem::path source;
        std::string message;
    };
    const std::vector<Case> cases = {
        {id(16), id(1), 1033, data, "已经存在"},
        {id(14), id(2), 1033, twoIcons, "已经存在"},
        {id(10), named(u"CONFIG"), 1033, data, "已经存在"},
        {id(2), id(1), 2052, sources.write("c.bmp", pb::bmpFileFromDib(pb::makeDib({}))), "只能保存一种语言"},
        {id(6), id(1), 2052, data, "STRINGS.XML"},
        {id(3), id(9), 1033, twoIcons, "有 2 个图象"},
        {id(12), id(9), 1033, twoIcons, "不是有效的 .cur 文件"},
        {id(14), id(9), 1033, sources.write("oblong.png", oblong), "不是正方形的 PNG 图片"},
        {id(12), id(9), 1033, sources.write("square.png", square), "不是有效的 .cur 文件"},
        {id(3), id(9), 1033, sources.write("cut.ico", truncated), "不是有效的 .ico 文件"},
        {id(2), id(9), 1033, data, "不是 BMP 文件"},
        {id(10), id(9), 1033, sources / "missing.bin", "未能打开"},
        {id(10), named(u""), 1033, data, "名称不能是空的"},
    };
    std::string before;
    ASSERT_TRUE(project.description.SaveToString(before).succeeded());
    const auto files = folderListing(project.work.folder);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ClearErrorRecord();
        XmlElement* added = nullptr;
        EXPECT_TRUE(
            AddResource(project.description, project.work.folder, c.type, c.name, c.language, c.source, added)
                .failed());
        EXPECT_EQ(added, nullptr);
        EXPECT_NE(errorText().find(c.message), std::string::npos) << errorText();
        std::string after;
        ASSERT_TRUE(project.description.SaveToString(after).succeeded());
        EXPECT_EQ(after, before);
        EXPECT_EQ(folderListing(project.work.folder), files);
    }
}

TEST(DescriptionEdit, DeletingAGroupTakesTheMembersNoOtherGroupUsesAndEmptyParents) {
    Project project(sharedMemberImage(kSharedIcons, true));
    auto remove = [&](XmlElement* entry) {
        return DeleteResource(project.description, project.work.folder, entry).succeeded();
    };
    // Member 2 stays for group 2 until that goes too; member 3 stays for group 3, whose language
    // has no member 3 of its own.
    EXPECT_TRUE(remove(project.find(id(14), id(1))));
    EXPECT_TRUE(project.find(id(3), id(2)));
    EXPECT_TRUE(remove(project.find(id(14), id(2))));
    EXPECT_TRUE(remove(project.find(id(16), id(1))));
    EXPECT_FALSE(remove(project.find(id(6), id(1))));
    EXPECT_NE(errorText().find("STRINGS.XML"), std::string::npos);
    EXPECT_FALSE(remove(project.description.documentNode()->next()));

    const auto resources = resourcesOf(project.saveAndCompile());
    std::vector<std::string> keys;
    for (const auto& [key, bytes] : resources)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"i:14/i:3/2052", "i:3/i:3/1033", "i:6/i:1/1033"}));
    EXPECT_TRUE(std::filesystem::exists(project.work.file("VERSION")));
    EXPECT_TRUE(std::filesystem::exists(project.work.file("Icon00001.ICO")));
}

TEST(DescriptionEdit, DeletingEverythingAddedCompilesBackToTheOriginalFile) {
    Project project(pb::buildImage(planWith({}, true)));
    const std::string empty = outline(project.work.folder / "pe.xml");
    TempDir sources;
    XmlElement* group =
        project.add(id(14), named(u"APP"), 0, sources.write("app.ico", iconFile(kSharedIcons, false)));
    XmlElement* bitmap = project.add(
        id(2), id(1), 0, sources.write("b.bmp", pb::bmpFileFromDib(pb::makeDib({.bitCount = 32}))));
    ASSERT_TRUE(DeleteResource(project.description, project.work.folder, group).succeeded());
    ASSERT_TRUE(DeleteResource(project.description, project.work.folder, bitmap).succeeded());
    EXPECT_EQ(project.saveAndCompile(), project.work.image);
    EXPECT_EQ(outline(project.work.folder / "pe.xml"), empty);
}

TEST(DescriptionEdit, ReplacingAGroupRewritesItAndDropsTheMembersNoGroupUsesAnyMore) {
    Project project(sharedMemberImage(kSharedIcons));
    TempDir sources;
    const std::vector<pb::IconImage> fresh = {pb::makeIconImage(24, 8, 9), pb::makePngIconImage(64, 10)};
    ASSERT_TRUE(ReplaceGroupFromIconFile(project.description, project.work.folder,
                                         project.find(id(14), id(1)),
                                         sources.write("new.ico", iconFile(fresh, false)))
                    .succeeded())
        << errorText();

    // Member 1 was group 1's alone and its ID is free again; 2 stays for group 2; the second new
    // image takes the first ID nothing uses.
    const Bytes8 compiled = project.saveAndCompile();
    const auto resources = resourcesOf(compiled);
    EXPECT_EQ(resources.at("i:14/i:1/1033"), pb::makeIconGroup({{fresh[0], 1}, {fresh[1], 4}}));
    EXPECT_EQ(resources.at("i:3/i:1/1033"), fresh[0].data);
    EXPECT_EQ(resources.at("i:3/i:4/1033"), fresh[1].data);
    EXPECT_EQ(resources.at("i:3/i:2/1033"), kSharedIcons[1].data);
    EXPECT_EQ(resources.at("i:3/i:3/1033"), kSharedIcons[2].data);
    EXPECT_EQ(resources.at("i:14/i:2/1033"), pb::makeIconGroup({{kSharedIcons[1], 2}, {kSharedIcons[2], 3}}));
    EXPECT_EQ(resources.size(), 8u);
    WorkingFolder again(compiled);
    EXPECT_EQ(outline(again.folder / "pe.xml"), outline(project.work.folder / "pe.xml"));

    EXPECT_TRUE(ReplaceGroupFromIconFile(project.description, project.work.folder,
                                         project.find(id(16), id(1)), sources / "new.ico")
                    .failed());
}

// A square PNG on an icon group, replaced or added, gives the group of every size, largest first,
// the largest being the picture itself; members no group uses any more go.
TEST(DescriptionEdit, AnIconGroupIsMadeFromASquarePng) {
    Project project(sharedMemberImage(kSharedIcons));
    TempDir sources;
    const Bytes8 picture = pb::makePngIconImage(256, 6).data;
    const auto png = sources.write("app.png", picture);
    ASSERT_TRUE(
        ReplaceGroupFromIconFile(project.description, project.work.folder, project.find(id(14), id(1)), png)
            .succeeded())
        << errorText();
    project.add(id(14), id(9), 2052, png);

    const auto resources = resourcesOf(project.saveAndCompile());
    for (const auto& [group, language] : {std::pair{"i:14/i:1/", 1033}, std::pair{"i:14/i:9/", 2052}}) {
        SCOPED_TRACE(group);
        const std::string suffix = std::to_string(language);
        const std::vector<GroupEntry> entries = ParseGroupEntries(asBytes(resources.at(group + suffix)));
        ASSERT_EQ(entries.size(), kPngIconSizes.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].shownWidth, kPngIconSizes[i] & 0xFF);
            const Bytes8& member = resources.at("i:3/i:" + std::to_string(entries[i].id) + "/" + suffix);
            EXPECT_EQ(HasPngSignature(asBytes(member)), i == 0);
            if (i == 0) {
                EXPECT_EQ(member, picture);
            }
        }
    }
    // Member 1 was group 1's alone; 2 and 3 stay for group 2.
    EXPECT_EQ(resources.count("i:3/i:2/1033") + resources.count("i:3/i:3/1033"), 2u);
    EXPECT_EQ(resources.at("i:14/i:2/1033"), pb::makeIconGroup({{kSharedIcons[1], 2}, {kSharedIcons[2], 3}}));
}

TEST(DescriptionEdit, InsertedAndRemovedElementsKeepTheTreeAndItsWalksConsistent) {
    XmlDocument document;
    ASSERT_TRUE(document.Parse(std::string_view("<A><B/><D/></A>")).succeeded());
    XmlElement* a = document.FindElement("/A");
    XmlElement* d = document.FindElement("/A/D");
    XmlElement* c = document.InsertElement(a, d, "C");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(document.GetCurrent(), c);
    XmlElement* e = document.InsertElement(a, nullptr, "E");
    XmlElement* f = document.InsertElement(c, nullptr, "F");
    EXPECT_EQ(f->depth(), 2u);
    EXPECT_EQ(document.InsertElement(a, f, "X"), nullptr);  // f is not a child of A
    EXPECT_EQ(document.InsertElement(document.documentNode(), nullptr, "X"), nullptr);
    EXPECT_EQ(document.FindElement("/A/C/F"), f);
    EXPECT_EQ(document.FindElement("/A/E"), e);

    document.SetCurrent(f);
    document.RemoveElement(c);
    EXPECT_EQ(document.GetCurrent(), a);
    EXPECT_EQ(document.FindElement("/A/C"), nullptr);
    document.RemoveElement(document.FindElement("/A/B"));
    std::string text;
    ASSERT_TRUE(document.SaveToString(text).succeeded());
    EXPECT_EQ(text, "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<A>\r\n   <D/>\r\n   <E/>\r\n</A>\r\n");
    document.RemoveElement(a);
    EXPECT_TRUE(document.empty());
    EXPECT_EQ(document.GetCurrent(), document.documentNode());
}

// A language copied: every resource of the source language but its bitmaps compiles in the new one
// with the same bytes (string blocks through new STRINGS.XML lines), the original ones keep theirs,
// and a copy that would clash, or has nothing to copy, changes nothing.
TEST(DescriptionEdit, AddLanguageCopiesEveryResourceOfTheLanguageAndRefusesClashes) {
    Project project(pb::buildSampleImage());
    const auto original = resourcesOf(project.work.image);
    // Czech (1029) sorts before U.S. English: its string blocks become the first ones described, and
    // the English lines without a language must keep theirs.
    constexpr std::uint16_t kCopy = 0x0405;
    LanguageCopy copy;
    ASSERT_TRUE(AddLanguage(project.description, project.work.folder, pb::kLangEnUs, kCopy, copy).succeeded())
        << errorText();
    EXPECT_NE(copy.first, nullptr);
    EXPECT_GT(copy.stringBlocks, 0u);
    EXPECT_GT(copy.strings, 0u);

    // Refusals, each leaving the description and the folder as they are.
    std::string before;
    ASSERT_TRUE(project.description.SaveToString(before).succeeded());
    const auto files = folderListing(project.work.folder);
    struct Refusal {
        std::uint16_t source, target;
        std::string message;
    };
    for (const Refusal& refusal :
         {Refusal{pb::kLangEnUs, kCopy, "已经存在"}, Refusal{pb::kLangEnUs, pb::kLangEnUs, "相同"},
          Refusal{0x0419, 0x0422, "没有语言为"}}) {
        SCOPED_TRACE(refusal.message);
        ClearErrorRecord();
        LanguageCopy refused;
        EXPECT_TRUE(
            AddLanguage(project.description, project.work.folder, refusal.source, refusal.target, refused)
                .failed());
        EXPECT_NE(errorText().find(refusal.message), std::string::npos) << errorText();
        std::string after;
        ASSERT_TRUE(project.description.SaveToString(after).succeeded());
        EXPECT_EQ(after, before);
        EXPECT_EQ(folderListing(project.work.folder), files);
    }

    const auto compiled = resourcesOf(project.saveAndCompile());
    const std::string english = "/" + std::to_string(pb::kLangEnUs);
    const std::string czech = "/" + std::to_string(kCopy);
    std::size_t copied = 0, bitmaps = 0;
    for (const auto& [key, bytes] : original) {
        ASSERT_TRUE(compiled.count(key)) << key;
        EXPECT_EQ(compiled.at(key), bytes) << key;
        if (!key.ends_with(english)) continue;
        const std::string copyKey = key.substr(0, key.size() - english.size()) + czech;
        if (key.starts_with("i:2/")) {
            ++bitmaps;
            continue;
        }
        ASSERT_TRUE(compiled.count(copyKey)) << copyKey;
        EXPECT_EQ(compiled.at(copyKey), bytes) << copyKey;
        ++copied;
    }
    EXPECT_EQ(compiled.size(), original.size() + copied);
    EXPECT_EQ(copy.resources + copy.stringBlocks, copied);
    EXPECT_EQ(copy.bitmapsLeft, bitmaps);
    // The copies' files follow the import's naming: the taken name gets the language.
    EXPECT_TRUE(std::filesystem::exists(project.work.file("VERSION~1029")));
}

// Replacing a resource's file: the plan names the questions and what is written before anything
// happens; a No leaves folder and description alone; a bitmap given a PNG keeps naming its .BMP.
TEST(DescriptionEdit, ReplacementPlansFollowTheProjectsRulesAndANoChangesNothing) {
    const Bytes8 dib = pb::makeDib({.width = 8, .height = 4, .bitCount = 24, .seed = 3});
    Project project(
        pb::buildImage(planWith({{pb::kRtBitmap, 101, pb::kLangEnUs, dib},
                                 {pb::kRtRcData, 200, pb::kLangEnUs, pb::bytesOf("two hundred")},
                                 {pb::kRtRcData, 201, pb::kLangEnUs, pb::bytesOf("two hundred one")}})));
    const std::filesystem::path folder = project.work.folder;
    auto fileOf = [&](std::uint16_t type, std::uint16_t name) {
        return project.find(id(type), id(name))->firstChild();
    };
    auto nameOf = [](const XmlElement* file) { return XmlDocument::FindAttribute(file, "Name")->value(); };
    TempDir sources;
    const auto yes = [](const FileReplacement::Ask&) { return true; };
    const auto no = [](const FileReplacement::Ask&) { return false; };

    // A bitmap given a PNG: the extension question, the PNG written beside, Name X.BMP and Png=1.
    XmlElement* bitmap = fileOf(2, 101);
    const std::filesystem::path bitmapFile = folder / nameOf(bitmap);
    const std::filesystem::path png = sources.write("logo.png", pb::makePngIconImage(16, 1).data);
    std::optional<FileReplacement> plan =
        PlanFileReplacement(project.description, bitmap, folder, bitmapFile, png);
    ASSERT_TRUE(plan.has_value());
    ASSERT_EQ(plan->questions.size(), 1u);
    EXPECT_EQ(plan->questions[0].question, FileReplacement::Question::kDifferentExtension);
    EXPECT_EQ(plan->written, folder / "logo.png");
    EXPECT_EQ(plan->storedName, "logo.BMP");
    EXPECT_EQ(plan->png, true);
    ASSERT_EQ(ReplaceResourceFile(project.description, bitmap, png, *plan, yes), kOk);
    EXPECT_EQ(nameOf(bitmap), "logo.BMP");
    EXPECT_EQ(XmlDocument::FindAttribute(bitmap, "Png")->value(), "1");
    EXPECT_EQ(readBytes(folder / "logo.png"), readBytes(png));

    // A file another resource uses is only overwritten after a Yes; a No changes nothing.
    XmlElement* data = fileOf(10, 200);
    const std::string dataName = nameOf(data);
    const std::filesystem::path other = folder / nameOf(fileOf(10, 201));
    const std::filesystem::path sameName = sources.write(pathToUtf8(other.filename()), "replacement");
    plan = PlanFileReplacement(project.description, data, folder, folder / dataName, sameName);
    ASSERT_TRUE(plan.has_value());
    ASSERT_FALSE(plan->questions.empty());
    EXPECT_EQ(plan->questions.back().question, FileReplacement::Question::kOverwriteOther);
    EXPECT_EQ(plan->questions.back().about, other);
    EXPECT_EQ(ReplaceResourceFile(project.description, data, sameName, *plan, no), kFalse);
    EXPECT_EQ(readText(other), "two hundred one");
    EXPECT_EQ(nameOf(data), dataName);

    // A string entry: STRINGS.XML is overwritten after its own question and the entry keeps its name.
    ASSERT_TRUE(DescribeStringBlock(project.description, 1, pb::kLangEnUs, 10).succeeded());
    XmlElement* strings = fileOf(6, 1);
    const std::filesystem::path chosen = sources.write("other.xml", "<STRINGS/>");
    plan = PlanFileReplacement(project.description, strings, folder, folder / "STRINGS.XML", chosen);
    ASSERT_TRUE(plan.has_value());
    ASSERT_EQ(plan->questions.size(), 1u);
    EXPECT_EQ(plan->questions[0].question, FileReplacement::Question::kOverwriteStrings);
    EXPECT_EQ(plan->written, folder / "STRINGS.XML");
    EXPECT_FALSE(plan->storedName.has_value());

    // The file the resource already has: nothing to do.
    EXPECT_FALSE(
        PlanFileReplacement(project.description, data, folder, folder / dataName, folder / dataName));
}

// Renaming a resource and moving it to another language: the entry and its file move together
// (a group takes its own members along), the compile finds them, and a clash changes nothing.
TEST(DescriptionEdit, RenamingAndChangingLanguageMoveEntriesAndFilesAndRefuseClashes) {
    pb::ImagePlan plan = planWith({{pb::kRtRcData, 200, pb::kLangEnUs, pb::bytesOf("two hundred")},
                                   {pb::kRtRcData, 201, pb::kLangEnUs, pb::bytesOf("two hundred one")}});
    const std::vector<pb::IconImage> icons = {pb::makeIconImage(16, 4, 1), pb::makeIconImage(32, 8, 2)};
    pb::addIconGroup(plan.resources, 1, pb::kLangEnUs, 1, icons);
    Project project(pb::buildImage(plan));
    const std::filesystem::path folder = project.work.folder;
    auto listing = [&] {
        std::set<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            files.insert(pathToUtf8(entry.path().lexically_relative(folder)));
        return files;
    };
    XmlElement* moved = nullptr;

    // Clashes: another resource's place, a member's place taken in the group's new language.
    std::string before;
    ASSERT_TRUE(project.description.SaveToString(before).succeeded());
    const std::set<std::string> filesBefore = listing();
    EXPECT_TRUE(MoveResource(project.description, folder, project.find(id(10), id(200)), id(201),
                             pb::kLangEnUs, moved)
                    .failed());
    EXPECT_NE(errorText().find("201"), std::string::npos);
    std::string after;
    ASSERT_TRUE(project.description.SaveToString(after).succeeded());
    EXPECT_EQ(after, before);
    EXPECT_EQ(listing(), filesBefore);
    {
        Project strings(pb::buildImage(planWith({})));
        ASSERT_TRUE(DescribeStringBlock(strings.description, 1, pb::kLangEnUs, 10).succeeded());
        EXPECT_TRUE(MoveResource(strings.description, strings.work.folder, strings.find(id(6), id(1)), id(2),
                                 pb::kLangEnUs, moved)
                        .failed());
        EXPECT_NE(strings.find(id(6), id(1)), nullptr);
    }

    // A rename to a name, a language change, a group with its members in another language.
    ASSERT_EQ(MoveResource(project.description, folder, project.find(id(10), id(200)), named(u"CONFIG"),
                           pb::kLangEnUs, moved),
              kOk);
    EXPECT_EQ(moved, project.find(id(10), named(u"CONFIG")));
    EXPECT_EQ(project.find(id(10), id(200)), nullptr);
    ASSERT_EQ(MoveResource(project.description, folder, project.find(id(10), id(201)), id(201), pb::kLangDeDe,
                           moved),
              kOk);
    ASSERT_EQ(
        MoveResource(project.description, folder, project.find(id(14), id(1)), id(1), pb::kLangDeDe, moved),
        kOk);
    EXPECT_NE(project.find(id(3), id(1), pb::kLangDeDe), nullptr);
    EXPECT_NE(project.find(id(3), id(2), pb::kLangDeDe), nullptr);
    EXPECT_EQ(project.find(id(3), id(1)), nullptr);
    // The same place again: nothing to do.
    EXPECT_EQ(MoveResource(project.description, folder, moved, id(1), pb::kLangDeDe, moved), kFalse);

    const auto resources = resourcesOf(project.saveAndCompile());
    std::vector<std::string> keys;
    for (const auto& [key, bytes] : resources)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"i:10/i:201/1031", "i:10/n:CONFIG/1033", "i:14/i:1/1031",
                                              "i:3/i:1/1031", "i:3/i:2/1031"}));
    EXPECT_EQ(resources.at("i:10/n:CONFIG/1033"), pb::bytesOf("two hundred"));
    EXPECT_EQ(resources.at("i:3/i:2/1031"), icons[1].data);
}

}  // namespace
}  // namespace kestrel::testing
