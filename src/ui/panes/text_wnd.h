// The text pane: shows a text file of the working folder (INI, XML, HTML, CSS, manifests, string
// tables, UI files) in an editor with line numbers, colours XML, finds and replaces, and writes the
// text back when the pane host commits an edit — in the encoding, byte-order mark and line ends the
// file was read with, each line it did not touch byte for byte. An unedited file is never written,
// and a file that is not text (binary data) is shown read-only under a note saying so.
// Accelerator tables and message tables are shown as their script text and compiled back to the
// resource's bytes on commit; text with a fault is not written, and the error names its line.
#pragma once

#include <QWidget>
#include <filesystem>
#include <optional>

#include "core/pe/rc_script.h"
#include "core/pe/resource_reader.h"
#include "core/platform/text_file.h"
#include "ui/dialogs/find_dlg.h"
#include "ui/panes/file_pane.h"
#include "ui/panes/file_pane_window.h"
#include "ui/panes/pane.h"

class QAction;
class QLabel;
class QTextCursor;

namespace kestrel::ui {

class CodeEditor;
class FindDlg;
class XmlHighlighter;

// The next font size of the cycle 9 → 11 → 16 → 20 → 24 → 30 → 9.
int nextTextFontSize(int size);

// What outlives the pane's window: the font size and the find dialog's values.
struct TextPaneState {
    int fontSize = 16;
    FindValues find;
};

class TextWnd : public FilePaneWindow<QWidget> {
    Q_OBJECT

  public:
    TextWnd(PaneHost* host, PaneServices services, TextPaneState& state, QWidget* parent = nullptr);
    ~TextWnd() override;

    // Shows a file: remembers it with its File element and document, starts watching it, reads it.
    void ShowTextFile(const std::filesystem::path& path, XmlElement* fileElement, CKsDoc* document);
    // Writes the text to the file in the encoding it was read in (atomically). Failures are recorded.
    HResult Commit();
    bool isModified() const;
    // False when the file could not be read: nothing is shown and nothing will be written.
    bool isLoaded() const { return format_.has_value(); }
    // The file is data, not text: shown read-only, never written.
    bool isBinary() const { return format_.has_value() && format_->binary; }
    const DecodedText* format() const { return format_ ? &*format_ : nullptr; }
    // The shown file is a resource edited as script text (an accelerator or message table).
    bool isScript() const { return scriptType_.has_value(); }

    // Replaces the shown file by `chosen` (see ReplacePaneFile) and shows the result.
    void ReplaceWith(const std::filesystem::path& chosen) override;
    void cycleFontSize();

    // Opens the find dialog (modal) and runs its requests until it is cancelled; the last match
    // stays selected.
    void OpenFind();
    // One step of the find dialog. Returns false when the text was not found ("文本未找到" shown).
    // Replace replaces the selected match (or, when the selection is none, the next one) and selects
    // the match after it.
    bool FindStep(FindResult result, const FindValues& values);
    // F3 and Shift+F3: the next or previous match of the last search from the caret, without the
    // dialog (which opens when there is nothing to search for yet).
    bool FindAgain(bool backward);
    // Where the next search starts (a character position).
    int searchStart() const { return searchStart_; }

    CodeEditor* editor() const { return editor_; }
    XmlHighlighter* highlighter() const { return highlighter_; }
    QAction* replaceAction() const { return replaceAction_; }
    QAction* hexAction() const { return hexAction_; }
    QAction* fontAction() const { return fontAction_; }
    QAction* findAction() const { return findAction_; }
    QLabel* binaryNote() const { return binaryNote_; }
    // The find dialog while it is open (tests press its buttons).
    FindDlg* findDialog() const { return findDialog_; }

  signals:
    // The find dialog is open (tests answer it from here).
    void findDialogOpened(kestrel::ui::FindDlg* dialog);

  protected:
    void layOutContent(const QRect& area) override;

  private:
    void buildToolBar();
    void applyFont();
    ScriptOptions scriptOptions() const;
    HResult commitScript();
    void load();
    void showHex();
    void chooseFileReplacement();
    int replaceAll(const FindValues& values);
    bool selectionMatches(const FindValues& values) const;
    void showMatch(const QTextCursor& match);
    void notFound();

    TextPaneState& state_;
    std::optional<DecodedText> format_;
    std::optional<ResourceKey> scriptType_;  // set while the file is shown as script text
    // The text as read or last written, while the file's lines end differently (an edit is diffed
    // against it to keep the untouched lines' ends).
    std::u16string writtenText_;
    int searchStart_ = 0;

    CodeEditor* editor_ = nullptr;
    QLabel* binaryNote_ = nullptr;
    XmlHighlighter* highlighter_ = nullptr;
    FindDlg* findDialog_ = nullptr;
    QAction* replaceAction_ = nullptr;
    QAction* hexAction_ = nullptr;
    QAction* fontAction_ = nullptr;
    QAction* findAction_ = nullptr;
};

// The text pane object the host keeps: owns the state that outlives the window.
class TextPane : public FilePane<TextWnd> {
  public:
    using FilePane::FilePane;
    QWidget* createWidget(QWidget* parent) override;
    void showFile(const PaneRequest& request) override;
    bool canEdit(EditCommand command) const override;
    void edit(EditCommand command) override;
    const TextPaneState& state() const { return state_; }

  private:
    TextPaneState state_;
};

PaneFactory makeTextPaneFactory(const PaneServices& services);

}  // namespace kestrel::ui
