#include "support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "core/platform/paths.h"
#include "core/platform/text.h"

namespace kestrel::testing {

TempDir::TempDir() {
    // A new folder of a random name (create_directory is false for one that exists).
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const std::filesystem::path candidate = base / ("kestrel-test-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable again first: tests may have made files or folders read-only.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::operator/(std::string_view name) const {
    return path_ / pathFromUtf8(name);
}

std::filesystem::path TempDir::write(std::string_view name, std::string_view content) const {
    auto target = *this / name;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return target;
}

std::filesystem::path TempDir::write(std::string_view name, const std::vector<std::byte>& content) const {
    return write(name, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

bool TempDir::namesAreCaseSensitive() const {
    const auto probe = write("case-probe", "");
    std::error_code ec;
    const bool sensitive = !std::filesystem::exists(path_ / "CASE-PROBE", ec);
    std::filesystem::remove(probe, ec);
    return sensitive;
}

bool TempDir::holdsLoneSurrogateNames() const {
    const auto probe = path_ / pathFromUtf8(utf16ToUtf8(std::u16string(1, u'\xD800')));
    std::ofstream(probe, std::ios::binary).close();
    std::error_code ec;
    const bool made = std::filesystem::exists(probe, ec);
    std::filesystem::remove(probe, ec);
    return made;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::byte> readBytes(const std::filesystem::path& path) {
    return toBytes(readText(path));
}

std::vector<std::byte> bytesOf(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    out.reserve(values.size());
    for (int value : values)
        out.push_back(static_cast<std::byte>(value));
    return out;
}

std::vector<std::byte> toBytes(std::string_view text) {
    std::vector<std::byte> out(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<std::byte>(text[i]);
    return out;
}

}  // namespace kestrel::testing
