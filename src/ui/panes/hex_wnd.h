// The hex pane: shows any file of the working folder in the hex editor control, below a toolbar
// that opens it in an external hex editor, replaces it with another file and switches to the text
// or image view. It reloads the file when another program changes it and writes the edited bytes
// back (atomically) when the pane host commits.
#pragma once

#include <QWidget>
#include <filesystem>

#include "ui/panes/file_pane.h"
#include "ui/panes/file_pane_window.h"
#include "ui/panes/pane.h"

class QAction;

namespace kestrel::ui {

class HexEdit;

class HexWnd : public FilePaneWindow<QWidget> {
    Q_OBJECT

  public:
    HexWnd(PaneHost* host, PaneServices services, QWidget* parent = nullptr);
    ~HexWnd() override;

    // Shows a file: remembers it with its File element, document and mode (hex from text, or from
    // the image view), starts watching it and loads it. A file that cannot be read shows the error
    // dialog and leaves the control empty; the file is never created.
    void ShowHexFile(const std::filesystem::path& path, XmlElement* fileElement, CKsDoc* document,
                     ShowMode mode);
    // Writes the edited bytes to the file. Failures are recorded.
    HResult Commit();
    bool isModified() const;
    // Discards the edits: shows the file again as it is on disk.
    void Reload();
    // Replaces the shown file by `chosen` (see ReplacePaneFile) and shows the result.
    void ReplaceWith(const std::filesystem::path& chosen) override;

    ShowMode mode() const { return mode_; }
    HexEdit* hexEdit() const { return hex_; }
    QAction* replaceAction() const { return replaceAction_; }
    QAction* switchAction() const { return switchAction_; }

  protected:
    void layOutContent(const QRect& area) override;

  private:
    void buildToolBar();
    void switchView();

    ShowMode mode_ = ShowMode::kTreeSelection;

    HexEdit* hex_ = nullptr;
    QAction* replaceAction_ = nullptr;
    QAction* switchAction_ = nullptr;
};

// The hex pane object the host keeps.
class HexPane : public FilePane<HexWnd> {
  public:
    using FilePane::FilePane;
    QWidget* createWidget(QWidget* parent) override;
    void showFile(const PaneRequest& request) override;
    bool canEdit(EditCommand command) const override;
    void edit(EditCommand command) override;
};

PaneFactory makeHexPaneFactory(const PaneServices& services);

}  // namespace kestrel::ui
