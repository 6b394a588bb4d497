// The typed view of a resource's File entry: what the compile and the panes read from hand-edited
// or damaged descriptions, and where its writes land.
#include <gtest/gtest.h>

#include "core/pe/described_file.h"
#include "core/xml/xml_document.h"

namespace kestrel::testing {
namespace {

// Type 2 (bitmap) → name 101 → language 1033 with a File, and language 1031 without one.
constexpr std::string_view kDescription =
    "<Directory Type='0' Named_Entries='0' ID_Entries='1'>"
    "<Entry ID='2' Directory='1'><Directory Type='2' Named_Entries='0' ID_Entries='1'>"
    "<Entry ID='101' Directory='1'><Directory Type='101' Named_Entries='0' ID_Entries='2'>"
    "<Entry ID='1031' Directory='0'/>"
    "<Entry ID='1033' Directory='0'><File Name='sub\\Bitmap00101.BMP' Size='0' Png='2' "
    "CodePage='4294967296' Tail='00ff'/></Entry>"
    "</Directory></Entry></Directory></Entry></Directory>";

XmlElement* languageEntry(XmlDocument& document, std::size_t index) {
    XmlElement* names = document.documentNode()->next()->firstChild()->firstChild()->firstChild();
    XmlElement* languages = names->firstChild();
    XmlElement* entry = languages->firstChild();
    for (std::size_t i = 0; i < index; ++i)
        entry = entry->next();
    return entry;
}

TEST(DescribedFileTest, ReadsWhatTheCompileTakesFromHandEditedValues) {
    XmlDocument document;
    ASSERT_TRUE(document.Parse(kDescription).succeeded());
    const DescribedFile file(languageEntry(document, 1));
    ASSERT_NE(file.fileElement(), nullptr);
    EXPECT_EQ(file.storedName(), "sub\\Bitmap00101.BMP");
    EXPECT_EQ(file.size(), 0);
    EXPECT_TRUE(file.png()) << "any nonzero Png means a PNG file beside the .BMP name";
    EXPECT_TRUE(file.hasCodePage());
    EXPECT_EQ(file.codePage(), std::nullopt) << "a code page above 32 bits is not one";
    EXPECT_EQ(file.tail(), "00ff");
    EXPECT_EQ(file.language(), 1033);
    EXPECT_EQ(file.directoryType(), 2);
    const auto resource = file.resource(document);
    ASSERT_TRUE(resource.has_value());
    EXPECT_EQ(resource->name, ResourceKey::ofId(101));

    // The view of the File element is the view of its entry.
    EXPECT_EQ(DescribedFile::ofFileElement(file.fileElement()).entry(), file.entry());

    // An entry without a File, and no entry at all, read as nothing without touching memory.
    for (const DescribedFile& empty : {DescribedFile(languageEntry(document, 0)), DescribedFile()}) {
        EXPECT_EQ(empty.fileElement(), nullptr);
        EXPECT_EQ(empty.storedName(), std::nullopt);
        EXPECT_FALSE(empty.png());
        EXPECT_FALSE(empty.hasCodePage());
        EXPECT_EQ(empty.tail(), std::nullopt);
    }
    // A File outside the three levels has no type and no resource.
    XmlDocument shallow;
    ASSERT_TRUE(shallow.Parse("<Entry ID='70000'><File Name='a'/></Entry>").succeeded());
    const DescribedFile loose(shallow.documentNode()->next());
    EXPECT_EQ(loose.directoryType(), 0);
    EXPECT_EQ(loose.language(), std::nullopt);
    EXPECT_EQ(loose.resource(shallow), std::nullopt);
}

TEST(DescribedFileTest, WritesOnlyWhereAFileIsOrWasMade) {
    XmlDocument document;
    ASSERT_TRUE(document.Parse(kDescription).succeeded());
    DescribedFile bare(languageEntry(document, 0));
    EXPECT_FALSE(bare.setSize(document, 5)) << "a setter must not invent a File element";
    EXPECT_EQ(languageEntry(document, 0)->firstChild(), nullptr);

    ASSERT_NE(bare.ensureFileElement(document), nullptr);
    EXPECT_EQ(bare.ensureFileElement(document), bare.fileElement()) << "made once";
    ASSERT_TRUE(bare.setStoredName(document, "Bitmap00101~1031.BMP"));
    ASSERT_TRUE(bare.setSize(document, 1080));
    ASSERT_TRUE(bare.setPng(document, false));
    ASSERT_TRUE(bare.setCodePage(document, 1252));

    const DescribedFile reread(languageEntry(document, 0));
    EXPECT_EQ(reread.storedName(), "Bitmap00101~1031.BMP");
    EXPECT_EQ(reread.size(), 1080);
    EXPECT_FALSE(reread.png());
    EXPECT_EQ(reread.codePage(), 1252u);
}

}  // namespace
}  // namespace kestrel::testing
