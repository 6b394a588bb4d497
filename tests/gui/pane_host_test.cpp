#include "ui/panes/pane_host.h"

#include <QLabel>

#include "app/ks_doc.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "gui_test_support.h"
#include "ui/frame/ks_view.h"
#include "ui/frame/resource_tree.h"

namespace kestrel::ui {
namespace {

struct ChoiceCase {
    ShowMode mode;
    int type;
    const char* name;
    bool png;
    PaneKind expected;
};

class PaneChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(PaneChoiceTest, ChoosesByModeThenTypeThenExtension) {
    const ChoiceCase& c = GetParam();
    EXPECT_EQ(choosePane(c.mode, c.type, c.name, c.png).kind, c.expected) << c.name << " type " << c.type;
}

using M = ShowMode;
using K = PaneKind;
INSTANTIATE_TEST_SUITE_P(
    Table, PaneChoiceTest,
    ::testing::Values(ChoiceCase{M::kTreeSelection, 2000, "REGINST00001", false, K::kText},
                      ChoiceCase{M::kTreeSelection, 1000, "UIFILE01000", false, K::kText},
                      ChoiceCase{M::kTreeSelection, 1000, "sub\\uifile2", false, K::kText},
                      ChoiceCase{M::kTreeSelection, 7, "MY\\DATA00007", false, K::kHex},
                      ChoiceCase{M::kTreeSelection, 23, "HTML00001", false, K::kText},
                      ChoiceCase{M::kTreeSelection, 24, "Manifest.bin", false, K::kText},
                      ChoiceCase{M::kTreeSelection, 10, "RCDATA.bin", false, K::kHex},
                      ChoiceCase{M::kTreeSelection, 1, "Cursor00001.CUR", false, K::kCursor},
                      ChoiceCase{M::kTreeSelection, 3, "Icon00001.ico", false, K::kIcon},
                      ChoiceCase{M::kTreeSelection, 2, "a.INI", false, K::kText},
                      ChoiceCase{M::kTreeSelection, 2, "Bitmap00102.BMP", true, K::kImage},
                      ChoiceCase{M::kTreeSelection, 12, "x.bin", false, K::kCursorGroup},
                      ChoiceCase{M::kTreeSelection, 14, "x.bin", false, K::kIconGroup},
                      ChoiceCase{M::kTreeSelection, 5, "x.bin", false, K::kDialog},
                      ChoiceCase{M::kTreeSelection, 4, "x.bin", false, K::kMenu},
                      ChoiceCase{M::kTreeSelection, 16, "x.bin", false, K::kVersion},
                      ChoiceCase{M::kHexFromText, 16, "a.ini", false, K::kHex},
                      ChoiceCase{M::kTextFromHex, 2, "a.bmp", false, K::kText},
                      ChoiceCase{M::kHexFromImage, 2, "a.bmp", false, K::kHex},
                      ChoiceCase{M::kChooseAgain, 2, "a.bmp", false, K::kImage}));

TEST(PaneChoice, PngFlagAsksForThePngFile) {
    EXPECT_TRUE(choosePane(ShowMode::kTreeSelection, 2, "Bitmap00102.BMP", true).usePngFile);
    EXPECT_FALSE(choosePane(ShowMode::kTreeSelection, 2, "Bitmap00101.BMP", false).usePngFile);
}

TEST(PaneChoice, ShallowElementsHaveNoResourceTypeInsteadOfCrashing) {
    XmlDocument description;
    ASSERT_TRUE(
        description.Parse("<Directory Type='2'><Entry><File Name='x'/></Entry></Directory>").succeeded());
    XmlElement* file = description.FindElement("\\Directory\\Entry\\File");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(resourceTypeOf(description, file), 0);
    EXPECT_EQ(resourceTypeOf(description, nullptr), 0);
}

// A pane that counts its writes and can be told it holds edits.
class CountingPane : public Pane {
  public:
    QWidget* createWidget(QWidget* parent) override {
        ++widgetsCreated;
        return new QLabel(parent);
    }
    void showFile(const PaneRequest& request) override { shown.push_back(request.path); }
    bool isModified() const override { return modified; }
    HResult commit() override {
        ++commits;
        if (commitResult.failed()) {
            RecordError(true, "test", __LINE__, commitResult);
            return commitResult;
        }
        modified = false;
        return kOk;
    }
    bool canEdit(EditCommand command) const override { return command == EditCommand::kUndo && modified; }
    void edit(EditCommand) override { ++undos; }

    bool modified = false;
    HResult commitResult = kOk;
    int commits = 0;
    int undos = 0;
    int widgetsCreated = 0;
    std::vector<std::filesystem::path> shown;
};

class PaneHostTest : public testing::IsolatedGuiTest {
  protected:
    void SetUp() override {
        registerPaneFactory(PaneType::kText, [this](PaneHost&) {
            auto pane = std::make_unique<CountingPane>();
            textPane = pane.get();
            return pane;
        });
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        ASSERT_TRUE(document->OpenProject(importSample()));
        view = std::make_unique<CKsView>(ViewContext{document.get(), settings_.get(), dataFolder(), nullptr});
        view->resize(800, 500);
        document->setView(view.get());
        view->OnInitialUpdate();
    }
    void TearDown() override {
        document->setView(nullptr);
        view.reset();
        registerPaneFactory(PaneType::kText, {});
    }
    QTreeWidgetItem* find(const QString& text) {
        auto items = view->tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return items.isEmpty() ? nullptr : items.front();
    }
    void select(QTreeWidgetItem* item) { view->tree()->setCurrentItem(item); }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<CKsView> view;
    CountingPane* textPane = nullptr;
};

TEST_F(PaneHostTest, TypeItemClosesThePaneAndClearsTheStatusText) {
    QString status = QStringLiteral("unchanged");
    QObject::connect(view.get(), &CKsView::statusMessage, [&](const QString& text) { status = text; });
    ASSERT_NE(find(QStringLiteral("1000 (English (United States))")), nullptr);
    select(find(QStringLiteral("1000 (English (United States))")));
    EXPECT_EQ(view->paneHost()->kind(), PaneKind::kText);
    EXPECT_TRUE(status.endsWith(QStringLiteral("UIFILE01000")));
    select(find(QStringLiteral("Bitmap")));
    EXPECT_EQ(view->paneHost()->kind(), PaneKind::kNone);
    EXPECT_EQ(view->paneHost()->activeWidget(), nullptr);
    EXPECT_TRUE(status.isEmpty());
}

TEST_F(PaneHostTest, CommitWritesOnlyModifiedPanesAndReusesTheTextPane) {
    select(find(QStringLiteral("1000 (English (United States))")));
    ASSERT_NE(textPane, nullptr);
    QWidget* widget = view->paneHost()->activeWidget();
    // Leaving an unedited text entry writes nothing back.
    select(find(QStringLiteral("Bitmap")));
    EXPECT_EQ(textPane->commits, 0);

    select(find(QStringLiteral("1000 (English (United States))")));
    textPane->modified = true;
    EXPECT_TRUE(view->canEdit(EditCommand::kUndo));
    view->edit(EditCommand::kUndo);
    EXPECT_EQ(textPane->undos, 1);
    EXPECT_TRUE(view->CommitPane());
    EXPECT_EQ(textPane->commits, 1);
    (void)widget;

    // Showing another text file while the text pane is active keeps the same widget.
    select(find(QStringLiteral("Bitmap")));
    select(find(QStringLiteral("1000 (English (United States))")));
    QWidget* before = view->paneHost()->activeWidget();
    view->paneHost()->ShowFile(document.get(),
                               pathToUtf8(document->descriptionPath().parent_path() / "STRINGS.XML"), nullptr,
                               ShowMode::kTextFromHex);
    EXPECT_EQ(view->paneHost()->activeWidget(), before);
    EXPECT_EQ(textPane->shown.back().filename(), "STRINGS.XML");
    EXPECT_EQ(textPane->widgetsCreated, 3);
}

TEST_F(PaneHostTest, UndoWithNoPaneDoesNothing) {
    view->paneHost()->ClosePane();
    EXPECT_FALSE(view->canEdit(EditCommand::kUndo));
    view->edit(EditCommand::kUndo);
    EXPECT_EQ(view->paneHost()->kind(), PaneKind::kNone);
}

TEST_F(PaneHostTest, PngBitmapOpensThePngFileInTheImagePane) {
    select(find(QStringLiteral("102 (English (United States))")));
    EXPECT_EQ(view->paneHost()->kind(), PaneKind::kImage);
    EXPECT_EQ(view->paneHost()->currentPath().filename(), "Bitmap00102.png");
    EXPECT_TRUE(std::filesystem::exists(view->paneHost()->currentPath()));
}

TEST_F(PaneHostTest, StoredNamesLeavingTheFolderAreRefused) {
    XmlDocument& description = document->description();
    XmlElement* file =
        description.FindElement("\\Directory\\Entry\\Directory\\Entry\\Directory\\Entry\\File");
    ASSERT_NE(file, nullptr);
    view->paneHost()->ShowFile(document.get(), "..\\..\\outside.txt", file, ShowMode::kTreeSelection);
    EXPECT_EQ(view->paneHost()->kind(), PaneKind::kNone);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("outside.txt"), std::string::npos);
}

// Edits that cannot be written are shown as an error and stop whatever needs the files: the pane
// stays with its edits, the compile does not run, the save does not write.
TEST_F(PaneHostTest, AFailedCommitStopsSelectionCompileAndSave) {
    select(find(QStringLiteral("1000 (English (United States))")));
    ASSERT_NE(textPane, nullptr);
    textPane->modified = true;
    textPane->commitResult = HResult{static_cast<std::int32_t>(0x80070005u)};

    select(find(QStringLiteral("Bitmap")));
    EXPECT_EQ(view->paneHost()->kind(), PaneKind::kText);
    ASSERT_EQ(sink.errors.size(), 1u);

    const auto before = std::filesystem::last_write_time(document->resourceFilePath());
    view->compile();
    EXPECT_EQ(sink.errors.size(), 2u);
    EXPECT_TRUE(sink.questions.empty());  // the compile never reached its copy question
    EXPECT_EQ(std::filesystem::last_write_time(document->resourceFilePath()), before);

    EXPECT_FALSE(document->OnSaveDocument(document->projectPath()));
    EXPECT_EQ(sink.errors.size(), 3u);
    EXPECT_TRUE(textPane->modified);

    // Once the file can be written, everything goes on.
    textPane->commitResult = kOk;
    EXPECT_TRUE(view->CommitPane());
    EXPECT_FALSE(textPane->modified);
}

}  // namespace
}  // namespace kestrel::ui
