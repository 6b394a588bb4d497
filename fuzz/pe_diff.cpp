// Compares two PE images cut from arbitrary bytes (the first two bytes say where the first one
// ends) and formats the result as text and as JSON. What parses must:
// - compare equal with itself, with nothing to print;
// - give text exactly when the diff is not empty;
// - never crash or hang on any resource tree, header or section table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/pe/pe_diff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const kestrel::Bytes rest(reinterpret_cast<const std::byte*>(data + 2), size - 2);
    const std::size_t split = (std::size_t{data[0]} | (std::size_t{data[1]} << 8)) % (rest.size() + 1);
    // An input with one image compares it with itself.
    const kestrel::Bytes first = split == 0 ? rest : rest.first(split);
    const kestrel::Bytes second = split == 0 ? rest : rest.subspan(split);

    kestrel::PeImage oldImage, newImage;
    if (kestrel::parsePeImage(first, oldImage).failed()) return 0;
    const kestrel::PeDiff same = kestrel::DiffPeImages(oldImage, oldImage);
    if (!same.empty() || !kestrel::FormatPeDiffText(same).empty()) std::abort();
    (void)kestrel::FormatPeDiffJson(same, "a", "a");

    if (kestrel::parsePeImage(second, newImage).failed()) return 0;
    const kestrel::PeDiff diff = kestrel::DiffPeImages(oldImage, newImage);
    if (diff.empty() != kestrel::FormatPeDiffText(diff).empty()) std::abort();
    const std::string json = kestrel::FormatPeDiffJson(diff, "a", "b");
    if (json.empty() || json.front() != '{') std::abort();
    return 0;
}
