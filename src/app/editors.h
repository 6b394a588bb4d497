// External editors: three ordered lists (image, text, hex) kept in the settings, and launching a
// file in one of them. Programs start detached from an argument vector, never through a shell.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/status.h"

namespace kestrel {

class SettingsStore;

struct EditorCommand {
    std::string name;
    std::string command;        // the program: a path, or a name looked up on PATH
    std::string arguments;      // extra arguments, split like a shell does (quotes, backslashes)
    std::string initialFolder;  // working folder of the program; empty: inherit ours
    friend bool operator==(const EditorCommand&, const EditorCommand&) = default;
};

using EditorList = std::vector<EditorCommand>;

inline constexpr std::string_view kImageEditorsSection = "ImageEditors";
inline constexpr std::string_view kTextEditorsSection = "TextEditors";
inline constexpr std::string_view kHexEditorsSection = "HexEditors";

// Reads entries 1, 2, ... ("CmdName%d", "CmdCommand%d", "CmdArgs%d", "CmdInitialDir%d") until the
// first empty name. `list` is replaced. A settings file that cannot be read is reported and returned.
HResult LoadEditorList(const SettingsStore& store, std::string_view section, EditorList& list);

// Replaces the section by the list, numbered from 1 without gaps; an empty list removes the
// section. Entries of a former, longer list never survive. Failures are reported and returned.
HResult SaveEditorList(SettingsStore& store, std::string_view section, const EditorList& list);

enum class EditorKind { kImage, kText, kHex };

// How launching finds the system's own programs.
struct LaunchOptions {
    // Opens a file in the desktop's registered application (the "edit" and "open" verbs).
    std::string shellOpener = "xdg-open";
    // Text files with no text editor configured and no registered application open in the first of
    // these found on PATH.
    std::vector<std::string> textEditorFallbacks = {
        "gnome-text-editor", "gedit", "kate", "mousepad", "xed", "pluma", "featherpad", "leafpad"};
};

// Opens `file` in `editor`, else in the list's first editor, else with the shell opener (and, for
// text, the fallback editors). Failures are recorded (ReportError / ReportMessage) and returned;
// the caller shows the error dialog.
HResult LaunchEditor(EditorKind kind, const std::filesystem::path& file, const EditorCommand* editor,
                     const EditorList& list, const LaunchOptions& options = {});

// The argument vector of an editor for `file`: command, file, then the split arguments.
std::vector<std::string> editorArgv(const EditorCommand& editor, const std::filesystem::path& file);

// Splits an argument text like a POSIX shell: blanks separate; '...' is literal; "..." groups and
// takes \" \\ \$ \` as escapes; a backslash outside quotes escapes the next character. No
// expansion of any kind is done.
std::vector<std::string> splitArguments(std::string_view text);

// Starts argv[0] (a path, or a name looked up on PATH) with the other arguments, detached, in
// `workingFolder` when that is not empty. 0x80070002 when the program is not found, 0x8007010B when
// the working folder is not a folder, the errno code when the program cannot be run.
HResult startDetached(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder);

// The first of `names` that PATH holds as an executable file (empty when none).
std::string findOnPath(const std::vector<std::string>& names);

}  // namespace kestrel
