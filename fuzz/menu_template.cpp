// Reads arbitrary bytes as a menu template. What decodes must:
// - be of the kind its version says and nest no deeper than the limit;
// - decode the same wherever its bytes are held and with any bytes after them.
// What fails must leave the output empty.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/pe/menu_template.h"

namespace {

int depth(const std::vector<kestrel::MenuItem>& items) {
    int deepest = 0;
    for (const kestrel::MenuItem& item : items) {
        if (!item.popup && !item.children.empty()) std::abort();
        if (item.popup) deepest = std::max(deepest, depth(item.children));
    }
    return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);
    kestrel::MenuTemplate menu;
    menu.helpId = 1;
    menu.items.resize(1);
    if (kestrel::DecodeMenuTemplate(bytes, menu).failed()) {
        if (!(menu == kestrel::MenuTemplate{})) std::abort();
        return 0;
    }
    if (menu.extended != (data[0] == 1) || menu.items.empty()) std::abort();
    if (depth(menu.items) > kestrel::kMaxMenuDepth) std::abort();

    // Shifted by one to three bytes, with bytes after the end.
    const std::size_t shift = 1 + size % 3;
    std::vector<std::byte> held(shift, std::byte{0x5A});
    held.insert(held.end(), bytes.begin(), bytes.end());
    held.insert(held.end(), 7, std::byte{0xA5});
    kestrel::MenuTemplate moved;
    if (kestrel::DecodeMenuTemplate(kestrel::Bytes(held).subspan(shift), moved).failed()) std::abort();
    if (!(moved == menu)) std::abort();
    return 0;
}
