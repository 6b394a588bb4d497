// Reads arbitrary bytes as a PO file. What parses must:
// - hold only UTF-8 texts, each entry once;
// - read back the same after it is written out again.
// What fails must name a line and column inside the text and leave the output empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/po_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<kestrel::PoEntry> entries(1);
    kestrel::PoError error;
    if (kestrel::ParsePo(text, entries, error).failed()) {
        if (!entries.empty() || error.line < 1 || error.column < 1 || error.message.empty()) std::abort();
        return 0;
    }
    std::set<std::string> seen;
    for (const kestrel::PoEntry& entry : entries) {
        if (!seen.insert(std::to_string(entry.hasContext) + entry.context + '\x04' + entry.id).second)
            std::abort();
    }
    // Written out and read again: the same texts. (Comments and references are kept as single
    // lines; plural forms and flags other than fuzzy are not written.)
    std::vector<kestrel::PoEntry> again;
    if (kestrel::ParsePo(kestrel::WritePo(kestrel::PoHeader{}, entries), again, error).failed()) std::abort();
    if (again.size() != entries.size()) std::abort();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const kestrel::PoEntry& a = entries[i];
        const kestrel::PoEntry& b = again[i];
        if (a.hasContext != b.hasContext || a.context != b.context || a.id != b.id ||
            a.translation != b.translation || a.fuzzy != b.fuzzy)
            std::abort();
    }
    return 0;
}
