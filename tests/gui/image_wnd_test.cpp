#include "ui/panes/image_wnd.h"

#include <QAction>
#include <QClipboard>
#include <QDrag>
#include <QGuiApplication>
#include <QImageWriter>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <QUrl>
#include <chrono>

#include "core/platform/byte_reader.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "support/dib_builders.h"
#include "ui/panes/colorize_wnd.h"
#include "ui/panes/pane_host.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;
using pebuilder::ByteVector;

ByteVector bmpFile(const pebuilder::DibPlan& plan) {
    return pebuilder::bmpFileFromDib(pebuilder::makeDib(plan));
}

// A single-image .ICO or .CUR file as the import writes it: directory, one entry, the image at 22.
ByteVector iconFile(const pebuilder::IconImage& image, bool cursor) {
    const std::size_t hotSpot = cursor ? 4 : 0;  // a cursor resource starts with it; the file image does not
    ByteWriter out;
    const auto size = static_cast<std::uint32_t>((image.width & 0xFF) | (image.height & 0xFF) << 8);
    for (std::uint32_t word : {0u, cursor ? 2u : 1u, 1u, size, 0u, 0u, 0u})
        out.u16(word);
    out.u32(static_cast<std::uint32_t>(image.data.size() - hotSpot));
    out.u32(22);
    out.append(Bytes(image.data).subspan(hotSpot));
    return out.bytes();
}

// A 24-bit BMP from rows of 0xRRGGBB colours, top row first.
ByteVector bmp24(const std::vector<std::vector<std::uint32_t>>& rows) {
    return pebuilder::bmpFileFromDib(testing::dib24(rows));
}

// GIF89a, 4-colour palette, one image per frame. The LZW stream sends a clear code after every
// second pixel, so that the code size stays at 3 bits.
ByteVector gifFile(int width, int height, const std::vector<std::vector<std::uint8_t>>& frames) {
    ByteWriter out;
    out.append(asBytes(std::string_view("GIF89a")));
    out.u16(width);
    out.u16(height);
    out.append(asBytes(std::string_view("\x91\0\0\0\0\0\xFF\0\0\0\xC0\0\0\0\xFF", 15)));
    for (const auto& pixels : frames) {
        out.append(asBytes(std::string_view("\x21\xF9\x04\x00\x0A\x00\x00\x00\x2C\0\0\0\0", 13)));
        out.u16(width);
        out.u16(height);
        out.u8(0);
        out.u8(2);
        std::vector<std::uint8_t> data;
        std::uint32_t bits = 0, count = 0;
        auto put = [&](std::uint32_t code) {
            bits |= code << count;
            for (count += 3; count >= 8; count -= 8, bits >>= 8)
                data.push_back(static_cast<std::uint8_t>(bits));
        };
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            if (i % 2 == 0) put(4);
            put(pixels[i]);
        }
        put(5);
        if (count > 0) data.push_back(static_cast<std::uint8_t>(bits));
        for (std::size_t at = 0; at < data.size(); at += 255) {
            out.u8(static_cast<std::uint32_t>(std::min<std::size_t>(255, data.size() - at)));
            for (std::size_t i = at; i < std::min(at + 255, data.size()); ++i)
                out.u8(data[i]);
        }
        out.u8(0);
    }
    out.u8(0x3B);
    return out.bytes();
}

// A RIFF 'AVI ' movie of 8-bit frames (palette black, white), each filled with one index.
ByteVector aviFile(int width, int height, const std::vector<std::uint8_t>& fills,
                   std::uint32_t microseconds) {
    auto chunk = [](ByteWriter& out, std::string_view id, const ByteVector& body) {
        out.append(asBytes(id));
        out.u32(static_cast<std::uint32_t>(body.size()));
        out.append(asBytes(body));
        out.alignTo(2);
    };
    auto list = [&](ByteWriter& out, std::string_view type, ByteWriter& body) {
        ByteWriter inner;
        inner.append(asBytes(type));
        inner.append(asBytes(body.bytes()));
        chunk(out, "LIST", inner.bytes());
    };
    const auto frameBytes = static_cast<std::size_t>((width + 3) / 4 * 4 * height);
    ByteWriter avih, strh, strf, strl, hdrl, movi, body, riff;
    for (std::uint32_t field : {microseconds, 0u, 0u, 0u, static_cast<std::uint32_t>(fills.size()), 0u, 1u,
                                0u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
        avih.u32(field);
    avih.zeros(16);
    strh.append(asBytes(std::string_view("vids")));
    strh.zeros(52);
    // Eight bits with a two-colour palette: black and white.
    testing::writeInfoHeader(strf, width, height, 8, 0, 2);
    strf.u32(0);
    strf.u32(0x00FFFFFF);
    chunk(strl, "strh", strh.bytes());
    chunk(strl, "strf", strf.bytes());
    chunk(hdrl, "avih", avih.bytes());
    list(hdrl, "strl", strl);
    for (std::uint8_t fill : fills)
        chunk(movi, "00db", ByteVector(frameBytes, std::byte{fill}));
    body.append(asBytes(std::string_view("AVI ")));
    list(body, "hdrl", hdrl);
    list(body, "movi", movi);
    chunk(riff, "RIFF", body.bytes());
    return riff.bytes();
}

void sendMouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, at, widget.mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

QRgb pixelAt(QWidget& widget, QPoint point) {
    return widget.grab().toImage().pixel(point) & 0xFFFFFFu;
}

// Records the drags it would start instead of running the blocking drag loop.
class TestImageWnd : public ImageWnd {
  public:
    using ImageWnd::ImageWnd;
    std::vector<std::tuple<QList<QUrl>, QImage, QPoint>> drags;

  protected:
    Qt::DropAction execDrag(QDrag& drag) override {
        drags.emplace_back(drag.mimeData()->urls(), qvariant_cast<QImage>(drag.mimeData()->imageData()),
                           drag.hotSpot());
        return Qt::CopyAction;
    }
};

class ImageWndTest : public testing::IsolatedGuiTest {
  protected:
    ImageWndTest() { services.settings = settings_.get(); }

    TestImageWnd& open(const fs::path& file, int subMode = 0, QSize size = {300, 400},
                       XmlElement* element = nullptr) {
        wnd = std::make_unique<TestImageWnd>(nullptr, services);
        wnd->resize(size);
        wnd->show();
        wnd->ShowImageFile(file, element, document.get(), subMode);
        return *wnd;
    }

    // A project of a bitmap entry (Bitmap00101.BMP) and an icon entry (Icon00001.ICO); returns the
    // bitmap's File element.
    XmlElement* openProject() {
        const fs::path project = projectWith(
            "<Directory Type='0'>"
            "<Entry ID='2' Directory='1'><Directory Type='2'><Entry ID='101' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='Bitmap00101.BMP' Png='0'/></Entry>"
            "</Directory></Entry></Directory></Entry>"
            "<Entry ID='3' Directory='1'><Directory Type='3'><Entry ID='1' Directory='1'><Directory>"
            "<Entry ID='1033' Directory='0'><File Name='Icon00001.ICO'/></Entry>"
            "</Directory></Entry></Directory></Entry></Directory>");
        folder = project.parent_path();
        temp_.write("p/Bitmap00101.BMP", bmpFile({8, 8, 8}));
        temp_.write("p/Icon00001.ICO", iconFile(pebuilder::makeIconImage(16, 4), false));
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        EXPECT_TRUE(document->OpenProject(project));
        return document->description().FindElement(
            "\\Directory\\Entry\\Directory\\Entry\\Directory\\Entry\\File");
    }
    static std::string attribute(XmlElement* element, std::string_view name) {
        XmlAttribute* found = XmlDocument::FindAttribute(element, name);
        return found ? found->value() : std::string("<none>");
    }

    testing::GuiScriptedSink sink;
    ImagePaneServices services;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<TestImageWnd> wnd;
    fs::path folder;
};

// ----- Kinds, information lines, drawing ----------------------------------------------------------

TEST_F(ImageWndTest, EachKindShowsItsPictureAndInformationLines) {
    struct Case {
        std::string name;
        ByteVector bytes;
        ImageKind kind;
        QSize size;
        std::uint32_t shownSize;
        std::string depth;
    };
    using K = ImageKind;
    const std::string alpha = "24+8Alpha/16m";
    const std::vector<Case> cases = {
        {"one.bmp", bmpFile({9, 5, 1}), K::kBitmap, {9, 5}, 0, "1/2"},
        {"four.BMP", bmpFile({13, 7, 4}), K::kBitmap, {13, 7}, 0, "4/16"},
        {"eight.bmp", bmpFile({32, 24, 8}), K::kBitmap, {32, 24}, 0, "8/256"},
        {"fields16.bmp", bmpFile({10, 6, 16, true}), K::kBitmap, {10, 6}, 0, "16/65536"},
        {"top24.bmp", bmpFile({17, 9, 24, false, true}), K::kBitmap, {17, 9}, 0, "24/16m"},
        {"fields32.bmp", bmpFile({40, 20, 32, true}), K::kBitmap, {40, 20}, 0, alpha},
        {"v5.bmp", bmpFile({16, 16, 32, true, false, true}), K::kBitmap, {16, 16}, 0, alpha},
        {"a.bmp", bmpFile({16, 16, 32}), K::kBitmap, {16, 16}, 1064, alpha},  // 1,078 bytes
        // The DIB's image size + 40; found although the name's case differs from "png".
        {"Bitmap00001.PNG", pebuilder::makePngIconImage(24).data, K::kPng, {24, 24}, 24 * 24 * 4 + 40, alpha},
        {"Icon00001.ICO", iconFile(pebuilder::makeIconImage(32, 4), false), K::kIcon, {32, 32}, 0, "4/16"},
        {"Icon00002.ico", iconFile(pebuilder::makeIconImage(16, 32), false), K::kIcon, {16, 16}, 0, alpha},
        {"Icon00003.ICO", iconFile(pebuilder::makePngIconImage(48), false), K::kIcon, {48, 48}, 0, alpha},
        {"Cursor1.CUR",
         iconFile(pebuilder::makeCursorImage(32, 8, 3, 4), true),
         K::kCursor,
         {32, 32},
         0,
         "8/256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageWnd& pane = open(temp_.write(c.name, c.bytes));
        EXPECT_EQ(pane.kind(), c.kind);
        EXPECT_EQ(pane.pictureSize(), c.size);
        const std::uint32_t header = c.kind == ImageKind::kBitmap ? 14 : 22;
        const std::uint32_t shown =
            c.shownSize != 0 ? c.shownSize : static_cast<std::uint32_t>(c.bytes.size()) - header;
        const QStringList expected = {QString::fromStdString("文件名称: " + c.name),
                                      QString("文件大小: %1 字节").arg(shown),
                                      QString("图象大小: %1x%2").arg(c.size.width()).arg(c.size.height()),
                                      QString::fromStdString("像素深度/色彩: " + c.depth)};
        EXPECT_EQ(pane.informationLines(), expected);
        EXPECT_EQ(pane.imageRect().topLeft(), QPoint(8, 75));
    }
}

TEST_F(ImageWndTest, TruncatedOrHostileDibsShowNothing) {
    ByteVector truncated = bmpFile({32, 24, 8});
    truncated.pop_back();
    ByteWriter huge, upsideDownIcon;
    huge.bytes() = bmpFile({4, 4, 24});
    huge.patchU32(18, 0x7FFFFFFF);
    upsideDownIcon.bytes() = iconFile(pebuilder::makeIconImage(16, 8), false);
    upsideDownIcon.patchU32(22 + 8, static_cast<std::uint32_t>(-32));
    ByteVector iconWithoutMask = iconFile(pebuilder::makeIconImage(16, 32), false);
    iconWithoutMask.resize(iconWithoutMask.size() - 2 * 16 * 4 / 8);
    const std::vector<std::pair<std::string, ByteVector>> files = {
        {"truncated.bmp", truncated},
        {"width.bmp", huge.bytes()},
        {"tiny.bmp", ByteVector(13, std::byte{0x42})},
        {"header.bmp", ByteVector(truncated.begin(), truncated.begin() + 30)},
        {"Icon1.ico", upsideDownIcon.bytes()},
        {"Icon2.ico", iconWithoutMask},
        {"Cursor1.cur", ByteVector(22, std::byte{0})},
        {"bad.png", pebuilder::bytesOf("\x89PNG\r\n\x1a\n not really")},
    };
    for (const auto& [name, bytes] : files) {
        ImageWnd& pane = open(temp_.write(name, bytes));
        EXPECT_EQ(pane.currentDib(), nullptr) << name;
        EXPECT_TRUE(pane.informationLines().isEmpty()) << name;
        EXPECT_TRUE(pane.imageRect().isEmpty()) << name;
        (void)pane.grab();
    }
    EXPECT_TRUE(sink.messages.empty() && sink.errors.empty());
}

TEST_F(ImageWndTest, ZoomFitsTheCappedWidthUnlessRealSizeIsChecked) {
    EXPECT_EQ(imageZoom({16, 16}, {1000, 150}, true, false), 4);  // (150 − 83) / 16
    EXPECT_EQ(imageZoom({16, 16}, {1000, 150}, false, false), 6);
    EXPECT_EQ(imageZoom({400, 10}, {300, 400}, true, false), 1);

    ImageWnd& pane = open(temp_.write("a.bmp", bmpFile({16, 16, 8})));
    EXPECT_EQ(pane.zoom(), 16);  // 260 / 16
    EXPECT_EQ(pane.imageRect(), QRect(8, 75, 256, 256));
    pane.realSizeAction()->trigger();
    EXPECT_EQ(pane.zoom(), 1);
    // Stored as ScaleToFit 0; a new pane starts from it.
    EXPECT_TRUE(open(temp_.write("b.bmp", bmpFile({16, 16, 8}))).realSizeAction()->isChecked());
    EXPECT_EQ(wnd->zoom(), 1);
}

TEST_F(ImageWndTest, DrawsRowsTopDownNearestNeighbourAndAlphaOverTheCheckerboard) {
    ImageWnd& pane = open(temp_.write("q.bmp", bmp24({{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}})));
    ASSERT_EQ(pane.zoom(), 130);
    EXPECT_EQ(pixelAt(pane, {8, 75}), 0xFF0000u);
    EXPECT_EQ(pixelAt(pane, {8 + 129, 75 + 129}), 0xFF0000u);  // no blending at the block edges
    EXPECT_EQ(pixelAt(pane, {8 + 130, 75}), 0x00FF00u);
    EXPECT_EQ(pixelAt(pane, {8, 75 + 130}), 0x0000FFu);

    // A file whose pixels start later than right after the header: the pane takes them from the
    // header's pixel offset, as the compile does.
    ByteVector gap = bmp24({{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}});
    gap.insert(gap.begin() + 54, 8, std::byte{0x5A});
    const std::uint32_t pixelOffset = 54 + 8;
    for (int i = 0; i < 4; ++i)
        gap[10 + i] = static_cast<std::byte>(pixelOffset >> (8 * i));
    open(temp_.write("gap.bmp", gap));
    EXPECT_EQ(pixelAt(*wnd, {8, 75}), 0xFF0000u);
    EXPECT_EQ(pixelAt(*wnd, {8 + 130, 75 + 130}), 0xFFFFFFu);

    // 32 bits: an opaque red pixel and a transparent one, which shows the checkerboard.
    ByteWriter dib;
    testing::writeInfoHeader(dib, 2, 1, 32);
    dib.u32(0xFFFF0000u);
    dib.u32(0);
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

    // A missing member leaves a gap; a cursor group finds Cursor00003.CUR by its ID.
    fs::remove(temp_ / "g/Icon00002.ico");
    pane.LoadImage();
    EXPECT_EQ(pane.memberPictureCount(), 2);
    const pebuilder::IconImage cursor = pebuilder::makeCursorImage(32, 1, 0, 0);
    temp_.write("c/Cursor00003.CUR", iconFile(cursor, true));
    EXPECT_EQ(
        open(temp_.write("c/1200001", pebuilder::makeCursorGroup({{cursor, 3}})), 10).memberPictureCount(),
        1);

    // A named group in a subfolder whose member has another language's suffixed name: the member is
    // found through the description.
    const fs::path project = projectWith(
        "<Directory Type='0'>"
        "<Entry ID='3' Directory='1'><Directory Type='3'><Entry ID='2' Directory='1'><Directory>"
        "<Entry ID='1031' Directory='0'><File Name='Icon00002~1031.ICO'/></Entry>"
        "</Directory></Entry></Directory></Entry>"
        "<Entry ID='14' Directory='1'><Directory Type='14'><Entry Name='IDI_SHELL' Directory='1'><Directory>"
        "<Entry ID='1031' Directory='0'><File Name='IDI\\SHELL'/></Entry>"
        "</Directory></Entry></Directory></Entry></Directory>");
    temp_.write("p/Icon00002~1031.ICO", iconFile(icons[1].first, false));
    const fs::path groupFile = temp_.write("p/IDI/SHELL", pebuilder::makeIconGroup({icons[1]}));
    document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
    ASSERT_TRUE(document->OpenProject(project));
    XmlElement* groupFileElement = document->description().documentNode()->next()->firstChild()->next();
    for (int level = 0; level < 5 && groupFileElement != nullptr; ++level)
        groupFileElement = groupFileElement->firstChild();
    ASSERT_EQ(attribute(groupFileElement, "Name"), "IDI\\SHELL");
    EXPECT_EQ(open(groupFile, 9, {300, 400}, groupFileElement).memberPictureCount(), 1);
}

TEST_F(ImageWndTest, OtherPicturesShowThroughQtReadersAndTheAviReader) {
    ImageWnd& gif =
        open(temp_.write("anim.gif", gifFile(4, 2, {{1, 1, 2, 2, 1, 1, 2, 2}, {3, 3, 3, 3, 0, 0, 0, 0}})));
    EXPECT_EQ(gif.kind(), ImageKind::kOther);
    EXPECT_EQ(gif.otherFrameCount(), 2);
    EXPECT_TRUE(testing::waitUntil([&] { return gif.otherFrame().size() == QSize(4, 2); }));
    EXPECT_TRUE(gif.informationLines().isEmpty());

    QImage photo(20, 10, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    ASSERT_TRUE(photo.save(QString::fromStdString((temp_ / "photo.jpg").string()), "JPEG"));
    EXPECT_EQ(open(temp_ / "photo.jpg").otherFrame().size(), QSize(20, 10));

    // The movie plays at its frame time: black, then white.
    ImageWnd& avi = open(temp_.write("AVI00150.AVI", aviFile(6, 3, {0, 1, 0}, 20000)));
    EXPECT_EQ(avi.otherFrameCount(), 3);
    EXPECT_EQ(avi.otherFrame().pixel(0, 0) & 0xFFFFFFu, 0u);
    EXPECT_TRUE(testing::waitUntil([&] { return (avi.otherFrame().pixel(0, 0) & 0xFFFFFFu) == 0xFFFFFFu; }));

    for (const char* name : {"junk.gif", "junk.jpg", "junk.avi", "junk.xyz"}) {
        EXPECT_EQ(open(temp_.write(name, pebuilder::bytesOf("RIFF junk AVI"))).otherFrameCount(), 0) << name;
        (void)wnd->grab();
    }
}

TEST_F(ImageWndTest, LargePicturesScrollBesideTheWholePanelAndGroupsListTheMembersSizes) {
    // A toolbar strip: the panel keeps its full width at the right edge, the strip scrolls.
    ImageWnd& strip = open(temp_.write("strip.bmp", bmpFile({1128, 24, 24})), 0, {900, 420});
    ColorizeWnd& panel = *strip.colorizePanel();
    QCoreApplication::processEvents();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.geometry().right(), 899);
    EXPECT_GE(panel.width(), panel.sizeHint().width());
    EXPECT_EQ(panel.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(strip.imageRect().size(), QSize(1128, 24));
    ASSERT_FALSE(strip.horizontalScrollBar()->isHidden());
    EXPECT_LE(strip.viewArea().right(), panel.geometry().left());
    strip.horizontalScrollBar()->setValue(strip.horizontalScrollBar()->maximum());
    EXPECT_EQ(strip.imageRect().right() + 8, strip.viewArea().right());
    strip.realSizeAction()->trigger();
    EXPECT_EQ(strip.imageRect().size(), QSize(1128, 24));

    // A group with a 256-pixel member (entry 0 × 0) and a cursor-sized one: the listing gives their
    // real sizes, and the group scrolls down and across to its last member.
    const pebuilder::IconImage big = pebuilder::makePngIconImage(256);
    const pebuilder::IconImage small = pebuilder::makeIconImage(32, 8);
    temp_.write("g/Icon00001.ico", iconFile(big, false));
    temp_.write("g/Icon00002.ico", iconFile(small, false));
    ImageWnd& group =
        open(temp_.write("g/1400001", pebuilder::makeIconGroup({{big, 1}, {small, 2}})), 9, {700, 400});
    EXPECT_TRUE(group.groupListing().contains("  1  256 x256   32")) << group.groupListing().toStdString();
    EXPECT_TRUE(group.groupListing().contains("  2   32 x 32    8")) << group.groupListing().toStdString();
    ASSERT_FALSE(group.verticalScrollBar()->isHidden());
    ASSERT_FALSE(group.horizontalScrollBar()->isHidden());
    EXPECT_GE(group.verticalScrollBar()->maximum() + group.viewArea().height(), 256 + 32 + 3 * 4);
    EXPECT_GE(group.horizontalScrollBar()->maximum() + group.viewArea().width(), 8 + 256);
    const QImage top = group.grab(group.viewArea()).toImage();
    group.verticalScrollBar()->setValue(group.verticalScrollBar()->maximum());
    EXPECT_NE(group.grab(group.viewArea()).toImage(), top);

    const pebuilder::IconImage cursor = pebuilder::makeCursorImage(32, 1, 0, 0);
    temp_.write("c/Cursor00003.CUR", iconFile(cursor, true));
    EXPECT_TRUE(open(temp_.write("c/1200001", pebuilder::makeCursorGroup({{cursor, 3}})), 10)
                    .groupListing()
                    .contains("  3   32 x 32    1"));
}

TEST_F(ImageWndTest, ThePreviewShowsWhatApplyWritesAndTheChoiceIsOneOfTwo) {
    const fs::path icon = temp_.write("Icon00570.ICO", iconFile(pebuilder::makePngIconImage(48), false));
    ImageWnd& pane = open(icon, 0, {900, 420});
    ColorizeWnd& panel = *pane.colorizePanel();
    panel.allImagesBox()->setChecked(true);
    EXPECT_FALSE(panel.currentOnlyBox()->isChecked());
    panel.currentOnlyBox()->setChecked(true);
    EXPECT_FALSE(panel.allImagesBox()->isChecked());

    // An icon stored as PNG is recoloured as its preview shows it.
    panel.hueSlider()->setValue(512);
    ASSERT_TRUE(testing::waitUntil([&] { return pane.isPreviewing(); }));
    const QImage preview = pane.grab(pane.imageRect()).toImage();
    const ByteVector before = testing::readBytes(icon);
    sink.answers = {Answer::kYes};
    panel.applyButton()->click();
    EXPECT_NE(testing::readBytes(icon), before);
    EXPECT_TRUE(sink.errors.empty());
    // The file now shows as the preview did, and the panel no longer holds what it applied.
    EXPECT_FALSE(pane.isPreviewing());
    EXPECT_TRUE(panel.isNeutral());
    EXPECT_EQ(panel.hueSlider()->value(), 0);
    EXPECT_EQ(pane.grab(pane.imageRect()).toImage(), preview);

    // Values not yet applied recolour the next picture too, and it is shown so at once.
    panel.hueSlider()->setValue(512);
    pane.ShowImageFile(temp_.write("red.bmp", bmp24({{0xFF0000}})), nullptr, nullptr, 0);
    EXPECT_TRUE(pane.isPreviewing());
    EXPECT_EQ(pixelAt(pane, {20, 90}), 0x0000FFu);
}

TEST_F(ImageWndTest, PicturesAreFoundByTheirBytesAndMoviesPlayAtTheirOwnSize) {
    const fs::path project = projectWith(
        "<Directory Type='0'>"
        "<Entry ID='10' Directory='1'><Directory Type='10'><Entry Name='BBABORT' Directory='1'><Directory>"
        "<Entry ID='1033' Directory='0'><File Name='BBABORT'/></Entry></Directory></Entry>"
        "<Entry Name='DATA' Directory='1'><Directory>"
        "<Entry ID='1033' Directory='0'><File Name='DATA'/></Entry></Directory></Entry>"
        "</Directory></Entry>"
        "<Entry Name='GIF' Directory='1'><Directory Type='GIF'><Entry Name='IDR_GIF1' "
        "Directory='1'><Directory>"
        "<Entry ID='1033' Directory='0'><File Name='GIF\\IDR_GIF1'/></Entry>"
        "</Directory></Entry></Directory></Entry></Directory>");
    temp_.write("p/BBABORT", pebuilder::makePngIconImage(20).data);
    temp_.write("p/GIF/IDR_GIF1", gifFile(4, 2, {{1, 1, 2, 2, 1, 1, 2, 2}}));
    temp_.write("p/DATA", pebuilder::bytesOf("BM not a bitmap at all, only bytes"));
    document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
    ASSERT_TRUE(document->OpenProject(project));
    registerPaneFactory(PaneType::kImage, makeImagePaneFactory(services));
    struct FactoryReset {
        ~FactoryReset() { registerPaneFactory(PaneType::kImage, {}); }
    } factoryReset;
    PaneHost host;
    host.resize(500, 400);
    auto entry = [&](const std::string& path) { return document->description().FindElement(path); };
    const std::string rcData = "\\Directory\\Entry\\Directory\\Entry";
    XmlElement* abort = entry(rcData);
    ASSERT_NE(abort, nullptr);
    host.Select(document.get(), abort->firstChild()->firstChild());
    EXPECT_EQ(host.kind(), PaneKind::kImage);
    auto* pane = qobject_cast<ImageWnd*>(host.activeWidget());
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->otherFrame().size(), QSize(20, 20));
    host.Select(document.get(), abort->next()->firstChild()->firstChild());
    EXPECT_EQ(host.kind(), PaneKind::kHex);
    host.Select(document.get(),
                entry("\\Directory\\Entry")->next()->firstChild()->firstChild()->firstChild()->firstChild());
    EXPECT_EQ(host.kind(), PaneKind::kImage);
    pane = qobject_cast<ImageWnd*>(host.activeWidget());
    ASSERT_NE(pane, nullptr);
    EXPECT_TRUE(testing::waitUntil([&] { return pane->otherFrame().size() == QSize(4, 2); }));

    // A movie plays at its own size in the middle of the pane, whether or not it scales to fit.
    ImageWnd& avi = open(temp_.write("movie", aviFile(6, 3, {0, 1}, 20000)), 0, {420, 300});
    EXPECT_FALSE(avi.realSize());
    EXPECT_EQ(avi.otherFrameCount(), 2);
    EXPECT_EQ(avi.otherRect().size(), QSize(6, 3));
    EXPECT_LE(std::abs(avi.otherRect().center().x() - avi.viewArea().center().x()), 1);
    EXPECT_LE(std::abs(avi.otherRect().center().y() - avi.viewArea().center().y()), 1);
}

// ----- Replace ------------------------------------------------------------------------------------

TEST_F(ImageWndTest, APictureReplacingABitmapIsWrittenAsABmp) {
    XmlElement* bitmap = openProject();
    ImageWnd& pane = open(folder / "Bitmap00101.BMP", 0, {300, 400}, bitmap);
    QStringList status;
    QObject::connect(&pane, &ImageWnd::statusMessage, [&](const QString& text) { status << text; });
    auto bitCountOf = [](const ByteVector& file) { return ByteReader(asBytes(file)).u16Or(28, 0); };

    QImage photo(20, 10, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    fs::create_directories(temp_ / "elsewhere");
    ASSERT_TRUE(photo.save(QString::fromStdString((temp_ / "elsewhere/Photo.jpg").string()), "JPEG"));
    pane.ReplaceWith(temp_ / "elsewhere/Photo.jpg");
    EXPECT_EQ(attribute(bitmap, "Name") + attribute(bitmap, "Png"), "Photo.BMP0");
    const ByteVector written = testing::readBytes(folder / "Photo.BMP");
    ASSERT_GT(written.size(), 54u);
    EXPECT_EQ(written[0], std::byte{'B'});
    EXPECT_EQ(written[1], std::byte{'M'});
    EXPECT_EQ(bitCountOf(written), 24);
    EXPECT_EQ(pane.pictureSize(), QSize(20, 10));
    ASSERT_EQ(status.size(), 1);
    EXPECT_TRUE(status[0].contains("Photo.jpg") && status[0].contains("24")) << status[0].toStdString();

    // A picture with alpha keeps it in 32 bits.
    QImage clear(8, 8, QImage::Format_ARGB32);
    clear.fill(QColor(255, 0, 0, 128));
    if (QImageWriter::supportedImageFormats().contains("ico")) {
        ASSERT_TRUE(clear.save(QString::fromStdString((temp_ / "elsewhere/Clear.ico").string()), "ICO"));
        pane.ReplaceWith(temp_ / "elsewhere/Clear.ico");
        EXPECT_EQ(attribute(bitmap, "Name"), "Clear.BMP");
        EXPECT_EQ(bitCountOf(testing::readBytes(folder / "Clear.BMP")), 32);
    }

    // What no reader makes a picture of is refused, and the entry stays.
    const std::string name = attribute(bitmap, "Name");
    pane.ReplaceWith(temp_.write("elsewhere/movie.avi", aviFile(6, 3, {0}, 20000)));
    EXPECT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(attribute(bitmap, "Name"), name);
    EXPECT_FALSE(fs::exists(folder / "movie.avi"));

    // The dialog offers what fits the entry, and every file.
    EXPECT_TRUE(replaceFilter(ImageKind::kIconGroup).contains("(*.ico *.png)"));
    EXPECT_TRUE(replaceFilter(ImageKind::kIcon).contains("(*.ico)"));
    EXPECT_TRUE(replaceFilter(ImageKind::kCursor).contains("(*.cur)"));
    for (ImageKind kind : {ImageKind::kBitmap, ImageKind::kIconGroup, ImageKind::kCursorGroup})
        EXPECT_TRUE(replaceFilter(kind).endsWith("(*)"));
}

TEST_F(ImageWndTest, ReplaceCopiesIntoTheFolderAndRenamesTheEntry) {
    XmlElement* bitmap = openProject();
    ImageWnd& pane = open(folder / "Bitmap00101.BMP", 0, {300, 400}, bitmap);
    pane.ReplaceWith(folder / "Bitmap00101.BMP");  // the shown file itself: nothing happens
    EXPECT_TRUE(sink.questions.empty());

    // A PNG: other extension (asked), Name ends ".BMP" for the compile's conversion, Png flag 1.
    const fs::path png = temp_.write("elsewhere/Logo.png", pebuilder::makePngIconImage(12).data);
    sink.answers = {Answer::kYes};
    pane.ReplaceWith(png);
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_NE(sink.questions[0].find("不同扩展名"), std::string::npos);
    EXPECT_EQ(attribute(bitmap, "Name") + attribute(bitmap, "Png"), "Logo.BMP1");
    EXPECT_EQ(testing::readBytes(folder / "Logo.png"), testing::readBytes(png));
    EXPECT_EQ(pane.path(), folder / "Logo.png");

    sink.answers = {Answer::kYes};
    pane.ReplaceWith(temp_.write("elsewhere/New.bmp", bmpFile({5, 5, 24})));
    EXPECT_EQ(attribute(bitmap, "Name") + attribute(bitmap, "Png"), "New.bmp0");
    EXPECT_EQ(pane.pictureSize(), QSize(5, 5));

    sink.answers = {Answer::kNo};
    pane.ReplaceWith(temp_.write("elsewhere/x.png", pebuilder::makePngIconImage(12).data));
    EXPECT_EQ(attribute(bitmap, "Name"), "New.bmp");
    EXPECT_FALSE(fs::exists(folder / "x.png"));
}

TEST_F(ImageWndTest, ReplaceAsksBeforeOverwritingAnotherResourcesFile) {
    XmlElement* bitmap = openProject();
    ImageWnd& pane = open(folder / "Bitmap00101.BMP", 0, {300, 400}, bitmap);
    const fs::path other = temp_.write("p/Other.bmp", bmpFile({3, 3, 24}));
    const ByteVector otherBytes = testing::readBytes(other);
    const fs::path chosen = temp_.write("elsewhere/Other.bmp", bmpFile({6, 6, 8}));

    pane.ReplaceWith(chosen);  // the default answer is No
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_EQ(sink.questions[0],
              "文件 '" + pathToUtf8(other) + "' 已存在并被其他资源使用。\r\n\r\n要覆盖它吗？");
    EXPECT_EQ(testing::readBytes(other), otherBytes);
    EXPECT_EQ(attribute(bitmap, "Name"), "Bitmap00101.BMP");

    sink.answers = {Answer::kYes};
    pane.ReplaceWith(chosen);
    EXPECT_EQ(testing::readBytes(other), testing::readBytes(chosen));
    EXPECT_EQ(attribute(bitmap, "Name"), "Other.bmp");

    // A file named like the shown one replaces it without a question.
    const fs::path same = temp_.write("elsewhere2/Other.bmp", bmpFile({7, 7, 4}));
    pane.ReplaceWith(same);
    EXPECT_EQ(sink.questions.size(), 2u);
    EXPECT_EQ(testing::readBytes(other), testing::readBytes(same));
}

TEST_F(ImageWndTest, AFailedCopyReportsTheChainAndKeepsTheTarget) {
    openProject();
    const fs::path icon = folder / "Icon00001.ICO";
    const ByteVector before = testing::readBytes(icon);
    ImageWnd& pane = open(icon);
    fs::create_directories(temp_ / "elsewhere/Icon00001.ICO");  // a folder cannot be read
    pane.ReplaceWith(temp_ / "elsewhere/Icon00001.ICO");
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("复制 '" + pathToUtf8(temp_ / "elsewhere/Icon00001.ICO") + "' 文件到 '" +
                                  pathToUtf8(icon) + "' 的时候发生错误。"),
              std::string::npos)
        << sink.errors[0];
    EXPECT_NE(sink.errors[0].find("0x80070005"), std::string::npos) << sink.errors[0];
    EXPECT_EQ(testing::readBytes(icon), before);
    EXPECT_EQ(pane.path(), icon);
}

// ----- Drag and drop ------------------------------------------------------------------------------

TEST_F(ImageWndTest, DragStartsOnlyOutsideTheThreePixelSquareAndEscapeCancels) {
    const fs::path file = temp_.write("Bitmap00007.BMP", bmpFile({16, 16, 24}));
    TestImageWnd& pane = open(file);
    const QPoint start(8 + 40, 75 + 40);
    auto gesture = [&](QPoint to, bool escape) {
        sendMouse(pane, QEvent::MouseButtonPress, start, Qt::LeftButton);
        const bool detecting = pane.isDetectingDrag();
        if (escape) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(&pane, &key);
        }
        sendMouse(pane, QEvent::MouseMove, to, Qt::LeftButton);
        sendMouse(pane, QEvent::MouseButtonRelease, to, Qt::NoButton);
        return detecting;
    };
    EXPECT_TRUE(gesture(start + QPoint(3, -3), false));  // a click
    EXPECT_TRUE(gesture(start + QPoint(20, 0), true));   // cancelled
    EXPECT_TRUE(pane.drags.empty());
    sendMouse(pane, QEvent::MouseButtonPress, {290, 390}, Qt::LeftButton);  // outside the picture
    EXPECT_FALSE(pane.isDetectingDrag());
    sendMouse(pane, QEvent::MouseButtonRelease, {290, 390}, Qt::NoButton);

    gesture(start + QPoint(0, 4), false);
    ASSERT_EQ(pane.drags.size(), 1u);
    const auto& [urls, image, hotSpot] = pane.drags[0];
    EXPECT_EQ(urls, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    EXPECT_EQ(image.size(), QSize(16, 16));
    EXPECT_EQ(hotSpot, QPoint(2, 2));  // 40 pixels into a picture shown 16 times
}

TEST_F(ImageWndTest, ADroppedFileReplacesTheShownOne) {
    XmlElement* bitmap = openProject();
    ImageWnd& pane = open(folder / "Bitmap00101.BMP", 0, {300, 400}, bitmap);
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&pane, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(QPointF(50, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&pane, &dropped);
        return dropped.isAccepted();
    };
    const QUrl url = QUrl::fromLocalFile(
        QString::fromStdString(temp_.write("elsewhere/Dropped.bmp", bmpFile({11, 3, 24})).string()));
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
    temp_.write("w.bmp", bmpFile({8, 2, 24}));
    fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(5));
    EXPECT_EQ(pane.pictureSize(), QSize(4, 4));
    EXPECT_TRUE(
        testing::waitUntil([&] { return pane.pictureSize() == QSize(8, 2); }, kFileWatchIntervalMs * 3));
}

TEST_F(ImageWndTest, ApplyColorizeAsksAndRecoloursTheFileOrTheProjectFolder) {
    XmlElement* bitmap = openProject();
    const fs::path shown = folder / "Bitmap00101.BMP";
    ImageWnd& pane = open(shown, 0, {300, 400}, bitmap);
    const ByteVector original = testing::readBytes(shown);
    const fs::path temporary = temp_.write("data/Quillon/Kestrel/Temp/Bitmap00101.BMP", original);
    pane.colorizeEngine().BuildHueTables(512, 0, 0, 0, false, true);

    EXPECT_EQ(pane.ApplyColorize(false, false), 0);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"应用之前请选择复选框其中的一个。"});
    EXPECT_TRUE(sink.questions.empty());

    sink.answers = {Answer::kNo};
    EXPECT_EQ(pane.ApplyColorize(true, false), 0);
    EXPECT_EQ(sink.questions.back(), "警告：应用将覆盖文件\n\n" + pathToUtf8(shown) +
                                         "\n\n你无法撤消此项操作。\r\n\r\n你确定要这么做吗？");
    EXPECT_EQ(testing::readBytes(shown), original);

    // What the engine makes of a copy is what the pane writes.
    const fs::path expected = temp_.write("expected/Bitmap00101.BMP", original);
    ASSERT_TRUE(pane.colorizeEngine().RecolorFile(expected).succeeded());
    sink.answers = {Answer::kYes};
    EXPECT_EQ(pane.ApplyColorize(true, false), 1);
    EXPECT_EQ(testing::readBytes(shown), testing::readBytes(expected));

    // All images: the folder of the project's pe.xml, never the data folder's Temp.
    const ByteVector iconBefore = testing::readBytes(folder / "Icon00001.ICO");
    sink.answers = {Answer::kYes};
    EXPECT_EQ(pane.ApplyColorize(false, true), 1);
    EXPECT_NE(sink.questions.back().find(pathToUtf8(folder)), std::string::npos);
    EXPECT_NE(testing::readBytes(folder / "Icon00001.ICO"), iconBefore);
    EXPECT_EQ(testing::readBytes(temporary), original);
    EXPECT_TRUE(sink.errors.empty());

    // A file the engine cannot recolour shows the error dialog.
    ByteVector broken = bmpFile({8, 8, 24});
    broken.resize(30);
    sink.answers = {Answer::kYes};
    EXPECT_EQ(open(temp_.write("Broken.BMP", broken)).ApplyColorize(true, false), 1);
    EXPECT_EQ(sink.errors.size(), 1u);
}

TEST_F(ImageWndTest, PreviewRecoloursTheScreenButNotTheFile) {
    const ByteVector bytes = bmp24({{0xFF0000}});
    ImageWnd& pane = open(temp_.write("p.bmp", bytes));
    // Red becomes blue: red is made of green, green of blue, blue of red.
    pane.colorizeEngine().BuildMatrixTables({0, 100, 0, 0, 0, 100, 100, 0, 0}, 0, 0, 0, false, true);
    pane.PreviewColorize();
    EXPECT_EQ(pixelAt(pane, {20, 90}), 0x0000FFu);
    EXPECT_EQ(testing::readBytes(temp_ / "p.bmp"), bytes);
    pane.LoadImage();
    EXPECT_EQ(pixelAt(pane, {20, 90}), 0xFF0000u);
}

TEST_F(ImageWndTest, EditButtonLaunchesEditorsAndOffersTheEditorOptions) {
    const EditorList editors = {{"Paint", "paint", "", ""}, {"Draw", "draw", "--new", ""}};
    std::vector<std::string> launched;
    std::vector<int> pages;
    services.editors = &editors;
    services.launchEditor = [&](const fs::path&, const EditorCommand* editor) {
        launched.push_back(editor ? editor->name : "<first>");
        return ReportError(true, "test", 1, kFail);
    };
    services.openOptions = [&](int page) { pages.push_back(page); };
    ImageWnd& pane = open(temp_.write("e.bmp", bmpFile({4, 4, 8})));
    pane.editButton()->click();
    EXPECT_EQ(sink.errors.size(), 1u);  // a failed launch shows the error dialog

    emit pane.editMenu()->aboutToShow();
    const QList<QAction*> actions = pane.editMenu()->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), "定制编辑器 ...");
    actions[1]->trigger();
    actions[3]->trigger();
    EXPECT_EQ(launched, (std::vector<std::string>{"<first>", "Draw"}));
    EXPECT_EQ(pages, std::vector<int>{kImageEditorsPage});

    const EditorList none;
    services.editors = &none;
    emit open(temp_ / "e.bmp").editMenu()->aboutToShow();
    EXPECT_EQ(wnd->editMenu()->actions().size(), 1);  // no separator without editors
}

TEST_F(ImageWndTest, AnIconFileOrASquarePngOnAGroupRewritesTheGroupAndItsMembers) {
    const pebuilder::IconImage old = pebuilder::makeIconImage(16, 4);
    const fs::path project = projectWith(
        "<Directory Type='0' Named_Entries='0' ID_Entries='2'>"
        "<Entry ID='3' Directory='1'><Directory Type='3' Named_Entries='0' ID_Entries='1'>"
        "<Entry ID='1' Directory='1'><Directory Type='1' Named_Entries='0' ID_Entries='1'>"
        "<Entry ID='1033' Directory='0'><File Name='Icon00001.ICO'/></Entry>"
        "</Directory></Entry></Directory></Entry>"
        "<Entry ID='14' Directory='1'><Directory Type='14' Named_Entries='0' ID_Entries='1'>"
        "<Entry ID='1' Directory='1'><Directory Type='1' Named_Entries='0' ID_Entries='1'>"
        "<Entry ID='1033' Directory='0'><File Name='1400001'/></Entry>"
        "</Directory></Entry></Directory></Entry></Directory>");
    temp_.write("p/Icon00001.ICO", iconFile(old, false));
    const fs::path groupFile = temp_.write("p/1400001", pebuilder::makeIconGroup({{old, 1}}));
    document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
    ASSERT_TRUE(document->OpenProject(project));
    XmlElement* file = document->description().documentNode()->next()->firstChild()->next();
    for (int level = 0; level < 5 && file != nullptr; ++level)
        file = file->firstChild();
    ASSERT_EQ(attribute(file, "Name"), "1400001");
    XmlElement* told = nullptr;
    services.descriptionEdited = [&](XmlElement* select) { told = select; };

    ImageWnd& pane = open(groupFile, 9, {300, 400}, file);
    const fs::path chosen = temp_.write(
        "elsewhere/app.ico",
        pebuilder::makeIcoFile({pebuilder::makeIconImage(32, 8, 1), pebuilder::makeIconImage(16, 32, 2)}));
    pane.ReplaceWith(chosen);
    EXPECT_EQ(told, file->parent());
    EXPECT_TRUE(sink.messages.empty());
    pane.LoadImage();
    EXPECT_EQ(pane.memberPictureCount(), 2);
    std::string saved;
    ASSERT_TRUE(document->description().SaveToString(saved).succeeded());
    EXPECT_NE(saved.find("<File Name=\"Icon00002.ICO\""), std::string::npos) << saved;  // a second member

    // A square PNG (of any name) makes the group of every size; an oblong one is refused and the
    // group stays as it was.
    told = nullptr;
    std::vector<std::byte> picture = pebuilder::makePngIconImage(256, 4).data;
    pane.ReplaceWith(temp_.write("elsewhere/logo.picture", picture));
    EXPECT_EQ(told, file->parent());
    EXPECT_TRUE(sink.messages.empty());
    pane.LoadImage();
    EXPECT_EQ(pane.memberPictureCount(), 8);
    told = nullptr;
    picture[23] = std::byte{200};  // IHDR height
    pane.ReplaceWith(temp_.write("elsewhere/oblong.png", picture));
    EXPECT_EQ(told, nullptr);
    EXPECT_EQ(sink.errors.size(), 1u);
    pane.LoadImage();
    EXPECT_EQ(pane.memberPictureCount(), 8);
}

TEST_F(ImageWndTest, HostRoutesCopyAndTheHexButtonSwitchesPanes) {
    XmlElement* bitmap = openProject();
    registerPaneFactory(PaneType::kImage, makeImagePaneFactory(services));
    struct FactoryReset {
        ~FactoryReset() { registerPaneFactory(PaneType::kImage, {}); }
    } factoryReset;
    PaneHost host;
    host.resize(400, 400);
    host.Select(document.get(), bitmap->parent());
    auto* pane = qobject_cast<ImageWnd*>(host.activeWidget());
    ASSERT_NE(pane, nullptr);
    ASSERT_TRUE(host.canEdit(EditCommand::kCopy));
    QGuiApplication::clipboard()->clear();
    host.edit(EditCommand::kCopy);
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(8, 8));

    pane->hexAction()->trigger();
    EXPECT_TRUE(testing::waitUntil([&] { return host.kind() == PaneKind::kHex; }));
    EXPECT_EQ(host.currentPath(), folder / "Bitmap00101.BMP");
}

// ----- Screenshots of real files ------------------------------------------------------------------

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

bool alphaBitmap(const ImageWnd& pane) {
    const QSize size = pane.pictureSize();
    return pane.informationLines().value(3).contains("Alpha") && size.width() >= 40 && size.height() >= 40 &&
           size.height() <= size.width() * 2;
}
bool trueColourBitmap(const ImageWnd& pane) {
    return pane.informationLines().value(3).endsWith("24/16m");
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

TEST_F(ImageWndTest, ScreenshotsOfRealResources) {
    std::map<std::string, fs::path> imported;
    for (const char* dll : {"shell32.dll", "light.msstyles", "user32.dll"}) {
        const fs::path file =
            testing::corpusFile(std::string("usr/lib/i386-linux-gnu/wine/i386-windows/") + dll);
        fs::path project;
        if (file.empty() || DecompileProject(file, temp_ / dll, project).failed())
            GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
        imported[dll] = temp_ / dll;
    }
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
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(imported[shot.dll] / shot.folder)) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() &&
                (shot.extension[0] == '.' ? iendsWithAscii(name, shot.extension)
                                          : istartsWithAscii(name, shot.extension)))
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        const bool found = std::any_of(files.begin(), files.end(), [&](const fs::path& file) {
            return shot.wanted(open(file, shot.subMode, shot.size));
        });
        EXPECT_TRUE(found) << shot.name;
        // The colorize panel settles its scroll bars once the posted layout requests are handled.
        QCoreApplication::processEvents();
        if (found) screenshot(*wnd, shot.name);
    }

    ASSERT_TRUE(settings_->SetIntSetting("ImageWnd", "ScaleToFit", 1).succeeded());
    std::vector<std::uint8_t> squares(64 * 32);
    for (std::size_t i = 0; i < squares.size(); ++i)
        squares[i] = static_cast<std::uint8_t>((i % 64 / 8 + i / 64 / 8) % 4);
    open(temp_.write("squares.gif", gifFile(64, 32, {squares})), 0, {420, 300});
    EXPECT_TRUE(testing::waitUntil([&] { return !wnd->otherFrame().isNull(); }));
    screenshot(*wnd, "image_pane_gif");
}

}  // namespace
}  // namespace kestrel::ui
