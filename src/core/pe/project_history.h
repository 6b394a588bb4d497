// Undo and redo of the edits made to a working folder: each step keeps what one edit replaced —
// the description's text and the bytes of the files it touched ("absent" for files it created) —
// so that putting the step back restores the folder as it was, whatever was selected or shown in
// between. Putting a step back keeps the state it replaces as the step of the other direction.
//
// The history knows nothing of the window: the caller serialises and reloads the description and
// says which files an edit will touch. Files an edit creates are found by listing the folder
// before and after, so only the files that exist and change are read into memory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/pe/description_edit.h"
#include "core/platform/status.h"

namespace kestrel {

// One file as a step keeps it: its bytes, or that it did not exist.
struct FileSnapshot {
    std::filesystem::path path;
    bool present = false;
    std::vector<std::byte> bytes;
};

// What one step puts back, and the resource to select afterwards.
struct HistoryStep {
    std::string description;
    std::vector<FileSnapshot> files;
    std::optional<DescribedResource> select;
};

class ProjectHistory {
  public:
    // Older steps beyond this many are forgotten.
    static constexpr std::size_t kMaxSteps = 100;

    // Starts a step before an edit of `folder`: keeps `description` (the description's text now),
    // the bytes of every file of `touched` (or that it is absent) and the list of the folder's
    // files. `selection` is selected again when the step is undone. A step begun before and not
    // finished is dropped. Fails when a touched file cannot be read; nothing is kept then.
    HResult begin(const std::filesystem::path& folder, std::string description,
                  const std::vector<std::filesystem::path>& touched,
                  std::optional<DescribedResource> selection = std::nullopt);
    bool pending() const { return pending_.has_value(); }
    // Ends the step begun: files that appeared in the folder since are kept as absent. A step that
    // changed nothing (same description text, same files) is dropped; any other clears the redo
    // list. `selection` is selected again when the step is redone. Without a step begun: nothing.
    void finish(const std::string& description, std::optional<DescribedResource> selection = std::nullopt);
    // Drops the step begun (the edit failed or was cancelled).
    void abandon() { pending_.reset(); }

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    std::size_t undoCount() const { return undo_.size(); }

    // Puts the files of the last step back and gives the description text to load in `restored`
    // and the resource to select in `select`; `current` is the description's text now, kept with
    // the files' present bytes as the step of the other direction. A file that cannot be written
    // fails the whole step: the files written before it get their bytes back and the step stays.
    HResult undo(const std::string& current, std::string& restored, std::optional<DescribedResource>& select);
    HResult redo(const std::string& current, std::string& restored, std::optional<DescribedResource>& select);

    // Forgets every step (after a compile, when the project closes).
    void clear();

  private:
    struct Pending {
        std::filesystem::path folder;
        HistoryStep step;
        std::set<std::filesystem::path> listed;
    };
    struct Entry {
        HistoryStep back;                          // what undoing (redoing) puts back
        std::optional<DescribedResource> forward;  // selected when the step is done again
    };

    static HResult apply(Entry& entry, const std::string& current, std::string& restored,
                         std::optional<DescribedResource>& select, Entry& inverse);
    static HResult travel(std::vector<Entry>& from, std::vector<Entry>& to, const std::string& current,
                          std::string& restored, std::optional<DescribedResource>& select);

    std::optional<Pending> pending_;
    std::vector<Entry> undo_;
    std::vector<Entry> redo_;
};

}  // namespace kestrel
