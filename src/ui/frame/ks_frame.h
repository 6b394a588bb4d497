// The main window: menus, toolbar, status bar (message, CAP, NUM, OVR), accelerators, the recent
// files, the feedback link at the right end of the menu bar, and the window layout settings.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/document_controller.h"
#include "app/settings_store.h"
#include "ui/frame/ks_view.h"

class QAction;
class QMenu;
class QToolBar;

namespace kestrel {
class RecentFileList;
}

namespace kestrel::ui {

class ResourceSearchDock;

// "点击发送反馈" at the right end of the menu bar: a small box that lights up under the mouse and
// opens the feedback mail when clicked.
class FeedbackLink : public QWidget {
    Q_OBJECT

  public:
    explicit FeedbackLink(QWidget* parent = nullptr);
    bool isHovered() const { return hovered_; }
    QSize sizeHint() const override;

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    bool hovered_ = false;
};

struct FrameContext {
    CKsDoc* document = nullptr;
    DocumentController* controller = nullptr;
    SettingsStore* settings = nullptr;
    RecentFileList* recent = nullptr;
    std::filesystem::path dataFolder;
    std::string versionText;
};

class CKsFrame : public QMainWindow {
    Q_OBJECT

  public:
    // Smallest window the stored rectangle may describe; a smaller one is replaced by the default.
    static constexpr int kMinWidth = 136;
    static constexpr int kMinHeight = 39;
    // How often the working folder is compared with its compiled state.
    static constexpr int kModifiedCheckIntervalMs = 2000;

    explicit CKsFrame(FrameContext context, QWidget* parent = nullptr);
    ~CKsFrame() override;

    CKsView* view() const { return view_; }
    FeedbackLink* feedbackLink() const { return link_; }
    QToolBar* toolBar() const { return toolBar_; }
    QLabel* overwriteIndicator() const { return ovr_; }
    QMenu* fileMenu() const { return fileMenu_; }
    // The find-in-resources dock, made on first use (null before).
    ResourceSearchDock* searchDock() const { return searchDock_; }
    void showResourceSearch();

    // The rectangle of the first start: the creation position, half the desktop's size.
    SettingsRect defaultRect() const;
    // The rectangle and maximised state the window opens with (read from the settings).
    SettingsRect initialRect() const { return initialRect_; }
    bool opensMaximized() const { return opensMaximized_; }
    // Writes Layout/MainRect and Layout/Max.
    void saveLayout();

    // Commands.
    void openFile();
    // Opens a PE file or a project as File > Open does once a file is chosen.
    void openPath(const std::filesystem::path& path);
    void toggleInsert();
    void showAbout();
    void updateActions();
    // "<file>[*] - Kestrel", with the modified mark while the project holds uncompiled edits.
    void refreshTitle();
    // The status bar's word on the open file's signature: signed, no longer matching, unsigned.
    void refreshSignature();
    // File > Export translations / Import translations (see translation_commands.h).
    void exportTranslations();
    void importTranslations();

    // Replaces the File > Open dialog (tests).
    using OpenChooser = std::function<std::optional<std::filesystem::path>()>;
    void setOpenChooser(OpenChooser chooser) { openChooser_ = std::move(chooser); }

    QAction* action(std::string_view name) const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    // A single local file dropped on the window is opened: a project, or any other file as a PE
    // file to import.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    ResourceSearchDock* searchDock_ = nullptr;
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void applyIcons();
    void rebuildRecentFiles();
    void placeFeedbackLink();
    void readLayout();
    // After a compile: a compiled file whose kept signature no longer matches gets one question,
    // whether to remove the signature.
    void offerSignatureRemoval();
    // True when Undo and Redo act on the project's history: the focus is not inside the pane.
    bool projectUndoApplies() const;
    bool isDocumentModified() const;

    FrameContext context_;
    CKsView* view_ = nullptr;
    FeedbackLink* link_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentAnchor_ = nullptr;
    std::vector<QAction*> recentActions_;
    QLabel* cap_ = nullptr;
    QLabel* num_ = nullptr;
    QLabel* ovr_ = nullptr;
    QLabel* signature_ = nullptr;
    std::vector<std::pair<std::string, QAction*>> actions_;
    SettingsRect initialRect_;
    bool opensMaximized_ = false;
    bool firstShow_ = true;
    bool layoutSaved_ = false;
    OpenChooser openChooser_;
    QMetaObject::Connection focusConnection_;
    QTimer folderWatch_;
};

// The About box: the program's name and version text.
class AboutDlg : public QDialog {
    Q_OBJECT

  public:
    AboutDlg(const std::string& versionText, QWidget* parent = nullptr);
};

// Save As through the file dialog.
class QtDocumentPrompts : public DocumentPrompts {
  public:
    explicit QtDocumentPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    std::optional<std::filesystem::path> askSavePath(std::string_view title,
                                                     const std::filesystem::path& proposed,
                                                     const std::vector<FileFilter>& filters) override;

  private:
    QWidget* parent_;
};

// The Qt form of a filter list: "Name (*.a *.b);;All Files (*)".
QString qtFilterString(const std::vector<FileFilter>& filters);

}  // namespace kestrel::ui
