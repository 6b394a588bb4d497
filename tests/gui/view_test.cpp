#include "ui/frame/ks_view.h"

#include <QIcon>
#include <QPixmap>
#include <set>

#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "ui/frame/resource_tree.h"
#include "ui/frame/url_opener.h"
#include "ui/panes/pane_host.h"

namespace kestrel::ui {
namespace {

class ViewTest : public testing::IsolatedGuiTest {
  protected:
    void open(const std::filesystem::path& project) {
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        ASSERT_TRUE(document->OpenProject(project));
        view = std::make_unique<CKsView>(ViewContext{document.get(), settings_.get(), dataFolder(), nullptr});
        view->resize(800, 500);
        view->show();
        document->setView(view.get());
        view->OnInitialUpdate();
    }
    void TearDown() override {
        if (document) document->setView(nullptr);
        view.reset();
    }
    QStringList topLabels() const {
        QStringList labels;
        for (int i = 0; i < view->tree()->topLevelItemCount(); ++i)
            labels << view->tree()->topLevelItem(i)->text(0);
        return labels;
    }
    QStringList childLabels(const QString& type) const {
        QStringList labels;
        for (int i = 0; i < view->tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = view->tree()->topLevelItem(i);
            if (item->text(0) != type) continue;
            for (int j = 0; j < item->childCount(); ++j)
                labels << item->child(j)->text(0);
        }
        return labels;
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<CKsView> view;
};

const char* kHandMadeDescription =
    "<Directory Type='0'>"
    "<Entry ID='2' Directory='1'><Directory Type='2'>"
    "  <Entry ID='101' Directory='1'><Directory Type='101'>"
    "    <Entry ID='1033' Directory='0'><File Name='a.bmp'/></Entry>"
    "    <Entry ID='2052' Directory='0'><File Name='b.bmp'/></Entry></Directory></Entry>"
    "  <Entry ID='102' Directory='1'></Entry>"
    "</Directory></Entry>"
    "<Entry Name='PNG' Directory='1'><Directory Type='0'>"
    "  <Entry Name='LOGO' Directory='1'><Directory><Entry Name='eng' Directory='0'><File "
    "Name='l.png'/></Entry>"
    "</Directory></Entry></Directory></Entry>"
    "<Entry ID='13' Directory='1'></Entry>"
    "<Entry ID='6' Directory='1'><Directory Type='6'>"
    "  <Entry ID='1' Directory='1'><Directory><Entry ID='1033' Directory='0'><File "
    "Name='s'/></Entry></Directory></Entry>"
    "  <Entry ID='2' Directory='1'><Directory><Entry ID='1033' Directory='0'><File "
    "Name='s'/></Entry></Directory></Entry>"
    "  <Entry ID='3' Directory='1'><Directory><Entry ID='2052' Directory='0'><File "
    "Name='s'/></Entry></Directory></Entry>"
    "  <Entry ID='4' Directory='1'><Directory><Entry ID='1033' Directory='0'><File Name='s'/></Entry>"
    "    <Entry ID='1031' Directory='0'><File Name='s'/></Entry></Directory></Entry>"
    "</Directory></Entry>"
    "<Entry Directory='1'><Directory><Entry ID='24' Directory='1'></Entry></Directory></Entry>"
    "</Directory>";

TEST_F(ViewTest, LabelsUseDisplayNamesEveryLanguageAndDistinctStringLanguages) {
    open(projectWith(kHandMadeDescription));
    EXPECT_EQ(topLabels(), (QStringList{"Bitmap", "PNG", "13", "String Table", "Manifest"}));
    // One item per language of a resource; a resource without languages adds nothing.
    EXPECT_EQ(childLabels("Bitmap"), (QStringList{"101 (English (United States))", "101 (简体中文 (中国))"}));
    EXPECT_EQ(childLabels("PNG"), QStringList{"LOGO (eng)"});
    // A language that is only ever a block's second language is listed too.
    EXPECT_EQ(childLabels("String Table"),
              (QStringList{"English (United States)", "简体中文 (中国)", "Deutsch (Deutschland)"}));
    EXPECT_EQ(view->tree()->imageOf(view->tree()->topLevelItem(0)), TreeImage::kClosed);
    EXPECT_EQ(view->tree()->imageOf(view->tree()->topLevelItem(2)), TreeImage::kEntry);
}

TEST_F(ViewTest, SampleImportFillsTheTreeInDescriptionOrder) {
    open(importSample());
    QStringList labels = topLabels();
    EXPECT_EQ(labels.mid(0, 3), (QStringList{"AVI", "MY_DATA", "UIFILE"}));
    EXPECT_TRUE(labels.contains("Cursor"));
    EXPECT_TRUE(labels.contains("Bitmap"));
    EXPECT_TRUE(labels.contains("String Table"));
    EXPECT_EQ(labels.removeDuplicates(), 0);
    QStringList bitmaps = childLabels("Bitmap");
    EXPECT_EQ(bitmaps.filter(QRegularExpression("^101 ")),
              (QStringList{"101 (Deutsch (Deutschland))", "101 (English (United States))",
                           "101 (简体中文 (中国))"}));
    QStringList languages = childLabels("String Table");
    EXPECT_EQ(languages.removeDuplicates(), 0);
    EXPECT_FALSE(languages.isEmpty());
}

// The import writes every language of a resource to a file of its own; each is reachable from the
// tree, and selecting it shows that language's file.
TEST_F(ViewTest, EveryLanguageOfAResourceOpensItsOwnFile) {
    namespace pb = pebuilder;
    const std::vector<std::pair<std::uint16_t, std::string>> languages = {
        {pb::kLangDeDe, "deutsch"}, {pb::kLangEnUs, "english"}, {pb::kLangZhCn, "chinese"}};
    pb::ImagePlan plan;
    for (const auto& [language, text] : languages)
        plan.resources.push_back({pb::kRtRcData, 101, language, pb::bytesOf(text)});
    plan.resources.push_back({pb::kRtRcData, u"ONLY_ONE", pb::kLangEnUs, pb::bytesOf("single")});
    std::filesystem::path project;
    ASSERT_TRUE(DecompileProject(temp_.write("in/multi.dll", pb::buildImage(plan)), temp_ / "multi", project)
                    .succeeded());
    open(project);

    EXPECT_EQ(childLabels("RC Data"),
              (QStringList{"ONLY_ONE (English (United States))", "101 (Deutsch (Deutschland))",
                           "101 (English (United States))", "101 (简体中文 (中国))"}));
    QTreeWidgetItem* type = view->tree()->topLevelItem(0);
    ASSERT_EQ(type->childCount(), 4);
    for (int i = 0; i < 3; ++i) {
        QTreeWidgetItem* item = type->child(i + 1);
        XmlElement* language = view->tree()->elementOf(item);
        ASSERT_NE(language, nullptr);
        const XmlAttribute* id = XmlDocument::FindAttribute(language, "ID");
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(id->value(), std::to_string(languages[i].first));
        view->tree()->setCurrentItem(item);
        EXPECT_EQ(testing::readText(view->paneHost()->currentPath()), languages[i].second)
            << item->text(0).toStdString();
    }
}

// A desktop theme that has a folder icon and nothing else.
class ThemeWithAFolderOnly {
  public:
    explicit ThemeWithAFolderOnly(const testing::TempDir& temp)
        : searchPaths_(QIcon::themeSearchPaths()), name_(QIcon::themeName()) {
        temp.write("icons/only-folder/index.theme",
                   "[Icon Theme]\nName=only-folder\nDirectories=16x16/places\n\n"
                   "[16x16/places]\nSize=16\nType=Fixed\n");
        std::filesystem::create_directories(temp / "icons/only-folder/16x16/places");
        QPixmap folder(16, 16);
        folder.fill(Qt::darkYellow);
        folder.save(QString::fromStdString((temp / "icons/only-folder/16x16/places/folder.png").string()));
        QIcon::setThemeSearchPaths({QString::fromStdString((temp / "icons").string())});
        QIcon::setThemeName(QStringLiteral("only-folder"));
    }
    ~ThemeWithAFolderOnly() {
        QIcon::setThemeSearchPaths(searchPaths_);
        QIcon::setThemeName(name_);
    }

  private:
    QStringList searchPaths_;
    QString name_;
};

// Thousands of items share the three icons the tree looked up when it was made: a lookup per item
// (of an icon the theme lacks, it searches the icon folders every time) made large files slow to
// open. The theme's icon is taken where it has one.
TEST_F(ViewTest, TreeImagesAreLookedUpOnceAndPreferTheTheme) {
    ThemeWithAFolderOnly theme(temp_);
    std::string description = "<Directory Type='0'>";
    for (int type = 1; type <= 3; ++type) {
        description += "<Entry Name='T" + std::to_string(type) + "' Directory='1'><Directory>";
        for (int resource = 1; resource <= 1000; ++resource)
            description +=
                "<Entry ID='" + std::to_string(resource) +
                "' Directory='1'><Directory><Entry ID='1033' Directory='0'><File Name='f'/></Entry>"
                "</Directory></Entry>";
        description += "</Directory></Entry>";
    }
    description += "</Directory>";
    open(projectWith(description));

    ResourceTree* tree = view->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    std::set<qint64> typeIcons, entryIcons;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* type = tree->topLevelItem(i);
        typeIcons.insert(type->icon(0).cacheKey());
        ASSERT_EQ(type->childCount(), 1000);
        for (int j = 0; j < type->childCount(); ++j)
            entryIcons.insert(type->child(j)->icon(0).cacheKey());
    }
    EXPECT_EQ(typeIcons.size(), 1u);
    EXPECT_EQ(entryIcons.size(), 1u);
    EXPECT_EQ(tree->topLevelItem(0)->icon(0).name(), QStringLiteral("folder"));
    // The theme has no document icon: our own stands in, never an empty one.
    EXPECT_FALSE(tree->topLevelItem(0)->child(0)->icon(0).isNull());
    tree->expandItem(tree->topLevelItem(0));
    tree->expandItem(tree->topLevelItem(1));
    EXPECT_EQ(tree->topLevelItem(0)->icon(0).cacheKey(), tree->topLevelItem(1)->icon(0).cacheKey());
    EXPECT_FALSE(typeIcons.count(tree->topLevelItem(0)->icon(0).cacheKey()));
}

TEST_F(ViewTest, HandlesDoNotOutliveAReloadOfTheDescription) {
    open(importSample());
    QTreeWidgetItem* first = view->tree()->topLevelItem(0);
    ElementHandle stale = view->tree()->handleOf(first);
    ASSERT_NE(view->tree()->resolve(stale), nullptr);
    // Saving writes pe.xml back, which releases and reloads the description: the view is cleared
    // and filled again, and the old handles belong to a past generation.
    sink.answers = {Answer::kNo};
    EXPECT_TRUE(document->OnSaveDocument(document->resourceFilePath()));
    ASSERT_GT(view->tree()->topLevelItemCount(), 0);
    ElementHandle fresh = view->tree()->handleOf(view->tree()->topLevelItem(0));
    EXPECT_NE(fresh.generation, stale.generation);
    EXPECT_NE(view->tree()->resolve(fresh), nullptr);
}

TEST_F(ViewTest, CompileWritesTheDescriptionInMemoryFirstAndKeepsTheTree) {
    open(importSample());
    XmlDocument& description = document->description();
    ASSERT_NE(description.FindElement("\\Directory"), nullptr);
    ASSERT_TRUE(description.SetAttribute("\\Directory", "Marker", "compiled-from-memory").succeeded());
    const int items = view->tree()->topLevelItemCount();
    sink.answers = {Answer::kNo};
    view->compile();
    EXPECT_TRUE(sink.errors.empty()) << sink.errors.front();
    EXPECT_NE(testing::readText(document->descriptionPath()).find("compiled-from-memory"), std::string::npos);
    EXPECT_EQ(view->tree()->topLevelItemCount(), items);
    EXPECT_NE(view->tree()->elementOf(view->tree()->topLevelItem(0)), nullptr);
}

TEST_F(ViewTest, SplitterIsClampedToTheRightEdgeAndStored) {
    (void)settings_->SetIntSetting("Layout", "SplitterX", 5000);
    open(importSample());
    const int right = view->width() - CKsView::kMarginRight;
    EXPECT_EQ(view->splitterPosition(), right - SplitterBar::kWidth);
    view->setSplitterPosition(300);
    view->resize(200, 300);
    EXPECT_EQ(view->splitterPosition(), 200 - CKsView::kMarginRight - SplitterBar::kWidth);
    int stored = 0;
    (void)settings_->GetIntSetting("Layout", "SplitterX", stored, 0);
    EXPECT_EQ(stored, view->splitterPosition());
    view->setSplitterPosition(-20);
    EXPECT_EQ(view->splitterPosition(), 0);
}

TEST_F(ViewTest, ImportAskedToOpenAndNoKeepsTheCurrentProject) {
    open(importSample());
    const auto current = document->projectPath();
    std::filesystem::path dll = temp_.write("other/other.dll", pebuilder::buildSampleImage());
    view->setImportChooser([&](std::string& file, std::string& folder) {
        file = pathToUtf8(dll);
        folder = pathToUtf8(temp_ / "imported");
        return true;
    });
    sink.answers = {Answer::kNo};
    view->importFile();
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_EQ(sink.questions[0], "顺利插入。\r\n\r\n你想要现在就打开这个文件吗？");
    EXPECT_TRUE(std::filesystem::exists(temp_ / "imported" / "other.kestrel"));
    EXPECT_EQ(document->projectPath(), current);
}

// Without a browser the web site's address is shown instead of nothing.
TEST_F(ViewTest, AWebSiteThatCannotBeOpenedIsShownToTheUser) {
    open(importSample());
    std::vector<QUrl> asked;
    setUrlOpener([&](const QUrl& url) {
        asked.push_back(url);
        return asked.size() > 1;
    });
    sink.messages.clear();
    view->openWebSite();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find(std::string(kWebSiteLink)), std::string::npos) << sink.messages[0];
    view->openWebSite();
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(sink.messages.size(), 1u);
    setUrlOpener({});
}

}  // namespace
}  // namespace kestrel::ui
