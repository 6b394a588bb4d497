// Real dialogs and menus of the corpus drawn by the previews, written as screenshots to be looked at
// beside the resource-script text of the same templates. Skipped when the corpus is missing.
#include <QMenu>
#include <QPainter>
#include <functional>

#include "core/pe/resource_types.h"
#include "gui_test_support.h"
#include "ui/panes/dialog_preview.h"
#include "ui/panes/menu_preview.h"
#include "ui/panes/resource_module.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kEnglish = 0x0409;

struct Found {
    std::u16string name;
    std::uint16_t language = 0;
};

template <typename Template, typename Decode>
std::optional<Template> findTemplate(
    const ResourceModule& module, std::uint16_t type, Decode decode,
    const std::function<bool(const Template&, std::uint16_t language)>& wanted) {
    const ResourceLookup& lookup = module.lookup();
    const ResourceKey typeKey = ResourceKey::ofId(type);
    for (const ResourceKey& name : lookup.names(typeKey)) {
        for (std::uint16_t language : lookup.languages(typeKey, name)) {
            const std::optional<Bytes> data = lookup.find(typeKey, name, language);
            Template decoded;
            if (data && decode(*data, decoded).succeeded() && wanted(decoded, language)) return decoded;
        }
    }
    return std::nullopt;
}

bool hasClass(const DialogTemplate& dialog, std::u16string_view name) {
    for (const DialogItem& item : dialog.items) {
        if (item.windowClass.isText() &&
            QString::fromStdU16String(item.windowClass.text)
                    .compare(QString::fromStdU16String(std::u16string(name)), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool titled(const DialogTemplate& dialog, const char* title) {
    return QString::fromStdU16String(dialog.title).startsWith(QLatin1String(title));
}

class PreviewScreenshots : public testing::IsolatedGuiTest {
  protected:
    bool load(const std::string& name) {
        const fs::path file = testing::corpusFile("usr/lib/i386-linux-gnu/wine/i386-windows/" + name);
        return !file.empty() && module.load(file);
    }
    // Finds a dialog of the loaded module and writes its screenshot; false when there is none.
    bool dialogShot(const std::string& shot,
                    const std::function<bool(const DialogTemplate&, std::uint16_t)>& wanted) {
        const std::optional<DialogTemplate> dialog =
            findTemplate<DialogTemplate>(module, resource_type::kDialog, DecodeDialogTemplate, wanted);
        if (!dialog) return false;
        DialogPreview preview(*dialog, module);
        preview.show();
        QCoreApplication::processEvents();
        screenshot(preview, shot);
        return true;
    }
    ResourceModule module;
};

TEST_F(PreviewScreenshots, RealDialogs) {
    if (!load("shell32.dll")) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    auto english = [](const char* title) {
        return [title](const DialogTemplate& dialog, std::uint16_t language) {
            return language == kEnglish && titled(dialog, title);
        };
    };
    EXPECT_TRUE(dialogShot("dialog_shell32_run", english("Run")));
    EXPECT_TRUE(dialogShot("dialog_shell32_about", english("About")));
    EXPECT_TRUE(dialogShot("dialog_shell32_browse", [](const DialogTemplate& dialog, std::uint16_t language) {
        return language == kEnglish && hasClass(dialog, u"SysTreeView32");
    }));
    EXPECT_TRUE(dialogShot("dialog_shell32_rtl", [](const DialogTemplate& dialog, std::uint16_t) {
        return (dialog.exStyle & window_style::kExLayoutRtl) != 0 && dialog.items.size() > 3;
    }));
    ASSERT_TRUE(load("comdlg32.dll"));
    EXPECT_TRUE(dialogShot("dialog_comdlg32_open", english("Open")));
    EXPECT_TRUE(dialogShot("dialog_comdlg32_color", english("Color")));
    EXPECT_TRUE(dialogShot("dialog_comdlg32_font", english("Font")));
    EXPECT_TRUE(dialogShot("dialog_comdlg32_print", english("Print")));
    ASSERT_TRUE(load("comctl32.dll"));
    EXPECT_TRUE(dialogShot("dialog_comctl32_customize", english("Customize")));
    ASSERT_TRUE(load("taskmgr.exe"));
    EXPECT_TRUE(
        dialogShot("dialog_taskmgr_listview", [](const DialogTemplate& dialog, std::uint16_t language) {
            return language == kEnglish && hasClass(dialog, u"SysListView32");
        }));
}

// The bar with its first drop-down, and the first pop-up of the drop-down opened beside it.
void menuShot(const MenuTemplate& menu, const std::string& name, int open = -1) {
    MenuPreview preview(menu);
    if (open >= 0) preview.openDropDown(open);
    preview.show();
    QCoreApplication::processEvents();
    QImage image(preview.size() + QSize(400, 200), QImage::Format_ARGB32);
    image.fill(preview.palette().color(QPalette::Window));
    QPainter painter(&image);
    painter.drawPixmap(0, 0, preview.grab());
    if (MenuDropDown* dropDown = preview.dropDown()) {
        for (int i = 0; i < dropDown->itemCount(); ++i) {
            dropDown->hover(i);
            if (QMenu* submenu = dropDown->openSubmenu()) {
                QCoreApplication::processEvents();
                const QPoint at = dropDown->pos() + dropDown->itemRect(i).topRight();
                painter.drawPixmap(at, submenu->grab());
                break;
            }
        }
    }
    painter.end();
    const fs::path folder = fs::path(KESTREL_BINARY_DIR) / "screenshots";
    fs::create_directories(folder);
    image.save(QString::fromStdString((folder / (name + ".png")).string()));
}

bool hasFlags(const std::vector<MenuItem>& items, bool& checked, bool& grayed, bool& nested, int depth = 0) {
    for (const MenuItem& item : items) {
        checked = checked || item.checked;
        grayed = grayed || item.grayed || item.disabled;
        if (item.popup && depth >= 1) nested = true;
        hasFlags(item.children, checked, grayed, nested, depth + 1);
    }
    return checked && grayed && nested;
}

TEST_F(PreviewScreenshots, RealMenus) {
    if (!load("notepad.exe")) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    auto englishMenu = [](const MenuTemplate&, std::uint16_t language) { return language == kEnglish; };
    std::optional<MenuTemplate> menu =
        findTemplate<MenuTemplate>(module, resource_type::kMenu, DecodeMenuTemplate, englishMenu);
    ASSERT_TRUE(menu);
    menuShot(*menu, "menu_notepad");
    ASSERT_TRUE(load("wordpad.exe"));
    menu = findTemplate<MenuTemplate>(module, resource_type::kMenu, DecodeMenuTemplate, englishMenu);
    ASSERT_TRUE(menu);
    menuShot(*menu, "menu_wordpad");
    // One with submenus, checks and disabled items.
    ASSERT_TRUE(load("oleview.exe"));
    menu = findTemplate<MenuTemplate>(module, resource_type::kMenu, DecodeMenuTemplate,
                                      [](const MenuTemplate& candidate, std::uint16_t language) {
                                          bool checked = false, grayed = false, nested = false;
                                          return language == kEnglish &&
                                                 hasFlags(candidate.items, checked, grayed, nested);
                                      });
    ASSERT_TRUE(menu) << "no menu with submenus, checks and disabled items";
    // The drop-down with the most of them open.
    int open = 0;
    int best = -1;
    for (std::size_t i = 0; i < menu->items.size(); ++i) {
        bool checked = false, grayed = false, nested = false;
        hasFlags(menu->items[i].children, checked, grayed, nested, 1);
        const int score = int{checked} + int{grayed} + int{nested};
        if (score > best) {
            best = score;
            open = static_cast<int>(i);
        }
    }
    menuShot(*menu, "menu_checks_and_submenus", open);
}

}  // namespace
}  // namespace kestrel::ui
