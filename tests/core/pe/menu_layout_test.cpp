#include "core/pe/menu_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel {
namespace {

MenuItem item(bool menuBreak = false, bool barBreak = false) {
    MenuItem made;
    made.menuBreak = menuBreak;
    made.menuBarBreak = barBreak;
    return made;
}

TEST(MenuLayout, BreaksStartColumnsAsWideAsTheirWidestItem) {
    // A break on the first item starts no column; a column break and a bar break each start one.
    const std::vector<MenuItem> items = {item(true), item(), item(true), item(), item(false, true)};
    const std::vector<MenuSize> sizes = {{30, 10}, {50, 12}, {20, 10}, {40, 8}, {25, 10}};
    const MenuLayout layout = LayOutMenuColumns(items, sizes, 3, 4);
    const std::vector<MenuBox> expected = {
        {3, 4, 50, 10},  {3, 14, 50, 12},  // first column: the widest is 50
        {53, 4, 40, 10}, {53, 14, 40, 8},  // second: after the first's 50
        {93, 4, 25, 10},
    };
    EXPECT_EQ(layout.boxes, expected);
    EXPECT_EQ(layout.right, 118);
    EXPECT_EQ(layout.bottom, 26);  // the tallest column

    const MenuLayout empty = LayOutMenuColumns({}, {}, 3, 4);
    EXPECT_TRUE(empty.boxes.empty());
    EXPECT_EQ(empty.right, 3);
    EXPECT_EQ(empty.bottom, 4);
    // Sizes missing for some items: only the measured ones are placed.
    EXPECT_EQ(LayOutMenuColumns(items, {{10, 10}}, 0, 0).boxes.size(), 1u);
}

TEST(MenuLayout, BarTitlesShareTheTallestHeightAndMirrorFromTheRight) {
    const MenuLayout bar = LayOutMenuBar({{40, 18}, {30, 22}}, 2, 1, 5, 20);
    EXPECT_EQ(bar.boxes, (std::vector<MenuBox>{{2, 1, 40, 22}, {47, 1, 30, 22}}));
    EXPECT_EQ(bar.right, 82);  // after the last title's spacing
    EXPECT_EQ(bar.bottom, 23);
    EXPECT_EQ(LayOutMenuBar({{40, 10}}, 0, 0, 0, 16).boxes.front().height, 16);

    // Mirrored in a container 100 wide, the first title ends at the right edge.
    EXPECT_EQ(MirroredMenuBox(bar.boxes[0], 100), (MenuBox{58, 1, 40, 22}));
    EXPECT_EQ(MirroredMenuBox(MirroredMenuBox(bar.boxes[1], 100), 100), bar.boxes[1]);
}

}  // namespace
}  // namespace kestrel
