#include "core/pe/menu_template.h"

#include "core/pe/template_cursor.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace kestrel {

namespace {

constexpr std::uint16_t kClassicVersion = 0;
constexpr std::uint16_t kExtendedVersion = 1;
constexpr std::size_t kHeaderSize = 4;      // version and offset
constexpr std::uint16_t kHelpIdOffset = 4;  // an extended header this long holds the menu's help ID
// The item flags bResInfo holds in an extended template.
constexpr std::uint16_t kResInfoPopup = 0x01;
constexpr std::uint16_t kResInfoEnd = 0x80;
// MFS_GRAYED and MFS_DISABLED are both 0x3 in an extended item's state: either bit makes the item
// grayed and disabled alike, which is how it is shown.
constexpr std::uint32_t kStateDisabledBits = 0x3;

bool has(std::uint32_t bits, std::uint32_t flag) {
    return (bits & flag) != 0;
}

// The look of an item from the flags of a classic item or the type of an extended one; the bits
// that both share have the same values.
void applyTypeBits(std::uint32_t bits, MenuItem& item) {
    item.bitmap = has(bits, menu_flag::kBitmap);
    item.menuBarBreak = has(bits, menu_flag::kMenuBarBreak);
    item.menuBreak = has(bits, menu_flag::kMenuBreak);
    item.ownerDraw = has(bits, menu_flag::kOwnerDraw);
    item.rightJustify = has(bits, menu_flag::kRightJustify);
    item.separator = has(bits, menu_flag::kSeparator);
}

// A list of items up to the one with MF_END; `level` counts the lists from the menu bar (1).
bool readClassicList(TemplateCursor& in, int level, std::vector<MenuItem>& items) {
    if (level > kMaxMenuDepth) return false;
    for (;;) {
        const std::uint16_t flags = in.u16();
        MenuItem item;
        item.popup = has(flags, menu_flag::kPopup);
        if (!item.popup) item.id = in.u16();
        item.text = in.text();
        if (!in.ok()) return false;
        if (item.popup && !readClassicList(in, level + 1, item.children)) return false;

        applyTypeBits(flags, item);
        item.grayed = has(flags, menu_flag::kGrayed);
        item.disabled = has(flags, menu_flag::kDisabled);
        item.checked = has(flags, menu_flag::kChecked);
        item.defaultItem = has(flags, menu_flag::kDefault);
        // A resource compiler writes a separator as an item with no flags but MF_END, ID 0 and an
        // empty text; MF_SEPARATOR itself is taken too.
        const bool plain = (flags & ~menu_flag::kEnd) == 0;
        if (!item.popup && plain && item.id == 0 && item.text.empty()) item.separator = true;

        items.push_back(std::move(item));
        if (has(flags, menu_flag::kEnd)) return true;
    }
}

// A list of extended items up to the one whose bResInfo has the end bit. Each item starts on a
// 4-byte boundary; the first one of the template stands where the header's offset puts it.
bool readExtendedList(TemplateCursor& in, int level, std::vector<MenuItem>& items) {
    if (level > kMaxMenuDepth) return false;
    for (;;) {
        MenuItem item;
        const std::uint32_t type = in.u32();
        const std::uint32_t state = in.u32();
        item.id = in.u32();
        const std::uint16_t resInfo = in.u16();
        item.text = in.text();
        in.alignTo4();
        item.popup = has(resInfo, kResInfoPopup);
        if (item.popup) item.helpId = in.u32();
        if (!in.ok()) return false;
        if (item.popup && !readExtendedList(in, level + 1, item.children)) return false;

        applyTypeBits(type, item);
        // The system's menu loader turns a command item without text into a separator, and resource
        // compilers write an extended MENUITEM SEPARATOR as an item with every field zero.
        if (!item.popup && item.text.empty()) item.separator = true;
        item.radioCheck = has(type, menu_flag::kRadioCheck);
        item.grayed = has(state, kStateDisabledBits);
        item.disabled = has(state, kStateDisabledBits);
        item.checked = has(state, menu_flag::kChecked);
        item.defaultItem = has(state, menu_flag::kDefault);

        items.push_back(std::move(item));
        if (has(resInfo, kResInfoEnd)) return true;
    }
}

HResult decode(Bytes data, MenuTemplate& menu) {
    TemplateCursor in(data);
    const std::uint16_t version = in.u16();
    const std::uint16_t offset = in.u16();
    if (!in.ok() || (version != kClassicVersion && version != kExtendedVersion)) return kFail;
    menu.extended = version == kExtendedVersion;
    if (menu.extended && offset >= kHelpIdOffset) menu.helpId = in.u32();
    in.seek(kHeaderSize + std::size_t{offset});
    if (!in.ok()) return kFail;
    const bool read =
        menu.extended ? readExtendedList(in, 1, menu.items) : readClassicList(in, 1, menu.items);
    return read ? kOk : kFail;
}

}  // namespace

HResult DecodeMenuTemplate(Bytes data, MenuTemplate& menu) {
    MenuTemplate decoded;
    if (decode(data, decoded).failed()) {
        menu = MenuTemplate{};
        return kFail;
    }
    menu = std::move(decoded);
    return kOk;
}

}  // namespace kestrel
