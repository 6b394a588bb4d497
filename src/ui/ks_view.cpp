#include "ui/ks_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTreeWidgetItemIterator>
#include <algorithm>

#include "app/ks_app.h"
#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/pe/compile_file.h"
#include "core/pe/decompile_file.h"
#include "core/pe/description_edit.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "ui/import_dlg.h"
#include "ui/pane_host.h"
#include "ui/qt_ui_sink.h"
#include "ui/resource_tree.h"
#include "ui/ui_text.h"
#include "ui/url_opener.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "KsView";
constexpr const char* kContext = "kestrel::ui::CKsView";
constexpr std::string_view kCannotCreate = QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "未能建立文件 %s");
constexpr std::string_view kLanguageCopied = QT_TRANSLATE_NOOP(
    "kestrel::ui::CKsView", "已复制 %d 个资源、%d 个字串块（%d 个字串）；%d 个位图保留原来的语言。");
constexpr std::string_view kImportDone =
    QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "顺利插入。\r\n\r\n你想要现在就打开这个文件吗？");
constexpr std::string_view kAskDelete =
    QT_TRANSLATE_NOOP("kestrel::ui::CKsView", "要从描述中删除资源 %s 吗？\r\n\r\n文件留在磁盘上。");
constexpr std::uint16_t kStringTableType = 6;
constexpr std::uint16_t kUsEnglish = 1033;

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
    emit commandsChanged();
    // What the import has to say goes to the status bar, once.
    if (context_.document != nullptr) {
        const std::string notice = context_.document->takeImportNotice();
        if (!notice.empty()) emit statusMessage(QString::fromStdString(notice));
    }
}

void CKsView::ClearView() {
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
    return resource && (resource->type.isName || resource->type.id != kStringTableType);
}

std::uint16_t CKsView::proposedLanguage() const {
    const XmlDocument& description = context_.document->description();
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        if (std::optional<DescribedResource> resource =
                DescribeResourceEntry(description, tree_->elementOf(*it)))
            return resource->language;
    }
    return kUsEnglish;
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
    XmlElement* added = nullptr;
    HResult hr;
    {
        BusyCursor busy;
        hr = AddResource(document->description(), document->descriptionPath().parent_path(), request->type,
                         request->name, request->language, request->file, added);
    }
    if (hr.failed()) {
        ShowErrorDialog();
        paneHost_->Select(document, selected);
        return;
    }
    rebuildAfterEdit(added);
}

void CKsView::addLanguage() {
    if (!canAddResource()) return;
    CKsDoc* document = context_.document;
    const std::vector<std::uint16_t> present = ListResourceLanguages(document->description());
    if (present.empty()) return;
    // Translations usually start from U.S. English.
    const bool english = std::find(present.begin(), present.end(), kUsEnglish) != present.end();
    const std::uint16_t proposed = english ? kUsEnglish : proposedLanguage();
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
    LanguageCopy copy;
    HResult hr;
    {
        BusyCursor busy;
        hr = AddLanguage(document->description(), document->descriptionPath().parent_path(), request->source,
                         request->target, copy);
    }
    if (hr.failed()) {
        ShowErrorDialog();
        paneHost_->Select(document, selected);
        return;
    }
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
    if (DeleteResource(document->description(), document->descriptionPath().parent_path(), entry).failed()) {
        ShowErrorDialog();
        paneHost_->Select(document, entry);
        return;
    }
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

void CKsView::descriptionEdited(XmlElement* select) {
    QMetaObject::invokeMethod(
        this,
        [this, select] {
            if (context_.document != nullptr && context_.document->isOpen() && tree_->isConnected())
                rebuildAfterEdit(select);
        },
        Qt::QueuedConnection);
}

}  // namespace kestrel::ui
