// The hex control's state without any widget: the bytes and their edit primitives, caret, selection
// and scroll position, the layout of offset, hex and character columns, the decisions for keys and
// mouse, and the clipboard payload. HexEdit paints what this computes and routes its input here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

enum class HexArea { kHex, kCharacters };

// The keys the control handles itself; the widget maps its key codes to these.
enum class HexKey {
    kBackspace,
    kDelete,
    kPageUp,
    kPageDown,
    kHome,
    kEnd,
    kLeft,
    kRight,
    kUp,
    kDown,
    kTab,
    kA
};

// The clipboard format of copied bytes: a 4-byte little-endian count, then the bytes.
inline constexpr std::string_view kBinaryDataFormat = "application/x-qt-windows-mime;value=\"BinaryData\"";
std::vector<std::byte> encodeBinaryData(Bytes bytes);
// The bytes of a BinaryData payload; the count is cut to the bytes present (empty when short).
Bytes decodeBinaryData(Bytes payload);

// The texts of one screen line, one character per column.
struct HexRow {
    std::string offset;      // "%0*X  ", blanks when the line starts past the data; empty when hidden
    std::string hex;         // units × (unitWidth + 1) characters, blanks past the data
    std::string characters;  // one per unit; empty without the character area
    int firstSelected = -1;  // the selected units of this line (indexes within it), -1 when none
    int lastSelected = -1;
};

// A scroll bar's settings: range 0 … maximum, page step and position.
struct HexScrollRange {
    int maximum = 0;
    int pageStep = 0;
    int value = 0;
};

// Where the caret is drawn: a column (before horizontal scrolling) and a line relative to the top.
struct HexCaretCell {
    int column = 0;
    std::int64_t line = 0;
};

class HexModel {
  public:
    static constexpr std::int64_t kMaxDataBytes = 0x7FFFFFFF;

    // ----- Data ---------------------------------------------------------------------------------
    // Takes the bytes over and resets caret, selection, nibble, scroll, area and modified. More than
    // maxDataBytes(): kOutOfMemory and nothing changes.
    HResult setData(std::vector<std::byte> data, std::uint32_t baseOffset = 0);
    void clearData();
    // Leaves the control without data and hands the bytes (and their buffer) to the caller.
    std::vector<std::byte> takeData();
    bool hasData() const { return hasData_; }
    const std::vector<std::byte>& data() const { return data_; }
    std::uint32_t baseOffset() const { return baseOffset_; }
    // The largest data size allowed; lowered by tests to reach the limit without gigabytes.
    void setMaxDataBytes(std::int64_t bytes) { maxDataBytes_ = bytes; }
    std::int64_t maxDataBytes() const { return maxDataBytes_; }

    bool isModified() const { return modified_; }
    void setModified(bool modified);
    // Told whenever the modified flag changes.
    void setModifiedCallback(std::function<void(bool)> callback) { modifiedChanged_ = std::move(callback); }

    // ----- Properties (each relays the lines out) ------------------------------------------------
    // 2 (bytes), 4 or 8 nibbles (16- and 32-bit little-endian units).
    void setUnitWidth(int nibbles);
    // 0: as many as fit the width.
    void setUnitsPerLine(int units);
    void setShowOffsets(bool show);
    void setShowCharacters(bool show);
    void setResizable(bool resizable) { resizable_ = resizable; }
    void setOffsetDigits(int digits);
    int unitWidth() const { return unitWidth_; }
    int bytesPerUnit() const { return unitWidth_ / 2; }
    bool showOffsets() const { return showOffsets_; }
    bool isResizable() const { return resizable_; }
    int offsetDigits() const { return offsetDigits_; }
    // The character area exists only for byte units.
    bool charactersShown() const { return showCharacters_ && unitWidth_ == 2; }

    // ----- Layout -------------------------------------------------------------------------------
    void setCellSize(int cellWidth, int lineHeight);
    // The viewport as if no scroll bar were shown, and the room each bar takes when it is.
    void setViewport(int width, int height, int verticalBarWidth, int horizontalBarHeight);
    // Recomputes columns, lines and scroll bar needs, pads the data to whole units, keeps the caret
    // in view.
    void relayout();

    int cellWidth() const { return cellWidth_; }
    int lineHeight() const { return lineHeight_; }
    int unitsPerLine() const { return units_; }
    int visibleColumns() const { return visibleColumns_; }
    int visibleLines() const { return visibleLines_; }
    int hexStart() const { return hexStart_; }
    int charStart() const { return charStart_; }
    int totalColumns() const { return totalColumns_; }
    std::int64_t totalLines() const { return totalLines_; }
    bool horizontalBarNeeded() const { return horizontalBar_; }
    bool verticalBarNeeded() const { return verticalBar_; }
    HexScrollRange verticalRange() const;
    HexScrollRange horizontalRange() const;
    // The texts of screen line `line` (0 = the top line).
    void row(int line, HexRow& out) const;
    HexCaretCell caretCell() const;

    // ----- Caret, selection, scrolling ------------------------------------------------------------
    std::int64_t unitCount() const { return static_cast<std::int64_t>(data_.size()) / bytesPerUnit(); }
    std::int64_t caret() const { return caret_; }
    int nibble() const { return nibble_; }
    HexArea area() const { return area_; }
    bool hasSelection() const { return selStart_ >= 0; }
    std::int64_t selectionStart() const { return selStart_; }
    std::int64_t selectionEnd() const { return selEnd_; }
    std::int64_t anchor() const { return anchor_; }
    std::int64_t top() const { return top_; }
    int horizontalScroll() const { return hscroll_; }

    void setCaret(std::int64_t caret, int nibble = 0, HexArea area = HexArea::kHex);
    void select(std::int64_t start, std::int64_t end);
    void clearSelection() { selStart_ = selEnd_ = -1; }
    // Keeps the caret inside the data and on screen; true when the view scrolled.
    bool makeCaretVisible();
    void moveCaret(std::int64_t units, std::int64_t lines);
    void scrollToLine(std::int64_t line);
    void scrollToColumn(int column);
    void wheel(int steps);

    // ----- Editing ------------------------------------------------------------------------------
    // Both fail with kOutOfMemory past the size limit and then change nothing.
    HResult insertUnits(std::int64_t at, std::int64_t count);
    void deleteUnits(std::int64_t at, std::int64_t count);
    void deleteSelection();
    // Makes room for one typed unit or nibble; false when nothing may be typed here.
    bool prepareTyping(bool insertMode);
    // One hex digit typed in the hex area; false when it was not taken.
    bool typeHexDigit(char digit, bool insertMode);
    // Bytes typed in the character area (a character's UTF-8 form).
    bool typeBytes(std::string_view bytes, bool insertMode);
    // Navigation and deletion keys; false when the key is not one of ours in this combination.
    bool handleKey(HexKey key, bool shift, bool control, bool insertMode);

    // ----- Mouse (viewport coordinates) ---------------------------------------------------------
    void hitTest(int x, int y, bool selecting);
    void mousePress(int x, int y, bool shift);
    void mouseMove(int x, int y);
    // The drag went on outside the viewport: extends to the last point again.
    void autoScroll();
    void mouseRelease(int x, int y);
    void doubleClick(int x, int y);
    bool isDragging() const { return dragging_; }
    bool isSelecting() const { return selecting_; }

    // ----- Clipboard ----------------------------------------------------------------------------
    bool canCopy() const { return hasData_ && hasSelection(); }
    bool canCut(bool insertMode) const { return canCopy() && (insertMode || resizable_); }
    bool canSelectAll() const { return hasData_ && !data_.empty(); }
    Bytes selectedBytes() const;
    HResult paste(Bytes bytes, bool insertMode);
    void selectAll();

  private:
    // A fresh editing state for new data: caret, selection and scrolling at the start, unmodified.
    void startEditing();
    std::int64_t unitColumn(std::int64_t unit) const;
    std::int64_t caretColumn() const;
    void clampTop();
    void extendSelection(std::int64_t from, std::int64_t to);
    void extendToPoint(int x, int y);
    bool moveByKey(HexKey key, bool shift);
    bool handlePlainKey(HexKey key, bool insertMode);
    bool handleControlKey(HexKey key);
    void setUnit(std::int64_t unit, int nibbleFromLow, int value);
    std::int64_t anchorAtCaret() const;

    std::vector<std::byte> data_;
    bool hasData_ = false;
    std::uint32_t baseOffset_ = 0;
    std::int64_t maxDataBytes_ = kMaxDataBytes;
    bool modified_ = false;
    std::function<void(bool)> modifiedChanged_;

    int offsetDigits_ = 8;
    int unitWidth_ = 2;
    int unitsSetting_ = 0;
    bool showOffsets_ = true;
    bool showCharacters_ = true;
    bool resizable_ = true;

    int cellWidth_ = 8;
    int lineHeight_ = 18;
    int viewWidth_ = 0;
    int viewHeight_ = 0;
    int verticalBarWidth_ = 0;
    int horizontalBarHeight_ = 0;

    int units_ = 1;
    int visibleColumns_ = 0;
    int visibleLines_ = 0;
    int hexStart_ = 0;
    int hexEnd_ = 0;
    int charStart_ = 0;
    int totalColumns_ = 0;
    std::int64_t totalLines_ = 1;
    bool horizontalBar_ = false;
    bool verticalBar_ = false;

    std::int64_t caret_ = 0;
    int nibble_ = 0;
    HexArea area_ = HexArea::kHex;
    std::int64_t selStart_ = -1;
    std::int64_t selEnd_ = -1;
    std::int64_t anchor_ = 0;
    std::int64_t top_ = 0;
    int hscroll_ = 0;

    bool dragging_ = false;
    bool selecting_ = false;
    int lastX_ = 0;
    int lastY_ = 0;
};

}  // namespace kestrel
