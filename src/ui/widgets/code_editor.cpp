#include "ui/widgets/code_editor.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <algorithm>
#include <string_view>
#include <vector>

#include "core/pe/resource_types.h"
#include "core/platform/paths.h"

namespace kestrel::ui {

// The margin left of the text that shows the line numbers.
class LineNumberArea : public QWidget {
  public:
    explicit LineNumberArea(CodeEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return {editor_->lineNumberWidth(), 0}; }

  protected:
    void paintEvent(QPaintEvent* event) override { editor_->paintLineNumbers(event); }

  private:
    CodeEditor* editor_;
};

namespace {

constexpr int kMarginPadding = 6;

}  // namespace

CodeEditor::CodeEditor(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    lineNumbers_ = new LineNumberArea(this);
    connect(this, &QPlainTextEdit::blockCountChanged, this, &CodeEditor::updateMargin);
    connect(this, &QPlainTextEdit::updateRequest, this, &CodeEditor::scrollMargin);
    updateMargin();
}

int CodeEditor::lineNumberWidth() const {
    int digits = 1;
    for (int count = std::max(1, blockCount()); count >= 10; count /= 10)
        ++digits;
    return kMarginPadding * 2 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

void CodeEditor::setFileText(QString text) {
    paragraphStandIn_ = QChar();
    if (text.contains(QChar::ParagraphSeparator)) {
        for (char16_t unit = 0xE000; unit <= 0xF8FF; ++unit) {
            if (!text.contains(QChar(unit))) {
                paragraphStandIn_ = QChar(unit);
                text.replace(QChar::ParagraphSeparator, paragraphStandIn_);
                break;
            }
        }
    }
    setPlainText(text);
}

std::u16string CodeEditor::text() const {
    // Raw text separates the lines with U+2029; every other character is as typed.
    QString raw = document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    if (!paragraphStandIn_.isNull()) raw.replace(paragraphStandIn_, QChar::ParagraphSeparator);
    return raw.toStdU16String();
}

void CodeEditor::updateMargin() {
    setViewportMargins(lineNumberWidth(), 0, 0, 0);
}

void CodeEditor::scrollMargin(const QRect& rect, int dy) {
    if (dy != 0) {
        lineNumbers_->scroll(0, dy);
    } else {
        lineNumbers_->update(0, rect.y(), lineNumbers_->width(), rect.height());
    }
    if (rect.contains(viewport()->rect())) updateMargin();
}

void CodeEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect area = contentsRect();
    lineNumbers_->setGeometry(QRect(area.left(), area.top(), lineNumberWidth(), area.height()));
}

void CodeEditor::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateMargin();
        const QRect area = contentsRect();
        lineNumbers_->setGeometry(QRect(area.left(), area.top(), lineNumberWidth(), area.height()));
    }
}

void CodeEditor::paintLineNumbers(QPaintEvent* event) {
    QPainter painter(lineNumbers_);
    const QPalette& colours = palette();
    painter.fillRect(event->rect(), colours.color(QPalette::AlternateBase));
    painter.setPen(colours.color(QPalette::PlaceholderText));
    painter.setFont(font());
    const int width = lineNumbers_->width() - kMarginPadding;
    const int lineHeight = fontMetrics().height();
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    // Only the blocks inside the area to repaint are numbered.
    while (block.isValid() && top <= event->rect().bottom()) {
        const int bottom = top + qRound(blockBoundingRect(block).height());
        if (block.isVisible() && bottom >= event->rect().top()) {
            painter.drawText(0, top, width, lineHeight, Qt::AlignRight,
                             QString::number(block.blockNumber() + 1));
        }
        block = block.next();
        top = bottom;
    }
}

// ----- XML colouring ------------------------------------------------------------------------------

XmlHighlighter::XmlHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    markup_.setForeground(QColor(0x1f, 0x4e, 0x9a));
    element_.setForeground(QColor(0x1f, 0x4e, 0x9a));
    element_.setFontWeight(QFont::Bold);
    attribute_.setForeground(QColor(0xa3, 0x2b, 0x2b));
    value_.setForeground(QColor(0x0b, 0x6e, 0x2f));
    comment_.setForeground(QColor(0x70, 0x70, 0x70));
    comment_.setFontItalic(true);
    special_.setForeground(QColor(0x80, 0x40, 0x90));
    entity_.setForeground(QColor(0xb0, 0x60, 0x00));
}

namespace {

// A UTF-16 unit of a name: what the ASCII rule takes, and letters and digits of any script.
bool isNameChar(char16_t unit) {
    return isAsciiXmlNameChar(unit) || QChar(unit).isLetterOrNumber();
}

}  // namespace

const QTextCharFormat& XmlHighlighter::formatOf(XmlToken token) const {
    switch (token) {
        case XmlToken::kMarkup:
            return markup_;
        case XmlToken::kElement:
            return element_;
        case XmlToken::kAttribute:
            return attribute_;
        case XmlToken::kValue:
            return value_;
        case XmlToken::kComment:
            return comment_;
        case XmlToken::kSpecial:
            return special_;
        case XmlToken::kEntity:
            return entity_;
    }
    return markup_;
}

void XmlHighlighter::highlightBlock(const QString& text) {
    // A block not coloured yet has state -1: it starts in text, as the first line does.
    const int previous = previousBlockState();
    const auto state = previous > 0 && previous <= static_cast<int>(XmlLineState::kValueSingle)
                           ? static_cast<XmlLineState>(previous)
                           : XmlLineState::kText;
    std::vector<XmlTokenSpan> spans;
    const XmlLineState end = ScanXmlLine(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                             static_cast<std::size_t>(text.size())),
                                         state, spans, isNameChar);
    for (const XmlTokenSpan& span : spans)
        setFormat(static_cast<int>(span.start), static_cast<int>(span.length), formatOf(span.token));
    setCurrentBlockState(static_cast<int>(end));
}

bool looksLikeXml(const std::string& fileName, int resourceType, const QString& start) {
    const std::string extension = extensionOf(fileName);
    if (iequalsAscii(extension, ".xml") || iequalsAscii(extension, ".manifest") ||
        iequalsAscii(extension, ".xsd"))
        return true;
    if (resourceType == resource_type::kManifest) return true;
    if (istartsWithAscii(fileName, "uifile")) return true;
    return start.trimmed().startsWith(QStringLiteral("<?xml"));
}

}  // namespace kestrel::ui
