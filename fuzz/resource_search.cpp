// Reads arbitrary bytes as STRINGS.XML and as the file of a resource whose type the first byte
// picks, then searches the index. Every text must lie where its offsets say in the text the text
// pane shows, and every hit must lie inside its excerpt and inside that text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/pe/resource_search.h"
#include "core/platform/text_file.h"

namespace {

constexpr std::uint16_t kTypes[] = {4, 5, 6, 9, 10, 11, 16, 23, 24};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);
    const kestrel::Bytes body = bytes.subspan(1);

    kestrel::ResourceSearchIndex index;
    const std::uint16_t type = kTypes[data[0] % std::size(kTypes)];
    const auto resource =
        index.addResource({kestrel::ResourceKey::ofId(type), kestrel::ResourceKey::ofId(1), 1033});
    (void)index.addResourceData(resource, body, (data[0] & 0x80) != 0);
    index.addStringsXml(body, 1033);

    const std::u16string shown = kestrel::DecodeTextFile(body, false).text;
    for (const kestrel::SearchText& text : index.texts()) {
        if (text.resource >= index.resources().size()) std::abort();
        if (text.place != kestrel::SearchPlace::kString) continue;
        if (text.paneOffset < 0 || static_cast<std::size_t>(text.paneOffset) > shown.size()) std::abort();
        if (text.escapedOffsets.empty()) {
            if (shown.compare(static_cast<std::size_t>(text.paneOffset), text.text.size(), text.text) != 0)
                std::abort();
        } else if (text.escapedOffsets.size() != text.text.size() + 1 ||
                   static_cast<std::size_t>(text.paneOffset) + text.escapedOffsets.back() > shown.size()) {
            std::abort();
        }
    }
    for (const char16_t* typed : {u"a", u"E", u"\u0444"}) {
        std::vector<kestrel::SearchHit> hits;
        index.search(*kestrel::MakeSearchQuery(typed, {}), 0, index.texts().size(), hits);
        for (const kestrel::SearchHit& hit : hits) {
            if (hit.matchStart + hit.matchLength > hit.excerpt.size()) std::abort();
            if (hit.paneStart > hit.paneEnd) std::abort();
        }
    }
    return 0;
}
