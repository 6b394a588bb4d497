// Real programs opened through the whole start-up and skimmed with the keyboard the way a user does:
// a key about every 50 ms (Down, Right to open a type, Escape every tenth key), from the moment the
// window is on screen, with the panes' timers, file watches and previews running in between. Each
// pane the walk passes is created, shown and torn down while the next key is already queued.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include "app/ks_app.h"
#include "core/platform/paths.h"
#include "gui_test_support.h"
#include "ui/frame/gui_main.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/ks_view.h"
#include "ui/frame/resource_tree.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;

class TreeWalkTest : public testing::IsolatedGuiTest {
  protected:
    static constexpr int kKeyIntervalMs = 50;
    // A walk that has not finished by then ends with the window closed, so that the test fails
    // instead of waiting forever (a sanitizer build on a busy machine is slow).
    static constexpr qint64 kWalkLimitMs = 120000;

    struct Walk {
        bool started = false;
        int keys = 0;
        int entriesShown = 0;  // keys after which a resource entry (not a type) was current
    };

    // Starts the program on `file` and sends `keys` keys to the focused widget of its window.
    Walk walk(const fs::path& file, int keys) {
        CKsCommandLineInfo commandLine;
        commandLine.shellCommand = CKsCommandLineInfo::ShellCommand::kFileOpen;
        commandLine.fileName = pathToUtf8(file);
        Walk result;
        QElapsedTimer clock;
        clock.start();
        QTimer tick;
        tick.setInterval(kKeyIntervalMs);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            CKsFrame* frame = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* candidate = qobject_cast<CKsFrame*>(widget);
                    candidate != nullptr && candidate->isVisible())
                    frame = candidate;
            }
            if (frame == nullptr) return;
            if (result.keys == 0) {
                frame->activateWindow();
                frame->view()->tree()->setFocus();
            }
            if (result.keys >= keys || clock.elapsed() > kWalkLimitMs) {
                tick.stop();
                frame->close();
                return;
            }
            QWidget* target = QApplication::focusWidget();
            if (target == nullptr || target->window() != frame) target = frame->view()->tree();
            const int index = result.keys++;
            const Qt::Key key =
                index % 10 == 9 ? Qt::Key_Escape : (index % 3 == 0 ? Qt::Key_Right : Qt::Key_Down);
            QTest::keyClick(target, key);
            const QTreeWidgetItem* current = frame->view()->tree()->currentItem();
            if (current != nullptr && current->parent() != nullptr) ++result.entriesShown;
        });
        tick.start();
        CKsApp app(std::move(commandLine), &runMainWindow);
        result.started = app.InitInstance();
        app.ExitInstance();
        return result;
    }

    testing::GuiScriptedSink sink;
};

TEST_F(TreeWalkTest, SkimmingRealProgramsWithTheKeyboard) {
    const char* const programs[] = {"notepad.exe", "comdlg32.dll", "kernelbase.dll"};
    int walked = 0;
    for (const char* program : programs) {
        const fs::path file =
            testing::corpusFile(std::string("usr/lib/i386-linux-gnu/wine/i386-windows/") + program);
        if (file.empty()) continue;
        SCOPED_TRACE(program);
        // The program imports into its data folder; the original stays where it is, untouched.
        const fs::path copy = temp_ / "in" / program;
        fs::create_directories(copy.parent_path());
        fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
        const Walk result = walk(copy, 90);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(result.keys, 90);
        EXPECT_GT(result.entriesShown, 20);
        std::printf("[ walk ] %s: %d keys, %d on entries, %zu errors shown\n", program, result.keys,
                    result.entriesShown, sink.errors.size());
        ++walked;
    }
    if (walked == 0)
        GTEST_SKIP() << "corpus not available (tests/corpus/fetch): no tree walk over real programs";
}

}  // namespace
}  // namespace kestrel::ui
