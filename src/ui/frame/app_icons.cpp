#include "ui/frame/app_icons.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPalette>
#include <QPixmap>
#include <array>
#include <cstddef>
#include <iterator>

// The icons are compiled into a static library, whose resource object the linker drops unless code
// refers to it. Q_INIT_RESOURCE declares its function in the enclosing namespace, hence out here.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace kestrel::ui {

namespace {

struct IconPlan {
    AppIcon id;
    // Our drawing: ":/kestrel/icons/<file>.svg".
    const char* file;
    // The freedesktop standard name; null where no standard name means the same thing.
    const char* themeName;
};

constexpr IconPlan kPlans[] = {
    {AppIcon::kNew, "new", "document-new"},
    {AppIcon::kOpen, "open", "document-open"},
    {AppIcon::kSave, "save", "document-save"},
    {AppIcon::kSaveAs, "save_as", "document-save-as"},
    {AppIcon::kImport, "import", nullptr},
    {AppIcon::kCompile, "compile", nullptr},
    {AppIcon::kExit, "exit", "application-exit"},
    {AppIcon::kCut, "cut", "edit-cut"},
    {AppIcon::kCopy, "copy", "edit-copy"},
    {AppIcon::kPaste, "paste", "edit-paste"},
    {AppIcon::kUndo, "undo", "edit-undo"},
    {AppIcon::kAddResource, "add_resource", "list-add"},
    {AppIcon::kDeleteResource, "delete_resource", "list-remove"},
    {AppIcon::kOptions, "options", "preferences-system"},
    {AppIcon::kOnline, "online", "internet-web-browser"},
    {AppIcon::kAbout, "about", "help-about"},
    {AppIcon::kApplication, "application", nullptr},
    {AppIcon::kFolderClosed, "folder_closed", "folder"},
    {AppIcon::kFolderOpen, "folder_open", "folder-open"},
    {AppIcon::kEntry, "entry", "text-x-generic"},
};

constexpr bool plansFollowTheEnum() {
    for (std::size_t i = 0; i < std::size(kPlans); ++i) {
        if (static_cast<std::size_t>(kPlans[i].id) != i) return false;
    }
    return std::size(kPlans) == kAppIconCount;
}
static_assert(plansFollowTheEnum(), "one plan per AppIcon, in the enum's order");

// The drawings are written in the light tone. These colours carry the outlines and the paper; for
// a dark palette they are swapped for their partners. Everything else (the coloured parts, and the
// white marks on them, written #fafcff) stays as drawn.
struct ToneSwap {
    const char* light;
    const char* dark;
};
constexpr ToneSwap kDarkSwaps[] = {
    {"#2d3640", "#dde3ea"},  // ink
    {"#ffffff", "#3c4652"},  // paper
    {"#e3e8ee", "#566270"},  // shaded paper (folded corners)
};

// Rendered sizes: menus and trees, toolbars, and their doubles for high-density screens.
constexpr int kSizes[] = {16, 24, 32, 48, 64};

struct IconCache {
    // What the theme lookups depended on; a change empties the cache.
    QString themeKey;
    std::array<std::array<QIcon, kAppIconCount>, 2> icons;
    std::array<std::array<bool, kAppIconCount>, 2> built{};

    void clear() {
        themeKey.clear();
        for (auto& tone : icons)
            tone.fill(QIcon());
        for (auto& tone : built)
            tone.fill(false);
    }
};

// Pixmaps must be gone before the application object is: the cache is emptied as it is destroyed.
void releaseIcons();

IconCache& iconCache() {
    static IconCache cache;
    static const bool registered = [] {
        qAddPostRoutine(&releaseIcons);
        return true;
    }();
    (void)registered;
    return cache;
}

void releaseIcons() {
    iconCache().clear();
}

QString currentThemeKey() {
    return QIcon::themeName() + QLatin1Char('\n') + QIcon::fallbackThemeName() + QLatin1Char('\n') +
           QIcon::themeSearchPaths().join(QLatin1Char('\n'));
}

QImage renderSvg(QByteArray& svg, int size) {
    QBuffer buffer(&svg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "svg");
    reader.setScaledSize(QSize(size, size));
    return reader.read();
}

QIcon lookUp(AppIcon id, IconTone tone) {
    const IconPlan& plan = kPlans[static_cast<std::size_t>(id)];
    if (plan.themeName != nullptr) {
        // A theme may list a name and still have no picture for it (an empty or broken entry).
        QIcon themed = QIcon::fromTheme(QString::fromLatin1(plan.themeName));
        if (!themed.isNull() && !themed.availableSizes().isEmpty()) return themed;
    }
    return ownIcon(id, tone);
}

}  // namespace

IconTone toneOf(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness()
               ? IconTone::kDark
               : IconTone::kLight;
}

QIcon ownIcon(AppIcon id, IconTone tone) {
    static const bool resourcesReady = [] {
        initIconResources();
        return true;
    }();
    (void)resourcesReady;
    const IconPlan& plan = kPlans[static_cast<std::size_t>(id)];
    QFile file(QStringLiteral(":/kestrel/icons/%1.svg").arg(QLatin1String(plan.file)));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray svg = file.readAll();
    if (tone == IconTone::kDark) {
        for (const ToneSwap& swap : kDarkSwaps)
            svg.replace(swap.light, swap.dark);
    }
    QIcon icon;
    for (int size : kSizes) {
        QImage image = renderSvg(svg, size);
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(std::move(image)));
    }
    return icon;
}

const QIcon& appIcon(AppIcon id, const QPalette& palette) {
    IconCache& cache = iconCache();
    QString themeKey = currentThemeKey();
    if (themeKey != cache.themeKey) {
        cache.clear();
        cache.themeKey = std::move(themeKey);
    }
    const auto tone = static_cast<std::size_t>(toneOf(palette));
    const auto index = static_cast<std::size_t>(id);
    QIcon& icon = cache.icons[tone][index];
    if (!cache.built[tone][index]) {
        cache.built[tone][index] = true;
        icon = lookUp(id, toneOf(palette));
    }
    return icon;
}

const QIcon& appIcon(AppIcon id) {
    return appIcon(id, QGuiApplication::palette());
}

}  // namespace kestrel::ui
