#include "ui/panes/preview_wnd.h"

#include <QAction>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/ks_doc.h"
#include "core/errors/errors.h"
#include "core/pe/description_edit.h"
#include "core/pe/resource_script.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "ui/panes/dialog_preview.h"
#include "ui/panes/file_pane.h"
#include "ui/panes/menu_preview.h"
#include "ui/panes/pane_host.h"
#include "ui/ui_text.h"
#include "ui/widgets/code_editor.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "PreviewWnd";
constexpr std::string_view kOpenFailed =
    QT_TRANSLATE_NOOP("kestrel::ui::PreviewWnd", "未能打开文件： \r\n\r\n'%s'");
constexpr std::string_view kScriptFault =
    QT_TRANSLATE_NOOP("kestrel::ui::PreviewWnd", "脚本第 %d 行，第 %d 列：%s");
constexpr std::string_view kNoScript = QT_TRANSLATE_NOOP("kestrel::ui::PreviewWnd", "此资源不能显示为脚本。");
constexpr std::string_view kNotStored =
    QT_TRANSLATE_NOOP("kestrel::ui::PreviewWnd", "脚本有错误，没有保存到 '%s'。");
// The share of the width the script takes beside the preview.
constexpr int kScriptShare = 45;

}  // namespace

PreviewWnd::PreviewWnd(PaneHost* host, ResourceModule& module, QWidget* parent)
    : QWidget(parent), host_(host), module_(module) {
    toolBar_ = makePaneToolBar(this);
    hexAction_ = new QAction(tr("查看 Hex"), this);
    connect(hexAction_, &QAction::triggered, this,
            [this] { requestShow(host_, document_, fileElement_, path_, ShowMode::kHexFromImage); });
    toolBar_->addAction(hexAction_);
    scriptAction_ = new QAction(tr("编辑脚本"), this);
    scriptAction_->setCheckable(true);
    connect(scriptAction_, &QAction::toggled, this, &PreviewWnd::ShowScript);
    toolBar_->addAction(scriptAction_);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    scriptPanel_ = new QWidget(splitter_);
    auto* column = new QVBoxLayout(scriptPanel_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    editor_ = new CodeEditor(scriptPanel_);
    editor_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    status_ = new QLabel(scriptPanel_);
    status_->setContentsMargins(6, 2, 6, 2);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(editor_, 1);
    column->addWidget(status_);
    scriptPanel_->hide();
    scroll_ = new QScrollArea(splitter_);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->viewport()->setAutoFillBackground(false);

    followTimer_ = new QTimer(this);
    followTimer_->setSingleShot(true);
    followTimer_->setInterval(kScriptPreviewDelayMs);
    connect(followTimer_, &QTimer::timeout, this, [this] { followScript(); });
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (scriptLoaded_) followTimer_->start();
    });
    if (host_ != nullptr) {
        connect(editor_, &QPlainTextEdit::modificationChanged, this,
                [this] { host_->notifyCommandsChanged(); });
    }
}

PreviewWnd::~PreviewWnd() {
    // The editor is deleted after this body: it must not reach the host or the timer by then.
    editor_->disconnect(this);
}

void PreviewWnd::ShowTemplate(const PaneRequest& request) {
    path_ = request.path;
    fileElement_ = request.fileElement;
    document_ = request.document;
    scriptLoaded_ = false;
    followTimer_->stop();
    rebuild({});

    std::vector<std::byte> bytes;
    if (HResult hr = ReadWholeFile(path_, bytes); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::PreviewWnd", kOpenFailed),
                      {pathToUtf8(path_)});
        ShowErrorDialog();
        if (scriptShown_) loadScript();
        return;
    }
    // Without the module the preview still shows; what it would take from it is left out.
    module_.load(request.resourceFile);
    rebuild(bytes);
    if (scriptShown_) loadScript();
}

void PreviewWnd::rebuild(Bytes data) {
    delete scroll_->takeWidget();
    preview_ = nullptr;
    if (data.empty()) return;
    preview_ = buildPreview(data, module_);
    if (preview_ != nullptr) {
        preview_->setAutoFillBackground(false);
        scroll_->setWidget(preview_);
    }
}

void PreviewWnd::ShowScript(bool shown) {
    if (scriptAction_->isChecked() != shown) {
        // The action's toggled signal comes back here.
        scriptAction_->setChecked(shown);
        return;
    }
    scriptShown_ = shown;
    placeScript_ = shown;
    scriptPanel_->setVisible(shown);
    if (shown && !scriptLoaded_) loadScript();
    layOut();
    if (shown) editor_->setFocus();
}

void PreviewWnd::loadScript() {
    followTimer_->stop();
    std::vector<std::byte> bytes;
    ScriptText script;
    bool decoded = false;
    if (!path_.empty() && ReadWholeFile(path_, bytes).succeeded()) {
        ScriptOptions options;
        if (document_ != nullptr && fileElement_ != nullptr) {
            if (const auto described =
                    DescribeResourceEntry(document_->description(), fileElement_->parent())) {
                options.name = ScriptResourceName(described->name);
                options.language = described->language;
            }
        }
        decoded = ResourceToScript(scriptType(), bytes, options, script).succeeded();
    }
    scriptLoaded_ = false;
    editor_->setFileText(decoded ? QString::fromStdString(script.text) : QString());
    editor_->document()->setModified(false);
    editor_->document()->clearUndoRedoStacks();
    // A template without a text form is only looked at.
    editor_->setReadOnly(!decoded);
    status_->setText(decoded ? QString() : uiText("kestrel::ui::PreviewWnd", kNoScript));
    scriptLoaded_ = decoded;
}

bool PreviewWnd::followScript() {
    followTimer_->stop();
    if (!scriptLoaded_) return false;
    const std::string text = QString::fromStdU16String(editor_->text()).toStdString();
    std::vector<std::byte> bytes;
    ScriptError error;
    if (CompileResourceScript(scriptType(), text, bytes, error).failed()) {
        // The last good preview stays; the status line says where the text went wrong.
        status_->setText(QString::fromStdString(safeFormat(
            uiTextUtf8("kestrel::ui::PreviewWnd", kScriptFault), {error.line, error.column, error.message})));
        return false;
    }
    status_->clear();
    rebuild(bytes);
    return true;
}

bool PreviewWnd::canEdit(EditCommand command) const {
    if (!scriptShown_ || !scriptLoaded_) return false;
    switch (command) {
        case EditCommand::kCopy:
            return editor_->textCursor().hasSelection();
        case EditCommand::kCut:
            return editor_->textCursor().hasSelection() && !editor_->isReadOnly();
        case EditCommand::kPaste:
            return editor_->canPaste();
        case EditCommand::kUndo:
            return editor_->document()->isUndoAvailable();
    }
    return false;
}

void PreviewWnd::edit(EditCommand command) {
    if (!canEdit(command)) return;
    switch (command) {
        case EditCommand::kCopy:
            editor_->copy();
            break;
        case EditCommand::kCut:
            editor_->cut();
            break;
        case EditCommand::kPaste:
            editor_->paste();
            break;
        case EditCommand::kUndo:
            editor_->undo();
            break;
    }
}

bool PreviewWnd::isModified() const {
    return scriptLoaded_ && editor_->document()->isModified();
}

HResult PreviewWnd::Commit() {
    if (!isModified()) return kOk;
    const std::string text = QString::fromStdU16String(editor_->text()).toStdString();
    std::vector<std::byte> bytes;
    ScriptError error;
    if (CompileResourceScript(scriptType(), text, bytes, error).failed()) {
        status_->setText(QString::fromStdString(safeFormat(
            uiTextUtf8("kestrel::ui::PreviewWnd", kScriptFault), {error.line, error.column, error.message})));
        RecordError(true, kSource, __LINE__, kFail);
        ReportMessage(false, kSource, __LINE__, "%s", {status_->text().toStdString()});
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::PreviewWnd", kNotStored),
                      {pathToUtf8(path_)});
        return kFail;
    }
    if (HResult hr = WriteFileAtomic(path_, asBytes(bytes)); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::PreviewWnd", kOpenFailed),
                      {pathToUtf8(path_)});
        return hr;
    }
    editor_->document()->setModified(false);
    status_->clear();
    rebuild(bytes);
    return kOk;
}

void PreviewWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOut();
}

void PreviewWnd::layOut() {
    toolBar_->setGeometry(0, 1, width(), kPaneToolBarHeight);
    splitter_->setGeometry(0, kPaneContentTop, width(), std::max(0, height() - kPaneContentTop));
    // The script's first place; after that the user's split stays.
    if (placeScript_ && splitter_->width() > 0) {
        const int script = splitter_->width() * kScriptShare / 100;
        splitter_->setSizes({script, splitter_->width() - script});
        placeScript_ = false;
    }
}

void PreviewWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintPaneFrame(painter, *this);
}

ResourceKey DialogWnd::scriptType() const {
    return ResourceKey::ofId(resource_type::kDialog);
}

ResourceKey MenuWnd::scriptType() const {
    return ResourceKey::ofId(resource_type::kMenu);
}

QWidget* DialogWnd::buildPreview(Bytes data, const ResourceModule& module) {
    DialogTemplate dialog;
    if (DecodeDialogTemplate(data, dialog).failed()) return nullptr;
    return new DialogPreview(dialog, module);
}

std::uint16_t PreviewWnd::language() const {
    if (document_ == nullptr || fileElement_ == nullptr) return 0;
    const auto described = DescribeResourceEntry(document_->description(), fileElement_->parent());
    return described ? described->language : 0;
}

QWidget* MenuWnd::buildPreview(Bytes data, const ResourceModule&) {
    MenuTemplate menu;
    if (DecodeMenuTemplate(data, menu).failed()) return nullptr;
    // Menus have no layout bit of their own: a program shows them mirrored when its window is,
    // which it is in a right-to-left language.
    return new MenuPreview(std::move(menu), nullptr,
                           IsRightToLeftLanguage(language()) ? Qt::RightToLeft : Qt::LeftToRight);
}

PaneFactory makeDialogPaneFactory() {
    return [](PaneHost& host) { return std::make_unique<DialogPane>(host); };
}

PaneFactory makeMenuPaneFactory() {
    return [](PaneHost& host) { return std::make_unique<MenuPane>(host); };
}

}  // namespace kestrel::ui
