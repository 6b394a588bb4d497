#include "core/platform/file_arena.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::TempDir;

std::string textOf(const HeldBytes& held) {
    return {reinterpret_cast<const char*>(held.bytes.data()), held.bytes.size()};
}

// Files that fill a block, one larger than any block, and an empty one each keep their own bytes,
// also after the arena and the other files are gone; what the whole-file read refuses is refused.
TEST(FileArena, EachFileKeepsItsBytesAcrossBlocks) {
    TempDir dir;
    std::vector<std::string> texts;
    for (char fill : {'a', 'b', 'c', 'd', 'e', 'f'})
        texts.push_back(std::string(200000 + static_cast<std::size_t>(fill), fill));
    texts.push_back(std::string(5u << 20, 'g'));
    texts.back().back() = 'z';
    texts.push_back("");
    texts.push_back("tail");

    std::vector<HeldBytes> held(texts.size());
    {
        FileArena arena;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            ASSERT_EQ(arena.read(dir.write("f" + std::to_string(i), texts[i]), held[i]), kOk) << i;
            EXPECT_TRUE(held[i]) << i;
        }
        HeldBytes refused;
        EXPECT_EQ(arena.read(dir.path(), refused).value(), 0x80070005u);
        EXPECT_EQ(arena.read(dir / "missing", refused).value(), 0x80070002u);
        EXPECT_FALSE(refused);
    }
    held[2] = {};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i == 2) continue;
        EXPECT_EQ(textOf(held[i]), texts[i]) << i;
    }
}

}  // namespace
}  // namespace kestrel
