#include "ui/frame/gui_main.h"

#include <dlfcn.h>
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/document_controller.h"
#include "app/ks_app.h"
#include "app/ks_doc.h"
#include "app/recent_files.h"
#include "app/settings_store.h"
#include "cli/command_line.h"
#include "ui/dialogs/options_dlg.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/ks_view.h"
#include "ui/frame/qt_ui_sink.h"
#include "ui/panes/hex_wnd.h"
#include "ui/panes/image_wnd.h"
#include "ui/panes/preview_wnd.h"
#include "ui/panes/text_wnd.h"
#include "ui/panes/version_wnd.h"

namespace kestrel::ui {

namespace {

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// A display server, or a platform chosen explicitly (offscreen in tests).
bool displayAvailable() {
    return environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY") ||
           environmentSet("QT_QPA_PLATFORM");
}

// True when Qt will talk to an X server: xcb chosen, or nothing chosen and no Wayland display.
bool usesX11() {
    if (!environmentSet("DISPLAY")) return false;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0') return std::string_view(platform).starts_with("xcb");
    return !environmentSet("WAYLAND_DISPLAY");
}

// How long a display that refuses connections is waited for.
constexpr std::chrono::milliseconds kDisplayPatience{3000};
constexpr std::chrono::milliseconds kDisplayRetry{50};

}  // namespace

X11DisplayHold::X11DisplayHold(const char* display, std::chrono::milliseconds patience) {
    library_ = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) return;
    connect_ = reinterpret_cast<void* (*)(const char*, int*)>(::dlsym(library_, "xcb_connect"));
    hasError_ = reinterpret_cast<int (*)(void*)>(::dlsym(library_, "xcb_connection_has_error"));
    disconnect_ = reinterpret_cast<void (*)(void*)>(::dlsym(library_, "xcb_disconnect"));
    if (connect_ == nullptr || hasError_ == nullptr || disconnect_ == nullptr) {
        connect_ = nullptr;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        // xcb_connect always returns a connection object, one in an error state when it failed.
        void* connection = connect_(display, nullptr);
        if (connection != nullptr && hasError_(connection) == 0) {
            connection_ = connection;
            return;
        }
        if (connection != nullptr) disconnect_(connection);
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(kDisplayRetry);
    }
}

X11DisplayHold::~X11DisplayHold() {
    if (connection_ != nullptr) disconnect_(connection_);
    if (library_ != nullptr) ::dlclose(library_);
}

std::unique_ptr<QTranslator> installWindowLanguage(Language language) {
    auto translator = std::make_unique<QTranslator>();
    bool loaded = false;
    if (language == Language::kEnglish) {
        // Qt's own buttons and dialogs are English without a translation.
        loaded = translator->load(QStringLiteral(":/translations/kestrel_en.qm"));
    } else {
        // Our texts are Chinese in the sources; this gives Qt's own buttons and dialogs Chinese
        // captions.
        loaded = translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                                  QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
    if (!loaded || !QCoreApplication::installTranslator(translator.get())) return nullptr;
    return translator;
}

bool runMainWindow(CKsApp& app) {
    CKsDoc document(app.tempFolder());
    RecentFileList recent(app.settings());
    document.setRecentFileList(&recent);
    document.setSettings(app.settings());
    QtDocumentPrompts prompts;
    DocumentController controller(document, &prompts);

    // The file panes reach the settings, their editor lists and the options dialog of this run.
    CKsFrame* mainFrame = nullptr;
    auto services = [&app, &mainFrame](
                        const EditorList& editors,
                        HResult (CKsApp::*launch)(const std::filesystem::path&, const EditorCommand*)) {
        PaneServices result;
        result.settings = app.settings();
        result.editors = &editors;
        result.launchEditor = [&app, launch](const std::filesystem::path& file, const EditorCommand* editor) {
            return (app.*launch)(file, editor);
        };
        result.openOptions = [&mainFrame](int page) {
            if (mainFrame != nullptr) mainFrame->view()->openOptions(page);
        };
        result.descriptionEdited = [&mainFrame](XmlElement* select) {
            if (mainFrame != nullptr) mainFrame->view()->descriptionEdited(select);
        };
        return result;
    };
    registerPaneFactory(PaneType::kImage,
                        makeImagePaneFactory(services(app.imageEditors(), &CKsApp::LaunchImageEditor)));
    registerPaneFactory(PaneType::kText,
                        makeTextPaneFactory(services(app.textEditors(), &CKsApp::LaunchTextEditor)));
    registerPaneFactory(PaneType::kHex,
                        makeHexPaneFactory(services(app.hexEditors(), &CKsApp::LaunchHexEditor)));
    registerPaneFactory(PaneType::kVersion, makeVersionPaneFactory({}));
    registerPaneFactory(PaneType::kDialog, makeDialogPaneFactory());
    registerPaneFactory(PaneType::kMenu, makeMenuPaneFactory());
    struct FactoryReset {
        ~FactoryReset() {
            for (PaneType type : {PaneType::kImage, PaneType::kText, PaneType::kHex, PaneType::kVersion,
                                  PaneType::kDialog, PaneType::kMenu})
                registerPaneFactory(type, {});
        }
    } factoryReset;

    FrameContext context;
    context.document = &document;
    context.controller = &controller;
    context.settings = app.settings();
    context.recent = &recent;
    context.dataFolder = app.dataFolder();
    context.versionText = app.GetVersionText();
    CKsFrame frame(context);
    mainFrame = &frame;
    frame.view()->setOptionsOpener([&app, &frame](int page) {
        RunOptionsDialog({&app.imageEditors(), &app.textEditors(), &app.hexEditors(), app.settings()}, page,
                         &frame);
    });
    prompts.setParent(&frame);
    document.setView(frame.view());
    frame.view()->OnInitialUpdate();

    if (!app.ProcessShellCommand(controller)) {
        document.setView(nullptr);
        return false;
    }
    frame.refreshTitle();
    frame.updateActions();
    if (frame.opensMaximized()) {
        frame.showMaximized();
    } else {
        frame.show();
    }
    QApplication::exec();
    // Closing writes pe.xml back; the view is gone before the document lets go of it.
    document.OnCloseDocument();
    document.setView(nullptr);
    return true;
}

int runGuiProgram(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    CKsCommandLineInfo parsed = CKsCommandLineInfo::parse(arguments);
    // Import, compile, --help and --version never need a display.
    if (parsed.isCommandLineOperation() || parsed.help || parsed.version) return runKestrel(argc, argv);
    // Without a display Qt would abort; say what the program can do instead.
    if (!displayAvailable()) {
        std::fprintf(stderr, "kestrel: no command-line operation given, and no display for the window\n\n%s",
                     usageText().c_str());
        return kExitUsage;
    }

    std::unique_ptr<X11DisplayHold> display;
    if (usesX11()) {
        display = std::make_unique<X11DisplayHold>(std::getenv("DISPLAY"), kDisplayPatience);
        if (display->tried() && !display->connected()) {
            std::fprintf(stderr, "kestrel: cannot connect to the display %s\n", std::getenv("DISPLAY"));
            return kExitFailure;
        }
    }
    QApplication application(argc, argv);
    // Qt has its own connection now.
    display.reset();
    QApplication::setApplicationName(QStringLiteral("Kestrel"));
    std::string setting;
    (void)SettingsStore().GetStringSetting("General", "Language", setting, "");
    const Language language = ChooseLanguage(setting);
    SetLanguage(language);
    const std::unique_ptr<QTranslator> translator = installWindowLanguage(language);
    ScopedQtUiSink sink;
    return runKestrel(argc, argv, &runMainWindow);
}

}  // namespace kestrel::ui
