#include "ui/panes/preview_wnd.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTreeWidget>

#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "ui/panes/dialog_preview.h"
#include "ui/panes/hex_wnd.h"
#include "ui/panes/menu_preview.h"
#include "ui/panes/pane_host.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;
namespace ws = window_style;

NameOrOrdinal ordinal(std::uint16_t value) {
    return {NameOrOrdinal::Kind::kOrdinal, value, {}};
}
NameOrOrdinal text(std::u16string value) {
    return {NameOrOrdinal::Kind::kText, 0, std::move(value)};
}
DialogItem item(NameOrOrdinal windowClass, std::uint32_t style, std::u16string title = {}, std::int16_t x = 4,
                std::int16_t y = 4, std::int16_t cx = 60, std::int16_t cy = 14, std::uint32_t exStyle = 0) {
    DialogItem result;
    result.windowClass = std::move(windowClass);
    result.style = style | ws::kVisible;
    result.exStyle = exStyle;
    result.title = text(std::move(title));
    result.x = x;
    result.y = y;
    result.cx = cx;
    result.cy = cy;
    return result;
}

DialogTemplate dialogWith(std::vector<DialogItem> items, std::uint32_t exStyle = 0) {
    DialogTemplate dialog;
    dialog.style = ws::kCaption | ws::kSystemMenu | kDsSetFont;
    dialog.exStyle = exStyle;
    dialog.cx = 200;
    dialog.cy = 120;
    dialog.title = u"Preview";
    dialog.hasFont = true;
    dialog.pointSize = 8;
    dialog.typeface = u"MS Shell Dlg";
    dialog.items = std::move(items);
    return dialog;
}

TEST(DialogPreview, EachClassAndStyleBecomesTheNearestWidget) {
    using namespace dialog_class;
    const ResourceModule none;
    const DialogTemplate dialog = dialogWith({
        item(ordinal(kButton), 1, u"&OK", 10, 20),            // default push button
        item(ordinal(kButton), 6, u"Three"),                  // auto 3-state
        item(ordinal(kButton), 9, u"Radio"),                  // auto radio button
        item(ordinal(kButton), 7, u"Group"),                  // group box
        item(ordinal(kButton), 11, u"Drawn"),                 // owner-draw
        item(ordinal(kEdit), 0x20 | ws::kBorder, u"secret"),  // password
        item(ordinal(kEdit), 0x4 | 0x800, u"lines"),          // multi-line, read-only
        item(ordinal(kStatic), 1, u"&Name && more"),          // centred text
        item(ordinal(kStatic), 16),                           // etched line
        item(ordinal(kListBox), ws::kBorder),                 // list box
        item(ordinal(kScrollBar), 1),                         // vertical scroll bar
        item(ordinal(kComboBox), 3, {}, 4, 4, 60, 80),        // drop-down list
        item(text(u"SysListView32"), 1),                      // report view
        item(text(u"msctls_trackbar32"), 0),                  //
        item(text(u"msctls_progress32"), 0),                  //
        item(text(u"SysLink"), 0, u"Go <a href=\"x\">here</a> <img src=\"/etc/passwd\">"),
        item(text(u"MyOwnClass"), 0),        // unknown
        item(text(u"button"), 0, u"Named"),  // predefined class by name
    });
    DialogTemplate changed = dialog;
    changed.items[1].style &= ~ws::kVisible;
    changed.items[2].style |= ws::kDisabled;
    DialogPreview preview(changed, none);
    const std::vector<QWidget*>& items = preview.items();
    ASSERT_EQ(items.size(), dialog.items.size());
    auto* ok = qobject_cast<QPushButton*>(items[0]);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->geometry().topLeft(), QPoint(preview.units().x(10), preview.units().y(20)));
    ASSERT_NE(qobject_cast<QCheckBox*>(items[1]), nullptr);
    EXPECT_TRUE(qobject_cast<QCheckBox*>(items[1])->isTristate());
    EXPECT_TRUE(items[1]->isHidden());
    ASSERT_NE(qobject_cast<QRadioButton*>(items[2]), nullptr);
    EXPECT_FALSE(items[2]->isEnabled());
    EXPECT_NE(qobject_cast<QGroupBox*>(items[3]), nullptr);
    EXPECT_EQ(qobject_cast<QLabel*>(items[4])->text(), "Drawn");
    EXPECT_EQ(qobject_cast<QLineEdit*>(items[5])->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(qobject_cast<QPlainTextEdit*>(items[6])->isReadOnly());
    auto* label = qobject_cast<QLabel*>(items[7]);
    EXPECT_EQ(label->text(), "Name & more");
    EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(qobject_cast<QFrame*>(items[8])->frameShape(), QFrame::HLine);
    EXPECT_NE(qobject_cast<QListWidget*>(items[9]), nullptr);
    EXPECT_EQ(qobject_cast<QScrollBar*>(items[10])->orientation(), Qt::Vertical);
    auto* combo = qobject_cast<QComboBox*>(items[11]);
    ASSERT_NE(combo, nullptr);
    EXPECT_FALSE(combo->isEditable());
    EXPECT_LT(combo->height(), preview.units().y(80));  // the list's height is not the box's
    EXPECT_FALSE(qobject_cast<QTreeWidget*>(items[12])->isHeaderHidden());
    EXPECT_NE(qobject_cast<QSlider*>(items[13]), nullptr);
    EXPECT_NE(qobject_cast<QProgressBar*>(items[14]), nullptr);
    // Only the link tags of the file reach the rich-text engine.
    const QString link = qobject_cast<QLabel*>(items[15])->text();
    EXPECT_TRUE(link.contains("<a href=\"#\">here</a>"));
    EXPECT_FALSE(link.contains("<img"));
    EXPECT_EQ(qobject_cast<QLabel*>(items[16])->text(), "MyOwnClass");
    EXPECT_NE(qobject_cast<QPushButton*>(items[17]), nullptr);
    EXPECT_TRUE(preview.hasTitleBar());
}

TEST(DialogPreview, RightToLeftDialogsAreMirrored) {
    const ResourceModule none;
    const DialogTemplate dialog =
        dialogWith({item(ordinal(dialog_class::kButton), 0, u"Left", 10, 10, 40, 14)}, ws::kExLayoutRtl);
    DialogPreview preview(dialog, none);
    const int clientWidth = preview.client()->width();
    EXPECT_EQ(preview.items()[0]->geometry().right(), clientWidth - 1 - preview.units().x(10));
    EXPECT_EQ(preview.items()[0]->layoutDirection(), Qt::RightToLeft);
}

MenuItem menuItem(std::u16string text, std::vector<MenuItem> children = {}) {
    MenuItem item;
    item.text = std::move(text);
    item.popup = !children.empty();
    item.children = std::move(children);
    return item;
}

TEST(MenuPreview, BarWithTheFirstDropDownOpenAndSubmenusOnHover) {
    MenuItem checked = menuItem(u"&Word wrap");
    checked.checked = true;
    MenuItem grayed = menuItem(u"&Print...\tCtrl+P");
    grayed.grayed = true;
    MenuItem separator;
    separator.separator = true;
    MenuItem recent = menuItem(u"&Recent", {menuItem(u"one"), separator, menuItem(u"two")});
    MenuTemplate menu;
    menu.items = {menuItem(u"&File", {checked, grayed, separator, recent}),
                  menuItem(u"&Help", {menuItem(u"About")})};
    MenuPreview preview(menu);
    preview.show();
    MenuDropDown* dropDown = preview.dropDown();
    ASSERT_NE(dropDown, nullptr);
    EXPECT_EQ(dropDown->itemCount(), 4);
    EXPECT_EQ(dropDown->x(), preview.barItemRect(0).left());
    EXPECT_LT(dropDown->itemRect(2).height(), dropDown->itemRect(1).height());  // the separator

    dropDown->hover(3);
    QMenu* submenu = dropDown->openSubmenu();
    ASSERT_NE(submenu, nullptr);
    ASSERT_EQ(submenu->actions().size(), 3);
    EXPECT_EQ(submenu->actions()[0]->text(), "one");
    EXPECT_TRUE(submenu->actions()[1]->isSeparator());
    dropDown->hover(0);
    EXPECT_EQ(dropDown->openSubmenu(), nullptr);

    // A first drop-down without items opens nothing.
    MenuTemplate empty;
    MenuItem file = menuItem(u"&File");
    file.popup = true;
    empty.items = {file, menuItem(u"&Help", {menuItem(u"About")})};
    EXPECT_EQ(MenuPreview(empty).dropDown(), nullptr);
}

TEST(MenuPreview, RightToLeftMenusAreMirrored) {
    EXPECT_TRUE(IsRightToLeftLanguage(0x0401));   // Arabic (Saudi Arabia)
    EXPECT_TRUE(IsRightToLeftLanguage(0x040D));   // Hebrew
    EXPECT_TRUE(IsRightToLeftLanguage(0x0429));   // Persian
    EXPECT_FALSE(IsRightToLeftLanguage(0x0409));  // English
    EXPECT_FALSE(IsRightToLeftLanguage(0x0000));

    MenuTemplate menu;
    menu.items = {menuItem(u"&File", {menuItem(u"&Open"), menuItem(u"&Recent", {menuItem(u"one")})}),
                  menuItem(u"&Help", {menuItem(u"About")})};
    MenuPreview preview(menu, nullptr, Qt::RightToLeft);
    preview.move(400, 100);  // room on the screen for a pop-up on the left
    preview.show();
    // The bar runs from the right edge: the first title is rightmost.
    EXPECT_GT(preview.barItemRect(0).left(), preview.barItemRect(1).left());
    MenuDropDown* dropDown = preview.dropDown();
    ASSERT_NE(dropDown, nullptr);
    EXPECT_EQ(dropDown->geometry().right(), preview.barItemRect(0).right());
    EXPECT_TRUE(dropDown->isRightToLeft());
    // A click on the other title opens its drop-down under it, still right-aligned.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(preview.barItemRect(1).center()),
                      preview.mapToGlobal(QPointF(preview.barItemRect(1).center())), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&preview, &press);
    ASSERT_EQ(preview.openIndex(), 1);
    EXPECT_EQ(preview.dropDown()->geometry().right(), preview.barItemRect(1).right());

    // A submenu opens on the left of its item.
    preview.openDropDown(0);
    preview.dropDown()->hover(1);
    QMenu* submenu = preview.dropDown()->openSubmenu();
    ASSERT_NE(submenu, nullptr);
    EXPECT_TRUE(submenu->isRightToLeft());
    const QPoint itemLeft = preview.dropDown()->mapToGlobal(preview.dropDown()->itemRect(1).topLeft());
    EXPECT_LE(submenu->geometry().right(), itemLeft.x());
}

class PreviewPaneTest : public testing::IsolatedGuiTest {
  protected:
    void SetUp() override {
        registerPaneFactory(PaneType::kDialog, makeDialogPaneFactory());
        registerPaneFactory(PaneType::kMenu, makeMenuPaneFactory());
        registerPaneFactory(PaneType::kHex, makeHexPaneFactory({}));
    }
    void TearDown() override {
        registerPaneFactory(PaneType::kDialog, {});
        registerPaneFactory(PaneType::kMenu, {});
        registerPaneFactory(PaneType::kHex, {});
    }
    // Imports a program of the corpus; false when the corpus is missing.
    bool importCorpus(const std::string& name) {
        const fs::path file = testing::corpusFile("usr/lib/i386-linux-gnu/wine/i386-windows/" + name);
        fs::path project;
        if (file.empty() || DecompileProject(file, temp_ / "work", project).failed()) return false;
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        if (!document->OpenProject(project)) return false;
        files = testing::projectFiles(document->description(), temp_ / "work", resourceTypeOf);
        host = std::make_unique<PaneHost>();
        host->resize(760, 560);
        host->QWidget::show();
        return true;
    }
    template <typename Pane>
    Pane* show(const testing::ProjectFile& file) {
        host->ShowFile(document.get(), file.name, file.element, ShowMode::kTreeSelection);
        return dynamic_cast<Pane*>(host->activePane());
    }
    // The files of one type in one language, US English unless told (the language Entry above the
    // File element).
    std::vector<testing::ProjectFile> ofType(int type, std::string_view language = "1033") const {
        std::vector<testing::ProjectFile> result;
        for (const testing::ProjectFile& file : files) {
            XmlElement* entry = file.element != nullptr ? file.element->parent() : nullptr;
            XmlAttribute* id = entry != nullptr ? XmlDocument::FindAttribute(entry, "ID") : nullptr;
            if (file.type == type && id != nullptr && id->value() == language) result.push_back(file);
        }
        return result;
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::vector<testing::ProjectFile> files;
    std::unique_ptr<PaneHost> host;
};

TEST_F(PreviewPaneTest, DialogsOfOneFileShareTheModuleAndBrokenTemplatesShowNothing) {
    if (!importCorpus("notepad.exe")) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    const std::vector<testing::ProjectFile> dialogs = ofType(5);
    ASSERT_GE(dialogs.size(), 2u);
    DialogPane* pane = show<DialogPane>(dialogs[0]);
    ASSERT_NE(pane, nullptr);
    ASSERT_NE(pane->window()->preview(), nullptr);
    EXPECT_TRUE(pane->module().isLoaded());
    // The largest dialog, for the screenshot; the module was read once for both.
    const testing::ProjectFile* largest = &dialogs[0];
    for (const testing::ProjectFile& dialog : dialogs) {
        if (fs::file_size(dialog.path) > fs::file_size(largest->path)) largest = &dialog;
    }
    pane = show<DialogPane>(*largest);
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->module().loads(), 1);
    QCoreApplication::processEvents();
    screenshot(*host, "dialog_pane_notepad");

    // A template cut short shows nothing; the file itself is only read.
    const std::vector<std::byte> bytes = testing::readBytes(largest->path);
    std::vector<std::byte> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
    temp_.write("work/" + largest->name, std::string(reinterpret_cast<const char*>(cut.data()), cut.size()));
    pane = show<DialogPane>(*largest);
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->window()->preview(), nullptr);
    EXPECT_TRUE(sink.errors.empty());

    // "查看 Hex" goes to the hex pane, whose button leads back to the preview.
    pane->window()->hexAction()->trigger();
    ASSERT_TRUE(testing::waitUntil([&] { return dynamic_cast<HexPane*>(host->activePane()) != nullptr; }));
}

TEST_F(PreviewPaneTest, MenuOfARealProgram) {
    if (!importCorpus("notepad.exe")) GTEST_SKIP() << "corpus not available (tests/corpus/fetch)";
    const std::vector<testing::ProjectFile> menus = ofType(4);
    ASSERT_FALSE(menus.empty());
    MenuPane* pane = show<MenuPane>(menus[0]);
    ASSERT_NE(pane, nullptr);
    auto* preview = qobject_cast<MenuPreview*>(pane->window()->preview());
    ASSERT_NE(preview, nullptr);
    ASSERT_NE(preview->dropDown(), nullptr);
    EXPECT_GT(preview->dropDown()->itemCount(), 3);
    EXPECT_FALSE(preview->isRightToLeft());
    QCoreApplication::processEvents();
    screenshot(*host, "menu_pane_notepad");

    // The Arabic menu (language 1, no sublanguage) shows mirrored.
    const std::vector<testing::ProjectFile> arabic = ofType(4, "1");
    ASSERT_FALSE(arabic.empty());
    pane = show<MenuPane>(arabic[0]);
    ASSERT_NE(pane, nullptr);
    preview = qobject_cast<MenuPreview*>(pane->window()->preview());
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isRightToLeft());
    ASSERT_NE(preview->dropDown(), nullptr);
    EXPECT_EQ(preview->dropDown()->geometry().right(), preview->barItemRect(0).right());
    QCoreApplication::processEvents();
    screenshot(*host, "menu_pane_notepad_rtl");
}

}  // namespace
}  // namespace kestrel::ui
