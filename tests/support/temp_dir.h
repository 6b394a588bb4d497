// Temporary folders for tests; each is removed when the test ends.
#pragma once

#include <filesystem>
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
    std::filesystem::path operator/(std::string_view name) const { return path_ / std::string(name); }

    // Writes a file under the folder (creating subfolders) and returns its path.
    std::filesystem::path write(std::string_view name, std::string_view content) const;
    std::filesystem::path write(std::string_view name, const std::vector<std::byte>& content) const;

  private:
    std::filesystem::path path_;
};

// Reads a whole file as text / bytes (empty when missing).
std::string readText(const std::filesystem::path& path);
std::vector<std::byte> readBytes(const std::filesystem::path& path);
std::vector<std::byte> toBytes(std::string_view text);

}  // namespace kestrel::testing
