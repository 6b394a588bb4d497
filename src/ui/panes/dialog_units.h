// Dialog units, the measure of dialog templates: a quarter of the font's average character width
// horizontally and an eighth of its height vertically. The average width is that of the 52 letters
// A–Z a–z, rounded as the window system rounds it.
#pragma once

#include <QFont>
#include <QPoint>
#include <QSize>

namespace kestrel::ui {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    int x(int units) const;
    int y(int units) const;
    QSize size(int widthUnits, int heightUnits) const { return {x(widthUnits), y(heightUnits)}; }
    int baseWidth() const { return baseWidth_; }
    int baseHeight() const { return baseHeight_; }

  private:
    int baseWidth_ = 1;
    int baseHeight_ = 1;
};

}  // namespace kestrel::ui
