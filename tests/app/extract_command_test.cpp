// /Extract on the command line: its flags and usage problems, and a run over a built PE file.
#include "cli/extract_command.h"

#include <gtest/gtest.h>

#include "cli/cli_program.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace pb = kestrel::pebuilder;
using testing::TempDir;

TEST(ExtractCommandLine, FlagsTakeTheirValuesAndProblemsAreUsageErrors) {
    CKsCommandLineInfo info = CKsCommandLineInfo::parse({"/extract", "--type", "group_icon", "-name=IDI_APP",
                                                         "/Output:out", "app.dll", "--language", "0x409"});
    EXPECT_TRUE(info.isCommandLineOperation());
    EXPECT_TRUE(info.extraction.extract);
    EXPECT_EQ(info.extraction.type, "group_icon");
    EXPECT_EQ(info.extraction.name, "IDI_APP");
    EXPECT_EQ(info.language, "0x409");
    EXPECT_EQ(info.fileName, "app.dll");
    EXPECT_EQ(info.output, "out");
    EXPECT_EQ(info.usageProblem(), "");

    const std::pair<std::vector<std::string>, std::string> problems[] = {
        {{"/Extract"}, "/Extract needs a file name"},
        {{"/Extract", "a.dll", "b.dll"}, "more than one file name: b.dll"},
        {{"/Extract", "a.dll", "--type"}, "--type needs a value"},
        {{"/Extract", "a.dll", "--type", "70000"}, "--type: '70000' is not a type"},
        {{"/Extract", "a.dll", "--language", "xx-YY"}, "--language: 'xx-YY' is not a language"},
        {{"/Extract", "a.dll", "--source-language", "de"}, "/Extract cannot be combined with /ExportPo"},
        {{"/Extract", "/Compile", "a.dll"}, "/Extract cannot be combined"},
        {{"--type", "14", "a.dll"}, "--type, --name and --language need /Extract"},
        {{"/Extract", "a.dll", "--bogus"}, "unknown flag: --bogus"},
    };
    for (const auto& [arguments, problem] : problems) {
        const CKsCommandLineInfo parsed = CKsCommandLineInfo::parse(arguments);
        EXPECT_TRUE(parsed.isCommandLineOperation()) << problem;
        EXPECT_EQ(parsed.usageProblem().rfind(problem, 0), 0u) << parsed.usageProblem();
    }
}

TEST(ExtractCommandLine, WritesTheSelectionAndFailsWhenNothingMatches) {
    TempDir temp;
    std::vector<pb::Resource> resources;
    pb::addIconGroup(resources, u"APP", pb::kLangEnUs, 1,
                     {pb::makeIconImage(16, 8), pb::makeIconImage(32, 8)});
    resources.push_back({pb::kRtRcData, 7, pb::kLangDeDe, pb::bytesOf("data")});
    pb::ImagePlan plan;
    plan.resources = resources;
    const pb::ByteVector image = pb::buildImage(plan);
    const std::filesystem::path file = temp.path() / "app.dll";
    ASSERT_EQ(WriteWholeFile(file, Bytes(image.data(), image.size())), kOk);
    const std::string output = pathToUtf8(temp.path() / "out");

    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments{"/Extract", "/Output:" + output, pathToUtf8(file)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return runExtractCommand(CKsCommandLineInfo::parse(arguments));
    };
    EXPECT_EQ(run({"--type", "14", "--language", "1033"}), kExitSuccess);
    EXPECT_TRUE(std::filesystem::exists(temp.path() / "out" / "GROUP_ICON_APP_1033.ico"));
    EXPECT_EQ(run({"--type", "RT_RCDATA", "--name", "7"}), kExitSuccess);
    std::vector<std::byte> data;
    ASSERT_EQ(ReadWholeFile(temp.path() / "out" / "RCDATA_7_1031.bin", data), kOk);
    EXPECT_EQ(data, pb::bytesOf("data"));
    EXPECT_EQ(run({"--type", "BITMAP"}), kExitFailure);
    EXPECT_EQ(run({"--language", "2052"}), kExitFailure);

    const std::filesystem::path notPe = temp.path() / "notes.txt";
    ASSERT_EQ(WriteWholeFile(notPe, asBytes(std::string_view("MZ but nothing else"))), kOk);
    EXPECT_EQ(
        runExtractCommand(CKsCommandLineInfo::parse({"/Extract", "/Output:" + output, pathToUtf8(notPe)})),
        kExitFailure);
}

}  // namespace
}  // namespace kestrel
