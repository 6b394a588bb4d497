// Temporary folders for tests; each is removed when the test ends.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Names are UTF-8 (on Windows too, where a narrow name would mean the ANSI code page).
    std::filesystem::path operator/(std::string_view name) const;

    // Writes a file under the folder (creating subfolders) and returns its path.
    std::filesystem::path write(std::string_view name, std::string_view content) const;
    std::filesystem::path write(std::string_view name, const std::vector<std::byte>& content) const;

    // Whether the folder's file system tells "a" from "A" (Linux does, Windows does not): tests of
    // names that differ only in case check this first.
    bool namesAreCaseSensitive() const;

    // Whether a file named with a lone UTF-16 surrogate can be made here: Linux (as its WTF-8
    // bytes) and Windows' own file systems hold one; Wine, whose files are UTF-8 names on the
    // host, does not.
    bool holdsLoneSurrogateNames() const;

  private:
    std::filesystem::path path_;
};

// Reads a whole file as text / bytes (empty when missing).
std::string readText(const std::filesystem::path& path);
std::vector<std::byte> readBytes(const std::filesystem::path& path);
std::vector<std::byte> toBytes(std::string_view text);
// Bytes written as numbers: bytesOf({0x4D, 0x5A}).
std::vector<std::byte> bytesOf(std::initializer_list<int> values);

}  // namespace kestrel::testing
