// The program's icons, looked up in one place: the main window's commands, the window icon and the
// resource tree's images. Each is the desktop theme's icon where the theme has it under its standard
// name, else our own drawing (SVG under ui/icons, compiled in). Ours come in two tones: dark ink for
// light windows, light ink for dark ones.
#pragma once

#include <QIcon>

class QPalette;

namespace kestrel::ui {

enum class AppIcon {
    kNew,
    kOpen,
    kSave,
    kSaveAs,
    kImport,
    kCompile,
    kExit,
    kCut,
    kCopy,
    kPaste,
    kUndo,
    kAddResource,
    kDeleteResource,
    kOptions,
    kOnline,
    kAbout,
    kApplication,
    kFolderClosed,
    kFolderOpen,
    kEntry,
};
inline constexpr int kAppIconCount = static_cast<int>(AppIcon::kEntry) + 1;

enum class IconTone { kLight, kDark };

// The tone that reads on a palette's windows: kDark when its text is lighter than its background.
IconTone toneOf(const QPalette& palette);

// The icon of `id` for widgets drawn with `palette` (the application's when not given). Built on
// first use and kept until the desktop theme changes; the reference stays valid for the program's
// life, but hold the icon by value to keep what it showed when it was taken.
const QIcon& appIcon(AppIcon id, const QPalette& palette);
const QIcon& appIcon(AppIcon id);

// Our own drawing of `id` in `tone`, never the theme's; null only when the SVG image plugin is
// missing.
QIcon ownIcon(AppIcon id, IconTone tone);

}  // namespace kestrel::ui
