// The dialog and menu panes: a template file of the working folder drawn the way the PE file would
// show it, below a toolbar with "查看 Hex". Strings, icons and bitmaps the template refers to come
// from the project's original PE file (the module), which stays loaded while the panes show
// templates of the same file.
#pragma once

#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/platform/byte_reader.h"
#include "ui/pane.h"
#include "ui/resource_module.h"

class QAction;
class QScrollArea;
class QToolBar;

namespace kestrel {
class CKsDoc;
class XmlElement;
}  // namespace kestrel

namespace kestrel::ui {

class PaneHost;

class PreviewWnd : public QWidget {
    Q_OBJECT

  public:
    PreviewWnd(PaneHost* host, ResourceModule& module, QWidget* parent = nullptr);

    // Reads the template file and the module, and builds the preview. A file that cannot be read
    // shows the error dialog; a template that cannot be decoded shows nothing.
    void ShowTemplate(const PaneRequest& request);

    // The preview built last (null when nothing is shown).
    QWidget* preview() const { return preview_; }
    QToolBar* toolBar() const { return toolBar_; }
    QAction* hexAction() const { return hexAction_; }
    const std::filesystem::path& path() const { return path_; }

  protected:
    // Makes the preview widget of a template; null when the template cannot be shown.
    virtual QWidget* buildPreview(Bytes data, const ResourceModule& module) = 0;
    // The language of the shown resource, as the description names it; 0 when it does not.
    std::uint16_t language() const;

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    PaneHost* host_ = nullptr;
    ResourceModule& module_;
    std::filesystem::path path_;
    XmlElement* fileElement_ = nullptr;
    CKsDoc* document_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QAction* hexAction_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* preview_ = nullptr;
};

class DialogWnd : public PreviewWnd {
    Q_OBJECT

  public:
    using PreviewWnd::PreviewWnd;

  protected:
    QWidget* buildPreview(Bytes data, const ResourceModule& module) override;
};

class MenuWnd : public PreviewWnd {
    Q_OBJECT

  public:
    using PreviewWnd::PreviewWnd;

  protected:
    QWidget* buildPreview(Bytes data, const ResourceModule& module) override;
};

// The pane object of a preview pane; it keeps the module while its window comes and goes with the
// template files of one PE file, and drops it when the window is destroyed.
template <typename Window>
class PreviewPane : public Pane {
  public:
    explicit PreviewPane(PaneHost& host) : host_(host) {}
    QWidget* createWidget(QWidget* parent) override {
        // The parent (the host) owns the window; widgetDestroyed() forgets it before Qt deletes it.
        window_ = new Window(&host_, module_, parent);
        return window_;
    }
    void showFile(const PaneRequest& request) override {
        if (window_ != nullptr) window_->ShowTemplate(request);
    }
    void widgetDestroyed() override {
        window_ = nullptr;
        module_.unload();
    }
    Window* window() const { return window_; }
    const ResourceModule& module() const { return module_; }

  private:
    PaneHost& host_;
    ResourceModule module_;
    Window* window_ = nullptr;
};

using DialogPane = PreviewPane<DialogWnd>;
using MenuPane = PreviewPane<MenuWnd>;

PaneFactory makeDialogPaneFactory();
PaneFactory makeMenuPaneFactory();

}  // namespace kestrel::ui
