// File > Export and Import translations on an open project: the template written, the translated
// language added to the working folder and shown, the document left to compile.
#include <QTreeWidgetItemIterator>
#include <algorithm>

#include "app/ks_doc.h"
#include "core/pe/compile_file.h"
#include "core/pe/decompile_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/po_file.h"
#include "core/pe/resource_types.h"
#include "core/platform/text.h"
#include "gui_test_support.h"
#include "ui/frame/ks_view.h"
#include "ui/frame/resource_tree.h"
#include "ui/frame/translation_commands.h"

namespace kestrel::ui {
namespace {

namespace pb = pebuilder;

class TranslationCommandsTest : public testing::IsolatedGuiTest {
  protected:
    void TearDown() override {
        if (document) document->setView(nullptr);
        view.reset();
    }

    void open() {
        pb::ImagePlan plan;
        pb::addStrings(plan.resources, pb::kLangEnUs, {{1, u"Open"}, {2, u"Close"}});
        plan.resources.push_back({pb::kRtDialog, 100, pb::kLangEnUs, pb::makeDialog(u"Settings")});
        plan.resources.push_back({pb::kRtMenu, 200, pb::kLangEnUs, pb::makeMenu()});
        std::filesystem::path project;
        ASSERT_TRUE(DecompileProject(temp_.write("in/x.dll", pb::buildImage(plan)), temp_ / "work", project)
                        .succeeded());
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        ASSERT_TRUE(document->OpenProject(project));
        view = std::make_unique<CKsView>(ViewContext{document.get(), settings_.get(), dataFolder(), nullptr});
        document->setView(view.get());
        view->OnInitialUpdate();
    }

    int treeItems() const {
        int count = 0;
        for (QTreeWidgetItemIterator it(view->tree()); *it != nullptr; ++it)
            ++count;
        return count;
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<CKsView> view;
};

TEST_F(TranslationCommandsTest, ExportThenImportAddsTheLanguageToTheProject) {
    open();
    const std::filesystem::path pot = temp_ / "x.pot";
    const int items = treeItems();
    ASSERT_TRUE(exportTranslations(nullptr, *document, pot));
    // The export leaves the loaded description (and the tree's handles into it) as they were.
    EXPECT_EQ(treeItems(), items);
    EXPECT_FALSE(ListResourceEntries(document->description()).empty());
    std::vector<PoEntry> entries;
    PoError error;
    ASSERT_EQ(ParsePo(testing::readText(pot), entries, error), kOk);
    ASSERT_GE(entries.size(), 5u);
    for (PoEntry& entry : entries)
        entry.translation = "DE:" + entry.id;
    const auto po = temp_.write("de.po", WritePo(PoHeader{}, entries));

    const int before = treeItems();
    EXPECT_FALSE(importTranslations(nullptr, *document, po, QStringLiteral("klingon")));
    EXPECT_EQ(treeItems(), before);
    ASSERT_TRUE(importTranslations(nullptr, *document, po, QStringLiteral("de_DE")))
        << (sink.errors.empty() ? std::string() : sink.errors.front());
    EXPECT_TRUE(document->IsModified());
    EXPECT_GT(treeItems(), before);  // the tree was rebuilt from the new description
    auto hasGerman = [&](std::uint16_t type) {
        const std::vector<XmlElement*> entries =
            ListResourceEntries(document->description(), ResourceKey::ofId(type));
        return std::any_of(entries.begin(), entries.end(), [&](XmlElement* entry) {
            auto resource = DescribeResourceEntry(document->description(), entry);
            return resource && resource->language == 0x407;
        });
    };
    for (std::uint16_t type : {resource_type::kDialog, resource_type::kMenu, resource_type::kString})
        EXPECT_TRUE(hasGerman(type)) << type;
    EXPECT_EQ(sink.messages.size(), 1u);  // the refused language
    EXPECT_TRUE(sink.errors.empty());
}

}  // namespace
}  // namespace kestrel::ui
