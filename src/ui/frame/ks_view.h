// The view of the project document: the resource tree on the left, the pane host on the right and
// a splitter bar between them, inside a shallow sunken margin. It carries the project commands
// (compile, import, options, web site) and routes the edit commands to the pane host.
#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/ks_doc.h"
#include "ui/dialogs/add_language_dlg.h"
#include "ui/dialogs/add_resource_dlg.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/pane.h"

namespace kestrel {
class DocumentCommands;
class SettingsStore;
}  // namespace kestrel

class QMenu;

namespace kestrel::ui {

class PaneHost;

// The bar between the tree and the pane host; reports the new left edge while dragged.
class SplitterBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 7;
    explicit SplitterBar(QWidget* parent = nullptr);

  signals:
    void moved(int x);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    int grabOffset_ = -1;
};

struct ViewContext {
    CKsDoc* document = nullptr;
    SettingsStore* settings = nullptr;
    std::filesystem::path dataFolder;
    DocumentCommands* documents = nullptr;  // opens the project of a successful import
};

class CKsView : public QWidget, public DocumentView {
    Q_OBJECT

  public:
    static constexpr int kDefaultSplitterX = 250;
    // Margins around the tree and the pane host: left, top, right, bottom.
    static constexpr int kMarginLeft = 2, kMarginTop = 5, kMarginRight = 3, kMarginBottom = 5;

    explicit CKsView(ViewContext context, QWidget* parent = nullptr);
    ~CKsView() override;

    // DocumentView
    void ClearView() override;
    [[nodiscard]] bool CommitPane() override;
    [[nodiscard]] bool StorePaneEdits() override;
    // Closes the active pane without writing its edits (the user chose to drop them).
    void DiscardPane();
    void OnInitialUpdate() override;

    // Commands.
    void compile();
    void importFile();
    void openOptions(int page);
    void openWebSite();
    bool canEdit(EditCommand command) const;
    void edit(EditCommand command);
    // Add Resource: asks what to add, adds it to the description, writes pe.xml and selects the new
    // item. Delete Resource: the selected resource language, after a question.
    bool canAddResource() const;
    void addResource();
    bool canDeleteResource() const;
    void deleteResource();
    // Add Language: asks which language to copy to which new one, copies every resource of it,
    // writes pe.xml and selects the first copy.
    void addLanguage();
    // Rename (F2): gives the selected resource another name or ID. Change Language: moves it to
    // another language. Both are refused with a message when the new place is taken.
    bool canMoveResource() const;
    void renameResource();
    void changeResourceLanguage();
    // Replaces the dialog of Rename and Change Language (tests): gets whether a language is asked
    // for and the present text, returns the text typed.
    using MoveChooser = std::function<std::optional<QString>(bool language, const QString& current)>;
    void setMoveChooser(MoveChooser chooser) { moveChooser_ = std::move(chooser); }
    // Undo and redo of the project's edits (delete, add, replace, recolour, ...): the files and
    // the description go back to how the step found them, the tree is filled again and the
    // resource of the step is selected. The pane commits its own edits first.
    bool canUndoProject() const;
    bool canRedoProject() const;
    void undoProject();
    void redoProject();
    // After the description was edited elsewhere (a pane): writes pe.xml and rebuilds the tree,
    // selecting `select` when it is still there. Runs from the event loop, since the pane that asks
    // may be closed by the new selection.
    void descriptionEdited(XmlElement* select);

    // Export: the selected resource language to a file the user names (icon and cursor groups as
    // .ico/.cur files with their images), or every resource of the selected type (of the whole file
    // when no type is selected) into a folder the user picks. The files are made from the working
    // folder as it is now, pane edits included.
    bool canExportResource() const;
    void exportResource();
    bool canExportAll() const;
    void exportAll();
    // Replaces the save dialog of Export (tests): gets the proposed file name, returns the path.
    using ExportChooser = std::function<std::optional<std::filesystem::path>(const std::string& proposed)>;
    void setExportChooser(ExportChooser chooser) { exportChooser_ = std::move(chooser); }
    // Replaces the folder dialog of Export all (tests).
    using ExportFolderChooser = std::function<std::optional<std::filesystem::path>()>;
    void setExportFolderChooser(ExportFolderChooser chooser) { exportFolderChooser_ = std::move(chooser); }
    // The tree's context menu for the current item, its actions named export, exportAll, replace,
    // delete, add, hex, editExternally and copyName (disabled where they do not apply).
    QMenu* makeContextMenu(QWidget* parent);

    // Sets where the options dialog comes from (it is built elsewhere); without one the command
    // does nothing.
    void setOptionsOpener(std::function<void(int page)> opener) { optionsOpener_ = std::move(opener); }
    // Replaces the import dialog (tests): returns the chosen file and folder, or false.
    using ImportChooser = std::function<bool(std::string& file, std::string& folder)>;
    void setImportChooser(ImportChooser chooser) { importChooser_ = std::move(chooser); }
    // Replaces the Add Resource dialog (tests): gets the proposed language, returns what to add.
    using AddResourceChooser = std::function<std::optional<AddResourceRequest>(std::uint16_t language)>;
    void setAddResourceChooser(AddResourceChooser chooser) { addChooser_ = std::move(chooser); }
    // Replaces the Add Language dialog (tests): gets the languages present and the proposed source.
    using AddLanguageChooser = std::function<std::optional<AddLanguageRequest>(
        const std::vector<std::uint16_t>& present, std::uint16_t)>;
    void setAddLanguageChooser(AddLanguageChooser chooser) { languageChooser_ = std::move(chooser); }

    int splitterPosition() const { return splitterX_; }
    void setSplitterPosition(int x);
    ResourceTree* tree() const { return tree_; }
    PaneHost* paneHost() const { return paneHost_; }
    SplitterBar* splitterBar() const { return bar_; }

  signals:
    void statusMessage(const QString& text);
    // The selection or the description changed: the resource commands may have changed state.
    void commandsChanged();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void layoutChildren();
    void connectTree();
    // The language of the first resource in the tree, else U.S. English.
    std::uint16_t proposedLanguage() const;
    // Writes pe.xml, rebuilds the tree and selects the item of `element` (none when null or gone).
    void rebuildAfterEdit(XmlElement* element);
    bool selectElement(XmlElement* element);
    void travelHistory(bool forward);
    // Asks for the new name (or language) of the selected resource and moves it there.
    void moveResource(bool language);

    ViewContext context_;
    ResourceTree* tree_ = nullptr;
    SplitterBar* bar_ = nullptr;
    PaneHost* paneHost_ = nullptr;
    int splitterX_ = 50;
    bool initialUpdateDone_ = false;
    std::function<void(int)> optionsOpener_;
    ImportChooser importChooser_;
    AddResourceChooser addChooser_;
    AddLanguageChooser languageChooser_;
    ExportChooser exportChooser_;
    ExportFolderChooser exportFolderChooser_;
    MoveChooser moveChooser_;
    // The tree's look before the description was released, for the same project filled again.
    ResourceTree::ViewState savedTree_;
    std::filesystem::path savedTreeProject_;
};

// Writes the description to its file through a temporary file, without releasing the loaded tree
// (the view keeps using it). Failures are reported and returned.
HResult WriteDescription(CKsDoc& document);

}  // namespace kestrel::ui
