// A menu template drawn as the menu it makes: its menu bar, with the first drop-down open below
// its title. Nothing is modal: the bar and the drop-down are painted with the style's menu
// elements, and a pop-up item of the drop-down opens its items as a real QMenu when the mouse
// rests on it.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "core/pe/menu_template.h"

class QStyleOptionMenuItem;

namespace kestrel::ui {

// True for languages written from right to left (Arabic, Hebrew, Persian, Urdu and the like): a
// program showing its menus in such a language has them mirrored.
bool IsRightToLeftLanguage(std::uint16_t language);

// One column-wise list of menu items painted as an open drop-down. Right to left (the layout
// direction it has, or inherits from its parent, when it is made), its columns run from the right
// and each item is drawn mirrored.
class MenuDropDown : public QWidget {
    Q_OBJECT

  public:
    MenuDropDown(const std::vector<MenuItem>& items, QWidget* parent = nullptr,
                 Qt::LayoutDirection direction = Qt::LeftToRight);
    ~MenuDropDown() override;

    const QRect& itemRect(int index) const { return rects_[static_cast<std::size_t>(index)]; }
    int itemCount() const { return static_cast<int>(items_.size()); }
    // Rests the mouse on an item (-1: none), as a mouse move does.
    void hover(int index);
    QMenu* openSubmenu() const { return submenu_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void initOption(QStyleOptionMenuItem& option, int index) const;

    std::vector<MenuItem> items_;
    std::vector<QRect> rects_;
    bool checkable_ = false;
    int tabWidth_ = 0;
    int hovered_ = -1;
    QPointer<QMenu> submenu_;
};

// Right to left, the bar runs from the right edge and each drop-down opens leftwards from the right
// edge of its title, as the system mirrors the menus of a right-to-left window.
class MenuPreview : public QWidget {
    Q_OBJECT

  public:
    explicit MenuPreview(MenuTemplate menu, QWidget* parent = nullptr,
                         Qt::LayoutDirection direction = Qt::LeftToRight);

    const MenuTemplate& menu() const { return menu_; }
    // Where bar item `index` is drawn.
    QRect barItemRect(int index) const;
    // The open drop-down: at first that of the first pop-up of the bar; null when there is none or
    // it is empty.
    MenuDropDown* dropDown() const { return dropDown_; }
    int openIndex() const { return openIndex_; }
    // Opens the drop-down of bar item `index` (a click on its title does the same); an item that is
    // no pop-up, or one without items, leaves none open.
    void openDropDown(int index);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    // A rectangle laid out from the left, where it shows in this widget's direction.
    QRect visual(const QRect& logical) const;

    MenuTemplate menu_;
    std::vector<QRect> barRects_;  // laid out from the left
    int barHeight_ = 0;
    int barWidth_ = 0;
    int openIndex_ = -1;
    MenuDropDown* dropDown_ = nullptr;
};

}  // namespace kestrel::ui
