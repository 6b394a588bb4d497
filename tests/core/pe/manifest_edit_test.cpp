// The execution level set in a manifest's text: the level value replaced, or the missing elements
// inserted where they belong, and every other byte kept; text the edit cannot place itself in is
// refused.
#include "core/pe/manifest_edit.h"

#include <gtest/gtest.h>

#include "core/xml/xml_document.h"

namespace kestrel {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct LevelCase {
    const char* name;
    std::string before;
    std::string after;  // with level requireAdministrator
};

class ManifestLevelTest : public ::testing::TestWithParam<LevelCase> {};

TEST_P(ManifestLevelTest, ChangesOnlyTheLevelOrInsertsWhatIsMissing) {
    const std::optional<std::string> edited =
        SetRequestedExecutionLevel(GetParam().before, "requireAdministrator");
    ASSERT_TRUE(edited.has_value());
    EXPECT_EQ(*edited, GetParam().after);
    // The result is well-formed and a second edit to the same level changes nothing.
    XmlDocument document;
    const std::string_view withoutMark =
        std::string_view(*edited).substr(edited->starts_with(kByteOrderMark) ? 3 : 0);
    EXPECT_TRUE(document.Parse(withoutMark).succeeded());
    EXPECT_EQ(SetRequestedExecutionLevel(*edited, "requireAdministrator"), edited);
}

const std::string kHead = "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\r\n";

INSTANTIATE_TEST_SUITE_P(
    Manifests, ManifestLevelTest,
    ::testing::Values(
        LevelCase{
            "LevelInDoubleQuotes",
            kHead +
                "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
                "  <!-- <requestedExecutionLevel level=\"x\"/> in a comment is no element -->\r\n"
                "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>\r\n"
                "    <requestedExecutionLevel  uiAccess = 'false'  level = \"asInvoker\" />\r\n"
                "  </requestedPrivileges></security></trustInfo>\r\n</assembly>\r\n",
            kHead +
                "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
                "  <!-- <requestedExecutionLevel level=\"x\"/> in a comment is no element -->\r\n"
                "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>\r\n"
                "    <requestedExecutionLevel  uiAccess = 'false'  level = \"requireAdministrator\" />\r\n"
                "  </requestedPrivileges></security></trustInfo>\r\n</assembly>\r\n"},
        LevelCase{
            "PrefixedElementInSingleQuotes",
            "<asmv1:assembly xmlns:asmv1='urn:schemas-microsoft-com:asm.v1' "
            "xmlns:ms_asmv3='urn:schemas-microsoft-com:asm.v3'><ms_asmv3:trustInfo><ms_asmv3:security>"
            "<ms_asmv3:requestedPrivileges><ms_asmv3:requestedExecutionLevel level='highestAvailable' "
            "uiAccess='false'></ms_asmv3:requestedExecutionLevel></ms_asmv3:requestedPrivileges>"
            "</ms_asmv3:security></ms_asmv3:trustInfo></asmv1:assembly>",
            "<asmv1:assembly xmlns:asmv1='urn:schemas-microsoft-com:asm.v1' "
            "xmlns:ms_asmv3='urn:schemas-microsoft-com:asm.v3'><ms_asmv3:trustInfo><ms_asmv3:security>"
            "<ms_asmv3:requestedPrivileges><ms_asmv3:requestedExecutionLevel level='requireAdministrator' "
            "uiAccess='false'></ms_asmv3:requestedExecutionLevel></ms_asmv3:requestedPrivileges>"
            "</ms_asmv3:security></ms_asmv3:trustInfo></asmv1:assembly>"},
        LevelCase{"ElementWithoutLevel", "<assembly><requestedExecutionLevel uiAccess=\"true\"/></assembly>",
                  "<assembly><requestedExecutionLevel level=\"requireAdministrator\" "
                  "uiAccess=\"true\"/></assembly>"},
        LevelCase{
            "PrivilegesWithPrefixAndIndent",
            "<assembly>\n\t<v3:trustInfo xmlns:v3=\"urn:schemas-microsoft-com:asm.v3\">\n\t\t<v3:security>\n"
            "\t\t\t<v3:requestedPrivileges>\n\t\t\t</v3:requestedPrivileges>\n\t\t</v3:security>\n"
            "\t</v3:trustInfo>\n</assembly>",
            "<assembly>\n\t<v3:trustInfo xmlns:v3=\"urn:schemas-microsoft-com:asm.v3\">\n\t\t<v3:security>\n"
            "\t\t\t<v3:requestedPrivileges>\n\t\t\t\t<v3:requestedExecutionLevel "
            "level=\"requireAdministrator\" "
            "uiAccess=\"false\"/>\n\t\t\t</v3:requestedPrivileges>\n\t\t</v3:security>\n"
            "\t</v3:trustInfo>\n</assembly>"},
        LevelCase{
            "SelfClosingSecurity",
            "<assembly><trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security "
            "/></trustInfo></assembly>",
            "<assembly><trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
            "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"
            "</requestedPrivileges></security></trustInfo></assembly>"},
        LevelCase{"NoTrustInfo",
                  kHead + "<assembly manifestVersion=\"1.0\">\r\n    <dependency/>\r\n</assembly>\r\n",
                  kHead +
                      "<assembly manifestVersion=\"1.0\">\r\n    <dependency/>\r\n"
                      "    <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n        <security>\r\n"
                      "            <requestedPrivileges>\r\n                <requestedExecutionLevel "
                      "level=\"requireAdministrator\" uiAccess=\"false\"/>\r\n            "
                      "</requestedPrivileges>\r\n"
                      "        </security>\r\n    </trustInfo>\r\n</assembly>\r\n"}),
    [](const ::testing::TestParamInfo<LevelCase>& info) { return info.param.name; });

TEST(ManifestLevelTest, RefusesTextItCannotPlaceTheLevelIn) {
    for (std::string_view text :
         {std::string_view(""), std::string_view("no markup"), std::string_view("<assembly>"),
          std::string_view("<assembly></assmbly>"), std::string_view("<a/><b/>"),
          std::string_view("<assembly a=\"1\"b=\"2\"/>"), std::string_view("<assembly a=\"<\"/>"),
          std::string_view("<assembly><!-- open </assembly>"), std::string_view("<assembly x/>"),
          std::string_view("\xFF\xFE<\0a\0/\0>\0", 10),
          std::string_view("<!DOCTYPE a [<!ENTITY e 'x'>]><a/>")}) {
        EXPECT_EQ(SetRequestedExecutionLevel(text, "asInvoker"), std::nullopt) << text;
        EXPECT_FALSE(HasWellFormedMarkup(text)) << text;
    }
}

TEST(ManifestLevelTest, MinimalManifestHoldsTheLevelAndNothingElse) {
    EXPECT_TRUE(IsExecutionLevel("highestAvailable"));
    EXPECT_FALSE(IsExecutionLevel("HighestAvailable"));
    const std::string manifest = MakeMinimalManifest("highestAvailable");
    XmlDocument document;
    ASSERT_TRUE(document.Parse(manifest).succeeded());
    std::string level;
    ASSERT_TRUE(
        document
            .GetAttribute("\\assembly\\trustInfo\\security\\requestedPrivileges\\requestedExecutionLevel",
                          "level", level)
            .succeeded());
    EXPECT_EQ(level, "highestAvailable");
    EXPECT_EQ(SetRequestedExecutionLevel(manifest, "asInvoker")->size(), manifest.size() - 7);
}

}  // namespace
}  // namespace kestrel
