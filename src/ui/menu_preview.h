// A menu template drawn as the menu it makes: its menu bar, with the first drop-down open below
// its title. Nothing is modal: the bar and the drop-down are painted with the style's menu
// elements, and a pop-up item of the drop-down opens its items as a real QMenu when the mouse
// rests on it.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <vector>

#include "core/pe/menu_template.h"

class QStyleOptionMenuItem;

namespace kestrel::ui {

// One column-wise list of menu items painted as an open drop-down.
class MenuDropDown : public QWidget {
    Q_OBJECT

  public:
    MenuDropDown(const std::vector<MenuItem>& items, QWidget* parent = nullptr);
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

class MenuPreview : public QWidget {
    Q_OBJECT

  public:
    explicit MenuPreview(MenuTemplate menu, QWidget* parent = nullptr);

    const MenuTemplate& menu() const { return menu_; }
    const QRect& barItemRect(int index) const { return barRects_[static_cast<std::size_t>(index)]; }
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
    MenuTemplate menu_;
    std::vector<QRect> barRects_;
    int barHeight_ = 0;
    int barWidth_ = 0;
    int openIndex_ = -1;
    MenuDropDown* dropDown_ = nullptr;
};

}  // namespace kestrel::ui
