// The program's settings: sections of keys under organisation "Quillon", application "Kestrel".
// On Linux that is the INI file $XDG_CONFIG_HOME/Quillon/Kestrel.conf; on Windows the registry key
// HKEY_CURRENT_USER\Software\Quillon\Kestrel. Reads never fail (a missing or unreadable value gives
// the default) and writes never fail on the spot; a write that cannot reach the disk shows up in
// sync() and DeleteSection().
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "core/platform/status.h"

class QSettings;

namespace kestrel {

struct SettingsRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const SettingsRect&, const SettingsRect&) = default;
};

// Sections and keys shared by several parts of the program.
inline constexpr std::string_view kRecentFileSection = "Recent File List";
inline constexpr std::string_view kRecentFileKeyFormat = "File%d";
inline constexpr int kRecentFileCount = 16;

class SettingsStore {
  public:
    SettingsStore();
    virtual ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    HResult GetIntSetting(std::string_view section, std::string_view key, int& value, int defaultValue) const;
    HResult SetIntSetting(std::string_view section, std::string_view key, int value);
    HResult GetStringSetting(std::string_view section, std::string_view key, std::string& text,
                             std::string_view defaultText) const;
    HResult SetStringSetting(std::string_view section, std::string_view key, std::string_view text);
    // Rectangles are stored as "left,top,right,bottom". Fields that do not parse keep the value the
    // caller put in `rect`.
    HResult GetRectSetting(std::string_view section, std::string_view key, SettingsRect& rect,
                           const SettingsRect& defaultRect) const;
    HResult SetRectSetting(std::string_view section, std::string_view key, const SettingsRect& rect);

    // Removes the section with all its keys and writes the change out. Returns 0 or the failure of
    // the write.
    HResult DeleteSection(std::string_view section);
    // Removes the section without writing the change out yet.
    void removeSection(std::string_view section);
    // Removes one key (no error when absent).
    void removeKey(std::string_view section, std::string_view key);
    // True when the section holds `key`.
    bool contains(std::string_view section, std::string_view key) const;

    // Writes pending changes to the disk; 0, or the failure (access denied, bad file format).
    HResult sync();
    // 0 when the store could be read, otherwise the code of the failure.
    HResult status() const;
    // The settings file (empty where settings do not live in a file).
    std::filesystem::path fileName() const;

  private:
    std::unique_ptr<QSettings> settings_;
};

// Where SettingsStore keeps its file on this platform, from the environment at the time of the call.
std::filesystem::path settingsFilePath();

}  // namespace kestrel
