// The most-recently-used file list ("Recent File List", File1..File16 in the settings).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/platform/status.h"

namespace kestrel {

class SettingsStore;

class RecentFileList {
  public:
    // Reads the list from `store` (which may be null: the list then lives in memory only).
    explicit RecentFileList(SettingsStore* store, int capacity = 16);

    const std::vector<std::string>& entries() const { return entries_; }
    // Puts `path` first; an entry naming the same file moves rather than repeats. Written at once.
    void add(const std::filesystem::path& path);
    void remove(std::size_t index);
    HResult save();

  private:
    SettingsStore* store_;
    std::size_t capacity_;
    std::vector<std::string> entries_;
};

}  // namespace kestrel
