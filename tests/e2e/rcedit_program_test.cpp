// Runs kestrel-rcedit as build pipelines do: its usage, each error text with status 1 and the file
// untouched, an in-place edit of a file with a non-ASCII name, and the same result as /Edit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/pe/resource_reader.h"
#include "core/pe/version_info.h"
#include "core/platform/text.h"
#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
namespace pb = pebuilder;
using testing::readBytes;
using testing::readText;

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class RceditProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!KESTREL_HAVE_APP) GTEST_SKIP() << "the programs are built without the application core";
        pb::ImagePlan plan;
        plan.characteristics = 0x0102;  // a program
        plan.resources.push_back(
            {pb::kRtVersion, 1, pb::kLangEnUs, pb::makeVersionInfo(pb::defaultVersionPlan())});
        pb::addIconGroup(plan.resources, 1, pb::kLangEnUs, 1, {pb::makeIconImage(32, 8)});
        pb::addStrings(plan.resources, pb::kLangEnUs, {{1, u"one"}});
        plan.resources.push_back({pb::kRtManifest, 1, pb::kLangEnUs, pb::makeManifest()});
        plan.resources.push_back({pb::kRtRcData, 3, pb::kLangEnUs, pb::bytesOf("data")});
        plan.overlay = pb::bytesOf("appended archive");
        image_ = pb::buildImage(plan);
        file_ = temp_.write("app.exe", image_);
    }

    // Runs `program` in the test's folder with a plain locale and no display.
    Outcome run(const char* program, const std::vector<std::string>& arguments) const {
        std::string command =
            "cd " + quoted(temp_.path().string()) +
            " && unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM LANGUAGE LC_ALL && LANG=C.UTF-8 "
            "XDG_CONFIG_HOME=" +
            quoted((temp_ / "config").string()) + " timeout 600 " + quoted(program);
        for (const std::string& argument : arguments)
            command += " " + quoted(argument);
        command += " </dev/null >" + quoted((temp_ / "out.txt").string()) + " 2>" +
                   quoted((temp_ / "err.txt").string());
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(temp_ / "out.txt"),
                readText(temp_ / "err.txt")};
    }
    Outcome rcedit(const std::vector<std::string>& arguments) const {
        return run(KESTREL_RCEDIT_PROGRAM, arguments);
    }

    testing::TempDir temp_;
    std::vector<std::byte> image_;
    fs::path file_;
};

TEST_F(RceditProgramTest, PrintsItsUsageWithoutArgumentsOrWithHelp) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, std::vector<std::string>{"-h"}, std::vector<std::string>{"--help"}}) {
        const Outcome help = rcedit(arguments);
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find("Usage: kestrel-rcedit <filename> [options...]"), std::string::npos);
        EXPECT_NE(help.out.find("--set-rcdata <key> <path-to-file>"), std::string::npos);
        EXPECT_EQ(help.err, "");
    }
}

struct ErrorCase {
    std::vector<std::string>
        arguments;  // "@file": the program; "@text": a text file; "@badpng": a PNG signature and no picture
    std::string says;  // the end of standard error
};

class RceditErrorTest : public RceditProgramTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(RceditErrorTest, PrintsTheClassicTextEndsWithOneAndLeavesTheFile) {
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& argument : arguments) {
        if (argument == "@file") argument = "app.exe";
        if (argument == "@text") argument = temp_.write("notes.txt", "not XML, not an icon").string();
        if (argument == "@badpng") argument = temp_.write("broken.png", "\x89PNG\r\n\x1a\n broken").string();
    }
    const auto files = [&] {
        return std::distance(fs::directory_iterator(temp_.path()), fs::directory_iterator());
    };
    const auto filesBefore = files();
    const Outcome run = rcedit(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_GE(run.err.size(), GetParam().says.size()) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - GetParam().says.size()), GetParam().says) << run.err;
    EXPECT_EQ(readBytes(file_), image_);
    EXPECT_EQ(files(), filesBefore + 2);  // the two files of standard output and error
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RceditErrorTest,
    ::testing::Values(
        ErrorCase{{"--set-resource-string", "1", "a"}, "Fatal error: You should specify a exe/dll file\n"},
        ErrorCase{{"missing.exe"}, "Unable to load file: \"missing.exe\"\n"},
        ErrorCase{{"@text", "--set-file-version", "1"}, "\"\n"},
        ErrorCase{{"@file", "other.exe"}, "Unrecognized argument: \"other.exe\"\n"},
        ErrorCase{{"@file", "--set-version-string", "Comments"},
                  "Fatal error: --set-version-string requires 'Key' and 'Value'\n"},
        ErrorCase{{"@file", "--get-version-string"}, "Fatal error: --get-version-string requires 'Key'\n"},
        ErrorCase{{"@file", "-gvs", "Nothing"}, "Fatal error: Unable to get version string\n"},
        ErrorCase{{"@file", "--set-file-version"},
                  "Fatal error: --set-file-version requires a version string\n"},
        ErrorCase{{"@file", "-sfv", "v1"}, "Fatal error: Unable to parse version string for FileVersion\n"},
        ErrorCase{{"@file", "--set-product-version", "70000"},
                  "Fatal error: Unable to parse version string for ProductVersion\n"},
        ErrorCase{{"@file", "-spv"}, "Fatal error: --set-product-version requires a version string\n"},
        ErrorCase{{"@file", "--set-icon"}, "Fatal error: --set-icon requires path to the icon\n"},
        ErrorCase{{"@file", "--set-file-version", "2", "--set-icon", "missing.ico"},
                  "Fatal error: Unable to set icon\n"},
        ErrorCase{{"@file", "-si", "@text"}, "Fatal error: Unable to set icon\n"},
        ErrorCase{{"@file", "--set-requested-execution-level"},
                  "Fatal error: --set-requested-execution-level requires asInvoker, highestAvailable or "
                  "requireAdministrator\n"},
        ErrorCase{{"@file", "-srel", "root"}, "Fatal error: Unable to set execution level\n"},
        ErrorCase{{"@file", "--application-manifest"},
                  "Fatal error: --application-manifest requires local path\n"},
        ErrorCase{{"@file", "-am", "@text"}, "Fatal error: Unable to set application manifest\n"},
        ErrorCase{{"@file", "--set-resource-string", "1"},
                  "Fatal error: --set-resource-string requires int 'Key' and string 'Value'\n"},
        ErrorCase{{"@file", "--srs", "one", "1"}, "Fatal error: Unable to parse id\n"},
        ErrorCase{{"@file", "--set-rcdata", "3"},
                  "Fatal error: --set-rcdata requires int 'Key' and path to resource 'Value'\n"},
        ErrorCase{{"@file", "--set-rcdata", "3", "missing.bin"},
                  "/missing.bin'\nFatal error: Unable to change RCDATA\n"},
        ErrorCase{{"@file", "--get-resource-string"},
                  "Fatal error: --get-resource-string requires int 'Key'\n"},
        ErrorCase{{"@file", "-grs", "2"}, "Fatal error: Unable to get resource string\n"},
        // A picture that does not decode is found when the edits are made: nothing is written.
        ErrorCase{{"@file", "--set-file-version", "2", "--set-icon", "@badpng"},
                  "Fatal error: Unable to commit changes\n"}));

// The file is edited in place under a name with non-ASCII letters; versions are completed with
// zeros in the numbers and the strings; the overlay stays; /Edit with the same changes writes the
// same bytes.
TEST_F(RceditProgramTest, EditsInPlaceAsEditDoes) {
    const fs::path icon =
        temp_.write("icon.ico", pb::makeIcoFile({pb::makeIconImage(16, 32), pb::makePngIconImage()}));
    const fs::path data = temp_.write("data.bin", "new data");
    const std::string name = "Prüfung 程序.exe";
    fs::copy_file(file_, temp_ / name);
    fs::copy_file(file_, temp_ / "viaedit.exe");

    const Outcome edited = rcedit({name, "--set-file-version", "1.2", "--set-product-version", "3",
                                   "--set-version-string", "ProductName", "Grüße", "--set-icon",
                                   icon.string(), "--set-requested-execution-level", "requireAdministrator",
                                   "--set-resource-string", "5", "fünf", "--set-rcdata", "3", data.string()});
    ASSERT_EQ(edited.status, 0) << edited.err;
    EXPECT_EQ(edited.out + edited.err, "");
    const std::vector<std::byte> result = readBytes(temp_ / name);

    ResourceLookup lookup;
    ASSERT_TRUE(lookup.open(result).succeeded());
    VersionInfo version;
    ASSERT_TRUE(
        ParseVersionInfo(*lookup.find(ResourceKey::ofId(16), ResourceKey::ofId(1)), version).succeeded());
    EXPECT_EQ(GetFixedFileInfo(version)->fileVersion(), (VersionNumber{1, 2, 0, 0}));
    EXPECT_EQ(GetFixedFileInfo(version)->productVersion(), (VersionNumber{3, 0, 0, 0}));
    EXPECT_EQ(GetVersionString(version, u"FileVersion"), u"1.2.0.0");
    EXPECT_EQ(GetVersionString(version, u"ProductVersion"), u"3.0.0.0");
    const std::string overlay = "appended archive";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(result.data()) + result.size() - overlay.size(),
                          overlay.size()),
              overlay);

    for (auto [flag, key, value] : {std::tuple{"--get-version-string", "ProductName", "Grüße"},
                                    {"-gvs", "FileVersion", "1.2.0.0"},
                                    {"--get-resource-string", "5", "fünf"}}) {
        const Outcome answer = rcedit({name, flag, key});
        EXPECT_EQ(answer.status, 0) << answer.err;
        EXPECT_EQ(answer.out, value);  // without a line end
    }
    EXPECT_EQ(readBytes(temp_ / name), result);

    const Outcome viaEdit = run(
        KESTREL_PROGRAM, {"/Edit", "viaedit.exe", "--set-file-version", "1.2.0.0", "--set-product-version",
                          "3.0.0.0", "--set-version-string", "ProductName=Grüße", "--set-icon", icon.string(),
                          "--set-requested-execution-level", "requireAdministrator", "--set-string", "5=fünf",
                          "--set-rcdata", "3=" + data.string()});
    ASSERT_EQ(viaEdit.status, 0) << viaEdit.err;
    EXPECT_TRUE(readBytes(temp_ / "viaedit.exe") == result);
}

}  // namespace
}  // namespace kestrel
