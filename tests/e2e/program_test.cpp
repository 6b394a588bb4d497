// Runs the kestrel program: usage errors, --help and --version, and import and compile of the
// sample and of a real PE file, with exit status, standard output and standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::readBytes;
using testing::readText;
using testing::TempDir;

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!KESTREL_HAVE_APP) GTEST_SKIP() << "the program is built without the application core (no Qt)";
    }
    // Runs the program with isolated settings and data folders, standard input from /dev/null, and
    // no display of any kind, so that no run can open a window and wait for it to close. `lang`,
    // when given, is the only locale variable the program sees.
    ProgramRun run(const std::vector<std::string>& arguments, const std::string& lang = {}) const {
        std::string locale;
        if (!lang.empty())
            locale = " && unset LANGUAGE LC_ALL LC_MESSAGES && export LANG=" + shellQuote(lang);
        std::string command = "cd " + shellQuote(temp_.path().string()) +
                              " && unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM" + locale +
                              " && XDG_CONFIG_HOME=" + shellQuote((temp_ / "config").string()) +
                              " XDG_DATA_HOME=" + shellQuote((temp_ / "data").string()) +
                              // A run that hangs fails (status 124) instead of stopping the whole test run.
                              " timeout 600 " + shellQuote(KESTREL_PROGRAM);
        for (const std::string& argument : arguments)
            command += " " + shellQuote(argument);
        command += " </dev/null >" + shellQuote((temp_ / "stdout.txt").string()) + " 2>" +
                   shellQuote((temp_ / "stderr.txt").string());
        int raw = std::system(command.c_str());
        ProgramRun result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = readText(temp_ / "stdout.txt");
        result.err = readText(temp_ / "stderr.txt");
        return result;
    }
    std::filesystem::path makeSample(const std::string& name) const {
        std::filesystem::path path = temp_ / name;
        std::string command =
            shellQuote(KESTREL_MAKE_SAMPLE) + " " + shellQuote(path.string()) + " >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return path;
    }
    TempDir temp_;
};

class UsageTest : public ProgramTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(UsageTest, EndsWithStatusTwoAndTheUsage) {
    ProgramRun result = run(GetParam());
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find("Usage:"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(temp_ / "pe.xml"));
}

INSTANTIATE_TEST_SUITE_P(Arguments, UsageTest,
                         ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"/Decompile"},
                                           std::vector<std::string>{"/Compile", "sample.dll"},
                                           std::vector<std::string>{"-decompile", "sample.dll", "/output:"},
                                           std::vector<std::string>{"--compile", "--output=out"},
                                           std::vector<std::string>{"/Decompile", "a.dll", "b.dll",
                                                                    "/Output:o"},
                                           std::vector<std::string>{"/Diff", "a.dll"},
                                           std::vector<std::string>{"--json", "a.dll", "b.dll"}));

// The lines of `text` that start with `prefix`.
std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.compare(start, prefix.size(), prefix) == 0) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST_F(ProgramTest, DiffListsExactlyTheResourcesAnEditChanged) {
    const std::string sample = makeSample("sample.dll").string();
    ProgramRun same = run({"/Diff", sample, sample});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, "");
    EXPECT_EQ(same.err, "");

    // A file of a few resources of each kind, which the rebuild gives back byte for byte.
    pebuilder::ImagePlan plan;
    pebuilder::addStrings(plan.resources, pebuilder::kLangEnUs, {{1, u"Ready"}, {2, u"Steady"}, {40, u"Go"}});
    pebuilder::addIconGroup(plan.resources, 1, pebuilder::kLangEnUs, 1, {pebuilder::makeIconImage(16, 8)});
    plan.resources.push_back({pebuilder::kRtBitmap, 5, pebuilder::kLangEnUs, pebuilder::makeDib({})});
    plan.resources.push_back({pebuilder::kRtVersion, 1, pebuilder::kLangEnUs,
                              pebuilder::makeVersionInfo(pebuilder::defaultVersionPlan())});
    plan.resources.push_back(
        {pebuilder::kRtRcData, u"CONFIG", pebuilder::kLangDeDe, pebuilder::bytesOf("config")});
    const std::string original = temp_.write("original.dll", pebuilder::buildImage(plan)).string();
    const std::string edited = (temp_ / "edited.dll").string();
    ASSERT_EQ(run({"/Edit", original, "/Output:" + edited, "--set-string", "1=Changed", "--set-file-version",
                   "7.8.9.10"})
                  .status,
              0);
    ProgramRun diff = run({"/Diff", original, edited});
    EXPECT_EQ(diff.status, 1) << diff.err;
    std::vector<std::string> resources = linesStartingWith(diff.out, "resource added");
    for (const char* kind : {"resource removed", "resource changed"}) {
        std::vector<std::string> more = linesStartingWith(diff.out, kind);
        resources.insert(resources.end(), more.begin(), more.end());
    }
    ASSERT_EQ(resources.size(), 2u) << diff.out;
    EXPECT_EQ(resources[0].rfind("resource changed: STRING 1 language 1033, ", 0), 0u) << diff.out;
    EXPECT_EQ(resources[1].rfind("resource changed: VERSION 1 language 1033, ", 0), 0u) << diff.out;
    EXPECT_NE(diff.out.find("string changed: VERSION 1 language 1033, \"VS_FIXEDFILEINFO\" \"FileVersion\": "
                            "\"1.0.2.0\" -> \"7.8.9.10\"\n"),
              std::string::npos)
        << diff.out;
    EXPECT_FALSE(linesStartingWith(diff.out, "header changed: CheckSum ").empty()) << diff.out;

    ProgramRun json = run({"--json", "/diff", original, edited});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.out.rfind("{\"old\":", 0), 0u) << json.out;
    EXPECT_NE(json.out.find("\"equal\":false"), std::string::npos);

    // A file that cannot be read, or is not a PE image, ends with status 2.
    ProgramRun missing = run({"/Diff", sample, (temp_ / "missing.dll").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
    ProgramRun text = run({"/Diff", temp_.write("notes.txt", "not a program").string(), sample});
    EXPECT_EQ(text.status, 2);
    EXPECT_NE(text.err.find("is not a PE image"), std::string::npos) << text.err;
    EXPECT_EQ(text.out, "");
}

TEST_F(ProgramTest, TranslationsGoOutOnStandardOutputAndComeBackAsANewLanguage) {
    pebuilder::ImagePlan plan;
    pebuilder::addStrings(plan.resources, pebuilder::kLangEnUs, {{1, u"Ready"}, {2, u"Two\nlines"}});
    plan.resources.push_back(
        {pebuilder::kRtDialog, 100, pebuilder::kLangEnUs, pebuilder::makeDialog(u"Settings")});
    const std::filesystem::path original = temp_.write("app.dll", pebuilder::buildImage(plan));
    const std::vector<std::byte> before = readBytes(original);

    ProgramRun exported = run({"/ExportPo", "app.dll"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.out.find("msgctxt \"DIALOG 100 CAPTION\"\nmsgid \"Settings\""), std::string::npos)
        << exported.out;
    EXPECT_NE(exported.err.find("texts of language en_US"), std::string::npos) << exported.err;

    // A PO file with a fault names its line and leaves the file as it was.
    temp_.write("bad.po", "msgctxt \"DIALOG 100 CAPTION\"\nmsgid \"Settings\"\nmsgstr \"Einstellungen\n");
    ProgramRun refused = run({"/ImportPo", "app.dll", "bad.po", "--language", "de"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("bad.po"), std::string::npos) << refused.err;
    EXPECT_EQ(readBytes(original), before);

    // Replaced in place (atomically) with the German dialog added.
    temp_.write("de.po", "msgctxt \"DIALOG 100 CAPTION\"\nmsgid \"Settings\"\nmsgstr \"Einstellungen\"\n");
    ProgramRun imported = run({"/ImportPo", "app.dll", "de.po", "--language=de_DE"});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.err.find("1 of 5 texts translated from en_US into de_DE"), std::string::npos)
        << imported.err;
    ProgramRun again = run({"/ExportPo", "app.dll", "--source-language", "0x407"});
    EXPECT_NE(again.out.find("msgid \"Einstellungen\""), std::string::npos) << again.out;
}

TEST_F(ProgramTest, HelpAndVersion) {
    ProgramRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage:"), std::string::npos);
    ProgramRun version = run({"-VERSION"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Kestrel Beta 版本 1.020000\n");
}

TEST_F(ProgramTest, ImportsAndCompilesTheSample) {
    std::filesystem::path sample = makeSample("sample.dll");
    std::vector<std::byte> original = readBytes(sample);

    ProgramRun imported = run({"/Decompile", "/Output:work", "sample.dll"});
    ASSERT_EQ(imported.status, 0) << imported.err;
    // The sample's two bit-field bitmaps: one box for the first, one warning line at the end.
    EXPECT_EQ(imported.err, "Bad: biCompression\n警告: 2 个位域 (BI_BITFIELDS) 位图保留为 BMP 文件。\n");
    EXPECT_EQ(readText(temp_ / "work/sample.kestrel"),
              "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<ROOT>\r\n   <PEFILE FileName=\"pe.xml\"/>\r\n"
              "   <RESFILE FileName=\"sample.dll\"/>\r\n</ROOT>\r\n");
    EXPECT_TRUE(std::filesystem::exists(temp_ / "work/pe.xml"));
    EXPECT_TRUE(std::filesystem::exists(temp_ / "work/STRINGS.XML"));

    ProgramRun compiled = run({"/Compile", "sample.dll", "--output=work"});
    ASSERT_EQ(compiled.status, 0) << compiled.err;
    EXPECT_NE(compiled.out.find("RESOURCE section\n"), std::string::npos) << compiled.out;
    EXPECT_NE(compiled.out.find("SECTION: .text\n"), std::string::npos);
    // Not a terminal: the copy question takes its default, No, and says where the result is.
    EXPECT_NE(compiled.err.find("成功的编译。"), std::string::npos) << compiled.err;
    EXPECT_NE(compiled.err.find("compiled file left at " + (temp_ / "work/sample.dll").string()),
              std::string::npos)
        << compiled.err;
    EXPECT_EQ(readBytes(sample), original);
    EXPECT_TRUE(std::filesystem::exists(temp_ / "work/sample.dll"));

    // /Output: may also name pe.xml itself.
    ProgramRun again = run({"/Compile", "sample.dll", "/Output:work/pe.xml"});
    EXPECT_EQ(again.status, 0) << again.err;
}

TEST_F(ProgramTest, APeFileInsideItsWorkingFolderIsCompiledInPlace) {
    makeSample("sample.dll");
    std::filesystem::create_directories(temp_ / "work");
    std::filesystem::copy_file(temp_ / "sample.dll", temp_ / "work/sample.dll");
    ASSERT_EQ(run({"/Decompile", "/Output:work", "work/sample.dll"}).status, 0);
    ProgramRun compiled = run({"/Compile", "work/sample.dll", "/Output:work"});
    EXPECT_EQ(compiled.status, 0) << compiled.err;
    EXPECT_EQ(compiled.err.find("成功的编译。"), std::string::npos) << "no copy question";
    EXPECT_EQ(compiled.err.find("compiled file left at"), std::string::npos);
}

TEST_F(ProgramTest, AFailingCompileEndsWithStatusOneAndLeavesTheOriginal) {
    std::filesystem::path sample = makeSample("sample.dll");
    std::vector<std::byte> original = readBytes(sample);
    ASSERT_EQ(run({"/Decompile", "/Output:work", "sample.dll"}).status, 0);
    ASSERT_TRUE(std::filesystem::remove(temp_ / "work/Bitmap00103.BMP"));
    ProgramRun compiled = run({"/Compile", "sample.dll", "/Output:work"});
    EXPECT_EQ(compiled.status, 1);
    EXPECT_NE(compiled.err.find("compile"), std::string::npos) << compiled.err;
    EXPECT_EQ(readBytes(sample), original);
}

TEST_F(ProgramTest, AFailingImportEndsWithStatusOneAndItsMessage) {
    temp_.write("notes.dll", "not a program");
    ProgramRun imported = run({"/Decompile", "/Output:work", "notes.dll"});
    EXPECT_EQ(imported.status, 1);
    EXPECT_NE(imported.err.find("未能反编译文件\nnotes.dll\n\n错误 0x80004005"), std::string::npos)
        << imported.err;
    EXPECT_NE(imported.err.find("文件 notes.dll 的格式无法被识别。"), std::string::npos) << imported.err;

    // The project file cannot be written: the import fails instead of reporting success.
    makeSample("sample.dll");
    std::filesystem::create_directories(temp_ / "blocked/sample.kestrel");
    ProgramRun blocked = run({"/Decompile", "/Output:blocked", "sample.dll"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("未能建立文件"), std::string::npos) << blocked.err;
}

bool hasChinese(const std::string& text) {
    // UTF-8 lead bytes of U+4E00..U+9FFF.
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0xE4 && byte <= 0xE9;
    });
}

TEST_F(ProgramTest, TheLocaleOrTheLanguageSettingChoosesTheTextsOfReportsAndTraces) {
    makeSample("sample.dll");
    temp_.write("notes.dll", "not a program");
    const std::vector<std::vector<std::string>> operations = {
        {"/Decompile", "/Output:work", "notes.dll"},  // fails: the error report
        {"/Decompile", "/Output:work", "sample.dll"},
        {"/Compile", "sample.dll", "/Output:work"},  // traces and the copy question
    };
    std::vector<ProgramRun> chinese;
    for (const auto& arguments : operations) {
        chinese.push_back(run(arguments, "zh_CN.UTF-8"));
        // Every locale but an English one gives today's texts, byte for byte.
        for (const char* lang : {"C", "C.UTF-8", "POSIX"}) {
            ProgramRun other = run(arguments, lang);
            EXPECT_EQ(other.status, chinese.back().status) << lang << " " << arguments[2];
            EXPECT_EQ(other.out, chinese.back().out) << lang << " " << arguments[2];
            EXPECT_EQ(other.err, chinese.back().err) << lang << " " << arguments[2];
        }
    }
    EXPECT_NE(chinese[0].err.find("文件 notes.dll 的格式无法被识别。"), std::string::npos) << chinese[0].err;
    EXPECT_NE(chinese[2].out.find("类型 "), std::string::npos) << chinese[2].out;

    std::vector<ProgramRun> english;
    for (const auto& arguments : operations)
        english.push_back(run(arguments, "en_US.UTF-8"));
    EXPECT_EQ(english[0].status, 1);
    EXPECT_NE(english[0].err.find("Could not decompile the file\nnotes.dll\n\nError 0x80004005"),
              std::string::npos)
        << english[0].err;
    EXPECT_NE(english[0].err.find("The format of the file notes.dll is not recognized."), std::string::npos)
        << english[0].err;
    EXPECT_NE(english[0].err.find("Kestrel Beta version 1.020000"), std::string::npos) << english[0].err;
    EXPECT_EQ(english[1].status, 0) << english[1].err;
    EXPECT_NE(english[1].err.find("Warning: 2 bit-field (BI_BITFIELDS) bitmaps kept as BMP files."),
              std::string::npos)
        << english[1].err;
    EXPECT_EQ(english[2].status, 0) << english[2].err;
    EXPECT_NE(english[2].out.find("Type "), std::string::npos) << english[2].out;
    EXPECT_NE(english[2].err.find("Compiled successfully."), std::string::npos) << english[2].err;
    for (const ProgramRun& result : english) {
        EXPECT_FALSE(hasChinese(result.out)) << result.out;
        EXPECT_FALSE(hasChinese(result.err)) << result.err;
    }

    // The setting General/Language, as the settings store writes it, wins over the locale.
    temp_.write("config/Quillon/Kestrel.conf", "[%General]\nLanguage=en\n");
    ProgramRun setToEnglish = run(operations[0], "zh_CN.UTF-8");
    EXPECT_EQ(setToEnglish.err, english[0].err);
    temp_.write("config/Quillon/Kestrel.conf", "[%General]\nLanguage=zh\n");
    ProgramRun setToChinese = run(operations[0], "en_US.UTF-8");
    EXPECT_EQ(setToChinese.err, chinese[0].err);
}

TEST_F(ProgramTest, ImportsAndCompilesARealFile) {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    std::filesystem::path root = cache != nullptr && *cache
                                     ? std::filesystem::path(cache)
                                     : std::filesystem::path(std::getenv("HOME")) / ".cache/kestrel-corpus";
    std::filesystem::path real = root / "root/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe";
    if (!std::filesystem::exists(real)) GTEST_SKIP() << "corpus not fetched (tests/corpus/fetch): " << real;
    std::filesystem::copy_file(real, temp_ / "notepad.exe");
    std::vector<std::byte> original = readBytes(temp_ / "notepad.exe");
    ProgramRun imported = run({"/Decompile", "/Output:work", "notepad.exe"});
    ASSERT_EQ(imported.status, 0) << imported.err;
    ProgramRun compiled = run({"/Compile", "notepad.exe", "/Output:work"});
    ASSERT_EQ(compiled.status, 0) << compiled.err;
    EXPECT_NE(compiled.out.find("RESOURCE at 0x"), std::string::npos);
    EXPECT_EQ(readBytes(temp_ / "notepad.exe"), original);
    EXPECT_TRUE(std::filesystem::exists(temp_ / "work/notepad.exe"));
}

// A build without the application core cannot import: a batch job asking for it must see a failure,
// not status 0 and an empty working folder.
TEST(ProgramWithoutApplicationCore, RefusesAnOperationInsteadOfReportingSuccess) {
    if (KESTREL_HAVE_APP) GTEST_SKIP() << "the program has the application core";
    TempDir temp;
    std::string command = "cd " + shellQuote(temp.path().string()) + " && " + shellQuote(KESTREL_PROGRAM) +
                          " /Decompile /Output:out sample.dll </dev/null >/dev/null 2>/dev/null";
    int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_NE(WEXITSTATUS(raw), 0);
}

}  // namespace
}  // namespace kestrel
