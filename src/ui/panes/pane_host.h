// The pane host: chooses the pane for a selected entry, shows it over its whole area, routes the
// edit commands to it and makes it write its edits back before anything else is shown.
#pragma once

#include <QWidget>
#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "ui/panes/pane.h"

namespace kestrel {
class CKsDoc;
class XmlDocument;
class XmlElement;
}  // namespace kestrel

namespace kestrel::ui {

struct PaneChoice {
    PaneKind kind = PaneKind::kNone;
    ShowMode hexMode = ShowMode::kTreeSelection;
    bool usePngFile = false;  // the bitmap is stored as PNG: show <name>.PNG
};

// The choice of pane for a file: by mode, then by resource type, then by extension.
PaneChoice choosePane(ShowMode mode, int resourceType, std::string_view fileName, bool pngFlag);

// The resource type of a File element: the Type attribute of its fourth ancestor, the Directory
// that lists the resources of one type; 0 when the element is not that deep or has no Type.
int resourceTypeOf(XmlDocument& description, XmlElement* fileElement);

class PaneHost : public QWidget {
    Q_OBJECT

  public:
    explicit PaneHost(QWidget* parent = nullptr);
    ~PaneHost() override;

    // The tree's selection callback: commits, then shows the entry's file or closes the pane.
    // False when the active pane could not store its edits and stays (the error has been shown).
    bool Select(CKsDoc* document, XmlElement* element);
    // `nameOrPath` is the File element's Name for mode 0 (relative to pe.xml's folder), else a full
    // path.
    void ShowFile(CKsDoc* document, std::string_view nameOrPath, XmlElement* fileElement, ShowMode mode);
    // The active pane writes its edits to its file, when it has any. False when that failed; the
    // error dialog has been shown then, and the pane keeps its edits.
    [[nodiscard]] bool CommitPane();
    void ClosePane();

    // True while the active pane holds edits that are not in its file yet.
    bool hasPendingEdits() const { return active_ != nullptr && active_->isModified(); }

    // Panes call this when their edit commands changed state.
    void notifyCommandsChanged() { emit commandsChanged(); }

    bool canEdit(EditCommand command) const;
    void edit(EditCommand command);

    PaneKind kind() const { return kind_; }
    Pane* activePane() const { return active_; }
    QWidget* activeWidget() const { return activeWidget_; }
    Pane* paneObject(PaneType type) const { return panes_[static_cast<std::size_t>(type)].get(); }
    const std::filesystem::path& currentPath() const { return currentPath_; }

  signals:
    // The path of the shown file (empty when none), for the status bar.
    void statusMessage(const QString& text);
    // The active pane's edit commands changed state (a selection, an edit, the undo history).
    void commandsChanged();
    // The active pane wrote its edits to its file.
    void editsStored();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    Pane& pane(PaneType type);
    void show(const PaneRequest& request);

    std::array<std::unique_ptr<Pane>, kPaneTypeCount> panes_;
    Pane* active_ = nullptr;
    QWidget* activeWidget_ = nullptr;
    PaneKind kind_ = PaneKind::kNone;
    std::filesystem::path currentPath_;
};

}  // namespace kestrel::ui
