#include "app/command_line.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

struct FlagCase {
    std::vector<std::string> arguments;
    bool compile;
    bool decompile;
    bool outputGiven;
    std::string output;
    std::string fileName;
};

class CommandLineFlagTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(CommandLineFlagTest, RecognisesFlagsByNameInEverySpelling) {
    const FlagCase& expected = GetParam();
    CKsCommandLineInfo info = CKsCommandLineInfo::parse(expected.arguments);
    std::string label = ::testing::PrintToString(expected.arguments);
    EXPECT_EQ(info.compile, expected.compile) << label;
    EXPECT_EQ(info.decompile, expected.decompile) << label;
    EXPECT_EQ(info.outputGiven, expected.outputGiven) << label;
    EXPECT_EQ(info.output, expected.output) << label;
    EXPECT_EQ(info.fileName, expected.fileName) << label;
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, CommandLineFlagTest,
    ::testing::Values(FlagCase{{"/compile"}, true, false, false, "", ""},
                      FlagCase{{"/COMPILE"}, true, false, false, "", ""},
                      FlagCase{{"-Decompile"}, false, true, false, "", ""},
                      FlagCase{{"--decompile"}, false, true, false, "", ""},
                      FlagCase{{"/output:C:\\x"}, false, false, true, "C:\\x", ""},
                      FlagCase{{"-OUTPUT:/tmp/a:b"}, false, false, true, "/tmp/a:b", ""},
                      FlagCase{{"--output=/tmp/w f"}, false, false, true, "/tmp/w f", ""},
                      FlagCase{{"/Output:"}, false, false, true, "", ""},
                      FlagCase{{"/Output:a", "/Output:b"}, false, false, true, "b", ""},
                      // Anything else is a file name, also when it starts with "/" or "-".
                      FlagCase{{"/home/user/theme.dll"}, false, false, false, "", "/home/user/theme.dll"},
                      FlagCase{{"--compiler", "x"}, false, false, false, "", "--compiler"},
                      FlagCase{{"/Compile:"}, false, false, false, "", "/Compile:"},
                      FlagCase{{"Compile"}, false, false, false, "", "Compile"},
                      FlagCase{{"/Output"}, false, false, false, "", "/Output"},
                      FlagCase{
                          {"/Compile", "/Decompile", "a.dll", "/Output:o"}, true, true, true, "o", "a.dll"}));

TEST(CommandLineTest, AFileNameMakesTheShellCommandOpen) {
    EXPECT_EQ(CKsCommandLineInfo::parse({}).shellCommand, CKsCommandLineInfo::ShellCommand::kFileNew);
    EXPECT_EQ(CKsCommandLineInfo::parse({"--version"}).shellCommand,
              CKsCommandLineInfo::ShellCommand::kFileNew);
    CKsCommandLineInfo info = CKsCommandLineInfo::parse({"a.dll", "/Compile"});
    EXPECT_EQ(info.shellCommand, CKsCommandLineInfo::ShellCommand::kFileOpen);
    EXPECT_TRUE(CKsCommandLineInfo::parse({"-HELP"}).help);
    EXPECT_TRUE(CKsCommandLineInfo::parse({"--Version"}).version);
}

struct UsageCase {
    std::vector<std::string> arguments;
    bool usable;
};

class CommandLineUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CommandLineUsageTest, OperationsNeedAFileAndAnOutput) {
    CKsCommandLineInfo info = CKsCommandLineInfo::parse(GetParam().arguments);
    ASSERT_TRUE(info.isCommandLineOperation());
    EXPECT_EQ(info.usageProblem().empty(), GetParam().usable)
        << ::testing::PrintToString(GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineUsageTest,
    ::testing::Values(
        UsageCase{{"/Decompile", "/Output:/tmp/x", "a.dll"}, true},
        UsageCase{{"/Compile", "--output=/tmp/x/pe.xml", "a.dll"}, true},
        UsageCase{{"/Decompile", "/Output:/tmp/x"}, false}, UsageCase{{"/Compile", "a.dll"}, false},
        UsageCase{{"/Compile", "a.dll", "/Output:"}, false},
        UsageCase{{"/Decompile", "a.dll", "b", "/Output:/tmp"}, false},
        // /Diff takes exactly two files and nothing of the other operations.
        UsageCase{{"/diff", "a.dll", "b.dll"}, true}, UsageCase{{"-Diff", "a.dll", "b.dll", "--JSON"}, true},
        UsageCase{{"/Diff", "a.dll"}, false}, UsageCase{{"/Diff", "a.dll", "b.dll", "c.dll"}, false},
        UsageCase{{"--json", "a.dll", "b.dll"}, false},
        UsageCase{{"/Diff", "/Edit", "a.dll", "b.dll"}, false},
        UsageCase{{"/Diff", "a.dll", "b.dll", "/Output:o"}, false},
        UsageCase{{"/Diff", "a.dll", "b.dll", "--set-string=1=x"}, false},
        UsageCase{{"/Diff", "a.dll", "b.dll", "--jsn"}, false}));

}  // namespace
}  // namespace kestrel
