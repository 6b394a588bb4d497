// The compact records of a parsed tree: edits on parsed elements and attributes, records that do
// not fit the short form, runs that cross block boundaries, and the memory a description takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/xml/xml_document.h"
#include "support/xml_tree_text.h"

namespace kestrel {
namespace {

// The tree's text, values longer than 100 bytes as their size.
std::string picture(const XmlDocument& doc) {
    return testing::xmlTreeText(doc, 100);
}

// Saves and parses again: the text must read back as the same tree.
void expectSameAfterSaving(XmlDocument& doc) {
    std::string saved;
    ASSERT_EQ(doc.SaveToString(saved), kOk);
    XmlDocument again;
    ASSERT_EQ(again.Parse(saved), kOk);
    EXPECT_EQ(picture(again), picture(doc));
}

TEST(XmlRecords, EditsOfAParsedTreeKeepEveryHandle) {
    const std::string text = "<r a='1' b='2'><x p='1'><y/></x><z/><w q='3'>t</w></r>";
    XmlDocument doc;
    ASSERT_EQ(doc.Parse(text), kOk);
    XmlElement* r = doc.FindElement("/r");
    XmlElement* x = doc.FindElement("/r/x");
    XmlElement* y = doc.FindElement("/r/x/y");
    XmlElement* z = doc.FindElement("/r/z");
    XmlElement* w = doc.FindElement("/r/w");
    XmlAttribute* a = XmlDocument::FindAttribute(r, "a");
    XmlAttribute* b = XmlDocument::FindAttribute(r, "b");
    ASSERT_TRUE(r && x && y && z && w && a && b);
    EXPECT_EQ(w->previous(), z);
    EXPECT_EQ(r->previous(), doc.documentNode());
    EXPECT_EQ(y->depth(), 2u);

    // The first child of a parsed element, then whatever comes first in its place.
    doc.RemoveElement(x);
    EXPECT_EQ(picture(doc), "r(a=1,b=2)[z,w(q=3){t}]");
    EXPECT_EQ(x->next(), nullptr);
    EXPECT_EQ(x->parent(), nullptr);
    EXPECT_EQ(x->previous(), nullptr);
    EXPECT_EQ(y->parent(), x);
    EXPECT_EQ(z->previous(), nullptr);
    XmlElement* n = doc.InsertElement(r, z, "n");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(picture(doc), "r(a=1,b=2)[n,z,w(q=3){t}]");
    EXPECT_EQ(z->previous(), n);
    doc.RemoveElement(n);
    doc.RemoveElement(z);
    doc.RemoveElement(x);  // removed before: nothing changes
    EXPECT_EQ(picture(doc), "r(a=1,b=2)[w(q=3){t}]");
    doc.RemoveElement(w);
    EXPECT_EQ(r->firstChild(), nullptr);
    ASSERT_NE(doc.InsertElement(r, nullptr, "e"), nullptr);
    EXPECT_EQ(doc.GetCurrent()->depth(), 1u);
    // A removed element still takes children of its own.
    ASSERT_NE(doc.InsertElement(x, nullptr, "k"), nullptr);
    EXPECT_EQ(doc.GetCurrent()->parent(), x);
    EXPECT_EQ(y->next(), doc.GetCurrent());
    EXPECT_EQ(picture(doc), "r(a=1,b=2)[e]");

    // Parsed attributes overwritten and followed by new ones, on elements with and without any.
    doc.SetCurrent(r);
    EXPECT_EQ(doc.SetCurrentAttribute("A", "<9>"), a);
    EXPECT_EQ(doc.SetCurrentAttribute("c", "3")->name(), "c");
    EXPECT_EQ(doc.SetCurrentAttribute("d", "4", b), b);
    EXPECT_EQ(picture(doc), "r(A=&lt;9&gt;,d=4,c=3)[e]");
    EXPECT_EQ(a->value(), "<9>");
    doc.SetCurrent(y);
    ASSERT_NE(doc.SetCurrentAttribute("v", "1"), nullptr);
    EXPECT_EQ(XmlDocument::FindAttribute(y, "V")->rawValue(), "1");
    expectSameAfterSaving(doc);
}

// Elements with 0 to 9 attributes and 0 to 2 children, enough of them that attribute runs and
// first children fall across the ends of the arena's blocks at every position.
TEST(XmlRecords, RunsAcrossBlockBoundaries) {
    std::string text = "<r>";
    std::vector<std::string> pieces;
    for (int i = 0; i < 1500; ++i) {
        std::string open = "<e" + std::to_string(i);
        std::string piece = "e" + std::to_string(i);
        if (i % 10 > 0) piece += '(';
        for (int j = 0; j < i % 10; ++j) {
            const std::string value = std::string(static_cast<std::size_t>(i % 7), 'v') + std::to_string(j);
            open += " a" + std::to_string(j) + "='" + value + "'";
            piece += (j ? ",a" : "a") + std::to_string(j) + "=" + value;
        }
        if (i % 10 > 0) piece += ')';
        const int children = i % 3;
        text += open + (children ? ">" : "/>");
        for (int c = 0; c < children; ++c)
            text += "<c" + std::to_string(c) + "/>";
        if (children) text += "</e>";
        pieces.push_back(piece);
    }
    text += "</r>";
    auto expected = [&](bool edited) {
        std::string out = "r[";
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            out += (i ? "," : "") + pieces[i];
            const int children = static_cast<int>(i % 3);
            if (edited) out += "[n" + std::string(children == 2 ? ",c1" : "") + "]";
            if (!edited && children) out += children == 2 ? "[c0,c1]" : "[c0]";
        }
        return out + "]";
    };

    XmlDocument doc;
    ASSERT_EQ(doc.Parse(text), kOk);
    EXPECT_EQ(picture(doc), expected(false));
    for (XmlElement* e = doc.FindElement("/r")->firstChild(); e; e = e->next()) {
        doc.RemoveElement(e->firstChild());
        ASSERT_NE(doc.InsertElement(e, e->firstChild(), "n"), nullptr);
    }
    EXPECT_EQ(picture(doc), expected(true));
    expectSameAfterSaving(doc);
}

// What the short records cannot hold: long names, wide gaps around '=', names far behind a huge
// value, character data before a child, and entities.
TEST(XmlRecords, LongFormsReadAndSaveAsParsed) {
    const std::string longName(300, 'N');
    const std::string huge(1500000, 'h');
    const std::string text = "<r><" + longName + " " + longName + "='1' x  =  \t  'w'><c/></" + longName +
                             "><big v='" + huge + "' after='1'/><t k='1'>x&amp;y<u/></t>" +
                             "<far n='2'/></r>";
    XmlDocument doc;
    ASSERT_EQ(doc.Parse(text), kOk);
    EXPECT_EQ(picture(doc), "r[" + longName + "(" + longName +
                                "=1,x=w)[c],big(v=<1500000 bytes>,after=1),t(k=1){x&amp;y}[u],far(n=2)]");
    XmlElement* t = doc.FindElement("/r/t");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->text(), "x&y");
    std::string value;
    EXPECT_EQ(doc.GetAttribute("/r/far", "n", value), kOk);
    EXPECT_EQ(value, "2");
    EXPECT_EQ(doc.FindElement("/r/" + longName + "/c")->depth(), 2u);
    EXPECT_EQ(XmlDocument::FindAttribute(doc.FindElement("/r/big"), "v")->rawValue(), huge);
    // Text and children together are written as text after the children, which reads back as the
    // last child's text; without the child the element saves as it was.
    doc.RemoveElement(doc.FindElement("/r/t/u"));
    expectSameAfterSaving(doc);
}

// The import's layout with the short values of a real description. A load holds the text and the
// records; with 55 % of the text for the records, a load stays within 1.6 times the file's size.
TEST(XmlRecords, RecordsOfADescriptionStayUnder55PercentOfItsText) {
    std::string text = "<Directory Type='0' Named_Entries='0' ID_Entries='9'>\r\n";
    for (int type = 1; type <= 9; ++type) {
        text += "  <Entry ID='" + std::to_string(type) + "' Directory='1'>\r\n    <Directory Type='" +
                std::to_string(type) + "' Named_Entries='0' ID_Entries='400'>\r\n";
        for (int id = 1; id <= 400; ++id) {
            text += "      <Entry ID='" + std::to_string(id) +
                    "' Directory='1'>\r\n        <Directory Type='" + std::to_string(id) +
                    "' Named_Entries='0' ID_Entries='1'>\r\n          <Entry ID='0' " +
                    "Directory='0'>\r\n            <File Name='" + std::to_string(type * 1000 + id) +
                    ".BIN' Size='4096'/>\r\n          </Entry>\r\n        </Directory>\r\n      </Entry>\r\n";
        }
        text += "    </Directory>\r\n  </Entry>\r\n";
    }
    text += "</Directory>\r\n";
    XmlDocument doc;
    ASSERT_EQ(doc.Parse(text), kOk);
    EXPECT_LT(doc.recordBytes(), text.size() * 55 / 100);
}

}  // namespace
}  // namespace kestrel
