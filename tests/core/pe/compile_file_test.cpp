// CompileFile: compile into the working folder, then offer to copy the result over the target.
#include <gtest/gtest.h>

#include "compile_test_support.h"
#include "core/pe/compile_file.h"

namespace kestrel::testing {
namespace {

class CompileFileTest : public ::testing::Test {
  protected:
    CompileSink sink;
    WorkingFolder work{pb::buildImage(pb::sampleImagePlan())};
    std::filesystem::path description() const { return work.folder / "pe.xml"; }

    // A change the user made, so that the compiled file differs from the original.
    void editResource() { overwrite(work.file("1000001"), std::string("edited raw data")); }
};

TEST_F(CompileFileTest, AnsweringNoLeavesTheOriginalUntouched) {
    sink.answer = Answer::kNo;
    sink.messages.clear();
    editResource();
    EXPECT_TRUE(CompileFile(std::nullopt, work.original, description(), true).succeeded()) << errorText();
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_NE(sink.questions[0].find(pathToUtf8(work.output())), std::string::npos);
    EXPECT_NE(sink.questions[0].find(pathToUtf8(work.original)), std::string::npos);
    EXPECT_EQ(sink.questions[0].rfind("成功的编译。\r\n\r\n你想要复制已编译的文件：", 0), 0u);
    EXPECT_EQ(readBytes(work.original), work.image);
    EXPECT_TRUE(std::filesystem::exists(work.output()));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(CompileFileTest, AnsweringYesReplacesTheTargetWithTheCompiledFile) {
    sink.answer = Answer::kYes;
    sink.messages.clear();
    editResource();
    EXPECT_TRUE(CompileFile(std::nullopt, work.original, description(), true).succeeded()) << errorText();
    EXPECT_EQ(sink.questions.size(), 1u);
    auto replaced = readBytes(work.original);
    EXPECT_EQ(replaced, readBytes(work.output()));
    EXPECT_EQ(resourceOf(replaced, "i:10/i:1/1033"), pb::bytesOf("edited raw data"));
}

TEST_F(CompileFileTest, PeFileInsideTheWorkingFolderIsOnlyReported) {
    sink.answer = Answer::kYes;
    sink.messages.clear();
    std::filesystem::copy_file(work.original, work.output());
    editResource();
    EXPECT_TRUE(CompileFile(std::nullopt, work.output(), description(), true).succeeded()) << errorText();
    EXPECT_TRUE(sink.questions.empty());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0], "Kestrel: 成功的编译为：\r\n\r\n'" + pathToUtf8(work.output()) + "'");
    EXPECT_EQ(resourceOf(readBytes(work.output()), "i:10/i:1/1033"), pb::bytesOf("edited raw data"));

    sink.messages.clear();
    EXPECT_TRUE(CompileFile(std::nullopt, work.output(), description(), false).succeeded());
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(CompileFileTest, FailedCompileAsksNothingAndTouchesNothing) {
    sink.answer = Answer::kYes;
    sink.messages.clear();
    std::filesystem::remove(work.file("VERSION"));
    HResult hr = CompileFile(std::nullopt, work.original, description(), true);
    EXPECT_TRUE(hr.failed());
    EXPECT_TRUE(sink.questions.empty());
    EXPECT_NE(errorText().find("KsDoc"), std::string::npos);
    EXPECT_EQ(readBytes(work.original), work.image);
    EXPECT_FALSE(std::filesystem::exists(work.output()));
}

TEST_F(CompileFileTest, FailedCompileNamesTheFileInEveryLine) {
    overwrite(work.folder / "STRINGS.XML", std::string("\xEF\xBB\xBF<ROOT/>"));  // a BOM does not parse
    HResult hr = CompileFile(std::nullopt, work.original, description(), false);
    EXPECT_EQ(hr.value(), 0xC0040018u) << errorText();
    // The compile's own line names the output; no line shows a message with its file name missing.
    EXPECT_NE(errorText().find("编译 '"), std::string::npos) << errorText();
    EXPECT_EQ(errorText().find("处理文件  时"), std::string::npos) << errorText();
}

TEST_F(CompileFileTest, FailedCopyIsReportedAndTheTargetStays) {
    sink.answer = Answer::kYes;
    sink.messages.clear();
    std::filesystem::path target = work.temp / "missing-folder" / "copy.dll";
    HResult hr = CompileFile(target, work.original, description(), true);
    EXPECT_TRUE(hr.failed());
    EXPECT_NE(errorText().find("一个错误发生于复制"), std::string::npos) << errorText();
    EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace kestrel::testing
