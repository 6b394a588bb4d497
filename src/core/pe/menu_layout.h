// Where the items of a menu template go when it is drawn as its menu: the bar's titles in a row,
// a drop-down's items in columns, and both mirrored for right-to-left languages. The sizes of the
// items come from whoever draws them (the preview measures them with its style); this only places
// them, in whole pixels from the top-left corner.
#pragma once

#include <vector>

#include "core/pe/menu_template.h"

namespace kestrel {

struct MenuSize {
    int width = 0;
    int height = 0;
};

struct MenuBox {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const MenuBox&, const MenuBox&) = default;
};

struct MenuLayout {
    std::vector<MenuBox> boxes;  // one an item, laid out from the left
    int right = 0;               // where the items end (before any margin after them)
    int bottom = 0;
};

// A drop-down: the items run down from (left, top) in columns; an item with a break flag (column or
// bar break) other than the first starts the next column to the right of the widest item of the
// one before. Every item is as wide as the widest of its column. `sizes` holds one size an item.
MenuLayout LayOutMenuColumns(const std::vector<MenuItem>& items, const std::vector<MenuSize>& sizes, int left,
                             int top);

// A menu bar: the titles run from (left, top) to the right, `spacing` apart, all as high as the
// highest of them and `minHeight`; `right` is after the last title's spacing.
MenuLayout LayOutMenuBar(const std::vector<MenuSize>& sizes, int left, int top, int spacing, int minHeight);

// The box where it shows in a container `width` wide that is laid out from the right.
MenuBox MirroredMenuBox(const MenuBox& box, int width);

}  // namespace kestrel
