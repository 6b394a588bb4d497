// File handling through the system's own calls, on names with non-ASCII letters and spaces: these
// run on every system the program is built for (Linux, and Windows under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/system.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::TempDir;

std::string readText(const fs::path& path) {
    std::vector<std::byte> data;
    EXPECT_EQ(ReadWholeFile(path, data), kOk);
    return std::string(reinterpret_cast<const char*>(data.data()), data.size());
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(pathToUtf8(entry.path().filename()));
    return names;
}

TEST(NativeFiles, ReplacesAndReadsFilesNamedInAnyLetters) {
    TempDir dir;
    const fs::path folder = dir.path() / pathFromUtf8("工作 文件夹");
    ASSERT_EQ(CreateFolderPath(folder / pathFromUtf8("子 目录")), kOk);
    const fs::path file = folder / pathFromUtf8("示例 文件.dll");
    EXPECT_EQ(pathToUtf8(file.filename()), "示例 文件.dll");

    ASSERT_EQ(WriteWholeFile(file, asBytes(std::string_view("first content"))), kOk);
    ASSERT_EQ(WriteFileAtomic(file, std::string_view("second")), kOk);
    EXPECT_EQ(readText(file), "second");
    // The replacement left no temporary file beside the target.
    std::vector<std::string> entries = entriesOf(folder);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"子 目录", "示例 文件.dll"}));

    std::uint64_t size = 0;
    ASSERT_EQ(RegularFileSize(file, size), kOk);
    EXPECT_EQ(size, 6u);
    FileReader reader;
    ASSERT_EQ(reader.open(file), kOk);
    std::vector<std::byte> part(3);
    ASSERT_EQ(reader.readAt(2, part), kOk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(part.data()), part.size()), "con");
    EXPECT_EQ(reader.readAt(4, part), kFail);  // past the end
    EXPECT_GT(FileModificationTime(file), 0);

    // A discarded atomic write leaves the target as it was.
    {
        AtomicFileWriter writer;
        ASSERT_EQ(writer.open(file), kOk);
        ASSERT_EQ(writer.write(std::string_view("never")), kOk);
    }
    EXPECT_EQ(readText(file), "second");
    EXPECT_EQ(entriesOf(folder).size(), 2u);

    // Creating a file that exists fails with "file exists", as the atomic writer relies on.
    OutputFile output;
    EXPECT_EQ(output.open(file, Disposition::kCreateNew), hresultFromWin32(win32::kFileExists));
    EXPECT_EQ(RemoveFileIfPresent(file), kOk);
    EXPECT_EQ(RemoveFileIfPresent(file), kOk);  // already gone
}

TEST(NativeFiles, ReportsTheWindowsCodesForWhatCannotBeRead) {
    TempDir dir;
    MappedFile mapped;
    // A folder is refused, a missing file is "not found", a missing folder "path not found".
    EXPECT_EQ(OpenMappedFile(dir.path(), mapped), hresultFromWin32(win32::kAccessDenied));
    EXPECT_EQ(OpenMappedFile(dir.path() / "missing.dll", mapped), hresultFromWin32(win32::kFileNotFound));
    EXPECT_EQ(OpenMappedFile(dir.path() / "no folder" / "x.dll", mapped),
              hresultFromWin32(win32::kPathNotFound));
    // An empty file cannot be mapped.
    const fs::path empty = dir.write("empty.bin", std::string_view());
    EXPECT_EQ(OpenMappedFile(empty, mapped), hresultFromWin32(win32::kFileInvalid));
    std::uint64_t size = 0;
    EXPECT_EQ(RegularFileSize(dir.path(), size), hresultFromWin32(win32::kAccessDenied));
    // A plain file where a folder should be.
    EXPECT_EQ(CreateFolderPath(empty / "below"), hresultFromWin32(win32::kDirectory));
    EXPECT_EQ(CreateFolderPath(empty), hresultFromWin32(win32::kDirectory));
}

TEST(NativeFiles, TemporaryFolderIsMadeFreshAndRemovedWithItsContent) {
    fs::path made;
    {
        TemporaryFolder folder;
        ASSERT_EQ(folder.create("kestrel-临时-"), kOk);
        made = folder.path();
        EXPECT_TRUE(fs::is_directory(made));
        EXPECT_TRUE(pathToUtf8(made.filename()).starts_with("kestrel-临时-"));
        ASSERT_EQ(WriteWholeFile(made / pathFromUtf8("内容.txt"), asBytes(std::string_view("x"))), kOk);
        TemporaryFolder other;
        ASSERT_EQ(other.create("kestrel-临时-"), kOk);
        EXPECT_NE(other.path(), made);
    }
    EXPECT_FALSE(fs::exists(made));
}

}  // namespace
}  // namespace kestrel
