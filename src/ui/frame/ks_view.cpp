#include "ui/frame/ks_view.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolButton>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ks_app.h"
#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/pe/compile_file.h"
#include "core/pe/decompile_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/resource_export.h"
#include "core/pe/resource_types.h"
#include "core/pe/section_names.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "ui/dialogs/import_dlg.h"
#include "ui/frame/qt_ui_sink.h"
#include "ui/frame/resource_tree.h"
#include "ui/frame/url_opener.h"
#include "ui/panes/file_pane.h"
#include "ui/panes/pane_host.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "KsView";
constexpr const char* kContext = "kestrel::ui::CKsView";
constexpr std::string_view kCannotCreate = QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "未能建立文件 %s");
constexpr std::string_view kLanguageCopied = QT_TRANSLATE_NOOP(
    "kestrel::ui::CKsView", "已复制 %d 个资源、%d 个字串块（%d 个字串）；%d 个位图保留原来的语言。");
constexpr std::string_view kImportDone =
    QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "顺利插入。\r\n\r\n你想要现在就打开这个文件吗？");
constexpr std::string_view kBadName = QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "'%s' 不是有效的名称或 ID。");
constexpr std::string_view kBadLanguage = QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "'%s' 不是有效的语言。");
constexpr std::string_view kAskDelete =
    QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "要从描述中删除资源 %s 吗？\r\n\r\n文件留在磁盘上。");
constexpr std::string_view kExportTitle = QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "导出资源");
constexpr std::string_view kExportAllTitle = QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "导出到文件夹");
constexpr std::string_view kExportDone = QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "已导出 %d 个文件到 %s");
constexpr std::string_view kExportProblems =
    QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "有些资源未能完整导出：\r\n\r\n%s");

}  // namespace

SplitterBar::SplitterBar(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::SplitHCursor);
    setFixedWidth(kWidth);
}

void SplitterBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) grabOffset_ = static_cast<int>(event->position().x());
}

void SplitterBar::mouseMoveEvent(QMouseEvent* event) {
    if (grabOffset_ < 0) return;
    emit moved(static_cast<int>(mapToParent(event->position()).x()) - grabOffset_);
}

void SplitterBar::mouseReleaseEvent(QMouseEvent*) {
    grabOffset_ = -1;
}

void SplitterBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().button());
}

HResult WriteDescription(CKsDoc& document) {
    std::string text;
    HResult hr = document.description().SaveToString(text);
    if (hr.succeeded()) hr = WriteFileAtomic(document.descriptionPath(), std::string_view(text));
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8(kContext, kCannotCreate),
                      {pathToUtf8(document.descriptionPath())});
    }
    return hr;
}

CKsView::CKsView(ViewContext context, QWidget* parent) : QWidget(parent), context_(std::move(context)) {
    bar_ = new SplitterBar(this);
    tree_ = new ResourceTree(this);
    paneHost_ = new PaneHost(this);
    connect(bar_, &SplitterBar::moved, this, &CKsView::setSplitterPosition);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QTreeWidgetItem* item = tree_->itemAt(at)) tree_->setCurrentItem(item);
        QMenu* menu = makeContextMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(tree_->viewport()->mapToGlobal(at));
    });
    connect(tree_, &ResourceTree::deleteRequested, this, &CKsView::deleteResource);
    connect(tree_, &ResourceTree::renameRequested, this, &CKsView::renameResource);
    connect(paneHost_, &PaneHost::statusMessage, this, &CKsView::statusMessage);
    connect(paneHost_, &PaneHost::commandsChanged, this, &CKsView::commandsChanged);
    connect(paneHost_, &PaneHost::editsStored, this, [this] {
        if (context_.document != nullptr) context_.document->SetModifiedFlag();
        emit commandsChanged();
    });
    setMinimumSize(kMarginLeft + kMarginRight + SplitterBar::kWidth, kMarginTop + kMarginBottom);
}

CKsView::~CKsView() {
    // The host commits once more while it is torn down, after this view is gone.
    disconnect(paneHost_, nullptr, this, nullptr);
    if (context_.settings != nullptr && initialUpdateDone_) {
        (void)context_.settings->SetIntSetting("Layout", "SplitterX", splitterX_);
    }
}

void CKsView::connectTree() {
    tree_->setSelectionCallback([this](CKsDoc* document, XmlElement* element) {
        const bool shown = paneHost_->Select(document, element);
        emit commandsChanged();
        return shown;
    });
}

void CKsView::OnInitialUpdate() {
    if (!initialUpdateDone_) {
        int x = kDefaultSplitterX;
        if (context_.settings != nullptr) (void)context_.settings->GetIntSetting("Layout", "SplitterX", x, x);
        splitterX_ = x;
        layoutChildren();
        initialUpdateDone_ = true;
    }
    connectTree();
    tree_->Populate(context_.document);
    // The same project filled again (after a compile): the tree looks as it did.
    if (context_.document != nullptr && context_.document->isOpen() && !savedTree_.empty() &&
        context_.document->projectPath() == savedTreeProject_)
        tree_->restoreViewState(savedTree_);
    savedTree_ = {};
    emit commandsChanged();
    // What the import has to say goes to the status bar, once.
    if (context_.document != nullptr) {
        const std::string notice = context_.document->takeImportNotice();
        if (!notice.empty()) emit statusMessage(QString::fromStdString(notice));
    }
}

void CKsView::ClearView() {
    if (context_.document != nullptr && tree_->topLevelItemCount() > 0) {
        savedTree_ = tree_->saveViewState();
        savedTreeProject_ = context_.document->projectPath();
    }
    tree_->disconnectCallback();
    tree_->clearItems();
    paneHost_->Select(nullptr, nullptr);
    emit commandsChanged();
}

bool CKsView::CommitPane() {
    if (!tree_->isConnected()) return true;
    if (!paneHost_->CommitPane()) return false;
    paneHost_->Select(tree_->document(), nullptr);
    return true;
}

bool CKsView::StorePaneEdits() {
    if (!tree_->isConnected()) return true;
    return paneHost_->CommitPane();
}

void CKsView::DiscardPane() {
    paneHost_->ClosePane();
}

void CKsView::setSplitterPosition(int x) {
    splitterX_ = x;
    layoutChildren();
}

void CKsView::layoutChildren() {
    // Until the window is on screen its size means nothing: clamping to it would lose the stored
    // position. The first show lays out again.
    if (!isVisible()) return;
    const QRect inner = rect().adjusted(kMarginLeft, kMarginTop, -kMarginRight, -kMarginBottom);
    const int right = inner.left() + inner.width();
    const int bottom = inner.top() + inner.height();
    splitterX_ = std::clamp(splitterX_, 0, std::max(0, right - SplitterBar::kWidth));
    bar_->setGeometry(splitterX_, inner.top() - 1, SplitterBar::kWidth, inner.height() + 2);
    tree_->setGeometry(inner.left(), inner.top(), std::max(0, splitterX_ - inner.left()), inner.height());
    const int hostLeft = splitterX_ + SplitterBar::kWidth;
    paneHost_->setGeometry(hostLeft, inner.top(), std::max(0, right - hostLeft), bottom - inner.top());
    if (initialUpdateDone_ && context_.settings != nullptr) {
        (void)context_.settings->SetIntSetting("Layout", "SplitterX", splitterX_);
    }
}

void CKsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    layoutChildren();
}

void CKsView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutChildren();
}

void CKsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    const QRect all = rect();
    painter.fillRect(QRect(0, 0, all.width(), kMarginTop), colours.button());
    painter.fillRect(QRect(0, all.height() - kMarginBottom, all.width(), kMarginBottom), colours.button());
    painter.fillRect(QRect(0, 0, kMarginLeft, all.height()), colours.button());
    painter.fillRect(QRect(all.width() - kMarginRight, 0, kMarginRight, all.height()), colours.button());
    // A shallow sunken frame: shadow above and left, highlight below and right.
    const QRect inner = all.adjusted(kMarginLeft - 1, kMarginTop - 1, -kMarginRight, -kMarginBottom);
    painter.setPen(colours.color(QPalette::Dark));
    painter.drawLine(inner.topLeft(), inner.topRight());
    painter.drawLine(inner.topLeft(), inner.bottomLeft());
    painter.setPen(colours.color(QPalette::Light));
    painter.drawLine(inner.bottomLeft(), inner.bottomRight());
    painter.drawLine(inner.topRight(), inner.bottomRight());
}

void CKsView::compile() {
    CKsDoc* document = context_.document;
    if (document == nullptr || !document->isOpen()) return;
    BusyCursor busy;
    // A compile of files whose edits could not be written would build stale data.
    if (!paneHost_->CommitPane()) return;
    // The compile reads pe.xml from the disk: what is in memory (a replaced file's new name, say)
    // goes there first. The tree stays loaded, so the view is not rebuilt.
    if (WriteDescription(*document).failed()) {
        ShowErrorDialog();
        return;
    }
    CompileCopy copy;
    copy.keepBackup = document->keepsBackup();
    bool copied = false;
    if (CompileFile(std::nullopt, document->resourceFilePath(), document->descriptionPath(), true, copy,
                    &copied)
            .failed()) {
        ShowErrorDialog();
        return;
    }
    // The undo steps end with the compile: what was compiled is the state to work from.
    document->history().clear();
    // The edits are safe once the compiled file is where the project's PE file is, or lies in a
    // folder that no import clears.
    const std::filesystem::path compiled =
        document->descriptionPath().parent_path() / document->resourceFilePath().filename();
    if (copied || IsSameFile(compiled, document->resourceFilePath()) || !document->isInWorkingFolder())
        document->MarkCompiled();
    emit commandsChanged();
}

void CKsView::importFile() {
    std::string file;
    std::string folder;
    if (importChooser_) {
        if (!importChooser_(file, folder)) return;
    } else {
        CImportDlg dialog(context_.settings, context_.dataFolder, window());
        if (dialog.exec() != QDialog::Accepted) return;
        file = dialog.file();
        folder = dialog.folder();
    }
    // The import may write into the folder of the open project: its edits are settled first.
    if (context_.documents != nullptr && !context_.documents->SaveModified()) return;
    std::filesystem::path projectPath;
    ImportSummary summary;
    summary.callerTellsBitFields = true;
    HResult hr;
    {
        BusyCursor busy;
        hr = DecompileProject(pathFromUtf8(file), pathFromUtf8(folder), projectPath, &summary);
    }
    if (hr.failed()) {
        ShowErrorDialog();
        return;
    }
    if (const std::string notice = ImportNotice(summary); !notice.empty())
        emit statusMessage(QString::fromStdString(notice));
    if (uiSink().ask(uiTextUtf8(kContext, kImportDone), kAppName, Buttons::kYesNo, 0,
                     MessageIcon::kQuestion) != Answer::kYes)
        return;
    if (context_.documents != nullptr) context_.documents->openDocument(projectPath);
}

void CKsView::openOptions(int page) {
    if (page < 0 || page >= 3) page = 0;
    if (optionsOpener_) optionsOpener_(page);
}

void CKsView::openWebSite() {
    openLink(kWebSiteLink);
}

bool CKsView::canEdit(EditCommand command) const {
    return paneHost_->canEdit(command);
}

void CKsView::edit(EditCommand command) {
    paneHost_->edit(command);
}

bool CKsView::canAddResource() const {
    return context_.document != nullptr && context_.document->isOpen() && tree_->isConnected();
}

bool CKsView::canDeleteResource() const {
    if (!canAddResource()) return false;
    XmlElement* element = tree_->elementOf(tree_->currentItem());
    if (element == nullptr) return false;
    std::optional<DescribedResource> resource =
        DescribeResourceEntry(context_.document->description(), element);
    // String tables are edited as a whole in STRINGS.XML.
    return resource && (resource->type.isName || resource->type.id != resource_type::kString);
}

std::uint16_t CKsView::proposedLanguage() const {
    const XmlDocument& description = context_.document->description();
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        if (std::optional<DescribedResource> resource =
                DescribeResourceEntry(description, tree_->elementOf(*it)))
            return resource->language;
    }
    return resource_language::kUsEnglish;
}

bool CKsView::selectElement(XmlElement* element) {
    if (element == nullptr) return false;
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        if (tree_->elementOf(*it) != element) continue;
        tree_->setCurrentItem(*it);
        tree_->scrollToItem(*it);
        return true;
    }
    return false;
}

void CKsView::rebuildAfterEdit(XmlElement* element) {
    CKsDoc* document = context_.document;
    // The pane may hold elements the edit unlinked.
    paneHost_->Select(document, nullptr);
    document->SetModifiedFlag();
    const bool written = WriteDescription(*document).succeeded();
    tree_->Populate(document);
    selectElement(element);
    emit commandsChanged();
    if (!written) ShowErrorDialog();
}

void CKsView::addResource() {
    if (!canAddResource()) return;
    CKsDoc* document = context_.document;
    std::optional<AddResourceRequest> request;
    if (addChooser_) {
        request = addChooser_(proposedLanguage());
    } else {
        CAddResourceDlg dialog(proposedLanguage(), window());
        if (dialog.exec() == QDialog::Accepted) request = dialog.request();
    }
    if (!request) return;
    XmlElement* selected = tree_->elementOf(tree_->currentItem());
    paneHost_->Select(document, nullptr);
    beginProjectEdit(document, {}, selected);
    XmlElement* added = nullptr;
    HResult hr;
    {
        BusyCursor busy;
        hr = AddResource(document->description(), document->descriptionPath().parent_path(), request->type,
                         request->name, request->language, request->file, added);
    }
    if (hr.failed()) {
        document->history().abandon();
        ShowErrorDialog();
        paneHost_->Select(document, selected);
        return;
    }
    finishProjectEdit(document, added);
    rebuildAfterEdit(added);
}

void CKsView::addLanguage() {
    if (!canAddResource()) return;
    CKsDoc* document = context_.document;
    const std::vector<std::uint16_t> present = ListResourceLanguages(document->description());
    if (present.empty()) return;
    // Translations usually start from U.S. English.
    const bool english =
        std::find(present.begin(), present.end(), resource_language::kUsEnglish) != present.end();
    const std::uint16_t proposed = english ? resource_language::kUsEnglish : proposedLanguage();
    std::optional<AddLanguageRequest> request;
    if (languageChooser_) {
        request = languageChooser_(present, proposed);
    } else {
        CAddLanguageDlg dialog(present, proposed, window());
        if (dialog.exec() == QDialog::Accepted) request = dialog.request();
    }
    if (!request) return;
    XmlElement* selected = tree_->elementOf(tree_->currentItem());
    // The pane commits first: the copies are made of what the files hold.
    if (!paneHost_->Select(document, nullptr)) return;
    std::filesystem::path strings;
    if (resolveStored(document->descriptionPath().parent_path(), kStringsFileName, strings).failed()) {
        ClearErrorRecord();
        strings = document->descriptionPath().parent_path() / kStringsFileName;
    }
    beginProjectEdit(document, {strings}, selected);
    LanguageCopy copy;
    HResult hr;
    {
        BusyCursor busy;
        hr = AddLanguage(document->description(), document->descriptionPath().parent_path(), request->source,
                         request->target, copy);
    }
    if (hr.failed()) {
        document->history().abandon();
        ShowErrorDialog();
        paneHost_->Select(document, selected);
        return;
    }
    finishProjectEdit(document, copy.first);
    rebuildAfterEdit(copy.first);
    // Bitmaps stay in their one language: the status bar says so with what was copied.
    emit statusMessage(QString::fromStdString(
        safeFormat(uiTextUtf8(kContext, kLanguageCopied),
                   {copy.resources, copy.stringBlocks, copy.strings, copy.bitmapsLeft})));
}

void CKsView::deleteResource() {
    if (!canDeleteResource()) return;
    CKsDoc* document = context_.document;
    QTreeWidgetItem* item = tree_->currentItem();
    QTreeWidgetItem* typeItem = item->parent();
    XmlElement* entry = tree_->elementOf(item);
    const QString label =
        typeItem != nullptr ? typeItem->text(0) + QLatin1Char(' ') + item->text(0) : item->text(0);
    const std::string question = safeFormat(uiTextUtf8(kContext, kAskDelete), {label.toUtf8().toStdString()});
    if (uiSink().ask(question, kAppName, Buttons::kYesNo, 1, MessageIcon::kQuestion) != Answer::kYes) return;

    // The neighbour is found again by place: the item that takes the deleted one's row, else the one
    // before it, else the type's place among the types.
    const QString typeLabel = typeItem != nullptr ? typeItem->text(0) : QString();
    const int typeRow = tree_->indexOfTopLevelItem(typeItem != nullptr ? typeItem : item);
    const int row = typeItem != nullptr ? typeItem->indexOfChild(item) : 0;
    paneHost_->Select(document, nullptr);
    beginProjectEdit(document, {}, entry);
    if (DeleteResource(document->description(), document->descriptionPath().parent_path(), entry).failed()) {
        document->history().abandon();
        ShowErrorDialog();
        paneHost_->Select(document, entry);
        return;
    }
    finishProjectEdit(document, nullptr);
    rebuildAfterEdit(nullptr);
    QTreeWidgetItem* neighbour = nullptr;
    for (int i = 0; i < tree_->topLevelItemCount() && neighbour == nullptr; ++i) {
        QTreeWidgetItem* type = tree_->topLevelItem(i);
        if (type->text(0) == typeLabel && type->childCount() > 0)
            neighbour = type->child(std::min(row, type->childCount() - 1));
    }
    if (neighbour == nullptr && tree_->topLevelItemCount() > 0)
        neighbour = tree_->topLevelItem(std::min(typeRow, tree_->topLevelItemCount() - 1));
    if (neighbour != nullptr) {
        tree_->setCurrentItem(neighbour);
        tree_->scrollToItem(neighbour);
    }
}

bool CKsView::canMoveResource() const {
    // The same resources as Delete: string tables take their numbers and languages from STRINGS.XML.
    return canDeleteResource();
}

void CKsView::renameResource() {
    moveResource(false);
}

void CKsView::changeResourceLanguage() {
    moveResource(true);
}

namespace {

// Asks for one line of text: a new name or ID, or a language offered by name.
std::optional<QString> askMoveText(QWidget* parent, bool language, const QString& current) {
    QDialog dialog(parent);
    dialog.setWindowTitle(language ? CKsView::tr("更改语言") : CKsView::tr("重命名资源"));
    auto* label =
        new QLabel(language ? CKsView::tr("新的语言(&L):") : CKsView::tr("新的名称或 ID(&N):"), &dialog);
    auto* field = new QLineEdit(current, &dialog);
    field->setMinimumWidth(field->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
    label->setBuddy(field);
    if (language) offerLanguageNames(field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(buttons);
    field->selectAll();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return field->text();
}

QString keyLabel(const ResourceKey& key) {
    return key.isName ? QString::fromStdU16String(key.name) : QString::number(key.id);
}

}  // namespace

void CKsView::moveResource(bool language) {
    if (!canMoveResource()) return;
    CKsDoc* document = context_.document;
    XmlElement* entry = tree_->elementOf(tree_->currentItem());
    const std::optional<DescribedResource> resource = DescribeResourceEntry(document->description(), entry);
    if (!resource) return;
    const QString current = language ? QString::number(resource->language) : keyLabel(resource->name);
    const std::optional<QString> typed =
        moveChooser_ ? moveChooser_(language, current) : askMoveText(window(), language, current);
    if (!typed) return;
    ResourceKey name = resource->name;
    std::uint16_t target = resource->language;
    const std::string text = typed->trimmed().toStdString();
    if (language) {
        const std::optional<std::uint16_t> parsed =
            parseLanguage(languageNumberPart(typed->trimmed()).toStdString());
        if (!parsed) {
            uiSink().message(safeFormat(uiTextUtf8(kContext, kBadLanguage), {text}), kAppName,
                             MessageIcon::kExclamation);
            return;
        }
        target = *parsed;
    } else {
        const std::optional<ResourceKey> parsed = parseResourceName(text);
        if (!parsed) {
            uiSink().message(safeFormat(uiTextUtf8(kContext, kBadName), {text}), kAppName,
                             MessageIcon::kExclamation);
            return;
        }
        name = *parsed;
    }
    if (!paneHost_->Select(document, nullptr)) return;
    beginProjectEdit(document, {}, entry);
    XmlElement* moved = nullptr;
    const HResult hr = MoveResource(document->description(), document->descriptionPath().parent_path(), entry,
                                    name, target, moved);
    if (hr.failed()) {
        document->history().abandon();
        ShowErrorDialog();
        paneHost_->Select(document, entry);
        return;
    }
    if (hr != kOk) {
        document->history().abandon();
        paneHost_->Select(document, entry);
        return;
    }
    finishProjectEdit(document, moved);
    rebuildAfterEdit(moved);
}

bool CKsView::canUndoProject() const {
    return canAddResource() && context_.document->history().canUndo();
}

bool CKsView::canRedoProject() const {
    return canAddResource() && context_.document->history().canRedo();
}

void CKsView::undoProject() {
    travelHistory(false);
}

void CKsView::redoProject() {
    travelHistory(true);
}

void CKsView::travelHistory(bool forward) {
    if (forward ? !canRedoProject() : !canUndoProject()) return;
    CKsDoc* document = context_.document;
    // The pane stores its edits first; they are then part of what the step replaces.
    if (!paneHost_->Select(document, nullptr)) return;
    std::string current;
    if (HResult hr = document->description().SaveToString(current); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ShowErrorDialog();
        return;
    }
    std::string restored;
    std::optional<DescribedResource> select;
    ProjectHistory& history = document->history();
    HResult hr = forward ? history.redo(current, restored, select) : history.undo(current, restored, select);
    if (hr.failed()) {
        ShowErrorDialog();
        paneHost_->Select(document, tree_->elementOf(tree_->currentItem()));
        return;
    }
    const ResourceTree::ViewState look = tree_->saveViewState();
    tree_->clearItems();
    // pe.xml gets the restored text and the description is loaded from it again.
    hr = WriteFileAtomic(document->descriptionPath(), std::string_view(restored));
    if (hr.succeeded()) hr = document->description().LoadFile(document->descriptionPath());
    if (hr.failed()) RecordError(true, kSource, __LINE__, hr);
    document->SetModifiedFlag();
    tree_->Populate(document);
    tree_->restoreViewState(look);
    if (select)
        selectElement(
            FindResourceEntry(document->description(), select->type, select->name, select->language));
    emit commandsChanged();
    if (hr.failed()) ShowErrorDialog();
}

void CKsView::descriptionEdited(XmlElement* select) {
    QMetaObject::invokeMethod(
        this,
        [this, select] {
            if (context_.document != nullptr && context_.document->isOpen() && tree_->isConnected())
                rebuildAfterEdit(select);
        },
        Qt::QueuedConnection);
}

namespace {

// The resources of the working folder as a compile would make them now; failures are shown.
bool loadCurrentResources(CKsDoc& document, LoadedResources& resources) {
    BusyCursor busy;
    if (LoadDescribedResources(document.description(), document.descriptionPath().parent_path(), resources)
            .failed()) {
        ShowErrorDialog();
        return false;
    }
    return true;
}

}  // namespace

bool CKsView::canExportResource() const {
    if (!canAddResource()) return false;
    return DescribeResourceEntry(context_.document->description(), tree_->elementOf(tree_->currentItem()))
        .has_value();
}

bool CKsView::canExportAll() const {
    return canAddResource() && tree_->topLevelItemCount() > 0;
}

void CKsView::exportResource() {
    if (!canExportResource()) return;
    CKsDoc* document = context_.document;
    std::optional<DescribedResource> resource =
        DescribeResourceEntry(document->description(), tree_->elementOf(tree_->currentItem()));
    if (!paneHost_->CommitPane()) return;
    LoadedResources resources;
    if (!loadCurrentResources(*document, resources)) return;
    ExportedResource exported;
    if (ExportResource(resources.lookup, resource->type, resource->name, resource->language, exported)
            .failed()) {
        RecordError(true, kSource, __LINE__, kFail);
        ShowErrorDialog();
        return;
    }
    std::optional<std::filesystem::path> target;
    if (exportChooser_) {
        target = exportChooser_(exported.fileName);
    } else {
        const QString chosen = QFileDialog::getSaveFileName(
            window(), uiText(kContext, kExportTitle),
            QString::fromStdString(
                pathToUtf8(document->resourceFilePath().parent_path() / pathFromUtf8(exported.fileName))));
        if (!chosen.isEmpty()) target = pathFromUtf8(chosen.toStdString());
    }
    if (!target) return;
    if (HResult hr = WriteFileAtomic(*target, asBytes(exported.bytes)); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8(kContext, kCannotCreate), {pathToUtf8(*target)});
        ShowErrorDialog();
        return;
    }
    emit statusMessage(
        QString::fromStdString(safeFormat(uiTextUtf8(kContext, kExportDone), {1, pathToUtf8(*target)})));
}

void CKsView::exportAll() {
    if (!canExportAll()) return;
    CKsDoc* document = context_.document;
    // A type item (or an item under one) limits the export to that type.
    ExportSelection selection;
    QTreeWidgetItem* item = tree_->currentItem();
    while (item != nullptr && item->parent() != nullptr)
        item = item->parent();
    if (item != nullptr && item->childCount() > 0) {
        if (std::optional<DescribedResource> first =
                DescribeResourceEntry(document->description(), tree_->elementOf(item->child(0))))
            selection.type = first->type;
    }
    if (!paneHost_->CommitPane()) return;
    std::optional<std::filesystem::path> folder;
    if (exportFolderChooser_) {
        folder = exportFolderChooser_();
    } else {
        const QString chosen = QFileDialog::getExistingDirectory(
            window(), uiText(kContext, kExportAllTitle),
            QString::fromStdString(pathToUtf8(document->resourceFilePath().parent_path())));
        if (!chosen.isEmpty()) folder = pathFromUtf8(chosen.toStdString());
    }
    if (!folder) return;
    LoadedResources resources;
    if (!loadCurrentResources(*document, resources)) return;
    ExportSummary summary;
    HResult hr;
    {
        BusyCursor busy;
        hr = ExportResources(resources.lookup, selection, *folder, summary);
    }
    if (hr.failed()) {
        ShowErrorDialog();
        return;
    }
    emit statusMessage(QString::fromStdString(
        safeFormat(uiTextUtf8(kContext, kExportDone), {summary.written.size(), pathToUtf8(*folder)})));
    if (!summary.problems.empty()) {
        std::string lines;
        for (const std::string& problem : summary.problems)
            lines += problem + "\r\n";
        uiSink().message(safeFormat(uiTextUtf8(kContext, kExportProblems), {lines}), kAppName,
                         MessageIcon::kExclamation);
    }
}

QMenu* CKsView::makeContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    auto add = [menu](const char* name, const QString& text, bool enabled, const std::function<void()>& run) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        action->setEnabled(enabled);
        QObject::connect(action, &QAction::triggered, menu, [run] { run(); });
        return action;
    };
    // The pane's own commands (replace, the external editor) are its toolbar's actions.
    QWidget* pane = paneHost_->activeWidget();
    QAction* replace = pane != nullptr ? pane->findChild<QAction*>(QStringLiteral("paneReplace")) : nullptr;
    QToolButton* editor =
        pane != nullptr ? pane->findChild<QToolButton*>(QStringLiteral("paneEditor")) : nullptr;
    QTreeWidgetItem* item = tree_->currentItem();
    const bool entry = canExportResource();
    const std::filesystem::path shown = paneHost_->currentPath();

    add("export", tr("导出(&E)..."), entry, [this] { exportResource(); });
    add("exportAll", tr("全部导出(&L)..."), canExportAll(), [this] { exportAll(); });
    menu->addSeparator();
    add("replace", tr("替换(&R)..."), entry && replace != nullptr && replace->isEnabled(),
        [replace] { replace->trigger(); });
    add("delete", tr("删除资源(&D)"), canDeleteResource(), [this] { deleteResource(); });
    add("rename", tr("重命名(&M)..."), canMoveResource(), [this] {
        renameResource();
    })->setShortcut(QKeySequence(Qt::Key_F2));
    add("changeLanguage", tr("更改语言(&G)..."), canMoveResource(), [this] { changeResourceLanguage(); });
    add("add", tr("添加资源(&A)..."), canAddResource(), [this] { addResource(); });
    menu->addSeparator();
    add("hex", tr("十六进制查看(&H)"), entry && !shown.empty(), [this, shown] {
        XmlElement* element = tree_->elementOf(tree_->currentItem());
        XmlElement* file = element != nullptr ? element->firstChild() : nullptr;
        paneHost_->ShowFile(context_.document, pathToUtf8(shown), file, ShowMode::kHexFromText);
    });
    add("editExternally", tr("用外部编辑器编辑(&X)"), entry && editor != nullptr && editor->isEnabled(),
        [editor] { editor->click(); });
    // The resource's name or ID without the language.
    QString name = item != nullptr ? item->text(0) : QString();
    if (item != nullptr && item->parent() != nullptr && name.endsWith(QLatin1Char(')'))) {
        const qsizetype open = name.indexOf(QStringLiteral(" ("));
        if (open > 0) name.truncate(open);
    }
    add("copyName", tr("复制名称(&C)"), item != nullptr,
        [name] { QApplication::clipboard()->setText(name); });
    return menu;
}

}  // namespace kestrel::ui
