// The import dialog: which PE file to take apart and into which folder, both checked before the
// dialog closes.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/platform/status.h"

class QLineEdit;
class QToolButton;

namespace kestrel {
class SettingsStore;
}

namespace kestrel::ui {

// kOk when the import can take the file apart (a PE32 or PE32+ image, with or without resources:
// every resource type can be edited, and resources can be added), kFalse otherwise.
HResult IsImportablePeFile(const std::filesystem::path& path);

class CImportDlg : public QDialog {
    Q_OBJECT

  public:
    // Asks for a file to import, starting at `current`; nullopt when cancelled.
    using FileBrowser =
        std::function<std::optional<std::string>(QWidget* parent, const std::string& current)>;
    // Asks for a folder; nullopt when cancelled.
    using FolderBrowser =
        std::function<std::optional<std::string>(QWidget* parent, const std::string& current)>;

    // `dataFolder` is the program's data folder; its Temp folder is the working folder that every
    // open of a PE file empties, so it is refused as a target.
    CImportDlg(SettingsStore* settings, std::filesystem::path dataFolder, QWidget* parent = nullptr);

    std::string file() const;
    std::string folder() const;
    void setFile(const std::string& file);
    void setFolder(const std::string& folder);

    void setFileBrowser(FileBrowser browser) { fileBrowser_ = std::move(browser); }
    void setFolderBrowser(FolderBrowser browser) { folderBrowser_ = std::move(browser); }

    void browseFile();
    void browseFolder();
    // Puts <default import folder>/<base name of the file> into the folder field.
    void proposeFolder();
    bool checkFile();
    bool checkFolder();

    QLineEdit* fileEdit() const { return fileEdit_; }
    QLineEdit* folderEdit() const { return folderEdit_; }

    void accept() override;

  private:
    std::string defaultImportFolder() const;

    SettingsStore* settings_;
    std::filesystem::path dataFolder_;
    QLineEdit* fileEdit_ = nullptr;
    QLineEdit* folderEdit_ = nullptr;
    FileBrowser fileBrowser_;
    FolderBrowser folderBrowser_;
    // A folder holding a project that the user already agreed to import into (asked on browsing).
    std::filesystem::path acceptedProjectFolder_;
};

// Texts of the dialog's checks (shown through uiText under the dialog's context).
inline constexpr std::string_view kImportNoFile =
    QT_TRANSLATE_NOOP("kestrel::ui::CImportDlg", "你必须指定一个要插入的文件。");
inline constexpr std::string_view kImportFileMissing =
    QT_TRANSLATE_NOOP("kestrel::ui::CImportDlg", "文件 %s 并不存在。");
inline constexpr std::string_view kImportNotPe =
    QT_TRANSLATE_NOOP("kestrel::ui::CImportDlg", "文件 '%s' 不是 Kestrel 能够拆开的 PE 文件。");
inline constexpr std::string_view kImportNoFolder =
    QT_TRANSLATE_NOOP("kestrel::ui::CImportDlg", "你必须指定一个  dump 的目录。");
inline constexpr std::string_view kImportCreateFolder =
    QT_TRANSLATE_NOOP("kestrel::ui::CImportDlg", "这个 '%s' 目录不存在。\r\n\r\n你想要创建它吗？");
inline constexpr std::string_view kImportNotFolder =
    QT_TRANSLATE_NOOP("kestrel::ui::CImportDlg", "%s 并不是一个目录");
inline constexpr std::string_view kImportFolderNotWritable = QT_TRANSLATE_NOOP(
    "kestrel::ui::CImportDlg", "无法在文件夹 %s 中写入文件：\r\n%s\r\n\r\n请选择另一个文件夹。");
inline constexpr std::string_view kImportTempFolder =
    QT_TRANSLATE_NOOP("kestrel::ui::CImportDlg", "%s 是临时工作目录，请选择其他目录。");
inline constexpr std::string_view kImportProjectPresent = QT_TRANSLATE_NOOP(
    "kestrel::ui::CImportDlg", "你选择的目录内已有一个 kestrel 文件存在。\r\n\r\n你想挑选一个不同的目标吗？");

}  // namespace kestrel::ui
