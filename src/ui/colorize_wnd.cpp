#include "ui/colorize_wnd.h"

#include <QCheckBox>
#include <QEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTextLayout>
#include <QToolTip>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/platform/format.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

// Control positions are given from this point of the content area.
constexpr int kOriginX = 7;
constexpr int kOriginY = 14;
// The scrolled area: the 580 × 276 of the etched lines, reaching down to the saturation slider's
// bottom (y 298) and across the right line's light edge, so that every control can be scrolled to.
constexpr QSize kContentSize(582, 300);
constexpr int kBandHeight = 14;

constexpr int kHueTickInterval = 48;
constexpr int kHuePageStep = 256;
constexpr int kLevelTickInterval = 20;
constexpr int kLevelSingleStep = 2;
constexpr int kLevelPageStep = 20;

constexpr int kToolTipWakeUpMs = 500;
constexpr int kToolTipShownMs = 4000;
constexpr int kToolTipReshowMs = 1000;
constexpr int kToolTipMaxWidth = 300;

// No preset changes the saturation.
constexpr int kPresetSaturation = 0;

constexpr std::string_view kHuePositive = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "色调+%d%%");
constexpr std::string_view kHueOther = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "色调%d%%");
constexpr std::string_view kHueFromWeights = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "色调---");
constexpr std::string_view kBrightnessPositive = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "亮度 +%d%%");
constexpr std::string_view kBrightnessOther = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "亮度 %d%%");
constexpr std::string_view kSaturationPositive =
    QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "饱和度 +%d%%");
constexpr std::string_view kSaturationOther = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "饱和度 %d%%");
constexpr std::string_view kSaturationPreset = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "饱和度 %d");
// What the labels show at the start and after a reset (a slider moved back to 0 shows "0%").
constexpr std::string_view kHueStart = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "色调+0%");
constexpr std::string_view kBrightnessStart = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "亮度 +0%");
constexpr std::string_view kSaturationStart = QT_TRANSLATE_NOOP("kestrel::ui::ColorizeWnd", "饱和度 +0%");

constexpr std::array<int, ColorizeEngine::kMixTableCount> kIdentityWeights{100, 0, 0, 0, 100, 0, 0, 0, 100};

// Rows: output red, green, blue; columns: input red, green, blue.
constexpr std::array<std::array<int, ColorizeEngine::kMixTableCount>, 9> kBasePresets{{
    {0, 0, 100, 0, 100, 0, 0, 0, 100},
    {66, 33, 0, 0, 63, 30, 0, 0, 100},
    {0, 45, 45, 45, 0, 45, 50, 50, 0},
    {50, 50, 0, 50, 50, 0, 0, 0, 100},
    {30, 70, 0, 0, 40, 60, -10, 40, 60},
    {90, 0, 0, 90, 0, 0, 0, 60, 60},
    {80, 0, 0, 0, 80, 0, 0, 0, 80},
    {40, 40, 0, 0, 40, 40, 40, 0, 40},
    {40, 0, 45, 0, 55, 5, 60, 60, 0},
}};

constexpr const char* kContext = "kestrel::ui::ColorizeWnd";

QString formatted(std::string_view format, int value) {
    return QString::fromStdString(safeFormat(uiTextUtf8(kContext, format), {value}));
}

QString labelText(std::string_view source) {
    return uiText(kContext, source);
}

QString hueText(int hue) {
    return formatted(hue >= 1 ? kHuePositive : kHueOther, hue * 100 / kColorizeHueRange);
}
QString brightnessText(int value) {
    return formatted(value > 0 ? kBrightnessPositive : kBrightnessOther, value * 100 / kColorizeLevelRange);
}
QString saturationText(int value) {
    return formatted(value >= 1 ? kSaturationPositive : kSaturationOther, value * 100 / kColorizeLevelRange);
}

// A text read the way "%d" reads it: 0 when it holds no number.
int readNumber(const QString& text) {
    std::int64_t value = 0;
    if (!parseInt(text.toStdString(), value)) return 0;
    return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// Slow tooltips that stay a fixed time: the delays the panel's controls ask of the style.
class ToolTipTimingStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return kToolTipWakeUpMs;
        // The time after a tooltip went away during which the next one shows at once.
        if (hint == SH_ToolTip_FallAsleepDelay) return kToolTipReshowMs;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The panel colour with a band fading in from white along the top, and the etched lines that
// divide the controls.
class ColorizeContent : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QColor panel = palette().color(QPalette::Window);
        painter.fillRect(rect(), panel);
        QLinearGradient band(0, 0, width(), 0);
        band.setColorAt(0, Qt::white);
        band.setColorAt(1, panel);
        painter.fillRect(QRect(0, 0, width(), kBandHeight), band);

        const QColor dark = palette().color(QPalette::Dark);
        const QColor light = palette().color(QPalette::Light);
        // Each line is a rectangle two pixels thick: dark top and left edges, light bottom and
        // right ones.
        auto etched = [&](int x, int y, int w, int h) {
            painter.fillRect(QRect(x, y, w, 1), dark);
            painter.fillRect(QRect(x, y, 1, h), dark);
            painter.fillRect(QRect(x, y + h - 1, w, 1), light);
            painter.fillRect(QRect(x + w - 1, y, 1, h), light);
        };
        etched(396, 4, 2, 314);
        etched(0, 102, 404, 2);
        etched(550, 102, 32, 2);
        etched(0, 246, 582, 2);
        etched(580, 102, 2, 146);
    }
};

// The updating flag: while it lives, the panel's writes to its own controls notify nobody.
class Updating {
  public:
    explicit Updating(const std::vector<QObject*>& controls) {
        blockers_.reserve(controls.size());
        for (QObject* control : controls)
            blockers_.emplace_back(control);
    }

  private:
    std::vector<QSignalBlocker> blockers_;
};

template <typename Widget>
Widget* place(QWidget* parent, int x, int y, int width, int height, std::vector<QObject*>& controls,
              Widget* widget) {
    widget->setParent(parent);
    // A caption longer than its place (a translated one) widens its button or box to the right.
    if constexpr (std::is_base_of_v<QAbstractButton, Widget>)
        width = std::max(width, widget->sizeHint().width());
    widget->setGeometry(kOriginX + x, kOriginY + y, width, height);
    controls.push_back(widget);
    return widget;
}

QSlider* makeSlider(int range, int tickInterval, int singleStep, int pageStep) {
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(-range, range);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(tickInterval);
    slider->setSingleStep(singleStep);
    slider->setPageStep(pageStep);
    slider->setValue(0);
    return slider;
}

QLabel* makeLabel(const QString& text, Qt::Alignment alignment = Qt::AlignCenter) {
    auto* label = new QLabel(text);
    label->setAlignment(alignment);
    return label;
}

QCheckBox* makeCheckBox(const QString& text, bool checked) {
    auto* box = new QCheckBox(text);
    box->setChecked(checked);
    return box;
}

}  // namespace

std::array<int, ColorizeEngine::kMixTableCount> colorizePresetWeights(int preset) {
    const auto& base = kBasePresets.at(static_cast<std::size_t>(preset / 18));
    const int variant = preset % 18;
    const auto rowShift = static_cast<std::size_t>(variant % 3);
    const int columnOrder = variant / 3;
    // Where the weight of column j goes within its row.
    auto column = [columnOrder](std::size_t j) -> std::size_t {
        switch (columnOrder) {
            case 1:
                return (j + 1) % 3;
            case 2:
                return (j + 2) % 3;
            case 3:
                return 2 - j;
            case 4:
                return 2 - (j + 1) % 3;
            case 5:
                return 2 - (j + 2) % 3;
            default:
                return j;
        }
    };
    std::array<int, ColorizeEngine::kMixTableCount> weights{};
    for (std::size_t row = 0; row < 3; ++row) {
        const std::size_t targetRow = (row + rowShift) % 3;
        for (std::size_t j = 0; j < 3; ++j)
            weights.at(targetRow * 3 + column(j)) = base.at(row * 3 + j);
    }
    return weights;
}

QString wrappedToolTip(const QString& text, const QFont& font, int maxWidth) {
    QStringList lines;
    QTextLayout layout(text, font);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(maxWidth);
        lines << text.mid(line.textStart(), line.textLength()).trimmed().toHtmlEscaped();
    }
    layout.endLayout();
    // Rich text, so that the tooltip keeps these lines and shows "<应用着色>" as written.
    return QStringLiteral("<qt>") + lines.join(QStringLiteral("<br/>")) + QStringLiteral("</qt>");
}

ColorizeWnd::ColorizeWnd(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The content fills the panel and is at least its full size: larger panels paint the band and
    // the panel colour to their edges, smaller ones scroll.
    setWidgetResizable(true);
    content_ = new ColorizeContent;
    content_->setMinimumSize(kContentSize);
    setWidget(content_);

    previewTimer_.setSingleShot(true);
    previewTimer_.setInterval(0);
    connect(&previewTimer_, &QTimer::timeout, this, &ColorizeWnd::previewRequested);

    toolTipStyle_ = new ToolTipTimingStyle(QStyleFactory::create(style()->name()));
    toolTipStyle_->setParent(this);
    buildControls();
    RebuildFromWeights();
}

ColorizeWnd::~ColorizeWnd() = default;

void ColorizeWnd::buildControls() {
    std::vector<QObject*> controls;
    QWidget* parent = content_;

    resetHueButton_ = place(parent, 0, 0, 100, 24, controls, new QPushButton(tr("重置色调")));
    for (int row = 0; row < 3; ++row) {
        static constexpr std::array<const char*, 3> kRowNames{"R", "G", "B"};
        place(parent, 0, 28 + 18 * row, 18, 14, controls,
              makeLabel(QString::fromLatin1(kRowNames.at(static_cast<std::size_t>(row)))));
        for (int column = 0; column < 3; ++column) {
            auto* edit = new QLineEdit;
            edit->setMaxLength(3);
            edit->setFrame(false);
            edit->setTextMargins(0, 0, 0, 0);
            const auto index = static_cast<std::size_t>(row) * 3 + static_cast<std::size_t>(column);
            weightEdits_.at(index) = place(parent, 18 + 28 * column, 28 + 18 * row, 24, 14, controls, edit);
        }
    }
    hueLabel_ = place(parent, 120, 28, 269, 14, controls, makeLabel(labelText(kHueStart)));
    hueSlider_ = place(parent, 120, 42, 269, 30, controls,
                       makeSlider(kColorizeHueRange, kHueTickInterval, 1, kHuePageStep));
    brightnessLabel_ = place(parent, 120, 96, 269, 14, controls, makeLabel(labelText(kBrightnessStart)));
    for (int channel = 0; channel < 3; ++channel) {
        brightnessSliders_.at(static_cast<std::size_t>(channel)) =
            place(parent, 120, 110 + 38 * channel, 269, 30, controls,
                  makeSlider(kColorizeLevelRange, kLevelTickInterval, kLevelSingleStep, kLevelPageStep));
    }
    saturationLabel_ = place(parent, 120, 240, 269, 14, controls, makeLabel(labelText(kSaturationStart)));
    saturationSlider_ =
        place(parent, 120, 254, 269, 30, controls,
              makeSlider(kColorizeLevelRange, kLevelTickInterval, kLevelSingleStep, kLevelPageStep));
    resetBrightnessButton_ = place(parent, 0, 100, 100, 24, controls, new QPushButton(tr("重置亮度")));
    lockBox_ = place(parent, 0, 126, 110, 24, controls, makeCheckBox(tr("锁定亮度"), true));
    lightSourceBox_ = place(parent, 0, 152, 110, 24, controls, makeCheckBox(tr("光源亮度"), true));
    gammaBox_ = place(parent, 0, 178, 110, 24, controls, makeCheckBox(tr("咖玛亮度"), true));
    resetSaturationButton_ = place(parent, 0, 254, 100, 24, controls, new QPushButton(tr("重置饱和度")));
    previewButton_ = place(parent, 400, 28, 140, 24, controls, new QPushButton(tr("预览着色...")));
    place(parent, 400, 58, 95, 24, controls,
          makeLabel(tr("挑选预置色彩:"), Qt::AlignLeft | Qt::AlignVCenter));
    // The number box and its up-down control in one.
    presetBox_ = new QSpinBox;
    presetBox_->setRange(0, kColorizePresetCount);
    presetBox_->setValue(0);
    presetBox_->setAlignment(Qt::AlignRight);
    place(parent, 495, 56, 44, 18, controls, presetBox_);
    applyButton_ = place(parent, 400, 78, 140, 24, controls, new QPushButton(tr("应用着色...")));
    currentOnlyBox_ = place(parent, 408, 110, 160, 24, controls, makeCheckBox(tr("仅适用当前图象"), true));
    allImagesBox_ = place(parent, 408, 142, 160, 24, controls, makeCheckBox(tr("适用所有图象"), false));

    showWeights();

    addToolTip(previewButton_, tr("单击以在上面的窗口预览当前着色。"));
    addToolTip(resetBrightnessButton_, QStringLiteral("Reset Brightness to 0% (default)."));
    addToolTip(lockBox_, tr("复选以同时移动 R G B 亮度水平。不选则独立移动。"));
    addToolTip(lightSourceBox_, tr("复选以在源色彩上应用亮度，在改变 RGB 之间。"));
    addToolTip(gammaBox_, tr("复选应用一个咖玛曲线到明亮水平。不选则是直线更改。"));
    addToolTip(currentOnlyBox_, tr("复选仅着色当前位图。"));
    addToolTip(allImagesBox_, tr("复选以便当<应用着色>点击后，所有的图象文件将被着色。"));
    addToolTip(applyButton_, tr("单击应用当前的着色为不同的文件和色彩属性。"));
    addToolTip(resetHueButton_, tr("单击重置色彩色调。"));
    addToolTip(resetSaturationButton_, QStringLiteral("Reset Saturation to 0% (default)."));

    connect(hueSlider_, &QSlider::valueChanged, this, &ColorizeWnd::hueMoved);
    for (int channel = 0; channel < 3; ++channel) {
        connect(brightnessSliders_.at(static_cast<std::size_t>(channel)), &QSlider::valueChanged, this,
                [this, channel](int value) { brightnessMoved(channel, value); });
    }
    connect(saturationSlider_, &QSlider::valueChanged, this, &ColorizeWnd::saturationMoved);
    for (int index = 0; index < ColorizeEngine::kMixTableCount; ++index) {
        connect(weightEdits_.at(static_cast<std::size_t>(index)), &QLineEdit::textChanged, this,
                [this, index](const QString& text) { weightEdited(index, text); });
    }
    connect(presetBox_, &QSpinBox::textChanged, this, &ColorizeWnd::presetChosen);
    connect(previewButton_, &QPushButton::clicked, this, [this] {
        previewTimer_.stop();
        emit previewRequested();
    });
    connect(applyButton_, &QPushButton::clicked, this,
            [this] { emit applyRequested(currentOnlyBox_->isChecked(), allImagesBox_->isChecked()); });
    connect(resetBrightnessButton_, &QPushButton::clicked, this, &ColorizeWnd::resetBrightness);
    connect(resetHueButton_, &QPushButton::clicked, this, &ColorizeWnd::resetHue);
    connect(resetSaturationButton_, &QPushButton::clicked, this, &ColorizeWnd::resetSaturation);
    connect(lockBox_, &QCheckBox::toggled, this, [this] { optionToggled(false); });
    connect(lightSourceBox_, &QCheckBox::toggled, this, [this] { optionToggled(true); });
    connect(gammaBox_, &QCheckBox::toggled, this, [this] { optionToggled(true); });

    controls_ = std::move(controls);
}

void ColorizeWnd::addToolTip(QWidget* control, const QString& text) {
    control->setStyle(toolTipStyle_);
    const QFont font = QToolTip::font();
    // The label inside the tooltip window keeps a margin on either side.
    const int margin =
        2 * (1 + toolTipStyle_->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, control));
    control->setToolTip(wrappedToolTip(text, font, kToolTipMaxWidth - margin));
    control->installEventFilter(this);
}

bool ColorizeWnd::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* control = qobject_cast<QWidget*>(watched);
        if (control != nullptr && !control->toolTip().isEmpty()) {
            const auto* help = static_cast<QHelpEvent*>(event);
            QToolTip::showText(help->globalPos(), control->toolTip(), control, QRect(), kToolTipShownMs);
            event->accept();
            return true;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

// ----- State --------------------------------------------------------------------------------------

QSlider* ColorizeWnd::brightnessSlider(int channel) const {
    return brightnessSliders_.at(static_cast<std::size_t>(channel));
}

QLineEdit* ColorizeWnd::weightEdit(int index) const {
    return weightEdits_.at(static_cast<std::size_t>(index));
}

ColorizeState ColorizeWnd::state() const {
    ColorizeState state;
    state.hue = hue_;
    state.brightness = brightness_;
    state.saturation = saturation_;
    state.weights = weights_;
    state.lockBrightness = lockBox_->isChecked();
    state.lightSource = lightSourceBox_->isChecked();
    state.gammaBrightness = gammaBox_->isChecked();
    state.currentOnly = currentOnlyBox_->isChecked();
    state.allImages = allImagesBox_->isChecked();
    state.preset = presetBox_->value();
    state.hueLabel = hueLabel_->text();
    state.brightnessLabel = brightnessLabel_->text();
    state.saturationLabel = saturationLabel_->text();
    return state;
}

void ColorizeWnd::restore(const ColorizeState& state) {
    {
        const Updating updating(controls_);
        hueSlider_->setValue(state.hue);
        hue_ = hueSlider_->value();
        for (std::size_t channel = 0; channel < 3; ++channel) {
            brightnessSliders_.at(channel)->setValue(state.brightness.at(channel));
            brightness_.at(channel) = brightnessSliders_.at(channel)->value();
        }
        saturationSlider_->setValue(state.saturation);
        weights_ = state.weights;
        showWeights();
        lockBox_->setChecked(state.lockBrightness);
        lightSourceBox_->setChecked(state.lightSource);
        gammaBox_->setChecked(state.gammaBrightness);
        currentOnlyBox_->setChecked(state.currentOnly);
        allImagesBox_->setChecked(state.allImages);
        presetBox_->setValue(state.preset);
        hueLabel_->setText(state.hueLabel);
        brightnessLabel_->setText(state.brightnessLabel);
        saturationLabel_->setText(state.saturationLabel);
    }
    applySaturation(saturationSlider_->value());
    RebuildFromWeights();
}

void ColorizeWnd::showWeights() {
    const Updating updating(controls_);
    for (std::size_t k = 0; k < weights_.size(); ++k)
        weightEdits_.at(k)->setText(QString::number(weights_.at(k)));
}

// ----- Tables -------------------------------------------------------------------------------------

void ColorizeWnd::RebuildFromHue() {
    const bool lightSource = lightSourceBox_->isChecked();
    const bool linear = !gammaBox_->isChecked();
    engine_.BuildHueTables(hue_, brightness_[0], brightness_[1], brightness_[2], lightSource, linear);
    // The weights are the hue's own, read where the tables hold weight × 255 for input 255. They
    // are read from tables without the brightness offsets: a linear darkening lowers that entry,
    // and weights read from it would darken a second time on the next rebuild from the weights.
    ColorizeEngine hueOnly;
    hueOnly.BuildHueTables(hue_, 0, 0, 0, lightSource, linear);
    for (int k = 0; k < ColorizeEngine::kMixTableCount; ++k) {
        const auto entry = static_cast<std::uint32_t>(hueOnly.mix(k)[255]);
        weights_.at(static_cast<std::size_t>(k)) = static_cast<int>(entry / 255u);
    }
    showWeights();
}

void ColorizeWnd::RebuildFromWeights() {
    std::array<double, ColorizeEngine::kMixTableCount> weights{};
    for (std::size_t k = 0; k < weights.size(); ++k)
        weights.at(k) = weights_.at(k);
    engine_.BuildMatrixTables(weights, brightness_[0], brightness_[1], brightness_[2],
                              lightSourceBox_->isChecked(), !gammaBox_->isChecked());
}

void ColorizeWnd::applySaturation(int value) {
    saturation_ = value;
    engine_.setSaturationOn(value != 0);
    // The panel's saturation: curve offset 0 in curve mode, so a channel at distance k from the
    // luminance ends at k + k × s / 256.
    if (value != 0) engine_.BuildSaturationTable(0, -value / 256.0, false);
}

void ColorizeWnd::schedulePreview() {
    if (!previewTimer_.isActive()) previewTimer_.start();
}

// ----- Controls -----------------------------------------------------------------------------------

void ColorizeWnd::hueMoved(int value) {
    if (value == hue_) return;
    hue_ = value;
    hueLabel_->setText(hueText(value));
    RebuildFromHue();
    schedulePreview();
}

void ColorizeWnd::brightnessMoved(int channel, int value) {
    auto& moved = brightness_.at(static_cast<std::size_t>(channel));
    if (value == moved) return;
    const int change = value - moved;
    moved = value;
    if (lockBox_->isChecked()) {
        const Updating updating(controls_);
        for (std::size_t other = 0; other < 3; ++other) {
            if (static_cast<int>(other) == channel) continue;
            // A slider already near its end stops there; the value follows the slider.
            brightnessSliders_.at(other)->setValue(brightness_.at(other) + change);
            brightness_.at(other) = brightnessSliders_.at(other)->value();
        }
    }
    brightnessLabel_->setText(brightnessText(value));
    RebuildFromWeights();
    schedulePreview();
}

void ColorizeWnd::saturationMoved(int value) {
    if (value == saturation_) return;
    applySaturation(value);
    saturationLabel_->setText(saturationText(value));
    RebuildFromWeights();
    schedulePreview();
}

void ColorizeWnd::weightEdited(int index, const QString& text) {
    if (!isVisible()) return;
    weights_.at(static_cast<std::size_t>(index)) = readNumber(text);
    hueLabel_->setText(labelText(kHueFromWeights));
    RebuildFromWeights();
    schedulePreview();
}

void ColorizeWnd::presetChosen(const QString& text) {
    if (!isVisible()) return;
    // The up-down control also offers 162, which stands for no preset.
    const int preset = readNumber(text);
    if (preset < 0 || preset >= kColorizePresetCount) return;
    weights_ = colorizePresetWeights(preset);
    showWeights();
    {
        const Updating updating(controls_);
        saturationSlider_->setValue(kPresetSaturation * 256 / 100);
    }
    applySaturation(saturationSlider_->value());
    saturationLabel_->setText(formatted(kSaturationPreset, kPresetSaturation));
    hueLabel_->setText(labelText(kHueFromWeights));
    RebuildFromWeights();
    schedulePreview();
}

void ColorizeWnd::resetBrightness() {
    {
        const Updating updating(controls_);
        for (QSlider* slider : brightnessSliders_)
            slider->setValue(0);
        lockBox_->setChecked(true);
        lightSourceBox_->setChecked(true);
        gammaBox_->setChecked(true);
    }
    brightness_ = {};
    brightnessLabel_->setText(labelText(kBrightnessStart));
    RebuildFromWeights();
    schedulePreview();
}

void ColorizeWnd::resetHue() {
    if (!isVisible()) return;
    weights_ = kIdentityWeights;
    showWeights();
    {
        const Updating updating(controls_);
        hueSlider_->setValue(0);
    }
    hue_ = 0;
    // The label goes back with the slider (it would otherwise keep the old hue or "色调---").
    hueLabel_->setText(labelText(kHueStart));
    RebuildFromWeights();
    schedulePreview();
}

void ColorizeWnd::resetSaturation() {
    {
        const Updating updating(controls_);
        saturationSlider_->setValue(0);
    }
    applySaturation(0);
    saturationLabel_->setText(labelText(kSaturationStart));
    RebuildFromWeights();
    schedulePreview();
}

void ColorizeWnd::optionToggled(bool preview) {
    RebuildFromWeights();
    if (preview) schedulePreview();
}

}  // namespace kestrel::ui
