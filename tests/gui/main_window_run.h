// Runs the application's start-up with the main window and hands the window to a test once it is on
// screen.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <utility>

#include "app/ks_app.h"
#include "ui/frame/gui_main.h"
#include "ui/frame/ks_frame.h"

namespace kestrel::testing {

// Start-up on a slow machine (a sanitizer build) may take a while; a window that is not on screen by
// then is handed over anyway, so that the test fails instead of waiting forever.
inline constexpr qint64 kMainWindowShowLimitMs = 30000;

// Runs start-up with `commandLine`; once the main window is on screen (exposed), or the limit has
// passed, calls `onShown` with it and whether it was exposed, then closes it. Returns what start-up
// returned.
inline bool runMainWindowOnce(CKsCommandLineInfo commandLine,
                              const std::function<void(ui::CKsFrame& frame, bool exposed)>& onShown) {
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* frame = qobject_cast<ui::CKsFrame*>(widget);
            if (frame == nullptr || !frame->isVisible()) continue;
            const bool exposed = frame->windowHandle() != nullptr && frame->windowHandle()->isExposed();
            if (!exposed && clock.elapsed() < kMainWindowShowLimitMs) continue;
            poll.stop();
            onShown(*frame, exposed);
            frame->close();
            return;
        }
    });
    poll.start();
    CKsApp app(std::move(commandLine), &ui::runMainWindow);
    const bool started = app.InitInstance();
    app.ExitInstance();
    return started;
}

}  // namespace kestrel::testing
