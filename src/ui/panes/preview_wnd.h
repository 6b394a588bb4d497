// The dialog and menu panes: a template file of the working folder drawn the way the PE file would
// show it, below a toolbar with "查看 Hex" and "编辑脚本". Strings, icons and bitmaps the template
// refers to come from the project's original PE file (the module), which stays loaded while the
// panes show templates of the same file.
//
// "编辑脚本" shows the template as resource-script text in an editor beside the preview. The preview
// follows the text a moment after the user stops typing; text with a fault leaves the last good
// preview in place and names the fault's line and column in a status line under the editor. The
// host's commit compiles the text and writes the template file (atomically), only when it was edited.
#pragma once

#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/pe/resource_reader.h"
#include "core/platform/byte_reader.h"
#include "ui/panes/pane.h"
#include "ui/panes/resource_module.h"

class QAction;
class QLabel;
class QScrollArea;
class QSplitter;
class QTimer;
class QToolBar;

namespace kestrel {
class CKsDoc;
class XmlElement;
}  // namespace kestrel

namespace kestrel::ui {

class CodeEditor;
class PaneHost;

// How long the preview waits after the last keystroke before it follows the script.
inline constexpr int kScriptPreviewDelayMs = 300;

class PreviewWnd : public QWidget {
    Q_OBJECT

  public:
    PreviewWnd(PaneHost* host, ResourceModule& module, QWidget* parent = nullptr);
    ~PreviewWnd() override;

    // Reads the template file and the module, and builds the preview. A file that cannot be read
    // shows the error dialog; a template that cannot be decoded shows nothing.
    void ShowTemplate(const PaneRequest& request);

    // The preview built last (null when nothing is shown).
    QWidget* preview() const { return preview_; }
    QToolBar* toolBar() const { return toolBar_; }
    QAction* hexAction() const { return hexAction_; }
    QAction* scriptAction() const { return scriptAction_; }
    const std::filesystem::path& path() const { return path_; }

    // Shows or hides the script beside the preview. Hiding it keeps edits that are not written yet
    // (the host still commits them).
    void ShowScript(bool shown);
    bool isScriptShown() const { return scriptShown_; }
    CodeEditor* scriptEditor() const { return editor_; }
    QLabel* scriptStatus() const { return status_; }
    // Compiles the script now and, when it has no fault, rebuilds the preview from it (what the
    // timer does after typing). False when the text has a fault.
    bool followScript();
    // True while the script holds edits that are not in the file yet.
    bool isModified() const;
    // The edit commands reach the script while it is shown and editable.
    bool canEdit(EditCommand command) const;
    void edit(EditCommand command);
    // Compiles the script and writes the template file atomically. A fault in the text or a failed
    // write is recorded (for the error dialog) and the edits stay.
    HResult Commit();

  protected:
    // Makes the preview widget of a template; null when the template cannot be shown.
    virtual QWidget* buildPreview(Bytes data, const ResourceModule& module) = 0;
    // The language of the shown resource, as the description names it; 0 when it does not.
    std::uint16_t language() const;
    // The resource type the template is (dialog or menu).
    virtual ResourceKey scriptType() const = 0;

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void rebuild(Bytes data);
    void loadScript();
    void layOut();

    PaneHost* host_ = nullptr;
    ResourceModule& module_;
    std::filesystem::path path_;
    XmlElement* fileElement_ = nullptr;
    CKsDoc* document_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QAction* hexAction_ = nullptr;
    QAction* scriptAction_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QWidget* scriptPanel_ = nullptr;
    CodeEditor* editor_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* followTimer_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* preview_ = nullptr;
    bool scriptShown_ = false;
    bool scriptLoaded_ = false;  // the editor holds the shown file's script
    bool placeScript_ = false;   // the split is set at the next layout
};

class DialogWnd : public PreviewWnd {
    Q_OBJECT

  public:
    using PreviewWnd::PreviewWnd;

  protected:
    QWidget* buildPreview(Bytes data, const ResourceModule& module) override;
    ResourceKey scriptType() const override;
};

class MenuWnd : public PreviewWnd {
    Q_OBJECT

  public:
    using PreviewWnd::PreviewWnd;

  protected:
    QWidget* buildPreview(Bytes data, const ResourceModule& module) override;
    ResourceKey scriptType() const override;
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
    bool isModified() const override { return window_ != nullptr && window_->isModified(); }
    HResult commit() override { return window_ != nullptr ? window_->Commit() : kOk; }
    bool canEdit(EditCommand command) const override {
        return window_ != nullptr && window_->canEdit(command);
    }
    void edit(EditCommand command) override {
        if (window_ != nullptr) window_->edit(command);
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
