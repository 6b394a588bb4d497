#include "core/pe/memory_folder.h"

#include <algorithm>
#include <cstring>

#include "core/platform/paths.h"

namespace kestrel {

namespace {

// A view needs no owner, but a held file without one counts as absent: a shared empty marker says
// the bytes are looked after elsewhere.
const std::shared_ptr<const void>& viewMarker() {
    static const std::shared_ptr<const void> marker = std::make_shared<int>(0);
    return marker;
}

}  // namespace

std::string MemoryFolder::key(std::string_view storedName) {
    std::string folded = toLowerAscii(storedName);
    std::replace(folded.begin(), folded.end(), '/', '\\');
    return folded;
}

const HeldBytes* MemoryFolder::find(std::string_view storedName) const {
    auto found = files_.find(key(storedName));
    return found == files_.end() ? nullptr : &found->second;
}

void MemoryFolder::putView(std::string_view storedName, Bytes bytes) {
    files_[key(storedName)] = HeldBytes{viewMarker(), bytes};
}

void MemoryFolder::put(std::string_view storedName, std::vector<std::byte> bytes) {
    auto owned = std::make_shared<std::vector<std::byte>>(std::move(bytes));
    const Bytes view{owned->data(), owned->size()};
    files_[key(storedName)] = HeldBytes{std::move(owned), view};
}

void MemoryFolder::put(std::string_view storedName, std::string_view text) {
    std::vector<std::byte> bytes(text.size());
    if (!text.empty()) std::memcpy(bytes.data(), text.data(), text.size());
    put(storedName, std::move(bytes));
}

void MemoryFolder::putJoined(std::string_view storedName, Bytes header, Bytes data) {
    std::vector<std::byte> bytes;
    bytes.reserve(header.size() + data.size());
    bytes.insert(bytes.end(), header.begin(), header.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    put(storedName, std::move(bytes));
}

}  // namespace kestrel
