// Dialog templates written here field by field, then decoded.
#include "core/pe/dialog_template.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using ByteVector = std::vector<std::byte>;

NameOrOrdinal ordinal(std::uint16_t value) {
    return {NameOrOrdinal::Kind::kOrdinal, value, {}};
}
NameOrOrdinal name(std::u16string text) {
    return {NameOrOrdinal::Kind::kText, 0, std::move(text)};
}

void text(ByteWriter& out, std::u16string_view value) {
    for (char16_t unit : value)
        out.u16(unit);
    out.u16(0);
}

void field(ByteWriter& out, const NameOrOrdinal& value) {
    if (value.isOrdinal()) {
        out.u16(0xFFFF);
        out.u16(value.ordinal);
    } else {
        text(out, value.text);
    }
}

// The template as a resource compiler lays it out: items on 4-byte boundaries from the start,
// creation data filled with 0xCC.
ByteVector encode(const DialogTemplate& dialog) {
    ByteWriter out;
    if (dialog.extended) {
        for (std::uint32_t value : {0xFFFF0001u, dialog.helpId, dialog.exStyle, dialog.style})
            out.u32(value);
    } else {
        out.u32(dialog.style);
        out.u32(dialog.exStyle);
    }
    out.u16(static_cast<std::uint32_t>(dialog.items.size()));
    for (std::int16_t value : {dialog.x, dialog.y, dialog.cx, dialog.cy})
        out.u16(static_cast<std::uint16_t>(value));
    field(out, dialog.menu);
    field(out, dialog.windowClass);
    text(out, dialog.title);
    if (dialog.hasFont) {
        out.u16(dialog.pointSize);
        if (dialog.extended) {
            out.u16(dialog.weight);
            out.u8(dialog.italic ? 1 : 0);
            out.u8(dialog.charset);
        }
        text(out, dialog.typeface);
    }
    for (const DialogItem& item : dialog.items) {
        out.alignTo(4);
        if (dialog.extended) out.u32(item.helpId);
        out.u32(dialog.extended ? item.exStyle : item.style);
        out.u32(dialog.extended ? item.style : item.exStyle);
        for (std::int16_t value : {item.x, item.y, item.cx, item.cy})
            out.u16(static_cast<std::uint16_t>(value));
        dialog.extended ? out.u32(item.id) : out.u16(item.id);
        field(out, item.windowClass);
        field(out, item.title);
        out.u16(item.creationDataSize);
        out.bytes().insert(out.bytes().end(), item.creationDataSize, std::byte{0xCC});
    }
    return std::move(out.bytes());
}

// Odd text lengths everywhere, so that every item needs padding before it.
DialogTemplate sample(bool extended, std::uint32_t style) {
    DialogTemplate dialog;
    dialog.extended = extended;
    dialog.helpId = extended ? 0x4711 : 0;
    dialog.style = style;
    dialog.exStyle = 0x00000100;
    dialog.x = -5;
    dialog.y = 7;
    dialog.cx = 213;
    dialog.cy = 97;
    dialog.menu = ordinal(3);
    dialog.windowClass = name(u"KestrelDlg");
    dialog.title = u"About";
    dialog.hasFont = (style & kDsSetFont) != 0;
    if (dialog.hasFont) {
        dialog.pointSize = 9;
        dialog.typeface = u"Shell Dlg";
        if (extended) {
            dialog.weight = 700;
            dialog.italic = true;
            dialog.charset = 134;
        }
    }
    const std::uint32_t helpId = extended ? 17 : 0, wideId = extended ? 0x12345 : 1001;
    dialog.items = {
        {helpId, 0x50010001, 0, 150, 76, 50, 14, 1, ordinal(dialog_class::kButton), name(u"OK"), 0},
        {0, 0x50000003, 0, 7, 7, -1, -1, 0xFFFF, ordinal(dialog_class::kStatic), ordinal(100), 0},
        {0, 0x50010000, 0x4, 40, 30, 160, 9, wideId, name(u"SysLink"), name(u"<a>kestrel</a>"), 6},
        {0, 0x50810080, 0x200, 40, 50, 160, 12, 1002, ordinal(dialog_class::kEdit), {}, 3}};
    return dialog;
}

std::vector<DialogTemplate> samples() {
    std::vector<DialogTemplate> all;
    for (bool extended : {false, true}) {
        // DS_FIXEDSYS alone has no font block; DS_SHELLFONT has one.
        for (std::uint32_t style :
             {0x80C80000u, 0x80C80008u, 0x80C80000u | kDsSetFont, 0x80C80000u | kDsShellFont})
            all.push_back(sample(extended, style));
    }
    return all;
}

TEST(DialogTemplate, DecodesBothKindsFieldForFieldWhereverTheTemplateLies) {
    for (const DialogTemplate& expected : samples()) {
        SCOPED_TRACE(testing::Message() << "extended " << expected.extended << " style " << expected.style);
        const ByteVector bytes = encode(expected);
        DialogTemplate decoded;
        ASSERT_EQ(DecodeDialogTemplate(asBytes(bytes), decoded), kOk);
        EXPECT_EQ(decoded, expected);
        // Item boundaries count from the template's start, not from wherever its bytes are held.
        for (std::size_t shift = 1; shift < 4; ++shift) {
            ByteVector held(shift, std::byte{0xEE});
            held.insert(held.end(), bytes.begin(), bytes.end());
            DialogTemplate moved;
            ASSERT_EQ(DecodeDialogTemplate(asBytes(held).subspan(shift), moved), kOk);
            EXPECT_EQ(moved, expected);
        }
    }
}

TEST(DialogTemplate, EveryCutOrMissingItemFailsTheWholeTemplate) {
    for (const DialogTemplate& whole : samples()) {
        SCOPED_TRACE(testing::Message() << "extended " << whole.extended << " style " << whole.style);
        const ByteVector bytes = encode(whole);
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            DialogTemplate decoded = whole;
            ASSERT_EQ(DecodeDialogTemplate(asBytes(bytes).first(length), decoded), kFail) << length;
            ASSERT_EQ(decoded, DialogTemplate{}) << length;
        }
        // One item more than the data holds.
        ByteWriter counted;
        counted.append(asBytes(bytes));
        counted.patchU16(whole.extended ? 16 : 8, static_cast<std::uint32_t>(whole.items.size() + 1));
        counted.zeros(2);
        DialogTemplate decoded;
        EXPECT_EQ(DecodeDialogTemplate(asBytes(counted.bytes()), decoded), kFail);
    }
}

}  // namespace
}  // namespace kestrel
