// What the panes that show one file of the working folder (image, hex, text) have in common: the
// application services they reach, the toolbar with its "编辑" drop-down of external editors, the
// painted band under the toolbar, the two-second file watch, replacing the shown file by another
// one (asking the questions the replacement plan names), and the undo steps of the panes' edits.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "app/editors.h"
#include "core/platform/status.h"
#include "ui/panes/pane.h"

class QPainter;
class QToolBar;
class QToolButton;
class QWidget;

namespace kestrel {
class CKsDoc;
class SettingsStore;
class XmlElement;
}  // namespace kestrel

namespace kestrel::ui {

class PaneHost;

// What a file pane needs of the application. Each pane gets its own copy with its editor list.
struct PaneServices {
    // Settings of the panes (the image pane's ScaleToFit, the insert mode); none: the defaults.
    SettingsStore* settings = nullptr;
    // The configured editors of the pane's kind (none when null).
    const EditorList* editors = nullptr;
    // Opens a file in an editor (null: the list's first); empty: LaunchEditor on the list.
    std::function<HResult(const std::filesystem::path& file, const EditorCommand* editor)> launchEditor;
    // Opens the options dialog on a page; empty: the command does nothing.
    std::function<void(int page)> openOptions;
    // Asks for the replacement file, starting at `current`; empty: the open-file dialog.
    std::function<std::filesystem::path(const std::filesystem::path& current)> chooseReplacement;
    // Told after the pane changed the description in a way the tree shows (a group replaced from
    // an icon file), with the element to select again. Empty: nothing is told.
    std::function<void(XmlElement* select)> descriptionEdited;
};

// The options pages of the editor lists.
inline constexpr int kImageEditorsPage = 0;
inline constexpr int kTextEditorsPage = 1;
inline constexpr int kHexEditorsPage = 2;

// Geometry shared by the file panes: the toolbar on top, then a light line, a dark line, and the
// pane's content from kPaneContentTop down.
inline constexpr int kPaneToolBarHeight = 30;
inline constexpr int kPaneShadowLineY = 31;
inline constexpr int kPaneDarkLineY = 32;
inline constexpr int kPaneContentTop = 33;
inline constexpr int kFileWatchIntervalMs = 2000;

// A flat text-only toolbar across the top of `owner`.
QToolBar* makePaneToolBar(QWidget* owner);
// Adds the "编辑" button: a click opens the file in the default editor, its drop-down lists the
// configured editors and "定制编辑器 ..." (the options dialog on `optionsPage`).
QToolButton* addEditorButton(QToolBar* bar, const PaneServices& services, int optionsPage,
                             const std::function<void(const EditorCommand*)>& launch);
// Opens `file` in an editor of `kind` through the services; a failure shows the error dialog.
void launchPaneEditor(const PaneServices& services, EditorKind kind, const std::filesystem::path& file,
                      const EditorCommand* editor);
// Asks for a replacement file (through the services when they can).
std::filesystem::path choosePaneReplacement(const PaneServices& services, QWidget* owner,
                                            const std::filesystem::path& current, const QString& title,
                                            const QString& filter);
// The raised edge along the top and the two lines under the toolbar; the toolbar's band is filled.
void paintPaneFrame(QPainter& painter, const QWidget& pane);

// Polls a file's modification time every two seconds and tells when it became later than the
// time of the last (re)load (editors that save by rename defeat change notification).
class FileWatch : public QObject {
    Q_OBJECT

  public:
    explicit FileWatch(QObject* parent = nullptr);
    // Starts watching `path`, taking its current time as the loaded one.
    void watch(const std::filesystem::path& path);
    void stop();
    // Takes the file's current time as the loaded one (after the pane wrote the file itself).
    void markCurrent();
    // One poll, as the timer does it.
    void check();

  signals:
    void changed();

  private:
    QTimer timer_;
    std::filesystem::path path_;
    std::int64_t time_ = 0;
};

// Asks `host` to show `path` in `mode` once the current event is handled: the host deletes the pane
// that asks (from one of its toolbar's signals) when another pane takes its place.
void requestShow(PaneHost* host, CKsDoc* document, XmlElement* fileElement, const std::filesystem::path& path,
                 ShowMode mode);

// Undo steps of the project's edits: begun before an edit that writes `touched` (files it creates
// are found without being named), with the resource of `selection` (a language Entry or an
// element under one) to select when it is undone; finished after the edit, with the resource to
// select when it is redone. Nothing happens without a project. A failure to take the snapshot is
// shown, and the edit goes on without a step.
void beginProjectEdit(CKsDoc* document, const std::vector<std::filesystem::path>& touched,
                      const XmlElement* selection);
void finishProjectEdit(CKsDoc* document, const XmlElement* selection);

// The project's working folder: where its pe.xml lies, else the shown file's folder.
std::filesystem::path workingFolderOf(const CKsDoc* document, const std::filesystem::path& shown);

// Replaces the shown file `current` by `chosen` as PlanFileReplacement plans it (the project's
// rules live there), asking the plan's questions in message boxes, as one undo step. Returns kOk
// with `shown` set to the file to show now, kFalse when nothing changed (same file, or a question
// answered No), or the failure (recorded for the error dialog).
HResult ReplacePaneFile(CKsDoc* document, XmlElement* fileElement, const std::filesystem::path& current,
                        const std::filesystem::path& chosen, std::filesystem::path& shown);

// The pane object of a file pane: creates the pane's window and passes the host's calls on to it.
// `Window` has isModified() and Commit().
template <typename Window>
class FilePane : public Pane {
  public:
    FilePane(PaneHost& host, PaneServices services) : host_(host), services_(std::move(services)) {}
    void widgetDestroyed() override { window_ = nullptr; }
    bool isModified() const override { return window_ != nullptr && window_->isModified(); }
    HResult commit() override { return window_ != nullptr ? window_->Commit() : kOk; }
    Window* window() const { return window_; }

  protected:
    PaneHost& host_;
    PaneServices services_;
    Window* window_ = nullptr;
};

}  // namespace kestrel::ui
