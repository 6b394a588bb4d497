// Dialog templates (resource type 5) decoded into plain values, for the dialog preview. Both kinds
// are read: DLGTEMPLATE and DLGTEMPLATEEX (which starts with version 1 and signature 0xFFFF).
//
// Layout of the classic kind: style, extended style (u32 each), item count (u16), x, y, cx, cy
// (i16 each), then the menu, the class (each an sz_Or_Ord: 0x0000 for none, 0xFFFF and an ordinal,
// or a zero-terminated UTF-16 name) and the title (UTF-16, zero-terminated); with DS_SETFONT (0x40)
// or DS_SHELLFONT the point size (u16) and the face name. The extended kind has help ID, extended
// style and style before the count, and weight (u16), italic (u8) and character set (u8) between
// the point size and the face name. Each item starts on a 4-byte boundary from the template's start:
// classic items hold style, extended style, x, y, cx, cy, ID (u16), class, title and the size of
// their creation data (u16); extended items hold help ID, extended style, style, x, y, cx, cy, ID
// (u32), class, title and the creation data size. Creation data is skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// An sz_Or_Ord field: nothing, an ordinal, or a text.
struct NameOrOrdinal {
    enum class Kind { kNone, kOrdinal, kText };
    Kind kind = Kind::kNone;
    std::uint16_t ordinal = 0;
    std::u16string text;

    bool isNone() const { return kind == Kind::kNone; }
    bool isOrdinal() const { return kind == Kind::kOrdinal; }
    bool isText() const { return kind == Kind::kText; }
    friend bool operator==(const NameOrOrdinal&, const NameOrOrdinal&) = default;
};

// The predefined window classes an item's class ordinal names.
namespace dialog_class {
inline constexpr std::uint16_t kButton = 0x0080;
inline constexpr std::uint16_t kEdit = 0x0081;
inline constexpr std::uint16_t kStatic = 0x0082;
inline constexpr std::uint16_t kListBox = 0x0083;
inline constexpr std::uint16_t kScrollBar = 0x0084;
inline constexpr std::uint16_t kComboBox = 0x0085;
}  // namespace dialog_class

struct DialogItem {
    std::uint32_t helpId = 0;  // extended items only
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t cx = 0;
    std::int16_t cy = 0;
    std::uint32_t id = 0;  // 16 bits in classic items
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    std::uint16_t creationDataSize = 0;
    friend bool operator==(const DialogItem&, const DialogItem&) = default;
};

struct DialogTemplate {
    bool extended = false;
    std::uint32_t helpId = 0;  // extended templates only
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t cx = 0;
    std::int16_t cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string title;
    // The font block, present with DS_SETFONT or DS_SHELLFONT.
    bool hasFont = false;
    std::uint16_t pointSize = 0;
    std::uint16_t weight = 0;  // extended templates only
    bool italic = false;       // extended templates only
    std::uint8_t charset = 0;  // extended templates only
    std::u16string typeface;
    std::vector<DialogItem> items;
    friend bool operator==(const DialogTemplate&, const DialogTemplate&) = default;
};

inline constexpr std::uint32_t kDsSetFont = 0x00000040;
inline constexpr std::uint32_t kDsShellFont = 0x00000048;  // DS_SETFONT | DS_FIXEDSYS

// Decodes a dialog template. Any read beyond the data fails the whole template (kFail) and leaves
// `dialog` empty: a preview shows nothing rather than part of a dialog.
HResult DecodeDialogTemplate(Bytes data, DialogTemplate& dialog);

}  // namespace kestrel
