#include "ui/panes/colorize_wnd.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>

#include "core/platform/byte_reader.h"
#include "gui_test_support.h"
#include "support/dib_builders.h"
#include "ui/panes/image_wnd.h"
#include "ui/panes/pane_host.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;
using pebuilder::ByteVector;

// A 1 × 1 24-bit BMP of one 0xRRGGBB colour.
ByteVector onePixelBmp(std::uint32_t colour) {
    return pebuilder::bmpFileFromDib(testing::dib24({{colour}}));
}

QRgb pixelAt(QWidget& widget, QPoint point) {
    return widget.grab().toImage().pixel(point) & 0xFFFFFFu;
}

void click(QAbstractButton* button) {
    const QPointF centre = QRectF(button->rect()).center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, button->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, button->mapToGlobal(centre), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &press);
    QCoreApplication::sendEvent(button, &release);
}

// Replaces the text of an edit box by typing `text`.
void typeInto(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    for (QChar character : text) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(edit, &key);
    }
}

class ColorizeWndTest : public testing::IsolatedGuiTest {
  protected:
    ColorizeWndTest() {
        panel.resize(600, 320);
        panel.show();
        QObject::connect(&panel, &ColorizeWnd::previewRequested, [this] { ++previews; });
    }

    std::vector<QString> weightTexts() const {
        std::vector<QString> texts;
        for (int k = 0; k < ColorizeEngine::kMixTableCount; ++k)
            texts.push_back(panel.weightEdit(k)->text());
        return texts;
    }
    static std::vector<QString> texts(std::initializer_list<const char*> values) {
        std::vector<QString> out;
        for (const char* value : values)
            out.push_back(QString::fromUtf8(value));
        return out;
    }
    // The engine's output for one colour.
    std::array<int, 3> recoloured(std::uint8_t r, std::uint8_t g, std::uint8_t b) const {
        panel.engine().recolorColour(r, g, b);
        return {r, g, b};
    }

    testing::GuiScriptedSink sink;
    ColorizeWnd panel;
    int previews = 0;
};

// ----- Sliders, labels and the engine -------------------------------------------------------------

TEST_F(ColorizeWndTest, HueSliderShowsPercentAndTheHueWeightsAndBuildsTheirTables) {
    panel.hueSlider()->setValue(384);
    EXPECT_EQ(panel.hueLabel()->text(), QStringLiteral("色调+50%"));
    EXPECT_EQ(weightTexts(), texts({"33", "67", "0", "0", "33", "67", "67", "0", "33"}));
    EXPECT_EQ(panel.engine().mix(1)[255], 67 * 255);
    panel.hueSlider()->setValue(-384);
    EXPECT_EQ(panel.hueLabel()->text(), QStringLiteral("色调-50%"));

    // A linear darkening must not creep into the weights: moving the brightness afterwards would
    // apply it a second time.
    panel.gammaBox()->setChecked(false);
    panel.brightnessSlider(0)->setValue(-100);
    panel.hueSlider()->setValue(384);
    EXPECT_EQ(weightTexts(), texts({"33", "67", "0", "0", "33", "67", "67", "0", "33"}));
    panel.brightnessSlider(0)->setValue(-98);
    // Grey 255 darkened once by 98: 157 on every channel.
    EXPECT_EQ(recoloured(255, 255, 255), (std::array<int, 3>{157, 157, 157}));
}

TEST_F(ColorizeWndTest, LockedBrightnessMovesAllThreeSlidersAndStopsThemAtTheirEnds) {
    panel.brightnessSlider(0)->setValue(40);
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_EQ(panel.brightnessSlider(channel)->value(), 40) << channel;
    EXPECT_EQ(panel.brightnessLabel()->text(), QStringLiteral("亮度 +15%"));
    // Curve mode: the offset has its full effect at 127.
    EXPECT_EQ(recoloured(127, 127, 127), (std::array<int, 3>{167, 167, 167}));

    panel.lockBox()->setChecked(false);
    panel.brightnessSlider(2)->setValue(250);
    EXPECT_EQ(panel.brightnessSlider(0)->value(), 40);

    // Locked again, red +20 pushes blue past the end: blue stops at 255 and its value with it.
    panel.lockBox()->setChecked(true);
    panel.brightnessSlider(0)->setValue(60);
    EXPECT_EQ(panel.state().brightness, (std::array<int, 3>{60, 60, 255}));
    EXPECT_EQ(panel.brightnessSlider(2)->value(), 255);
    panel.brightnessSlider(0)->setValue(-10);
    EXPECT_EQ(panel.brightnessLabel()->text(), QStringLiteral("亮度 -3%"));
    EXPECT_EQ(panel.state().brightness, (std::array<int, 3>{-10, -10, 185}));

    panel.lightSourceBox()->setChecked(false);
    panel.resetBrightnessButton()->click();
    EXPECT_EQ(panel.state().brightness, (std::array<int, 3>{0, 0, 0}));
    EXPECT_TRUE(panel.lightSourceBox()->isChecked());
    EXPECT_EQ(panel.brightnessLabel()->text(), QStringLiteral("亮度 +0%"));
    EXPECT_EQ(recoloured(127, 30, 200), (std::array<int, 3>{127, 30, 200}));
}

TEST_F(ColorizeWndTest, SaturationSliderTurnsTheSaturationStepOnAndTheResetOff) {
    panel.saturationSlider()->setValue(-255);
    EXPECT_EQ(panel.saturationLabel()->text(), QStringLiteral("饱和度 -100%"));
    EXPECT_TRUE(panel.engine().saturationOn());
    // Nearly grey: every channel moves to within a step of the luminance (25 R + 55 G + 20 B).
    const std::array<int, 3> grey = recoloured(200, 100, 0);
    for (int channel : grey)
        EXPECT_NEAR(channel, 105, 1);

    panel.resetSaturationButton()->click();
    EXPECT_EQ(panel.saturationSlider()->value(), 0);
    EXPECT_EQ(panel.saturationLabel()->text(), QStringLiteral("饱和度 +0%"));
    EXPECT_FALSE(panel.engine().saturationOn());
    EXPECT_EQ(recoloured(200, 100, 0), (std::array<int, 3>{200, 100, 0}));
}

// ----- Weights and presets ------------------------------------------------------------------------

TEST_F(ColorizeWndTest, ATypedWeightReplacesTheHueAndFeedsTheEngine) {
    panel.hueSlider()->setValue(96);
    typeInto(panel.weightEdit(0), QStringLiteral("100"));
    typeInto(panel.weightEdit(1), QStringLiteral("0"));
    typeInto(panel.weightEdit(0), QStringLiteral("200"));
    EXPECT_EQ(panel.weightEdit(0)->text(), QStringLiteral("200"));
    EXPECT_EQ(panel.hueLabel()->text(), QStringLiteral("色调---"));
    // Red now counts twice towards output red.
    EXPECT_EQ(recoloured(60, 0, 0)[0], 120);

    // Text that is no number reads as 0.
    typeInto(panel.weightEdit(0), QStringLiteral("ab"));
    EXPECT_EQ(recoloured(60, 0, 0)[0], 0);

    // The reset brings back the identity and the hue label of a slider at 0.
    panel.resetHueButton()->click();
    EXPECT_EQ(weightTexts(), texts({"100", "0", "0", "0", "100", "0", "0", "0", "100"}));
    EXPECT_EQ(panel.hueSlider()->value(), 0);
    EXPECT_EQ(panel.hueLabel()->text(), QStringLiteral("色调+0%"));
    EXPECT_EQ(recoloured(60, 20, 10), (std::array<int, 3>{60, 20, 10}));
}

TEST_F(ColorizeWndTest, PresetsRotateRowsAndPermuteColumnsOfTheBasePresets) {
    panel.saturationSlider()->setValue(100);
    panel.presetBox()->setValue(3);  // rows 0, columns 1: every weight one column to the right
    EXPECT_EQ(weightTexts(), texts({"100", "0", "0", "0", "0", "100", "100", "0", "0"}));
    EXPECT_EQ(panel.hueLabel()->text(), QStringLiteral("色调---"));
    EXPECT_EQ(panel.saturationLabel()->text(), QStringLiteral("饱和度 0"));
    EXPECT_EQ(panel.saturationSlider()->value(), 0);
    EXPECT_FALSE(panel.engine().saturationOn());
    EXPECT_EQ(recoloured(10, 20, 30), (std::array<int, 3>{10, 30, 10}));

    panel.presetBox()->setValue(0);  // base preset 0 as it stands
    EXPECT_EQ(weightTexts(), texts({"0", "0", "100", "0", "100", "0", "0", "0", "100"}));
    panel.presetBox()->setValue(1);  // rows rotated down by one
    EXPECT_EQ(weightTexts(), texts({"0", "0", "100", "0", "0", "100", "0", "100", "0"}));
    panel.presetBox()->setValue(9);  // columns 3: every row mirrored
    EXPECT_EQ(weightTexts(), texts({"100", "0", "0", "0", "100", "0", "100", "0", "0"}));
    panel.presetBox()->setValue(4 * 18 + 17);  // rows 2, columns 5 of a preset with a negative weight
    EXPECT_EQ(weightTexts(), texts({"0", "60", "40", "-10", "60", "40", "30", "0", "70"}));

    // 162 is offered and does nothing.
    panel.presetBox()->setValue(162);
    EXPECT_EQ(weightTexts(), texts({"0", "60", "40", "-10", "60", "40", "30", "0", "70"}));
}

TEST_F(ColorizeWndTest, ControlsKeepTheirOrderAndRoomWithLongerTextsAndLargerFonts) {
    QFont large = panel.font();
    large.setPixelSize(std::max(large.pixelSize(), QFontInfo(large).pixelSize()) * 2);
    panel.setFont(large);
    // The English texts are longer than the Chinese ones.
    panel.applyButton()->setText(QStringLiteral("Apply Colouring..."));
    panel.allImagesBox()->setText(QStringLiteral("Apply to All Images"));
    QCoreApplication::processEvents();
    panel.resize(panel.sizeHint());
    QCoreApplication::processEvents();

    QWidget* content = panel.content();
    auto box = [&](QWidget* widget) { return QRect(widget->mapTo(content, QPoint(0, 0)), widget->size()); };
    std::vector<QWidget*> controls = {panel.resetHueButton(),
                                      panel.hueLabel(),
                                      panel.hueSlider(),
                                      panel.resetBrightnessButton(),
                                      panel.lockBox(),
                                      panel.lightSourceBox(),
                                      panel.gammaBox(),
                                      panel.brightnessLabel(),
                                      panel.resetSaturationButton(),
                                      panel.saturationLabel(),
                                      panel.saturationSlider(),
                                      panel.previewButton(),
                                      panel.presetBox(),
                                      panel.applyButton(),
                                      panel.currentOnlyBox(),
                                      panel.allImagesBox()};
    for (int channel = 0; channel < 3; ++channel)
        controls.push_back(panel.brightnessSlider(channel));
    for (int k = 0; k < ColorizeEngine::kMixTableCount; ++k)
        controls.push_back(panel.weightEdit(k));
    for (std::size_t i = 0; i < controls.size(); ++i) {
        SCOPED_TRACE(controls[i]->metaObject()->className());
        // Every text fits, and nothing covers anything else.
        if (auto* button = qobject_cast<QAbstractButton*>(controls[i])) {
            EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        }
        EXPECT_TRUE(content->rect().contains(box(controls[i])));
        for (std::size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(box(controls[i]).intersects(box(controls[j])))
                << controls[j]->metaObject()->className() << " " << i << " " << j;
    }
    // The order: hue, brightness, saturation down the left; the buttons and choices to the right.
    EXPECT_LT(box(panel.hueSlider()).bottom(), box(panel.brightnessSlider(0)).top());
    EXPECT_LT(box(panel.brightnessSlider(2)).bottom(), box(panel.saturationSlider()).top());
    EXPECT_LT(box(panel.lockBox()).right(), box(panel.brightnessSlider(0)).left());
    EXPECT_LT(box(panel.hueSlider()).right(), box(panel.previewButton()).left());
    EXPECT_LT(box(panel.previewButton()).bottom(), box(panel.applyButton()).top());
    EXPECT_LT(box(panel.applyButton()).bottom(), box(panel.currentOnlyBox()).top());
    EXPECT_LT(box(panel.currentOnlyBox()).bottom(), box(panel.allImagesBox()).top());
    // At its own size the panel has nothing to scroll.
    EXPECT_EQ(panel.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(panel.verticalScrollBar()->maximum(), 0);
}

// ----- Preview, apply and the image pane ----------------------------------------------------------

class ColorizePaneTest : public testing::IsolatedGuiTest {
  protected:
    ImageWnd& open(const fs::path& file, QSize size = {900, 420}) {
        wnd = std::make_unique<ImageWnd>(nullptr, services);
        wnd->resize(size);
        wnd->show();
        wnd->ShowImageFile(file, nullptr, nullptr, 0);
        return *wnd;
    }

    testing::GuiScriptedSink sink;
    ImagePaneServices services;
    std::unique_ptr<ImageWnd> wnd;
};

TEST_F(ColorizePaneTest, ThePreviewFollowsTheSlidersOncePerPassAndTheButtonAtOnce) {
    const ByteVector red = onePixelBmp(0xFF0000);
    ImageWnd& pane = open(temp_.write("p.bmp", red), {900, 420});
    ColorizeWnd& panel = *pane.colorizePanel();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.geometry(), pane.colorizeArea());
    int previews = 0;
    QObject::connect(&panel, &ColorizeWnd::previewRequested, [&] { ++previews; });

    // A drag: many moves, one preview once the event loop runs.
    for (int hue = 16; hue <= 512; hue += 16)
        panel.hueSlider()->setValue(hue);
    EXPECT_EQ(previews, 0);
    EXPECT_TRUE(testing::waitUntil([&] { return previews == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(previews, 1);
    // Hue 512: blue is made of red.
    EXPECT_TRUE(pane.isPreviewing());
    EXPECT_EQ(pixelAt(pane, {20, 90}), 0x0000FFu);
    EXPECT_EQ(testing::readBytes(temp_ / "p.bmp"), red);

    panel.previewButton()->click();
    EXPECT_EQ(previews, 2);

    // Pictures that fill the pane have no panel.
    pane.ShowImageFile(temp_.write("x.gif", "GIF89a"), nullptr, nullptr, 0);
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(ColorizePaneTest, ApplyRemindsWithoutABoxAndRecoloursOnlyWhenConfirmed) {
    const ByteVector red = onePixelBmp(0xFF0000);
    const fs::path file = temp_.write("a.bmp", red);
    ImageWnd& pane = open(file);
    ColorizeWnd& panel = *pane.colorizePanel();
    panel.hueSlider()->setValue(512);

    // The two choices are radio buttons: one is always chosen, and the reminder is left for a call
    // without either.
    EXPECT_EQ(pane.ApplyColorize(false, false), 0);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"应用之前请选择复选框其中的一个。"});
    EXPECT_TRUE(sink.questions.empty());

    sink.answers = {Answer::kNo};
    panel.applyButton()->click();
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_EQ(testing::readBytes(file), red);

    sink.answers = {Answer::kYes};
    panel.applyButton()->click();
    EXPECT_EQ(testing::readBytes(file), onePixelBmp(0x0000FF));
    EXPECT_EQ(sink.messages.size(), 1u) << "a single file is recoloured without a count";
}

TEST_F(ColorizePaneTest, ACancelledRunOverAllImagesLeavesEveryFileWholeAndCountsThem) {
    constexpr int kFiles = 40;
    std::vector<fs::path> files;
    std::vector<ByteVector> originals, expected;
    ColorizeEngine engine;
    engine.BuildHueTables(512, 0, 0, 0, true, false);
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "all/Bitmap" + std::to_string(100 + i) + ".BMP";
        originals.push_back(pebuilder::bmpFileFromDib(
            pebuilder::makeDib({32, 32, static_cast<std::uint16_t>(i % 2 == 0 ? 24 : 32), false, false, false,
                                static_cast<std::uint32_t>(i)})));
        files.push_back(temp_.write(name, originals.back()));
        const fs::path copy = temp_.write("expected/" + std::to_string(i) + ".BMP", originals.back());
        ASSERT_TRUE(engine.RecolorFile(copy).succeeded());
        expected.push_back(testing::readBytes(copy));
        ASSERT_NE(expected.back(), originals.back());
    }
    ImageWnd& pane = open(files.front());
    ColorizeWnd& panel = *pane.colorizePanel();
    panel.hueSlider()->setValue(512);
    panel.currentOnlyBox()->setChecked(false);
    panel.allImagesBox()->setChecked(true);
    pane.setApplyProgressDelay(0);

    // Cancel as soon as the progress window shows half of the files done.
    bool cancelled = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* progress = pane.findChild<QProgressDialog*>();
        if (cancelled || progress == nullptr || !progress->isVisible() || progress->value() < kFiles / 2)
            return;
        auto* cancel = progress->findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        click(cancel);
        cancelled = true;
    });
    watcher.start(0);
    sink.answers = {Answer::kYes};
    panel.applyButton()->click();
    watcher.stop();
    ASSERT_TRUE(cancelled);

    int recolouredFiles = 0;
    for (int i = 0; i < kFiles; ++i) {
        const ByteVector now = testing::readBytes(files[static_cast<std::size_t>(i)]);
        const bool whole =
            now == originals[static_cast<std::size_t>(i)] || now == expected[static_cast<std::size_t>(i)];
        EXPECT_TRUE(whole) << i;
        if (now == expected[static_cast<std::size_t>(i)]) ++recolouredFiles;
    }
    EXPECT_GE(recolouredFiles, kFiles / 2);
    EXPECT_LT(recolouredFiles, kFiles);
    // Nothing but the images is left in the folder (no temporary files).
    EXPECT_EQ(std::distance(fs::directory_iterator(temp_ / "all"), fs::directory_iterator()), kFiles);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages.back(), "已着色 " + std::to_string(recolouredFiles) + " 个文件，共 40 个。");
    EXPECT_EQ(pane.findChild<QProgressDialog*>(), nullptr);
}

TEST_F(ColorizePaneTest, AllImagesTakesInTheFoldersOfNamedTypesButNoOtherSubfolder) {
    const fs::path project = projectWith(
        "<Directory Type='0'>"
        "<Entry ID='2' Directory='1'><Directory Type='2'><Entry ID='101' Directory='1'><Directory>"
        "<Entry ID='1033' Directory='0'><File Name='Bitmap00101.BMP'/></Entry>"
        "</Directory></Entry></Directory></Entry>"
        "<Entry Name='BLUE' Directory='1'><Directory Type='BLUE'><Entry Name='ARROW' "
        "Directory='1'><Directory>"
        "<Entry ID='1033' Directory='0'><File Name='BLUE\\ARROW.BMP'/></Entry>"
        "</Directory></Entry></Directory></Entry></Directory>");
    const ByteVector red = onePixelBmp(0xFF0000);
    const fs::path top = temp_.write("p/Bitmap00101.BMP", red);
    const fs::path named = temp_.write("p/blue/ARROW.BMP", red);
    const fs::path other = temp_.write("p/other/C.BMP", red);
    CKsDoc document(dataFolder() / "Temp");
    ASSERT_TRUE(document.OpenProject(project));
    wnd = std::make_unique<ImageWnd>(nullptr, services);
    wnd->ShowImageFile(top, nullptr, &document, 0);
    wnd->colorizeEngine().BuildHueTables(512, 0, 0, 0, false, false);

    sink.answers = {Answer::kYes};
    EXPECT_EQ(wnd->ApplyColorize(false, true), 1);
    EXPECT_EQ(testing::readBytes(top), onePixelBmp(0x0000FF));
    EXPECT_EQ(testing::readBytes(named), onePixelBmp(0x0000FF));
    EXPECT_EQ(testing::readBytes(other), red);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"已着色 2 个文件，共 2 个。"});
}

TEST_F(ColorizePaneTest, ThePaneObjectKeepsThePanelValuesWhenItsWindowComesBack) {
    PaneHost host;
    ImagePane imagePane(host, services);
    auto* first = static_cast<ImageWnd*>(imagePane.createWidget(&host));
    first->colorizePanel()->hueSlider()->setValue(384);
    first->colorizePanel()->saturationSlider()->setValue(-128);
    first->colorizePanel()->allImagesBox()->setChecked(true);
    imagePane.widgetDestroyed();
    delete first;

    auto* second = static_cast<ImageWnd*>(imagePane.createWidget(&host));
    ColorizeWnd& panel = *second->colorizePanel();
    EXPECT_EQ(panel.hueSlider()->value(), 384);
    EXPECT_EQ(panel.hueLabel()->text(), QStringLiteral("色调+50%"));
    EXPECT_EQ(panel.weightEdit(1)->text(), QStringLiteral("67"));
    EXPECT_TRUE(panel.allImagesBox()->isChecked());
    EXPECT_TRUE(panel.engine().saturationOn());
    ColorizeWnd reference;
    reference.hueSlider()->setValue(384);
    reference.saturationSlider()->setValue(-128);
    EXPECT_EQ(panel.engine().mix(6), reference.engine().mix(6));
    EXPECT_EQ(panel.engine().saturation(100), reference.engine().saturation(100));
    imagePane.widgetDestroyed();
    delete second;
}

TEST_F(ColorizeWndTest, ToolTipsKeepTheirAngleBracketsAndStayWithinThreeHundredPixels) {
    QAbstractButton* box = panel.allImagesBox();
    QTextDocument document;
    document.setHtml(box->toolTip());
    EXPECT_EQ(document.toPlainText().remove(QChar::LineSeparator).remove(QLatin1Char('\n')),
              QStringLiteral("复选以便当<应用着色>点击后，所有的图象文件将被着色。"));

    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), box->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(box, &help);
    QWidget* tip = nullptr;
    ASSERT_TRUE(testing::waitUntil([&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->inherits("QTipLabel") && widget->isVisible()) tip = widget;
        return tip != nullptr;
    }));
    EXPECT_LE(tip->width(), 300);
    EXPECT_GT(tip->height(), tip->fontMetrics().height() * 3 / 2) << "the long tooltip takes two lines";
}

// ----- Screenshot ---------------------------------------------------------------------------------

TEST_F(ColorizePaneTest, ScreenshotOfAThemeBitmapWithThePanelAndAPreview) {
    const fs::path dll = testing::corpusFile("usr/lib/i386-linux-gnu/wine/i386-windows/light.msstyles");
    fs::path project;
    if (dll.empty() || DecompileProject(dll, temp_ / "light", project).failed())
        GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    std::vector<fs::path> bitmaps;
    for (const auto& entry : fs::directory_iterator(temp_ / "light" / "BLUE"))
        if (iendsWithAscii(entry.path().filename().string(), ".bmp")) bitmaps.push_back(entry.path());
    std::sort(bitmaps.begin(), bitmaps.end());
    // The most colourful picture that leaves room beside it for the whole panel.
    fs::path shown;
    int bestColourful = -1;
    for (const fs::path& file : bitmaps) {
        ImageWnd& pane = open(file, {880, 440});
        const QSize size = pane.pictureSize();
        if (size.width() < 40 || size.width() > 200 || size.height() < 20 || size.height() > 240) continue;
        const QImage picture = pane.grab(pane.imageRect()).toImage();
        int colourful = 0;
        for (int y = 0; y < picture.height(); y += 2)
            for (int x = 0; x < picture.width(); x += 2) {
                const QColor colour = picture.pixelColor(x, y);
                const int spread = std::max({colour.red(), colour.green(), colour.blue()}) -
                                   std::min({colour.red(), colour.green(), colour.blue()});
                colourful += spread > 80 ? 1 : 0;
            }
        if (colourful > bestColourful) {
            bestColourful = colourful;
            shown = file;
        }
    }
    ASSERT_FALSE(shown.empty());
    open(shown, {880, 440});
    ColorizeWnd& panel = *wnd->colorizePanel();
    panel.hueSlider()->setValue(384);
    panel.brightnessSlider(0)->setValue(30);
    ASSERT_TRUE(testing::waitUntil([&] { return wnd->isPreviewing(); }));
    screenshot(*wnd, "image_pane_colorize");
}

}  // namespace
}  // namespace kestrel::ui
