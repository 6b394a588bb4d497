#include "cli/command_line.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

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

// The signature flags: which combinations run, and what a refused one says. "@key" stands for a
// readable file.
TEST(CommandLineSignatureTest, CombinationsAreCheckedBeforeAnythingRuns) {
    testing::TempDir temp;
    const std::string key = temp.write("key.pem", "x").string();
    struct Case {
        std::vector<std::string> arguments;
        std::string problem;  // empty: usable
    };
    const Case cases[] = {
        {{"/Sign", "a.dll", "--pkcs12", "@key", "--password-file", "-"}, ""},
        {{"/Sign", "a.dll", "--cert=@key", "--key", "@key", "--digest", "SHA512", "--timestamp", "http://t/"},
         ""},
        {{"/Edit", "a.dll", "--set-string", "1=a", "--pkcs12", "@key"}, ""},
        {{"/Edit", "a.dll", "--strip-signature"}, ""},
        {{"/Signature", "a.dll", "--ca", "@key"}, ""},
        {{"/Sign", "a.dll"}, "/Sign needs --pkcs12"},
        {{"/Sign", "a.dll", "--cert", "@key"}, "--cert and --key go together"},
        {{"/Sign", "a.dll", "--pkcs12", "@key", "--key", "@key"}, "--pkcs12 cannot be combined"},
        {{"/Sign", "a.dll", "--pkcs12", "@key", "--digest", "sha1"}, "is not sha256, sha384 or sha512"},
        {{"/Sign", "a.dll", "--pkcs12", "@key", "--timestamp", "https://t/"}, "not an http:// address"},
        {{"/Sign", "a.dll", "--pkcs12", "missing.p12"}, "--pkcs12: cannot read the file"},
        {{"/Sign", "a.dll", "--pkcs12"}, "--pkcs12 needs a value"},
        {{"/Edit", "a.dll", "--set-string", "1=a", "--strip-signature", "--keep-signature"},
         "exclude each other"},
        {{"/Edit", "a.dll", "--keep-signature", "--pkcs12", "@key"}, "cannot be combined with signing"},
        {{"/Compile", "/Output:w", "a.dll", "--strip-signature"}, "--strip-signature needs /Edit"},
        {{"a.dll", "--pkcs12", "@key"}, "signing options need /Sign or /Edit"},
        {{"/Sign", "a.dll", "--ca", "@key", "--pkcs12", "@key"}, "--ca needs /Signature"},
        {{"/Signature", "/Output:x", "a.dll"}, "/Output: does not apply"},
        {{"/Signature", "/Sign", "a.dll"}, "cannot be combined"},
        {{"/Sign", "/Edit", "a.dll", "--set-string", "1=a", "--pkcs12", "@key"}, "cannot be combined"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        for (std::string& argument : arguments) {
            const std::size_t at = argument.find("@key");
            if (at != std::string::npos) argument.replace(at, 4, key);
        }
        const CKsCommandLineInfo info = CKsCommandLineInfo::parse(arguments);
        ASSERT_TRUE(info.isCommandLineOperation()) << ::testing::PrintToString(c.arguments);
        const std::string problem = info.usageProblem();
        if (c.problem.empty()) {
            EXPECT_EQ(problem, "") << ::testing::PrintToString(c.arguments);
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos)
                << ::testing::PrintToString(c.arguments) << " -> " << problem;
        }
    }
}

TEST(TranslationCommandLineTest, ExportAndImportTakeTheirFilesAndLanguages) {
    auto parse = [](std::vector<std::string> arguments) { return CKsCommandLineInfo::parse(arguments); };
    CKsCommandLineInfo exported =
        parse({"/exportpo", "--output=a.pot", "app.dll", "--source-language", "en_US"});
    EXPECT_TRUE(exported.exportPo);
    EXPECT_TRUE(exported.isCommandLineOperation());
    EXPECT_EQ(exported.sourceLanguage, "en_US");
    EXPECT_EQ(exported.fileName, "app.dll");
    EXPECT_EQ(exported.usageProblem(), "");

    CKsCommandLineInfo imported = parse({"-ImportPo", "app.dll", "de.po", "--language=pt-BR"});
    EXPECT_TRUE(imported.importPo);
    EXPECT_EQ(imported.language, "pt-BR");
    EXPECT_EQ(imported.extraFileNames, std::vector<std::string>{"de.po"});
    EXPECT_EQ(imported.usageProblem(), "");

    const std::pair<std::vector<std::string>, std::string_view> refused[] = {
        {{"/ImportPo", "app.dll", "de.po"}, "needs --language"},
        {{"/ImportPo", "app.dll", "--language", "de"}, "needs the PO file"},
        {{"/ImportPo", "app.dll", "de.po", "x.po", "--language", "de"}, "too many file names"},
        {{"/ImportPo", "app.dll", "de.po", "--language", "klingon"}, "is not a language"},
        {{"/ImportPo", "app.dll", "de.po", "--language", "de", "--source-language", "0x407"},
         "same language"},
        {{"/ImportPo", "app.dll", "de.po", "--language"}, "needs a value"},
        {{"/ExportPo", "app.dll", "--language", "de"}, "not --language"},
        {{"/ExportPo"}, "needs a PE file or project"},
        {{"/ExportPo", "/ImportPo", "app.dll"}, "cannot be combined"},
        {{"/ExportPo", "/Compile", "app.dll"}, "cannot be combined"},
        {{"app.dll", "--language", "de"}, "need /ExportPo or /ImportPo"},
    };
    for (const auto& [arguments, problem] : refused) {
        const CKsCommandLineInfo info = parse(arguments);
        EXPECT_TRUE(info.isCommandLineOperation()) << ::testing::PrintToString(arguments);
        EXPECT_NE(info.usageProblem().find(problem), std::string::npos)
            << ::testing::PrintToString(arguments) << ": " << info.usageProblem();
    }
}

}  // namespace
}  // namespace kestrel
