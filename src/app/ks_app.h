// The application object: start-up (data folder, settings, editor lists, command line), the
// command-line operations, and exit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/editors.h"
#include "app/settings_store.h"
#include "cli/cli_program.h"
#include "cli/command_line.h"
#include "core/platform/status.h"

namespace kestrel {

// What the start-up asks of the document side: the GUI's document controller implements it.
class DocumentCommands {
  public:
    virtual ~DocumentCommands() = default;
    virtual bool openDocument(const std::filesystem::path& path) = 0;
    virtual bool newDocument() = 0;
    // Before something replaces the open project's files: offers to compile its uncompiled edits;
    // false when the user cancels (or the compile failed).
    virtual bool SaveModified() { return true; }
};

// Exit status of the program.

class CKsApp {
  public:
    // Runs the main window once start-up is done (the last steps of InitInstance); returns false
    // when the program should end.
    using GuiStarter = std::function<bool(CKsApp&)>;

    explicit CKsApp(CKsCommandLineInfo commandLine, GuiStarter gui = {});
    ~CKsApp();
    CKsApp(const CKsApp&) = delete;
    CKsApp& operator=(const CKsApp&) = delete;

    // The start-up sequence; false ends the program (also after a command-line operation), with
    // exitCode() telling how.
    bool InitInstance();
    // Writes back the editor lists that changed, releases the settings; returns the exit code.
    int ExitInstance();
    int exitCode() const { return exitCode_; }

    // "Kestrel Beta 版本 1.020000"; also sets the version words.
    std::string GetVersionText();
    std::uint16_t versionMajor() const { return versionMajor_; }
    std::uint16_t versionMinor() const { return versionMinor_; }

    // The data folder with a trailing separator, and its Temp working folder.
    const std::filesystem::path& dataFolder() const { return dataFolder_; }
    std::filesystem::path tempFolder() const { return dataFolder_ / "Temp"; }
    bool isAdministrator() const { return isAdministrator_; }
    SettingsStore* settings() const { return settings_.get(); }
    const CKsCommandLineInfo& commandLineInfo() const { return commandLine_; }

    EditorList& imageEditors() { return editors_[0].list; }
    EditorList& textEditors() { return editors_[1].list; }
    EditorList& hexEditors() { return editors_[2].list; }
    LaunchOptions& launchOptions() { return launchOptions_; }

    HResult LaunchImageEditor(const std::filesystem::path& file, const EditorCommand* editor = nullptr);
    HResult LaunchTextEditor(const std::filesystem::path& file, const EditorCommand* editor = nullptr);
    HResult LaunchHexEditor(const std::filesystem::path& file, const EditorCommand* editor = nullptr);

    // Opens the command line's file (or the resumed project), else starts a new document. A failed
    // open is retried once as a new document without a file name.
    bool ProcessShellCommand(DocumentCommands& documents);

    // The application object of this run (null before one exists).
    static CKsApp* instance();

  private:
    struct EditorSlot {
        std::string_view section;
        EditorList list;
        EditorList loaded;  // as read at start-up; only a changed list is written back
        bool loadedOk = false;
    };

    void applyResumeRule();
    bool runCommandLineOperation();

    CKsCommandLineInfo commandLine_;
    GuiStarter gui_;
    std::filesystem::path dataFolder_;
    bool isAdministrator_ = false;
    std::uint16_t versionMajor_ = 0;
    std::uint16_t versionMinor_ = 0;
    std::unique_ptr<SettingsStore> settings_;
    EditorSlot editors_[3];
    LaunchOptions launchOptions_;
    int exitCode_ = kExitSuccess;
};

// The desktop program's main: parses the arguments, answers --help and --version, runs a
// command-line operation as the command-line program does, or hands over to `gui` (without one:
// usage, exit 2).
int runKestrel(int argc, char** argv, CKsApp::GuiStarter gui = {});

}  // namespace kestrel
