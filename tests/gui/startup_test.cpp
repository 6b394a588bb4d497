#include "ui/gui_main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>

#include "app/ks_app.h"
#include "core/platform/paths.h"
#include "gui_test_support.h"
#include "ui/ks_frame.h"

namespace kestrel::ui {
namespace {

class StartupTest : public testing::IsolatedGuiTest {
  protected:
    // Start-up on a slow machine (a sanitizer build) may take a while; a window that is not on
    // screen by then is closed anyway, so that the test fails instead of waiting forever.
    static constexpr qint64 kShowLimitMs = 30000;

    // Runs start-up with the main window; the window is looked at and closed as soon as it is on
    // screen.
    bool runAndClose(CKsCommandLineInfo commandLine) {
        QElapsedTimer clock;
        clock.start();
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* frame = qobject_cast<CKsFrame*>(widget);
                if (frame == nullptr || !frame->isVisible()) continue;
                const bool exposed = frame->windowHandle() != nullptr && frame->windowHandle()->isExposed();
                if (!exposed && clock.elapsed() < kShowLimitMs) continue;
                shown = exposed;
                title = frame->windowTitle();
                poll.stop();
                frame->close();
            }
        });
        poll.start();
        CKsApp app(std::move(commandLine), &runMainWindow);
        bool started = app.InitInstance();
        app.ExitInstance();
        return started;
    }

    testing::GuiScriptedSink sink;
    bool shown = false;
    QString title;
};

TEST_F(StartupTest, EmptyRecentListStartsOnAnEmptyDocument) {
    EXPECT_TRUE(runAndClose({}));
    EXPECT_TRUE(shown);
    EXPECT_EQ(title, QStringLiteral("无标题[*] - Kestrel"));
}

TEST_F(StartupTest, ResumeRuleReopensTheLastTempProject) {
    const auto dll = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
    std::filesystem::path project;
    ASSERT_TRUE(DecompileProject(dll, dataFolder() / "Temp", project).succeeded());
    (void)settings_->SetStringSetting("Recent File List", "File1", pathToUtf8(dll));
    ASSERT_TRUE(settings_->sync().succeeded());
    EXPECT_TRUE(runAndClose({}));
    EXPECT_TRUE(shown);
    EXPECT_EQ(title, QStringLiteral("sample.dll[*] - Kestrel"));
    // Closing wrote the layout.
    SettingsStore after;
    EXPECT_TRUE(after.contains("Layout", "MainRect"));
}

}  // namespace
}  // namespace kestrel::ui
