// The project's original PE file, read once and kept for the dialog and menu previews: the strings,
// icons and bitmaps a template refers to come from it (not from the working folder, whose files
// may be in the middle of being edited).
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/pe/dialog_template.h"
#include "core/pe/resource_reader.h"

namespace kestrel::ui {

class ResourceModule {
  public:
    // Reads `path` unless it is the file already loaded (compared as given, case-sensitively).
    // Returns false when the file cannot be read or holds no resources; the module is then empty.
    bool load(const std::filesystem::path& path);
    void unload();
    bool isLoaded() const { return lookup_.isOpen(); }
    const std::filesystem::path& path() const { return path_; }
    // How many times a file was read, for telling a reused module from a reloaded one.
    int loads() const { return loads_; }
    const ResourceLookup& lookup() const { return lookup_; }

    // String `id` of the string tables (block id / 16 + 1, entry id % 16), in `language` when the
    // block has it, otherwise its first language.
    std::optional<QString> string(std::uint16_t id, std::uint16_t language = 0) const;
    // The icon group `name`, as the image nearest to `size` (the largest one when none is as
    // large); null when there is no such group or no member can be decoded.
    QImage icon(const NameOrOrdinal& name, QSize size) const;
    // The bitmap `name`; null when there is none or it cannot be decoded.
    QImage bitmap(const NameOrOrdinal& name) const;

  private:
    std::optional<ResourceKey> key(const NameOrOrdinal& name) const;

    std::filesystem::path path_;
    std::vector<std::byte> image_;
    ResourceLookup lookup_;
    int loads_ = 0;
};

// A picture stored as a resource: PNG data, or a packed DIB (an icon image when `iconImage`).
QImage decodeResourcePicture(Bytes data, bool iconImage);

}  // namespace kestrel::ui
