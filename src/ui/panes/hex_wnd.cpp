#include "ui/panes/hex_wnd.h"

#include <QAction>
#include <QToolBar>
#include <QToolButton>

#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/platform/paths.h"
#include "ui/panes/pane_host.h"
#include "ui/widgets/hex_edit.h"

namespace kestrel::ui {

namespace {

constexpr const char* kReplaceTitle = QT_TRANSLATE_NOOP("kestrel::ui::HexWnd", "浏览文件");
constexpr const char* kReplaceFilter = "All Files (*)";
constexpr const char* kShowText = QT_TRANSLATE_NOOP("kestrel::ui::HexWnd", "查看 文本");
constexpr const char* kShowImage = QT_TRANSLATE_NOOP("kestrel::ui::HexWnd", " 查看图象 ");

}  // namespace

HexWnd::HexWnd(PaneHost* host, PaneServices services, QWidget* parent)
    : FilePaneWindow(host, std::move(services), parent) {
    hex_ = new HexEdit(this);
    // Insert or overwrite is the frame's setting (the Insert key), read at every edit.
    SettingsStore* settings = services_.settings;
    hex_->setInsertModeQuery([settings] {
        int insert = 0;
        if (settings != nullptr && settings->GetIntSetting("Flag", "Insert", insert, 0).failed()) insert = 0;
        return insert != 0;
    });
    buildToolBar();
    connect(&watch_, &FileWatch::changed, this, &HexWnd::Reload);
    if (host_ != nullptr) {
        connect(hex_, &HexEdit::modifiedChanged, this, [this] { notifyCommandsChanged(); });
        connect(hex_, &HexEdit::selectionChanged, this, [this] { notifyCommandsChanged(); });
    }
}

HexWnd::~HexWnd() {
    // The child is deleted after this body: it must not tell the host anything by then.
    hex_->disconnect(this);
}

void HexWnd::buildToolBar() {
    toolBar_ = makePaneToolBar(this);
    addEditorButton(kHexEditorsPage, EditorKind::kHex);
    replaceAction_ = new QAction(tr(" 替 换 ..."), this);
    // A tool button would drop the ellipsis of the text.
    replaceAction_->setIconText(replaceAction_->text());
    connect(replaceAction_, &QAction::triggered, this,
            [this] { chooseReplacement(tr(kReplaceTitle), QString::fromUtf8(kReplaceFilter)); });
    switchAction_ = new QAction(tr(kShowText), this);
    connect(switchAction_, &QAction::triggered, this, &HexWnd::switchView);
    toolBar_->addAction(replaceAction_);
    toolBar_->addAction(switchAction_);
}

void HexWnd::ShowHexFile(const std::filesystem::path& path, XmlElement* fileElement, CKsDoc* document,
                         ShowMode mode) {
    showFileOf(path, fileElement, document);
    mode_ = mode;
    switchAction_->setText(tr(mode == ShowMode::kHexFromImage ? kShowImage : kShowText));
    Reload();
}

void HexWnd::Reload() {
    if (hex_->LoadDataFile(path_).failed()) ShowErrorDialog();
    notifyCommandsChanged();
}

bool HexWnd::isModified() const {
    return hex_->isModified();
}

HResult HexWnd::Commit() {
    if (!hex_->hasData()) return kOk;
    if (HResult hr = hex_->SaveDataFile(); hr.failed()) return hr;
    // Our own write is not a change by another program: the watch must not reload over the caret.
    watch_.markCurrent();
    return kOk;
}

void HexWnd::switchView() {
    // Back to the picture (chosen again by type), or on to the text pane.
    showAs(mode_ == ShowMode::kHexFromImage ? ShowMode::kChooseAgain : ShowMode::kTextFromHex);
}

void HexWnd::ReplaceWith(const std::filesystem::path& chosen) {
    std::filesystem::path shown;
    HResult hr = ReplacePaneFile(document_, fileElement_, path_, chosen, shown);
    if (hr.failed()) {
        ShowErrorDialog();
        return;
    }
    if (hr == kOk) ShowHexFile(shown, fileElement_, document_, mode_);
}

void HexWnd::layOutContent(const QRect& area) {
    hex_->setGeometry(area);
}

// ----- The pane object ----------------------------------------------------------------------------

QWidget* HexPane::createWidget(QWidget* parent) {
    // The parent (the host) owns the window; widgetDestroyed() forgets it before Qt deletes it.
    window_ = new HexWnd(&host_, services_, parent);
    return window_;
}

void HexPane::showFile(const PaneRequest& request) {
    if (window_ != nullptr)
        window_->ShowHexFile(request.path, request.fileElement, request.document, request.mode);
}

bool HexPane::canEdit(EditCommand command) const {
    if (window_ == nullptr) return false;
    const HexEdit* hex = window_->hexEdit();
    switch (command) {
        case EditCommand::kCopy:
            return hex->canCopy();
        case EditCommand::kCut:
            return hex->canCut();
        case EditCommand::kPaste:
            return hex->canPaste();
        case EditCommand::kUndo:
            // Undo shows the file again as it is on disk.
            return hex->isModified();
    }
    return false;
}

void HexPane::edit(EditCommand command) {
    if (!canEdit(command)) return;
    HexEdit* hex = window_->hexEdit();
    switch (command) {
        case EditCommand::kCopy:
            hex->copy();
            break;
        case EditCommand::kCut:
            hex->cut();
            break;
        case EditCommand::kPaste:
            hex->paste();
            break;
        case EditCommand::kUndo:
            window_->Reload();
            break;
    }
}

PaneFactory makeHexPaneFactory(const PaneServices& services) {
    return [services](PaneHost& host) { return std::make_unique<HexPane>(host, services); };
}

}  // namespace kestrel::ui
