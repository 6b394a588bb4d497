#include "core/xml/xml_document.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/xml_tree_text.h"

namespace kestrel {
namespace {

using testing::TempDir;

std::string describe(const XmlDocument& doc) {
    return testing::xmlTreeText(doc);
}

// Parses from a heap copy of exactly the input's size, so that AddressSanitizer sees any read past
// the end.
struct ExactBuffer {
    explicit ExactBuffer(std::string_view text) : bytes(new char[text.size() + 1]), size(text.size()) {
        std::memcpy(bytes.get(), text.data(), text.size());
    }
    std::unique_ptr<char[]> bytes;
    std::size_t size;
};

struct ParseCase {
    const char* input;
    bool ok;
    const char* tree;  // expected picture (also of the partial tree after a failure)
};

class XmlParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(XmlParse, BuildsTheExpectedTree) {
    const ParseCase& c = GetParam();
    std::string input(c.input);
    ExactBuffer buffer(input);
    XmlDocument doc;
    HResult hr = doc.Parse(buffer.bytes.get(), buffer.size);
    EXPECT_EQ(hr.succeeded(), c.ok) << input;
    if (c.ok) {
        EXPECT_EQ(describe(doc), c.tree) << input;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlParse,
    ::testing::Values(
        ParseCase{"\xEF\xBB\xBF<a/>", false, ""},  // a byte-order mark
        ParseCase{"<a x='1' y=\"2\"/>", true, "a(x=1,y=2)"}, ParseCase{"<a x=1/>", false, ""},
        ParseCase{"<a/><b/>", true, "a"}, ParseCase{"<a></a><b/>", true, "a"},
        ParseCase{"<A><B/>z</A>", true, "A[B{z}]"}, ParseCase{"<A><B></B>z</A>", false, ""},
        ParseCase{"<r><a/><b/><c/></r>", true, "r[a,b,c]"},
        ParseCase{"<r><a><b/></a><c x='1'/></r>", true, "r[a[b],c(x=1)]"},
        ParseCase{"<?xml version='1.0'?>\r\n<!-- note --><!DOCTYPE r [<!ENTITY e 'v'>]>\n<r/>", true, "r"},
        ParseCase{" \t\r\n<r>  text  </r>", true, "r{text  }"}, ParseCase{"<r><s>", true, "r[s]"},
        ParseCase{"<r x='1'", true, "r(x=1)"}, ParseCase{"<r>text", false, ""},
        ParseCase{"<r x='1", false, ""}, ParseCase{"<r x", false, ""}, ParseCase{"<!-- <", false, ""},
        ParseCase{"<?pi", false, ""}, ParseCase{"<", false, ""}, ParseCase{"<r></", false, ""},
        ParseCase{"<r><s></s ></r>", false, ""}, ParseCase{"<r></r", true, "r"},
        ParseCase{"</r><r/>", false, ""},  // an end tag with nothing open
        ParseCase{"<a><b><c/></>t</b></a>", true, "a[b{t}[c]]"}, ParseCase{"<a><b><c/></b>t</a>", false, ""},
        ParseCase{"<a / x='1'/>", true, "a(x=1)"}, ParseCase{"<a x='1' x='2'/>", true, "a(x=1,x=2)"},
        ParseCase{"<a x = 'it\"s'/>", true, "a(x=it\"s)"},
        ParseCase{"<a1.b-c:d_\xB7/>", true, "a1.b-c:d_\xB7"}, ParseCase{"<1a/>", false, ""},
        ParseCase{"x", false, ""}, ParseCase{"", true, ""},
        // Names and white space that run up to the end of the text.
        ParseCase{"<abc", true, "abc"}, ParseCase{"<r><a:b.c-d_\xB7", true, "r[a:b.c-d_\xB7]"},
        ParseCase{"<r x='1'   ", true, "r(x=1)"}, ParseCase{"<r>\r\n  ", true, "r"},
        ParseCase{"<r>\r\n  <s\r\n", true, "r[s]"}, ParseCase{"<r><s></s", false, ""},
        ParseCase{"<r a ", false, ""}, ParseCase{"<r ab='1'b", false, ""}));

TEST(XmlParse, AttributeNamesAndGapsAreKeptIn16Bits) {
    XmlDocument doc;
    std::string longest(0xFFFF, 'n');
    std::string text = "<a " + longest + "=" + std::string(0xFFFD, ' ') + "'1'/>";  // both at the limit
    ASSERT_EQ(doc.Parse(text), kOk);
    EXPECT_EQ(doc.documentNode()->next()->firstAttribute()->rawValue(), "1");
    std::string tooLong = "<b " + longest + "n='1'/>";
    EXPECT_EQ(doc.Parse(tooLong), kFail);
    std::string tooWide = "<b n=" + std::string(0xFFFF, ' ') + "'1'/>";
    EXPECT_EQ(doc.Parse(tooWide), kFail);
    EXPECT_EQ(doc.SetCurrentAttribute(longest + "n", "v"), nullptr);
}

TEST(XmlParse, EveryPrefixOfADocumentStopsInsideTheData) {
    const std::string document =
        "<?xml version='1.0'?><!-- c <x> --><Directory Type='0' Named_Entries='0' ID_Entries='1'>\r\n"
        "  <Entry ID='3' Directory='1'>\r\n    <File Name='R&amp;D &x' Size='744'/>text &lt;\r\n"
        "  </Entry></>\r\n</Directory>\n";
    for (std::size_t length = 0; length <= document.size(); ++length) {
        SCOPED_TRACE(length);
        ExactBuffer buffer(std::string_view(document).substr(0, length));
        const auto begin = reinterpret_cast<std::uintptr_t>(buffer.bytes.get());
        // Every name, value and text of the tree lies in the prefix that was parsed.
        const auto inside = [&](std::string_view piece) {
            const auto at = reinterpret_cast<std::uintptr_t>(piece.data());
            return piece.empty() ||
                   (at >= begin && at - begin <= length && piece.size() <= length - (at - begin));
        };
        XmlDocument doc;
        const HResult parsed = doc.Parse(buffer.bytes.get(), buffer.size);
        int elements = 0;
        for (XmlElement* e = doc.documentNode()->next(); e; e = e->firstChild(), ++elements) {
            EXPECT_TRUE(inside(e->name()));
            EXPECT_TRUE(inside(e->rawText()));
            for (XmlAttribute* a = e->firstAttribute(); a; a = a->next()) {
                EXPECT_TRUE(inside(a->name()));
                EXPECT_TRUE(inside(a->rawValue()));
                // Decoding a value cut off inside a reference reads no further either.
                EXPECT_LE(a->value().size(), a->rawValue().size());
            }
        }
        // No prefix makes a deeper tree than the whole document.
        EXPECT_LE(elements, 3);
        if (length == document.size()) {
            EXPECT_EQ(parsed, kOk);
            EXPECT_EQ(elements, 3);
            ASSERT_NE(doc.FindElement("/Directory/Entry/File"), nullptr);
            EXPECT_EQ(XmlDocument::FindAttribute(doc.FindElement("/Directory/Entry/File"), "Size")->value(),
                      "744");
        }
    }
}

struct DecodeCase {
    const char* raw;
    const char* text;
};

class XmlDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(XmlDecode, ReadsAttributesAndTextWithEntitiesDecoded) {
    const DecodeCase& c = GetParam();
    std::string input = std::string("<a v='") + c.raw + "' w='tail;'>" + c.raw + "</a>";
    ExactBuffer buffer(input);
    XmlDocument doc;
    ASSERT_EQ(doc.Parse(buffer.bytes.get(), buffer.size), kOk) << input;
    std::string value;
    ASSERT_EQ(doc.GetAttribute("\\a", "v", value), kOk);
    EXPECT_EQ(value, c.text);
    EXPECT_EQ(doc.FindElement("/a")->text(), c.text);
    ASSERT_EQ(doc.GetAttribute("", "w", value), kOk);
    EXPECT_EQ(value, "tail;");
}

INSTANTIATE_TEST_SUITE_P(Cases, XmlDecode,
                         ::testing::Values(DecodeCase{"a&amp;b", "a&b"}, DecodeCase{"&#x41;&#65;", "AA"},
                                           DecodeCase{"x&foo;y", "xy"},
                                           DecodeCase{"&quot;&lt;&gt;&apos;", "\"<>'"},
                                           DecodeCase{"&abc;&abcd;&ab;", "&''"},  // the length rule of '&a…;'
                                           DecodeCase{"R&D", "R&D"},  // no ';' follows: kept as written
                                           DecodeCase{"x &amp y", "x &amp y"}, DecodeCase{"&;", ""},
                                           DecodeCase{"&#xE9;", "\xE9"},  // single-byte text stays one byte
                                           DecodeCase{"&#x4E2D;&#20013;", "\xE4\xB8\xAD\xE4\xB8\xAD"},
                                           DecodeCase{"a&#0;b", "ab"}, DecodeCase{"&#x110000;z", "z"},
                                           DecodeCase{"&#X41;", ""}, DecodeCase{"&#x4g;", "\x04"}));

TEST(XmlAttributes, ValueKinds) {
    XmlDocument doc;
    ASSERT_EQ(doc.Parse("<a i='-12abc' s='70000' b='200' f='1.5' d='1.0000000001' h='0x1F' "
                        "big='ffffffffffffffff' t='x' z='0' sp=' 1' e='' n='abc'/>"),
              kOk);
    auto read = [&](std::string_view name, XmlValueKind kind) {
        XmlValueRequest request;
        request.kind = kind;
        EXPECT_EQ(doc.GetAttributeValue("\\a", name, request), kOk) << name;
        return request;
    };
    EXPECT_EQ(read("i", XmlValueKind::kInt32).integer, -12);
    EXPECT_EQ(read("s", XmlValueKind::kInt16).integer, 70000 - 65536);
    EXPECT_EQ(read("b", XmlValueKind::kInt8).integer, 200 - 256);
    EXPECT_EQ(read("n", XmlValueKind::kInt32).integer, 0);
    EXPECT_EQ(read("f", XmlValueKind::kFloat).real, 1.5);
    EXPECT_EQ(read("d", XmlValueKind::kDouble).real, 1.0000000001);  // a true double
    EXPECT_NE(read("d", XmlValueKind::kFloat).real, 1.0000000001);
    EXPECT_EQ(read("n", XmlValueKind::kDouble).real, 0.0);
    EXPECT_EQ(read("h", XmlValueKind::kHex64).unsignedValue, 0x1Fu);
    EXPECT_EQ(read("big", XmlValueKind::kHex64).unsignedValue, 0xFFFFFFFFFFFFFFFFu);
    EXPECT_EQ(read("t", XmlValueKind::kBool16).integer, -1);
    EXPECT_EQ(read("z", XmlValueKind::kBool16).integer, 0);
    EXPECT_EQ(read("sp", XmlValueKind::kBool16).integer, 0);
    EXPECT_EQ(read("e", XmlValueKind::kBool16).integer, 0);
    std::int32_t value = 0;
    EXPECT_EQ(doc.GetAttributeInt("\\A", "I", value), kOk);
    EXPECT_EQ(value, -12);
    EXPECT_EQ(doc.GetAttributeInt("\\A", "missing", value), kFail);
    EXPECT_EQ(doc.GetAttributeInt("\\B", "i", value), kFail);
}

TEST(XmlAttributes, TextLimitCutsLikeTheCallersBuffer) {
    XmlDocument doc;
    ASSERT_EQ(doc.Parse("<a plain='abcdef' coded='a&amp;cdef'/>"), kOk);
    XmlValueRequest request;
    request.textLimit = 4;
    ASSERT_EQ(doc.GetAttributeValue("/a", "plain", request), kOk);
    EXPECT_EQ(request.text, "abc");
    ASSERT_EQ(doc.GetAttributeValue("/a", "coded", request), kOk);
    EXPECT_EQ(request.text, "a&");
}

TEST(XmlAttributes, EscapedValuesRoundTripEveryByte) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    XmlDocument doc;
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\E", "V", "x<y"), kOk);
    EXPECT_EQ(XmlDocument::FindAttribute(doc.GetCurrent(), "v")->rawValue(), "x&lt;y");
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\E", "All", all), kOk);
    EXPECT_EQ(doc.SetCurrentAttribute("v", "\n\"&'>")->rawValue(), "&#x0a;&quot;&amp;&apos;&gt;");

    std::string saved;
    ASSERT_EQ(doc.SaveToString(saved), kOk);
    XmlDocument again;
    ASSERT_EQ(again.Parse(saved), kOk);
    std::string value;
    ASSERT_EQ(again.GetAttribute("\\root\\e", "all", value), kOk);
    EXPECT_EQ(value, all);
    ASSERT_EQ(again.GetAttribute("", "V", value), kOk);
    EXPECT_EQ(value, "\n\"&'>");
}

// A parsed tree points into the text it was parsed from: saving into that same string would free
// or overwrite what it points into, so it is refused and the text stays as it was.
TEST(XmlOutput, SavingOverTheParsedTextIsRefused) {
    std::string text = "<ROOT><E V='value'/></ROOT>";
    const std::string original = text;
    XmlDocument doc;
    ASSERT_EQ(doc.Parse(text), kOk);
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\E", "Added", std::string(5000, 'x')), kOk);
    EXPECT_EQ(doc.SaveToString(text), kInvalidArg);
    EXPECT_EQ(text, original);

    std::string other;
    ASSERT_EQ(doc.SaveToString(other), kOk);
    EXPECT_NE(other.find("V=\"value\""), std::string::npos);
    // After a reset the tree no longer points into the text.
    doc.Reset();
    EXPECT_EQ(doc.SaveToString(text), kOk);
}

TEST(XmlAttributes, LongProgramSetValuesAreKeptWhole) {
    XmlDocument doc;
    std::string path(5000, 'p');
    std::string quotes(1000, '"');  // six bytes each once escaped
    std::string huge(40000, 'h');   // larger than a string block and than the output buffer
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\RESFILE", "FileName", path), kOk);
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\RESFILE", "Quotes", quotes), kOk);
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\RESFILE", "Huge", huge), kOk);
    std::string value;
    ASSERT_EQ(doc.GetAttribute("\\ROOT\\RESFILE", "FileName", value), kOk);
    EXPECT_EQ(value, path);
    ASSERT_EQ(doc.GetAttribute("", "Quotes", value), kOk);
    EXPECT_EQ(value, quotes);

    TempDir dir;
    ASSERT_EQ(doc.OpenOutput(dir / "big.xml"), kOk);
    ASSERT_EQ(doc.Save(), kOk);
    XmlDocument loaded;
    ASSERT_EQ(loaded.LoadFile(dir / "big.xml"), kOk);
    EXPECT_EQ(describe(loaded), describe(doc));
    ASSERT_EQ(loaded.GetAttribute("\\ROOT\\RESFILE", "Huge", value), kOk);
    EXPECT_EQ(value, huge);
}

TEST(XmlAttributes, SetOverwritesTheFirstOfThatNameAndAppendsOtherwise) {
    XmlDocument doc;
    ASSERT_EQ(doc.Parse("<a x='1' y='2' x='3'/>"), kOk);
    ASSERT_EQ(doc.SetAttribute("\\a", "X", "9"), kOk);
    ASSERT_EQ(doc.SetAttribute("\\a", "z", "0"), kOk);
    EXPECT_EQ(describe(doc), "a(X=9,y=2,x=3,z=0)");
    XmlAttribute* y = XmlDocument::FindAttribute(doc.GetCurrent(), "Y");
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(doc.SetCurrentAttribute("w", "5", y), y);
    EXPECT_EQ(describe(doc), "a(X=9,w=5,x=3,z=0)");
}

TEST(XmlPaths, WalksMatchNamesCaseInsensitively) {
    XmlDocument doc;
    ASSERT_EQ(doc.Parse("<ROOT><PEFILE a='1'/><E i='0'/><X/><E i='1'><F/></E></ROOT>"), kOk);
    ASSERT_NE(doc.FindElement("\\root\\pefile"), nullptr);
    EXPECT_EQ(doc.GetCurrent()->name(), "PEFILE");
    EXPECT_NE(doc.FindElement("/Root\\Pefile"), nullptr);
    std::string value;
    EXPECT_EQ(doc.GetAttribute("/root/e", "i", value), kOk);
    EXPECT_EQ(value, "0");
    // The index counts siblings of the element matched by the path's first name.
    EXPECT_EQ(doc.FindElement("/root/e", 1), nullptr);
    ASSERT_NE(doc.FindElement("E", 1), nullptr);  // from the first E (current) to the next E
    EXPECT_EQ(doc.GetAttribute("", "i", value), kOk);
    EXPECT_EQ(value, "1");
    EXPECT_EQ(doc.FindElement("E", 1), nullptr);
    EXPECT_NE(doc.FindElement("e\\F"), nullptr);  // relative: the current element, then its child
    EXPECT_EQ(doc.FindElement("/root/pefile/x"), nullptr);
    EXPECT_EQ(doc.FindElement("/root/nothing"), nullptr);
    EXPECT_EQ(doc.GetCurrent()->name(), "F");  // a failed walk leaves the current element alone

    XmlElement* e = doc.FindElement("/ROOT/E");
    EXPECT_EQ(doc.SetCurrent(doc.documentNode()), e);
    EXPECT_EQ(doc.FindElement(""), doc.documentNode());

    XmlDocument empty;
    EXPECT_EQ(empty.FindElement(""), nullptr);
    EXPECT_EQ(empty.FindElement("\\ROOT"), nullptr);
    EXPECT_EQ(empty.GetAttribute("", "x", value), kFail);
}

TEST(XmlPaths, MakeElementCreatesWhatIsMissingOnce) {
    XmlDocument doc;
    XmlElement* peFile = doc.MakeElement("\\ROOT\\PEFILE");
    ASSERT_NE(peFile, nullptr);
    EXPECT_EQ(doc.MakeElement("\\ROOT\\PEFILE"), peFile);
    EXPECT_EQ(doc.MakeElement("\\root\\pefile"), peFile);
    XmlElement* resFile = doc.MakeElement("\\ROOT\\RESFILE");
    EXPECT_EQ(describe(doc), "ROOT[PEFILE,RESFILE]");
    EXPECT_EQ(resFile->parent(), peFile->parent());
    EXPECT_EQ(resFile->previous(), peFile);
    EXPECT_EQ(resFile->depth(), 1u);
    doc.SetCurrent(peFile);
    EXPECT_EQ(doc.MakeElement("E", 2)->depth(), 1u);
    EXPECT_EQ(describe(doc), "ROOT[PEFILE,RESFILE,E,E,E]");
    EXPECT_EQ(doc.MakeElement("\\ROOT\\RESFILE\\A\\B")->depth(), 3u);
    EXPECT_EQ(doc.MakeElement("\\ROOT\\X", 1)->name(), "X");  // a second ROOT with its own X
    EXPECT_EQ(describe(doc), "ROOT[PEFILE,RESFILE[A[B]],E,E,E,X],ROOT[X]");
}

TEST(XmlPools, BlocksHoldAHundredEntriesAndSixteenThousandBytes) {
    XmlDocument doc;
    EXPECT_EQ(doc.elementBlockCount(), 1u);
    EXPECT_EQ(doc.attributeBlockCount(), 1u);
    EXPECT_EQ(doc.stringBlockCount(), 1u);
    std::string text = "<r>";
    for (int i = 0; i < 249; ++i)
        text += "<e a='1'/>";
    text += "</r>";
    ASSERT_EQ(doc.Parse(text), kOk);
    EXPECT_EQ(doc.elementBlockCount(), 3u);    // 250 elements and the document node
    EXPECT_EQ(doc.attributeBlockCount(), 3u);  // 249 attributes

    // Each call stores "n", a zero byte and a 97-byte value: 100 bytes with the terminator.
    XmlDocument strings;
    ASSERT_NE(strings.MakeElement("\\R"), nullptr);  // 2 bytes
    std::string value(97, 'v');
    for (int i = 0; i < 159; ++i)
        ASSERT_NE(strings.SetCurrentAttribute("n", value), nullptr);
    EXPECT_EQ(strings.stringBlockCount(), 1u);
    ASSERT_NE(strings.SetCurrentAttribute("n", value), nullptr);
    EXPECT_EQ(strings.stringBlockCount(), 2u);
    // A string of a block's size or more gets a block of its own; small strings go on as before.
    ASSERT_NE(strings.SetCurrentAttribute("n", std::string(16000, 'x')), nullptr);
    EXPECT_EQ(strings.stringBlockCount(), 3u);
    ASSERT_NE(strings.SetCurrentAttribute("n", value), nullptr);
    EXPECT_EQ(strings.stringBlockCount(), 3u);

    doc.Reset();
    EXPECT_EQ(doc.elementBlockCount(), 1u);
    EXPECT_TRUE(doc.empty());
}

TEST(XmlWrite, ProjectFileLayout) {
    TempDir dir;
    XmlDocument doc;
    ASSERT_EQ(doc.OpenOutput(dir / "theme.kestrel"), kOk);
    ASSERT_NE(doc.MakeElement("ROOT"), nullptr);
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\PEFILE", "FileName", "pe.xml"), kOk);
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\RESFILE", "FileName", "C:\\x\\theme.dll"), kOk);
    ASSERT_EQ(doc.SaveFile(), kOk);
    EXPECT_EQ(testing::readText(dir / "theme.kestrel"),
              "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<ROOT>\r\n   <PEFILE FileName=\"pe.xml\"/>\r\n"
              "   <RESFILE FileName=\"C:\\x\\theme.dll\"/>\r\n</ROOT>\r\n");
}

TEST(XmlWrite, ParsedTextAndValuesAreWrittenAsStored) {
    XmlDocument doc;
    ASSERT_EQ(doc.Parse("<a v='x&amp;y'>t&lt;<b q='say \"hi\"'>u</b></a>"), kOk);
    std::string saved;
    ASSERT_EQ(doc.SaveToString(saved), kOk);
    EXPECT_EQ(saved,
              "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<a v=\"x&amp;y\">\r\n"
              "   <b q=\"say &quot;hi&quot;\">u</b>\r\nt&lt;</a>\r\n");
    XmlDocument again;
    const std::string leaves = saved.substr(0, saved.find("t&lt;"));  // the tree points into it
    ASSERT_EQ(again.Parse(leaves), kOk);
    std::string value;
    ASSERT_EQ(again.GetAttribute("/a/b", "q", value), kOk);
    EXPECT_EQ(value, "say \"hi\"");
}

TEST(XmlWrite, SaveWithoutAnOutputNameWritesNothing) {
    TempDir dir;
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    XmlDocument doc;
    ASSERT_NE(doc.MakeElement("\\ROOT"), nullptr);
    EXPECT_EQ(doc.Save(), kFail);
    EXPECT_EQ(doc.SaveFile(), kFail);
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Lowers the file size limit so that writes past it fail with EFBIG (the signal is ignored).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST(XmlWrite, WriteErrorsAreReportedAndLeaveTheTargetAlone) {
    TempDir dir;
    XmlDocument doc;
    ASSERT_EQ(doc.SetAttribute("\\ROOT\\E", "v", std::string(100000, 'x')), kOk);
    EXPECT_TRUE(doc.OpenOutput(dir / "missing" / "out.xml").failed());
    auto target = dir.write("out.xml", "old");
    ASSERT_EQ(doc.OpenOutput(target), kOk);
    {
        FileSizeLimit limit(50000);
        EXPECT_EQ(doc.Save(), hresultFromWin32(win32::kFileTooLarge));
    }
    EXPECT_EQ(testing::readText(target), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_EQ(doc.Save(), kOk);  // by the output name, now without a limit
    EXPECT_GT(testing::readText(target).size(), 100000u);
}

TEST(XmlSaveFile, ReplacesTheLoadedFileAndEmptiesTheTree) {
    TempDir dir;
    auto path = dir.write("pe.xml", "<Directory Type='0'>\r\n  <Entry ID='3'/>\r\n</Directory>\n");
    XmlDocument doc;
    ASSERT_EQ(doc.LoadFile(path), kOk);
    EXPECT_EQ(doc.sourceName(), path);
    ASSERT_EQ(doc.SetAttribute("\\Directory\\Entry", "Name", "R&D"), kOk);
    ASSERT_EQ(doc.SaveFile(), kOk);
    EXPECT_TRUE(doc.empty());
    EXPECT_FALSE(doc.hasSource());
    EXPECT_EQ(testing::readText(path),
              "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<Directory Type=\"0\">\r\n"
              "   <Entry ID=\"3\" Name=\"R&amp;D\"/>\r\n</Directory>\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no .tmp left
}

TEST(XmlSaveFile, AFailedReplaceKeepsTheLoadedFile) {
    TempDir dir;
    auto path = dir.write("pe.xml", "<Directory Type='0'/>");
    XmlDocument doc;
    ASSERT_EQ(doc.LoadFile(path), kOk);
    // The loaded name now holds a folder that cannot be replaced by a file.
    std::filesystem::remove(path);
    dir.write("pe.xml/keep.bin", "keep");
    EXPECT_TRUE(doc.SaveFile().failed());
    EXPECT_TRUE(doc.empty());
    EXPECT_EQ(testing::readText(dir / "pe.xml" / "keep.bin"), "keep");
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        (void)entry, ++files;
    EXPECT_EQ(files, 1u);
}

TEST(XmlSaveFile, AFailedWriteKeepsTheLoadedFile) {
    TempDir dir;
    const std::string original = "<Directory Type='0'/>";
    auto path = dir.write("pe.xml", original);
    XmlDocument doc;
    ASSERT_EQ(doc.LoadFile(path), kOk);
    ASSERT_EQ(doc.SetAttribute("\\Directory", "Name", std::string(100000, 'n')), kOk);
    {
        FileSizeLimit limit(50000);
        EXPECT_TRUE(doc.SaveFile().failed());
    }
    EXPECT_TRUE(doc.empty());
    EXPECT_EQ(testing::readText(path), original);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(XmlLoad, FailuresLeaveASafeEmptyTree) {
    TempDir dir;
    XmlDocument doc;
    EXPECT_TRUE(doc.LoadFile(dir / "missing.xml").failed());
    EXPECT_EQ(doc.outputName(), dir / "missing.xml");
    EXPECT_EQ(doc.LoadFile(dir.write("empty.xml", "")), HResult::fromValue(0x800703EEu));
    EXPECT_EQ(doc.LoadFile(dir.write("bad.xml", "<a><b x='1' y=2/></a>")), kFail);
    EXPECT_TRUE(doc.empty());
    EXPECT_FALSE(doc.hasSource());
    EXPECT_EQ(doc.LoadFile(dir.write("good.xml", "<a><b/></a>")), kOk);
    EXPECT_EQ(describe(doc), "a[b]");
    // Closing the source takes the tree that points into it along.
    EXPECT_EQ(doc.CloseSource(), kOk);
    EXPECT_TRUE(doc.empty());
    EXPECT_EQ(doc.FindElement("\\a"), nullptr);
    std::string saved;
    ASSERT_EQ(doc.SaveToString(saved), kOk);
    EXPECT_EQ(saved, "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n");
}

// A description in the import's layout: nested Directory / Entry / File elements.
std::string generateDescription(int types, int ids, int languages) {
    std::string text =
        "<Directory Type='0' Named_Entries='0' ID_Entries='" + std::to_string(types) + "'>\r\n";
    for (int t = 1; t <= types; ++t) {
        text += "  <Entry ID='" + std::to_string(t) + "' Directory='1'>\r\n";
        text += "    <Directory Type='" + std::to_string(t) + "' Named_Entries='0' ID_Entries='" +
                std::to_string(ids) + "'>\r\n";
        for (int i = 1; i <= ids; ++i) {
            text += "      <Entry ID='" + std::to_string(i) + "' Directory='1'>\r\n";
            text += "        <Directory Type='" + std::to_string(i) + "' Named_Entries='0' ID_Entries='" +
                    std::to_string(languages) + "'>\r\n";
            for (int l = 0; l < languages; ++l) {
                text += "          <Entry ID='" + std::to_string(1033 + l) + "' Directory='0'>\r\n";
                text += "            <File Name='BLUE\\R&D_" + std::to_string(i) + ".BMP' Size='" +
                        std::to_string(i * 7 + l) + "' Png='0'/>\r\n          </Entry>\r\n";
            }
            text += "        </Directory>\r\n      </Entry>\r\n";
        }
        text += "    </Directory>\r\n  </Entry>\r\n";
    }
    return text + "</Directory>\r\n\n";
}

TEST(XmlRoundTrip, LargeDescriptionSurvivesLoadSaveLoad) {
    TempDir dir;
    auto original = dir.write("pe.xml", generateDescription(12, 150, 3));
    XmlDocument doc;
    ASSERT_EQ(doc.LoadFile(original), kOk);
    std::string before = describe(doc);
    EXPECT_GT(doc.elementBlockCount(), 100u);
    ASSERT_EQ(doc.OpenOutput(dir / "copy.xml"), kOk);
    ASSERT_EQ(doc.Save(), kOk);
    XmlDocument copy;
    ASSERT_EQ(copy.LoadFile(dir / "copy.xml"), kOk);
    EXPECT_EQ(describe(copy), before);

    // Saved over itself, the description loads back as the same tree once more.
    ASSERT_EQ(copy.SaveFile(), kOk);
    ASSERT_EQ(copy.LoadFile(dir / "copy.xml"), kOk);
    EXPECT_EQ(describe(copy), before);
    std::string name;
    ASSERT_EQ(copy.GetAttribute("/Directory/Entry/Directory/Entry/Directory/Entry/File", "Name", name), kOk);
    EXPECT_EQ(name, "BLUE\\R&D_1.BMP");
}

}  // namespace
}  // namespace kestrel
