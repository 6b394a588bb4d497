// Scans arbitrary UTF-16LE text as lines of XML for colouring. The first byte is the state the first
// line starts in (any number: out-of-range states start as text, as the editor does); the rest is the
// text, split into lines at '\n'. The spans must be in order, not overlap, not be empty and lie in
// their line; the state a line ends in is one of the states; scanning again gives the same spans.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/xml/xml_tokens.h"

namespace {

using kestrel::XmlLineState;
using kestrel::XmlTokenSpan;

XmlLineState checkedLine(std::u16string_view line, XmlLineState state) {
    std::vector<XmlTokenSpan> spans;
    const XmlLineState end = kestrel::ScanXmlLine(line, state, spans);
    std::size_t last = 0;
    for (const XmlTokenSpan& span : spans) {
        if (span.length == 0 || span.start < last || span.start > line.size() ||
            span.length > line.size() - span.start)
            std::abort();
        last = span.start + span.length;
    }
    if (static_cast<int>(end) < 0 || end > XmlLineState::kValueSingle) std::abort();
    std::vector<XmlTokenSpan> again;
    if (kestrel::ScanXmlLine(line, state, again) != end || again != spans) std::abort();
    return end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    XmlLineState state = data[0] <= static_cast<int>(XmlLineState::kValueSingle)
                             ? static_cast<XmlLineState>(data[0])
                             : XmlLineState::kText;
    std::u16string text;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    std::u16string_view rest(text);
    for (;;) {
        const std::size_t end = rest.find(u'\n');
        state = checkedLine(rest.substr(0, end), state);
        if (end == std::u16string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return 0;
}
