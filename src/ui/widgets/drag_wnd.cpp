#include "ui/widgets/drag_wnd.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QUrl>
#include <cstdlib>

#include "core/platform/paths.h"

namespace kestrel::ui {

std::unique_ptr<QMimeData> makeDragMimeData(const DragPayload& payload) {
    auto data = std::make_unique<QMimeData>();
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(pathToUtf8(payload.file)))});
    if (!payload.picture.isNull()) data->setImageData(payload.picture);
    return data;
}

std::optional<std::filesystem::path> droppedLocalFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
    const QString file = urls.front().toLocalFile();
    if (file.isEmpty()) return std::nullopt;
    return pathFromUtf8(file.toStdString());
}

CDragWnd::CDragWnd(QWidget* parent) : QWidget(parent) {
    setAcceptDrops(true);
    setFocusPolicy(Qt::ClickFocus);
}

int CDragWnd::hitTest(QPoint, QPoint&) const {
    return 0;
}

bool CDragWnd::dragPayload(int, QPoint, DragPayload&) const {
    return false;
}

int CDragWnd::prepareDrag(int) {
    return 0;
}

Qt::DropAction CDragWnd::execDrag(QDrag& drag) {
    return drag.exec(Qt::CopyAction, Qt::CopyAction);
}

void CDragWnd::fileDropped(const std::filesystem::path&) {}

void CDragWnd::mousePressEvent(QMouseEvent* event) {
    // Any other button, or a second press, ends the detection without a drag.
    if (detecting_) {
        cancelDetection();
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressPoint_ = event->position().toPoint();
    setFocus(Qt::MouseFocusReason);
    QPoint origin;
    const int item = hitTest(pressPoint_, origin);
    if (item == 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    detecting_ = true;
    pressedItem_ = item;
    itemOrigin_ = origin;
    event->accept();
}

void CDragWnd::mouseMoveEvent(QMouseEvent* event) {
    if (!detecting_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    if (!(event->buttons() & Qt::LeftButton)) {
        cancelDetection();
        return;
    }
    const QPoint moved = event->position().toPoint() - pressPoint_;
    if (std::abs(moved.x()) <= kDragSlop && std::abs(moved.y()) <= kDragSlop) return;
    detecting_ = false;
    startDrag();
}

void CDragWnd::mouseReleaseEvent(QMouseEvent* event) {
    // A release inside the square is an ordinary click.
    cancelDetection();
    QWidget::mouseReleaseEvent(event);
}

void CDragWnd::keyPressEvent(QKeyEvent* event) {
    if (detecting_ && event->key() == Qt::Key_Escape) {
        cancelDetection();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CDragWnd::cancelDetection() {
    detecting_ = false;
    pressedItem_ = 0;
}

void CDragWnd::startDrag() {
    const int item = pressedItem_;
    pressedItem_ = 0;
    if (prepareDrag(item) < 0) return;
    DragPayload payload;
    payload.hotSpot = pressPoint_ - itemOrigin_;
    if (!dragPayload(item, pressPoint_ - itemOrigin_, payload)) return;

    // The drag belongs to this widget until it is over; Qt may delete it itself once it ends.
    QPointer<QDrag> drag = new QDrag(this);
    drag->setMimeData(makeDragMimeData(payload).release());
    if (!payload.picture.isNull()) {
        drag->setPixmap(QPixmap::fromImage(payload.picture));
        drag->setHotSpot(payload.hotSpot);
    }
    execDrag(*drag);
    if (drag) drag->deleteLater();
    update();
}

void CDragWnd::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedLocalFile(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CDragWnd::dragMoveEvent(QDragMoveEvent* event) {
    if (!droppedLocalFile(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CDragWnd::dropEvent(QDropEvent* event) {
    const std::optional<std::filesystem::path> file = droppedLocalFile(event->mimeData());
    if (!file) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    fileDropped(*file);
}

}  // namespace kestrel::ui
