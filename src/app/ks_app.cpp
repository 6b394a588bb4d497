#include "app/ks_app.h"

#include <array>
#include <cstdio>

#include "app/ks_doc.h"
#include "cli/user_folders.h"
#include "core/errors/errors.h"
#include "core/pe/compile_file.h"
#include "core/pe/decompile_file.h"
#include "core/pe/one_shot_edit.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "KsApp";

CKsApp* currentApp = nullptr;

}  // namespace

CKsApp::CKsApp(CKsCommandLineInfo commandLine, GuiStarter gui)
    : commandLine_(std::move(commandLine)), gui_(std::move(gui)) {
    editors_[0].section = kImageEditorsSection;
    editors_[1].section = kTextEditorsSection;
    editors_[2].section = kHexEditorsSection;
    currentApp = this;
}

CKsApp::~CKsApp() {
    if (currentApp == this) currentApp = nullptr;
}

CKsApp* CKsApp::instance() {
    return currentApp;
}

std::string CKsApp::GetVersionText() {
    return programVersionText(&versionMajor_, &versionMinor_);
}

bool CKsApp::InitInstance() {
    InitErrorReporting(errorDialogCaptions(), GetVersionText());

    HResult admin = IsUserAdmin();
    if (admin.failed()) {
        RecordError(true, kSource, __LINE__, admin);
        ReportMessage(false, kSource, __LINE__, "检查用户是否是管理员是发生错误。");
        ShowErrorDialog();
    }
    isAdministrator_ = admin == kOk;

    if (HResult hr = GetDataFolder(dataFolder_); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "获取某个路径时发生错误。");
        ShowErrorDialog();
        exitCode_ = kExitFailure;
        return false;
    }

    settings_ = std::make_unique<SettingsStore>();
    if (!commandLine_.isCommandLineOperation()) applyResumeRule();

    for (EditorSlot& slot : editors_) {
        HResult hr = LoadEditorList(*settings_, slot.section, slot.list);
        slot.loadedOk = hr.succeeded();
        slot.loaded = slot.list;
        if (hr.failed()) ShowErrorDialog();
    }

    if (commandLine_.isCommandLineOperation()) return runCommandLineOperation();

    if (!gui_) {
        printUsageError("no command-line operation given (the desktop interface is not part of this build)");
        exitCode_ = kExitUsage;
        return false;
    }
    if (!gui_(*this)) {
        if (exitCode_ == kExitSuccess) exitCode_ = kExitFailure;
        return false;
    }
    return true;
}

// With no file named, the last project is resumed: the recent list holds the PE file a project was
// made from, and files opened directly are imported into Temp, so Temp/<base>.kestrel is the last
// working project.
void CKsApp::applyResumeRule() {
    if (!commandLine_.fileName.empty()) return;
    std::string recent;
    (void)settings_->GetStringSetting(kRecentFileSection, "File1", recent, "");
    if (recent.empty()) return;
    std::filesystem::path project = tempFolder() / pathFromUtf8(baseNameOf(recent) + ".kestrel");
    commandLine_.fileName = pathToUtf8(project);
    std::error_code error;
    if (std::filesystem::is_regular_file(project, error)) {
        commandLine_.shellCommand = CKsCommandLineInfo::ShellCommand::kFileOpen;
    }
}

bool CKsApp::runCommandLineOperation() {
    if (std::string problem = commandLine_.usageProblem(); !problem.empty()) {
        printUsageError(problem);
        exitCode_ = kExitUsage;
        return false;
    }
    exitCode_ = runFileOperation(commandLine_);
    commandLine_.fileName.clear();
    return false;
}

bool CKsApp::ProcessShellCommand(DocumentCommands& documents) {
    auto run = [&] {
        if (commandLine_.shellCommand == CKsCommandLineInfo::ShellCommand::kFileOpen) {
            return documents.openDocument(pathFromUtf8(commandLine_.fileName));
        }
        return documents.newDocument();
    };
    if (run()) return true;
    if (commandLine_.fileName.empty()) return false;
    commandLine_.fileName.clear();
    commandLine_.shellCommand = CKsCommandLineInfo::ShellCommand::kFileNew;
    return run();
}

int CKsApp::ExitInstance() {
    if (settings_) {
        for (EditorSlot& slot : editors_) {
            // A list that could not be read is never written: that would wipe the user's entries.
            if (!slot.loadedOk || slot.list == slot.loaded) continue;
            if (SaveEditorList(*settings_, slot.section, slot.list).failed()) {
                ShowErrorDialog();
                continue;
            }
            slot.loaded = slot.list;
        }
        settings_.reset();
    }
    return exitCode_;
}

HResult CKsApp::LaunchImageEditor(const std::filesystem::path& file, const EditorCommand* editor) {
    return LaunchEditor(EditorKind::kImage, file, editor, imageEditors(), launchOptions_);
}

HResult CKsApp::LaunchTextEditor(const std::filesystem::path& file, const EditorCommand* editor) {
    return LaunchEditor(EditorKind::kText, file, editor, textEditors(), launchOptions_);
}

HResult CKsApp::LaunchHexEditor(const std::filesystem::path& file, const EditorCommand* editor) {
    return LaunchEditor(EditorKind::kHex, file, editor, hexEditors(), launchOptions_);
}

int runKestrel(int argc, char** argv, CKsApp::GuiStarter gui) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    CKsCommandLineInfo commandLine = CKsCommandLineInfo::parse(arguments);
    if (commandLine.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitSuccess;
    }
    if (commandLine.version) {
        CKsApp versionOnly{CKsCommandLineInfo{}};
        std::printf("%s\n", versionOnly.GetVersionText().c_str());
        return kExitSuccess;
    }
    // Import, compile and edit run as in the command-line program, without the settings.
    if (commandLine.isCommandLineOperation()) return runCommandLineProgram(argc, argv);
    if (!gui) {
        printUsageError("no command-line operation given (the desktop interface is not part of this build)");
        return kExitUsage;
    }
    CKsApp app(std::move(commandLine), std::move(gui));
    if (app.InitInstance()) return app.ExitInstance();
    app.ExitInstance();
    return app.exitCode();
}

}  // namespace kestrel
