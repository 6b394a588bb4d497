#include "ui/widgets/hex_edit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "core/errors/errors.h"
#include "core/errors/message_codes.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "HexEdit";
constexpr const char* kTextFormat = "text/plain";
// A newly loaded file's buffer has an eighth (at least 4 KiB) to spare for insertions.
constexpr std::uintmax_t kSpareFraction = 8;
constexpr std::uintmax_t kSpareMinimum = 4096;

constexpr const char* kCutText = QT_TRANSLATE_NOOP("kestrel::ui::HexEdit", "剪切(&T)\tShift+Del");
constexpr const char* kCopyText = QT_TRANSLATE_NOOP("kestrel::ui::HexEdit", "复制(&C)\tCtrl+Ins");
constexpr const char* kPasteText = QT_TRANSLATE_NOOP("kestrel::ui::HexEdit", "粘贴(&P)\tShift+Ins");
constexpr const char* kSelectAllText = QT_TRANSLATE_NOOP("kestrel::ui::HexEdit", "全选(&A)\tCtrl+A");

QString binaryFormat() {
    return QString::fromLatin1(kBinaryDataFormat.data(), static_cast<qsizetype>(kBinaryDataFormat.size()));
}

Bytes bytesOf(const QByteArray& array) {
    return {reinterpret_cast<const std::byte*>(array.constData()), static_cast<std::size_t>(array.size())};
}

QByteArray byteArrayOf(Bytes bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

std::optional<HexKey> modelKey(int key) {
    switch (key) {
        case Qt::Key_Backspace:
            return HexKey::kBackspace;
        case Qt::Key_Delete:
            return HexKey::kDelete;
        case Qt::Key_PageUp:
            return HexKey::kPageUp;
        case Qt::Key_PageDown:
            return HexKey::kPageDown;
        case Qt::Key_Home:
            return HexKey::kHome;
        case Qt::Key_End:
            return HexKey::kEnd;
        case Qt::Key_Left:
            return HexKey::kLeft;
        case Qt::Key_Right:
            return HexKey::kRight;
        case Qt::Key_Up:
            return HexKey::kUp;
        case Qt::Key_Down:
            return HexKey::kDown;
        case Qt::Key_Tab:
            return HexKey::kTab;
        case Qt::Key_A:
            return HexKey::kA;
        default:
            return std::nullopt;
    }
}

}  // namespace

HexEdit::HexEdit(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    // Every paint fills its whole rectangle first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    model_.setModifiedCallback([this](bool modified) { emit modifiedChanged(modified); });
    connect(&caretTimer_, &QTimer::timeout, this, &HexEdit::blinkCaret);
    autoScrollTimer_.setInterval(kAutoScrollMs);
    connect(&autoScrollTimer_, &QTimer::timeout, this, &HexEdit::autoScroll);
    setFontHeight(kDefaultFontHeight);
}

// ----- Data and file ----------------------------------------------------------------------------

HResult HexEdit::SetData(std::vector<std::byte> data, std::uint32_t baseOffset) {
    if (HResult hr = model_.setData(std::move(data), baseOffset); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return hr;
    }
    relayout();
    startCaret();
    return kOk;
}

void HexEdit::ClearData() {
    model_.clearData();
    path_.clear();
    caretTimer_.stop();
    autoScrollTimer_.stop();
    caretOn_ = false;
    relayout();
}

HResult HexEdit::LoadDataFile(const std::filesystem::path& path) {
    path_.clear();
    // The previous bytes' buffer is read into again when it is large enough: loading the same file
    // again (the pane's undo) then costs no new memory. A new buffer gets room to spare, so that
    // the first insertions do not move the whole file to a larger one.
    std::vector<std::byte> bytes = model_.takeData();
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    HResult hr = kOk;
    if (!error && size > static_cast<std::uintmax_t>(model_.maxDataBytes())) {
        hr = kOutOfMemory;
    } else if (!error && (bytes.capacity() <= size || bytes.capacity() / 2 > size + kSpareMinimum)) {
        std::vector<std::byte>().swap(bytes);
        try {
            bytes.reserve(static_cast<std::size_t>(size + size / kSpareFraction + kSpareMinimum));
        } catch (const std::bad_alloc&) {
            // ReadWholeFile allocates what it needs, or reports that it cannot.
        }
    }
    if (hr.succeeded()) hr = ReadWholeFile(path, bytes);
    if (hr.succeeded()) hr = model_.setData(std::move(bytes));
    if (hr.failed()) {
        ClearData();
        RecordError(true, kSource, __LINE__, hr);
        RecordError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(path)});
        return hr;
    }
    path_ = path;
    relayout();
    startCaret();
    return kOk;
}

HResult HexEdit::SaveDataFile() {
    HResult hr = hasData() && !path_.empty() ? WriteFileAtomic(path_, asBytes(model_.data())) : kInvalidArg;
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        RecordError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(path_)});
        return hr;
    }
    model_.setModified(false);
    return kOk;
}

// ----- Settings ---------------------------------------------------------------------------------

void HexEdit::setInsertModeQuery(std::function<bool()> query) {
    insertModeQuery_ = std::move(query);
    insertCaret_ = insertMode();
    viewport()->update();
}

bool HexEdit::insertMode() const {
    return insertModeQuery_ ? insertModeQuery_() : ownInsertMode_;
}

void HexEdit::setUnitWidth(int nibbles) {
    model_.setUnitWidth(nibbles);
    refresh();
}

void HexEdit::setUnitsPerLine(int units) {
    model_.setUnitsPerLine(units);
    refresh();
}

void HexEdit::setShowOffsets(bool show) {
    model_.setShowOffsets(show);
    refresh();
}

void HexEdit::setShowCharacters(bool show) {
    model_.setShowCharacters(show);
    refresh();
}

void HexEdit::setResizable(bool resizable) {
    model_.setResizable(resizable);
}

void HexEdit::setFontHeight(int pixels) {
    font_.setPixelSize(std::max(1, pixels));
    font_.setKerning(false);
    font_.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    const QFontMetrics metrics(font_);
    const int cell = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    // Whole runs of text are drawn at once; the spacing makes every glyph advance exactly one cell.
    font_.setLetterSpacing(QFont::AbsoluteSpacing,
                           cell - QFontMetricsF(font_).horizontalAdvance(QLatin1Char('0')));
    ascent_ = metrics.ascent();
    loadGlyphs();
    model_.setCellSize(cell, metrics.height());
    relayout();
}

void HexEdit::setOffsetDigits(int digits) {
    model_.setOffsetDigits(digits);
    refresh();
}

void HexEdit::loadGlyphs() {
    glyphRun_ = QGlyphRun();
    const QRawFont raw = QRawFont::fromFont(font_);
    if (!raw.isValid()) return;
    QString printable;
    for (char16_t character = 0x20; character < 0x7F; ++character)
        printable.append(QChar(character));
    const QList<quint32> indexes = raw.glyphIndexesForString(printable);
    if (indexes.size() != printable.size()) return;
    glyphs_.fill(0);
    for (qsizetype i = 0; i < indexes.size(); ++i)
        glyphs_[static_cast<std::size_t>(0x20 + i)] = indexes[i];
    glyphRun_.setRawFont(raw);
}

// ----- Layout and scrolling ---------------------------------------------------------------------

void HexEdit::relayout() {
    const QSize size = maximumViewportSize();
    // Overlay scroll bars take no room from the lines.
    const bool overlay = style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this) != 0;
    model_.setViewport(size.width(), size.height(), overlay ? 0 : verticalScrollBar()->sizeHint().width(),
                       overlay ? 0 : horizontalScrollBar()->sizeHint().height());
    refresh();
}

void HexEdit::updateScrollBars() {
    if (updatingScrollBars_) return;
    updatingScrollBars_ = true;
    const HexScrollRange vertical = model_.verticalRange();
    verticalScrollBar()->setRange(0, vertical.maximum);
    verticalScrollBar()->setPageStep(std::max(1, vertical.pageStep));
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setValue(vertical.value);
    const HexScrollRange horizontal = model_.horizontalRange();
    horizontalScrollBar()->setRange(0, horizontal.maximum);
    horizontalScrollBar()->setPageStep(std::max(1, horizontal.pageStep));
    horizontalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setValue(horizontal.value);
    updatingScrollBars_ = false;
}

void HexEdit::refresh() {
    updateScrollBars();
    // A moved caret shows at once instead of waiting for the next blink.
    if (caretTimer_.isActive()) {
        caretOn_ = true;
        caretTimer_.start();
    }
    const bool selection = model_.hasSelection();
    if (selection != hadSelection_) {
        hadSelection_ = selection;
        emit selectionChanged();
    }
    viewport()->update();
}

void HexEdit::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    // Showing or hiding a scroll bar resizes the viewport while the bars are being set.
    if (!updatingScrollBars_) relayout();
}

void HexEdit::scrollContentsBy(int, int) {
    if (updatingScrollBars_) return;
    model_.scrollToLine(verticalScrollBar()->value());
    model_.scrollToColumn(horizontalScrollBar()->value());
    viewport()->update();
}

void HexEdit::wheelEvent(QWheelEvent* event) {
    if (!hasData() || (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))) {
        event->ignore();
        return;
    }
    model_.wheel(-event->angleDelta().y() * QApplication::wheelScrollLines() / 120);
    updateScrollBars();
    viewport()->update();
    event->accept();
}

// ----- Painting ---------------------------------------------------------------------------------

void HexEdit::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    paintArea_ = area;
    painter.fillRect(area, palette().color(QPalette::Window));
    if (!hasData()) return;
    painter.setFont(font_);
    const int lineHeight = model_.lineHeight();
    // The line cut off at the bottom is painted too.
    const int first = std::max(0, area.top() / lineHeight);
    const int last = std::min(model_.visibleLines(), area.bottom() / lineHeight);
    const std::int64_t units = model_.unitsPerLine();
    for (int line = first; line <= last; ++line) {
        // Past the append position's line nothing is shown, not even an offset.
        if (model_.top() + line * units > model_.unitCount()) break;
        paintRow(painter, line, line * lineHeight, ascent_);
    }
    if (caretOn_) paintCaret(painter);
}

void HexEdit::drawRun(QPainter& painter, const std::string& text, int column, int first, int count,
                      bool selected, int top, int ascent) {
    if (!selected) {
        while (count > 0 && text[static_cast<std::size_t>(first + count - 1)] == ' ')
            --count;
    }
    if (count <= 0) return;
    const int cell = model_.cellWidth();
    const int x = (column + first - model_.horizontalScroll()) * cell + cell / 2;
    const int width = count * cell;
    if (x + width < paintArea_.left() || x > paintArea_.right()) return;
    const QPalette& colours = palette();
    if (selected) {
        painter.fillRect(x, top, width, model_.lineHeight(), colours.color(QPalette::Highlight));
        painter.setPen(colours.color(QPalette::HighlightedText));
    } else {
        painter.setPen(colours.color(QPalette::WindowText));
    }
    if (!glyphRun_.rawFont().isValid()) {
        painter.drawText(QPoint(x, top + ascent), QString::fromLatin1(text.data() + first, count));
        return;
    }
    // The rows hold only printable ASCII: each character's glyph goes straight into its cell,
    // without shaping the text on every paint.
    runGlyphs_.clear();
    runPositions_.clear();
    const char* characters = text.data() + first;
    for (int i = 0; i < count; ++i) {
        const auto character = static_cast<unsigned char>(characters[i]);
        if (character == ' ' || character >= glyphs_.size()) continue;
        runGlyphs_.push_back(glyphs_[character]);
        runPositions_.push_back(QPointF(i * cell, 0));
    }
    glyphRun_.setGlyphIndexes(runGlyphs_);
    glyphRun_.setPositions(runPositions_);
    painter.drawGlyphRun(QPointF(x, top + ascent), glyphRun_);
}

void HexEdit::paintRow(QPainter& painter, int line, int top, int ascent) {
    model_.row(line, row_);
    if (!row_.offset.empty())
        drawRun(painter, row_.offset, 0, 0, static_cast<int>(row_.offset.size()), false, top, ascent);
    const int unitChars = model_.unitWidth() + 1;
    const auto paintArea = [&](const std::string& text, int column, int perUnit) {
        const int length = static_cast<int>(text.size());
        if (row_.firstSelected < 0) {
            drawRun(painter, text, column, 0, length, false, top, ascent);
            return;
        }
        const int selectionStart = row_.firstSelected * perUnit;
        const int selectionEnd = (row_.lastSelected + 1) * perUnit;
        drawRun(painter, text, column, 0, selectionStart, false, top, ascent);
        drawRun(painter, text, column, selectionStart, selectionEnd - selectionStart, true, top, ascent);
        drawRun(painter, text, column, selectionEnd, length - selectionEnd, false, top, ascent);
    };
    paintArea(row_.hex, model_.hexStart(), unitChars);
    if (!row_.characters.empty()) paintArea(row_.characters, model_.charStart(), 1);
}

QRect HexEdit::caretRect() const {
    const HexCaretCell cell = model_.caretCell();
    if (cell.line < 0 || cell.line > model_.visibleLines()) return {};
    const int width = model_.cellWidth();
    const int x = (cell.column - model_.horizontalScroll()) * width + width / 2 - 1;
    const int y = static_cast<int>(cell.line) * model_.lineHeight();
    return {x, y, insertCaret_ ? 2 : width, model_.lineHeight()};
}

void HexEdit::paintCaret(QPainter& painter) {
    const QRect rect = caretRect();
    if (rect.isEmpty()) return;
    if (insertCaret_) {
        painter.fillRect(rect, palette().color(QPalette::WindowText));
        return;
    }
    // The block caret inverts the cell so that the digit under it stays readable.
    painter.setCompositionMode(QPainter::CompositionMode_Difference);
    painter.fillRect(rect, Qt::white);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void HexEdit::blinkCaret() {
    const QRect before = caretRect();
    caretOn_ = !caretOn_;
    insertCaret_ = insertMode();
    viewport()->update(before.united(caretRect()));
}

// ----- Focus ------------------------------------------------------------------------------------

void HexEdit::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    startCaret();
}

void HexEdit::startCaret() {
    if (!hasData() || !hasFocus()) return;
    insertCaret_ = insertMode();
    caretOn_ = true;
    const int flash = QApplication::cursorFlashTime();
    if (flash > 0) caretTimer_.start(flash / 2);
    viewport()->update();
}

void HexEdit::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    if (!hasData()) return;
    caretTimer_.stop();
    caretOn_ = false;
    viewport()->update();
}

// ----- Keys -------------------------------------------------------------------------------------

void HexEdit::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) &&
        !(modifiers & (Qt::ControlModifier | Qt::AltModifier))) {
        focusNextPrevChild(key == Qt::Key_Tab && !(modifiers & Qt::ShiftModifier));
        return;
    }
    if (!hasData()) {
        event->ignore();
        return;
    }
    if (handleClipboardKey(key, modifiers) || handleModelKey(key, modifiers) || handleTyping(*event)) {
        refresh();
        return;
    }
    event->ignore();
}

// Inside the main window the frame's shortcuts take these keys first; they arrive here only when
// the control is used on its own.
bool HexEdit::handleClipboardKey(int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_Insert && modifiers == Qt::ShiftModifier) {
        paste();
    } else if (key == Qt::Key_Insert && modifiers == Qt::ControlModifier) {
        copy();
    } else if (key == Qt::Key_Delete && modifiers == Qt::ShiftModifier) {
        cut();
    } else if (key == Qt::Key_Insert && modifiers == Qt::NoModifier) {
        ownInsertMode_ = !ownInsertMode_;
        insertCaret_ = !insertCaret_;
    } else {
        return false;
    }
    return true;
}

bool HexEdit::handleModelKey(int key, Qt::KeyboardModifiers modifiers) {
    const std::optional<HexKey> mapped = modelKey(key);
    if (!mapped || (modifiers & (Qt::AltModifier | Qt::MetaModifier))) return false;
    const bool insert = insertMode();
    insertCaret_ = insert;
    return model_.handleKey(*mapped, (modifiers & Qt::ShiftModifier) != 0,
                            (modifiers & Qt::ControlModifier) != 0, insert);
}

bool HexEdit::handleTyping(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = event.text();
    if (text.isEmpty()) return false;
    const bool insert = insertMode();
    insertCaret_ = insert;
    if (model_.area() == HexArea::kHex) {
        bool typed = false;
        for (const QChar character : text) {
            if (character.unicode() < 0x80)
                typed |= model_.typeHexDigit(static_cast<char>(character.unicode()), insert);
        }
        return typed;
    }
    if (text.front().unicode() < 0x20) return false;
    const QByteArray utf8 = text.toUtf8();
    return model_.typeBytes(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                            insert);
}

// ----- Mouse ------------------------------------------------------------------------------------

void HexEdit::mousePressEvent(QMouseEvent* event) {
    if (!hasData() || event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    const QPoint point = event->position().toPoint();
    model_.mousePress(point.x(), point.y(), (event->modifiers() & Qt::ShiftModifier) != 0);
    refresh();
}

void HexEdit::mouseMoveEvent(QMouseEvent* event) {
    if (!hasData() || !model_.isDragging()) return;
    const QPoint point = event->position().toPoint();
    if (viewport()->rect().contains(point)) {
        autoScrollTimer_.stop();
    } else if (!autoScrollTimer_.isActive()) {
        autoScrollTimer_.start();
    }
    model_.mouseMove(point.x(), point.y());
    refresh();
}

void HexEdit::mouseReleaseEvent(QMouseEvent* event) {
    if (!hasData() || event->button() != Qt::LeftButton) return;
    const QPoint point = event->position().toPoint();
    model_.mouseRelease(point.x(), point.y());
    autoScrollTimer_.stop();
    refresh();
}

void HexEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!hasData() || event->button() != Qt::LeftButton) return;
    const QPoint point = event->position().toPoint();
    model_.doubleClick(point.x(), point.y());
    refresh();
}

void HexEdit::autoScroll() {
    model_.autoScroll();
    refresh();
}

void HexEdit::contextMenuEvent(QContextMenuEvent* event) {
    if (!hasData()) return;
    QMenu menu(this);
    QAction* cutAction = menu.addAction(tr(kCutText));
    QAction* copyAction = menu.addAction(tr(kCopyText));
    QAction* pasteAction = menu.addAction(tr(kPasteText));
    menu.addSeparator();
    QAction* selectAllAction = menu.addAction(tr(kSelectAllText));
    cutAction->setEnabled(canCut());
    copyAction->setEnabled(canCopy());
    pasteAction->setEnabled(canPaste());
    selectAllAction->setEnabled(canSelectAll());
    const QPoint at = event->reason() == QContextMenuEvent::Keyboard ? viewport()->mapToGlobal(QPoint(5, 5))
                                                                     : event->globalPos();
    const QAction* chosen = menu.exec(at);
    if (chosen == cutAction) {
        cut();
    } else if (chosen == copyAction) {
        copy();
    } else if (chosen == pasteAction) {
        paste();
    } else if (chosen == selectAllAction) {
        selectAll();
    }
}

// ----- Clipboard --------------------------------------------------------------------------------

bool HexEdit::canCopy() const {
    return model_.canCopy();
}

bool HexEdit::canCut() const {
    return model_.canCut(insertMode());
}

bool HexEdit::canPaste() const {
    if (!hasData()) return false;
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    return mime != nullptr && (mime->hasFormat(binaryFormat()) || mime->hasFormat(kTextFormat));
}

bool HexEdit::canSelectAll() const {
    return model_.canSelectAll();
}

void HexEdit::copy() {
    if (!canCopy()) return;
    const Bytes selected = model_.selectedBytes();
    auto mime = std::make_unique<QMimeData>();
    mime->setData(binaryFormat(), byteArrayOf(encodeBinaryData(selected)));
    // The raw bytes, not re-encoded: a text editor gets exactly what was selected.
    mime->setData(kTextFormat, byteArrayOf(selected));
    QGuiApplication::clipboard()->setMimeData(mime.release());
}

void HexEdit::cut() {
    if (!canCut()) return;
    copy();
    model_.deleteSelection();
    refresh();
}

void HexEdit::paste() {
    if (!canPaste()) return;
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    const bool binary = mime->hasFormat(binaryFormat());
    const QByteArray payload = mime->data(binary ? binaryFormat() : QString::fromLatin1(kTextFormat));
    const Bytes bytes = binary ? decodeBinaryData(bytesOf(payload)) : bytesOf(payload);
    const bool insert = insertMode();
    insertCaret_ = insert;
    if (HResult hr = model_.paste(bytes, insert); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ShowErrorDialog();
    }
    refresh();
}

void HexEdit::selectAll() {
    if (!canSelectAll()) return;
    model_.selectAll();
    model_.makeCaretVisible();
    refresh();
}

void HexEdit::selectBytes(std::int64_t start, std::int64_t end) {
    if (!model_.hasData() || end <= start) return;
    const std::int64_t unitBytes = std::max(1, model_.bytesPerUnit());
    model_.setCaret(start / unitBytes);
    model_.select(start / unitBytes, (end - 1) / unitBytes);
    model_.makeCaretVisible();
    refresh();
}

}  // namespace kestrel::ui
