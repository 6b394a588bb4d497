#include "ui/panes/menu_preview.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionMenuItem>
#include <algorithm>

#include "core/pe/menu_layout.h"

namespace kestrel::ui {

namespace {

QString itemText(const MenuItem& item) {
    return QString::fromStdU16String(item.text);
}

MenuSize menuSize(QSize size) {
    return {size.width(), size.height()};
}

QRect toRect(const MenuBox& box) {
    return {box.x, box.y, box.width, box.height};
}

bool enabled(const MenuItem& item) {
    return !item.grayed && !item.disabled;
}

// The items of a pop-up as a real menu (built when it opens; the preview runs nothing).
void fillMenu(QMenu* menu, const std::vector<MenuItem>& items, int depth = 0) {
    for (const MenuItem& item : items) {
        if (item.separator) {
            menu->addSeparator();
        } else if (item.popup) {
            QMenu* submenu = menu->addMenu(itemText(item));
            submenu->setEnabled(enabled(item));
            if (depth < kMaxMenuDepth) fillMenu(submenu, item.children, depth + 1);
        } else {
            QAction* action = menu->addAction(itemText(item));
            action->setEnabled(enabled(item));
            action->setCheckable(item.checked || item.radioCheck);
            action->setChecked(item.checked);
            if (item.defaultItem) {
                QFont bold = action->font();
                bold.setBold(true);
                action->setFont(bold);
            }
        }
    }
}

}  // namespace

bool IsRightToLeftLanguage(std::uint16_t language) {
    // Primary language IDs: Arabic, Hebrew, Urdu, Persian, Syriac, Divehi, Pashto, Uyghur, Sindhi
    // (Arabic script), Dari, Central Kurdish.
    constexpr std::uint16_t kRightToLeft[] = {0x01, 0x0D, 0x20, 0x29, 0x5A, 0x65,
                                              0x63, 0x80, 0x59, 0x8C, 0x92};
    const std::uint16_t primary = language & 0x3FF;
    return std::find(std::begin(kRightToLeft), std::end(kRightToLeft), primary) != std::end(kRightToLeft);
}

// ----- The drop-down ------------------------------------------------------------------------------

MenuDropDown::MenuDropDown(const std::vector<MenuItem>& items, QWidget* parent, Qt::LayoutDirection direction)
    : QWidget(parent), items_(items) {
    setLayoutDirection(direction);
    setMouseTracking(true);
    const QFontMetrics metrics(font());
    for (const MenuItem& item : items_) {
        checkable_ = checkable_ || item.checked || item.radioCheck;
        const QString text = itemText(item);
        if (const qsizetype tab = text.indexOf(QLatin1Char('\t')); tab >= 0)
            tabWidth_ = std::max(tabWidth_, metrics.horizontalAdvance(text.mid(tab + 1)) + metrics.height());
    }
    const int frame = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    const int hMargin = style()->pixelMetric(QStyle::PM_MenuHMargin, nullptr, this);
    const int vMargin = style()->pixelMetric(QStyle::PM_MenuVMargin, nullptr, this);
    const int top = frame + vMargin;

    // Items run down in columns; a break flag starts the next column.
    std::vector<MenuSize> sizes;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        QStyleOptionMenuItem option;
        initOption(option, static_cast<int>(i));
        QSize content;
        if (items_[i].separator) {
            content = QSize(2, 2);
        } else {
            QString label = option.text;
            if (const qsizetype tab = label.indexOf(QLatin1Char('\t')); tab >= 0) label = label.left(tab);
            const QFontMetrics itemMetrics(option.font);
            content = QSize(
                itemMetrics.boundingRect(QRect(), Qt::TextSingleLine | Qt::TextShowMnemonic, label).width() +
                    tabWidth_,
                itemMetrics.height());
        }
        sizes.push_back(menuSize(style()->sizeFromContents(QStyle::CT_MenuItem, &option, content, this)));
    }
    const MenuLayout layout = LayOutMenuColumns(items_, sizes, frame + hMargin, top);
    setFixedSize(layout.right + hMargin + frame, layout.bottom + vMargin + frame);
    rects_.clear();
    for (const MenuBox& box : layout.boxes)
        rects_.push_back(toRect(isRightToLeft() ? MirroredMenuBox(box, width()) : box));
}

MenuDropDown::~MenuDropDown() {
    delete submenu_;
}

void MenuDropDown::initOption(QStyleOptionMenuItem& option, int index) const {
    const MenuItem& item = items_[static_cast<std::size_t>(index)];
    option.initFrom(this);
    option.palette = palette();
    option.state = QStyle::State_None;
    if (isEnabled() && enabled(item)) {
        option.state |= QStyle::State_Enabled;
    } else {
        // The styles draw a disabled item's text in the current colour group.
        option.palette.setCurrentColorGroup(QPalette::Disabled);
    }
    if (index == hovered_ && !item.separator) option.state |= QStyle::State_Selected;
    option.font = font();
    if (item.defaultItem) option.font.setBold(true);
    option.fontMetrics = QFontMetrics(option.font);
    option.text = itemText(item);
    option.reservedShortcutWidth = tabWidth_;
    option.maxIconWidth = 0;
    option.menuHasCheckableItems = checkable_;
    option.checkType = !checkable_       ? QStyleOptionMenuItem::NotCheckable
                       : item.radioCheck ? QStyleOptionMenuItem::Exclusive
                                         : QStyleOptionMenuItem::NonExclusive;
    option.checked = item.checked;
    option.menuItemType = item.separator ? QStyleOptionMenuItem::Separator
                          : item.popup   ? QStyleOptionMenuItem::SubMenu
                                         : QStyleOptionMenuItem::Normal;
    if (index >= 0 && static_cast<std::size_t>(index) < rects_.size())
        option.rect = rects_[static_cast<std::size_t>(index)];
    option.menuRect = rect();
}

void MenuDropDown::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The styles align item texts through the painter's direction.
    painter.setLayoutDirection(layoutDirection());
    QStyleOption panel;
    panel.initFrom(this);
    panel.state = QStyle::State_None;
    style()->drawPrimitive(QStyle::PE_PanelMenu, &panel, &painter, this);
    for (int i = 0; i < itemCount(); ++i) {
        QStyleOptionMenuItem option;
        initOption(option, i);
        style()->drawControl(QStyle::CE_MenuItem, &option, &painter, this);
    }
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = rect();
    frame.lineWidth = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    style()->drawPrimitive(QStyle::PE_FrameMenu, &frame, &painter, this);
}

void MenuDropDown::hover(int index) {
    if (index == hovered_) return;
    hovered_ = index;
    update();
    if (submenu_ != nullptr) {
        submenu_->close();
        submenu_->deleteLater();
        submenu_ = nullptr;
    }
    if (index < 0) return;
    const MenuItem& item = items_[static_cast<std::size_t>(index)];
    if (!item.popup || !enabled(item) || item.children.empty()) return;
    submenu_ = new QMenu(this);
    submenu_->setLayoutDirection(layoutDirection());
    fillMenu(submenu_, item.children);
    // Right to left, the pop-up opens on the left of its item.
    const QRect& rect = rects_[static_cast<std::size_t>(index)];
    const QPoint at =
        isRightToLeft() ? rect.topLeft() - QPoint(submenu_->sizeHint().width(), 0) : rect.topRight();
    submenu_->popup(mapToGlobal(at));
}

void MenuDropDown::mouseMoveEvent(QMouseEvent* event) {
    int found = -1;
    for (int i = 0; i < itemCount(); ++i) {
        if (rects_[static_cast<std::size_t>(i)].contains(event->position().toPoint())) found = i;
    }
    // An open pop-up stays while the mouse is on its item or outside the items.
    if (found >= 0) hover(found);
}

void MenuDropDown::leaveEvent(QEvent*) {
    if (submenu_ == nullptr) {
        hovered_ = -1;
        update();
    }
}

// ----- The menu bar -------------------------------------------------------------------------------

MenuPreview::MenuPreview(MenuTemplate menu, QWidget* parent, Qt::LayoutDirection direction)
    : QWidget(parent), menu_(std::move(menu)) {
    setLayoutDirection(direction);
    const int panel = style()->pixelMetric(QStyle::PM_MenuBarPanelWidth, nullptr, this);
    const int hMargin = style()->pixelMetric(QStyle::PM_MenuBarHMargin, nullptr, this);
    const int vMargin = style()->pixelMetric(QStyle::PM_MenuBarVMargin, nullptr, this);
    const int spacing = style()->pixelMetric(QStyle::PM_MenuBarItemSpacing, nullptr, this);
    std::vector<MenuSize> sizes;
    for (const MenuItem& item : menu_.items) {
        QStyleOptionMenuItem option;
        option.initFrom(this);
        option.text = itemText(item);
        option.menuItemType = QStyleOptionMenuItem::Normal;
        const QSize text = fontMetrics().size(Qt::TextShowMnemonic, option.text);
        sizes.push_back(menuSize(style()->sizeFromContents(QStyle::CT_MenuBarItem, &option, text, this)));
    }
    const MenuLayout layout =
        LayOutMenuBar(sizes, panel + hMargin, panel + vMargin, spacing, fontMetrics().height());
    for (const MenuBox& box : layout.boxes)
        barRects_.push_back(toRect(box));
    barHeight_ = layout.bottom + vMargin + panel;
    barWidth_ = layout.right + hMargin + panel;
    for (std::size_t i = 0; i < menu_.items.size(); ++i) {
        if (menu_.items[i].popup) {
            openDropDown(static_cast<int>(i));
            break;
        }
    }
    if (openIndex_ < 0) setFixedSize(barWidth_, barHeight_);
}

QRect MenuPreview::barItemRect(int index) const {
    return visual(barRects_[static_cast<std::size_t>(index)]);
}

QRect MenuPreview::visual(const QRect& logical) const {
    if (!isRightToLeft()) return logical;
    return toRect(MirroredMenuBox({logical.x(), logical.y(), logical.width(), logical.height()}, width()));
}

void MenuPreview::openDropDown(int index) {
    delete dropDown_;
    dropDown_ = nullptr;
    openIndex_ = index;
    int width = barWidth_;
    int height = barHeight_;
    if (index >= 0 && static_cast<std::size_t>(index) < menu_.items.size()) {
        const MenuItem& item = menu_.items[static_cast<std::size_t>(index)];
        // A drop-down without items shows nothing to open.
        if (item.popup && !item.children.empty() && enabled(item)) {
            dropDown_ = new MenuDropDown(item.children, this, layoutDirection());
            width = std::max(width, barRects_[static_cast<std::size_t>(index)].left() + dropDown_->width());
            height = barHeight_ + dropDown_->height();
        }
    }
    // The widest and tallest drop-down decides the size, so that the scroll area does not jump.
    for (std::size_t i = 0; i < menu_.items.size(); ++i) {
        if (!menu_.items[i].popup || menu_.items[i].children.empty()) continue;
        const MenuDropDown probe(menu_.items[i].children);
        width = std::max(width, barRects_[i].left() + probe.width());
        height = std::max(height, barHeight_ + probe.height());
    }
    setFixedSize(width, height);
    if (dropDown_ != nullptr) {
        // Laid out from the left, the drop-down starts under its title's left edge; mirrored, it
        // ends under the title's right edge.
        const QRect logical(barRects_[static_cast<std::size_t>(index)].left(), barHeight_, dropDown_->width(),
                            dropDown_->height());
        dropDown_->move(visual(logical).topLeft());
        dropDown_->show();
    }
    update();
}

void MenuPreview::mousePressEvent(QMouseEvent* event) {
    for (std::size_t i = 0; i < barRects_.size(); ++i) {
        if (barItemRect(static_cast<int>(i)).contains(event->position().toPoint())) {
            openDropDown(static_cast<int>(i));
            return;
        }
    }
}

void MenuPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setLayoutDirection(layoutDirection());
    const QRect bar(0, 0, width(), barHeight_);
    QStyleOptionMenuItem empty;
    empty.initFrom(this);
    empty.rect = bar;
    empty.menuItemType = QStyleOptionMenuItem::EmptyArea;
    style()->drawControl(QStyle::CE_MenuBarEmptyArea, &empty, &painter, this);
    for (std::size_t i = 0; i < menu_.items.size(); ++i) {
        const MenuItem& item = menu_.items[i];
        QStyleOptionMenuItem option;
        option.initFrom(this);
        option.rect = barItemRect(static_cast<int>(i));
        option.menuRect = bar;
        option.text = itemText(item);
        option.menuItemType = QStyleOptionMenuItem::Normal;
        option.state = QStyle::State_None;
        if (enabled(item)) {
            option.state |= QStyle::State_Enabled;
        } else {
            option.palette.setCurrentColorGroup(QPalette::Disabled);
        }
        if (static_cast<int>(i) == openIndex_ && dropDown_ != nullptr)
            option.state |= QStyle::State_Selected | QStyle::State_Sunken;
        style()->drawControl(QStyle::CE_MenuBarItem, &option, &painter, this);
    }
}

}  // namespace kestrel::ui
