#include "core/pe/menu_layout.h"

#include <algorithm>
#include <cstddef>

namespace kestrel {

MenuLayout LayOutMenuColumns(const std::vector<MenuItem>& items, const std::vector<MenuSize>& sizes, int left,
                             int top) {
    MenuLayout layout;
    const std::size_t count = std::min(items.size(), sizes.size());
    std::vector<std::size_t> columnOf(count, 0);
    std::vector<int> columnWidths(1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && (items[i].menuBreak || items[i].menuBarBreak)) columnWidths.push_back(0);
        columnOf[i] = columnWidths.size() - 1;
        columnWidths.back() = std::max(columnWidths.back(), sizes[i].width);
    }
    int x = left;
    int y = top;
    layout.bottom = top;
    layout.boxes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && columnOf[i] != columnOf[i - 1]) {
            x += columnWidths[columnOf[i - 1]];
            y = top;
        }
        layout.boxes.push_back({x, y, columnWidths[columnOf[i]], sizes[i].height});
        y += sizes[i].height;
        layout.bottom = std::max(layout.bottom, y);
    }
    layout.right = count == 0 ? x : x + columnWidths.back();
    return layout;
}

MenuLayout LayOutMenuBar(const std::vector<MenuSize>& sizes, int left, int top, int spacing, int minHeight) {
    MenuLayout layout;
    int height = minHeight;
    for (const MenuSize& size : sizes)
        height = std::max(height, size.height);
    int x = left;
    layout.boxes.reserve(sizes.size());
    for (const MenuSize& size : sizes) {
        layout.boxes.push_back({x, top, size.width, height});
        x += size.width + spacing;
    }
    layout.right = x;
    layout.bottom = top + height;
    return layout;
}

MenuBox MirroredMenuBox(const MenuBox& box, int width) {
    MenuBox mirrored = box;
    mirrored.x = width - box.x - box.width;
    return mirrored;
}

}  // namespace kestrel
