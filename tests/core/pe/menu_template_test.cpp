// Menu templates written here item by item, then decoded.
#include "core/pe/menu_template.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kestrel {
namespace {

using ByteVector = std::vector<std::byte>;
namespace mf = menu_flag;

void text(ByteWriter& out, std::u16string_view value) {
    for (char16_t unit : value)
        out.u16(unit);
    out.u16(0);
}

// A classic item: flags, the ID unless it opens a pop-up, the text.
void classic(ByteWriter& out, std::uint16_t flags, std::uint16_t id, std::u16string_view label) {
    out.u16(flags);
    if ((flags & mf::kPopup) == 0) out.u16(id);
    text(out, label);
}

// An extended item on its 4-byte boundary; a pop-up's help ID follows on the next one.
void extended(ByteWriter& out, std::uint32_t type, std::uint32_t state, std::uint32_t id,
              std::uint16_t resInfo, std::u16string_view label, std::uint32_t helpId = 0) {
    out.alignTo(4);
    for (std::uint32_t value : {type, state, id})
        out.u32(value);
    out.u16(resInfo);
    text(out, label);
    if ((resInfo & 1) == 0) return;
    out.alignTo(4);
    out.u32(helpId);
}

// The tree on one line: each item's text, #ID, ?help ID, the flags that are set and {children}.
std::string describe(const std::vector<MenuItem>& items) {
    std::string line;
    for (const MenuItem& i : items) {
        line += '\'' + std::string(i.text.begin(), i.text.end()) + '\'';
        if (i.id != 0) line += '#' + std::to_string(i.id);
        if (i.helpId != 0) line += '?' + std::to_string(i.helpId);
        const std::pair<bool, const char*> flags[] = {
            {i.separator, " sep"},   {i.grayed, " gray"},           {i.disabled, " off"},
            {i.checked, " check"},   {i.radioCheck, " radio"},      {i.defaultItem, " default"},
            {i.menuBreak, " break"}, {i.menuBarBreak, " barbreak"}, {i.rightJustify, " right"},
            {i.ownerDraw, " owner"}, {i.bitmap, " bitmap"}};
        for (auto [set, name] : flags) {
            if (set) line += name;
        }
        if (i.popup) line += " {" + describe(i.children) + "}";
        line += "; ";
    }
    return line;
}

// Both kinds with the same tree; `headerSize` bytes of header data lie before the items.
ByteVector classicMenu(std::uint16_t headerSize, bool ended = true) {
    ByteWriter out;
    out.u16(0);
    out.u16(headerSize);
    out.zeros(headerSize);
    classic(out, mf::kPopup, 0, u"&File");
    classic(out, mf::kGrayed, 100, u"&Open\tCtrl+O");
    classic(out, 0, 0, u"");
    classic(out, mf::kChecked | mf::kDisabled | mf::kDefault, 101, u"Sa&ve");
    classic(out, mf::kPopup | mf::kEnd, 0, u"Recent");
    classic(out, mf::kMenuBarBreak | mf::kBitmap, 102, u"1");
    classic(out, mf::kEnd, 0, u"");
    classic(out, mf::kPopup | mf::kRightJustify | (ended ? mf::kEnd : 0), 0, u"&Help");
    classic(out, mf::kEnd | mf::kMenuBreak | mf::kOwnerDraw, 0, u"");
    return std::move(out.bytes());
}

// The help ID sits at 4 when the offset leaves room for it; odd text lengths need padding.
ByteVector extendedMenu(std::uint16_t offset, bool ended = true) {
    ByteWriter out;
    out.u16(1);
    out.u16(offset);
    if (offset >= 4) out.u32(0xBEEF);
    out.zeros(offset >= 4 ? offset - 4u : offset);
    extended(out, 0, 0, 0, 0x01, u"&File", 0x51);
    extended(out, 0x200, 0x1 | mf::kChecked, 200, 0, u"Radio");
    extended(out, mf::kSeparator, 0, 0, 0, u"");
    extended(out, 0, 0, 0, 0, u"");  // how resource compilers write MENUITEM SEPARATOR
    extended(out, 0, 0x2 | mf::kDefault, 201, 0x80, u"Bold");
    extended(out, mf::kRightJustify | mf::kRightOrder, 0, 0, 0x01 | (ended ? 0x80 : 0), u"&Help", 0x52);
    extended(out, mf::kOwnerDraw | mf::kMenuBreak, 0x3, 0x10000, 0x80, u"About");
    return std::move(out.bytes());
}

TEST(MenuTemplate, DecodesNestedPopupsSeparatorsAndFlagsOfBothKinds) {
    for (std::uint16_t headerSize : {0, 6}) {
        ByteVector bytes = classicMenu(headerSize);
        bytes.insert(bytes.end(), 6, std::byte{0x41});  // after the menu bar's end: not read
        MenuTemplate menu;
        ASSERT_EQ(DecodeMenuTemplate(asBytes(bytes), menu), kOk) << headerSize;
        EXPECT_FALSE(menu.extended);
        EXPECT_EQ(describe(menu.items),
                  "'&File' {'&Open\tCtrl+O'#100 gray; '' sep; 'Sa&ve'#101 off check default; "
                  "'Recent' {'1'#102 barbreak bitmap; '' sep; }; }; '&Help' right {'' break owner; }; ");
    }
    for (std::uint16_t offset : {0, 4, 12}) {
        MenuTemplate menu;
        ASSERT_EQ(DecodeMenuTemplate(asBytes(extendedMenu(offset)), menu), kOk) << offset;
        EXPECT_TRUE(menu.extended);
        EXPECT_EQ(menu.helpId, offset >= 4 ? 0xBEEFu : 0u);
        // Both bits of MFS_GRAYED (0x3) show as grayed and disabled.
        EXPECT_EQ(describe(menu.items),
                  "'&File'?81 {'Radio'#200 gray off check radio; '' sep; '' sep; "
                  "'Bold'#201 gray off default; }; "
                  "'&Help'?82 right {'About'#65536 gray off break owner; }; ");
    }
}

TEST(MenuTemplate, CutListsMissingEndsAndUnknownVersionsFailTheWholeTemplate) {
    MenuTemplate decoded;
    for (const ByteVector& bytes : {classicMenu(0), extendedMenu(4)}) {
        ASSERT_EQ(DecodeMenuTemplate(asBytes(bytes), decoded), kOk);
        const MenuTemplate whole = decoded;
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            MenuTemplate menu = whole;
            ASSERT_EQ(DecodeMenuTemplate(asBytes(bytes).first(length), menu), kFail) << length;
            ASSERT_EQ(menu, MenuTemplate{}) << length;
        }
    }
    // A menu bar without its end flag runs into the end of the data at its next item.
    for (ByteVector bytes : {classicMenu(0, false), extendedMenu(4, false)}) {
        bytes.insert(bytes.end(), 6, std::byte{0});
        EXPECT_EQ(DecodeMenuTemplate(asBytes(bytes), decoded), kFail);
    }
    ByteVector versionTwo = classicMenu(0);
    versionTwo[0] = std::byte{2};
    EXPECT_EQ(DecodeMenuTemplate(asBytes(versionTwo), decoded), kFail);
}

TEST(MenuTemplate, NestingDeeperThanTheLimitFails) {
    for (bool isExtended : {false, true}) {
        for (int levels : {kMaxMenuDepth, kMaxMenuDepth + 1}) {
            // Each list holds one pop-up opening the next list; the innermost holds one command.
            ByteWriter out;
            out.u16(isExtended ? 1 : 0);
            out.u16(0);
            for (int level = 1; level <= levels; ++level) {
                const bool leaf = level == levels;
                if (isExtended) extended(out, 0, 0, leaf ? 7 : 0, leaf ? 0x80 : 0x81, u"P");
                if (!isExtended) classic(out, mf::kEnd | (leaf ? 0 : mf::kPopup), 7, u"P");
            }
            MenuTemplate menu;
            const HResult result = DecodeMenuTemplate(asBytes(out.bytes()), menu);
            EXPECT_EQ(result, levels > kMaxMenuDepth ? kFail : kOk) << isExtended << " " << levels;
            if (result != kOk) continue;
            const std::vector<MenuItem>* list = &menu.items;
            for (int level = 1; level < levels; ++level)
                list = &list->at(0).children;
            EXPECT_EQ(list->at(0).id, 7u);
        }
    }
}

}  // namespace
}  // namespace kestrel
