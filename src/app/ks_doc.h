// The project document: a PE file, the working folder it was taken apart into, the project file
// (*.kestrel) that ties them together, and the loaded description (pe.xml) the view shows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "core/pe/decompile_file.h"
#include "core/pe/project_history.h"
#include "core/platform/files.h"
#include "core/platform/status.h"
#include "core/xml/xml_document.h"

namespace kestrel {

class RecentFileList;
class SettingsStore;

// Whether a save that replaces the PE file keeps the previous file as <name>.bak (1, the default)
// or not (0).
inline constexpr std::string_view kBackupSection = "General";
inline constexpr std::string_view kBackupKey = "KeepBackup";

// What the document needs of the view. The view holds handles into the description, so it is
// cleared before the description is released and rebuilt after it is loaded again.
class DocumentView {
  public:
    virtual ~DocumentView() = default;
    // Empties the tree and closes the active pane.
    virtual void ClearView() = 0;
    // The active pane stores its pending edits in its file. False when that failed (the error has
    // been shown); whatever depends on the files must not go on then.
    [[nodiscard]] virtual bool CommitPane() = 0;
    // Fills the tree from the document's description.
    virtual void OnInitialUpdate() = 0;
    // The active pane stores its pending edits in its file and stays open. False when that failed
    // (the pane has said why).
    [[nodiscard]] virtual bool StorePaneEdits() { return true; }
};

// The files of a working folder (its plain files and those of its subfolders, without following
// links) with their sizes and modification times: a change to any of them is an edit that the
// compiled file does not hold yet.
using FolderState = std::map<std::string, std::pair<std::int64_t, std::uintmax_t>>;
// `known` lists files whose time and size are known already (the import's own files); they are
// taken as listed instead of being looked at again.
FolderState ReadFolderState(const std::filesystem::path& folder, std::vector<WrittenFile> known = {});
// True when the folder's files are exactly those of `state`, with the same sizes and times. Stops
// at the first difference and builds no state of its own.
bool FolderMatchesState(const std::filesystem::path& folder, const FolderState& state);

// Deletes every plain file directly in `folder` (subfolders stay). `keep`, when it names a file in
// the folder, is left alone. Every file is tried; the result is 0, or the first failure (to list
// the folder or to delete a file), so that no caller goes on unaware of stale files.
HResult ClearFolderFiles(const std::filesystem::path& folder, const std::filesystem::path& keep = {});

// Clears the import's working folder (Temp): its plain files as ClearFolderFiles does, and its
// subfolders with everything in them, except the folders that hold `keep`. Links are removed as
// links; nothing they point to outside the folder is touched.
HResult ClearWorkingFolder(const std::filesystem::path& folder, const std::filesystem::path& keep = {});

// Empties working folders without making anyone wait for the deletion of thousands of files: the
// folder is renamed aside in one step and made anew, and what was in it is deleted on a background
// thread once the delay has passed, at low priority. A folder moved aside is named
// "<name>.discarded-<pid>-<n>" next to the working folder; those left by a process that ended before
// deleting them are found and deleted with the next folder moved aside.
class FolderDiscarder {
  public:
    explicit FolderDiscarder(std::chrono::milliseconds delay = std::chrono::seconds(2)) : delay_(delay) {}
    // Deletes whatever is still pending before it returns.
    ~FolderDiscarder();
    FolderDiscarder(const FolderDiscarder&) = delete;
    FolderDiscarder& operator=(const FolderDiscarder&) = delete;

    // Renames `folder` (a real folder, not a link) aside and makes it anew, empty. False when that
    // cannot be done; the folder is then as it was (or, if only the new one could not be made,
    // missing) and the caller clears it in place. Leftover folders that hold a path of `spare` are
    // never deleted.
    bool moveAside(const std::filesystem::path& folder, const std::vector<std::filesystem::path>& spare = {});
    // Deletes now what is pending and waits until it is gone.
    void finish();
    // The folders moved aside and not yet deleted.
    std::vector<std::filesystem::path> pending() const;
    // The name part that marks a folder moved aside: "<name>" + kMarker + "<pid>-<n>".
    static constexpr std::string_view kMarker = ".discarded-";

  private:
    void work();
    void queue(std::filesystem::path folder);

    std::chrono::milliseconds delay_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::filesystem::path> queue_;
    std::filesystem::path deleting_;
    std::chrono::steady_clock::time_point due_{};
    bool now_ = false;
    bool stop_ = false;
    bool leftoversSought_ = false;
    unsigned counter_ = 0;
    std::thread worker_;
};

// Checks, without writing anything, that `peFile` can be read and has valid MZ and PE headers.
// Failures are reported (new report) and returned; `cause`, when given, says in words why when
// that is known (the file does not exist, is not a PE file, is cut short at byte N, ...).
HResult CheckImportable(const std::filesystem::path& peFile, std::string* cause = nullptr);

// What the user is told once an import is done ("… bit-field bitmaps kept as BMP files"), or
// nothing.
std::string ImportNotice(const ImportSummary& summary);

inline constexpr std::string_view kProjectExtension = ".kestrel";

class CKsDoc {
  public:
    // `workingFolder` is where files that are not projects are imported: <data folder>/Temp.
    explicit CKsDoc(std::filesystem::path workingFolder);
    CKsDoc(const CKsDoc&) = delete;
    CKsDoc& operator=(const CKsDoc&) = delete;

    void setView(DocumentView* view) { view_ = view; }
    DocumentView* view() const { return view_; }
    void setRecentFileList(RecentFileList* recent) { recent_ = recent; }
    // Where the backup setting is read (none: backups are kept).
    void setSettings(SettingsStore* settings) { settings_ = settings; }
    bool keepsBackup() const;

    XmlDocument& description() { return description_; }
    XmlDocument& project() { return project_; }
    // The undo steps of the edits made since the project was opened or last compiled.
    ProjectHistory& history() { return history_; }
    const std::filesystem::path& descriptionPath() const { return descriptionPath_; }
    const std::filesystem::path& resourceFilePath() const { return resourceFilePath_; }
    const std::filesystem::path& projectPath() const { return projectPath_; }
    const std::filesystem::path& workingFolder() const { return workingFolder_; }
    bool isOpen() const { return !projectPath_.empty(); }

    // Opens a project file where it is, or imports any other file into the working folder first.
    // On failure the previous project is opened again (its project file when it still exists,
    // otherwise its PE file is imported again); false when that fails too or there was none.
    bool OpenProject(const std::filesystem::path& path);
    // True when the last OpenProject ended in the previous project instead of the one asked for.
    bool fellBack() const { return fellBack_; }

    bool OnNewDocument();
    // OpenProject, then a check that the project's PE file can be read. False when `path` was not
    // opened, also when the previous project came back instead.
    bool OnOpenDocument(const std::filesystem::path& path);
    // Writes the description back, commits the pane, compiles and offers the copy over the PE file
    // (or over `path` during Save As), then reopens: the copied PE file when the copy was made,
    // otherwise the current project file. The view is rebuilt in every case.
    bool OnSaveDocument(const std::filesystem::path& path);
    // Writes the description back (when one is loaded) and releases the project.
    void OnCloseDocument();

    // The title and the recent list show the PE file of the loaded project; a project file is
    // never shown. Without a project, `path` itself is used.
    void SetPathName(const std::filesystem::path& path, bool addToRecentList = true);
    const std::filesystem::path& pathName() const { return pathName_; }
    // The document's title: the file name of the path name, or "无标题".
    std::string GetTitle() const;

    // True when the working folder holds edits that were not compiled since the project was opened
    // or last compiled: a pane commit, an added, deleted, replaced or recoloured resource (marked
    // by whoever made them), or any other change of the folder's files (CheckModified).
    bool IsModified() const { return modified_; }
    void SetModifiedFlag(bool modified = true) { modified_ = modified; }
    // Compares the working folder with its state at the last open or compile; a difference marks
    // the document modified. Returns IsModified().
    bool CheckModified();
    // The working folder's present state is the compiled one (after a compile, or when the user
    // chose to drop the edits); the document is no longer modified and the undo steps are gone.
    void MarkCompiled();
    // True when the last OnSaveDocument left the compiled file where it was asked for (copied over
    // the PE file, or written to the Save As name), not only in the working folder.
    bool lastSaveReachedTarget() const { return lastSaveReachedTarget_; }
    // The notice of the last import into the working folder, once (then empty).
    std::string takeImportNotice();
    // True when the open project lives in the working folder that every import clears.
    bool isInWorkingFolder() const;

    // Where the previous import's files go when the working folder is cleared for the next one.
    FolderDiscarder& discarder() { return discarder_; }

    void setSaveAs(bool saveAs) { saveAs_ = saveAs; }
    bool isSaveAs() const { return saveAs_; }
    // Save is possible exactly when a project is open.
    bool canSave() const { return !projectPath_.empty(); }

  private:
    bool openProjectOnce(const std::filesystem::path& path);
    bool reopenPrevious(const std::filesystem::path& resourceFile, const std::filesystem::path& project,
                        const std::filesystem::path& failedPath);
    void releaseProject();
    void markCompiled(std::vector<WrittenFile> known);

    std::filesystem::path workingFolder_;
    DocumentView* view_ = nullptr;
    RecentFileList* recent_ = nullptr;
    SettingsStore* settings_ = nullptr;
    XmlDocument description_;
    XmlDocument project_;
    ProjectHistory history_;
    std::filesystem::path descriptionPath_;
    std::filesystem::path resourceFilePath_;
    std::filesystem::path projectPath_;
    std::filesystem::path pathName_;
    bool saveAs_ = false;
    bool fellBack_ = false;
    bool modified_ = false;
    bool lastSaveReachedTarget_ = false;
    FolderState compiledState_;
    std::string importNotice_;
    // Last member: its destructor waits for the deletions it still has pending.
    FolderDiscarder discarder_;
};

}  // namespace kestrel
