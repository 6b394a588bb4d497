#include "ui/ks_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

#include "app/ks_app.h"
#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/pe/project_files.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "ui/import_dlg.h"
#include "ui/pane_host.h"
#include "ui/qt_ui_sink.h"
#include "ui/resource_tree.h"
#include "ui/url_opener.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "KsView";
constexpr std::string_view kCannotCreate = "未能建立文件 %s";
constexpr std::string_view kImportDone = "顺利插入。\r\n\r\n你想要现在就打开这个文件吗？";

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
        (void)ReportError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, kCannotCreate, {pathToUtf8(document.descriptionPath())});
    }
    return hr;
}

CKsView::CKsView(ViewContext context, QWidget* parent) : QWidget(parent), context_(std::move(context)) {
    bar_ = new SplitterBar(this);
    tree_ = new ResourceTree(this);
    paneHost_ = new PaneHost(this);
    connect(bar_, &SplitterBar::moved, this, &CKsView::setSplitterPosition);
    connect(paneHost_, &PaneHost::statusMessage, this, &CKsView::statusMessage);
    setMinimumSize(kMarginLeft + kMarginRight + SplitterBar::kWidth, kMarginTop + kMarginBottom);
}

CKsView::~CKsView() {
    if (context_.settings != nullptr && initialUpdateDone_) {
        (void)context_.settings->SetIntSetting("Layout", "SplitterX", splitterX_);
    }
}

void CKsView::connectTree() {
    tree_->setSelectionCallback(
        [this](CKsDoc* document, XmlElement* element) { paneHost_->Select(document, element); });
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
}

void CKsView::ClearView() {
    tree_->disconnectCallback();
    tree_->clearItems();
    paneHost_->Select(nullptr, nullptr);
}

void CKsView::CommitPane() {
    if (tree_->isConnected()) paneHost_->Select(tree_->document(), nullptr);
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
    paneHost_->CommitPane();
    // The compile reads pe.xml from the disk: what is in memory (a replaced file's new name, say)
    // goes there first. The tree stays loaded, so the view is not rebuilt.
    if (WriteDescription(*document).failed()) {
        ShowErrorDialog();
        return;
    }
    if (CompileFile(std::nullopt, document->resourceFilePath(), document->descriptionPath(), true).failed()) {
        ShowErrorDialog();
    }
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
    std::filesystem::path projectPath;
    HResult hr;
    {
        BusyCursor busy;
        hr = DecompileProject(pathFromUtf8(file), pathFromUtf8(folder), projectPath);
    }
    if (hr.failed()) {
        ShowErrorDialog();
        return;
    }
    if (uiSink().ask(kImportDone, kAppName, Buttons::kYesNo, 0, MessageIcon::kQuestion) != Answer::kYes)
        return;
    if (context_.documents != nullptr) context_.documents->openDocument(projectPath);
}

void CKsView::openOptions(int page) {
    if (page < 0 || page >= 3) page = 0;
    if (optionsOpener_) optionsOpener_(page);
}

void CKsView::openWebSite() {
    (void)openEncodedUrl(kWebSiteLink);
}

bool CKsView::canEdit(EditCommand command) const {
    return paneHost_->canEdit(command);
}

void CKsView::edit(EditCommand command) {
    paneHost_->edit(command);
}

}  // namespace kestrel::ui
