#include "ui/panes/colorize_wnd.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTextLayout>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform/format.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

// The margins of the content: the band along the top, and a little room on the other sides.
constexpr int kMarginLeft = 7;
constexpr int kMarginTop = 14;
constexpr int kMarginOther = 7;
constexpr int kBandHeight = 14;
// The smallest sizes of the controls; longer texts and larger fonts make them grow.
constexpr int kSliderWidth = 269;
constexpr int kSliderHeight = 30;
constexpr int kLeftButtonWidth = 100;
constexpr int kOptionWidth = 110;
constexpr int kRightButtonWidth = 140;
constexpr int kChoiceWidth = 160;
constexpr int kControlHeight = 24;
constexpr QSize kWeightSize(24, 14);
constexpr int kPresetBoxWidth = 44;

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

// A control at least `least` large; a longer text (a translation) or a larger font makes it larger,
// and the layout gives it the room.
template <typename Base>
class AtLeast : public Base {
  public:
    template <typename... Args>
    explicit AtLeast(QSize least, Args&&... args) : Base(std::forward<Args>(args)...), least_(least) {}
    QSize sizeHint() const override { return Base::sizeHint().expandedTo(least_); }
    QSize minimumSizeHint() const override { return Base::minimumSizeHint().expandedTo(least_); }

  private:
    QSize least_;
};

// A weight box: three digits and a sign, 24 × 14 at the least.
class WeightEdit : public QLineEdit {
  public:
    using QLineEdit::QLineEdit;
    QSize sizeHint() const override {
        const QFontMetrics metrics = fontMetrics();
        return QSize(metrics.horizontalAdvance(QStringLiteral("-000")) + 4, metrics.height())
            .expandedTo(kWeightSize);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

template <typename Widget>
Widget* control(Widget* widget, std::vector<QObject*>& controls) {
    controls.push_back(widget);
    return widget;
}

// An etched line between two groups of controls.
QFrame* etchedLine(QFrame::Shape shape) {
    auto* line = new QFrame;
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QSlider* makeSlider(int range, int tickInterval, int singleStep, int pageStep) {
    auto* slider = new AtLeast<QSlider>(QSize(kSliderWidth, kSliderHeight), Qt::Horizontal);
    slider->setRange(-range, range);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(tickInterval);
    slider->setSingleStep(singleStep);
    slider->setPageStep(pageStep);
    slider->setValue(0);
    return slider;
}

QLabel* makeLabel(const QString& text, QSize least, Qt::Alignment alignment = Qt::AlignCenter) {
    auto* label = new AtLeast<QLabel>(least, text);
    label->setAlignment(alignment);
    return label;
}

QCheckBox* makeCheckBox(const QString& text, bool checked) {
    auto* box = new AtLeast<QCheckBox>(QSize(kOptionWidth, kControlHeight), text);
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
    // The content fills the panel and is at least as large as its layout needs: larger panels paint
    // the band and the panel colour to their edges, smaller ones scroll.
    setWidgetResizable(true);
    content_ = new ColorizeContent;

    previewTimer_.setSingleShot(true);
    previewTimer_.setInterval(0);
    connect(&previewTimer_, &QTimer::timeout, this, &ColorizeWnd::previewRequested);

    toolTipStyle_ = new ToolTipTimingStyle(QStyleFactory::create(style()->name()));
    toolTipStyle_->setParent(this);
    buildControls();
    setWidget(content_);
    RebuildFromWeights();
}

QSize ColorizeWnd::sizeHint() const {
    const QSize content = content_->minimumSizeHint();
    const int frame = 2 * frameWidth();
    return {content.width() + frame, content.height() + frame};
}

ColorizeWnd::~ColorizeWnd() = default;

void ColorizeWnd::buildControls() {
    std::vector<QObject*> controls;

    // Hue: its reset button over the mixing weights, beside the hue label and slider.
    resetHueButton_ =
        control(new AtLeast<QPushButton>(QSize(kLeftButtonWidth, kControlHeight), tr("重置色调")), controls);
    auto* weights = new QGridLayout;
    weights->setSpacing(4);
    weights->setVerticalSpacing(4);
    for (int row = 0; row < 3; ++row) {
        static constexpr std::array<const char*, 3> kRowNames{"R", "G", "B"};
        weights->addWidget(control(makeLabel(QString::fromLatin1(kRowNames.at(static_cast<std::size_t>(row))),
                                             QSize(14, 14)),
                                   controls),
                           row, 0);
        for (int column = 0; column < 3; ++column) {
            auto* edit = new WeightEdit;
            edit->setMaxLength(3);
            edit->setFrame(false);
            edit->setTextMargins(0, 0, 0, 0);
            edit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
            const auto index = static_cast<std::size_t>(row) * 3 + static_cast<std::size_t>(column);
            weightEdits_.at(index) = control(edit, controls);
            weights->addWidget(edit, row, column + 1);
        }
    }
    auto* hueLeft = new QVBoxLayout;
    hueLeft->addWidget(resetHueButton_);
    hueLeft->addLayout(weights);
    hueLeft->addStretch();
    hueLabel_ = control(makeLabel(labelText(kHueStart), QSize(kSliderWidth, 14)), controls);
    hueSlider_ = control(makeSlider(kColorizeHueRange, kHueTickInterval, 1, kHuePageStep), controls);
    auto* hueRight = new QVBoxLayout;
    hueRight->addWidget(hueLabel_);
    hueRight->addWidget(hueSlider_);
    hueRight->addStretch();

    // Brightness: its reset button and the three options, beside the label and the three sliders.
    resetBrightnessButton_ =
        control(new AtLeast<QPushButton>(QSize(kLeftButtonWidth, kControlHeight), tr("重置亮度")), controls);
    lockBox_ = control(makeCheckBox(tr("锁定亮度"), true), controls);
    lightSourceBox_ = control(makeCheckBox(tr("光源亮度"), true), controls);
    gammaBox_ = control(makeCheckBox(tr("咖玛亮度"), true), controls);
    auto* brightnessLeft = new QVBoxLayout;
    for (QWidget* widget :
         std::initializer_list<QWidget*>{resetBrightnessButton_, lockBox_, lightSourceBox_, gammaBox_})
        brightnessLeft->addWidget(widget);
    brightnessLeft->addStretch();
    brightnessLabel_ = control(makeLabel(labelText(kBrightnessStart), QSize(kSliderWidth, 14)), controls);
    auto* brightnessRight = new QVBoxLayout;
    brightnessRight->addWidget(brightnessLabel_);
    for (int channel = 0; channel < 3; ++channel) {
        QSlider* slider = control(
            makeSlider(kColorizeLevelRange, kLevelTickInterval, kLevelSingleStep, kLevelPageStep), controls);
        brightnessSliders_.at(static_cast<std::size_t>(channel)) = slider;
        brightnessRight->addWidget(slider);
    }
    brightnessRight->addStretch();

    // Saturation: its reset button beside the label and the slider.
    resetSaturationButton_ = control(
        new AtLeast<QPushButton>(QSize(kLeftButtonWidth, kControlHeight), tr("重置饱和度")), controls);
    saturationLabel_ = control(makeLabel(labelText(kSaturationStart), QSize(kSliderWidth, 14)), controls);
    saturationSlider_ = control(
        makeSlider(kColorizeLevelRange, kLevelTickInterval, kLevelSingleStep, kLevelPageStep), controls);
    auto* saturationLeft = new QVBoxLayout;
    saturationLeft->addSpacing(14);
    saturationLeft->addWidget(resetSaturationButton_);
    saturationLeft->addStretch();
    auto* saturationRight = new QVBoxLayout;
    saturationRight->addWidget(saturationLabel_);
    saturationRight->addWidget(saturationSlider_);

    // Preview, the presets, apply, and the choice of what apply recolours.
    previewButton_ = control(
        new AtLeast<QPushButton>(QSize(kRightButtonWidth, kControlHeight), tr("预览着色...")), controls);
    auto* presetLabel =
        control(makeLabel(tr("挑选预置色彩:"), QSize(95, kControlHeight), Qt::AlignLeft | Qt::AlignVCenter),
                controls);
    // The number box and its up-down control in one.
    presetBox_ = new AtLeast<QSpinBox>(QSize(kPresetBoxWidth, 18));
    presetBox_->setRange(0, kColorizePresetCount);
    presetBox_->setValue(0);
    presetBox_->setAlignment(Qt::AlignRight);
    control(presetBox_, controls);
    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(presetLabel);
    presetRow->addWidget(presetBox_);
    presetRow->addStretch();
    applyButton_ = control(
        new AtLeast<QPushButton>(QSize(kRightButtonWidth, kControlHeight), tr("应用着色...")), controls);
    currentOnlyBox_ = control(
        new AtLeast<QRadioButton>(QSize(kChoiceWidth, kControlHeight), tr("仅适用当前图象")), controls);
    allImagesBox_ =
        control(new AtLeast<QRadioButton>(QSize(kChoiceWidth, kControlHeight), tr("适用所有图象")), controls);
    currentOnlyBox_->setChecked(true);
    // One choice: the current picture or every picture.
    auto* choice = new QButtonGroup(this);
    choice->setExclusive(true);
    choice->addButton(currentOnlyBox_);
    choice->addButton(allImagesBox_);
    auto* choices = new QVBoxLayout;
    choices->setContentsMargins(8, 4, 0, 0);
    choices->addWidget(currentOnlyBox_);
    choices->addWidget(allImagesBox_);
    auto* right = new QVBoxLayout;
    right->addWidget(previewButton_);
    right->addLayout(presetRow);
    right->addWidget(applyButton_);
    right->addWidget(etchedLine(QFrame::HLine));
    right->addLayout(choices);
    right->addStretch();

    // Three rows (hue, brightness, saturation) of a left column and a slider column; the column of
    // buttons on the right beside the first two rows; etched lines between the groups.
    auto* grid = new QGridLayout(content_);
    grid->setContentsMargins(kMarginLeft, kMarginTop, kMarginOther, kMarginOther);
    grid->setHorizontalSpacing(10);
    grid->addLayout(hueLeft, 0, 0);
    grid->addLayout(hueRight, 0, 1);
    grid->addWidget(etchedLine(QFrame::HLine), 1, 0, 1, 2);
    grid->addLayout(brightnessLeft, 2, 0);
    grid->addLayout(brightnessRight, 2, 1);
    grid->addWidget(etchedLine(QFrame::VLine), 0, 2, 3, 1);
    grid->addLayout(right, 0, 3, 3, 1);
    grid->addWidget(etchedLine(QFrame::HLine), 3, 0, 1, 4);
    grid->addLayout(saturationLeft, 4, 0);
    grid->addLayout(saturationRight, 4, 1);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(5, 1);

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
        (state.allImages && !state.currentOnly ? allImagesBox_ : currentOnlyBox_)->setChecked(true);
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

bool ColorizeWnd::isNeutral() const {
    return weights_ == kIdentityWeights && brightness_ == std::array<int, 3>{} && saturation_ == 0;
}

void ColorizeWnd::resetColouring() {
    if (isNeutral()) return;
    {
        const Updating updating(controls_);
        hueSlider_->setValue(0);
        for (QSlider* slider : brightnessSliders_)
            slider->setValue(0);
        saturationSlider_->setValue(0);
    }
    hue_ = 0;
    brightness_ = {};
    weights_ = kIdentityWeights;
    showWeights();
    applySaturation(0);
    hueLabel_->setText(labelText(kHueStart));
    brightnessLabel_->setText(labelText(kBrightnessStart));
    saturationLabel_->setText(labelText(kSaturationStart));
    RebuildFromWeights();
    previewTimer_.stop();
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
