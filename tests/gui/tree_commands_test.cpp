// The tree as a daily tool: export from the working folder, the context menu and the Delete key,
// languages by name with their numbers in tooltips, and the tree's look kept when it is filled again.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidgetItemIterator>
#include <set>

#include "core/images/icon_files.h"
#include "core/pe/decompile_file.h"
#include "core/platform/files.h"
#include "gui_test_support.h"
#include "ui/dialogs/add_resource_dlg.h"
#include "ui/frame/ks_view.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/pane_host.h"
#include "ui/widgets/language_names.h"

namespace kestrel::ui {
namespace {

namespace pb = pebuilder;

class TreeCommandsTest : public testing::IsolatedGuiTest {
  protected:
    void TearDown() override {
        if (document) document->setView(nullptr);
        view.reset();
    }

    void open(const pb::ImagePlan& plan) {
        std::filesystem::path project;
        ASSERT_TRUE(DecompileProject(temp_.write("in/x.dll", pb::buildImage(plan)), temp_ / "work", project)
                        .succeeded());
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        ASSERT_TRUE(document->OpenProject(project));
        view = std::make_unique<CKsView>(ViewContext{document.get(), settings_.get(), dataFolder(), nullptr});
        view->resize(800, 500);
        view->show();
        document->setView(view.get());
        view->OnInitialUpdate();
    }

    QTreeWidgetItem* item(const QString& type, const QString& child = {}) const {
        for (QTreeWidgetItemIterator it(view->tree()); *it != nullptr; ++it) {
            QTreeWidgetItem* parent = (*it)->parent();
            if (child.isEmpty() ? parent == nullptr && (*it)->text(0) == type
                                : parent != nullptr && parent->text(0) == type && (*it)->text(0) == child)
                return *it;
        }
        return nullptr;
    }

    QAction* menuAction(QMenu* menu, const char* name) const {
        return menu->findChild<QAction*>(QString::fromLatin1(name));
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<CKsView> view;
};

pb::ImagePlan iconsAndData(std::vector<pb::IconImage>& images) {
    pb::ImagePlan plan;
    images = {pb::makeIconImage(16, 8, 1), pb::makeIconImage(32, 4, 2)};
    pb::addIconGroup(plan.resources, u"MAIN", pb::kLangEnUs, 1, images);
    plan.resources.push_back({pb::kRtRcData, 101, pb::kLangDeDe, pb::bytesOf("deutsch")});
    plan.resources.push_back({pb::kRtRcData, 101, pb::kLangZhCn, pb::bytesOf("chinese")});
    return plan;
}

// The icon group goes out as one .ico file of its members, made from the working folder; Export all
// of the selected type writes that type only.
TEST_F(TreeCommandsTest, ExportWritesFilesFromTheWorkingFolder) {
    std::vector<pb::IconImage> images;
    open(iconsAndData(images));
    QTreeWidgetItem* group = item("Icon Group", "MAIN (English (United States))");
    ASSERT_NE(group, nullptr);
    view->tree()->setCurrentItem(group);
    ASSERT_TRUE(view->canExportResource());
    std::string proposed;
    const std::filesystem::path target = temp_ / "out" / "main.ico";
    std::filesystem::create_directories(target.parent_path());
    view->setExportChooser([&](const std::string& name) {
        proposed = name;
        return std::optional<std::filesystem::path>(target);
    });
    view->exportResource();
    EXPECT_TRUE(sink.errors.empty()) << (sink.errors.empty() ? "" : sink.errors[0]);
    EXPECT_EQ(proposed, "MAIN.ico");
    std::vector<std::byte> file;
    ASSERT_EQ(ReadWholeFile(target, file), kOk);
    IconDirectory directory;
    ASSERT_EQ(ReadIconDirectory(asBytes(file), directory), kOk);
    ASSERT_EQ(directory.entries.size(), 2u);
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconDirectoryEntry& entry = directory.entries[i];
        ASSERT_LE(std::uint64_t{entry.imageOffset} + entry.imageBytes, file.size());
        EXPECT_EQ(std::vector<std::byte>(file.begin() + entry.imageOffset,
                                         file.begin() + entry.imageOffset + entry.imageBytes),
                  images[i].data);
    }

    // A type item: not one resource, but Export all of that type.
    view->tree()->setCurrentItem(item("RC Data"));
    EXPECT_FALSE(view->canExportResource());
    ASSERT_TRUE(view->canExportAll());
    const std::filesystem::path folder = temp_ / "all";
    view->setExportFolderChooser([&] { return std::optional<std::filesystem::path>(folder); });
    view->exportAll();
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"RCDATA_101_1031.bin", "RCDATA_101_2052.bin"}));
}

// The menu offers what applies to the item and runs the view's commands; Delete asks first.
TEST_F(TreeCommandsTest, ContextMenuAndDeleteKeyRunTheCommands) {
    std::vector<pb::IconImage> images;
    open(iconsAndData(images));
    view->tree()->setCurrentItem(item("RC Data"));
    std::unique_ptr<QMenu> typeMenu(view->makeContextMenu(nullptr));
    EXPECT_FALSE(menuAction(typeMenu.get(), "export")->isEnabled());
    EXPECT_TRUE(menuAction(typeMenu.get(), "exportAll")->isEnabled());
    EXPECT_FALSE(menuAction(typeMenu.get(), "delete")->isEnabled());
    EXPECT_TRUE(menuAction(typeMenu.get(), "add")->isEnabled());

    QTreeWidgetItem* german = item("RC Data", "101 (Deutsch (Deutschland))");
    ASSERT_NE(german, nullptr);
    view->tree()->setCurrentItem(german);
    std::unique_ptr<QMenu> menu(view->makeContextMenu(nullptr));
    for (const char* name : {"export", "delete", "hex", "copyName"})
        EXPECT_TRUE(menuAction(menu.get(), name)->isEnabled()) << name;
    menuAction(menu.get(), "copyName")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "101");
    menuAction(menu.get(), "hex")->trigger();
    EXPECT_EQ(view->paneHost()->kind(), PaneKind::kHex);

    // Delete on the tree: the question, then the resource is gone; "No" keeps it.
    sink.answers = {Answer::kNo};
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(view->tree(), &press);
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_NE(item("RC Data", "101 (Deutsch (Deutschland))"), nullptr);
    sink.answers = {Answer::kYes};
    QApplication::sendEvent(view->tree(), &press);
    ASSERT_EQ(sink.questions.size(), 2u);
    EXPECT_EQ(item("RC Data", "101 (Deutsch (Deutschland))"), nullptr);
    EXPECT_NE(item("RC Data", "101 (简体中文 (中国))"), nullptr);
}

TEST_F(TreeCommandsTest, LanguagesShowTheirNamesWithTheNumberInATooltip) {
    EXPECT_EQ(languageDisplayName(1033), "English (United States)");
    EXPECT_EQ(languageDisplayName(1031), "Deutsch (Deutschland)");
    EXPECT_EQ(languageDisplayName(0x0C0A), "Español (España)");
    EXPECT_EQ(languageDisplayName(0x0413), "Nederlands (Nederland)");
    EXPECT_EQ(languageDisplayName(0x7C09), "English");  // a country the table lacks: the language
    // Neutral sub-languages as shell32 carries them (91 is Sinhala, 76 Malayalam): named, not numbered.
    for (std::uint16_t neutral : {0x005B, 0x004C, 0x0046, 0x0048})
        EXPECT_NE(languageDisplayName(neutral), QString::number(neutral)) << neutral;
    EXPECT_EQ(languageDisplayName(0x00FF), "255");

    pb::ImagePlan plan;
    const std::u16string longName(90, u'N');
    plan.resources.push_back({pb::kRtRcData, longName, pb::kLangEnUs, pb::bytesOf("x")});
    pb::addStrings(plan.resources, pb::kLangDeDe, {{1, u"eins"}});
    open(plan);
    const QString label = QString(90, QLatin1Char('N')) + " (English (United States))";
    QTreeWidgetItem* data = item("RC Data", label);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->toolTip(0), label + "\n1033 (0x0409)");
    QTreeWidgetItem* strings = item("String Table", "Deutsch (Deutschland)");
    ASSERT_NE(strings, nullptr);
    EXPECT_EQ(strings->toolTip(0), "Deutsch (Deutschland)\n1031 (0x0407)");
}

// The Add Resource dialog names the language typed and takes a number chosen from the names.
TEST(AddResourceLanguageNames, FieldShowsAndAcceptsLanguagesByName) {
    testing::GuiScriptedSink sink;
    CAddResourceDlg dialog(1031);
    EXPECT_EQ(dialog.languageEdit()->toolTip(), "Deutsch (Deutschland)");
    ASSERT_NE(dialog.languageEdit()->completer(), nullptr);
    dialog.languageEdit()->setText("2052 简体中文 (中国)");
    EXPECT_EQ(dialog.languageEdit()->toolTip(), "简体中文 (中国)");
    dialog.typeBox()->setEditText("RC Data");
    dialog.nameEdit()->setText("7");
    dialog.fileEdit()->setText("/tmp/a.bin");
    std::optional<AddResourceRequest> request = dialog.request();
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->language, 2052);
    dialog.languageEdit()->setText("German");
    EXPECT_FALSE(dialog.request().has_value());
}

// Filling the tree again for the same project (what a compile's reopen does) keeps the expanded
// types and the current item.
TEST_F(TreeCommandsTest, TreeKeepsExpansionAndSelectionWhenFilledAgain) {
    std::vector<pb::IconImage> images;
    open(iconsAndData(images));
    item("RC Data")->setExpanded(true);
    view->tree()->setCurrentItem(item("RC Data", "101 (简体中文 (中国))"));
    EXPECT_FALSE(item("Icon Group")->isExpanded());

    view->ClearView();
    ASSERT_TRUE(document->OpenProject(document->projectPath()));
    view->OnInitialUpdate();
    EXPECT_TRUE(item("RC Data")->isExpanded());
    EXPECT_FALSE(item("Icon Group")->isExpanded());
    ASSERT_NE(view->tree()->currentItem(), nullptr);
    EXPECT_EQ(view->tree()->currentItem()->text(0), "101 (简体中文 (中国))");
    EXPECT_EQ(view->paneHost()->kind(), PaneKind::kHex);  // the selection reached the pane host
}

// Undo brings a deleted group back into the tree and into pe.xml, with its members; redo deletes it
// again; an added resource's file goes with its undo. A compile ends the steps.
TEST_F(TreeCommandsTest, UndoAndRedoOfDeleteAndAddSurviveSelectionChangesAndEndWithACompile) {
    std::vector<pb::IconImage> images;
    open(iconsAndData(images));
    const std::filesystem::path peXml = document->descriptionPath();
    // pe.xml as the window writes it (the import writes the same tree in its own layout).
    std::string original;
    ASSERT_TRUE(document->description().SaveToString(original).succeeded());
    QTreeWidgetItem* group = item("Icon Group")->child(0);
    const QString groupLabel = group->text(0);
    view->tree()->setCurrentItem(group);
    sink.answers = {Answer::kYes};
    view->deleteResource();
    EXPECT_EQ(item("Icon Group"), nullptr);
    EXPECT_EQ(testing::readText(peXml).find("MAIN"), std::string::npos);
    ASSERT_TRUE(view->canUndoProject());

    // Another resource is selected in between: the step does not depend on the selection.
    view->tree()->setCurrentItem(item("RC Data", "101 (简体中文 (中国))"));
    view->undoProject();
    ASSERT_NE(item("Icon Group", groupLabel), nullptr);
    EXPECT_EQ(view->tree()->currentItem(), item("Icon Group", groupLabel));
    EXPECT_NE(item("Icon"), nullptr);
    EXPECT_EQ(testing::readText(peXml), original);
    EXPECT_TRUE(view->canRedoProject());

    view->redoProject();
    EXPECT_EQ(item("Icon Group"), nullptr);
    view->undoProject();
    ASSERT_NE(item("Icon Group", groupLabel), nullptr);

    const std::filesystem::path source = temp_.write("data.bin", "payload");
    view->setAddResourceChooser([&](std::uint16_t) {
        return AddResourceRequest{ResourceKey::ofId(10), ResourceKey::ofId(300), 0x409, source};
    });
    const std::set<std::filesystem::path> before = [&] {
        std::set<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(peXml.parent_path()))
            files.insert(entry.path());
        return files;
    }();
    view->addResource();
    ASSERT_NE(item("RC Data", "300 (English (United States))"), nullptr);
    view->undoProject();
    EXPECT_EQ(item("RC Data", "300 (English (United States))"), nullptr);
    std::set<std::filesystem::path> after;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(peXml.parent_path()))
        after.insert(entry.path());
    EXPECT_EQ(after, before);
    EXPECT_EQ(testing::readText(peXml), original);

    view->redoProject();
    ASSERT_NE(item("RC Data", "300 (English (United States))"), nullptr);
    view->compile();
    EXPECT_FALSE(view->canUndoProject());
    EXPECT_FALSE(view->canRedoProject());
}

// F2 renames the selected resource and Change Language moves it; a taken place is refused with the
// tree unchanged, and undo puts the name back.
TEST_F(TreeCommandsTest, F2AndChangeLanguageMoveTheResourceAndAreUndone) {
    std::vector<pb::IconImage> images;
    open(iconsAndData(images));
    QString typed;
    view->setMoveChooser([&](bool, const QString&) { return std::optional<QString>(typed); });
    view->tree()->setCurrentItem(item("RC Data", "101 (Deutsch (Deutschland))"));
    typed = QStringLiteral("settings");
    QKeyEvent f2(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(view->tree(), &f2);
    ASSERT_NE(item("RC Data", "SETTINGS (Deutsch (Deutschland))"), nullptr);
    EXPECT_EQ(view->tree()->currentItem(), item("RC Data", "SETTINGS (Deutsch (Deutschland))"));

    // 101 in Chinese is there already: the move to it is refused.
    typed = QStringLiteral("2052 简体中文 (中国)");
    view->tree()->setCurrentItem(item("RC Data", "SETTINGS (Deutsch (Deutschland))"));
    view->changeResourceLanguage();
    EXPECT_NE(item("RC Data", "SETTINGS (简体中文 (中国))"), nullptr);
    typed = QStringLiteral("101");
    view->renameResource();
    EXPECT_NE(item("RC Data", "SETTINGS (简体中文 (中国))"), nullptr);
    EXPECT_FALSE(sink.errors.empty());

    view->undoProject();
    EXPECT_NE(item("RC Data", "SETTINGS (Deutsch (Deutschland))"), nullptr);
    view->undoProject();
    EXPECT_NE(item("RC Data", "101 (Deutsch (Deutschland))"), nullptr);
    EXPECT_EQ(item("RC Data", "SETTINGS (Deutsch (Deutschland))"), nullptr);
}

}  // namespace
}  // namespace kestrel::ui
