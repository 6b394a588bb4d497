#include "core/platform/paths.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::TempDir;

class RefusedStoredName : public ::testing::TestWithParam<std::string_view> {};

TEST_P(RefusedStoredName, IsInvalidArgument) {
    TempDir dir;
    dir.write("a/b", "x");
    fs::path out = "untouched";
    EXPECT_EQ(resolveStored(dir.path(), GetParam(), out), kInvalidArg);
    EXPECT_EQ(out, "untouched");
    EXPECT_EQ(exactStoredPath(dir.path(), GetParam(), out), kInvalidArg);
    EXPECT_EQ(out, "untouched");
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedStoredName,
                         ::testing::Values("", ".", ".\\", "\\", "/", "..", "..\\pe.xml", "a\\..\\..\\x",
                                           "a/../b", "a/b/..", "/etc/passwd", "\\windows\\x",
                                           "\\\\server\\share", "C:\\x", "C:x", "c:", "a:b",
                                           std::string_view("a\0b", 3)));

// `out` names `expected`: spelled as it is where the file system tells names apart by case, the
// same file where it does not (there the name as written opens it).
void expectNames(const TempDir& dir, const fs::path& out, const char* expected) {
    if (dir.namesAreCaseSensitive()) {
        EXPECT_EQ(out, dir / expected);
    } else {
        std::error_code ec;
        EXPECT_TRUE(fs::equivalent(out, dir / expected, ec)) << pathToUtf8(out) << " " << expected;
    }
}

TEST(ResolveStored, MapsBackslashesAndMatchesCaseInsensitively) {
    TempDir dir;
    dir.write("Blue/Arrow.png", "x");
    fs::path out;
    ASSERT_EQ(resolveStored(dir.path(), "BLUE\\ARROW.PNG", out), kOk);
    expectNames(dir, out, "Blue/Arrow.png");
    ASSERT_EQ(resolveStored(dir.path(), "./blue//arrow.png", out), kOk);
    expectNames(dir, out, "Blue/Arrow.png");
    // Names that exist in no spelling are kept as written below the last match.
    ASSERT_EQ(resolveStored(dir.path(), "BLUE\\New\\File.BMP", out), kOk);
    expectNames(dir, out.parent_path().parent_path(), "Blue");
    EXPECT_EQ(out.parent_path().filename(), "New");
    EXPECT_EQ(out.filename(), "File.BMP");
}

// The exact path is the name as written, whatever the folder holds; resolving finds the twin.
TEST(ExactStoredPath, JoinsTheNameAsWrittenWithoutLookingAtTheFolder) {
    TempDir dir;
    dir.write("Blue/Arrow.png", "x");
    fs::path out;
    ASSERT_EQ(exactStoredPath(dir.path(), "./BLUE\\ARROW.PNG", out), kOk);
    EXPECT_EQ(out, dir / "BLUE/ARROW.PNG");
    ASSERT_EQ(exactStoredPath(dir.path(), "Blue\\Arrow.png", out), kOk);
    fs::path resolved;
    ASSERT_EQ(resolveStored(dir.path(), "Blue\\Arrow.png", resolved), kOk);
    EXPECT_EQ(out, resolved);
}

TEST(ResolveStored, PrefersTheExactTwinAndChoosesAmongOthersByName) {
    TempDir dir;
    if (!dir.namesAreCaseSensitive())
        GTEST_SKIP() << "names that differ only in case need a file system that has them";
    dir.write("a.png", "lower");
    dir.write("A.png", "upper");
    dir.write("A.PNG", "caps");
    fs::path out;
    ASSERT_EQ(resolveStored(dir.path(), "a.png", out), kOk);
    EXPECT_EQ(out, dir / "a.png");
    ASSERT_EQ(resolveStored(dir.path(), "A.PNG", out), kOk);
    EXPECT_EQ(out, dir / "A.PNG");
    ASSERT_EQ(resolveStored(dir.path(), "a.Png", out), kOk);
    EXPECT_EQ(out, dir / "A.PNG");
}

TEST(ResolveStored, FoldsNonAsciiLettersAndMatchesCp936Names) {
    TempDir dir;
    dir.write("\xC3\x84rger.txt", "latin");                 // Ärger.txt
    dir.write("\xD0\x9F\xD1\x80\xD0\xB8.bmp", "cyrillic");  // При.bmp
    fs::path out;
    ASSERT_EQ(resolveStored(dir.path(), "\xC3\xA4RGER.TXT", out), kOk);
    expectNames(dir, out, "\xC3\x84rger.txt");
    ASSERT_EQ(resolveStored(dir.path(), "\xD0\xBF\xD0\xA0\xD0\x98.BMP", out), kOk);
    expectNames(dir, out, "\xD0\x9F\xD1\x80\xD0\xB8.bmp");
#ifndef _WIN32
    // Only a file system of byte names holds a name in another encoding than UTF-8.
    dir.write("\xD6\xD0.ico", "cp936");  // 中.ico written by a Windows tool
    ASSERT_EQ(resolveStored(dir.path(), "\xE4\xB8\xAD.ICO", out), kOk);
    EXPECT_EQ(out, dir / "\xD6\xD0.ico");
#endif
}

struct PathPieces {
    std::string_view path, folder, file, extension, base;
};

class PathHelpers : public ::testing::TestWithParam<PathPieces> {};

TEST_P(PathHelpers, SplitTheName) {
    const auto& c = GetParam();
    EXPECT_EQ(folderOf(c.path), c.folder);
    EXPECT_EQ(fileNameOf(c.path), c.file);
    EXPECT_EQ(extensionOf(c.path), c.extension);
    EXPECT_EQ(baseNameOf(c.path), c.base);
}

INSTANTIATE_TEST_SUITE_P(Names, PathHelpers,
                         ::testing::Values(PathPieces{"a/b/c.txt", "a/b/", "c.txt", ".txt", "c"},
                                           PathPieces{"BLUE\\ARROW.BMP", "BLUE\\", "ARROW.BMP", ".BMP",
                                                      "ARROW"},
                                           PathPieces{"theme.tar.gz", "", "theme.tar.gz", ".gz", "theme.tar"},
                                           PathPieces{"dir.d/noext", "dir.d/", "noext", "", "noext"},
                                           PathPieces{"folder/", "folder/", "", "", ""}));

TEST(AsciiCase, ComparesWithoutTouchingOtherBytes) {
    EXPECT_TRUE(iequalsAscii("Pe.XML", "pe.xml"));
    EXPECT_FALSE(iequalsAscii("\xC3\x84", "\xC3\xA4"));
    EXPECT_TRUE(iendsWithAscii("a.PNG", ".png"));
    EXPECT_FALSE(iendsWithAscii("png", ".png"));
    EXPECT_TRUE(istartsWithAscii("/Output:x", "/output:"));
    EXPECT_EQ(toUpperAscii("ab\xC3\xA4z"), "AB\xC3\xA4Z");
}

}  // namespace
}  // namespace kestrel
