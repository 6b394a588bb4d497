// A pane that lets the user drag what it shows out to other programs and takes files dropped on it.
// Pressing the left button on a draggable item and moving the pointer out of a small square around
// the press point starts a drag that offers the item's file (text/uri-list, copy) together with its
// picture. A single local file dropped on the pane is handed to the pane.
#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <optional>

class QDrag;
class QMimeData;

namespace kestrel::ui {

// What a drag offers: the item's file and its picture.
struct DragPayload {
    std::filesystem::path file;
    QString name;    // the item's short name (the file name without folder and extension)
    QImage picture;  // shown under the pointer while dragging, and offered as image data
    QPoint hotSpot;  // where the pointer holds the picture
};

// The data of a drag: the file as text/uri-list and the picture as image data (when there is one).
std::unique_ptr<QMimeData> makeDragMimeData(const DragPayload& payload);

// The one local file a drop offers; nullopt when it offers none, several, or anything but files.
std::optional<std::filesystem::path> droppedLocalFile(const QMimeData* data);

class CDragWnd : public QWidget {
    Q_OBJECT

  public:
    // The drag starts once the pointer leaves the square p − kDragSlop … p + kDragSlop around the
    // press point p, so a movement of less than 4 pixels is still a click. Qt's own start distance
    // is larger, so detection is done here.
    static constexpr int kDragSlop = 3;

    explicit CDragWnd(QWidget* parent = nullptr);

    // True between a press on an item and the end of drag detection.
    bool isDetectingDrag() const { return detecting_; }

  protected:
    // The item under `point`, 0 when nothing draggable is there; `origin` receives the item's
    // top-left corner.
    virtual int hitTest(QPoint point, QPoint& origin) const;
    // What the drag of `item` offers; false refuses the drag. `offset` is the press point relative
    // to the item's corner, the hot spot unless the pane sets another.
    virtual bool dragPayload(int item, QPoint offset, DragPayload& payload) const;
    // Called before the payload is asked for; a negative answer refuses the drag.
    virtual int prepareDrag(int item);
    // Runs the drag loop (QDrag::exec, which blocks until the drop). Tests replace it.
    virtual Qt::DropAction execDrag(QDrag& drag);
    // A local file was dropped on the pane.
    virtual void fileDropped(const std::filesystem::path& file);

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void cancelDetection();
    void startDrag();

    bool detecting_ = false;
    int pressedItem_ = 0;
    QPoint pressPoint_;
    QPoint itemOrigin_;
};

}  // namespace kestrel::ui
