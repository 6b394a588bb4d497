#include "core/hex/hex_model.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace kestrel {

namespace {

constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// Division rounding towards minus infinity, so that points above or left of the viewport land on
// the line or column before it.
constexpr std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

int clampToInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

}  // namespace

std::vector<std::byte> encodeBinaryData(Bytes bytes) {
    std::vector<std::byte> payload(4 + bytes.size());
    const auto count = static_cast<std::uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i)
        payload[static_cast<std::size_t>(i)] = static_cast<std::byte>((count >> (8 * i)) & 0xFF);
    if (!bytes.empty()) std::memcpy(payload.data() + 4, bytes.data(), bytes.size());
    return payload;
}

Bytes decodeBinaryData(Bytes payload) {
    const ByteReader reader(payload);
    const std::optional<std::uint32_t> count = reader.u32(0);
    if (!count) return {};
    const Bytes present = payload.subspan(4);
    return present.first(std::min<std::size_t>(*count, present.size()));
}

// ----- Data -------------------------------------------------------------------------------------

HResult HexModel::setData(std::vector<std::byte> data, std::uint32_t baseOffset) {
    if (data.size() > static_cast<std::uint64_t>(maxDataBytes_)) return kOutOfMemory;
    data_ = std::move(data);
    hasData_ = true;
    baseOffset_ = baseOffset;
    startEditing();
    return kOk;
}

void HexModel::clearData() {
    static_cast<void>(takeData());
}

std::vector<std::byte> HexModel::takeData() {
    std::vector<std::byte> taken = std::move(data_);
    data_.clear();
    hasData_ = false;
    baseOffset_ = 0;
    startEditing();
    return taken;
}

void HexModel::startEditing() {
    caret_ = 0;
    nibble_ = 0;
    area_ = HexArea::kHex;
    clearSelection();
    anchor_ = 0;
    top_ = 0;
    hscroll_ = 0;
    dragging_ = selecting_ = false;
    setModified(false);
    relayout();
}

void HexModel::setModified(bool modified) {
    if (modified == modified_) return;
    modified_ = modified;
    if (modifiedChanged_) modifiedChanged_(modified);
}

// ----- Properties -------------------------------------------------------------------------------

void HexModel::setUnitWidth(int nibbles) {
    if (nibbles != 2 && nibbles != 4 && nibbles != 8) nibbles = 2;
    if (nibbles == unitWidth_) return;
    // The caret keeps its byte; the selection is in the old units and goes.
    const std::int64_t byteOffset = caret_ * bytesPerUnit();
    unitWidth_ = nibbles;
    caret_ = byteOffset / bytesPerUnit();
    nibble_ = 0;
    clearSelection();
    relayout();
}

void HexModel::setUnitsPerLine(int units) {
    unitsSetting_ = std::max(0, units);
    relayout();
}

void HexModel::setShowOffsets(bool show) {
    showOffsets_ = show;
    relayout();
}

void HexModel::setShowCharacters(bool show) {
    showCharacters_ = show;
    relayout();
}

void HexModel::setOffsetDigits(int digits) {
    offsetDigits_ = std::clamp(digits, 1, 16);
    relayout();
}

// ----- Layout -----------------------------------------------------------------------------------

void HexModel::setCellSize(int cellWidth, int lineHeight) {
    cellWidth_ = std::max(1, cellWidth);
    lineHeight_ = std::max(1, lineHeight);
    relayout();
}

void HexModel::setViewport(int width, int height, int verticalBarWidth, int horizontalBarHeight) {
    viewWidth_ = width;
    viewHeight_ = height;
    verticalBarWidth_ = verticalBarWidth;
    horizontalBarHeight_ = horizontalBarHeight;
    relayout();
}

void HexModel::relayout() {
    const int bytesPerUnit = this->bytesPerUnit();
    if (bytesPerUnit > 1 && data_.size() % bytesPerUnit != 0)
        data_.resize(data_.size() + bytesPerUnit - data_.size() % bytesPerUnit);
    if (!charactersShown()) area_ = HexArea::kHex;
    hexStart_ = showOffsets_ ? offsetDigits_ + 2 : 0;

    // Each scroll bar takes room that may call for the other; adding a bar only ever shrinks the
    // room, so this settles within a few rounds.
    bool horizontal = false;
    bool vertical = false;
    for (int round = 0; round < 4; ++round) {
        const int width = viewWidth_ - (vertical ? verticalBarWidth_ : 0);
        const int height = viewHeight_ - (horizontal ? horizontalBarHeight_ : 0);
        visibleColumns_ = std::max(0, (width - cellWidth_ / 2) / cellWidth_);
        visibleLines_ = std::max(0, height / lineHeight_);
        int units = unitsSetting_;
        if (units == 0) {
            const int room = visibleColumns_ - hexStart_;
            units = charactersShown() ? (room - 1) / (unitWidth_ + 2) : (room + 1) / (unitWidth_ + 1);
            units = std::max(1, units);
        }
        units_ = units;
        hexEnd_ = hexStart_ + units_ * (unitWidth_ + 1);
        charStart_ = hexEnd_ + 1;
        totalColumns_ = charactersShown() ? hexEnd_ + 1 + units_ * unitWidth_ / 2 : hexEnd_ - 1;
        totalLines_ = static_cast<std::int64_t>(data_.size()) / (std::int64_t{units_} * bytesPerUnit) + 1;
        const bool needHorizontal = totalColumns_ > visibleColumns_;
        const bool needVertical = totalLines_ > visibleLines_;
        if (needHorizontal == horizontal && needVertical == vertical) break;
        horizontal = needHorizontal;
        vertical = needVertical;
    }
    horizontalBar_ = horizontal;
    verticalBar_ = vertical;

    top_ -= top_ % units_;
    makeCaretVisible();
    if (!verticalBar_) top_ = 0;
    scrollToColumn(horizontalBar_ ? hscroll_ : 0);
}

HexScrollRange HexModel::verticalRange() const {
    return {clampToInt(std::max<std::int64_t>(0, totalLines_ - visibleLines_)), visibleLines_,
            clampToInt((top_ + units_ - 1) / units_)};
}

HexScrollRange HexModel::horizontalRange() const {
    return {std::max(0, totalColumns_ - visibleColumns_), visibleColumns_, hscroll_};
}

void HexModel::row(int line, HexRow& out) const {
    out.offset.clear();
    out.hex.clear();
    out.characters.clear();
    out.firstSelected = out.lastSelected = -1;
    const int bytesPerUnit = this->bytesPerUnit();
    const std::int64_t first = top_ + std::int64_t{line} * units_;
    const std::int64_t count = unitCount();
    if (showOffsets_) {
        const std::int64_t offset = first * bytesPerUnit;
        if (offset <= static_cast<std::int64_t>(data_.size())) {
            std::array<char, 40> text{};
            std::snprintf(text.data(), text.size(), "%0*llX  ", offsetDigits_,
                          static_cast<unsigned long long>(offset) + baseOffset_);
            out.offset = text.data();
        } else {
            out.offset.assign(static_cast<std::size_t>(offsetDigits_) + 2, ' ');
        }
    }
    out.hex.resize(static_cast<std::size_t>(units_) * (unitWidth_ + 1), ' ');
    const bool characters = charactersShown();
    if (characters) out.characters.resize(static_cast<std::size_t>(units_), ' ');
    char* hex = out.hex.data();
    for (int j = 0; j < units_ && first + j < count; ++j) {
        const std::size_t start = static_cast<std::size_t>(first + j) * bytesPerUnit;
        // Little-endian units: the most significant byte is the last one.
        for (int b = bytesPerUnit - 1; b >= 0; --b) {
            const auto value = static_cast<unsigned>(data_[start + static_cast<std::size_t>(b)]);
            *hex++ = kHexDigits[value >> 4];
            *hex++ = kHexDigits[value & 0xF];
        }
        ++hex;
        if (characters) {
            const auto value = static_cast<unsigned char>(data_[start]);
            out.characters[static_cast<std::size_t>(j)] =
                value >= 0x20 && value <= 0x7E ? static_cast<char>(value) : '.';
        }
    }
    if (hasSelection()) {
        const std::int64_t from = std::max(selStart_, first);
        const std::int64_t to = std::min(selEnd_, first + units_ - 1);
        if (from <= to) {
            out.firstSelected = static_cast<int>(from - first);
            out.lastSelected = static_cast<int>(to - first);
        }
    }
}

std::int64_t HexModel::unitColumn(std::int64_t unit) const {
    const std::int64_t inLine = unit % units_;
    return area_ == HexArea::kHex ? hexStart_ + inLine * (unitWidth_ + 1) : charStart_ + inLine;
}

std::int64_t HexModel::caretColumn() const {
    return unitColumn(caret_) + (area_ == HexArea::kHex ? nibble_ : 0);
}

HexCaretCell HexModel::caretCell() const {
    // Right after a selection the caret stays beside its last unit, even when that unit ends a line.
    if (hasSelection() && caret_ == selEnd_ + 1) {
        const std::int64_t column = unitColumn(selEnd_) + (area_ == HexArea::kHex ? unitWidth_ : 1);
        return {clampToInt(column), floorDiv(selEnd_ - top_, units_)};
    }
    return {clampToInt(caretColumn()), floorDiv(caret_ - top_, units_)};
}

// ----- Caret, selection, scrolling --------------------------------------------------------------

void HexModel::setCaret(std::int64_t caret, int nibble, HexArea area) {
    caret_ = caret;
    nibble_ = std::clamp(nibble, 0, unitWidth_ - 1);
    area_ = charactersShown() ? area : HexArea::kHex;
    makeCaretVisible();
}

void HexModel::select(std::int64_t start, std::int64_t end) {
    const std::int64_t last = unitCount() - 1;
    start = std::clamp<std::int64_t>(start, 0, last);
    end = std::clamp<std::int64_t>(end, 0, last);
    if (last < 0 || start > end) {
        clearSelection();
        return;
    }
    selStart_ = start;
    selEnd_ = end;
}

bool HexModel::makeCaretVisible() {
    const std::int64_t count = unitCount();
    caret_ = std::clamp<std::int64_t>(caret_, 0, count);
    if (caret_ == count) nibble_ = 0;
    const std::int64_t oldTop = top_;
    const int oldScroll = hscroll_;
    const std::int64_t lines = std::max(1, visibleLines_);
    const std::int64_t line = caret_ / units_;
    if (caret_ < top_) {
        top_ = units_ * line;
    } else if (line >= top_ / units_ + lines) {
        top_ = units_ * (line - lines + 1);
    }
    top_ = std::min(top_, units_ * (count / units_ - lines + 1));
    top_ = std::max<std::int64_t>(top_, 0);

    const std::int64_t column = caretColumn();
    const std::int64_t end = unitColumn(caret_) + (area_ == HexArea::kHex ? unitWidth_ : 1);
    if (column < hscroll_) {
        hscroll_ = clampToInt(column);
    } else if (end - hscroll_ >= visibleColumns_) {
        hscroll_ = clampToInt(std::max<std::int64_t>(0, end - visibleColumns_));
    }
    return top_ != oldTop || hscroll_ != oldScroll;
}

void HexModel::moveCaret(std::int64_t units, std::int64_t lines) {
    nibble_ = 0;
    caret_ += units + lines * units_;
    makeCaretVisible();
}

void HexModel::clampTop() {
    const std::int64_t last = std::int64_t{units_} * std::max<std::int64_t>(0, totalLines_ - visibleLines_);
    top_ = std::clamp<std::int64_t>(top_, 0, last);
}

void HexModel::scrollToLine(std::int64_t line) {
    top_ = std::int64_t{units_} * line;
    clampTop();
}

void HexModel::scrollToColumn(int column) {
    hscroll_ = std::clamp(column, 0, std::max(0, totalColumns_ - visibleColumns_));
}

void HexModel::wheel(int steps) {
    if (verticalBar_) {
        top_ += std::int64_t{steps} * units_;
        clampTop();
    } else if (horizontalBar_) {
        scrollToColumn(hscroll_ + steps);
    }
}

// ----- Editing ----------------------------------------------------------------------------------

HResult HexModel::insertUnits(std::int64_t at, std::int64_t count) {
    if (count <= 0) return kOk;
    const std::int64_t bytesPerUnit = this->bytesPerUnit();
    const auto size = static_cast<std::int64_t>(data_.size());
    if (count > maxDataBytes_ / bytesPerUnit || count * bytesPerUnit > maxDataBytes_ - size)
        return kOutOfMemory;
    at = std::clamp<std::int64_t>(at, 0, unitCount());
    try {
        // One move of the tail in place, or one copy into a larger buffer.
        data_.insert(data_.begin() + at * bytesPerUnit, static_cast<std::size_t>(count * bytesPerUnit),
                     std::byte{0});
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    relayout();
    return kOk;
}

void HexModel::deleteUnits(std::int64_t at, std::int64_t count) {
    at = std::clamp<std::int64_t>(at, 0, unitCount());
    count = std::clamp<std::int64_t>(count, 0, unitCount() - at);
    if (count == 0) return;
    const std::int64_t bytesPerUnit = this->bytesPerUnit();
    data_.erase(data_.begin() + at * bytesPerUnit, data_.begin() + (at + count) * bytesPerUnit);
    relayout();
}

void HexModel::deleteSelection() {
    if (!hasSelection()) return;
    const std::int64_t start = selStart_;
    const std::int64_t count = selEnd_ - selStart_ + 1;
    clearSelection();
    caret_ = start;
    nibble_ = 0;
    deleteUnits(start, count);
    setModified(true);
}

bool HexModel::prepareTyping(bool insertMode) {
    if (!hasData_) return false;
    if (hasSelection()) {
        if (insertMode || resizable_) {
            deleteSelection();
            if (insertUnits(caret_, 1).failed()) return false;
            setModified(true);
            return true;
        }
        clearSelection();
    }
    if (caret_ >= unitCount()) {
        if (!insertMode && !resizable_) return false;
        nibble_ = 0;
        if (insertUnits(caret_, 1).failed()) return false;
    } else if (insertMode && nibble_ == 0) {
        if (insertUnits(caret_, 1).failed()) return false;
    }
    setModified(true);
    return true;
}

void HexModel::setUnit(std::int64_t unit, int nibbleFromLow, int value) {
    std::byte& target = data_[static_cast<std::size_t>(unit * bytesPerUnit() + nibbleFromLow / 2)];
    const int shift = (nibbleFromLow % 2) * 4;
    target = (target & static_cast<std::byte>(~(0xF << shift))) | static_cast<std::byte>(value << shift);
}

bool HexModel::typeHexDigit(char digit, bool insertMode) {
    const int value = hexValue(digit);
    if (value < 0 || !hasData_ || area_ != HexArea::kHex) return false;
    if (!prepareTyping(insertMode)) return false;
    // The first digit typed is the most significant one.
    setUnit(caret_, unitWidth_ - nibble_ - 1, value);
    if (++nibble_ == unitWidth_) {
        moveCaret(1, 0);
    } else {
        makeCaretVisible();
    }
    return true;
}

bool HexModel::typeBytes(std::string_view bytes, bool insertMode) {
    if (!hasData_ || area_ != HexArea::kCharacters) return false;
    bool typed = false;
    for (char byte : bytes) {
        if (!prepareTyping(insertMode)) break;
        data_[static_cast<std::size_t>(caret_)] = static_cast<std::byte>(byte);
        moveCaret(1, 0);
        typed = true;
    }
    return typed;
}

bool HexModel::moveByKey(HexKey key, bool shift) {
    switch (key) {
        case HexKey::kPageUp:
            moveCaret(0, -visibleLines_);
            return true;
        case HexKey::kPageDown:
            moveCaret(0, visibleLines_);
            return true;
        case HexKey::kEnd:
            // With Shift one past the line's last unit, so that the selection takes that unit in.
            moveCaret((shift ? units_ : units_ - 1) - caret_ % units_, 0);
            return true;
        case HexKey::kHome:
            if (area_ == HexArea::kHex) hscroll_ = 0;
            moveCaret(-(caret_ % units_), 0);
            return true;
        case HexKey::kLeft:
            moveCaret(-1, 0);
            return true;
        case HexKey::kRight:
            moveCaret(1, 0);
            return true;
        case HexKey::kUp:
            moveCaret(0, -1);
            return true;
        case HexKey::kDown:
            moveCaret(0, 1);
            return true;
        default:
            return false;
    }
}

void HexModel::extendSelection(std::int64_t from, std::int64_t to) {
    if (!hasSelection()) {
        if (to < from) select(to, from - 1);
        if (to > from) select(from, to - 1);
        return;
    }
    if (from == selEnd_ + 1) {
        selEnd_ = to - 1;
    } else {
        selStart_ = to;
    }
    if (selStart_ == selEnd_ + 1) {
        clearSelection();
    } else if (selStart_ > selEnd_ + 1) {
        // The caret went past the other end: the selection now lies between that end and the caret.
        const std::int64_t start = selEnd_ + 1;
        selEnd_ = selStart_ - 1;
        selStart_ = start;
    }
}

bool HexModel::handleKey(HexKey key, bool shift, bool control, bool insertMode) {
    if (!hasData_ || (shift && control)) return false;
    if (control) return handleControlKey(key);
    if (shift) {
        const std::int64_t from = caret_;
        if (!moveByKey(key, true)) return false;
        extendSelection(from, caret_);
        return true;
    }
    return handlePlainKey(key, insertMode);
}

bool HexModel::handlePlainKey(HexKey key, bool insertMode) {
    const bool mayResize = insertMode || resizable_;
    switch (key) {
        case HexKey::kBackspace:
            if (!mayResize) break;
            if (hasSelection()) {
                deleteSelection();
            } else if (caret_ > 0) {
                moveCaret(-1, 0);
                deleteUnits(caret_, 1);
                setModified(true);
            }
            break;
        case HexKey::kDelete:
            if (mayResize) {
                if (hasSelection()) {
                    deleteSelection();
                } else if (caret_ < unitCount()) {
                    nibble_ = 0;
                    deleteUnits(caret_, 1);
                    setModified(true);
                }
            } else if (hasSelection()) {
                // A control of fixed size clears the selected bytes instead.
                const std::int64_t bytesPerUnit = this->bytesPerUnit();
                std::fill(data_.begin() + selStart_ * bytesPerUnit,
                          data_.begin() + (selEnd_ + 1) * bytesPerUnit, std::byte{0});
                setModified(true);
            }
            break;
        case HexKey::kTab:
        case HexKey::kA:
            return false;
        default:
            if (!moveByKey(key, false)) return false;
            break;
    }
    clearSelection();
    return true;
}

bool HexModel::handleControlKey(HexKey key) {
    switch (key) {
        case HexKey::kTab:
            if (charactersShown()) area_ = area_ == HexArea::kHex ? HexArea::kCharacters : HexArea::kHex;
            break;
        case HexKey::kEnd:
            caret_ = unitCount();
            break;
        case HexKey::kHome:
            caret_ = 0;
            break;
        case HexKey::kA:
            selectAll();
            break;
        default:
            return false;
    }
    moveCaret(0, 0);
    return true;
}

// ----- Mouse ------------------------------------------------------------------------------------

void HexModel::hitTest(int x, int y, bool selecting) {
    const std::int64_t column = floorDiv(x - cellWidth_ / 2, cellWidth_) + hscroll_;
    const std::int64_t lineStart = top_ + floorDiv(y, lineHeight_) * units_;
    // A drag that started among the characters stays there.
    const bool characters =
        selecting ? area_ == HexArea::kCharacters : column >= charStart_ && charactersShown();
    if (characters) {
        area_ = HexArea::kCharacters;
        caret_ =
            lineStart + std::clamp<std::int64_t>(column, charStart_, charStart_ + units_ - 1) - charStart_;
        nibble_ = 0;
    } else {
        area_ = HexArea::kHex;
        const std::int64_t relative = std::clamp<std::int64_t>(
            std::min<std::int64_t>(column, charStart_ - 1) - hexStart_, 0, (units_ - 1) * (unitWidth_ + 1));
        caret_ = lineStart + relative / (unitWidth_ + 1);
        // The blank after a unit counts as its last nibble.
        nibble_ = static_cast<int>(std::min<std::int64_t>(relative % (unitWidth_ + 1), unitWidth_ - 1));
    }
    makeCaretVisible();
}

std::int64_t HexModel::anchorAtCaret() const {
    return caret_ == unitCount() ? caret_ - 1 : caret_;
}

void HexModel::extendToPoint(int x, int y) {
    if (!hasData_ || !dragging_) return;
    hitTest(x, y, true);
    nibble_ = 0;
    if (unitCount() == 0) {
        clearSelection();
        return;
    }
    if (anchor_ < caret_) {
        if (caret_ == unitCount()) --caret_;
        select(anchor_, caret_);
    } else {
        select(caret_, anchor_);
    }
}

void HexModel::mousePress(int x, int y, bool shift) {
    if (!hasData_) return;
    dragging_ = true;
    clearSelection();
    lastX_ = x;
    lastY_ = y;
    if (shift) {
        anchor_ = anchorAtCaret();
        selecting_ = true;
        extendToPoint(x, y);
    } else {
        hitTest(x, y, false);
        anchor_ = anchorAtCaret();
    }
}

void HexModel::mouseMove(int x, int y) {
    if (!dragging_) return;
    selecting_ = true;
    lastX_ = x;
    lastY_ = y;
    extendToPoint(x, y);
}

void HexModel::autoScroll() {
    extendToPoint(lastX_, lastY_);
}

void HexModel::mouseRelease(int x, int y) {
    if (!dragging_) return;
    if (selecting_) extendToPoint(x, y);
    dragging_ = selecting_ = false;
    if (hasSelection() && selEnd_ == caret_) ++caret_;
    nibble_ = 0;
    makeCaretVisible();
}

void HexModel::doubleClick(int x, int y) {
    if (!hasData_) return;
    hitTest(x, y, false);
    if (caret_ >= unitCount()) return;
    select(caret_, caret_);
    ++caret_;
    nibble_ = 0;
    makeCaretVisible();
}

// ----- Clipboard --------------------------------------------------------------------------------

Bytes HexModel::selectedBytes() const {
    if (!hasSelection()) return {};
    const auto bytesPerUnit = static_cast<std::size_t>(this->bytesPerUnit());
    return Bytes(data_).subspan(static_cast<std::size_t>(selStart_) * bytesPerUnit,
                                static_cast<std::size_t>(selEnd_ - selStart_ + 1) * bytesPerUnit);
}

HResult HexModel::paste(Bytes bytes, bool insertMode) {
    if (!hasData_ || bytes.empty()) return kOk;
    const std::int64_t bytesPerUnit = this->bytesPerUnit();
    const auto size = static_cast<std::int64_t>(data_.size());
    auto count = static_cast<std::int64_t>(bytes.size());
    const std::int64_t selectedUnits = hasSelection() ? selEnd_ - selStart_ + 1 : 0;
    if (insertMode) {
        const std::int64_t units = (count + bytesPerUnit - 1) / bytesPerUnit;
        // Checked before the selection goes, so that a refused paste changes nothing.
        if (units > maxDataBytes_ / bytesPerUnit ||
            size - selectedUnits * bytesPerUnit + units * bytesPerUnit > maxDataBytes_)
            return kOutOfMemory;
        deleteSelection();
        if (HResult hr = insertUnits(caret_, units); hr.failed()) return hr;
    } else {
        const std::int64_t at = hasSelection() ? selStart_ : caret_;
        if (hasSelection()) count = std::min(count, selectedUnits * bytesPerUnit);
        const std::int64_t start = at * bytesPerUnit;
        std::int64_t growUnits = 0;
        if (count > size - start) {
            if (resizable_) {
                growUnits = (count - (size - start) + bytesPerUnit - 1) / bytesPerUnit;
                if (growUnits * bytesPerUnit > maxDataBytes_ - size) return kOutOfMemory;
            } else {
                count = size - start;
            }
        }
        if (hasSelection()) {
            caret_ = at;
            clearSelection();
        }
        if (HResult hr = insertUnits(unitCount(), growUnits); hr.failed()) return hr;
    }
    nibble_ = 0;
    if (count <= 0) return kOk;
    std::memcpy(data_.data() + caret_ * bytesPerUnit, bytes.data(), static_cast<std::size_t>(count));
    setModified(true);
    return kOk;
}

void HexModel::selectAll() {
    if (!canSelectAll()) return;
    select(0, unitCount() - 1);
    caret_ = 0;
    nibble_ = 0;
}

}  // namespace kestrel
