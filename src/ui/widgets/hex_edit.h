// The hex control: shows bytes as offset, hex and character columns and edits them. All state,
// layout and decisions live in HexModel; the widget paints its rows and routes keys, mouse, wheel,
// scroll bars and the clipboard to it.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QGlyphRun>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QTimer>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "core/hex/hex_model.h"
#include "core/platform/status.h"

namespace kestrel::ui {

class HexEdit : public QAbstractScrollArea {
    Q_OBJECT

  public:
    static constexpr int kDefaultFontHeight = 18;
    static constexpr int kAutoScrollMs = 200;

    explicit HexEdit(QWidget* parent = nullptr);

    // Takes the bytes over; more than 2^31-1 bytes: kOutOfMemory and the previous state stays.
    // Resets caret, selection, nibble, scroll, area, modified.
    HResult SetData(std::vector<std::byte> data, std::uint32_t baseOffset = 0);
    // No data: paints only the background.
    void ClearData();
    bool hasData() const { return model_.hasData(); }
    const std::vector<std::byte>& data() const { return model_.data(); }
    // Reads the file without ever creating or changing it. A failure is recorded with the path and
    // leaves the control without data.
    HResult LoadDataFile(const std::filesystem::path& path);
    // Writes the data to the loaded file atomically; clears the modified flag on success.
    HResult SaveDataFile();
    const std::filesystem::path& filePath() const { return path_; }
    bool isModified() const { return model_.isModified(); }

    // Insert mode is read at every edit and on focus; without a query the control keeps its own
    // mode (overwrite at first, flipped by the Insert key).
    void setInsertModeQuery(std::function<bool()> query);
    bool insertMode() const;

    void setUnitWidth(int nibbles);
    void setUnitsPerLine(int units);
    void setShowOffsets(bool show);
    void setShowCharacters(bool show);
    void setResizable(bool resizable);
    void setFontHeight(int pixels);
    void setOffsetDigits(int digits);

    bool canCopy() const;
    bool canCut() const;
    bool canPaste() const;
    bool canSelectAll() const;
    void copy();
    void cut();
    void paste();
    void selectAll();
    // Selects bytes [start, end) and scrolls them into view (the caret goes to the start).
    void selectBytes(std::int64_t start, std::int64_t end);

    const HexModel& model() const { return model_; }

  signals:
    // Emitted when the modified flag changes.
    void modifiedChanged(bool modified);
    // Emitted when a selection appears or goes (what copy and cut may do changes).
    void selectionChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    bool handleClipboardKey(int key, Qt::KeyboardModifiers modifiers);
    bool handleModelKey(int key, Qt::KeyboardModifiers modifiers);
    bool handleTyping(const QKeyEvent& event);
    // Looks up the glyphs of the printable ASCII characters in the font once.
    void loadGlyphs();
    void relayout();
    void updateScrollBars();
    // Shows the model's new state: scroll bars, a visible caret, a repaint.
    void refresh();
    // Shows the caret and starts its blinking while the control has focus and data.
    void startCaret();
    void blinkCaret();
    QRect caretRect() const;
    void autoScroll();
    void paintRow(QPainter& painter, int line, int top, int ascent);
    void paintCaret(QPainter& painter);
    void drawRun(QPainter& painter, const std::string& text, int column, int first, int count, bool selected,
                 int top, int ascent);

    HexModel model_;
    HexRow row_;       // reused by every painted line
    QRect paintArea_;  // the rectangle being painted
    std::filesystem::path path_;
    std::function<bool()> insertModeQuery_;
    bool ownInsertMode_ = false;
    bool insertCaret_ = false;  // the caret's shape as last read from the insert mode
    QFont font_;
    int ascent_ = 0;
    // Without a raw font (a font that cannot give one) rows are drawn as text.
    QGlyphRun glyphRun_;
    std::array<quint32, 128> glyphs_{};
    QList<quint32> runGlyphs_;
    QList<QPointF> runPositions_;
    QTimer caretTimer_;
    QTimer autoScrollTimer_;
    bool caretOn_ = false;
    bool hadSelection_ = false;
    bool updatingScrollBars_ = false;
};

}  // namespace kestrel::ui
