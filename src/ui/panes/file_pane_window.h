// The window of a pane that shows one file of the working folder (hex, text, version, image): the
// shown file with its File element and document, the two-second watch on it, the toolbar with its
// optional "编辑" button, and the frame — the toolbar across the top, the painted band under it and
// the content below. The base is a template over the widget the pane derives from, so that a pane
// that takes drags (the image pane) shares it with the plain ones.
#pragma once

#include <QRect>
#include <QWidget>
#include <filesystem>

#include "app/editors.h"
#include "ui/panes/file_pane.h"
#include "ui/panes/pane.h"
#include "ui/widgets/drag_wnd.h"

class QPaintEvent;
class QResizeEvent;

namespace kestrel::ui {

template <typename WidgetBase>
class FilePaneWindow : public WidgetBase {
  public:
    const std::filesystem::path& path() const { return path_; }
    QToolBar* toolBar() const { return toolBar_; }
    // The "编辑" button; null in a pane without external editors.
    QToolButton* editButton() const { return editButton_; }

    // Replaces the shown file by `chosen`; panes that take replacements override it.
    virtual void ReplaceWith(const std::filesystem::path& chosen);

  protected:
    // The derived window makes the toolbar (makePaneToolBar) where the order of its children wants
    // it: that order is the order of keyboard focus.
    FilePaneWindow(PaneHost* host, PaneServices services, QWidget* parent);

    // Remembers the shown file with its File element and document and starts watching it.
    void showFileOf(const std::filesystem::path& path, XmlElement* fileElement, CKsDoc* document);
    // Adds the "编辑" button to the toolbar: it opens the shown file in an editor of `kind`, and its
    // "定制编辑器 ..." opens the options on `optionsPage`.
    void addEditorButton(int optionsPage, EditorKind kind);
    // Asks for a replacement file and hands it to ReplaceWith; nothing without a shown file.
    void chooseReplacement(const QString& title, const QString& filter);
    // Asks the host to show the same file in `mode` (another pane).
    void showAs(ShowMode mode);
    // Tells the host that the edit commands may have changed.
    void notifyCommandsChanged();

    // Places the toolbar and then the content in the area under the band.
    void layOutPane();
    virtual void layOutContent(const QRect& area) = 0;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    PaneHost* host_ = nullptr;
    PaneServices services_;
    std::filesystem::path path_;
    XmlElement* fileElement_ = nullptr;
    CKsDoc* document_ = nullptr;
    FileWatch watch_;
    QToolBar* toolBar_ = nullptr;
    QToolButton* editButton_ = nullptr;
};

extern template class FilePaneWindow<QWidget>;
extern template class FilePaneWindow<CDragWnd>;

}  // namespace kestrel::ui
