// Menu templates (resource type 4) decoded into a tree, for the menu preview. Both kinds are read:
// - MENU (header version 0, offset to the items): each item is its option flags (u16), its ID (u16,
//   absent for pop-ups) and its text (UTF-16, zero-terminated). MF_POPUP (0x10) opens a list of
//   children, MF_END (0x80) ends the current list. A separator is an item with no flags, ID 0 and an
//   empty text.
// - MENUEX (header version 1, offset to the items counted from after the offset field, usually 4,
//   and a help ID at its start): each item starts on a 4-byte boundary and is its type (u32), state
//   (u32), ID (u32), bResInfo (u16: 0x01 pop-up, 0x80 last in its list) and text; a pop-up's help ID
//   (u32, 4-byte aligned) follows its text, and its children follow that. A separator is an item
//   with MFT_SEPARATOR in its type, or any item other than a pop-up with an empty text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// Flags as the classic template stores them (the extended kind keeps them in type and state).
namespace menu_flag {
inline constexpr std::uint32_t kGrayed = 0x0001;        // MF_GRAYED / MFS_GRAYED (state)
inline constexpr std::uint32_t kDisabled = 0x0002;      // MF_DISABLED / MFS_DISABLED (state)
inline constexpr std::uint32_t kBitmap = 0x0004;        // MF_BITMAP / MFT_BITMAP (type)
inline constexpr std::uint32_t kChecked = 0x0008;       // MF_CHECKED / MFS_CHECKED (state)
inline constexpr std::uint32_t kPopup = 0x0010;         // MF_POPUP
inline constexpr std::uint32_t kMenuBarBreak = 0x0020;  // MF_MENUBARBREAK / MFT_MENUBARBREAK (type)
inline constexpr std::uint32_t kMenuBreak = 0x0040;     // MF_MENUBREAK / MFT_MENUBREAK (type)
inline constexpr std::uint32_t kEnd = 0x0080;           // MF_END
inline constexpr std::uint32_t kOwnerDraw = 0x0100;     // MF_OWNERDRAW / MFT_OWNERDRAW (type)
inline constexpr std::uint32_t kRadioCheck = 0x0200;    // MFT_RADIOCHECK (type)
inline constexpr std::uint32_t kSeparator = 0x0800;     // MFT_SEPARATOR (type)
inline constexpr std::uint32_t kRightOrder = 0x2000;    // MFT_RIGHTORDER (type)
inline constexpr std::uint32_t kRightJustify = 0x4000;  // MFT_RIGHTJUSTIFY (type)
inline constexpr std::uint32_t kDefault = 0x1000;       // MFS_DEFAULT (state)
}  // namespace menu_flag

struct MenuItem {
    // What the item is and how it shows, the same for both kinds of template.
    bool popup = false;
    bool separator = false;
    bool grayed = false;
    bool disabled = false;
    bool checked = false;
    bool radioCheck = false;
    bool defaultItem = false;
    bool menuBreak = false;
    bool menuBarBreak = false;
    bool rightJustify = false;
    bool ownerDraw = false;
    bool bitmap = false;
    std::uint32_t id = 0;
    std::uint32_t helpId = 0;  // extended pop-ups only
    std::u16string text;       // with its '&' mnemonics and '\t' shortcut text as stored
    std::vector<MenuItem> children;
    friend bool operator==(const MenuItem&, const MenuItem&) = default;
};

struct MenuTemplate {
    bool extended = false;
    std::uint32_t helpId = 0;  // extended templates only
    std::vector<MenuItem> items;
    friend bool operator==(const MenuTemplate&, const MenuTemplate&) = default;
};

// Decodes a menu template. Any read beyond the data, a version other than 0 and 1, or nesting
// deeper than kMaxMenuDepth fails the whole template (kFail) and leaves `menu` empty; so does a list
// that reaches the end of the data without its end flag (its next item would be read beyond it).
inline constexpr int kMaxMenuDepth = 32;
HResult DecodeMenuTemplate(Bytes data, MenuTemplate& menu);

}  // namespace kestrel
