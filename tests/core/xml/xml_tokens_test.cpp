#include "core/xml/xml_tokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

using T = XmlToken;
using S = XmlLineState;

// The spans of a line as "token:text" pieces, and the state it ends in.
struct Scanned {
    std::vector<std::string> pieces;
    S end = S::kText;
};

std::string tokenName(T token) {
    switch (token) {
        case T::kMarkup:
            return "markup";
        case T::kElement:
            return "element";
        case T::kAttribute:
            return "attribute";
        case T::kValue:
            return "value";
        case T::kComment:
            return "comment";
        case T::kSpecial:
            return "special";
        case T::kEntity:
            return "entity";
    }
    return "?";
}

Scanned scan(std::u16string_view line, S state = S::kText, XmlNameCharTest isNameChar = isAsciiXmlNameChar) {
    std::vector<XmlTokenSpan> spans;
    Scanned out;
    out.end = ScanXmlLine(line, state, spans, isNameChar);
    std::size_t last = 0;
    for (const XmlTokenSpan& span : spans) {
        EXPECT_GE(span.start, last) << "spans overlap or go back";
        EXPECT_GT(span.length, 0u);
        EXPECT_LE(span.start + span.length, line.size());
        last = span.start + span.length;
        const std::u16string text(line.substr(span.start, span.length));
        out.pieces.push_back(tokenName(span.token) + ":" + std::string(text.begin(), text.end()));
    }
    return out;
}

using Pieces = std::vector<std::string>;

TEST(XmlTokens, TagsSplitIntoMarkupNamesAndValues) {
    const Scanned line = scan(u"<a x=\"1\" y='2'/>text &amp; more</a>");
    EXPECT_EQ(line.pieces, (Pieces{"markup:<", "element:a", "attribute:x", "markup:=", "value:\"",
                                   "value:1\"", "attribute:y", "markup:=", "value:'", "value:2'", "markup:/>",
                                   "entity:&amp;", "markup:</", "element:a", "markup:>"}));
    EXPECT_EQ(line.end, S::kText);

    // A '<' followed by a blank opens a tag without a name; the blank is no span.
    EXPECT_EQ(scan(u"< b>").pieces, (Pieces{"markup:<", "attribute:b", "markup:>"}));
}

TEST(XmlTokens, ConstructsLeftOpenGoOnInTheNextLine) {
    struct Case {
        std::u16string first;
        S open;
        std::u16string second;
        Pieces secondPieces;
    };
    const std::vector<Case> cases = {
        {u"<!-- a", S::kComment, u"b --><c>", {"comment:b -->", "markup:<", "element:c", "markup:>"}},
        {u"<![CDATA[ x", S::kCdata, u"]]> &lt;", {"special:]]>", "entity:&lt;"}},
        {u"<?xml version", S::kSpecial, u"?> <r>", {"special:?>", "markup:<", "element:r", "markup:>"}},
        {u"<!DOCTYPE r", S::kSpecial, u">", {"special:>"}},
        {u"<a", S::kTag, u"b=\"c\">", {"attribute:b", "markup:=", "value:\"", "value:c\"", "markup:>"}},
        {u"<a b=\"one", S::kValueDouble, u"two\" c>", {"value:two\"", "attribute:c", "markup:>"}},
        {u"<a b='one", S::kValueSingle, u"it\"s' />", {"value:it\"s'", "markup:/>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first.begin(), c.first.end()));
        EXPECT_EQ(scan(c.first).end, c.open);
        const Scanned next = scan(c.second, c.open);
        EXPECT_EQ(next.pieces, c.secondPieces);
        EXPECT_EQ(next.end, S::kText);
        // A line inside the construct is one span and keeps it open.
        const Scanned inside = scan(u"plain", c.open);
        EXPECT_EQ(inside.end, c.open);
        EXPECT_EQ(inside.pieces.size(), 1u);
    }
}

TEST(XmlTokens, ReferencesAreShortAndClosed) {
    EXPECT_EQ(scan(u"&#x41; & a").pieces, (Pieces{"entity:&#x41;"}));
    // Ten units from '&' to ';' still make one; eleven do not, nor an '&' without ';'.
    EXPECT_EQ(scan(u"&abcdefghi;").pieces, (Pieces{"entity:&abcdefghi;"}));
    EXPECT_TRUE(scan(u"&abcdefghij;").pieces.empty());
    EXPECT_TRUE(scan(u"a & b").pieces.empty());
    EXPECT_TRUE(scan(u"").pieces.empty());
}

TEST(XmlTokens, NamesBeyondAsciiFollowTheCallersRule) {
    const std::u16string line = u"<\u540d \u5c5e=\"v\">";
    // Without the rule there is neither an element nor an attribute name.
    EXPECT_EQ(scan(line).pieces, (Pieces{"markup:<", "markup:=", "value:\"", "value:v\"", "markup:>"}));
    const auto anyUnitAbove127 = [](char16_t unit) { return isAsciiXmlNameChar(unit) || unit > 0x7F; };
    std::vector<XmlTokenSpan> spans;
    (void)ScanXmlLine(line, S::kText, spans, anyUnitAbove127);
    ASSERT_EQ(spans.size(), 7u);
    EXPECT_EQ(spans[1], (XmlTokenSpan{1, 1, T::kElement}));
    EXPECT_EQ(spans[2], (XmlTokenSpan{3, 1, T::kAttribute}));
}

}  // namespace
}  // namespace kestrel
