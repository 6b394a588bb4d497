#include "app/recent_files.h"

#include <algorithm>

#include "app/settings_store.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"

namespace kestrel {

RecentFileList::RecentFileList(SettingsStore* store, int capacity)
    : store_(store), capacity_(static_cast<std::size_t>(std::max(capacity, 1))) {
    if (store_ == nullptr) return;
    for (std::size_t i = 1; i <= capacity_; ++i) {
        std::string entry;
        (void)store_->GetStringSetting(kRecentFileSection, safeFormat(kRecentFileKeyFormat, {i}), entry, "");
        if (!entry.empty()) entries_.push_back(std::move(entry));
    }
}

void RecentFileList::add(const std::filesystem::path& path) {
    std::string text = pathToUtf8(path);
    if (text.empty()) return;
    std::erase_if(entries_, [&](const std::string& entry) {
        return entry == text || IsSameFile(pathFromUtf8(entry), path);
    });
    entries_.insert(entries_.begin(), std::move(text));
    if (entries_.size() > capacity_) entries_.resize(capacity_);
    (void)save();
}

void RecentFileList::remove(std::size_t index) {
    if (index >= entries_.size()) return;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    (void)save();
}

HResult RecentFileList::save() {
    if (store_ == nullptr) return kOk;
    for (std::size_t i = 1; i <= capacity_; ++i) {
        std::string key = safeFormat(kRecentFileKeyFormat, {i});
        if (i <= entries_.size()) {
            (void)store_->SetStringSetting(kRecentFileSection, key, entries_[i - 1]);
        } else {
            store_->removeKey(kRecentFileSection, key);
        }
    }
    return store_->sync();
}

}  // namespace kestrel
