// The options dialog: three pages, one per list of external editors (image, text, hex). Each page
// is an ExeCmdWidget that edits copies of the entries; OK checks all three pages and hands the
// copies to the application, Cancel drops them.
#pragma once

#include <QDialog>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QString>
#include <array>
#include <functional>

#include "app/editors.h"
#include "core/platform/status.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace kestrel {
class SettingsStore;
}

class QCheckBox;

namespace kestrel::ui {

// The list of an ExeCmdWidget. Before a click or a key takes the selection away from the selected
// row, it asks the page to commit that row's fields; when the commit fails the selection stays.
// The commit shows its error itself, once per press of a key or button.
class EditorListView : public QListWidget {
  public:
    explicit EditorListView(QWidget* parent = nullptr);
    // Commits the selected row; false keeps the selection where it is.
    void setCommitHandler(std::function<bool()> commit) { commit_ = std::move(commit); }

  protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // After a refusal the view has still moved its current index; it goes back to the selection.
    void keepCurrentOnSelection();

    std::function<bool()> commit_;
    mutable bool refused_ = false;
};

// Which hint a page shows above its list.
enum class EditorHint { kImage, kText };

// The list editor of one page: the named entries, a name field, a program field with a browse
// button, and New, Delete, Move up and Move down. Every row carries its whole entry, so fields the
// page does not show (arguments, initial folder) come back unchanged.
class ExeCmdWidget : public QWidget {
    Q_OBJECT

  public:
    explicit ExeCmdWidget(EditorHint hint, QWidget* parent = nullptr);

    // Replaces the rows by `entries`; the first row, if any, becomes selected and current.
    void setEntries(const EditorList& entries);
    // The rows' entries in list order.
    EditorList entries() const;
    // Inserts `entry` as row `position`: kOk, or kInvalidArg when the position is beyond the end.
    HResult insertEntry(int position, const EditorCommand& entry);
    // Copies the fields into the selected row and checks it (kOk without a selected row). A failure
    // is recorded and shown.
    HResult commitSelected();
    // Commits the selected row, then checks every row in order: a name, an existing program, and a
    // name no earlier row has (compared case-sensitively). The first failure is shown with its row
    // selected and returned.
    HResult validateAll();
    // The selected row, -1 when none.
    int selectedRow() const;

    // The buttons' actions.
    void addEntry();
    void deleteEntry();
    void moveUp();
    void moveDown();
    void browse();

    // Replaces the open-file dialog of the browse button (tests): gets the program field's text,
    // returns the chosen file or an empty text.
    using ProgramChooser = std::function<QString(const QString& start)>;
    void setProgramChooser(ProgramChooser chooser) { chooser_ = std::move(chooser); }

    EditorListView* list() const { return list_; }
    QLineEdit* nameEdit() const { return name_; }
    QLineEdit* programEdit() const { return program_; }
    QPushButton* newButton() const { return new_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* upButton() const { return up_; }
    QPushButton* downButton() const { return down_; }
    QPushButton* browseButton() const { return browse_; }

  signals:
    // An error of this page is about to be shown: the page should be in front.
    void problemFound();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void loadRow(int row);
    void selectRow(int row);
    void nameChanged(const QString& text);
    void moveSelected(int step);
    HResult showProblem(HResult code, const std::string& name);
    void layoutChildren();

    EditorListView* list_ = nullptr;
    QLabel* hint_ = nullptr;
    QLabel* nameLabel_ = nullptr;
    QLabel* programLabel_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* program_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* new_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
    ProgramChooser chooser_;
};

// The application's three lists and where they are kept between runs (none: not saved).
struct EditorListSet {
    EditorList* image = nullptr;
    EditorList* text = nullptr;
    EditorList* hex = nullptr;
    SettingsStore* settings = nullptr;
};

inline constexpr int kOptionsPageCount = 3;

class COptionsDlg : public QDialog {
    Q_OBJECT

  public:
    // `page` (0 image, 1 text, 2 hex editors) is shown first.
    COptionsDlg(const EditorListSet& lists, int page, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }
    ExeCmdWidget* page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    int currentPage() const;

    // Checks the pages in order; the first that fails comes to the front and the dialog stays.
    // Otherwise every list that changed is replaced and saved, and the dialog closes.
    void accept() override;

    // "Keep a backup when a save replaces the PE file" (General/KeepBackup).
    QCheckBox* backupBox() const { return backup_; }

  private:
    EditorList* target(int index) const;

    EditorListSet lists_;
    QTabWidget* tabs_ = nullptr;
    QCheckBox* backup_ = nullptr;
    std::array<ExeCmdWidget*, kOptionsPageCount> pages_{};
};

// Shows the options dialog modally on `page`; true when OK replaced the lists.
bool RunOptionsDialog(const EditorListSet& lists, int page, QWidget* parent);

}  // namespace kestrel::ui
