// Undo and redo of folder edits: a step must bring back exactly the bytes and description text the
// edit replaced, including removing the files the edit created, and redo must undo the undo.
#include <gtest/gtest.h>

#include "core/pe/project_history.h"
#include "core/platform/files.h"
#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

DescribedResource resource(std::uint16_t type, std::uint16_t name) {
    return {ResourceKey::ofId(type), ResourceKey::ofId(name), 0x409};
}

TEST(ProjectHistory, UndoAndRedoRestoreTouchedAndCreatedFilesAndTheDescription) {
    TempDir folder;
    const std::filesystem::path kept = folder.write("Bitmap00101.BMP", "old bitmap");
    const std::filesystem::path untouched = folder.write("VERSION", "version");
    ProjectHistory history;

    ASSERT_TRUE(history.begin(folder.path(), "<before/>", {kept}, resource(2, 101)).succeeded());
    ASSERT_TRUE(WriteFileAtomic(kept, std::string_view("new bitmap")).succeeded());
    const std::filesystem::path created = folder.write("sub/Icon00001.ICO", "icon");
    history.finish("<after/>", resource(3, 1));
    ASSERT_TRUE(history.canUndo());
    EXPECT_FALSE(history.canRedo());

    std::string restored;
    std::optional<DescribedResource> select;
    ASSERT_EQ(history.undo("<after/>", restored, select), kOk);
    EXPECT_EQ(restored, "<before/>");
    EXPECT_EQ(readText(kept), "old bitmap");
    EXPECT_FALSE(std::filesystem::exists(created));
    EXPECT_EQ(readText(untouched), "version");
    ASSERT_TRUE(select.has_value());
    EXPECT_EQ(select->name.id, 101);
    EXPECT_FALSE(history.canUndo());
    ASSERT_TRUE(history.canRedo());

    ASSERT_EQ(history.redo("<before/>", restored, select), kOk);
    EXPECT_EQ(restored, "<after/>");
    EXPECT_EQ(readText(kept), "new bitmap");
    EXPECT_EQ(readText(created), "icon");
    ASSERT_TRUE(select.has_value());
    EXPECT_EQ(select->type.id, 3);

    // Undo again after the redo: the same state as the first undo.
    ASSERT_EQ(history.undo("<after/>", restored, select), kOk);
    EXPECT_EQ(readText(kept), "old bitmap");
    EXPECT_FALSE(std::filesystem::exists(created));
}

TEST(ProjectHistory, EditsThatChangeNothingLeaveNoStepAndANewEditEndsRedo) {
    TempDir folder;
    const std::filesystem::path file = folder.write("a.bin", "a");
    ProjectHistory history;

    // A cancelled question: nothing changed, nothing to undo.
    ASSERT_TRUE(history.begin(folder.path(), "<same/>", {file}).succeeded());
    history.finish("<same/>");
    EXPECT_FALSE(history.canUndo());

    ASSERT_TRUE(history.begin(folder.path(), "<one/>", {}).succeeded());
    history.finish("<two/>");
    std::string restored;
    std::optional<DescribedResource> select;
    ASSERT_EQ(history.undo("<two/>", restored, select), kOk);
    ASSERT_TRUE(history.canRedo());
    ASSERT_TRUE(history.begin(folder.path(), "<one/>", {}).succeeded());
    history.finish("<three/>");
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(history.undoCount(), 1u);

    history.clear();
    EXPECT_FALSE(history.canUndo());
    EXPECT_EQ(history.undo("<x/>", restored, select), kFalse);
}

TEST(ProjectHistory, AFileThatCannotBeWrittenBackKeepsTheStepAndTheFolder) {
    TempDir folder;
    const std::filesystem::path first = folder.write("a.bin", "a1");
    const std::filesystem::path nested = folder.write("sub/x.bin", "x");
    ProjectHistory history;
    ASSERT_TRUE(history.begin(folder.path(), "<d/>", {first, nested}).succeeded());
    ASSERT_TRUE(WriteFileAtomic(first, std::string_view("a2")).succeeded());
    // The nested file's folder is replaced by a plain file of the same name: it cannot come back.
    std::filesystem::remove_all(folder / "sub");
    folder.write("sub", "plain");
    history.finish("<e/>");

    std::string restored;
    std::optional<DescribedResource> select;
    EXPECT_TRUE(history.undo("<e/>", restored, select).failed());
    EXPECT_TRUE(history.canUndo());
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(readText(first), "a2");
    EXPECT_EQ(readText(folder / "sub"), "plain");
    EXPECT_TRUE(restored.empty());
}

}  // namespace
}  // namespace kestrel::testing
