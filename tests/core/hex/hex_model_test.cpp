// The hex editor's model: typing, selection, layout and scrolling, without any widget.
#include "core/hex/hex_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::toBytes;

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    return testing::bytesOf(values);
}

// 16 units a line, 10 lines, cells of 8 × 18 pixels: the hex area starts at column 10, the
// characters at column 59.
HexModel modelWith(std::vector<std::byte> data, int unitWidth = 2, bool resizable = true) {
    HexModel model;
    model.setCellSize(8, 18);
    model.setUnitsPerLine(16);
    model.setViewport(800, 180, 16, 16);
    model.setUnitWidth(unitWidth);
    model.setResizable(resizable);
    EXPECT_EQ(model.setData(std::move(data)), kOk);
    return model;
}

// The viewport point in the middle of `column` on screen line `line`.
int xOf(int column) {
    return column * 8 + 4 + 4;
}
int yOf(int line) {
    return line * 18 + 9;
}

void type(HexModel& model, std::string_view digits, bool insertMode) {
    for (char digit : digits)
        model.typeHexDigit(digit, insertMode);
}

struct TypingCase {
    const char* name;
    bool insertMode;
    bool resizable;
    std::int64_t caret;
    const char* digits;
    std::vector<std::byte> expected;
    std::int64_t expectedCaret;
};

class HexEditTyping : public ::testing::TestWithParam<TypingCase> {};

TEST_P(HexEditTyping, ReplacesOrInsertsNibblesAtBothEnds) {
    const TypingCase& c = GetParam();
    HexModel model = modelWith(bytes({0x41, 0x42}), 2, c.resizable);
    model.setCaret(c.caret);
    type(model, c.digits, c.insertMode);
    EXPECT_EQ(model.data(), c.expected) << c.name;
    EXPECT_EQ(model.caret(), c.expectedCaret) << c.name;
    EXPECT_EQ(model.isModified(), model.data() != bytes({0x41, 0x42})) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    HexEdit, HexEditTyping,
    ::testing::Values(TypingCase{"overwrite start", false, false, 0, "7e", bytes({0x7E, 0x42}), 1},
                      TypingCase{"insert start", true, false, 0, "7e", bytes({0x7E, 0x41, 0x42}), 1},
                      // The second digit of a unit overwrites even in insert mode.
                      TypingCase{"insert across units", true, false, 0, "7E5",
                                 bytes({0x7E, 0x50, 0x41, 0x42}), 1},
                      TypingCase{"overwrite across units", false, false, 0, "123", bytes({0x12, 0x32}), 1},
                      TypingCase{"append resizable", false, true, 2, "7e", bytes({0x41, 0x42, 0x7E}), 3},
                      TypingCase{"append insert", true, false, 2, "7", bytes({0x41, 0x42, 0x70}), 2},
                      TypingCase{"end of fixed size", false, false, 2, "7e", bytes({0x41, 0x42}), 2},
                      TypingCase{"not a digit", true, true, 0, "g ", bytes({0x41, 0x42}), 0}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(HexEditModel, WideUnitsAreLittleEndianAndPaddedToWholeUnits) {
    HexModel words = modelWith(bytes({1, 2, 3}), 4);
    EXPECT_EQ(words.data(), bytes({1, 2, 3, 0}));
    EXPECT_EQ(words.unitCount(), 2);
    HexRow row;
    words.row(0, row);
    EXPECT_EQ(row.hex.substr(0, 10), "0201 0003 ");
    type(words, "12345", false);
    EXPECT_EQ(words.data(), bytes({0x34, 0x12, 3, 0x50}));
    EXPECT_EQ(words.caret(), 1);
    EXPECT_EQ(words.nibble(), 1);

    HexModel dwords = modelWith(bytes({1, 2, 3, 4, 5}), 8);
    EXPECT_EQ(dwords.data().size(), 8u);
    type(dwords, "12345678", true);
    EXPECT_EQ(dwords.data(), bytes({0x78, 0x56, 0x34, 0x12, 1, 2, 3, 4, 5, 0, 0, 0}));

    // Switching back to bytes keeps the caret on its byte.
    dwords.setUnitWidth(2);
    EXPECT_EQ(dwords.caret(), 4);
}

TEST(HexEditModel, RowsShowOffsetsUpToTheAppendLine) {
    HexModel model = modelWith(std::vector<std::byte>(16, std::byte{0x41}));
    HexRow row;
    model.row(0, row);
    EXPECT_EQ(row.offset, "00000000  ");
    EXPECT_EQ(row.characters, std::string(16, 'A'));
    model.row(1, row);
    EXPECT_EQ(row.offset, "00000010  ");
    EXPECT_EQ(row.hex, std::string(48, ' '));
    model.row(2, row);
    EXPECT_EQ(row.offset, std::string(10, ' '));

    ASSERT_EQ(model.setData(bytes({0x00, 0x7F, 0x20}), 0x1000), kOk);
    model.row(0, row);
    EXPECT_EQ(row.offset, "00001000  ");
    EXPECT_EQ(row.characters.substr(0, 4), "..  ");
}

TEST(HexEditModel, LayoutFitsUnitsToTheWidthAndAddsScrollBarsAsNeeded) {
    HexModel model;
    model.setCellSize(8, 18);
    // 75 columns: just enough for 16 units with offsets and characters; 4 lines.
    model.setViewport(8 * 75 + 4, 18 * 4, 16, 16);
    EXPECT_EQ(model.setData(std::vector<std::byte>(63)), kOk);
    EXPECT_EQ(model.unitsPerLine(), 16);
    EXPECT_FALSE(model.horizontalBarNeeded());
    EXPECT_FALSE(model.verticalBarNeeded());

    // A fifth line (the append position) calls for the vertical bar.
    ASSERT_EQ(model.setData(std::vector<std::byte>(64)), kOk);
    // The vertical bar takes two columns, which leaves room for only 15 units.
    EXPECT_TRUE(model.verticalBarNeeded());
    EXPECT_EQ(model.unitsPerLine(), 15);
    EXPECT_EQ(model.verticalRange().maximum, 1);

    model.setCaret(64);
    EXPECT_EQ(model.top(), 15);
    EXPECT_EQ(model.verticalRange().value, 1);
}

TEST(HexEditModel, TypingOverASelectionReplacesItOrOnlyDropsIt) {
    HexModel resizable = modelWith(toBytes("abcd"));
    resizable.select(1, 2);
    resizable.setCaret(3);
    type(resizable, "4", false);
    EXPECT_EQ(resizable.data(), bytes({'a', 0x40, 'd'}));
    EXPECT_EQ(resizable.caret(), 1);
    EXPECT_EQ(resizable.nibble(), 1);

    HexModel fixed = modelWith(toBytes("abcd"), 2, false);
    fixed.select(1, 2);
    fixed.setCaret(1);
    type(fixed, "4", false);
    EXPECT_EQ(fixed.data(), toBytes("aBcd"));
    EXPECT_FALSE(fixed.hasSelection());

    // A selection that ends the data leaves nothing to overwrite after it.
    fixed.select(2, 3);
    fixed.setCaret(4);
    EXPECT_FALSE(fixed.typeHexDigit('1', false));
    EXPECT_EQ(fixed.data(), toBytes("aBcd"));
}

TEST(HexEditModel, ScrollingKeepsTheTopOnLineStartsInsideTheData) {
    HexModel model = modelWith(std::vector<std::byte>(1000));  // 63 lines, 10 visible
    model.wheel(3);
    EXPECT_EQ(model.top(), 48);
    model.wheel(1000);
    EXPECT_EQ(model.top(), 16 * 53);
    model.scrollToLine(-5);
    EXPECT_EQ(model.top(), 0);
    model.handleKey(HexKey::kPageDown, false, false, false);
    EXPECT_EQ(model.caret(), 160);
    EXPECT_EQ(model.top(), 16);
    model.handleKey(HexKey::kEnd, false, true, false);
    EXPECT_EQ(model.caret(), 1000);
    EXPECT_EQ(model.top(), 16 * 53);
    EXPECT_EQ(model.verticalRange().value, 53);

    // 38 columns of 75 (the vertical bar takes two): the caret's unit is scrolled into view, Home
    // scrolls fully left.
    model.setViewport(8 * 40 + 4, 180, 16, 16);
    ASSERT_TRUE(model.horizontalBarNeeded());
    ASSERT_EQ(model.visibleColumns(), 38);
    model.setCaret(15);
    EXPECT_EQ(model.horizontalScroll(), 10 + 15 * 3 + 2 - 38);
    model.handleKey(HexKey::kHome, false, false, false);
    EXPECT_EQ(model.horizontalScroll(), 0);
}

TEST(HexEditModel, ShiftArrowsGrowShrinkAndDropTheSelection) {
    HexModel model = modelWith(std::vector<std::byte>(64));
    model.setCaret(4);
    for (int i = 0; i < 3; ++i)
        model.handleKey(HexKey::kRight, true, false, false);
    EXPECT_EQ(model.selectionStart(), 4);
    EXPECT_EQ(model.selectionEnd(), 6);
    model.handleKey(HexKey::kLeft, true, false, false);
    EXPECT_EQ(model.selectionEnd(), 5);
    model.handleKey(HexKey::kLeft, true, false, false);
    model.handleKey(HexKey::kLeft, true, false, false);
    EXPECT_FALSE(model.hasSelection());

    // Backwards, then past the anchor: the selection flips to the other side.
    model.handleKey(HexKey::kLeft, true, false, false);
    EXPECT_EQ(model.selectionStart(), 3);
    EXPECT_EQ(model.selectionEnd(), 3);
    model.handleKey(HexKey::kDown, true, false, false);
    EXPECT_EQ(model.selectionStart(), 4);
    EXPECT_EQ(model.selectionEnd(), 18);
    model.handleKey(HexKey::kEnd, true, false, false);
    EXPECT_EQ(model.selectionEnd(), 31);  // Shift+End takes the line's last unit in

    EXPECT_FALSE(model.handleKey(HexKey::kRight, true, true, false));
    EXPECT_TRUE(model.handleKey(HexKey::kRight, false, false, false));
    EXPECT_FALSE(model.hasSelection());
    EXPECT_EQ(model.caret(), 33);
}

TEST(HexEditModel, DeletionKeysDependOnModeAndSize) {
    HexModel model = modelWith(bytes({1, 2, 3, 4}), 2, false);
    model.handleKey(HexKey::kBackspace, false, false, true);
    EXPECT_EQ(model.data().size(), 4u);  // nothing before the caret

    model.setCaret(2);
    model.handleKey(HexKey::kBackspace, false, false, true);
    EXPECT_EQ(model.data(), bytes({1, 3, 4}));
    EXPECT_EQ(model.caret(), 1);
    model.handleKey(HexKey::kDelete, false, false, true);
    EXPECT_EQ(model.data(), bytes({1, 4}));

    // Overwrite mode of a fixed size: Delete clears the selected bytes and keeps the length.
    ASSERT_EQ(model.setData(bytes({1, 2, 3, 4})), kOk);
    model.select(1, 2);
    model.handleKey(HexKey::kDelete, false, false, false);
    EXPECT_EQ(model.data(), bytes({1, 0, 0, 4}));
    EXPECT_FALSE(model.hasSelection());
    model.handleKey(HexKey::kBackspace, false, false, false);
    EXPECT_EQ(model.data(), bytes({1, 0, 0, 4}));
}

TEST(HexEditModel, MouseSelectsInBothAreasAndLandsAfterTheSelection) {
    HexModel model = modelWith(std::vector<std::byte>(64));
    // Hex area: from unit 2 on line 0 to unit 5 on line 1.
    model.mousePress(xOf(10 + 2 * 3), yOf(0), false);
    model.mouseMove(xOf(10 + 5 * 3 + 1), yOf(1));
    EXPECT_EQ(model.selectionStart(), 2);
    EXPECT_EQ(model.selectionEnd(), 21);
    model.mouseRelease(xOf(10 + 5 * 3 + 1), yOf(1));
    EXPECT_EQ(model.caret(), 22);
    EXPECT_EQ(model.area(), HexArea::kHex);

    // Character area, dragged backwards and on into the hex columns: it stays with the characters.
    model.mousePress(xOf(59 + 3), yOf(0), false);
    EXPECT_FALSE(model.hasSelection());
    model.mouseMove(xOf(20), yOf(0));
    EXPECT_EQ(model.area(), HexArea::kCharacters);
    EXPECT_EQ(model.selectionStart(), 0);
    EXPECT_EQ(model.selectionEnd(), 3);
    model.mouseRelease(xOf(20), yOf(0));
    EXPECT_EQ(model.caret(), 0);

    // A drag past the data ends on the last unit.
    model.mousePress(xOf(10), yOf(3), false);
    model.mouseMove(xOf(40), yOf(6));
    EXPECT_EQ(model.selectionEnd(), 63);
    model.mouseRelease(xOf(40), yOf(6));
    EXPECT_EQ(model.caret(), 64);

    // The blank after a unit counts as its last nibble; a double click selects the unit.
    model.hitTest(xOf(10 + 3 * 3 + 2), yOf(0), false);
    EXPECT_EQ(model.caret(), 3);
    EXPECT_EQ(model.nibble(), 1);
    model.doubleClick(xOf(10 + 4 * 3), yOf(0));
    EXPECT_EQ(model.selectionStart(), 4);
    EXPECT_EQ(model.selectionEnd(), 4);
    EXPECT_EQ(model.caret(), 5);
}

TEST(HexEditModel, PasteOverwritesWithinTheSelectionGrowsAtTheEndOrInserts) {
    const std::vector<std::byte> payload = encodeBinaryData(toBytes("xyz"));
    EXPECT_EQ(payload, bytes({3, 0, 0, 0, 'x', 'y', 'z'}));
    std::vector<std::byte> lying = payload;
    lying[0] = std::byte{50};
    EXPECT_EQ(decodeBinaryData(lying).size(), 3u);
    EXPECT_TRUE(decodeBinaryData(bytes({1, 0})).empty());

    HexModel model = modelWith(toBytes("abcd"));
    model.select(1, 1);
    model.setCaret(2);
    ASSERT_EQ(model.paste(toBytes("AB"), false), kOk);
    EXPECT_EQ(model.data(), toBytes("aAcd"));
    EXPECT_EQ(model.caret(), 1);
    EXPECT_FALSE(model.hasSelection());

    model.setCaret(3);
    ASSERT_EQ(model.paste(decodeBinaryData(payload), false), kOk);
    EXPECT_EQ(model.data(), toBytes("aAcxyz"));

    model.setResizable(false);
    model.setCaret(5);
    ASSERT_EQ(model.paste(toBytes("12"), false), kOk);
    EXPECT_EQ(model.data(), toBytes("aAcxy1"));

    model.select(0, 2);
    ASSERT_EQ(model.paste(toBytes("Q"), true), kOk);
    EXPECT_EQ(model.data(), toBytes("Qxy1"));
    EXPECT_EQ(model.caret(), 0);

    // Insert mode with 16-bit units takes whole units.
    HexModel words = modelWith(bytes({1, 2}), 4);
    ASSERT_EQ(words.paste(toBytes("abc"), true), kOk);
    EXPECT_EQ(words.data(), bytes({'a', 'b', 'c', 0, 1, 2}));
}

TEST(HexEditModel, TheSizeLimitRefusesWithoutChangingAnything) {
    HexModel model = modelWith(bytes({1, 2, 3, 4, 5, 6}));
    model.setMaxDataBytes(8);
    model.select(0, 1);
    model.setCaret(2);
    EXPECT_EQ(model.setData(std::vector<std::byte>(9)), kOutOfMemory);
    EXPECT_EQ(model.paste(toBytes("abcde"), true), kOutOfMemory);
    EXPECT_EQ(model.selectionStart(), 0);
    EXPECT_EQ(model.caret(), 2);
    model.clearSelection();
    model.setCaret(5);
    EXPECT_EQ(model.paste(toBytes("abcd"), false), kOutOfMemory);
    EXPECT_EQ(model.insertUnits(0, 3), kOutOfMemory);
    EXPECT_EQ(model.data(), bytes({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(model.caret(), 5);
    EXPECT_FALSE(model.isModified());

    EXPECT_EQ(model.insertUnits(6, 2), kOk);
    EXPECT_EQ(model.setData(std::vector<std::byte>(8)), kOk);
}

}  // namespace
}  // namespace kestrel
