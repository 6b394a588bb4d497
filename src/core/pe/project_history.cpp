#include "core/pe/project_history.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "core/errors/errors.h"
#include "core/platform/files.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "ProjectHistory";

// Every plain file under `folder`, subfolders included; links are not followed.
std::set<std::filesystem::path> listFiles(const std::filesystem::path& folder) {
    std::set<std::filesystem::path> files;
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(folder, error);
    for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::error_code kind;
        if (it->is_regular_file(kind) && !it->is_symlink(kind)) files.insert(it->path());
    }
    return files;
}

// The file as it is now; a file that is not there is absent.
HResult takeSnapshot(const std::filesystem::path& path, FileSnapshot& snapshot) {
    snapshot.path = path;
    snapshot.bytes.clear();
    std::error_code error;
    snapshot.present = std::filesystem::exists(path, error);
    if (!snapshot.present) return kOk;
    if (HResult hr = ReadWholeFile(path, snapshot.bytes); hr.failed()) {
        RecordError(false, kSource, __LINE__, hr);
        return hr;
    }
    return kOk;
}

HResult putBack(const FileSnapshot& snapshot) {
    if (!snapshot.present) return RemoveFileIfPresent(snapshot.path);
    std::error_code error;
    std::filesystem::create_directories(snapshot.path.parent_path(), error);
    return WriteFileAtomic(snapshot.path, asBytes(snapshot.bytes));
}

bool sameAsNow(const FileSnapshot& snapshot) {
    FileSnapshot now;
    if (takeSnapshot(snapshot.path, now).failed()) {
        ClearErrorRecord();
        return false;
    }
    return now.present == snapshot.present && now.bytes == snapshot.bytes;
}

}  // namespace

HResult ProjectHistory::begin(const std::filesystem::path& folder, std::string description,
                              const std::vector<std::filesystem::path>& touched,
                              std::optional<DescribedResource> selection) {
    pending_.reset();
    Pending pending;
    pending.folder = folder;
    pending.step.description = std::move(description);
    pending.step.select = std::move(selection);
    for (const std::filesystem::path& path : touched) {
        if (path.empty()) continue;
        const bool seen = std::any_of(pending.step.files.begin(), pending.step.files.end(),
                                      [&](const FileSnapshot& file) { return file.path == path; });
        if (seen) continue;
        FileSnapshot snapshot;
        if (HResult hr = takeSnapshot(path, snapshot); hr.failed()) return hr;
        pending.step.files.push_back(std::move(snapshot));
    }
    pending.listed = listFiles(folder);
    pending_ = std::move(pending);
    return kOk;
}

void ProjectHistory::finish(const std::string& description, std::optional<DescribedResource> selection) {
    if (!pending_) return;
    Pending pending = std::move(*pending_);
    pending_.reset();
    for (const std::filesystem::path& path : listFiles(pending.folder)) {
        if (pending.listed.count(path) != 0) continue;
        const bool known = std::any_of(pending.step.files.begin(), pending.step.files.end(),
                                       [&](const FileSnapshot& file) { return file.path == path; });
        if (!known) pending.step.files.push_back(FileSnapshot{path, false, {}});
    }
    const bool changed = description != pending.step.description ||
                         std::any_of(pending.step.files.begin(), pending.step.files.end(),
                                     [](const FileSnapshot& file) { return !sameAsNow(file); });
    if (!changed) return;
    // Files the edit did not change need not be written back.
    std::erase_if(pending.step.files, [](const FileSnapshot& file) { return sameAsNow(file); });
    undo_.push_back(Entry{std::move(pending.step), std::move(selection)});
    if (undo_.size() > kMaxSteps) undo_.erase(undo_.begin());
    redo_.clear();
}

HResult ProjectHistory::apply(Entry& entry, const std::string& current, std::string& restored,
                              std::optional<DescribedResource>& select, Entry& inverse) {
    inverse.back.description = current;
    inverse.back.select = entry.forward;
    inverse.forward = entry.back.select;
    for (const FileSnapshot& file : entry.back.files) {
        FileSnapshot now;
        if (HResult hr = takeSnapshot(file.path, now); hr.failed()) return hr;
        inverse.back.files.push_back(std::move(now));
    }
    for (std::size_t i = 0; i < entry.back.files.size(); ++i) {
        if (HResult hr = putBack(entry.back.files[i]); hr.failed()) {
            RecordError(false, kSource, __LINE__, hr);
            // The folder goes back to how it was before this attempt.
            for (std::size_t j = 0; j < i; ++j)
                (void)putBack(inverse.back.files[j]);
            return hr;
        }
    }
    restored = entry.back.description;
    select = entry.back.select;
    return kOk;
}

HResult ProjectHistory::travel(std::vector<Entry>& from, std::vector<Entry>& to, const std::string& current,
                               std::string& restored, std::optional<DescribedResource>& select) {
    if (from.empty()) return kFalse;
    Entry inverse;
    if (HResult hr = apply(from.back(), current, restored, select, inverse); hr.failed()) return hr;
    from.pop_back();
    to.push_back(std::move(inverse));
    return kOk;
}

HResult ProjectHistory::undo(const std::string& current, std::string& restored,
                             std::optional<DescribedResource>& select) {
    pending_.reset();
    return travel(undo_, redo_, current, restored, select);
}

HResult ProjectHistory::redo(const std::string& current, std::string& restored,
                             std::optional<DescribedResource>& select) {
    pending_.reset();
    return travel(redo_, undo_, current, restored, select);
}

void ProjectHistory::clear() {
    pending_.reset();
    undo_.clear();
    redo_.clear();
}

}  // namespace kestrel
