// A line-by-line scanner of XML text for colouring: it splits one line into spans of markup, element
// and attribute names, attribute values, comments, special sections (processing instructions, CDATA,
// DOCTYPE) and character references. Comments, CDATA sections, tags and attribute values may go on
// over the end of a line: the state a line ends in is where the next one starts. The scanner never
// fails; text that is not well-formed is split as far as it looks like XML.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace kestrel {

enum class XmlToken { kMarkup, kElement, kAttribute, kValue, kComment, kSpecial, kEntity };

// What an unfinished construct at the end of a line continues into the next one. The numbers are
// kept with each line of the editor, so they stay as they are.
enum class XmlLineState {
    kText = 0,
    kComment = 1,
    kTag = 2,
    kCdata = 3,
    kSpecial = 4,
    kValueDouble = 5,
    kValueSingle = 6,
};

struct XmlTokenSpan {
    std::size_t start = 0;
    std::size_t length = 0;
    XmlToken token = XmlToken::kMarkup;
    friend bool operator==(const XmlTokenSpan&, const XmlTokenSpan&) = default;
};

// Whether a UTF-16 code unit may stand in a name; the caller's rule for letters beyond ASCII.
using XmlNameCharTest = bool (*)(char16_t unit);

// ASCII letters and digits, '_', ':', '-' and '.'.
bool isAsciiXmlNameChar(char16_t unit);

// Scans `line` starting in `state`: appends its spans (in order, not overlapping, none empty) to
// `spans` and returns the state at its end.
XmlLineState ScanXmlLine(std::u16string_view line, XmlLineState state, std::vector<XmlTokenSpan>& spans,
                         XmlNameCharTest isNameChar = isAsciiXmlNameChar);

}  // namespace kestrel
