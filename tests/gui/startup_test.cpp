#include "ui/gui_main.h"

#include <QApplication>
#include <QTimer>

#include "app/ks_app.h"
#include "core/platform/paths.h"
#include "gui_test_support.h"
#include "ui/ks_frame.h"

namespace kestrel::ui {
namespace {

class StartupTest : public testing::IsolatedGuiTest {
  protected:
    // Runs start-up with the main window; the window is looked at and closed once it is up.
    bool runAndClose(CKsCommandLineInfo commandLine) {
        QTimer::singleShot(200, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* frame = qobject_cast<CKsFrame*>(widget); frame && frame->isVisible()) {
                    title = frame->windowTitle();
                    frame->close();
                }
            }
        });
        CKsApp app(std::move(commandLine), &runMainWindow);
        bool started = app.InitInstance();
        app.ExitInstance();
        return started;
    }

    testing::GuiScriptedSink sink;
    QString title;
};

TEST_F(StartupTest, EmptyRecentListStartsOnAnEmptyDocument) {
    EXPECT_TRUE(runAndClose({}));
    EXPECT_EQ(title, QStringLiteral("无标题 - Kestrel"));
}

TEST_F(StartupTest, ResumeRuleReopensTheLastTempProject) {
    const auto dll = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    std::filesystem::path project;
    ASSERT_TRUE(DecompileProject(dll, dataFolder() / "Temp", project).succeeded());
    (void)settings_->SetStringSetting("Recent File List", "File1", pathToUtf8(dll));
    ASSERT_TRUE(settings_->sync().succeeded());
    EXPECT_TRUE(runAndClose({}));
    EXPECT_EQ(title, QStringLiteral("sample.dll - Kestrel"));
    // Closing wrote the layout.
    SettingsStore after;
    EXPECT_TRUE(after.contains("Layout", "MainRect"));
}

}  // namespace
}  // namespace kestrel::ui
