// The resource compiler on working folders that an editor, a user or a hostile file has changed.
#include <gtest/gtest.h>

#include <functional>

#include "compile_compare.h"
#include "compile_test_support.h"

namespace kestrel::testing {
namespace {

pb::ImagePlan smallPlan() {
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, 1, pb::kLangEnUs, pb::bytesOf("alpha")});
    plan.resources.push_back({pb::kRtRcData, 2, pb::kLangEnUs, pb::bytesOf("beta")});
    pb::addIconGroup(plan.resources, 1, pb::kLangEnUs, 1, {pb::makeIconImage(16, 8, 1)});
    pb::addCursorGroup(plan.resources, 200, pb::kLangEnUs, 1, {pb::makeCursorImage(32, 1, 5, 9, 2)});
    plan.resources.push_back({pb::kRtIcon, u"MAINICON", pb::kLangEnUs, pb::makeIconImage(32, 32, 3).data});
    plan.resources.push_back(
        {pb::kRtBitmap, 102, pb::kLangEnUs, pb::makeDib({8, 4, 32, false, false, false, 4})});
    plan.resources.push_back(
        {pb::kRtBitmap, 103, pb::kLangEnUs, pb::makeDib({8, 4, 8, false, false, false, 5})});
    return plan;
}

// An .ICO or .CUR file: directory, one 16-byte entry per image, then the images in order.
std::vector<std::byte> iconFile(std::uint16_t type, const std::vector<std::vector<std::byte>>& images,
                                std::uint16_t hotX = 0, std::uint16_t hotY = 0) {
    ByteWriter out;
    out.u16(0);
    out.u16(type);
    out.u16(static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (const auto& image : images) {
        out.u8(32);
        out.u8(32);
        out.u8(0);
        out.u8(0);
        out.u16(type == 2 ? hotX : 1);
        out.u16(type == 2 ? hotY : 32);
        out.u32(static_cast<std::uint32_t>(image.size()));
        out.u32(offset);
        offset += static_cast<std::uint32_t>(image.size());
    }
    for (const auto& image : images)
        out.append(Bytes(image.data(), image.size()));
    return out.bytes();
}

class CompileResources : public ::testing::Test {
  protected:
    CompileSink sink;
    WorkingFolder work{pb::buildImage(smallPlan())};

    std::vector<std::byte> compiledResource(const std::string& key) {
        HResult hr = work.compile();
        EXPECT_TRUE(hr.succeeded()) << errorText();
        return resourceOf(readBytes(work.output()), key);
    }
    void expectFailure(std::string_view inError) {
        HResult hr = work.compile();
        EXPECT_TRUE(hr.failed());
        EXPECT_NE(errorText().find(inError), std::string::npos) << errorText();
        EXPECT_FALSE(std::filesystem::exists(work.output()));
        ASSERT_FALSE(sink.messages.empty());
        EXPECT_EQ(sink.messages.back(), "TEST: 编译失败");
    }
};

// --- pe.xml that disagrees with itself ---------------------------------------------------------

struct MismatchCase {
    const char* name;
    const char* from;
    const char* to;
    const char* named;  // the element the report must name
};

class CountMismatch : public CompileResources, public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(CountMismatch, FailsNamingTheElement) {
    const MismatchCase& c = GetParam();
    replaceInFile(work.folder / "pe.xml", c.from, c.to);
    expectFailure(c.named);
}

INSTANTIATE_TEST_SUITE_P(
    PeXml, CountMismatch,
    ::testing::Values(
        MismatchCase{"FewerEntriesThanCounted", "<Directory Type='10' Named_Entries='0' ID_Entries='2'>",
                     "<Directory Type='10' Named_Entries='0' ID_Entries='3'>",
                     "<Directory Type='10' Named_Entries='0' ID_Entries='3'>"},
        MismatchCase{"MoreEntriesThanCounted", "<Directory Type='10' Named_Entries='0' ID_Entries='2'>",
                     "<Directory Type='10' Named_Entries='0' ID_Entries='1'>",
                     "<Directory Type='10' Named_Entries='0' ID_Entries='1'>"},
        MismatchCase{"IdEntryCountedAsNamed", "<Directory Type='10' Named_Entries='0' ID_Entries='2'>",
                     "<Directory Type='10' Named_Entries='1' ID_Entries='1'>",
                     "<Entry ID='1' Directory='1'>"},
        MismatchCase{"SubdirectoryMissing",
                     "<Entry ID='1033' Directory='0'>\r\n            <File Name='1000001'",
                     "<Entry ID='1033' Directory='1'>\r\n            <File Name='1000001'",
                     "<Entry ID='1033' Directory='1'>"},
        MismatchCase{
            "SubdirectoryNotAnnounced", "<Entry ID='2' Directory='1'>\r\n        <Directory Type='2'",
            "<Entry ID='2' Directory='0'>\r\n        <Directory Type='2'", "<Entry ID='2' Directory='0'>"},
        MismatchCase{"IdOutOfRange", "<Entry ID='2' Directory='1'>", "<Entry ID='70000' Directory='1'>",
                     "<Entry ID='70000' Directory='1'>"},
        MismatchCase{"RootIsNotADirectory", "<Directory Type='0' Named_Entries='0'",
                     "<Folder Type='0' Named_Entries='0'", "Directory"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Files that cannot be used ---------------------------------------------------------------------

TEST_F(CompileResources, MissingResourceFileFailsTheCompile) {
    std::filesystem::remove(work.file("1000002"));
    expectFailure("1000002");
}

// Every file is read once, when the section is laid out. A file that changes between the layout
// and the writing (an editor saving it) cannot shift or cut what follows: the section holds the
// bytes the layout measured.
TEST_F(CompileResources, AFileThatChangesAfterTheLayoutLeavesTheSectionAsLaidOut) {
    auto sectionWith = [&](const std::function<void()>& betweenPasses) {
        CResCompiler compiler;
        compiler.setWorkingFolder(work.folder);
        compiler.setTrace([](std::string_view) {});
        EXPECT_EQ(compiler.ProcessXML(work.folder / "pe.xml"), kOk);
        std::uint64_t size = 0;
        EXPECT_EQ(compiler.MeasureRoot(0x3000, size), kOk);
        betweenPasses();
        std::vector<std::byte> section(static_cast<std::size_t>(size));
        EXPECT_EQ(compiler.WriteRoot(section), kOk);
        return section;
    };
    const std::vector<std::byte> unchanged = sectionWith([] {});
    for (const char* name : {"1000001", "Icon00001.ICO", "Cursor00001.CUR"}) {
        std::vector<std::byte> original = readBytes(work.file(name));
        std::vector<std::byte> longer = original, shorter = original;
        longer.push_back(std::byte{0});
        shorter.pop_back();
        for (const auto* content : {&longer, &shorter}) {
            SCOPED_TRACE(std::string(name) + ", " + std::to_string(content->size()) + " bytes");
            EXPECT_EQ(sectionWith([&] { overwrite(work.file(name), *content); }), unchanged);
            overwrite(work.file(name), original);
        }
    }
}

TEST_F(CompileResources, NamesOutsideTheWorkingFolderAreRefused) {
    for (const char* name : {"..\\outside.bin", "/etc/hostname", "sub/../../outside.bin"}) {
        SCOPED_TRACE(name);
        std::string text = readText(work.folder / "pe.xml");
        replaceInFile(work.folder / "pe.xml", "File Name='1000002'", std::string("File Name='") + name + "'");
        work.temp.write("outside.bin", "must not be read");
        expectFailure(name);
        overwrite(work.folder / "pe.xml", text);
    }
}

// A file is read under its name as written when it is there, else found in another case (an
// editor that saved it in lower case); the resource is the same either way.
TEST_F(CompileResources, FilesInAnotherCaseAreStillFound) {
    const std::vector<std::byte> asWritten = compiledResource("i:3/i:1/1033");
    ASSERT_FALSE(asWritten.empty());
    std::filesystem::rename(work.file("Icon00001.ICO"), work.folder / "icon00001.ico");
    EXPECT_EQ(compiledResource("i:3/i:1/1033"), asWritten);

    // A bitmap kept as a BMP file is tried under its name as written first as well.
    const std::vector<std::byte> bitmap = compiledResource("i:2/i:103/1033");
    ASSERT_FALSE(bitmap.empty());
    std::filesystem::rename(work.file("Bitmap00103.BMP"), work.folder / "bitmap00103.bmp");
    EXPECT_EQ(compiledResource("i:2/i:103/1033"), bitmap);
}

// Numbers are read from the stored text unless it holds a character reference, which is decoded
// first: an ID written as a reference is the same ID.
TEST_F(CompileResources, NumberWrittenAsCharacterReference) {
    const std::vector<std::byte> beta = compiledResource("i:10/i:2/1033");
    ASSERT_FALSE(beta.empty());
    replaceInFile(work.folder / "pe.xml", "<Entry ID='2' Directory='1'>\r\n        <Directory Type='2'",
                  "<Entry ID='&#50;' Directory='1'>\r\n        <Directory Type='2'");
    EXPECT_EQ(compiledResource("i:10/i:2/1033"), beta);
    // Checked as decoded, named as written.
    std::filesystem::remove(work.output());
    replaceInFile(work.folder / "pe.xml", "<Entry ID='&#50;'", "<Entry ID='&#55;0000'");
    expectFailure("<Entry ID='&#55;0000' Directory='1'>");
}

struct ShortFileCase {
    const char* file;
    std::size_t keep;
};

class ShortFile : public CompileResources, public ::testing::WithParamInterface<ShortFileCase> {};

TEST_P(ShortFile, ShorterThanItsHeaderFailsTheCompile) {
    auto path = work.file(GetParam().file);
    auto bytes = readBytes(path);
    bytes.resize(GetParam().keep);
    overwrite(path, bytes);
    expectFailure(GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(Headers, ShortFile,
                         ::testing::Values(ShortFileCase{"Icon00001.ICO", 21},
                                           ShortFileCase{"Cursor00001.CUR", 12},
                                           ShortFileCase{"Bitmap00103.BMP", 13}));

TEST_F(CompileResources, SizeZeroMeansNoDataAndNoFileRead) {
    replaceInFile(work.folder / "pe.xml", "<File Name='1000001' Size='5'/>",
                  "<File Name='1000001' Size='0'/>");
    std::filesystem::remove(work.file("1000001"));
    EXPECT_TRUE(compiledResource("i:10/i:1/1033").empty());
}

// --- Icons and cursors --------------------------------------------------------------------------

TEST_F(CompileResources, IconReplacedBySingleImageOfAnotherSize) {
    auto image = pb::makeIconImage(48, 32, 9).data;
    overwrite(work.folder / "Icon00001.ICO", iconFile(1, {image}));
    EXPECT_EQ(compiledResource("i:3/i:1/1033"), image);
}

TEST_F(CompileResources, MultiImageIconTakesTheFirstImage) {
    auto first = pb::makeIconImage(32, 8, 10).data;
    auto second = pb::makeIconImage(16, 4, 11).data;
    overwrite(work.folder / "Icon00001.ICO", iconFile(1, {first, second}));
    EXPECT_EQ(compiledResource("i:3/i:1/1033"), first);
}

// Only the directory is read at layout time, as far as the file goes: a count of more entries
// than the file holds leaves the layout the import writes, the image right after the first entry.
TEST_F(CompileResources, IconDirectoryCountingMoreEntriesThanTheFileHolds) {
    auto image = pb::makeIconImage(16, 4, 14).data;
    auto file = iconFile(1, {image});
    file[4] = std::byte{200};
    overwrite(work.folder / "Icon00001.ICO", file);
    EXPECT_EQ(compiledResource("i:3/i:1/1033"), image);
}

TEST_F(CompileResources, CursorKeepsTheHotSpotOfItsFile) {
    auto image = pb::makeIconImage(32, 1, 12).data;
    overwrite(work.folder / "Cursor00001.CUR", iconFile(2, {image, pb::makeIconImage(16, 1, 13).data}, 3, 7));
    auto resource = compiledResource("i:1/i:1/1033");
    ASSERT_EQ(resource.size(), image.size() + 4);
    EXPECT_EQ(u16At(resource, 0), 3);
    EXPECT_EQ(u16At(resource, 2), 7);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), resource.begin() + 4));
}

TEST_F(CompileResources, NamedIconLosesItsFileHeader) {
    // The import stores the icon named MAINICON as the file MAINICON in .ICO format.
    ASSERT_EQ(u16At(readBytes(work.file("MAINICON")), 2), 1);
    EXPECT_EQ(compiledResource("i:3/n:MAINICON/1033"), pb::makeIconImage(32, 32, 3).data);
}

// --- Bitmaps stored as PNG -----------------------------------------------------------------------

TEST_F(CompileResources, PngBitmapIsConvertedInMemoryAndTheFolderStaysUntouched) {
    ASSERT_TRUE(std::filesystem::exists(work.folder / "Bitmap00102.png"));
    auto before = folderListing(work.folder);
    auto original = resourceOf(work.image, "i:2/i:102/1033");
    auto rebuilt = compiledResource("i:2/i:102/1033");
    EXPECT_EQ(dibPixels(original), dibPixels(rebuilt));
    auto after = folderListing(work.folder);
    after.erase(work.original.filename().string());
    EXPECT_EQ(before, after);
}

TEST_F(CompileResources, PngBitmapNamedWithItsPngExtension) {
    replaceInFile(work.folder / "pe.xml", "File Name='Bitmap00102.BMP'", "File Name='Bitmap00102.png'");
    auto rebuilt = compiledResource("i:2/i:102/1033");
    EXPECT_EQ(dibPixels(resourceOf(work.image, "i:2/i:102/1033")), dibPixels(rebuilt));
    EXPECT_TRUE(std::filesystem::exists(work.folder / "Bitmap00102.png"));
}

TEST_F(CompileResources, UserBmpIsUsedWhenThePngIsGoneAndKept) {
    auto dib = pb::makeDib({6, 3, 24, false, false, false, 20});
    std::filesystem::remove(work.folder / "Bitmap00102.png");
    overwrite(work.folder / "Bitmap00102.BMP", pb::bmpFileFromDib(dib));
    EXPECT_EQ(compiledResource("i:2/i:102/1033"), dib);
    EXPECT_TRUE(std::filesystem::exists(work.folder / "Bitmap00102.BMP"));
    // Saved by an editor in another case, it is still found.
    std::filesystem::rename(work.folder / "Bitmap00102.BMP", work.folder / "bitmap00102.bmp");
    EXPECT_EQ(compiledResource("i:2/i:102/1033"), dib);
}

// With several bitmaps stored as PNG, the PNGs are decoded before the layout on every core; each
// resource still gets its own pixels, a PNG named by two entries serves both, and a PNG that cannot
// be decoded fails the compile naming it, whichever thread came to it first.
TEST(CompilePngBitmaps, DecodedAheadEachResourceGetsItsOwnPixels) {
    CompileSink sink;
    pb::ImagePlan plan;
    for (std::uint16_t id = 1; id <= 9; ++id)
        plan.resources.push_back(
            {pb::kRtBitmap, id, pb::kLangEnUs,
             pb::makeDib({.width = 3 + id, .height = 2 + id % 4, .bitCount = 32, .seed = 40u + id})});
    WorkingFolder work{pb::buildImage(plan)};
    for (std::uint16_t id = 1; id <= 9; ++id)
        ASSERT_TRUE(std::filesystem::exists(work.folder / ("Bitmap0000" + std::to_string(id) + ".png")))
            << id;

    // Entry 9 is made to name the PNG of entry 8; the PNG of entry 3 is saved in another case, so
    // that only the layout's look-up finds it.
    replaceInFile(work.folder / "pe.xml", "File Name='Bitmap00009.BMP'", "File Name='Bitmap00008.BMP'");
    std::filesystem::rename(work.folder / "Bitmap00003.png", work.folder / "bitmap00003.PNG");
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    const std::vector<std::byte> rebuilt = readBytes(work.output());
    for (std::uint16_t id = 1; id <= 9; ++id) {
        SCOPED_TRACE(id);
        const std::string from = "i:2/i:" + std::to_string(id == 9 ? 8 : id) + "/1033";
        const auto expected = dibPixels(resourceOf(work.image, from));
        const auto got = dibPixels(resourceOf(rebuilt, "i:2/i:" + std::to_string(id) + "/1033"));
        ASSERT_TRUE(expected && got);
        EXPECT_EQ(*got, *expected);
    }

    overwrite(work.folder / "Bitmap00005.png", "not a png either");
    EXPECT_TRUE(work.compile().failed());
    EXPECT_NE(errorText().find("Bitmap00005.png"), std::string::npos) << errorText();
}

TEST_F(CompileResources, UnreadablePngWithoutBmpFailsTheCompile) {
    overwrite(work.folder / "Bitmap00102.png", "not a png");
    expectFailure("Bitmap00102.png");
}

// A file put in place of a bitmap's .BMP must be a BMP file: a picture of another kind is named
// as what it is, anything else by its first bytes, and neither is compiled. A BMP file from
// elsewhere, whose pixels lie after a gap, gives the packed DIB.
TEST_F(CompileResources, OnlyBmpFilesBecomeBitmaps) {
    const std::filesystem::path bitmap = work.folder / "Bitmap00103.BMP";
    struct Case {
        std::string bytes;
        std::string named;
    };
    const Case cases[] = {
        {"\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00" + std::string(40, 'j'),
         "JPEG"},
        {"GIF89a" + std::string(40, 'g'), "GIF"},
        {"text that is no picture at all" + std::string(40, 't'), "74 65 78 74"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        overwrite(bitmap, c.bytes);
        expectFailure(c.named);
        EXPECT_NE(errorText().find("Bitmap00103.BMP"), std::string::npos) << errorText();
    }

    const auto dib = pb::makeDib({6, 3, 24, false, false, false, 20});
    auto file = pb::bmpFileFromDib(dib);
    const std::size_t pixels = u32At(file, 10);
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(pixels), 16, std::byte{0xEE});
    putU32At(file, 10, static_cast<std::uint32_t>(pixels + 16));
    overwrite(bitmap, file);
    EXPECT_EQ(compiledResource("i:2/i:103/1033"), dib);
}

// --- Layout ----------------------------------------------------------------------------------------

TEST_F(CompileResources, EveryResourceStartsOnAnEightByteBoundary) {
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    auto rebuilt = readBytes(work.output());
    ResourceLookup lookup;
    ASSERT_TRUE(lookup.open(Bytes(rebuilt.data(), rebuilt.size())).succeeded());
    std::size_t checked = 0;
    for (const auto& type : lookup.types())
        for (const auto& name : lookup.names(type))
            for (std::uint16_t language : lookup.languages(type, name)) {
                auto data = lookup.find(type, name, language);
                ASSERT_TRUE(data);
                EXPECT_EQ((data->data() - reinterpret_cast<const std::byte*>(rebuilt.data())) % 8, 0);
                ++checked;
            }
    EXPECT_EQ(checked, resourcesOf(work.image).size());
}

TEST(CompileNames, NamedEntriesKeepTheirCaseAndUtf16Length) {
    CompileSink sink;
    pb::ImagePlan plan;
    std::vector<std::u16string> names = {u"MixedCase", u"Grüße中文", std::u16string(80, u'名')};
    if (TempDir().holdsLoneSurrogateNames()) names.push_back(std::u16string(u"lone\xD800surrogate"));
    for (const auto& name : names)
        plan.resources.push_back({u"Custom", name, pb::kLangEnUs, pb::bytesOf("x")});
    plan.resources.push_back({u"Custom", 5, pb::kLangEnUs, pb::bytesOf("id after names")});
    WorkingFolder work(pb::buildImage(plan));
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    auto rebuilt = readBytes(work.output());
    ResourceLookup lookup;
    ASSERT_TRUE(lookup.open(Bytes(rebuilt.data(), rebuilt.size())).succeeded());
    std::vector<std::u16string> found;
    std::size_t idEntries = 0;
    for (const auto& key : lookup.names(ResourceKey::ofName(u"Custom"))) {
        if (key.isName)
            found.push_back(key.name);
        else
            ++idEntries;
    }
    std::vector<std::u16string> expected(std::begin(names), std::end(names));
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
    EXPECT_EQ(idEntries, 1u);
    EXPECT_EQ(expectSameResources(work.image, rebuilt), names.size() + 1);
}

// --- Data entry code pages --------------------------------------------------------------------------

// The code page of every data entry: key "type/name/language" as resourcesOf gives it.
std::map<std::string, std::uint32_t> codePagesOf(const std::vector<std::byte>& image) {
    std::map<std::string, std::uint32_t> out;
    ResourceLookup lookup;
    if (lookup.open(Bytes(image.data(), image.size())).failed()) return out;
    const ResourceReader& reader = lookup.reader();
    auto text = [&](const ResourceDirectoryEntry& entry) {
        if (!entry.named) return "i:" + std::to_string(entry.id());
        return "n:" + utf16ToUtf8(reader.name(entry.nameOffset()).value_or(u"?"));
    };
    auto level = [&](std::uint32_t offset) {
        return reader.directory(offset).value_or(ResourceDirectory{}).entries;
    };
    for (const auto& type : level(0))
        for (const auto& name : level(type.target()))
            for (const auto& language : level(name.target()))
                if (auto entry = reader.dataEntry(language.target()))
                    out[text(type) + "/" + text(name) + "/" + std::to_string(language.id())] =
                        entry->codePage;
    return out;
}

TEST(CompileCodePages, NonZeroCodePagesSurviveTheRoundTripAndOnlyThoseAreDescribed) {
    CompileSink sink;
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, 1, pb::kLangEnUs, pb::bytesOf("western text"), 1252});
    plan.resources.push_back({pb::kRtRcData, 2, pb::kLangEnUs, pb::bytesOf("no code page")});
    ByteWriter block;
    block.u16(2);
    block.u16(u'h');
    block.u16(u'i');
    for (int i = 1; i < 16; ++i)
        block.u16(0);
    plan.resources.push_back({pb::kRtString, 1, pb::kLangEnUs, block.bytes(), 936});
    plan.resources.push_back(
        {pb::kRtBitmap, 7, pb::kLangEnUs, pb::makeDib({8, 4, 32, false, false, false, 4}), 65001});
    WorkingFolder work(pb::buildImage(plan));

    const std::string description = readText(work.folder / "pe.xml");
    EXPECT_NE(description.find("CodePage='1252'"), std::string::npos) << description;
    EXPECT_NE(description.find("CodePage='936'"), std::string::npos) << description;
    EXPECT_NE(description.find("Png='1' CodePage='65001'"), std::string::npos) << description;
    EXPECT_EQ(description.find("CodePage='0'"), std::string::npos) << description;

    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    const std::map<std::string, std::uint32_t> expected{
        {"i:10/i:1/1033", 1252}, {"i:10/i:2/1033", 0}, {"i:6/i:1/1033", 936}, {"i:2/i:7/1033", 65001}};
    EXPECT_EQ(codePagesOf(readBytes(work.output())), expected);
    expectSameResources(work.image, readBytes(work.output()));

    // A description written before code pages were kept compiles every one of them as 0.
    std::string old = description;
    for (const char* attribute : {" CodePage='1252'", " CodePage='936'", " CodePage='65001'"})
        old.erase(old.find(attribute), std::string_view(attribute).size());
    overwrite(work.folder / "pe.xml", old);
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    for (const auto& [key, codePage] : codePagesOf(readBytes(work.output())))
        EXPECT_EQ(codePage, 0u) << key;

    // A code page that is not a 32-bit number is refused, naming the element.
    replaceInFile(work.folder / "pe.xml", "Size='12'/>", "Size='12' CodePage='-1'/>");
    EXPECT_TRUE(work.compile().failed());
    EXPECT_NE(errorText().find("CodePage"), std::string::npos) << errorText();
}

// The section is written from many pieces: resources short and long (long ones go to the file
// from where they were read, a large one is read only then), odd lengths, a cursor whose hot spot precedes
// its image, more pieces and bytes than one batch of the writer holds. Every resource comes back whole and in
// its place, and the checksum, summed batch by batch, is the checksum of the whole file.
TEST(CompileGathered, ManyPiecesOfOddLengthsComeBackWholeWithTheRightChecksum) {
    CompileSink sink;
    pb::ImagePlan plan;
    for (std::uint16_t id = 1; id <= 1500; ++id) {
        std::string data((id * 37u) % 1999 + 1, static_cast<char>('a' + id % 26));
        data.front() = static_cast<char>(id & 0xFF);
        plan.resources.push_back({pb::kRtRcData, id, pb::kLangEnUs, pb::bytesOf(data)});
    }
    pb::addCursorGroup(plan.resources, 200, pb::kLangEnUs, 1, {pb::makeCursorImage(32, 1, 5, 9, 2)});
    // Large enough to be read only when the section is written, between two held pieces.
    std::string large(300001, 'L');
    large[150000] = 'M';
    plan.resources.push_back({pb::kRtRcData, 3000, pb::kLangEnUs, pb::bytesOf(large)});
    plan.resources.push_back({pb::kRtRcData, 3001, pb::kLangEnUs, pb::bytesOf(std::string(999, 'T'))});
    std::vector<std::byte> image = pb::buildImage(plan);
    PeFields fields(image);
    const std::size_t checksumAt = fields.lfanew + nt_field::kCheckSum;
    putU32At(image, checksumAt, pb::peChecksum(image, checksumAt));
    const auto before = resourcesOf(image);

    WorkingFolder work(image);
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    std::vector<std::byte> rebuilt = readBytes(work.output());
    EXPECT_EQ(resourcesOf(rebuilt), before);
    EXPECT_EQ(u32At(rebuilt, checksumAt), pb::peChecksum(rebuilt, checksumAt));
    // A changed resource (one byte longer: every later piece moves to an odd offset) makes a
    // new checksum.
    const std::string grown(((7u * 37u) % 1999 + 1) + 1, 'z');
    bool found = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(work.folder)) {
        if (!entry.is_regular_file() || readBytes(entry.path()) != before.at("i:10/i:7/1033")) continue;
        overwrite(entry.path(), grown);
        found = true;
    }
    ASSERT_TRUE(found);
    ASSERT_TRUE(work.compile().succeeded()) << errorText();
    rebuilt = readBytes(work.output());
    EXPECT_EQ(resourceOf(rebuilt, "i:10/i:7/1033"), pb::bytesOf(grown));
    EXPECT_EQ(resourceOf(rebuilt, "i:10/i:1500/1033"), before.at("i:10/i:1500/1033"));
    EXPECT_EQ(u32At(rebuilt, checksumAt), pb::peChecksum(rebuilt, checksumAt));
}

}  // namespace
}  // namespace kestrel::testing
