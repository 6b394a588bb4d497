#include "ui/code_editor.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <algorithm>

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

namespace {

// What an unfinished construct at the end of a line continues into the next one.
enum BlockState {
    kText = 0,
    kComment = 1,
    kTag = 2,
    kCdata = 3,
    kSpecial = 4,
    kValueDouble = 5,
    kValueSingle = 6
};

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char(':') || c == QLatin1Char('-') ||
           c == QLatin1Char('.');
}

}  // namespace

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

void XmlHighlighter::highlightBlock(const QString& text) {
    const qsizetype length = text.size();
    qsizetype i = 0;
    int state = std::max(0, previousBlockState());

    // Colours from `from` up to the end of `terminator` (or the line) and returns where it ended;
    // the state stays when the terminator is not on this line.
    auto runUntil = [&](const QString& terminator, const QTextCharFormat& format, int ongoing) {
        const qsizetype end = text.indexOf(terminator, i);
        if (end < 0) {
            setFormat(static_cast<int>(i), static_cast<int>(length - i), format);
            i = length;
            state = ongoing;
            return;
        }
        const qsizetype stop = end + terminator.size();
        setFormat(static_cast<int>(i), static_cast<int>(stop - i), format);
        i = stop;
        state = kText;
    };

    while (i < length) {
        switch (state) {
            case kComment:
                runUntil(QStringLiteral("-->"), comment_, kComment);
                continue;
            case kCdata:
                runUntil(QStringLiteral("]]>"), special_, kCdata);
                continue;
            case kSpecial:
                runUntil(QStringLiteral(">"), special_, kSpecial);
                continue;
            case kValueDouble:
            case kValueSingle: {
                const QChar quote = state == kValueDouble ? QLatin1Char('"') : QLatin1Char('\'');
                const qsizetype end = text.indexOf(quote, i);
                const qsizetype stop = end < 0 ? length : end + 1;
                setFormat(static_cast<int>(i), static_cast<int>(stop - i), value_);
                i = stop;
                if (end >= 0) state = kTag;
                continue;
            }
            case kTag: {
                const QChar c = text.at(i);
                if (c == QLatin1Char('>') ||
                    (c == QLatin1Char('/') && i + 1 < length && text.at(i + 1) == '>')) {
                    const qsizetype size = c == QLatin1Char('>') ? 1 : 2;
                    setFormat(static_cast<int>(i), static_cast<int>(size), markup_);
                    i += size;
                    state = kText;
                } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                    setFormat(static_cast<int>(i), 1, value_);
                    ++i;
                    state = c == QLatin1Char('"') ? kValueDouble : kValueSingle;
                } else if (isNameChar(c)) {
                    const qsizetype start = i;
                    while (i < length && isNameChar(text.at(i)))
                        ++i;
                    setFormat(static_cast<int>(start), static_cast<int>(i - start), attribute_);
                } else {
                    if (c == QLatin1Char('=')) setFormat(static_cast<int>(i), 1, markup_);
                    ++i;
                }
                continue;
            }
            default:
                break;
        }
        // Plain text: look for the next markup.
        const QChar c = text.at(i);
        if (c == QLatin1Char('&')) {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            if (end > i && end - i <= 10) {
                setFormat(static_cast<int>(i), static_cast<int>(end - i + 1), entity_);
                i = end + 1;
                continue;
            }
            ++i;
            continue;
        }
        if (c != QLatin1Char('<')) {
            ++i;
            continue;
        }
        const QStringView rest = QStringView(text).mid(i);
        if (rest.startsWith(u"<!--")) {
            state = kComment;
            setFormat(static_cast<int>(i), 4, comment_);
            i += 4;
        } else if (rest.startsWith(u"<![CDATA[")) {
            state = kCdata;
            setFormat(static_cast<int>(i), 9, special_);
            i += 9;
        } else if (rest.startsWith(u"<?") || rest.startsWith(u"<!")) {
            state = kSpecial;
        } else {
            // A start or end tag: "<" or "</", then the element's name.
            const qsizetype start = i;
            i += rest.startsWith(u"</") ? 2 : 1;
            setFormat(static_cast<int>(start), static_cast<int>(i - start), markup_);
            const qsizetype name = i;
            while (i < length && isNameChar(text.at(i)))
                ++i;
            setFormat(static_cast<int>(name), static_cast<int>(i - name), element_);
            state = kTag;
        }
    }
    setCurrentBlockState(state);
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
