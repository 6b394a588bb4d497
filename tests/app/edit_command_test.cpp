// /Edit through the application object: usage errors, a full edit checked with the core's resource
// reader, failures that leave everything as it was, and a file that gets its icon, version and
// strings created.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "app/ks_app.h"
#include "app_test_env.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/png_icon_group.h"
#include "core/pe/manifest_edit.h"
#include "core/pe/resource_reader.h"
#include "core/pe/version_info.h"
#include "core/platform/text.h"
#include "pe_builder/pe_builder.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
namespace pb = pebuilder;
using testing::readBytes;

using ResourceId = std::tuple<std::string, std::string, std::uint16_t>;  // type, name, language
using ResourceMap = std::map<ResourceId, std::vector<std::byte>>;

std::string keyText(const ResourceKey& key) {
    return key.isName ? "n:" + utf16ToUtf8(key.name) : std::to_string(key.id);
}

ResourceMap resourcesOf(const std::vector<std::byte>& image) {
    ResourceLookup lookup;
    EXPECT_TRUE(lookup.open(asBytes(image)).succeeded());
    ResourceMap found;
    for (const ResourceKey& type : lookup.types())
        for (const ResourceKey& name : lookup.names(type))
            for (std::uint16_t language : lookup.languages(type, name)) {
                Bytes data = *lookup.find(type, name, language);
                found[{keyText(type), keyText(name), language}].assign(data.begin(), data.end());
            }
    return found;
}

// The images a group lists, in its order.
std::vector<std::vector<std::byte>> groupImages(const ResourceMap& resources, const std::string& name,
                                                std::uint16_t language) {
    std::vector<std::vector<std::byte>> images;
    auto group = resources.find({"14", name, language});
    if (group == resources.end()) return images;
    for (const GroupEntry& entry : ParseGroupEntries(asBytes(group->second))) {
        auto member = resources.find({"3", std::to_string(entry.id), language});
        images.push_back(member == resources.end() ? std::vector<std::byte>{} : member->second);
    }
    return images;
}

// The 16 counted strings of a string block.
std::vector<std::u16string> blockStrings(const std::vector<std::byte>& block) {
    std::vector<std::u16string> slots;
    ByteReader reader(asBytes(block));
    std::uint64_t at = 0;
    while (slots.size() < 16 && reader.u16(at)) {
        std::u16string& text = slots.emplace_back(*reader.u16(at), u'\0');
        for (char16_t& unit : text)
            unit = static_cast<char16_t>(*reader.u16(at += 2));
        at += 2;
    }
    return slots;
}

class EditCommandTest : public testing::IsolatedAppTest {
  protected:
    EditCommandTest() {
        fs::create_directories(scratch_);
        environment_.set("TMPDIR", scratch_.string());
        icon_ = temp_.write("icon.ico", pb::makeIcoFile(iconImages_));
    }
    struct Outcome {
        int exitCode;
        std::string errors;
    };
    Outcome run(std::vector<std::string> arguments) {
        for (std::string& argument : arguments)
            if (argument == "@ico") argument = icon_.string();
        ::testing::internal::CaptureStderr();
        CKsApp app(CKsCommandLineInfo::parse(arguments));
        app.InitInstance();
        int exitCode = app.ExitInstance();
        return {exitCode, ::testing::internal::GetCapturedStderr()};
    }
    fs::path writeImage(const pb::ImagePlan& plan) {
        return temp_.write("in/file.dll", pb::buildImage(plan));
    }
    bool scratchIsEmpty() const { return fs::is_empty(scratch_); }
    std::vector<std::vector<std::byte>> expectedImages() const {
        std::vector<std::vector<std::byte>> images;
        for (const pb::IconImage& image : iconImages_)
            images.push_back(image.data);
        return images;
    }

    fs::path scratch_ = temp_ / "tmp";
    std::vector<pb::IconImage> iconImages_{pb::makeIconImage(16, 8, 1), pb::makeIconImage(32, 32, 2),
                                           pb::makePngIconImage(64, 3)};
    fs::path icon_;
};

struct UsageCase {
    std::vector<std::string> arguments;
    const char* says;  // part of the problem printed above the usage text
};

class EditUsageTest : public EditCommandTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(EditUsageTest, IsRefusedWithStatusTwoBeforeAnythingIsTouched) {
    const fs::path file = writeImage({});
    const std::vector<std::byte> before = readBytes(file);
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& argument : arguments) {
        if (argument == "@file") argument = file.string();
        for (auto [placeholder, content] : {std::pair{"@good-xml", "<a/>"}, {"@bad-xml", "<a><b></a>"}})
            if (const std::size_t at = argument.find(placeholder); at != std::string::npos)
                argument.replace(at, std::string_view(placeholder).size(),
                                 temp_.write(placeholder + 1, content).string());
    }
    Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.exitCode, kExitUsage) << outcome.errors;
    EXPECT_NE(outcome.errors.find(GetParam().says), std::string::npos) << outcome.errors;
    EXPECT_NE(outcome.errors.find("Usage:"), std::string::npos);
    EXPECT_EQ(readBytes(file), before);
    EXPECT_TRUE(scratchIsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, EditUsageTest,
    ::testing::Values(
        UsageCase{{"/Edit", "--set-string", "1=a"}, "needs a file name"},
        UsageCase{{"/Edit", "@file", "b.dll", "--set-string", "1=a"}, "more than one file"},
        UsageCase{{"/Edit", "@file"}, "at least one --set-"},
        UsageCase{{"/Edit", "@file", "--set-strings", "1=a"}, "unknown flag: --set-strings"},
        UsageCase{{"/Edit", "@file", "--frobnicate", "--set-string", "1=a"}, "unknown flag"},
        UsageCase{{"/Edit", "@file", "--set-file-version", "1.2.3.4.5"}, "not a version"},
        UsageCase{{"/Edit", "@file", "--set-product-version=1..2"}, "not a version"},
        UsageCase{{"/Edit", "@file", "--set-file-version", "65536"}, "not a version"},
        UsageCase{{"/Edit", "@file", "--set-icon", "missing.ico"}, "cannot read the icon"},
        UsageCase{{"/Edit", "@file", "--set-version-string", "Comments"}, "<Key>=<Value>"},
        UsageCase{{"/Edit", "@file", "--set-version-string", "=x"}, "<Key>=<Value>"},
        UsageCase{{"/Edit", "@file", "--set-string", "65536=x"}, "<id>=<text>"},
        UsageCase{{"/Edit", "@file", "--set-string", "x=1"}, "<id>=<text>"},
        UsageCase{{"/Edit", "@file", "--set-string"}, "needs a value"},
        UsageCase{{"/Edit", "/Compile", "@file", "--set-string", "1=a"}, "cannot be combined"},
        UsageCase{{"@file", "--set-string", "1=a"}, "need /Edit"},
        UsageCase{{"/Edit", "@file", "/Output:", "--set-icon", "@ico"}, "/Output: needs a path"},
        UsageCase{{"/Edit", "@file", "--string-language", "0x407"}, "at least one --set-string"},
        UsageCase{{"/Edit", "@file", "--set-file-version", "2", "--string-language=7"},
                  "at least one --set-string"},
        UsageCase{{"/Edit", "@file", "--set-string", "1=a", "--string-language", "65536"},
                  "not a language number"},
        UsageCase{{"/Edit", "@file", "--set-string", "1=a", "--string-language=0x10000"},
                  "not a language number"},
        UsageCase{{"/Edit", "@file", "--set-string", "1=a", "--string-language", "0x"},
                  "not a language number"},
        UsageCase{{"/Edit", "@file", "--set-string", "1=a", "--string-language", "-1"},
                  "not a language number"},
        UsageCase{{"/Edit", "@file", "--set-string", "1=a", "--string-language", "de"},
                  "not a language number"},
        UsageCase{{"@file", "--string-language", "7"}, "--string-language needs /Edit"}));

TEST(EditCommandLineTest, TakesValuesInBothSpellingsAndKeepsRepeatsInOrder) {
    CKsCommandLineInfo info = CKsCommandLineInfo::parse(
        {"-edit", "a.dll", "--SET-ICON", "--odd.ico", "/Set-File-Version=1.2.3", "--set-product-version", "4",
         "--set-version-string", "Comments=x=y", "--set-version-string=Comments=", "--set-string",
         "7=", "--set-string", "7=seven"});
    ASSERT_TRUE(info.usageProblem().find("icon") != std::string::npos);  // --odd.ico is the icon, unreadable
    ResourceEdits edits = info.resourceEdits();
    EXPECT_EQ(info.fileName, "a.dll");
    EXPECT_EQ(edits.iconFile, fs::path("--odd.ico"));
    EXPECT_EQ(edits.fileVersion->number, (VersionNumber{1, 2, 3, 0}));
    EXPECT_EQ(edits.fileVersion->text, "1.2.3");
    EXPECT_EQ(edits.productVersion->number, (VersionNumber{4, 0, 0, 0}));
    using Strings = std::vector<std::pair<std::u16string, std::u16string>>;
    EXPECT_EQ(edits.versionStrings, (Strings{{u"Comments", u"x=y"}, {u"Comments", u""}}));
    EXPECT_EQ(edits.strings,
              (std::vector<std::pair<std::uint16_t, std::u16string>>{{7, u""}, {7, u"seven"}}));
    EXPECT_EQ(edits.stringLanguage, std::nullopt);

    for (auto [typed, language] : {std::pair{"--STRING-LANGUAGE=0x0407", 0x0407},
                                   {"/string-language=0XfFfF", 0xFFFF},
                                   {"-string-language=1031", 1031},
                                   {"--string-language=0", 0}}) {
        CKsCommandLineInfo withLanguage =
            CKsCommandLineInfo::parse({"/Edit", "a.dll", "--set-string", "1=a", typed});
        EXPECT_EQ(withLanguage.usageProblem(), "") << typed;
        EXPECT_EQ(withLanguage.resourceEdits().stringLanguage, language) << typed;
    }
}

TEST_F(EditCommandTest, SetsIconVersionAndStringsInPlaceAndKeepsEverythingElse) {
    pb::ImagePlan plan;
    pb::addIconGroup(plan.resources, u"MAINICON", pb::kLangEnUs, 1,
                     {pb::makeIconImage(16, 4), pb::makeIconImage(48, 8)});
    pb::addIconGroup(plan.resources, u"MAINICON", pb::kLangZhCn, 3, {pb::makeIconImage(16, 4, 7)});
    pb::addIconGroup(plan.resources, 200, pb::kLangEnUs, 10, {pb::makeIconImage(32, 8, 9)});
    plan.resources.push_back(
        {pb::kRtVersion, 1, pb::kLangEnUs, pb::makeVersionInfo(pb::defaultVersionPlan())});
    pb::addStrings(plan.resources, pb::kLangEnUs, {{1, u"one"}, {2, u"two"}, {40, u"forty"}});
    pb::addStrings(plan.resources, pb::kLangZhCn, {{1, u"一"}, {2, u"二"}});
    plan.resources.push_back({pb::kRtBitmap, 5, pb::kLangEnUs, pb::makeDib({})});
    // The import's note about bit-field bitmaps is not printed: a successful edit prints nothing.
    plan.resources.push_back(
        {pb::kRtBitmap, 6, pb::kLangEnUs, pb::makeDib({.bitCount = 32, .bitfields = true})});
    plan.resources.push_back({pb::kRtDialog, 100, pb::kLangEnUs, pb::makeDialog(u"About")});
    plan.resources.push_back({u"MY_DATA", 7, 0, pb::bytesOf("payload")});
    const fs::path file = writeImage(plan);
    ResourceMap before = resourcesOf(readBytes(file));

    const std::string text = "Line 1\r\n\"quoted\" <&> é";
    Outcome outcome =
        run({"/Edit", file.string(), "--set-icon", "@ico", "--set-file-version", "1.2.3.4",
             "--set-product-version=2.5", "--set-version-string", "Comments=Built", "--set-version-string",
             "FileVersion=1.2.3.4 (release)", "--set-string", "2=" + text, "--set-string", "3=three",
             "--set-string", "100=hundred", "--set-string", "40="});
    ASSERT_EQ(outcome.exitCode, kExitSuccess) << outcome.errors;
    EXPECT_EQ(outcome.errors, "");
    EXPECT_TRUE(scratchIsEmpty());
    ResourceMap after = resourcesOf(readBytes(file));

    EXPECT_EQ(groupImages(after, "n:MAINICON", pb::kLangEnUs), expectedImages());
    EXPECT_EQ(groupImages(after, "n:MAINICON", pb::kLangZhCn), expectedImages());
    EXPECT_EQ(groupImages(after, "200", pb::kLangEnUs), groupImages(before, "200", pb::kLangEnUs));

    VersionInfo version;
    ASSERT_TRUE(ParseVersionInfo(asBytes(after[{"16", "1", pb::kLangEnUs}]), version).succeeded());
    EXPECT_EQ(GetFixedFileInfo(version)->fileVersion(), (VersionNumber{1, 2, 3, 4}));
    EXPECT_EQ(GetFixedFileInfo(version)->productVersion(), (VersionNumber{2, 5, 0, 0}));
    EXPECT_EQ(GetVersionString(version, u"FileVersion"), u"1.2.3.4 (release)");
    EXPECT_EQ(GetVersionString(version, u"ProductVersion"), u"2.5");
    EXPECT_EQ(GetVersionString(version, u"Comments"), u"Built");
    EXPECT_EQ(GetVersionString(version, u"CompanyName"), u"Kestrel Test Works");

    std::vector<std::u16string> first = blockStrings(after[{"6", "1", pb::kLangEnUs}]);
    ASSERT_EQ(first.size(), 16u);
    EXPECT_EQ(first[1], u"one");
    EXPECT_EQ(first[2], utf8ToUtf16(text));
    EXPECT_EQ(first[3], u"three");
    EXPECT_EQ(blockStrings(after[{"6", "7", pb::kLangEnUs}])[4], u"hundred");
    EXPECT_EQ(after.count({"6", "3", pb::kLangEnUs}), 0u);  // 40 was its only string

    // Everything else is as it was: the other group and its member, the other language's strings,
    // the bitmap, the dialog and the named type.
    for (ResourceMap* resources : {&before, &after}) {
        std::erase_if(*resources, [](const auto& item) {
            const auto& [type, name, language] = item.first;
            return (type == "14" && name == "n:MAINICON") || (type == "3" && name != "10") || type == "16" ||
                   (type == "6" && language == pb::kLangEnUs);
        });
    }
    EXPECT_EQ(after, before);
}

// The version resource in two languages, the first with two string tables (the second without
// ProductVersion), the second language with neither CompanyName nor Comments: every table of both
// ends up as the builder would write the edited strings; the other version resource and everything
// else keep their bytes.
TEST_F(EditCommandTest, EveryLanguageAndStringTableOfTheVersionResourceTakesTheEdits) {
    pb::VersionPlan english = pb::defaultVersionPlan();
    english.moreTables.push_back(
        {pb::kLangDeDe, 1200, {{u"CompanyName", u"Kestrel Werke"}, {u"FileVersion", u"1.0"}}});
    pb::VersionPlan german = pb::defaultVersionPlan();
    german.language = pb::kLangDeDe;
    german.strings = {{u"FileVersion", u"1,0"}, {u"ProductVersion", u"1,0,2"}};
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtVersion, 1, pb::kLangEnUs, pb::makeVersionInfo(english)});
    plan.resources.push_back({pb::kRtVersion, 1, pb::kLangDeDe, pb::makeVersionInfo(german)});
    plan.resources.push_back(
        {pb::kRtVersion, 2, pb::kLangEnUs, pb::makeVersionInfo(pb::defaultVersionPlan())});
    pb::addStrings(plan.resources, pb::kLangEnUs, {{1, u"one"}});
    plan.resources.push_back({pb::kRtDialog, 100, pb::kLangDeDe, pb::makeDialog(u"Info")});
    const fs::path file = writeImage(plan);
    ResourceMap before = resourcesOf(readBytes(file));

    Outcome outcome =
        run({"/Edit", file.string(), "--set-file-version", "1.2.3.4", "--set-product-version", "2.5",
             "--set-version-string", "Comments=Built", "--set-version-string", "CompanyName=Kestrel"});
    ASSERT_EQ(outcome.exitCode, kExitSuccess) << outcome.errors;
    ResourceMap after = resourcesOf(readBytes(file));

    auto edited = [](pb::VersionPlan version) {
        std::copy_n(VersionNumber{1, 2, 3, 4}.begin(), 4, version.fileVersion);
        std::copy_n(VersionNumber{2, 5, 0, 0}.begin(), 4, version.productVersion);
        auto editTable = [](std::vector<std::pair<std::u16string, std::u16string>>& strings) {
            for (auto& [key, value] : strings) {
                if (key == u"FileVersion") value = u"1.2.3.4";
                if (key == u"ProductVersion") value = u"2.5";
            }
            for (auto [key, value] : {std::pair{u"Comments", u"Built"}, {u"CompanyName", u"Kestrel"}}) {
                auto same = std::find_if(strings.begin(), strings.end(),
                                         [key = key](const auto& string) { return string.first == key; });
                if (same == strings.end()) {
                    strings.emplace_back(key, value);
                } else {
                    same->second = value;
                }
            }
        };
        editTable(version.strings);
        for (pb::VersionPlan::Table& table : version.moreTables)
            editTable(table.strings);
        return pb::makeVersionInfo(version);
    };
    EXPECT_EQ((after[{"16", "1", pb::kLangEnUs}]), edited(english));
    EXPECT_EQ((after[{"16", "1", pb::kLangDeDe}]), edited(german));
    for (ResourceMap* resources : {&before, &after})
        std::erase_if(*resources, [](const auto& item) {
            return std::get<0>(item.first) == "16" && std::get<1>(item.first) == "1";
        });
    EXPECT_EQ(after, before);
}

struct StringLanguageCase {
    const char* typed;
    std::uint16_t language;
    bool fileHasStrings;  // in U.S. English and Chinese
};

class EditStringLanguageTest : public EditCommandTest,
                               public ::testing::WithParamInterface<StringLanguageCase> {};

// Removing string 2 and setting 3 and 40 touch only the chosen language's blocks; a language the
// file has no strings in gets blocks of its own.
TEST_P(EditStringLanguageTest, StringsGoIntoTheChosenLanguageOnly) {
    const StringLanguageCase& chosen = GetParam();
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, 9, pb::kLangEnUs, pb::bytesOf("data")});
    std::map<std::uint16_t, std::map<std::uint16_t, std::u16string>> strings;
    if (chosen.fileHasStrings) {
        strings[pb::kLangEnUs] = {{1, u"one"}, {2, u"two"}};
        strings[pb::kLangZhCn] = {{1, u"一"}, {2, u"二"}, {17, u"十七"}};
    }
    for (const auto& [language, texts] : strings)
        pb::addStrings(plan.resources, language, texts);
    const fs::path file = writeImage(plan);
    ResourceMap before = resourcesOf(readBytes(file));

    Outcome outcome = run({"/Edit", file.string(), "--set-string", "2=", "--set-string", "3=three",
                           "--string-language", chosen.typed, "--set-string", "40=forty"});
    ASSERT_EQ(outcome.exitCode, kExitSuccess) << outcome.errors;
    ResourceMap after = resourcesOf(readBytes(file));

    std::map<std::uint16_t, std::u16string> expected = strings[chosen.language];
    expected.erase(2);
    expected[3] = u"three";
    expected[40] = u"forty";
    std::map<std::uint16_t, std::u16string> found;
    for (const auto& [key, data] : after) {
        const auto& [type, name, language] = key;
        if (type != "6" || language != chosen.language) continue;
        const std::vector<std::u16string> slots = blockStrings(data);
        for (std::size_t slot = 0; slot < slots.size(); ++slot)
            if (!slots[slot].empty())
                found[static_cast<std::uint16_t>((std::stoi(name) - 1) * 16 + slot)] = slots[slot];
    }
    EXPECT_EQ(found, expected);
    for (ResourceMap* resources : {&before, &after}) {
        std::erase_if(*resources, [&](const auto& item) {
            return std::get<0>(item.first) == "6" && std::get<2>(item.first) == chosen.language;
        });
    }
    EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(Languages, EditStringLanguageTest,
                         ::testing::Values(StringLanguageCase{"0x804", pb::kLangZhCn, true},
                                           StringLanguageCase{"1033", pb::kLangEnUs, true},
                                           StringLanguageCase{"0X0407", pb::kLangDeDe, true},
                                           StringLanguageCase{"1031", pb::kLangDeDe, false}));

class EditFailureTest : public EditCommandTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EditFailureTest, LeavesTheOriginalAndNoWorkingFolder) {
    pb::ImagePlan plan;
    pb::addIconGroup(plan.resources, 1, pb::kLangEnUs, 1, {pb::makeIconImage(16, 8)});
    const fs::path file = writeImage(plan);
    const std::vector<std::byte> before = readBytes(file);
    // Either the icon file is no icon (found during the edits) or the target's folder is missing
    // (found when the compiled file is written).
    const bool badIcon = GetParam();
    std::vector<std::string> arguments{"/Edit", file.string(), "--set-file-version", "2"};
    if (badIcon) {
        arguments.insert(arguments.end(), {"--set-icon", temp_.write("bad.ico", "not an icon").string()});
    } else {
        arguments.push_back("/Output:" + (temp_ / "missing/out.dll").string());
    }
    Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.exitCode, kExitFailure);
    EXPECT_NE(outcome.errors.find("未能编辑文件"), std::string::npos) << outcome.errors;
    EXPECT_EQ(readBytes(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(scratchIsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Causes, EditFailureTest, ::testing::Bool());

struct CreationCase {
    bool library;
    bool withResource;  // an RCDATA in German; without it the file has no resource section at all
    std::uint16_t language;
};

class EditCreationTest : public EditCommandTest, public ::testing::WithParamInterface<CreationCase> {};

TEST_P(EditCreationTest, AFileWithoutIconVersionAndStringsGetsThem) {
    const CreationCase& creation = GetParam();
    pb::ImagePlan plan;
    plan.characteristics = creation.library ? 0x2102 : 0x0102;
    if (creation.withResource) {
        plan.resources.push_back({pb::kRtRcData, 9, pb::kLangDeDe, pb::bytesOf("data")});
    } else {
        plan.withResourceSection = false;
    }
    const fs::path file = writeImage(plan);
    const std::vector<std::byte> original = readBytes(file);
    const fs::path output = temp_ / "out.dll";
    Outcome outcome = run({"/Edit", file.string(), "/Output:" + output.string(), "--set-icon", "@ico",
                           "--set-file-version", "3.1", "--set-string", "7=seven"});
    ASSERT_EQ(outcome.exitCode, kExitSuccess) << outcome.errors;
    EXPECT_EQ(readBytes(file), original);

    ResourceMap after = resourcesOf(readBytes(output));
    EXPECT_EQ(groupImages(after, "1", creation.language), expectedImages());
    VersionInfo version;
    ASSERT_TRUE(ParseVersionInfo(asBytes(after[{"16", "1", creation.language}]), version).succeeded());
    EXPECT_EQ(GetFixedFileInfo(version)->fileVersion(), (VersionNumber{3, 1, 0, 0}));
    EXPECT_EQ(GetFixedFileInfo(version)->fileType,
              creation.library ? kVersionFileTypeDll : kVersionFileTypeApp);
    EXPECT_EQ(GetVersionString(version, u"FileVersion"), u"3.1");
    EXPECT_EQ(GetVersionString(version, u"ProductVersion"), std::nullopt);
    EXPECT_EQ(GetVersionTranslation(version), (VersionTranslation{creation.language, 1200}));
    EXPECT_EQ(blockStrings(after[{"6", "1", creation.language}])[7], u"seven");
    if (creation.withResource) {
        EXPECT_EQ((after[{"10", "9", pb::kLangDeDe}]), pb::bytesOf("data"));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, EditCreationTest,
                         ::testing::Values(CreationCase{true, true, pb::kLangDeDe},
                                           CreationCase{false, false, 0x409}));

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

INSTANTIATE_TEST_SUITE_P(
    ManifestDataAndQueries, EditUsageTest,
    ::testing::Values(
        UsageCase{{"/Edit", "@file", "--set-requested-execution-level", "admin"}, "is not asInvoker"},
        UsageCase{{"/Edit", "@file", "--set-requested-execution-level=asinvoker"}, "is not asInvoker"},
        UsageCase{{"/Edit", "@file", "--application-manifest", "missing.manifest"},
                  "cannot read the manifest"},
        UsageCase{{"/Edit", "@file", "--application-manifest", "@bad-xml"}, "not well-formed XML"},
        UsageCase{{"/Edit", "@file", "--application-manifest=@good-xml", "--set-requested-execution-level",
                   "asInvoker"},
                  "cannot be combined with --application-manifest"},
        UsageCase{{"/Edit", "@file", "--set-rcdata", "5"}, "<id>=<file>"},
        UsageCase{{"/Edit", "@file", "--set-rcdata", "70000=@good-xml"}, "<id>=<file>"},
        UsageCase{{"/Edit", "@file", "--set-rcdata", "5=missing.bin"}, "cannot read the file"},
        UsageCase{{"/Edit", "@file", "--get-version-string", "Comments", "--set-string", "1=a"},
                  "cannot be combined with changes"},
        UsageCase{{"/Edit", "@file", "--get-version-string", "Comments", "--get-resource-string", "1"},
                  "only one --get-"},
        UsageCase{{"/Edit", "@file", "--get-resource-string", "x"}, "not an id"},
        UsageCase{{"/Edit", "@file", "--get-version-string="}, "needs a key"},
        UsageCase{{"/Edit", "@file", "--get-resource-string", "1", "/Output:out.dll"}, "no use with them"},
        UsageCase{{"/Edit", "@file", "--get-strings", "1"}, "unknown flag: --get-strings"},
        UsageCase{{"@file", "--set-rcdata", "1=@good-xml"}, "need /Edit"}));

// The application manifest in two languages, the first with a prefixed trustInfo and a comment:
// only the level value changes in both; RCDATA 7 (two languages) takes a file's bytes and RCDATA 8
// is added; everything else keeps its bytes.
TEST_F(EditCommandTest, SetsTheExecutionLevelAndRcDataAndNothingElse) {
    const std::string english =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "  <!-- level=\"asInvoker\" -->\r\n"
        "  <v3:trustInfo xmlns:v3=\"urn:schemas-microsoft-com:asm.v3\"><v3:security><v3:requestedPrivileges>"
        "<v3:requestedExecutionLevel level='asInvoker' uiAccess='false'/>"
        "</v3:requestedPrivileges></v3:security></v3:trustInfo>\r\n</assembly>\r\n";
    const std::string german = "<assembly manifestVersion=\"1.0\"><dependency/></assembly>";
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtManifest, 1, pb::kLangEnUs, pb::bytesOf(english)});
    plan.resources.push_back({pb::kRtManifest, 1, pb::kLangDeDe, pb::bytesOf(german)});
    plan.resources.push_back({pb::kRtManifest, 2, pb::kLangEnUs, pb::bytesOf(german)});
    plan.resources.push_back({pb::kRtRcData, 7, pb::kLangEnUs, pb::bytesOf("old")});
    plan.resources.push_back({pb::kRtRcData, 7, pb::kLangDeDe, pb::bytesOf("alt")});
    plan.resources.push_back({pb::kRtRcData, 9, pb::kLangEnUs, pb::bytesOf("keep")});
    pb::addStrings(plan.resources, pb::kLangEnUs, {{1, u"one"}});
    const fs::path file = writeImage(plan);
    ResourceMap before = resourcesOf(readBytes(file));
    std::vector<std::byte> payload(300000);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::byte>(i * 7 % 251);
    const fs::path data = temp_.write("data.bin", payload);

    Outcome outcome = run({"/Edit", file.string(), "--set-requested-execution-level", "requireAdministrator",
                           "--set-rcdata", "7=" + data.string(), "--set-rcdata=8=" + data.string()});
    ASSERT_EQ(outcome.exitCode, kExitSuccess) << outcome.errors;
    EXPECT_TRUE(scratchIsEmpty());
    ResourceMap after = resourcesOf(readBytes(file));

    std::string expectedEnglish = english;
    expectedEnglish.replace(expectedEnglish.find("asInvoker'"), 9, "requireAdministrator");
    EXPECT_EQ((after[{"24", "1", pb::kLangEnUs}]), pb::bytesOf(expectedEnglish));
    EXPECT_EQ((after[{"24", "1", pb::kLangDeDe}]),
              pb::bytesOf("<assembly manifestVersion=\"1.0\"><dependency/><trustInfo "
                          "xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
                          "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"
                          "</requestedPrivileges></security></trustInfo></assembly>"));
    EXPECT_EQ((after[{"10", "7", pb::kLangEnUs}]), payload);
    EXPECT_EQ((after[{"10", "7", pb::kLangDeDe}]), payload);
    // The new RCDATA takes the file's language: that of its first resource here.
    EXPECT_EQ((after[{"10", "8", pb::kLangEnUs}]), payload);
    for (ResourceMap* resources : {&before, &after})
        std::erase_if(*resources, [](const auto& item) {
            const auto& [type, name, language] = item.first;
            return (type == "24" && name == "1") || (type == "10" && name != "9");
        });
    EXPECT_EQ(after, before);
}

// A file without a manifest gets a minimal one with the level; --application-manifest then replaces
// it byte for byte; the questions read the file (strings in the file's string language) and change
// nothing.
TEST_F(EditCommandTest, AddsAndReplacesManifestsAndAnswersQuestions) {
    pb::ImagePlan plan;
    plan.resources.push_back(
        {pb::kRtVersion, 1, pb::kLangDeDe, pb::makeVersionInfo(pb::defaultVersionPlan())});
    pb::addStrings(plan.resources, pb::kLangZhCn, {{1, u"一"}, {20, u"二十"}});
    pb::addStrings(plan.resources, pb::kLangDeDe, {{1, u"eins"}});
    const fs::path file = writeImage(plan);

    Outcome added = run({"/Edit", file.string(), "--set-requested-execution-level", "highestAvailable"});
    ASSERT_EQ(added.exitCode, kExitSuccess) << added.errors;
    ResourceMap after = resourcesOf(readBytes(file));
    EXPECT_EQ((after[{"24", "1", pb::kLangDeDe}]), pb::bytesOf(MakeMinimalManifest("highestAvailable")));

    const std::string manifest = "<?xml version=\"1.0\"?>\n<assembly manifestVersion=\"1.0\"/>\n";
    const fs::path manifestFile = temp_.write("app.manifest", manifest);
    Outcome replaced = run({"/Edit", file.string(), "--application-manifest", manifestFile.string()});
    ASSERT_EQ(replaced.exitCode, kExitSuccess) << replaced.errors;
    after = resourcesOf(readBytes(file));
    EXPECT_EQ((after[{"24", "1", pb::kLangDeDe}]), pb::bytesOf(manifest));

    const std::vector<std::byte> edited = readBytes(file);
    struct Question {
        std::vector<std::string> flags;
        int exitCode;
        std::string out;  // standard output, or a part of standard error on failure
    };
    for (const Question& question :
         {Question{{"--get-version-string", "companyname"}, kExitSuccess, "Kestrel Test Works\n"},
          // Strings come from the language of the first block: German sorts before Chinese.
          Question{{"--get-resource-string=1"}, kExitSuccess, "eins\n"},
          Question{{"--get-resource-string", "20"}, kExitFailure, "no string 20"},
          Question{{"--get-version-string", "Nothing"}, kExitFailure, "no version string 'Nothing'"}}) {
        std::vector<std::string> arguments{"/Edit", file.string()};
        arguments.insert(arguments.end(), question.flags.begin(), question.flags.end());
        ::testing::internal::CaptureStdout();
        Outcome outcome = run(arguments);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(outcome.exitCode, question.exitCode) << question.flags[0] << outcome.errors;
        if (question.exitCode == kExitSuccess) {
            EXPECT_EQ(out, question.out);
        } else {
            EXPECT_NE(outcome.errors.find(question.out), std::string::npos) << outcome.errors;
        }
    }
    EXPECT_EQ(readBytes(file), edited);
    EXPECT_TRUE(scratchIsEmpty());
}

// A square PNG becomes the eight icon sizes, largest first; the 256-pixel member is the PNG itself.
TEST_F(EditCommandTest, MakesTheIconGroupFromAPng) {
    pb::ImagePlan plan;
    pb::addIconGroup(plan.resources, 1, pb::kLangEnUs, 1, {pb::makeIconImage(32, 8)});
    const fs::path file = writeImage(plan);
    const pb::IconImage picture = pb::makePngIconImage(256, 5);
    const fs::path png = temp_.write("icon.png", picture.data);

    Outcome outcome = run({"/Edit", file.string(), "--set-icon", png.string()});
    ASSERT_EQ(outcome.exitCode, kExitSuccess) << outcome.errors;
    ResourceMap after = resourcesOf(readBytes(file));
    const std::vector<GroupEntry> entries = ParseGroupEntries(asBytes(after[{"14", "1", pb::kLangEnUs}]));
    ASSERT_EQ(entries.size(), kPngIconSizes.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].shownWidth, kPngIconSizes[i] & 0xFF);
        EXPECT_EQ(entries[i].bitCount, 32);
    }
    const std::vector<std::vector<std::byte>> images = groupImages(after, "1", pb::kLangEnUs);
    ASSERT_EQ(images.size(), kPngIconSizes.size());
    EXPECT_EQ(images.front(), picture.data);
    for (std::size_t i = 1; i < images.size(); ++i) {
        RgbaImage decoded;
        EXPECT_TRUE(DecodeDib(asBytes(images[i]), decoded, DibLayout::kIconImage).succeeded());
        EXPECT_EQ(decoded.width, kPngIconSizes[i]);
    }
    EXPECT_TRUE(scratchIsEmpty());
}

}  // namespace
}  // namespace kestrel
