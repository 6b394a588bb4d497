#include "ui/frame/gui_main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>

#include "app/ks_app.h"
#include "cli/cli_program.h"
#include "core/platform/paths.h"
#include "gui_test_support.h"
#include "main_window_run.h"
#include "ui/frame/ks_frame.h"

namespace kestrel::ui {
namespace {

class StartupTest : public testing::IsolatedGuiTest {
  protected:
    // Runs start-up with the main window; the window is looked at and closed as soon as it is on
    // screen.
    bool runAndClose(CKsCommandLineInfo commandLine) {
        return testing::runMainWindowOnce(std::move(commandLine), [this](CKsFrame& frame, bool exposed) {
            shown = exposed;
            title = frame.windowTitle();
        });
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

// An X server that takes no connection (one that is resetting, or not there) ends the program with
// a message and a failure status after a while, instead of Qt's abort() at its first connection.
TEST_F(StartupTest, ADisplayThatRefusesConnectionsEndsTheProgramWithAMessage) {
    const char* const unused = ":97";
    if (std::filesystem::exists("/tmp/.X11-unix/X97")) GTEST_SKIP() << "a display :97 exists here";
    if (!X11DisplayHold(unused, std::chrono::milliseconds(0)).tried()) GTEST_SKIP() << "no libxcb here";
    struct Environment {
        std::vector<std::pair<std::string, std::optional<std::string>>> saved;
        void set(const char* name, const char* value) {
            const char* old = std::getenv(name);
            saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            if (value != nullptr) {
                ::setenv(name, value, 1);
            } else {
                ::unsetenv(name);
            }
        }
        ~Environment() {
            for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
                if (it->second) {
                    ::setenv(it->first.c_str(), it->second->c_str(), 1);
                } else {
                    ::unsetenv(it->first.c_str());
                }
            }
        }
    } environment;
    environment.set("DISPLAY", unused);
    environment.set("QT_QPA_PLATFORM", nullptr);
    environment.set("WAYLAND_DISPLAY", nullptr);
    std::string program = "kestrel-gui";
    char* argv[] = {program.data(), nullptr};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(runGuiProgram(1, argv), kExitFailure);
    // It was given a few seconds to come up.
    EXPECT_GE(clock.elapsed(), 2000);
}

}  // namespace
}  // namespace kestrel::ui
