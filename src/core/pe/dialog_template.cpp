#include "core/pe/dialog_template.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace kestrel {

namespace {

constexpr std::uint16_t kExtendedVersion = 1;
constexpr std::uint16_t kExtendedSignature = 0xFFFF;
constexpr std::uint16_t kOrdinalMarker = 0xFFFF;
// The fewest bytes an item can take (a classic one: its fixed fields, an empty class, an empty title
// and the creation data size). Keeps a hostile count from reserving memory the data cannot fill.
constexpr std::size_t kMinItemSize = 18 + 2 + 2 + 2;

// Sequential reads over one template. The first read that runs past the data marks the cursor
// failed; every later read then yields zero, so a decoder reads a whole structure and checks once.
class TemplateCursor {
  public:
    explicit TemplateCursor(Bytes data) : cursor_(data) {}

    bool ok() const { return ok_; }
    std::size_t remaining() const { return cursor_.remaining(); }

    std::uint8_t u8() { return checked(cursor_.u8()); }
    std::uint16_t u16() { return checked(cursor_.u16()); }
    std::uint32_t u32() { return checked(cursor_.u32()); }
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }

    void skip(std::size_t count) {
        if (ok_ && !cursor_.skip(count)) ok_ = false;
    }

    // Moves to the next multiple of four from the template's start. Padding cut off by the end of
    // the data is not an error by itself: the next read then fails.
    void alignTo4() {
        const std::size_t padding = (4 - cursor_.position() % 4) % 4;
        cursor_.skip(std::min(padding, cursor_.remaining()));
    }

    // A zero-terminated UTF-16LE text whose terminator lies inside the data.
    std::u16string text() { return textAfter(std::u16string{}); }

    // An sz_Or_Ord field: 0x0000 nothing, 0xFFFF and an ordinal, otherwise the first unit of a text.
    NameOrOrdinal nameOrOrdinal() {
        NameOrOrdinal field;
        const std::uint16_t first = u16();
        if (first == 0) return field;
        if (first == kOrdinalMarker) {
            field.kind = NameOrOrdinal::Kind::kOrdinal;
            field.ordinal = u16();
            return field;
        }
        field.kind = NameOrOrdinal::Kind::kText;
        field.text = textAfter(std::u16string(1, static_cast<char16_t>(first)));
        return field;
    }

  private:
    std::u16string textAfter(std::u16string text) {
        while (ok_) {
            const std::uint16_t unit = u16();
            if (unit == 0) break;
            text.push_back(static_cast<char16_t>(unit));
        }
        return text;
    }

    template <typename T>
    T checked(std::optional<T> value) {
        if (!ok_ || !value) {
            ok_ = false;
            return T{};
        }
        return *value;
    }

    ByteCursor cursor_;
    bool ok_ = true;
};

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

bool decode(Bytes data, DialogTemplate& dialog) {
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
    if (!in.ok()) return false;

    dialog.items.reserve(std::min<std::size_t>(count, in.remaining() / kMinItemSize));
    for (std::uint16_t i = 0; i < count; ++i) {
        in.alignTo4();
        dialog.items.push_back(readItem(in, dialog.extended));
        if (!in.ok()) return false;
    }
    return true;
}

}  // namespace

HResult DecodeDialogTemplate(Bytes data, DialogTemplate& dialog) {
    DialogTemplate decoded;
    if (!decode(data, decoded)) {
        dialog = DialogTemplate{};
        return kFail;
    }
    dialog = std::move(decoded);
    return kOk;
}

}  // namespace kestrel
