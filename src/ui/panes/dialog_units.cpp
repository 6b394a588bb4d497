#include "ui/panes/dialog_units.h"

#include <QFontMetrics>
#include <algorithm>

namespace kestrel::ui {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // (width / 26 + 1) / 2 is the width over 52, rounded half up.
    baseWidth_ = std::max(1, (letters / 26 + 1) / 2);
    baseHeight_ = std::max(1, metrics.height());
}

int DialogUnits::x(int units) const {
    return units * baseWidth_ / 4;
}

int DialogUnits::y(int units) const {
    return units * baseHeight_ / 8;
}

}  // namespace kestrel::ui
