#include "core/pe/dialog_template.h"

#include "core/pe/template_cursor.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace kestrel {

namespace {

constexpr std::uint16_t kExtendedVersion = 1;
constexpr std::uint16_t kExtendedSignature = 0xFFFF;
// The fewest bytes an item can take (a classic one: its fixed fields, an empty class, an empty title
// and the creation data size). Keeps a hostile count from reserving memory the data cannot fill.
constexpr std::size_t kMinItemSize = 18 + 2 + 2 + 2;

// Menu, class, title and, with DS_SETFONT, the font block; `in` stands after the dialog's size.
void readNamesAndFont(TemplateCursor& in, DialogTemplate& dialog) {
    dialog.menu = in.nameOrOrdinal();
    dialog.windowClass = in.nameOrOrdinal();
    dialog.title = in.text();
    // DS_SHELLFONT holds DS_SETFONT, so the one bit covers both.
    dialog.hasFont = (dialog.style & kDsSetFont) != 0;
    if (!dialog.hasFont) return;
    dialog.pointSize = in.u16();
    if (dialog.extended) {
        dialog.weight = in.u16();
        dialog.italic = in.u8() != 0;
        dialog.charset = in.u8();
    }
    dialog.typeface = in.text();
}

// One item; `in` stands on the item's 4-byte boundary. The creation data is passed over: its u16
// counts the bytes that follow it in both kinds of template.
DialogItem readItem(TemplateCursor& in, bool extended) {
    DialogItem item;
    if (extended) {
        item.helpId = in.u32();
        item.exStyle = in.u32();
        item.style = in.u32();
    } else {
        item.style = in.u32();
        item.exStyle = in.u32();
    }
    item.x = in.i16();
    item.y = in.i16();
    item.cx = in.i16();
    item.cy = in.i16();
    item.id = extended ? in.u32() : in.u16();
    item.windowClass = in.nameOrOrdinal();
    item.title = in.nameOrOrdinal();
    item.creationDataSize = in.u16();
    in.skip(item.creationDataSize);
    return item;
}

HResult decode(Bytes data, DialogTemplate& dialog) {
    TemplateCursor in(data);
    const ByteReader peek(data);
    dialog.extended = peek.u16(0) == kExtendedVersion && peek.u16(2) == kExtendedSignature;
    if (dialog.extended) {
        in.skip(4);
        dialog.helpId = in.u32();
        dialog.exStyle = in.u32();
        dialog.style = in.u32();
    } else {
        dialog.style = in.u32();
        dialog.exStyle = in.u32();
    }
    const std::uint16_t count = in.u16();
    dialog.x = in.i16();
    dialog.y = in.i16();
    dialog.cx = in.i16();
    dialog.cy = in.i16();
    readNamesAndFont(in, dialog);
    if (!in.ok()) return kFail;

    dialog.items.reserve(std::min<std::size_t>(count, in.remaining() / kMinItemSize));
    for (std::uint16_t i = 0; i < count; ++i) {
        in.alignTo4();
        dialog.items.push_back(readItem(in, dialog.extended));
        if (!in.ok()) return kFail;
    }
    return kOk;
}

}  // namespace

HResult DecodeDialogTemplate(Bytes data, DialogTemplate& dialog) {
    DialogTemplate decoded;
    if (decode(data, decoded).failed()) {
        dialog = DialogTemplate{};
        return kFail;
    }
    dialog = std::move(decoded);
    return kOk;
}

}  // namespace kestrel
