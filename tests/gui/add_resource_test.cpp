#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidgetItemIterator>

#include "core/pe/compile_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/resource_reader.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "ui/dialogs/add_resource_dlg.h"
#include "ui/frame/ks_view.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/pane_host.h"

namespace kestrel::ui {
namespace {

namespace pb = pebuilder;

ResourceKey id(std::uint16_t value) {
    return ResourceKey::ofId(value);
}
ResourceKey name(std::u16string value) {
    return ResourceKey::ofName(std::move(value));
}

TEST(AddResourceFields, TypesNamesAndLanguagesParseAsTyped) {
    EXPECT_EQ(parseResourceType("icon group"), id(14));
    EXPECT_EQ(parseResourceType(" RC Data "), id(10));
    EXPECT_EQ(parseResourceType("23"), id(23));
    EXPECT_EQ(parseResourceType("#240"), id(240));
    EXPECT_EQ(parseResourceType("png"), name(u"PNG"));
    EXPECT_EQ(parseResourceName("my_logo"), name(u"MY_LOGO"));
    EXPECT_EQ(parseResourceName("ärger"), name(u"ÄRGER"));
    EXPECT_EQ(parseResourceName("101"), id(101));
    // An ID must be a whole number the loader can ask for; a text that starts like one is no name.
    for (const char* wrong : {"", "  ", "0", "#0", "65536", "12abc", "#"})
        EXPECT_FALSE(parseResourceName(wrong).has_value()) << wrong;
    EXPECT_EQ(parseLanguage("2052"), 2052);
    EXPECT_EQ(parseLanguage("0x0804"), 2052);
    EXPECT_EQ(parseLanguage("0"), 0);
    for (const char* wrong : {"", "65536", "0x", "0x10000", "en", "1033x"})
        EXPECT_FALSE(parseLanguage(wrong).has_value()) << wrong;
}

// The dialog hands over what its fields say, and stays open (naming the field) while one is wrong.
TEST(AddResourceFields, DialogAcceptsOnlyCompleteFields) {
    testing::GuiScriptedSink sink;
    CAddResourceDlg dialog(2052);
    EXPECT_EQ(dialog.languageEdit()->text(), "2052");
    dialog.typeBox()->setEditText("Icon Group");
    dialog.nameEdit()->setText("main");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(sink.messages.size(), 1u);
    dialog.fileEdit()->setText("/tmp/a.ico");
    std::optional<AddResourceRequest> request = dialog.request();
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->type, id(14));
    EXPECT_EQ(request->name, name(u"MAIN"));
    EXPECT_EQ(request->language, 2052);
    EXPECT_EQ(request->file, std::filesystem::path("/tmp/a.ico"));
}

class AddResourceTest : public testing::IsolatedGuiTest {
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

    // Every item as "type/child", in tree order.
    QStringList labels() const {
        QStringList all;
        for (QTreeWidgetItemIterator it(view->tree()); *it != nullptr; ++it)
            all << ((*it)->parent() ? (*it)->parent()->text(0) + "/" : QString()) + (*it)->text(0);
        return all;
    }
    QTreeWidgetItem* item(const QString& label) const {
        for (QTreeWidgetItemIterator it(view->tree()); *it != nullptr; ++it) {
            if (((*it)->parent() ? (*it)->parent()->text(0) + "/" : QString()) + (*it)->text(0) == label)
                return *it;
        }
        return nullptr;
    }
    QString current() const {
        QTreeWidgetItem* selected = view->tree()->currentItem();
        return selected
                   ? (selected->parent() ? selected->parent()->text(0) + "/" : QString()) + selected->text(0)
                   : QString();
    }
    // The description as it is on disk.
    XmlElement* onDisk(XmlDocument& loaded, const ResourceKey& type, const ResourceKey& resource,
                       std::uint16_t language) const {
        EXPECT_TRUE(loaded.LoadFile(document->descriptionPath()).succeeded());
        return FindResourceEntry(loaded, type, resource, language);
    }
    void chooseToAdd(AddResourceRequest request) {
        view->setAddResourceChooser([this, request](std::uint16_t language) {
            proposedLanguage = language;
            return std::optional<AddResourceRequest>(request);
        });
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<CKsView> view;
    std::optional<std::uint16_t> proposedLanguage;
};

// An image without resources gains one: the tree shows and selects it, pe.xml lists it, and the
// compiled file carries it.
TEST_F(AddResourceTest, AddToAnImageWithoutResourcesReachesTheCompiledFile) {
    pb::ImagePlan plan;
    plan.withResourceSection = false;
    open(plan);
    EXPECT_EQ(view->tree()->topLevelItemCount(), 0);
    ASSERT_TRUE(view->canAddResource());
    EXPECT_FALSE(view->canDeleteResource());

    const std::filesystem::path source = temp_.write("src/blob.bin", std::string("payload\0bytes", 13));
    chooseToAdd({parseResourceType("RC Data").value(), parseResourceName("blob").value(), 1033, source});
    view->addResource();
    EXPECT_EQ(proposedLanguage, 1033);
    EXPECT_TRUE(sink.errors.empty());
    EXPECT_EQ(labels(), (QStringList{"RC Data", "RC Data/BLOB (English (United States))"}));
    EXPECT_EQ(current(), "RC Data/BLOB (English (United States))");
    EXPECT_FALSE(view->paneHost()->currentPath().empty());
    EXPECT_TRUE(view->canDeleteResource());

    XmlDocument loaded;
    EXPECT_NE(onDisk(loaded, id(10), name(u"BLOB"), 1033), nullptr);

    ASSERT_TRUE(CompileFile(std::nullopt, document->resourceFilePath(), document->descriptionPath(), false)
                    .succeeded());
    const std::vector<std::byte> compiled = testing::readBytes(document->descriptionPath().parent_path() /
                                                               document->resourceFilePath().filename());
    ResourceLookup lookup;
    ASSERT_TRUE(lookup.open(compiled).succeeded());
    std::optional<Bytes> data = lookup.find(id(10), name(u"BLOB"), 1033);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(std::vector<std::byte>(data->begin(), data->end()), testing::readBytes(source));
}

// A square PNG added as an icon group becomes the group of every size, its members beside it.
TEST_F(AddResourceTest, APngAddedAsAnIconGroupBringsEverySize) {
    pb::ImagePlan plan;
    plan.withResourceSection = false;
    open(plan);
    const std::filesystem::path png = temp_.write("src/logo.png", pb::makePngIconImage(256, 3).data);
    chooseToAdd({parseResourceType("Icon Group").value(), parseResourceName("1").value(), 1033, png});
    view->addResource();
    EXPECT_TRUE(sink.errors.empty());
    EXPECT_EQ(current(), "Icon Group/1 (English (United States))");
    EXPECT_EQ(labels().filter(QStringLiteral("Icon/")).size(), 8);
}

// Delete asks first, No (the default) keeps everything; Yes removes the resource from the tree and
// from pe.xml, keeps its file, and selects the item that took its place. Type items and string
// table languages cannot be deleted.
TEST_F(AddResourceTest, DeleteAsksAndSelectsANeighbour) {
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, 101, pb::kLangZhCn, pb::bytesOf("one")});
    plan.resources.push_back({pb::kRtRcData, 102, pb::kLangZhCn, pb::bytesOf("two")});
    plan.resources.push_back({pb::kRtHtml, 1, pb::kLangZhCn, pb::makeHtml("t")});
    pb::addStrings(plan.resources, pb::kLangZhCn, {{1, u"text"}});
    open(plan);
    const QStringList before = labels();
    const std::string descriptionBefore = testing::readText(document->descriptionPath());

    view->tree()->setCurrentItem(item("String Table/2052"));
    EXPECT_FALSE(view->canDeleteResource());
    view->tree()->setCurrentItem(item("RC Data"));
    EXPECT_FALSE(view->canDeleteResource());
    view->tree()->setCurrentItem(item("RC Data/101 (简体中文 (中国))"));
    ASSERT_TRUE(view->canDeleteResource());
    const std::filesystem::path file = view->paneHost()->currentPath();

    view->deleteResource();
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_NE(sink.questions[0].find("RC Data 101 (简体中文 (中国))"), std::string::npos);
    EXPECT_EQ(labels(), before);
    EXPECT_EQ(testing::readText(document->descriptionPath()), descriptionBefore);

    sink.answers = {Answer::kYes};
    view->deleteResource();
    EXPECT_EQ(current(), "RC Data/102 (简体中文 (中国))");
    EXPECT_FALSE(labels().contains("RC Data/101 (简体中文 (中国))"));
    XmlDocument loaded;
    EXPECT_EQ(onDisk(loaded, id(10), id(101), pb::kLangZhCn), nullptr);
    EXPECT_NE(FindResourceEntry(loaded, id(10), id(102), pb::kLangZhCn), nullptr);
    EXPECT_TRUE(std::filesystem::exists(file));

    // The last resource of a type takes the type along; the selection moves to the type now in
    // its place.
    sink.answers = {Answer::kYes};
    view->deleteResource();
    EXPECT_EQ(item("RC Data"), nullptr);
    ASSERT_NE(view->tree()->currentItem(), nullptr);
    EXPECT_EQ(view->tree()->currentItem()->parent(), nullptr);
    EXPECT_TRUE(sink.errors.empty());

    // A new resource proposes the language of the project's first resource.
    chooseToAdd({id(10), id(7), pb::kLangZhCn, temp_.write("src/seven", "7")});
    view->addResource();
    EXPECT_EQ(proposedLanguage, pb::kLangZhCn);
    EXPECT_EQ(current(), "RC Data/7 (简体中文 (中国))");
}

// A resource that is already there is refused with the error dialog; the description, pe.xml, the
// tree and the selection stay as they were.
TEST_F(AddResourceTest, DuplicateIsRefusedAndChangesNothing) {
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, u"LOGO", pb::kLangEnUs, pb::bytesOf("logo")});
    open(plan);
    view->tree()->setCurrentItem(item("RC Data/LOGO (English (United States))"));
    const std::filesystem::path shown = view->paneHost()->currentPath();
    const QStringList before = labels();
    const std::string descriptionBefore = testing::readText(document->descriptionPath());
    const auto filesBefore = std::distance(std::filesystem::directory_iterator(temp_ / "work"), {});

    chooseToAdd(
        {id(10), parseResourceName("logo").value(), pb::kLangEnUs, temp_.write("src/other", "other")});
    view->addResource();
    EXPECT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(labels(), before);
    EXPECT_EQ(current(), "RC Data/LOGO (English (United States))");
    EXPECT_EQ(view->paneHost()->currentPath(), shown);
    EXPECT_EQ(testing::readText(document->descriptionPath()), descriptionBefore);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp_ / "work"), {}), filesBefore);
    std::string text;
    ASSERT_TRUE(document->description().SaveToString(text).succeeded());
    XmlDocument loaded;
    ASSERT_TRUE(loaded.LoadFile(document->descriptionPath()).succeeded());
    std::string reloaded;
    ASSERT_TRUE(loaded.SaveToString(reloaded).succeeded());
    EXPECT_EQ(text, reloaded);
}

// A pane that edited the description has the view write pe.xml and rebuild the tree once the pane's
// own handler has returned (the new selection closes that pane).
TEST_F(AddResourceTest, EditFromAPaneRebuildsLater) {
    pb::ImagePlan plan;
    plan.resources.push_back({pb::kRtRcData, 1, pb::kLangEnUs, pb::bytesOf("one")});
    open(plan);
    XmlElement* added = nullptr;
    ASSERT_TRUE(AddResource(document->description(), document->descriptionPath().parent_path(), id(10), id(2),
                            pb::kLangEnUs, temp_.write("src/two", "two"), added)
                    .succeeded());
    view->descriptionEdited(added);
    EXPECT_FALSE(labels().contains("RC Data/2 (English (United States))"));
    ASSERT_TRUE(testing::waitUntil([&] { return current() == "RC Data/2 (English (United States))"; }));
    XmlDocument loaded;
    EXPECT_NE(onDisk(loaded, id(10), id(2), pb::kLangEnUs), nullptr);
}

}  // namespace
}  // namespace kestrel::ui
