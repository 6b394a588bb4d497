// The text control of the text pane: a plain-text editor without line wrapping, with line numbers
// in a margin, and the XML colouring used for XML files, string tables, manifests and UI files.
#pragma once

#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <string>

#include "core/xml/xml_tokens.h"

namespace kestrel::ui {

class CodeEditor : public QPlainTextEdit {
    Q_OBJECT

  public:
    explicit CodeEditor(QWidget* parent = nullptr);

    // Width of the line-number margin for the current line count and font.
    int lineNumberWidth() const;
    // Shows the text of a file. A U+2029 in it, which the control would take as a line break, is
    // shown as a private-use character the text does not contain, and text() gives it back.
    void setFileText(QString text);
    // The whole text with '\n' between lines, exactly as the user sees it (no substitution of
    // non-breaking spaces, which toPlainText() does).
    std::u16string text() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    friend class LineNumberArea;
    void paintLineNumbers(QPaintEvent* event);
    void updateMargin();
    void scrollMargin(const QRect& rect, int dy);

    QWidget* lineNumbers_ = nullptr;
    QChar paragraphStandIn_;  // null when the shown text had no U+2029
};

// Colours XML: markup, element and attribute names, attribute values, comments, CDATA sections,
// processing instructions and character references (the spans ScanXmlLine finds). Comments, CDATA
// and tags may span lines.
class XmlHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

  public:
    explicit XmlHighlighter(QTextDocument* document);

  protected:
    void highlightBlock(const QString& text) override;

  private:
    const QTextCharFormat& formatOf(XmlToken token) const;

    QTextCharFormat markup_;
    QTextCharFormat element_;
    QTextCharFormat attribute_;
    QTextCharFormat value_;
    QTextCharFormat comment_;
    QTextCharFormat special_;  // processing instructions, CDATA, DOCTYPE
    QTextCharFormat entity_;
};

// True when a file with this name and start holds XML: .xml, .manifest and .xsd names, manifests
// (resource type 24), UI files (names starting with "uifile"), and any text starting with "<?xml".
bool looksLikeXml(const std::string& fileName, int resourceType, const QString& start);

}  // namespace kestrel::ui
