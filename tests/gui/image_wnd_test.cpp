#include "ui/image_wnd.h"

#include <QAction>
#include <QClipboard>
#include <QDrag>
#include <QGuiApplication>
#include <QImageWriter>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QToolButton>
#include <QUrl>
#include <chrono>

#include "app/ks_doc.h"
#include "core/images/colorize_engine.h"
#include "core/platform/byte_reader.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "ui/pane_host.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;
using pebuilder::ByteVector;
using pebuilder::DibPlan;

// ----- Files made in code -------------------------------------------------------------------------

ByteVector bmpFile(const DibPlan& plan) {
    return pebuilder::bmpFileFromDib(pebuilder::makeDib(plan));
}

// A single-image .ICO or .CUR file as the import writes it: directory, one entry, the image at 22.
ByteVector iconFile(const pebuilder::IconImage& image, bool cursor) {
    const std::size_t skip = cursor ? 4 : 0;  // a cursor resource starts with its hot spot
    ByteWriter out;
    out.u16(0);
    out.u16(cursor ? 2 : 1);
    out.u16(1);
    out.u8(image.width);
    out.u8(image.height);
    out.u16(0);
    out.u32(0);
    out.u32(static_cast<std::uint32_t>(image.data.size() - skip));
    out.u32(22);
    out.append(Bytes(image.data).subspan(skip));
    return out.bytes();
}

// A 24-bit DIB file from rows of 0xRRGGBB colours, top row first.
ByteVector bmp24(const std::vector<std::vector<std::uint32_t>>& rows) {
    const auto width = static_cast<std::uint32_t>(rows.front().size());
    const std::uint32_t rowBytes = (width * 3 + 3) / 4 * 4;
    ByteWriter dib;
    dib.u32(40);
    dib.u32(width);
    dib.u32(static_cast<std::uint32_t>(rows.size()));
    dib.u16(1);
    dib.u16(24);
    dib.zeros(24);
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        for (std::uint32_t colour : *row) {
            dib.u8(colour);
            dib.u8(colour >> 8);
            dib.u8(colour >> 16);
        }
        dib.zeros(rowBytes - width * 3);
    }
    return pebuilder::bmpFileFromDib(dib.bytes());
}

// GIF89a with a 4-colour palette and one image per frame (10/100 s each). The LZW stream sends a
// clear code after every second pixel, so that the code size never grows.
ByteVector gifFile(int width, int height, const std::vector<std::vector<std::uint8_t>>& frames) {
    ByteWriter out;
    for (char c : std::string_view("GIF89a"))
        out.u8(static_cast<std::uint8_t>(c));
    out.u16(width);
    out.u16(height);
    out.u8(0x91);  // global table of 4 entries
    out.u16(0);
    for (std::uint32_t colour : {0x000000u, 0xFF0000u, 0x00C000u, 0x0000FFu}) {
        out.u8(colour >> 16);
        out.u8(colour >> 8);
        out.u8(colour);
    }
    for (const auto& pixels : frames) {
        out.append(asBytes(std::string_view("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8)));
        out.u8(0x2C);
        out.u32(0);
        out.u16(width);
        out.u16(height);
        out.u8(0);
        out.u8(2);  // minimum code size: clear 4, end 5, codes of 3 bits
        std::vector<std::uint8_t> data;
        std::uint32_t bits = 0, count = 0;
        auto put = [&](std::uint32_t code) {
            bits |= code << count;
            for (count += 3; count >= 8; count -= 8, bits >>= 8)
                data.push_back(static_cast<std::uint8_t>(bits));
        };
        put(4);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            if (i > 0 && i % 2 == 0) put(4);
            put(pixels[i]);
        }
        put(5);
        if (count > 0) data.push_back(static_cast<std::uint8_t>(bits));
        for (std::size_t at = 0; at < data.size(); at += 255) {
            const std::size_t block = std::min<std::size_t>(255, data.size() - at);
            out.u8(static_cast<std::uint32_t>(block));
            for (std::size_t i = 0; i < block; ++i)
                out.u8(data[at + i]);
        }
        out.u8(0);
    }
    out.u8(0x3B);
    return out.bytes();
}

// An AVI file of 8-bit frames (2-colour palette: black, white), `microseconds` per frame.
ByteVector aviFile(int width, int height, const std::vector<std::uint8_t>& frameFills,
                   std::uint32_t microseconds) {
    auto chunk = [](ByteWriter& out, std::string_view id, const ByteVector& body) {
        out.append(asBytes(id));
        out.u32(static_cast<std::uint32_t>(body.size()));
        out.append(asBytes(body));
        out.alignTo(2);
    };
    auto list = [&](ByteWriter& out, std::string_view type, const ByteVector& body) {
        ByteWriter inner;
        inner.append(asBytes(type));
        inner.append(asBytes(body));
        chunk(out, "LIST", inner.bytes());
    };
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) + 3) / 4 * 4;
    ByteWriter avih, strh, strf, strl, hdrl, movi, riff;
    avih.u32(microseconds);
    avih.zeros(12);
    avih.u32(static_cast<std::uint32_t>(frameFills.size()));
    avih.zeros(8);
    avih.u32(rowBytes * static_cast<std::uint32_t>(height));
    avih.u32(static_cast<std::uint32_t>(width));
    avih.u32(static_cast<std::uint32_t>(height));
    avih.zeros(16);
    strh.append(asBytes(std::string_view("vids")));
    strh.zeros(52);
    strf.u32(40);
    strf.u32(static_cast<std::uint32_t>(width));
    strf.u32(static_cast<std::uint32_t>(height));
    strf.u16(1);
    strf.u16(8);
    strf.zeros(16);
    strf.u32(2);  // colours used
    strf.u32(0);
    strf.u32(0);  // black, white
    strf.u32(0x00FFFFFF);
    chunk(strl, "strh", strh.bytes());
    chunk(strl, "strf", strf.bytes());
    chunk(hdrl, "avih", avih.bytes());
    list(hdrl, "strl", strl.bytes());
    for (std::uint8_t fill : frameFills)
        chunk(movi, "00db", ByteVector(rowBytes * static_cast<std::size_t>(height), std::byte{fill}));
    ByteWriter body;
    body.append(asBytes(std::string_view("AVI ")));
    list(body, "hdrl", hdrl.bytes());
    list(body, "movi", movi.bytes());
    chunk(riff, "RIFF", body.bytes());
    return riff.bytes();
}

void sendMouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

void sendKey(QWidget& widget, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

QRgb pixelAt(QWidget& widget, QPoint point) {
    return widget.grab().toImage().pixel(point) & 0xFFFFFFu;
}

// ----- Fixture ------------------------------------------------------------------------------------

// Records the drags it would start instead of running the blocking drag loop.
class TestImageWnd : public ImageWnd {
  public:
    using ImageWnd::ImageWnd;
    struct Drag {
        QList<QUrl> urls;
        QImage image;
        QPoint hotSpot;
    };
    std::vector<Drag> drags;

  protected:
    Qt::DropAction execDrag(QDrag& drag) override {
        drags.push_back(
            {drag.mimeData()->urls(), qvariant_cast<QImage>(drag.mimeData()->imageData()), drag.hotSpot()});
        return Qt::CopyAction;
    }
};

class ImageWndTest : public testing::IsolatedGuiTest {
  protected:
    ImageWndTest() { services.settings = settings_.get(); }

    TestImageWnd& open(const fs::path& file, int subMode = 0, QSize size = {300, 400},
                       CKsDoc* document = nullptr, XmlElement* element = nullptr) {
        wnd = std::make_unique<TestImageWnd>(nullptr, services);
        wnd->resize(size);
        wnd->show();
        wnd->ShowImageFile(file, element, document, subMode);
        return *wnd;
    }

    // A project of one bitmap entry (Bitmap00101.BMP) and one icon entry (Icon00001.ICO).
    void openProject() {
        const fs::path project = projectWith(
            "<Directory Type='0'>"
            "<Entry ID='2' Directory='1'><Directory Type='2'><Entry ID='101' Directory='1'><Directory "
            "Type='101'>"
            "<Entry ID='1033' Directory='0'><File Name='Bitmap00101.BMP' Png='0'/></Entry>"
            "</Directory></Entry></Directory></Entry>"
            "<Entry ID='3' Directory='1'><Directory Type='3'><Entry ID='1' Directory='1'><Directory Type='1'>"
            "<Entry ID='1033' Directory='0'><File Name='Icon00001.ICO'/></Entry>"
            "</Directory></Entry></Directory></Entry>"
            "</Directory>");
        folder = project.parent_path();
        temp_.write("p/Bitmap00101.BMP", bmpFile({8, 8, 8}));
        temp_.write("p/Icon00001.ICO", iconFile(pebuilder::makeIconImage(16, 4), false));
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        ASSERT_TRUE(document->OpenProject(project));
    }
    XmlElement* fileElement(std::string_view name) {
        std::vector<XmlElement*> pending{document->description().documentNode()->next()};
        while (!pending.empty()) {
            XmlElement* element = pending.back();
            pending.pop_back();
            if (element == nullptr) continue;
            XmlAttribute* attribute = XmlDocument::FindAttribute(element, "Name");
            if (XmlDocument::GetElementName(element) == "File" && attribute && attribute->value() == name)
                return element;
            pending.push_back(element->next());
            pending.push_back(element->firstChild());
        }
        return nullptr;
    }
    static std::string attribute(XmlElement* element, std::string_view name) {
        XmlAttribute* found = XmlDocument::FindAttribute(element, name);
        return found ? found->value() : std::string("<none>");
    }

    testing::GuiScriptedSink sink;
    ImagePaneServices services;
    std::unique_ptr<TestImageWnd> wnd;
    std::unique_ptr<CKsDoc> document;
    fs::path folder;
};

// ----- Kinds, information lines, drawing ----------------------------------------------------------

struct KindCase {
    const char* name;
    ByteVector (*file)();
    int subMode;
    ImageKind kind;
    QSize size;
    const char* depthLine;
};

class ImageKindTest : public ImageWndTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(ImageKindTest, ShowsThePictureWithItsInformationLines) {
    const KindCase& c = GetParam();
    const ByteVector bytes = c.file();
    ImageWnd& pane = open(temp_.write(c.name, bytes), c.subMode);
    EXPECT_EQ(pane.kind(), c.kind);
    ASSERT_NE(pane.currentDib(), nullptr);
    EXPECT_EQ(pane.pictureSize(), c.size);
    ASSERT_EQ(pane.informationLines().size(), 4);
    const std::string extension = extensionOf(c.name);
    EXPECT_EQ(
        pane.informationLines()[0].toStdString(),
        "文件名称: " + std::string(c.name).substr(0, std::strlen(c.name) - extension.size()) + extension);
    EXPECT_EQ(pane.informationLines()[2].toStdString(),
              "图象大小: " + std::to_string(c.size.width()) + "x" + std::to_string(c.size.height()));
    EXPECT_EQ(pane.informationLines()[3].toStdString(), c.depthLine);
    if (c.kind == ImageKind::kBitmap) {
        EXPECT_EQ(pane.shownSize(), bytes.size() - 14);
    } else if (c.kind == ImageKind::kIcon || c.kind == ImageKind::kCursor) {
        EXPECT_EQ(pane.shownSize(), bytes.size() - 22);
    }
    EXPECT_EQ(pane.imageRect().topLeft(), QPoint(8, 75));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ImageKindTest,
    ::testing::Values(KindCase{"one.bmp",
                               [] {
                                   return bmpFile({9, 5, 1});
                               },
                               0,
                               ImageKind::kBitmap,
                               {9, 5},
                               "像素深度/色彩: 1/2"},
                      KindCase{"four.BMP",
                               [] {
                                   return bmpFile({13, 7, 4});
                               },
                               0,
                               ImageKind::kBitmap,
                               {13, 7},
                               "像素深度/色彩: 4/16"},
                      KindCase{"eight.bmp",
                               [] {
                                   return bmpFile({32, 24, 8});
                               },
                               0,
                               ImageKind::kBitmap,
                               {32, 24},
                               "像素深度/色彩: 8/256"},
                      KindCase{"fields16.bmp",
                               [] {
                                   return bmpFile({10, 6, 16, true});
                               },
                               0,
                               ImageKind::kBitmap,
                               {10, 6},
                               "像素深度/色彩: 16/65536"},
                      KindCase{"top24.bmp",
                               [] {
                                   return bmpFile({17, 9, 24, false, true});
                               },
                               0,
                               ImageKind::kBitmap,
                               {17, 9},
                               "像素深度/色彩: 24/16m"},
                      KindCase{"fields32.bmp",
                               [] {
                                   return bmpFile({40, 20, 32, true});
                               },
                               0,
                               ImageKind::kBitmap,
                               {40, 20},
                               "像素深度/色彩: 24+8Alpha/16m"},
                      KindCase{"v5.bmp",
                               [] {
                                   return bmpFile({16, 16, 32, true, false, true});
                               },
                               0,
                               ImageKind::kBitmap,
                               {16, 16},
                               "像素深度/色彩: 24+8Alpha/16m"},
                      // A PNG always reports 32 bits, whatever its own depth.
                      KindCase{"Bitmap00001.PNG",
                               [] { return pebuilder::makePngIconImage(24).data; },
                               0,
                               ImageKind::kPng,
                               {24, 24},
                               "像素深度/色彩: 24+8Alpha/16m"},
                      KindCase{"Icon00001.ICO",
                               [] { return iconFile(pebuilder::makeIconImage(32, 4), false); },
                               0,
                               ImageKind::kIcon,
                               {32, 32},
                               "像素深度/色彩: 4/16"},
                      KindCase{"Icon00002.ico",
                               [] { return iconFile(pebuilder::makeIconImage(16, 32), false); },
                               0,
                               ImageKind::kIcon,
                               {16, 16},
                               "像素深度/色彩: 24+8Alpha/16m"},
                      KindCase{"Icon00003.ICO",
                               [] { return iconFile(pebuilder::makePngIconImage(48), false); },
                               0,
                               ImageKind::kIcon,
                               {48, 48},
                               "像素深度/色彩: 24+8Alpha/16m"},
                      KindCase{"Cursor00001.CUR",
                               [] { return iconFile(pebuilder::makeCursorImage(32, 8, 3, 4), true); },
                               0,
                               ImageKind::kCursor,
                               {32, 32},
                               "像素深度/色彩: 8/256"}));

TEST_F(ImageWndTest, ABmpFileOf1078BytesReports1064) {
    const ByteVector bytes = bmpFile({16, 16, 32});
    ASSERT_EQ(bytes.size(), 1078u);
    ImageWnd& pane = open(temp_.write("a.bmp", bytes));
    ASSERT_EQ(pane.informationLines().size(), 4);
    EXPECT_EQ(pane.informationLines()[1].toStdString(), "文件大小: 1064 字节");
}

TEST_F(ImageWndTest, PngSizeLineIsTheDibImageSizePlusHeader) {
    ImageWnd& pane = open(temp_.write("x.png", pebuilder::makePngIconImage(10).data));
    ASSERT_NE(pane.currentDib(), nullptr);
    EXPECT_EQ(pane.shownSize(), 10u * 10u * 4u + 40u);
}

TEST_F(ImageWndTest, TruncatedOrHostileDibsShowNothing) {
    ByteVector truncated = bmpFile({32, 24, 8});
    truncated.resize(truncated.size() - 1);
    ByteVector hugeWidth = bmpFile({4, 4, 24});
    ByteWriter patch;
    patch.bytes() = hugeWidth;
    patch.patchU32(18, 0x7FFFFFFF);
    hugeWidth = patch.bytes();
    ByteVector negativeIconHeight = iconFile(pebuilder::makeIconImage(16, 8), false);
    patch.bytes() = negativeIconHeight;
    patch.patchU32(22 + 8, static_cast<std::uint32_t>(-32));
    negativeIconHeight = patch.bytes();
    ByteVector shortIcon = iconFile(pebuilder::makeIconImage(16, 8), false);
    shortIcon.resize(22 + 40 + 100);
    const std::vector<std::pair<std::string, ByteVector>> files = {
        {"truncated.bmp", truncated},
        {"width.bmp", hugeWidth},
        {"tiny.bmp", ByteVector(13, std::byte{0x42})},
        {"header.bmp", ByteVector(truncated.begin(), truncated.begin() + 30)},
        {"Icon1.ico", negativeIconHeight},
        {"Icon2.ico", shortIcon},
        {"Cursor1.cur", ByteVector(22, std::byte{0})},
        {"bad.png", pebuilder::bytesOf("\x89PNG\r\n\x1a\n not really")},
    };
    for (const auto& [name, bytes] : files) {
        ImageWnd& pane = open(temp_.write(name, bytes));
        EXPECT_EQ(pane.currentDib(), nullptr) << name;
        EXPECT_TRUE(pane.informationLines().isEmpty()) << name;
        EXPECT_TRUE(pane.imageRect().isEmpty()) << name;
        (void)pane.grab();  // painting without a picture
    }
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(sink.errors.empty());
}

TEST_F(ImageWndTest, ZoomFitsTheCappedWidthUnlessRealSizeIsChecked) {
    EXPECT_EQ(imageZoom({16, 16}, {300, 400}, true, false), 16);  // 260 / 16
    EXPECT_EQ(imageZoom({16, 16}, {1000, 150}, true, false), 4);  // (150 − 83) / 16
    EXPECT_EQ(imageZoom({16, 16}, {1000, 150}, false, false), 6);
    EXPECT_EQ(imageZoom({400, 10}, {300, 400}, true, false), 1);
    EXPECT_EQ(imageZoom({16, 16}, {300, 400}, true, true), 1);

    ImageWnd& pane = open(temp_.write("a.bmp", bmpFile({16, 16, 8})));
    EXPECT_EQ(pane.zoom(), 16);
    EXPECT_EQ(pane.imageRect(), QRect(8, 75, 256, 256));
    pane.realSizeAction()->trigger();
    EXPECT_EQ(pane.zoom(), 1);
    int stored = -1;
    ASSERT_TRUE(settings_->GetIntSetting("ImageWnd", "ScaleToFit", stored, 1).succeeded());
    EXPECT_EQ(stored, 0);
    // A new pane starts from the setting.
    EXPECT_TRUE(open(temp_.write("b.bmp", bmpFile({16, 16, 8}))).realSizeAction()->isChecked());
    EXPECT_EQ(wnd->zoom(), 1);
}

TEST_F(ImageWndTest, DrawsRowsTopDownNearestNeighbourAndAlphaOverTheCheckerboard) {
    ImageWnd& pane = open(temp_.write("q.bmp", bmp24({{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}})));
    ASSERT_EQ(pane.zoom(), 130);
    // Corners of each block: no blending at the block edges.
    EXPECT_EQ(pixelAt(pane, {8, 75}), 0xFF0000u);
    EXPECT_EQ(pixelAt(pane, {8 + 129, 75 + 129}), 0xFF0000u);
    EXPECT_EQ(pixelAt(pane, {8 + 130, 75}), 0x00FF00u);
    EXPECT_EQ(pixelAt(pane, {8, 75 + 130}), 0x0000FFu);
    EXPECT_EQ(pixelAt(pane, {8 + 259, 75 + 259}), 0xFFFFFFu);

    // 32 bits: an opaque red pixel and a transparent one, which shows the checkerboard.
    ByteWriter dib;
    dib.u32(40);
    dib.u32(2);
    dib.u32(1);
    dib.u16(1);
    dib.u16(32);
    dib.zeros(24);
    dib.u32(0xFFFF0000);
    dib.u32(0x00000000);
    open(temp_.write("alpha.bmp", pebuilder::bmpFileFromDib(dib.bytes())));
    EXPECT_EQ(pixelAt(*wnd, {8 + 10, 75 + 10}), 0xFF0000u);
    const QRgb background = pixelAt(*wnd, {8 + 131, 75 + 1});
    EXPECT_TRUE(background == 0xFFFFFFu || background == 0xC0C0C0u) << std::hex << background;
}

TEST_F(ImageWndTest, GroupsListTheirMembersAndDrawTheImagesBelow) {
    const std::vector<std::pair<pebuilder::IconImage, std::uint16_t>> icons = {
        {pebuilder::makeIconImage(16, 4), 1},
        {pebuilder::makeIconImage(32, 8), 2},
        {pebuilder::makeIconImage(48, 32), 3}};
    for (const auto& [image, id] : icons)
        temp_.write("g/Icon0000" + std::to_string(id) + ".ico", iconFile(image, false));
    ImageWnd& pane = open(temp_.write("g/1400001", pebuilder::makeIconGroup(icons)), 9);
    EXPECT_EQ(pane.kind(), ImageKind::kIconGroup);
    EXPECT_EQ(pane.groupListing().split('\n', Qt::SkipEmptyParts).size(), 2 + 3);
    EXPECT_EQ(pane.memberPictureCount(), 3);
    EXPECT_TRUE(pane.informationLines().isEmpty());

    // A missing member leaves a gap; the cursor group finds Cursor00003.CUR by its ID.
    fs::remove(temp_ / "g/Icon00002.ico");
    pane.LoadImage();
    EXPECT_EQ(pane.memberPictureCount(), 2);
    const pebuilder::IconImage cursor = pebuilder::makeCursorImage(32, 1, 0, 0);
    temp_.write("c/Cursor00003.CUR", iconFile(cursor, true));
    open(temp_.write("c/1200001", pebuilder::makeCursorGroup({{cursor, 3}})), 10);
    EXPECT_EQ(wnd->kind(), ImageKind::kCursorGroup);
    EXPECT_EQ(wnd->memberPictureCount(), 1);
}

TEST_F(ImageWndTest, OtherPicturesShowThroughQtReadersAndTheAviReader) {
    ImageWnd& gif =
        open(temp_.write("anim.gif", gifFile(4, 2, {{1, 1, 2, 2, 1, 1, 2, 2}, {3, 3, 3, 3, 0, 0, 0, 0}})));
    EXPECT_EQ(gif.kind(), ImageKind::kOther);
    EXPECT_EQ(gif.otherFrameCount(), 2);
    EXPECT_TRUE(testing::waitUntil([&] { return !gif.otherFrame().isNull(); }));
    EXPECT_EQ(gif.otherFrame().size(), QSize(4, 2));
    EXPECT_EQ(gif.currentDib(), nullptr);
    EXPECT_TRUE(gif.informationLines().isEmpty());

    QImage photo(20, 10, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    const fs::path jpeg = temp_ / "photo.jpg";
    ASSERT_TRUE(photo.save(QString::fromStdString(jpeg.string()), "JPEG"));
    EXPECT_EQ(open(jpeg).otherFrameCount(), 1);
    EXPECT_EQ(wnd->otherFrame().size(), QSize(20, 10));

    // The movie plays: the frames change with the timer.
    ImageWnd& avi = open(temp_.write("AVI00150.AVI", aviFile(6, 3, {0, 1, 0}, 20000)));
    EXPECT_EQ(avi.otherFrameCount(), 3);
    ASSERT_FALSE(avi.otherFrame().isNull());
    EXPECT_EQ(avi.otherFrame().pixel(0, 0) & 0xFFFFFFu, 0u);
    EXPECT_TRUE(testing::waitUntil([&] { return (avi.otherFrame().pixel(0, 0) & 0xFFFFFFu) == 0xFFFFFFu; }));

    for (const char* name : {"junk.gif", "junk.jpg", "junk.avi", "junk.xyz"}) {
        EXPECT_EQ(open(temp_.write(name, pebuilder::bytesOf("RIFF\x10\0\0\0AVI garbage"))).otherFrameCount(),
                  0)
            << name;
        (void)wnd->grab();
    }
}

// ----- Replace ------------------------------------------------------------------------------------

TEST_F(ImageWndTest, ReplaceCopiesIntoTheFolderAndRenamesTheEntry) {
    openProject();
    XmlElement* bitmap = fileElement("Bitmap00101.BMP");
    ASSERT_NE(bitmap, nullptr);
    const fs::path shown = folder / "Bitmap00101.BMP";
    ImageWnd& pane = open(shown, 0, {300, 400}, document.get(), bitmap);

    // The shown file itself: nothing happens.
    pane.ReplaceWith(shown);
    EXPECT_TRUE(sink.questions.empty());
    EXPECT_EQ(attribute(bitmap, "Name"), "Bitmap00101.BMP");

    // A PNG: other extension (asked), Name ends ".BMP" for the compile's conversion, Png flag 1.
    const fs::path png = temp_.write("elsewhere/Logo.png", pebuilder::makePngIconImage(12).data);
    sink.answers = {Answer::kYes};
    pane.ReplaceWith(png);
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_NE(sink.questions[0].find("不同扩展名"), std::string::npos);
    EXPECT_EQ(attribute(bitmap, "Name"), "Logo.BMP");
    EXPECT_EQ(attribute(bitmap, "Png"), "1");
    EXPECT_EQ(testing::readBytes(folder / "Logo.png"), testing::readBytes(png));
    EXPECT_EQ(pane.path(), folder / "Logo.png");
    EXPECT_EQ(pane.kind(), ImageKind::kPng);

    // Back to a bitmap: Png flag 0.
    const fs::path bmp = temp_.write("elsewhere/New.bmp", bmpFile({5, 5, 24}));
    sink.answers = {Answer::kYes};
    pane.ReplaceWith(bmp);
    EXPECT_EQ(attribute(bitmap, "Name"), "New.bmp");
    EXPECT_EQ(attribute(bitmap, "Png"), "0");
    EXPECT_EQ(pane.pictureSize(), QSize(5, 5));

    // A different extension declined: nothing changes.
    sink.answers = {Answer::kNo};
    pane.ReplaceWith(temp_.write("elsewhere/x.gif", gifFile(2, 2, {{1, 2, 3, 0}})));
    EXPECT_EQ(attribute(bitmap, "Name"), "New.bmp");
    EXPECT_FALSE(fs::exists(folder / "x.gif"));
}

TEST_F(ImageWndTest, ReplaceAsksBeforeOverwritingAnotherResourcesFile) {
    openProject();
    XmlElement* bitmap = fileElement("Bitmap00101.BMP");
    ImageWnd& pane = open(folder / "Bitmap00101.BMP", 0, {300, 400}, document.get(), bitmap);
    const ByteVector other = bmpFile({3, 3, 24, false, false, false, 7});
    temp_.write("p/Other.bmp", other);
    const fs::path chosen = temp_.write("elsewhere/Other.bmp", bmpFile({6, 6, 8}));

    pane.ReplaceWith(chosen);  // the default answer is No
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_EQ(sink.questions[0],
              "文件 '" + pathToUtf8(folder / "Other.bmp") + "' 已存在并被其他资源使用。\r\n\r\n要覆盖它吗？");
    EXPECT_EQ(testing::readBytes(folder / "Other.bmp"), other);
    EXPECT_EQ(attribute(bitmap, "Name"), "Bitmap00101.BMP");
    EXPECT_EQ(pane.path(), folder / "Bitmap00101.BMP");

    sink.answers = {Answer::kYes};
    pane.ReplaceWith(chosen);
    EXPECT_EQ(testing::readBytes(folder / "Other.bmp"), testing::readBytes(chosen));
    EXPECT_EQ(attribute(bitmap, "Name"), "Other.bmp");

    // A file of the same name as the shown one replaces it without a question.
    sink.questions.clear();
    const fs::path same = temp_.write("elsewhere2/Other.bmp", bmpFile({7, 7, 4}));
    pane.ReplaceWith(same);
    EXPECT_TRUE(sink.questions.empty());
    EXPECT_EQ(testing::readBytes(folder / "Other.bmp"), testing::readBytes(same));
}

TEST_F(ImageWndTest, AFailedCopyReportsTheChainAndKeepsTheTarget) {
    openProject();
    XmlElement* icon = fileElement("Icon00001.ICO");
    ImageWnd& pane = open(folder / "Icon00001.ICO", 0, {300, 400}, document.get(), icon);
    const ByteVector before = testing::readBytes(folder / "Icon00001.ICO");
    // The chosen "file" is a folder: reading it fails.
    fs::create_directories(temp_ / "elsewhere/Icon00001.ICO");
    pane.ReplaceWith(temp_ / "elsewhere/Icon00001.ICO");
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("复制 '" + pathToUtf8(temp_ / "elsewhere/Icon00001.ICO") + "' 文件到 '" +
                                  pathToUtf8(folder / "Icon00001.ICO") + "' 的时候发生错误。"),
              std::string::npos)
        << sink.errors[0];
    EXPECT_NE(sink.errors[0].find("0x80070005"), std::string::npos) << sink.errors[0];
    EXPECT_EQ(testing::readBytes(folder / "Icon00001.ICO"), before);
    EXPECT_EQ(attribute(icon, "Name"), "Icon00001.ICO");
    EXPECT_EQ(pane.path(), folder / "Icon00001.ICO");
}

// ----- Drag and drop ------------------------------------------------------------------------------

TEST_F(ImageWndTest, DragStartsOnlyOutsideTheThreePixelSquareAndEscapeCancels) {
    const fs::path file = temp_.write("Bitmap00007.BMP", bmpFile({16, 16, 24}));
    TestImageWnd& pane = open(file);
    const QPoint start(8 + 40, 75 + 40);
    auto press = [&](QPoint at) {
        sendMouse(pane, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    };
    auto move = [&](QPoint to) { sendMouse(pane, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton); };
    auto release = [&](QPoint at) {
        sendMouse(pane, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    };
    press(start);
    EXPECT_TRUE(pane.isDetectingDrag());
    move(start + QPoint(3, -3));
    EXPECT_TRUE(pane.drags.empty());
    release(start + QPoint(3, -3));
    EXPECT_FALSE(pane.isDetectingDrag());

    press(start);
    sendKey(pane, Qt::Key_Escape);
    EXPECT_FALSE(pane.isDetectingDrag());
    move(start + QPoint(20, 0));
    EXPECT_TRUE(pane.drags.empty());
    release(start + QPoint(20, 0));

    // Outside the picture nothing is draggable.
    press(QPoint(290, 390));
    EXPECT_FALSE(pane.isDetectingDrag());
    release(QPoint(290, 390));

    press(start);
    move(start + QPoint(0, 4));
    ASSERT_EQ(pane.drags.size(), 1u);
    EXPECT_EQ(pane.drags[0].urls, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    EXPECT_EQ(pane.drags[0].image.size(), QSize(16, 16));
    EXPECT_EQ(pane.drags[0].hotSpot, QPoint(2, 2));  // 40 pixels into a picture shown 16 times
    release(start + QPoint(0, 4));
}

TEST_F(ImageWndTest, ADroppedFileReplacesTheShownOne) {
    openProject();
    XmlElement* bitmap = fileElement("Bitmap00101.BMP");
    ImageWnd& pane = open(folder / "Bitmap00101.BMP", 0, {300, 400}, document.get(), bitmap);
    const fs::path dropped = temp_.write("elsewhere/Dropped.bmp", bmpFile({11, 3, 24}));

    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&pane, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropEvent(QPointF(50, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&pane, &dropEvent);
        return dropEvent.isAccepted();
    };
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(dropped.string()));
    EXPECT_FALSE(drop({url, url}));
    EXPECT_FALSE(drop({QUrl("https://example.org/a.bmp")}));
    EXPECT_EQ(pane.path(), folder / "Bitmap00101.BMP");

    EXPECT_TRUE(drop({url}));
    EXPECT_EQ(pane.path(), folder / "Dropped.bmp");
    EXPECT_EQ(pane.pictureSize(), QSize(11, 3));
    EXPECT_EQ(attribute(bitmap, "Name"), "Dropped.bmp");
}

// ----- File watch, colorize, toolbar --------------------------------------------------------------

TEST_F(ImageWndTest, ANewerFileIsReloadedByTheWatch) {
    const fs::path file = temp_.write("w.bmp", bmpFile({4, 4, 24}));
    ImageWnd& pane = open(file);
    ASSERT_EQ(pane.pictureSize(), QSize(4, 4));
    temp_.write("w.bmp", bmpFile({8, 2, 24}));
    fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(5));
    EXPECT_TRUE(testing::waitUntil([&] { return pane.pictureSize() == QSize(8, 2); },
                                   ImageWnd::kWatchIntervalMs * 3));
}

TEST_F(ImageWndTest, ApplyColorizeAsksAndRecoloursTheFileOrTheProjectFolder) {
    openProject();
    const ByteVector original = testing::readBytes(folder / "Bitmap00101.BMP");
    const fs::path temporary = temp_.write("data/Quillon/Kestrel/Temp/Bitmap00101.BMP", original);
    ImageWnd& pane =
        open(folder / "Bitmap00101.BMP", 0, {300, 400}, document.get(), fileElement("Bitmap00101.BMP"));
    pane.colorizeEngine().BuildHueTables(512, 0, 0, 0, false, true);

    EXPECT_EQ(pane.ApplyColorize(false, false), 0);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"应用之前请选择复选框其中的一个。"});
    EXPECT_TRUE(sink.questions.empty());

    sink.answers = {Answer::kNo};
    EXPECT_EQ(pane.ApplyColorize(true, false), 0);
    EXPECT_EQ(sink.questions.back(), "警告：应用将覆盖文件\n\n" + pathToUtf8(folder / "Bitmap00101.BMP") +
                                         "\n\n你无法撤消此项操作。\r\n\r\n你确定要这么做吗？");
    EXPECT_EQ(testing::readBytes(folder / "Bitmap00101.BMP"), original);

    // What the engine makes of a copy is what the pane writes.
    const fs::path expected = temp_.write("expected/Bitmap00101.BMP", original);
    ASSERT_TRUE(pane.colorizeEngine().RecolorFile(expected).succeeded());
    ASSERT_NE(testing::readBytes(expected), original);
    sink.answers = {Answer::kYes};
    EXPECT_EQ(pane.ApplyColorize(true, false), 1);
    EXPECT_EQ(testing::readBytes(folder / "Bitmap00101.BMP"), testing::readBytes(expected));

    // All images: the folder of the project's pe.xml, never the data folder's Temp.
    const ByteVector iconBefore = testing::readBytes(folder / "Icon00001.ICO");
    sink.answers = {Answer::kYes};
    EXPECT_EQ(pane.ApplyColorize(false, true), 1);
    EXPECT_NE(sink.questions.back().find(pathToUtf8(folder)), std::string::npos);
    EXPECT_NE(testing::readBytes(folder / "Icon00001.ICO"), iconBefore);
    EXPECT_EQ(testing::readBytes(temporary), original);
    EXPECT_TRUE(sink.errors.empty());
}

TEST_F(ImageWndTest, AFailedRecolourShowsTheErrorDialog) {
    ByteVector broken = bmpFile({8, 8, 24});
    broken.resize(30);
    ImageWnd& pane = open(temp_.write("Broken.BMP", broken));
    sink.answers = {Answer::kYes};
    EXPECT_EQ(pane.ApplyColorize(true, false), 1);
    EXPECT_EQ(sink.errors.size(), 1u);
}

TEST_F(ImageWndTest, PreviewRecoloursTheScreenButNotTheFile) {
    const ByteVector bytes = bmp24({{0xFF0000}});
    const fs::path file = temp_.write("p.bmp", bytes);
    ImageWnd& pane = open(file);
    ColorizeEngine& engine = pane.colorizeEngine();
    // Red becomes blue: red is made of green, green of blue, blue of red.
    engine.BuildMatrixTables({0, 100, 0, 0, 0, 100, 100, 0, 0}, 0, 0, 0, false, true);
    EXPECT_EQ(pixelAt(pane, {20, 90}), 0xFF0000u);
    pane.PreviewColorize();
    EXPECT_TRUE(pane.isPreviewing());
    EXPECT_EQ(pixelAt(pane, {20, 90}), 0x0000FFu);
    EXPECT_EQ(testing::readBytes(file), bytes);
    pane.LoadImage();
    EXPECT_EQ(pixelAt(pane, {20, 90}), 0xFF0000u);
}

TEST_F(ImageWndTest, EditButtonLaunchesEditorsAndOffersTheEditorOptions) {
    const EditorList editors = {{"Paint", "paint", "", ""}, {"Draw", "draw", "--new", ""}};
    std::vector<std::string> launched;
    std::vector<int> pages;
    services.imageEditors = &editors;
    services.launchEditor = [&](const fs::path& file, const EditorCommand* editor) {
        launched.push_back(editor ? editor->name : "<first>");
        EXPECT_EQ(file.filename(), "e.bmp");
        return ReportError(true, "test", 1, kFail);
    };
    services.openOptions = [&](int page) { pages.push_back(page); };
    ImageWnd& pane = open(temp_.write("e.bmp", bmpFile({4, 4, 8})));

    pane.editButton()->click();
    EXPECT_EQ(launched, std::vector<std::string>{"<first>"});
    EXPECT_EQ(sink.errors.size(), 1u);  // a failed launch shows the error dialog

    emit pane.editMenu()->aboutToShow();
    const QList<QAction*> actions = pane.editMenu()->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[1]->text(), "Draw");
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), "定制编辑器 ...");
    actions[1]->trigger();
    actions[3]->trigger();
    EXPECT_EQ(launched, (std::vector<std::string>{"<first>", "Draw"}));
    EXPECT_EQ(pages, std::vector<int>{0});

    // Without editors only the options entry remains.
    const EditorList none;
    services.imageEditors = &none;
    open(temp_.write("e.bmp", bmpFile({4, 4, 8})));
    emit wnd->editMenu()->aboutToShow();
    EXPECT_EQ(wnd->editMenu()->actions().size(), 1);
}

TEST_F(ImageWndTest, HostRoutesCopyAndTheHexButtonSwitchesPanes) {
    openProject();
    registerPaneFactory(PaneType::kImage, makeImagePaneFactory(services));
    struct FactoryReset {
        ~FactoryReset() { registerPaneFactory(PaneType::kImage, {}); }
    } factoryReset;
    PaneHost host;
    host.resize(400, 400);
    host.QWidget::show();
    XmlElement* bitmap = fileElement("Bitmap00101.BMP");
    host.Select(document.get(), bitmap->parent());
    auto* pane = qobject_cast<ImageWnd*>(host.activeWidget());
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->pictureSize(), QSize(8, 8));

    ASSERT_TRUE(host.canEdit(EditCommand::kCopy));
    QGuiApplication::clipboard()->clear();
    host.edit(EditCommand::kCopy);
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(8, 8));

    pane->hexAction()->trigger();
    EXPECT_TRUE(testing::waitUntil([&] { return host.kind() == PaneKind::kHex; }));
    EXPECT_EQ(host.currentPath(), folder / "Bitmap00101.BMP");
}

// ----- Screenshots of real files ------------------------------------------------------------------

bool alphaBitmap(const ImageWnd& pane) {
    const QSize size = pane.pictureSize();
    return pane.informationLines().size() == 4 && pane.informationLines()[3].contains("Alpha") &&
           size.width() >= 40 && size.height() >= 40 && size.height() <= size.width() * 2;
}
bool trueColourBitmap(const ImageWnd& pane) {
    return pane.informationLines().size() == 4 && pane.informationLines()[3].endsWith("24/16m");
}
bool wideBitmap(const ImageWnd& pane) {
    return pane.pictureSize().width() >= 24;
}
bool moving(const ImageWnd& pane) {
    return pane.otherFrameCount() > 1;
}
bool threeMembers(const ImageWnd& pane) {
    return pane.memberPictureCount() >= 3;
}
bool anyDib(const ImageWnd& pane) {
    return pane.currentDib() != nullptr;
}

struct Shot {
    const char* dll;
    const char* folder;     // inside the working folder
    const char* extension;  // or a name prefix when it has no dot
    int subMode;
    QSize size;
    bool realSize;
    bool (*wanted)(const ImageWnd&);
    const char* name;
};

class ImageWndCorpusTest : public ImageWndTest {
  protected:
    // Imports a corpus DLL once per test and returns its working folder (empty without the corpus).
    fs::path imported(const std::string& name) {
        fs::path& folder = imports_[name];
        if (!folder.empty()) return folder;
        const fs::path dll = testing::corpusFile("usr/lib/i386-linux-gnu/wine/i386-windows/" + name);
        fs::path project;
        if (!dll.empty() && DecompileProject(dll, temp_ / name, project).succeeded()) folder = temp_ / name;
        return folder;
    }
    // Shows the files of the shot's folder in name order until one is what the shot wants.
    bool showFirst(const Shot& shot) {
        const fs::path from = imported(shot.dll) / shot.folder;
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(from)) {
            const std::string name = entry.path().filename().string();
            const bool matches = shot.extension[0] == '.' ? iendsWithAscii(name, shot.extension)
                                                          : istartsWithAscii(name, shot.extension);
            if (entry.is_regular_file() && matches) files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            if (shot.wanted(open(file, shot.subMode, shot.size))) return true;
        }
        return false;
    }
    std::map<std::string, fs::path> imports_;
};

TEST_F(ImageWndCorpusTest, ScreenshotsOfRealResources) {
    for (const char* dll : {"shell32.dll", "light.msstyles", "user32.dll"})
        if (imported(dll).empty()) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    const Shot shots[] = {
        {"light.msstyles", "BLUE", ".BMP", 0, {560, 420}, false, alphaBitmap, "image_pane_msstyles_32bit"},
        {"light.msstyles",
         "BLUE",
         ".BMP",
         0,
         {560, 420},
         false,
         trueColourBitmap,
         "image_pane_msstyles_24bit"},
        {"shell32.dll", "", ".png", 0, {560, 420}, false, wideBitmap, "image_pane_shell32_bitmap"},
        {"shell32.dll", "", ".avi", 0, {420, 300}, true, moving, "image_pane_shell32_avi"},
        {"shell32.dll", "", "14", 9, {420, 600}, false, threeMembers, "image_pane_shell32_icon_group"},
        {"user32.dll", "", ".cur", 0, {420, 300}, false, anyDib, "image_pane_user32_cursor"},
    };
    for (const Shot& shot : shots) {
        ASSERT_TRUE(settings_->SetIntSetting("ImageWnd", "ScaleToFit", shot.realSize ? 0 : 1).succeeded());
        EXPECT_TRUE(showFirst(shot)) << shot.name;
        if (wnd) screenshot(*wnd, shot.name);
    }

    ASSERT_TRUE(settings_->SetIntSetting("ImageWnd", "ScaleToFit", 1).succeeded());
    std::vector<std::uint8_t> stripes(64 * 32);
    for (std::size_t i = 0; i < stripes.size(); ++i)
        stripes[i] = static_cast<std::uint8_t>((i % 64 / 8 + i / 64 / 8) % 4);
    open(temp_.write("stripes.gif", gifFile(64, 32, {stripes})), 0, {420, 300});
    EXPECT_TRUE(testing::waitUntil([&] { return !wnd->otherFrame().isNull(); }));
    screenshot(*wnd, "image_pane_gif");
}

}  // namespace
}  // namespace kestrel::ui
