// A dialog template drawn as the dialog it makes: a frame with a title bar we paint (when the
// template asks for a caption) around a client area of real Qt widgets, each placed from dialog
// units through the template's font and standing in for the window class it names.
#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>
#include <vector>

#include "core/pe/dialog_template.h"
#include "ui/panes/dialog_units.h"

namespace kestrel::ui {

class ResourceModule;

// Window and dialog styles the preview honours.
namespace window_style {
inline constexpr std::uint32_t kVisible = 0x10000000;
inline constexpr std::uint32_t kDisabled = 0x08000000;
inline constexpr std::uint32_t kCaption = 0x00C00000;
inline constexpr std::uint32_t kBorder = 0x00800000;
inline constexpr std::uint32_t kDialogFrame = 0x00400000;
inline constexpr std::uint32_t kVScroll = 0x00200000;
inline constexpr std::uint32_t kHScroll = 0x00100000;
inline constexpr std::uint32_t kSystemMenu = 0x00080000;
inline constexpr std::uint32_t kThickFrame = 0x00040000;
inline constexpr std::uint32_t kMinimizeBox = 0x00020000;
inline constexpr std::uint32_t kMaximizeBox = 0x00010000;
inline constexpr std::uint32_t kModalFrame = 0x00000080;  // DS_MODALFRAME
inline constexpr std::uint32_t kExClientEdge = 0x00000200;
inline constexpr std::uint32_t kExStaticEdge = 0x00020000;
inline constexpr std::uint32_t kExDialogModalFrame = 0x00000001;
inline constexpr std::uint32_t kExLayoutRtl = 0x00400000;
}  // namespace window_style

// The font a template asks for: "MS Shell Dlg" and "MS Shell Dlg 2" are the desktop's UI font, other
// faces go through QFont's substitution; no font block means the desktop's font.
QFont dialogFont(const DialogTemplate& dialog);

class DialogPreview : public QWidget {
    Q_OBJECT

  public:
    DialogPreview(const DialogTemplate& dialog, const ResourceModule& module, QWidget* parent = nullptr);

    const DialogTemplate& dialog() const { return dialog_; }
    // The client area and the widget made for each item, in template order.
    QWidget* client() const { return client_; }
    const std::vector<QWidget*>& items() const { return items_; }
    const DialogUnits& units() const { return units_; }
    bool hasTitleBar() const { return titleHeight_ > 0; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QWidget* makeItem(const DialogItem& item, const ResourceModule& module);

    DialogTemplate dialog_;
    QFont font_;
    DialogUnits units_;
    int frameWidth_ = 0;
    int titleHeight_ = 0;
    QWidget* client_ = nullptr;
    std::vector<QWidget*> items_;
};

}  // namespace kestrel::ui
