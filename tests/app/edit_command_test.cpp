// /Edit through the application object: usage errors, a full edit checked with the core's resource
// reader, failures that leave everything as it was, and a file that gets its icon, version and
// strings created.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "app/ks_app.h"
#include "app_test_env.h"
#include "core/images/icon_files.h"
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
    for (std::string& argument : arguments)
        if (argument == "@file") argument = file.string();
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
