#include "ui/panes/file_pane_window.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "ui/panes/pane_host.h"

namespace kestrel::ui {

template <typename WidgetBase>
FilePaneWindow<WidgetBase>::FilePaneWindow(PaneHost* host, PaneServices services, QWidget* parent)
    : WidgetBase(parent), host_(host), services_(std::move(services)) {}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::ReplaceWith(const std::filesystem::path&) {}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::showFileOf(const std::filesystem::path& path, XmlElement* fileElement,
                                            CKsDoc* document) {
    path_ = path;
    fileElement_ = fileElement;
    document_ = document;
    watch_.watch(path_);
}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::addEditorButton(int optionsPage, EditorKind kind) {
    editButton_ = ui::addEditorButton(
        toolBar_, services_, optionsPage,
        [this, kind](const EditorCommand* editor) { launchPaneEditor(services_, kind, path_, editor); });
}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::chooseReplacement(const QString& title, const QString& filter) {
    if (path_.empty()) return;
    const std::filesystem::path chosen = choosePaneReplacement(services_, this, path_, title, filter);
    if (!chosen.empty()) ReplaceWith(chosen);
}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::showAs(ShowMode mode) {
    requestShow(host_, document_, fileElement_, path_, mode);
}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::notifyCommandsChanged() {
    if (host_ != nullptr) host_->notifyCommandsChanged();
}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::layOutPane() {
    toolBar_->setGeometry(0, 1, this->width(), kPaneToolBarHeight);
    layOutContent(QRect(0, kPaneContentTop, this->width(), std::max(0, this->height() - kPaneContentTop)));
}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::resizeEvent(QResizeEvent* event) {
    WidgetBase::resizeEvent(event);
    layOutPane();
}

template <typename WidgetBase>
void FilePaneWindow<WidgetBase>::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintPaneFrame(painter, *this);
}

template class FilePaneWindow<QWidget>;
template class FilePaneWindow<CDragWnd>;

}  // namespace kestrel::ui
