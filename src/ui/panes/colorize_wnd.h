// The colorize panel of the image pane: a hue slider, three brightness sliders, a saturation slider,
// the 3 × 3 mixing weights, the preset colourings and the option boxes. It owns the colorize engine
// and rebuilds its tables on every change; showing the recoloured picture and rewriting files is
// left to the image pane, which it asks through previewRequested() and applyRequested().
#pragma once

#include <QCoreApplication>
#include <QScrollArea>
#include <QString>
#include <QTimer>
#include <array>
#include <vector>

#include "core/images/colorize_engine.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QStyle;

namespace kestrel::ui {

inline constexpr int kColorizeHueRange = 768;  // the hue slider runs from −768 to 768
inline constexpr int kColorizeLevelRange = 255;
inline constexpr int kColorizePresetCount = 162;

// What the panel shows: its values, its option boxes and its three value labels. The image pane
// object keeps it while the pane's window is closed and opened again.
struct ColorizeState {
    int hue = 0;
    std::array<int, 3> brightness{};  // red, green, blue
    int saturation = 0;
    // Percent, row = output red, green, blue; column = input red, green, blue.
    std::array<int, ColorizeEngine::kMixTableCount> weights{100, 0, 0, 0, 100, 0, 0, 0, 100};
    bool lockBrightness = true;
    bool lightSource = true;
    bool gammaBrightness = true;
    bool currentOnly = true;
    bool allImages = false;
    int preset = 0;
    QString hueLabel = QCoreApplication::translate("kestrel::ui::ColorizeWnd", "色调+0%");
    QString brightnessLabel = QCoreApplication::translate("kestrel::ui::ColorizeWnd", "亮度 +0%");
    QString saturationLabel = QCoreApplication::translate("kestrel::ui::ColorizeWnd", "饱和度 +0%");
};

// The weights of preset `preset` (0 … 161): one of nine base presets with its rows rotated and its
// columns permuted.
std::array<int, ColorizeEngine::kMixTableCount> colorizePresetWeights(int preset);

// A tooltip text as rich text whose lines are at most `maxWidth` pixels wide in `font`.
QString wrappedToolTip(const QString& text, const QFont& font, int maxWidth);

class ColorizeWnd : public QScrollArea {
    Q_OBJECT

  public:
    explicit ColorizeWnd(QWidget* parent = nullptr);
    ~ColorizeWnd() override;

    ColorizeEngine& engine() { return engine_; }
    const ColorizeEngine& engine() const { return engine_; }

    ColorizeState state() const;
    // Shows `state` and rebuilds the engine's tables from it, without asking for a preview.
    void restore(const ColorizeState& state);

    // The engine's tables from the hue and the brightness values; the weights become the hue's and
    // are shown.
    void RebuildFromHue();
    // The engine's tables from the nine weights and the brightness values.
    void RebuildFromWeights();
    // True when the values recolour nothing: identity weights, no brightness, no saturation.
    bool isNeutral() const;
    // Back to the values that recolour nothing (the options and the choice stay), without asking
    // for a preview: after an apply, the picture shown is what the file now holds.
    void resetColouring();

    // Wide enough for every control at its smallest size.
    QSize sizeHint() const override;

    // The controls, for the pane's tests and screenshots.
    QWidget* content() const { return content_; }
    QSlider* hueSlider() const { return hueSlider_; }
    QSlider* brightnessSlider(int channel) const;
    QSlider* saturationSlider() const { return saturationSlider_; }
    QLineEdit* weightEdit(int index) const;
    QSpinBox* presetBox() const { return presetBox_; }
    QLabel* hueLabel() const { return hueLabel_; }
    QLabel* brightnessLabel() const { return brightnessLabel_; }
    QLabel* saturationLabel() const { return saturationLabel_; }
    QCheckBox* lockBox() const { return lockBox_; }
    QCheckBox* lightSourceBox() const { return lightSourceBox_; }
    QCheckBox* gammaBox() const { return gammaBox_; }
    QRadioButton* currentOnlyBox() const { return currentOnlyBox_; }
    QRadioButton* allImagesBox() const { return allImagesBox_; }
    QPushButton* previewButton() const { return previewButton_; }
    QPushButton* applyButton() const { return applyButton_; }
    QPushButton* resetHueButton() const { return resetHueButton_; }
    QPushButton* resetBrightnessButton() const { return resetBrightnessButton_; }
    QPushButton* resetSaturationButton() const { return resetSaturationButton_; }

  signals:
    // The picture should be shown with the current tables (the image pane's PreviewColorize).
    void previewRequested();
    // The recolouring should be applied (the image pane's ApplyColorize).
    void applyRequested(bool currentOnly, bool allImages);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void addToolTip(QWidget* control, const QString& text);

    void hueMoved(int value);
    void brightnessMoved(int channel, int value);
    void saturationMoved(int value);
    void weightEdited(int index, const QString& text);
    void presetChosen(const QString& text);
    void resetHue();
    void resetBrightness();
    void resetSaturation();
    void optionToggled(bool preview);

    void showWeights();
    void applySaturation(int value);
    // The changes of a drag are gathered into one preview per pass of the event loop.
    void schedulePreview();

    ColorizeEngine engine_;
    int hue_ = 0;
    std::array<int, 3> brightness_{};
    int saturation_ = 0;
    std::array<int, ColorizeEngine::kMixTableCount> weights_{100, 0, 0, 0, 100, 0, 0, 0, 100};
    QTimer previewTimer_;

    QWidget* content_ = nullptr;
    QSlider* hueSlider_ = nullptr;
    std::array<QSlider*, 3> brightnessSliders_{};
    QSlider* saturationSlider_ = nullptr;
    std::array<QLineEdit*, ColorizeEngine::kMixTableCount> weightEdits_{};
    QSpinBox* presetBox_ = nullptr;
    QLabel* hueLabel_ = nullptr;
    QLabel* brightnessLabel_ = nullptr;
    QLabel* saturationLabel_ = nullptr;
    QCheckBox* lockBox_ = nullptr;
    QCheckBox* lightSourceBox_ = nullptr;
    QCheckBox* gammaBox_ = nullptr;
    QRadioButton* currentOnlyBox_ = nullptr;
    QRadioButton* allImagesBox_ = nullptr;
    QPushButton* previewButton_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QPushButton* resetHueButton_ = nullptr;
    QPushButton* resetBrightnessButton_ = nullptr;
    QPushButton* resetSaturationButton_ = nullptr;
    QStyle* toolTipStyle_ = nullptr;
    std::vector<QObject*> controls_;  // silenced while the panel writes them
};

}  // namespace kestrel::ui
