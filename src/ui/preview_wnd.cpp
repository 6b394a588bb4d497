#include "ui/preview_wnd.h"

#include <QAction>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QToolBar>

#include "app/ks_doc.h"
#include "core/errors/errors.h"
#include "core/pe/description_edit.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "ui/dialog_preview.h"
#include "ui/file_pane.h"
#include "ui/menu_preview.h"
#include "ui/pane_host.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "PreviewWnd";
constexpr std::string_view kOpenFailed =
    QT_TRANSLATE_NOOP("kestrel::ui::PreviewWnd", "未能打开文件： \r\n\r\n'%s'");

}  // namespace

PreviewWnd::PreviewWnd(PaneHost* host, ResourceModule& module, QWidget* parent)
    : QWidget(parent), host_(host), module_(module) {
    toolBar_ = makePaneToolBar(this);
    hexAction_ = new QAction(tr("查看 Hex"), this);
    connect(hexAction_, &QAction::triggered, this,
            [this] { requestShow(host_, document_, fileElement_, path_, ShowMode::kHexFromImage); });
    toolBar_->addAction(hexAction_);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->viewport()->setAutoFillBackground(false);
}

void PreviewWnd::ShowTemplate(const PaneRequest& request) {
    path_ = request.path;
    fileElement_ = request.fileElement;
    document_ = request.document;
    delete scroll_->takeWidget();
    preview_ = nullptr;

    std::vector<std::byte> bytes;
    if (HResult hr = ReadWholeFile(path_, bytes); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::PreviewWnd", kOpenFailed),
                      {pathToUtf8(path_)});
        ShowErrorDialog();
        return;
    }
    // Without the module the preview still shows; what it would take from it is left out.
    module_.load(request.resourceFile);
    preview_ = buildPreview(bytes, module_);
    if (preview_ != nullptr) {
        preview_->setAutoFillBackground(false);
        scroll_->setWidget(preview_);
    }
}

void PreviewWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    toolBar_->setGeometry(0, 1, width(), kPaneToolBarHeight);
    scroll_->setGeometry(0, kPaneContentTop, width(), std::max(0, height() - kPaneContentTop));
}

void PreviewWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintPaneFrame(painter, *this);
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
