// The resource files of a working folder held in memory instead of on disk, for an edit that
// imports, changes and compiles a file in one run: the import puts each resource's file here (a
// view into the image when the file is the resource's bytes as they are), the edit replaces the
// few it changes, and the compile reads them from here before it looks on disk.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/files.h"

namespace kestrel {

class MemoryFolder {
  public:
    // Stored names (as the description writes them, `\` or `/` between folders) match ignoring
    // ASCII case, as the name look-up of the working folder does.
    const HeldBytes* find(std::string_view storedName) const;
    bool contains(std::string_view storedName) const { return find(storedName) != nullptr; }

    // A file whose bytes live elsewhere (the image being edited): `bytes` must stay valid as long as
    // the folder is used.
    void putView(std::string_view storedName, Bytes bytes);
    // A file made here; the folder keeps the bytes.
    void put(std::string_view storedName, std::vector<std::byte> bytes);
    void put(std::string_view storedName, std::string_view text);
    // The bytes given header first, as one file.
    void putJoined(std::string_view storedName, Bytes header, Bytes data);

    std::size_t size() const { return files_.size(); }

  private:
    static std::string key(std::string_view storedName);

    std::unordered_map<std::string, HeldBytes> files_;
};

}  // namespace kestrel
