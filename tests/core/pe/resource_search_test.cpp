// Finding text across the resources of a working folder: every kind of text is found with a place
// that leads back to it, case is folded for Latin, Greek and Cyrillic only when asked, damaged
// resources are passed over, and offsets select the match in the text the text pane shows.
#include <gtest/gtest.h>

#include "core/pe/rc_script.h"
#include "core/pe/resource_search.h"
#include "core/pe/resource_types.h"
#include "core/pe/version_info.h"
#include "core/platform/text.h"

namespace kestrel::testing {
namespace {

std::vector<std::byte> compiled(HResult (*compile)(std::string_view, std::vector<std::byte>&, ScriptError&),
                                std::string_view script) {
    std::vector<std::byte> bytes;
    ScriptError error;
    EXPECT_TRUE(compile(script, bytes, error).succeeded()) << error.message;
    return bytes;
}

std::vector<std::byte> versionBytes() {
    VersionInfo info = MakeMinimalVersionInfo(0x409);
    SetVersionString(info, u"FileDescription", u"Shell folder helper");
    std::vector<std::byte> bytes;
    EXPECT_TRUE(WriteVersionInfo(info, bytes).succeeded());
    return bytes;
}

SearchResource resource(std::uint16_t type, ResourceKey name, std::uint16_t language = 1033) {
    return {ResourceKey::ofId(type), std::move(name), language};
}

std::vector<SearchHit> find(const ResourceSearchIndex& index, std::u16string_view typed,
                            SearchOptions options = {}) {
    std::vector<SearchHit> hits;
    auto query = MakeSearchQuery(typed, options);
    if (query) index.search(*query, 0, index.texts().size(), hits);
    return hits;
}

std::u16string matched(const SearchHit& hit) {
    return hit.excerpt.substr(hit.matchStart, hit.matchLength);
}

// One index holding a resource of every kind the search decodes.
class ResourceSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto dialog =
            compiled(CompileDialogScript,
                     "1 DIALOG 0, 0, 100, 50\nCAPTION \"Browse for Folder\"\nBEGIN\n"
                     "    CONTROL \"OK\", 1, 0x80, 0x50010001, 7, 7, 50, 14\n"
                     "    CONTROL \"&New Folder\", 14150, 0x80, 0x50010000, 7, 30, 50, 14\nEND\n");
        index.addResourceData(index.addResource(resource(resource_type::kDialog, ResourceKey::ofId(1))),
                              asBytes(dialog));
        const auto menu = compiled(CompileMenuScript,
                                   "2 MENU\nBEGIN\n  POPUP \"&View\"\n  BEGIN\n"
                                   "    MENUITEM \"Open &Folder\\tCtrl+O\", 300\n  END\nEND\n");
        index.addResourceData(index.addResource(resource(resource_type::kMenu, ResourceKey::ofId(2))),
                              asBytes(menu));
        const auto version = versionBytes();
        index.addResourceData(index.addResource(resource(resource_type::kVersion, ResourceKey::ofId(1))),
                              asBytes(version));
        manifest =
            "<?xml version='1.0'?>\r\n<assembly>\r\n  <description>Folder "
            "view</description>\r\n</assembly>\r\n";
        index.addResourceData(index.addResource(resource(resource_type::kManifest, ResourceKey::ofId(1))),
                              asBytes(manifest));
        index.addResource(resource(resource_type::kRcData, ResourceKey::ofName(u"FOLDER_DATA")));
        strings =
            "<?xml version='1.0' encoding='ISO-8859-1'?><ROOT>\r\n"
            "  <E ID='7' S=\"Folder\"/>\r\n"
            "  <E ID='40' L='1049' S=\"&quot;Папка&quot; &amp; FOLDER\"/>\r\n"
            "  <E ID='41' L='2052' S=\"新建文件夹 folder\"/>\r\n</ROOT>\r\n";
        index.addStringsXml(asBytes(strings), 1033);
    }

    const SearchResource& owner(const SearchHit& hit) const { return index.resources().at(hit.resource); }

    ResourceSearchIndex index;
    std::string manifest;
    std::string strings;
};

TEST_F(ResourceSearch, EveryKindOfTextIsFoundWithThePlaceItCameFrom) {
    const std::vector<SearchHit> hits = find(index, u"folder");
    std::vector<std::pair<SearchPlace, std::u16string>> found;
    for (const SearchHit& hit : hits)
        found.emplace_back(hit.place, matched(hit));
    const std::vector<std::pair<SearchPlace, std::u16string>> expected = {
        {SearchPlace::kDialogCaption, u"Folder"}, {SearchPlace::kDialogControl, u"Folder"},
        {SearchPlace::kMenuItem, u"Folder"},      {SearchPlace::kVersionString, u"folder"},
        {SearchPlace::kText, u"Folder"},          {SearchPlace::kName, u"FOLDER"},
        {SearchPlace::kString, u"Folder"},        {SearchPlace::kString, u"FOLDER"},
        {SearchPlace::kString, u"folder"},
    };
    EXPECT_EQ(found, expected);

    // Each hit leads back to its resource and its place in it.
    EXPECT_EQ(hits[1].detail, 1u);  // the second control
    EXPECT_EQ(hits[1].label, u"14150");
    EXPECT_EQ(hits[2].detail, 300u);
    EXPECT_EQ(hits[3].label, u"FileDescription");
    EXPECT_EQ(hits[4].excerpt, u"<description>Folder view</description>");  // its line, not indented
    EXPECT_EQ(owner(hits[5]).name, ResourceKey::ofName(u"FOLDER_DATA"));
    EXPECT_EQ(hits[6].detail, 7u);
    EXPECT_EQ(owner(hits[6]), resource(resource_type::kString, ResourceKey::ofId(1), 1033));
    EXPECT_EQ(owner(hits[7]), resource(resource_type::kString, ResourceKey::ofId(3), 1049));
    EXPECT_EQ(owner(hits[8]).language, 2052);

    // Resource IDs are found as decimal numbers.
    const auto byId = find(index, u"2");
    ASSERT_EQ(byId.size(), 1u);
    EXPECT_EQ(byId[0].place, SearchPlace::kName);
    EXPECT_EQ(owner(byId[0]).type, ResourceKey::ofId(resource_type::kMenu));
}

TEST_F(ResourceSearch, PaneOffsetsSelectTheMatchInTheFileAsTheTextPaneShowsIt) {
    // The text pane shows files with '\n' line ends; STRINGS.XML keeps its escapes there.
    auto shown = [](std::string_view file) {
        std::string text;
        for (char c : file)
            if (c != '\r') text.push_back(c);
        return utf8ToUtf16(text);
    };
    for (const SearchHit& hit : find(index, u"folder")) {
        if (hit.place != SearchPlace::kText && hit.place != SearchPlace::kString) {
            EXPECT_EQ(hit.paneStart, -1);
            continue;
        }
        ASSERT_GE(hit.paneStart, 0);
        const std::u16string file = shown(hit.place == SearchPlace::kText ? manifest : strings);
        EXPECT_EQ(FoldCase(file.substr(hit.paneStart, hit.paneEnd - hit.paneStart)), u"folder");
    }
    // A match that covers escapes selects the escapes.
    const auto quoted = find(index, u"\"папка\" &");
    ASSERT_EQ(quoted.size(), 1u);
    EXPECT_EQ(shown(strings).substr(quoted[0].paneStart, quoted[0].paneEnd - quoted[0].paneStart),
              u"&quot;\u041f\u0430\u043f\u043a\u0430&quot; &amp;");
}

TEST_F(ResourceSearch, CaseIsFoldedForLatinGreekAndCyrillicUnlessAsked) {
    EXPECT_EQ(find(index, u"folder").size(), 9u);
    const auto exact = find(index, u"Folder", {.caseSensitive = true});
    EXPECT_EQ(exact.size(), 5u);
    for (const SearchHit& hit : exact)
        EXPECT_EQ(matched(hit), u"Folder");
    EXPECT_EQ(find(index, u"ПАПКА").size(), 1u);
    EXPECT_TRUE(find(index, u"ПАПКА", {.caseSensitive = true}).empty());

    EXPECT_EQ(FoldCase(u"ÀÉÎÕÜ ĀĞŁŒŽ ΑΣΩΆΏ ЁЖЯЄ"), u"àéîõü āğłœž ασωάώ ёжяє");
    EXPECT_EQ(FoldCase(u"ς×ß"), u"σ×ß");  // final sigma matches sigma; × and ß have no capital here
}

TEST_F(ResourceSearch, ChineseIsFoundAsTypedAndKeepsItsOffsets) {
    const auto hits = find(index, u"文件夹");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].matchStart, 2u);
    EXPECT_EQ(hits[0].excerpt, u"新建文件夹 folder");
    EXPECT_EQ(hits[0].paneEnd - hits[0].paneStart, 3);
    EXPECT_EQ(FoldCase(u"新建文件夹"), u"新建文件夹");
}

TEST(ResourceSearchInput, DamagedResourcesAndMalformedLinesAreSkipped) {
    ResourceSearchIndex index;
    const std::vector<std::byte> truncated(7, std::byte{0xFF});
    for (std::uint16_t type : {resource_type::kDialog, resource_type::kMenu, resource_type::kVersion,
                               resource_type::kMessageTable, resource_type::kAccelerator}) {
        const auto resource = index.addResource({ResourceKey::ofId(type), ResourceKey::ofId(5), 1033});
        (void)index.addResourceData(resource, asBytes(truncated));
    }
    EXPECT_FALSE(index.addResourceData(0, asBytes(truncated)));
    // Binary data and pictures add no text.
    const std::vector<std::byte> binary = {std::byte{'f'}, std::byte{0}, std::byte{'o'}, std::byte{0},
                                           std::byte{1}};
    EXPECT_FALSE(index.addResourceData(index.addResource({ResourceKey::ofId(10), ResourceKey::ofId(1), 0}),
                                       asBytes(binary)));
    EXPECT_FALSE(index.addResourceData(index.addResource({ResourceKey::ofId(2), ResourceKey::ofId(1), 0}),
                                       asBytes(std::string_view("folder"))));
    // Cut-off elements, bad IDs and unknown entities.
    index.addStringsXml(asBytes(std::string_view("<ROOT><E ID='70000' S=\"folder\"/><E ID='x' S=\"folder\"/>"
                                                 "<E ID='3' S=\"a &bogus; &#xZZ; &#99999999; folder\"/>"
                                                 "<Else S=\"folder\"/><E ID='4' S=\"folder")),
                        1033);
    const auto hits = find(index, u"folder");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].excerpt, u"a &bogus; &#xZZ; &#99999999; folder");
    EXPECT_EQ(hits[0].detail, 3u);
}

TEST(ResourceSearchInput, HexQueriesFindBytesAndRefuseWhatIsNotWholeBytes) {
    EXPECT_FALSE(MakeSearchQuery(u"", {}));
    EXPECT_FALSE(MakeSearchQuery(u"4D 5", {.hexBytes = true}));
    EXPECT_FALSE(MakeSearchQuery(u"4G", {.hexBytes = true}));
    const auto query = MakeSearchQuery(u"4d 5A", {.hexBytes = true});
    ASSERT_TRUE(query);

    const std::string data = "xxMZMZ";
    std::vector<SearchHit> hits;
    SearchBytes(asBytes(data), 4, query->bytes, hits);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[1].paneStart, 4);
    EXPECT_EQ(hits[1].paneEnd, 6);
    EXPECT_EQ(hits[1].resource, 4u);
    EXPECT_EQ(matched(hits[1]), u"4D 5A");
    EXPECT_EQ(hits[1].excerpt, u"78 78 4D 5A 4D 5A");
}

TEST(ResourceSearchInput, LongTextsShowTheLineOfTheMatch) {
    ResourceSearchIndex index;
    std::string html = "<html>\n" + std::string(300, 'a') + "\n<p>Open the folder here</p>\n" +
                       std::string(400, 'b') + " folder\n</html>\n";
    index.addResourceData(index.addResource({ResourceKey::ofId(23), ResourceKey::ofId(1), 0}), asBytes(html));
    const auto hits = find(index, u"FOLDER");
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].excerpt, u"<p>Open the folder here</p>");
    EXPECT_EQ(matched(hits[1]), u"folder");
    EXPECT_LE(hits[1].excerpt.size(), 160u);
}

}  // namespace
}  // namespace kestrel::testing
