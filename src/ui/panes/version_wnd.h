// The version pane: shows a version resource (the VERSION file of the working folder) in a form —
// the file and product versions, the flags, the OS, type and subtype lists, the first twelve
// strings of the first string table and the first translation — below a toolbar with "查看 Hex".
//
// OK takes what was edited into the version tree (only the fields whose text changed, so every
// other byte of the resource stays as it was) and marks the pane modified; the pane host's commit
// writes the file, taking what was typed but not OK'd first. Cancel puts the form back to what the
// tree holds. A text that does not read as
// what its field holds is refused with a message and nothing changes.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstddef>
#include <filesystem>
#include <vector>

#include "core/pe/version_info.h"
#include "ui/panes/file_pane.h"
#include "ui/panes/file_pane_window.h"
#include "ui/panes/pane.h"

class QAction;
class QComboBox;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace kestrel::ui {

inline constexpr int kVersionStringRows = 12;

// The texts of the form, as shown and as edited. A list index of -1 selects nothing.
struct VersionFormValues {
    QString fileVersion;
    QString productVersion;
    QString flagsMask;
    QString flags;
    int fileOS = -1;
    int fileType = -1;
    int fileSubtype = -1;
    std::array<QString, kVersionStringRows> names;
    std::array<QString, kVersionStringRows> values;
    QString varName;
    QString varValue;
    friend bool operator==(const VersionFormValues&, const VersionFormValues&) = default;
};

// What the form shows for a version tree.
VersionFormValues versionFormValues(const VersionInfo& info);

// Takes the fields of `edited` that differ from `shown` into `info`. On a text that cannot be taken
// returns what is wrong with it and leaves `info` unchanged; otherwise returns an empty text.
QString applyVersionForm(VersionInfo& info, const VersionFormValues& shown, const VersionFormValues& edited);

class VersionForm : public QWidget {
    Q_OBJECT

  public:
    explicit VersionForm(QWidget* parent = nullptr);

    void setValues(const VersionFormValues& values);
    VersionFormValues values() const;

    QLineEdit* fileVersionEdit() const { return fileVersion_; }
    QLineEdit* productVersionEdit() const { return productVersion_; }
    QComboBox* fileOSList() const { return fileOS_; }
    QComboBox* fileTypeList() const { return fileType_; }
    QComboBox* fileSubtypeList() const { return fileSubtype_; }
    // cppcheck does not see the element type of the arrays of field pointers.
    // cppcheck-suppress CastIntegerToAddressAtReturn
    QLineEdit* nameEdit(int row) const { return names_[static_cast<std::size_t>(row)]; }
    // cppcheck-suppress CastIntegerToAddressAtReturn
    QLineEdit* valueEdit(int row) const { return values_[static_cast<std::size_t>(row)]; }
    QLineEdit* varValueEdit() const { return varValue_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

  signals:
    void accepted();
    void rejected();

  private:
    QLineEdit* fileVersion_ = nullptr;
    QLineEdit* productVersion_ = nullptr;
    QLineEdit* flagsMask_ = nullptr;
    QLineEdit* flags_ = nullptr;
    QComboBox* fileOS_ = nullptr;
    QComboBox* fileType_ = nullptr;
    QComboBox* fileSubtype_ = nullptr;
    std::array<QLineEdit*, kVersionStringRows> names_{};
    std::array<QLineEdit*, kVersionStringRows> values_{};
    QLineEdit* varName_ = nullptr;
    QLineEdit* varValue_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

class VersionWnd : public FilePaneWindow<QWidget> {
    Q_OBJECT

  public:
    explicit VersionWnd(PaneHost* host, QWidget* parent = nullptr);

    // Shows a version file. A file that cannot be read shows the error dialog and no form; one that
    // holds no version tree shows an empty form that takes no edits.
    void ShowVersionFile(const std::filesystem::path& path, XmlElement* fileElement, CKsDoc* document);
    // Shows the file again as it is on disk; OK'd edits not yet written are dropped.
    void Reload();
    // True when OK'd edits are not in the file yet, or the form holds typed edits.
    bool isModified() const;
    // Takes the form's typed edits as OK does, then writes the edited resource (atomically). A
    // field that cannot be taken keeps the form as typed; its problem and write failures are
    // recorded.
    HResult Commit();

    // The form's OK and Cancel.
    void accept();
    void reject();

    const std::vector<std::byte>& bytes() const { return bytes_; }
    VersionForm* form() const { return form_; }
    QAction* hexAction() const { return hexAction_; }

  protected:
    void layOutContent(const QRect& area) override;

  private:
    void showTree();
    bool formEdited() const;
    // Takes the form's edits into the resource; the problem with them, or an empty text.
    QString takeForm();

    bool loaded_ = false;  // the file was read and holds a version tree
    std::vector<std::byte> bytes_;
    VersionInfo info_;
    VersionFormValues shown_;
    bool modified_ = false;

    QAction* hexAction_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    VersionForm* form_ = nullptr;
};

// The version pane object the host keeps.
class VersionPane : public FilePane<VersionWnd> {
  public:
    using FilePane::FilePane;
    QWidget* createWidget(QWidget* parent) override;
    void showFile(const PaneRequest& request) override;
    bool canEdit(EditCommand command) const override;
    void edit(EditCommand command) override;
};

PaneFactory makeVersionPaneFactory(const PaneServices& services);

}  // namespace kestrel::ui
