#include "ui/gui_main.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/document_controller.h"
#include "app/ks_app.h"
#include "app/ks_doc.h"
#include "app/recent_files.h"
#include "app/settings_store.h"
#include "ui/hex_wnd.h"
#include "ui/image_wnd.h"
#include "ui/ks_frame.h"
#include "ui/ks_view.h"
#include "ui/options_dlg.h"
#include "ui/preview_wnd.h"
#include "ui/qt_ui_sink.h"
#include "ui/text_wnd.h"
#include "ui/version_wnd.h"

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

}  // namespace

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

    QApplication application(argc, argv);
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
