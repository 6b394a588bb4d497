#include "ui/menu_preview.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionMenuItem>
#include <algorithm>

namespace kestrel::ui {

namespace {

QString itemText(const MenuItem& item) {
    return QString::fromStdU16String(item.text);
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

// ----- The drop-down ------------------------------------------------------------------------------

MenuDropDown::MenuDropDown(const std::vector<MenuItem>& items, QWidget* parent)
    : QWidget(parent), items_(items) {
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
    std::vector<QSize> sizes;
    std::vector<int> columnOf;
    int column = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i > 0 && (items_[i].menuBreak || items_[i].menuBarBreak)) ++column;
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
        sizes.push_back(style()->sizeFromContents(QStyle::CT_MenuItem, &option, content, this));
        columnOf.push_back(column);
    }
    std::vector<int> columnWidths(static_cast<std::size_t>(column + 1), 0);
    for (std::size_t i = 0; i < sizes.size(); ++i)
        columnWidths[static_cast<std::size_t>(columnOf[i])] =
            std::max(columnWidths[static_cast<std::size_t>(columnOf[i])], sizes[i].width());
    int x = frame + hMargin;
    int y = top;
    int bottom = top;
    rects_.resize(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i > 0 && columnOf[i] != columnOf[i - 1]) {
            x += columnWidths[static_cast<std::size_t>(columnOf[i - 1])];
            y = top;
        }
        rects_[i] = QRect(x, y, columnWidths[static_cast<std::size_t>(columnOf[i])], sizes[i].height());
        y += sizes[i].height();
        bottom = std::max(bottom, y);
    }
    const int right = items_.empty() ? x : x + columnWidths.back();
    setFixedSize(right + hMargin + frame, bottom + vMargin + frame);
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
    fillMenu(submenu_, item.children);
    submenu_->popup(mapToGlobal(rects_[static_cast<std::size_t>(index)].topRight()));
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

MenuPreview::MenuPreview(MenuTemplate menu, QWidget* parent) : QWidget(parent), menu_(std::move(menu)) {
    const int panel = style()->pixelMetric(QStyle::PM_MenuBarPanelWidth, nullptr, this);
    const int hMargin = style()->pixelMetric(QStyle::PM_MenuBarHMargin, nullptr, this);
    const int vMargin = style()->pixelMetric(QStyle::PM_MenuBarVMargin, nullptr, this);
    const int spacing = style()->pixelMetric(QStyle::PM_MenuBarItemSpacing, nullptr, this);
    int x = panel + hMargin;
    int itemHeight = fontMetrics().height();
    std::vector<QSize> sizes;
    for (const MenuItem& item : menu_.items) {
        QStyleOptionMenuItem option;
        option.initFrom(this);
        option.text = itemText(item);
        option.menuItemType = QStyleOptionMenuItem::Normal;
        const QSize text = fontMetrics().size(Qt::TextShowMnemonic, option.text);
        const QSize size = style()->sizeFromContents(QStyle::CT_MenuBarItem, &option, text, this);
        sizes.push_back(size);
        itemHeight = std::max(itemHeight, size.height());
    }
    const int top = panel + vMargin;
    for (const QSize& size : sizes) {
        barRects_.emplace_back(x, top, size.width(), itemHeight);
        x += size.width() + spacing;
    }
    barHeight_ = top + itemHeight + vMargin + panel;
    barWidth_ = x + hMargin + panel;
    for (std::size_t i = 0; i < menu_.items.size(); ++i) {
        if (menu_.items[i].popup) {
            openDropDown(static_cast<int>(i));
            break;
        }
    }
    if (openIndex_ < 0) setFixedSize(barWidth_, barHeight_);
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
            dropDown_ = new MenuDropDown(item.children, this);
            dropDown_->move(barRects_[static_cast<std::size_t>(index)].left(), barHeight_);
            dropDown_->show();
            width = std::max(width, dropDown_->geometry().right() + 1);
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
    update();
}

void MenuPreview::mousePressEvent(QMouseEvent* event) {
    for (std::size_t i = 0; i < barRects_.size(); ++i) {
        if (barRects_[i].contains(event->position().toPoint())) {
            openDropDown(static_cast<int>(i));
            return;
        }
    }
}

void MenuPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
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
        option.rect = barRects_[i];
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
