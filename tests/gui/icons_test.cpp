#include "ui/frame/app_icons.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPalette>
#include <QToolBar>
#include <QTreeWidgetItemIterator>
#include <optional>
#include <set>

#include "app/recent_files.h"
#include "gui_test_support.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/resource_tree.h"

namespace kestrel::ui {
namespace {

QPalette darkPalette() {
    QPalette dark(QColor(0x3a, 0x3e, 0x44), QColor(0x2b, 0x2e, 0x33));
    dark.setColor(QPalette::Base, QColor(0x1f, 0x22, 0x26));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        dark.setColor(role, QColor(0xe6, 0xe8, 0xeb));
        dark.setColor(QPalette::Disabled, role, QColor(0x7a, 0x80, 0x88));
    }
    dark.setColor(QPalette::Highlight, QColor(0x2f, 0x7e, 0xd8));
    return dark;
}

// Puts the application palette back however the test ends.
class ApplicationPalette {
  public:
    ApplicationPalette() : saved_(QGuiApplication::palette()) {}
    ~ApplicationPalette() { QApplication::setPalette(saved_); }
    // Shown windows hear of the change through the event loop.
    void set(const QPalette& palette) {
        QApplication::setPalette(palette);
        QApplication::processEvents();
    }

  private:
    QPalette saved_;
};

// A desktop theme with a picture for "document-open" only, for the test's lifetime.
class ThemeWithOpenOnly {
  public:
    explicit ThemeWithOpenOnly(const testing::TempDir& temp)
        : searchPaths_(QIcon::themeSearchPaths()), name_(QIcon::themeName()) {
        temp.write("icons/open-only/index.theme",
                   "[Icon Theme]\nName=open-only\nDirectories=24x24/actions\n\n"
                   "[24x24/actions]\nSize=24\nType=Fixed\n");
        std::filesystem::create_directories(temp / "icons/open-only/24x24/actions");
        QPixmap picture(24, 24);
        picture.fill(Qt::magenta);
        picture.save(
            QString::fromStdString((temp / "icons/open-only/24x24/actions/document-open.png").string()));
        QIcon::setThemeSearchPaths({QString::fromStdString((temp / "icons").string())});
        QIcon::setThemeName(QStringLiteral("open-only"));
    }
    ~ThemeWithOpenOnly() {
        QIcon::setThemeSearchPaths(searchPaths_);
        QIcon::setThemeName(name_);
    }

  private:
    QStringList searchPaths_;
    QString name_;
};

// How many pixels are exactly `colour`, or (without one) drawn at all.
int countPixels(const QImage& image, std::optional<QRgb> colour = std::nullopt) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (colour ? pixel == *colour : qAlpha(pixel) > 0) ++count;
        }
    }
    return count;
}

class FrameIconsTest : public testing::IsolatedGuiTest {
  protected:
    std::unique_ptr<CKsFrame> makeFrame() {
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        recent = std::make_unique<RecentFileList>(settings_.get());
        document->setRecentFileList(recent.get());
        controller = std::make_unique<DocumentController>(*document, nullptr);
        auto frame =
            std::make_unique<CKsFrame>(FrameContext{document.get(), controller.get(), settings_.get(),
                                                    recent.get(), dataFolder(), "Kestrel 1.020000"});
        document->setView(frame->view());
        frame->view()->OnInitialUpdate();
        return frame;
    }
    void TearDown() override {
        if (document) document->setView(nullptr);
    }
    static QAction* toolBarAction(CKsFrame& frame, const QString& text) {
        for (QAction* action : frame.toolBar()->actions())
            if (action->text() == text) return action;
        return nullptr;
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<RecentFileList> recent;
    std::unique_ptr<DocumentController> controller;
};

using TreeIconsTest = FrameIconsTest;

// The keypad's * reports every item below the current one as expanded, entries too: they turned
// into open folders.
TEST_F(TreeIconsTest, ExpandingAllKeepsEntryImagesAndOnlyGroupsOpen) {
    auto frame = makeFrame();
    frame->show();
    frame->openPath(importSample());
    ResourceTree* tree = frame->view()->tree();
    ASSERT_GT(tree->topLevelItemCount(), 2);
    const qint64 entryIcon = tree->topLevelItem(0)->child(0)->icon(0).cacheKey();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        tree->setCurrentItem(tree->topLevelItem(i));
        QKeyEvent star(QEvent::KeyPress, Qt::Key_Asterisk, Qt::KeypadModifier, QStringLiteral("*"));
        QApplication::sendEvent(tree, &star);
    }
    tree->expandAll();
    // Then folded again: groups close, entries stay.
    for (bool open : {true, false}) {
        for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
            QTreeWidgetItem* item = *it;
            const bool group = item->parent() == nullptr && item->childCount() > 0;
            const TreeImage folder = open ? TreeImage::kOpen : TreeImage::kClosed;
            EXPECT_EQ(tree->imageOf(item), group ? folder : TreeImage::kEntry) << item->text(0).toStdString();
            if (!group) {
                EXPECT_EQ(item->icon(0).cacheKey(), entryIcon) << item->text(0).toStdString();
            }
        }
        tree->collapseAll();
    }
}

// Every drawing is compiled in and renders at menu and toolbar size. In the dark tone none of the
// light tone's ink or paper is left: a drawing that spells them another way escapes the swap.
TEST_F(FrameIconsTest, OwnDrawingsRenderInBothTones) {
    const QRgb lightInk = qRgb(0x2d, 0x36, 0x40), lightPaper = qRgb(0xff, 0xff, 0xff);
    for (int index = 0; index < kAppIconCount; ++index) {
        const auto id = static_cast<AppIcon>(index);
        for (int size : {16, 24}) {
            const QImage light = ownIcon(id, IconTone::kLight).pixmap(size, size).toImage();
            const QImage dark = ownIcon(id, IconTone::kDark).pixmap(size, size).toImage();
            EXPECT_GT(countPixels(light), size * 4) << index << " draws next to nothing at " << size;
            EXPECT_EQ(countPixels(dark, lightInk), 0) << index;
            EXPECT_EQ(countPixels(dark, lightPaper), 0) << index;
        }
    }
}

// The theme's icon wins where the theme has the standard name; ours fill the rest. Icons are kept,
// but not across a change of theme.
TEST_F(FrameIconsTest, ThemeIconsWinWhereTheThemeHasThem) {
    const QString before = appIcon(AppIcon::kOpen).name();
    EXPECT_EQ(appIcon(AppIcon::kOpen).cacheKey(), appIcon(AppIcon::kOpen).cacheKey());
    {
        ThemeWithOpenOnly theme(temp_);
        auto frame = makeFrame();
        EXPECT_EQ(frame->action("open")->icon().name(), QStringLiteral("document-open"));
        EXPECT_EQ(toolBarAction(*frame, QStringLiteral("打开..."))->icon().cacheKey(),
                  frame->action("open")->icon().cacheKey());
        EXPECT_TRUE(frame->action("save")->icon().name().isEmpty());
        EXPECT_FALSE(frame->action("save")->icon().isNull());
    }
    EXPECT_EQ(appIcon(AppIcon::kOpen).name(), before);
    EXPECT_FALSE(appIcon(AppIcon::kOpen).isNull());
}

// A palette of the other tone brings the other drawings to the toolbar and the tree, where every
// entry still shares one icon.
TEST_F(FrameIconsTest, ToolbarAndTreeFollowThePalette) {
    ApplicationPalette palette;
    auto frame = makeFrame();
    frame->show();
    frame->resize(900, 600);
    frame->openPath(importSample());
    ResourceTree* tree = frame->view()->tree();
    auto items =
        tree->findItems(QStringLiteral("101 (Deutsch (Deutschland))"), Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_FALSE(items.isEmpty());
    tree->setCurrentItem(items.front());
    tree->collapseAll();
    tree->expandItem(items.front()->parent());
    QApplication::processEvents();
    screenshot(*frame, "main_window_toolbar");
    frame->fileMenu()->popup(frame->mapToGlobal(QPoint(0, 0)));
    QApplication::processEvents();
    screenshot(*frame->fileMenu(), "file_menu_icons");
    frame->fileMenu()->hide();

    QAction* open = toolBarAction(*frame, QStringLiteral("打开..."));
    ASSERT_NE(open, nullptr);
    const qint64 lightOpen = open->icon().cacheKey();
    palette.set(darkPalette());
    EXPECT_NE(open->icon().cacheKey(), lightOpen);
    EXPECT_EQ(open->icon().cacheKey(), appIcon(AppIcon::kOpen, darkPalette()).cacheKey());
    std::set<qint64> entryIcons;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        if ((*it)->parent() != nullptr) entryIcons.insert((*it)->icon(0).cacheKey());
    }
    EXPECT_EQ(entryIcons, (std::set<qint64>{appIcon(AppIcon::kEntry, darkPalette()).cacheKey()}));
    EXPECT_EQ(items.front()->parent()->icon(0).cacheKey(),
              appIcon(AppIcon::kFolderOpen, darkPalette()).cacheKey());
    screenshot(*frame, "main_window_toolbar_dark");
}

}  // namespace
}  // namespace kestrel::ui
