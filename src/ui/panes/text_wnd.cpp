#include "ui/panes/text_wnd.h"

#include <QAction>
#include <QFontDatabase>
#include <QKeySequence>
#include <QLabel>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <vector>

#include "app/ks_doc.h"
#include "core/errors/errors.h"
#include "core/errors/text_encode_report.h"
#include "core/pe/description_edit.h"
#include "core/pe/resource_script.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "ui/panes/pane_host.h"
#include "ui/ui_text.h"
#include "ui/widgets/code_editor.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "TextWnd";
constexpr std::string_view kOpenFailed =
    QT_TRANSLATE_NOOP("kestrel::ui::TextWnd", "未能打开文件： \r\n\r\n'%s'");
constexpr std::string_view kScriptFault =
    QT_TRANSLATE_NOOP("kestrel::ui::TextWnd", "脚本第 %d 行，第 %d 列：%s");
constexpr std::string_view kNotStored =
    QT_TRANSLATE_NOOP("kestrel::ui::TextWnd", "脚本有错误，没有保存到 '%s'。");
constexpr std::string_view kNotFound = QT_TRANSLATE_NOOP("kestrel::ui::TextWnd", "文本未找到");
constexpr std::string_view kFindCaption = QT_TRANSLATE_NOOP("kestrel::ui::TextWnd", "查找");
constexpr const char* kReplaceTitle = QT_TRANSLATE_NOOP("kestrel::ui::TextWnd", "浏览文件");
constexpr const char* kBinaryNote = QT_TRANSLATE_NOOP("kestrel::ui::TextWnd", "二进制数据，只读");
// "Text Files (*.ini;*.xml;*.css)" and "All Files (*.*)": Qt's dialog separates patterns by blanks.
constexpr const char* kReplaceFilter = "Text Files (*.ini *.xml *.css);;All Files (*)";
// How much of the text decides whether it looks like XML.
constexpr qsizetype kXmlProbeLength = 64;

QTextDocument::FindFlags findFlags(const FindValues& values, bool backward = false) {
    QTextDocument::FindFlags flags;
    if (backward) flags |= QTextDocument::FindBackward;
    if (values.matchCase) flags |= QTextDocument::FindCaseSensitively;
    if (values.wholeWord) flags |= QTextDocument::FindWholeWords;
    return flags;
}

}  // namespace

int nextTextFontSize(int size) {
    if (size <= 9) return 11;
    if (size <= 11) return 16;
    if (size <= 16) return 20;
    if (size <= 20) return 24;
    if (size <= 24) return 30;
    return 9;
}

TextWnd::TextWnd(PaneHost* host, PaneServices services, TextPaneState& state, QWidget* parent)
    : FilePaneWindow(host, std::move(services), parent), state_(state) {
    editor_ = new CodeEditor(this);
    editor_->setReadOnly(true);
    binaryNote_ = new QLabel(tr(kBinaryNote), this);
    binaryNote_->setAutoFillBackground(true);
    binaryNote_->setBackgroundRole(QPalette::ToolTipBase);
    binaryNote_->setForegroundRole(QPalette::ToolTipText);
    binaryNote_->setContentsMargins(6, 2, 6, 2);
    binaryNote_->hide();
    applyFont();
    buildToolBar();
    connect(&watch_, &FileWatch::changed, this, &TextWnd::load);
    if (host_ != nullptr) {
        auto notify = [this] { notifyCommandsChanged(); };
        connect(editor_, &QPlainTextEdit::copyAvailable, this, notify);
        connect(editor_, &QPlainTextEdit::undoAvailable, this, notify);
        connect(editor_, &QPlainTextEdit::modificationChanged, this, notify);
    }
}

TextWnd::~TextWnd() {
    // The child is deleted after this body: it must not tell the host anything by then.
    editor_->disconnect(this);
}

void TextWnd::buildToolBar() {
    toolBar_ = makePaneToolBar(this);
    addEditorButton(kTextEditorsPage, EditorKind::kText);
    auto add = [this](const QString& text, void (TextWnd::*slot)()) {
        auto* action = new QAction(text, this);
        // A tool button would drop the ellipsis of the text.
        action->setIconText(text);
        connect(action, &QAction::triggered, this, slot);
        toolBar_->addAction(action);
        return action;
    };
    replaceAction_ = add(tr(" 替 换 ..."), &TextWnd::chooseFileReplacement);
    replaceAction_->setObjectName(QStringLiteral("paneReplace"));  // the tree's context menu finds it by name
    hexAction_ = add(tr("查看 Hex"), &TextWnd::showHex);
    fontAction_ = add(tr(" 更改字体的大小 "), &TextWnd::cycleFontSize);
    findAction_ = add(tr("查找..."), &TextWnd::OpenFind);
    // The keys of finding work wherever the focus is inside the pane.
    findAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    findAction_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(findAction_);
    auto addKey = [this](QKeyCombination key, bool backward) {
        auto* action = new QAction(this);
        action->setShortcut(QKeySequence(key));
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, [this, backward] { FindAgain(backward); });
        addAction(action);
    };
    addKey(Qt::Key_F3, false);
    addKey(Qt::SHIFT | Qt::Key_F3, true);
}

void TextWnd::applyFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(state_.fontSize);
    editor_->setFont(font);
}

void TextWnd::cycleFontSize() {
    state_.fontSize = nextTextFontSize(state_.fontSize);
    applyFont();
}

// ----- Showing, loading and writing ---------------------------------------------------------------

void TextWnd::ShowTextFile(const std::filesystem::path& path, XmlElement* fileElement, CKsDoc* document) {
    showFileOf(path, fileElement, document);
    load();
}

void TextWnd::load() {
    searchStart_ = 0;
    std::vector<std::byte> bytes;
    if (HResult hr = ReadWholeFile(path_, bytes); hr.failed()) {
        // Nothing is shown and nothing can be written back over the file that could not be read.
        format_.reset();
        editor_->clear();
        editor_->setReadOnly(true);
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::TextWnd", kOpenFailed),
                      {pathToUtf8(path_)});
        ShowErrorDialog();
        return;
    }
    const int type = document_ != nullptr && fileElement_ != nullptr
                         ? resourceTypeOf(document_->description(), fileElement_)
                         : 0;
    // Accelerator tables and message tables are edited as their script text; bytes that do not
    // decode are shown as the text they hold.
    scriptType_.reset();
    ScriptText script;
    const ResourceKey scriptType = ResourceKey::ofId(static_cast<std::uint16_t>(type));
    if ((type == resource_type::kAccelerator || type == resource_type::kMessageTable) &&
        ResourceToScript(scriptType, bytes, scriptOptions(), script).succeeded())
        scriptType_ = scriptType;

    DecodedText decoded = scriptType_ ? DecodedText{} : DecodeTextFile(bytes, prefersUtf16(path_));
    const QString text =
        scriptType_ ? QString::fromStdString(script.text) : QString::fromStdU16String(decoded.text);
    if (decoded.lineEnds.empty()) {
        writtenText_.clear();
    } else {
        writtenText_ = std::move(decoded.text);
    }
    decoded.text.clear();
    format_ = std::move(decoded);

    const bool xml =
        !scriptType_ && looksLikeXml(pathToUtf8(path_.filename()), type, text.left(kXmlProbeLength));
    // The highlighter colours while the text is set; a plain file is shown without one.
    if (xml && highlighter_ == nullptr) highlighter_ = new XmlHighlighter(editor_->document());
    if (!xml && highlighter_ != nullptr) {
        delete highlighter_;
        highlighter_ = nullptr;
    }
    // Data shown as text is looked at, never typed into: the hex pane is the way to edit it.
    editor_->setReadOnly(format_->binary);
    binaryNote_->setVisible(format_->binary);
    layOutPane();
    editor_->setFileText(text);
    editor_->document()->setModified(false);
}

bool TextWnd::isModified() const {
    return format_.has_value() && !format_->binary && editor_->document()->isModified();
}

ScriptOptions TextWnd::scriptOptions() const {
    ScriptOptions options;
    if (document_ == nullptr || fileElement_ == nullptr) return options;
    if (const auto described = DescribeResourceEntry(document_->description(), fileElement_->parent())) {
        options.name = ScriptResourceName(described->name);
        options.language = described->language;
    }
    return options;
}

HResult TextWnd::commitScript() {
    const std::string text = QString::fromStdU16String(editor_->text()).toStdString();
    std::vector<std::byte> bytes;
    ScriptError error;
    if (CompileResourceScript(*scriptType_, text, bytes, error).failed()) {
        RecordError(true, kSource, __LINE__, kFail);
        ReportMessage(false, kSource, __LINE__, "%s",
                      {safeFormat(uiTextUtf8("kestrel::ui::TextWnd", kScriptFault),
                                  {error.line, error.column, error.message})});
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::TextWnd", kNotStored),
                      {pathToUtf8(path_)});
        return kFail;
    }
    if (HResult hr = WriteFileAtomic(path_, asBytes(bytes)); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::TextWnd", kOpenFailed),
                      {pathToUtf8(path_)});
        return hr;
    }
    editor_->document()->setModified(false);
    watch_.markCurrent();
    return kOk;
}

HResult TextWnd::Commit() {
    if (!format_ || format_->binary) return kOk;
    if (scriptType_) return commitScript();
    const std::u16string text = editor_->text();
    DecodedText format = *format_;
    // Lines that end differently from one another keep their own ends where the edit left them.
    if (!format.lineEnds.empty()) format.lineEnds = LineEndsAfterEdit(writtenText_, *format_, text);
    std::vector<std::byte> bytes;
    if (const auto failure = EncodeTextFile(text, format, bytes)) {
        ReportTextEncodeError(*failure, kSource, __LINE__);
        return kFail;
    }
    if (HResult hr = WriteFileAtomic(path_, bytes); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::TextWnd", kOpenFailed),
                      {pathToUtf8(path_)});
        return hr;
    }
    format_->lineEnds = std::move(format.lineEnds);
    if (format_->lineEnds.empty()) {
        writtenText_.clear();
    } else {
        writtenText_ = text;
    }
    editor_->document()->setModified(false);
    // Our own write is not a change by another program: the watch must not reload over the caret.
    watch_.markCurrent();
    return kOk;
}

// ----- Toolbar commands ---------------------------------------------------------------------------

void TextWnd::showHex() {
    showAs(ShowMode::kHexFromText);
}

void TextWnd::chooseFileReplacement() {
    chooseReplacement(tr(kReplaceTitle), QString::fromUtf8(kReplaceFilter));
}

void TextWnd::ReplaceWith(const std::filesystem::path& chosen) {
    std::filesystem::path shown;
    HResult hr = ReplacePaneFile(document_, fileElement_, path_, chosen, shown);
    if (hr.failed()) {
        ShowErrorDialog();
        return;
    }
    if (hr == kOk) ShowTextFile(shown, fileElement_, document_);
}

// ----- Find and replace ---------------------------------------------------------------------------

void TextWnd::OpenFind() {
    searchStart_ = 0;
    FindDlg dialog(state_.find, this);
    dialog.setReplaceEnabled(!editor_->isReadOnly());
    findDialog_ = &dialog;
    connect(&dialog, &FindDlg::requested, this, [this](FindResult result, const FindValues& values) {
        state_.find = values;
        FindStep(result, values);
    });
    // Where it covers neither the caret nor the match found later.
    dialog.placeClearOf(
        editor_->viewport()->rect().translated(editor_->viewport()->mapToGlobal(QPoint(0, 0))),
        editor_->cursorRect().translated(editor_->viewport()->mapToGlobal(QPoint(0, 0))));
    emit findDialogOpened(&dialog);
    dialog.exec();
    findDialog_ = nullptr;
    state_.find = dialog.values();
    // The last match stays selected, where the user will go on.
    editor_->setFocus();
}

bool TextWnd::selectionMatches(const FindValues& values) const {
    const QTextCursor selection = editor_->textCursor();
    if (!selection.hasSelection() || values.what.isEmpty()) return false;
    const QTextCursor match =
        editor_->document()->find(values.what, selection.selectionStart(), findFlags(values));
    return !match.isNull() && match.selectionStart() == selection.selectionStart() &&
           match.selectionEnd() == selection.selectionEnd();
}

void TextWnd::showMatch(const QTextCursor& match) {
    editor_->setTextCursor(match);
    editor_->ensureCursorVisible();
    if (findDialog_ != nullptr) {
        const QPoint origin = editor_->viewport()->mapToGlobal(QPoint(0, 0));
        findDialog_->placeClearOf(editor_->viewport()->rect().translated(origin),
                                  editor_->cursorRect().translated(origin));
    }
}

void TextWnd::notFound() {
    uiSink().message(uiTextUtf8("kestrel::ui::TextWnd", kNotFound),
                     uiTextUtf8("kestrel::ui::TextWnd", kFindCaption), MessageIcon::kNone);
}

bool TextWnd::FindStep(FindResult result, const FindValues& values) {
    QTextDocument* document = editor_->document();
    bool found = false;
    if (!values.what.isEmpty() && result == FindResult::kReplaceAll) {
        found = replaceAll(values) > 0;
    } else if (!values.what.isEmpty() && result == FindResult::kFindNext) {
        const QTextCursor match = document->find(values.what, searchStart_, findFlags(values));
        found = !match.isNull();
        if (found) {
            showMatch(match);
            searchStart_ = match.selectionStart() + 1;
        }
    } else if (!values.what.isEmpty() && result == FindResult::kReplace) {
        // The match the user is looking at, or else the next one.
        QTextCursor target = selectionMatches(values)
                                 ? editor_->textCursor()
                                 : document->find(values.what, searchStart_, findFlags(values));
        found = !target.isNull();
        if (found && !editor_->isReadOnly()) {
            target.insertText(values.with);
            // On after the replacement: a replacement that contains the text is not found again.
            searchStart_ = target.position();
            const QTextCursor next = document->find(values.what, searchStart_, findFlags(values));
            if (next.isNull()) {
                editor_->setTextCursor(target);
            } else {
                showMatch(next);
                searchStart_ = next.selectionStart() + 1;
            }
        }
    }
    if (!found) {
        notFound();
        // The next search starts again at the top.
        searchStart_ = 0;
    }
    return found;
}

bool TextWnd::FindAgain(bool backward) {
    const FindValues& values = state_.find;
    if (values.what.isEmpty()) {
        OpenFind();
        return false;
    }
    const QTextCursor caret = editor_->textCursor();
    // Forward: from one character after the start of the selected text, as the dialog goes on;
    // backward: from its start, so that it is not found again.
    const int from = backward ? caret.selectionStart()
                              : (caret.hasSelection() ? caret.selectionStart() + 1 : caret.position());
    const QTextCursor match = editor_->document()->find(values.what, from, findFlags(values, backward));
    if (match.isNull()) {
        notFound();
        return false;
    }
    showMatch(match);
    return true;
}

int TextWnd::replaceAll(const FindValues& values) {
    if (editor_->isReadOnly()) return 0;
    QTextDocument* document = editor_->document();
    const QTextDocument::FindFlags flags = findFlags(values);
    // One edit block: a single undo step takes the whole replacement back.
    QTextCursor block(document);
    block.beginEditBlock();
    int count = 0;
    int position = searchStart_;
    for (;;) {
        QTextCursor match = document->find(values.what, position, flags);
        if (match.isNull()) break;
        match.insertText(values.with);
        // Go on after the inserted text, so that a replacement containing the text ends.
        position = match.position();
        ++count;
    }
    block.endEditBlock();
    if (count > 0) {
        searchStart_ = position;
        QTextCursor cursor = editor_->textCursor();
        cursor.clearSelection();
        editor_->setTextCursor(cursor);
    }
    return count;
}

// ----- Layout and painting ------------------------------------------------------------------------

void TextWnd::layOutContent(const QRect& area) {
    int top = area.top();
    if (!binaryNote_->isHidden()) {
        const int noteHeight = binaryNote_->sizeHint().height();
        binaryNote_->setGeometry(0, top, width(), noteHeight);
        top += noteHeight;
    }
    editor_->setGeometry(0, top, width(), std::max(0, height() - top));
}

// ----- The pane object ----------------------------------------------------------------------------

QWidget* TextPane::createWidget(QWidget* parent) {
    // The parent (the host) owns the window; widgetDestroyed() forgets it before Qt deletes it.
    window_ = new TextWnd(&host_, services_, state_, parent);
    return window_;
}

void TextPane::showFile(const PaneRequest& request) {
    if (window_ != nullptr) window_->ShowTextFile(request.path, request.fileElement, request.document);
}

bool TextPane::canEdit(EditCommand command) const {
    if (window_ == nullptr || !window_->isLoaded()) return false;
    const CodeEditor* editor = window_->editor();
    switch (command) {
        case EditCommand::kCopy:
            return editor->textCursor().hasSelection();
        case EditCommand::kCut:
            return editor->textCursor().hasSelection() && !editor->isReadOnly();
        case EditCommand::kPaste:
            return editor->canPaste();
        case EditCommand::kUndo:
            return editor->document()->isUndoAvailable();
    }
    return false;
}

void TextPane::edit(EditCommand command) {
    if (!canEdit(command)) return;
    CodeEditor* editor = window_->editor();
    switch (command) {
        case EditCommand::kCopy:
            editor->copy();
            break;
        case EditCommand::kCut:
            editor->cut();
            break;
        case EditCommand::kPaste:
            editor->paste();
            break;
        case EditCommand::kUndo:
            editor->undo();
            break;
    }
}

PaneFactory makeTextPaneFactory(const PaneServices& services) {
    return [services](PaneHost& host) { return std::make_unique<TextPane>(host, services); };
}

}  // namespace kestrel::ui
