#include "app/editors.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <cerrno>

#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "KsApp";

constexpr std::string_view kHexEditFailed =
    "尝试编辑 '%s' 文件时发生一个错误。\r\n\r\n在工具->选项中设置任意的 Hex "
    "编辑器，或设置一个与此文件相关联的扩展程序。";
constexpr std::string_view kTextEditFailed =
    "尝试编辑 '%s' 文件时发生一个错误。\r\n\r\n在工具->选项中设置任意的文本编辑器，"
    "或设置一个与此文件相关联的扩展程序。";

std::string entryKey(std::string_view name, std::size_t number) {
    return safeFormat("%s%d", {name, static_cast<unsigned long>(number)});
}

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The program to run: a name with a slash is used as it is, anything else is looked up on PATH.
HResult resolveProgram(const std::string& command, std::string& program) {
    if (command.empty()) return hresultFromWin32(win32::kFileNotFound);
    if (command.find('/') != std::string::npos) {
        struct stat info {};
        if (::stat(command.c_str(), &info) != 0) {
            std::filesystem::path path(command);
            return hresultFromErrno(errno, &path);
        }
        if (S_ISDIR(info.st_mode) || ::access(command.c_str(), X_OK) != 0) {
            return hresultFromWin32(win32::kAccessDenied);
        }
        program = command;
        return kOk;
    }
    QString found = QStandardPaths::findExecutable(toQString(command));
    if (found.isEmpty()) return hresultFromWin32(win32::kFileNotFound);
    program = found.toStdString();
    return kOk;
}

}  // namespace

HResult LoadEditorList(const SettingsStore& store, std::string_view section, EditorList& list) {
    list.clear();
    if (HResult hr = store.status(); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "无法读取设置文件 %s。", {pathToUtf8(store.fileName())});
        return hr;
    }
    for (std::size_t number = 1;; ++number) {
        EditorCommand entry;
        (void)store.GetStringSetting(section, entryKey("CmdName", number), entry.name, "");
        if (entry.name.empty()) break;
        (void)store.GetStringSetting(section, entryKey("CmdCommand", number), entry.command, "");
        (void)store.GetStringSetting(section, entryKey("CmdArgs", number), entry.arguments, "");
        (void)store.GetStringSetting(section, entryKey("CmdInitialDir", number), entry.initialFolder, "");
        list.push_back(std::move(entry));
    }
    return kOk;
}

HResult SaveEditorList(SettingsStore& store, std::string_view section, const EditorList& list) {
    // Removing the section first means that a list which became shorter leaves no higher entries
    // behind. Removal and the new entries reach the disk in one write.
    // An entry without a name would end the list when it is read back, hiding the entries after
    // it, so such entries are left out and the rest keep consecutive numbers.
    store.removeSection(section);
    std::size_t number = 0;
    for (const EditorCommand& entry : list) {
        if (entry.name.empty()) continue;
        ++number;
        (void)store.SetStringSetting(section, entryKey("CmdName", number), entry.name);
        (void)store.SetStringSetting(section, entryKey("CmdCommand", number), entry.command);
        (void)store.SetStringSetting(section, entryKey("CmdArgs", number), entry.arguments);
        (void)store.SetStringSetting(section, entryKey("CmdInitialDir", number), entry.initialFolder);
    }
    HResult hr = store.sync();
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "无法写入设置文件 %s。", {pathToUtf8(store.fileName())});
    }
    return hr;
}

std::vector<std::string> splitArguments(std::string_view text) {
    std::vector<std::string> result;
    std::string current;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) result.push_back(std::move(current));
            current.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            if (i + 1 < text.size()) current += text[++i];
        } else if (c == '\'') {
            std::size_t end = text.find('\'', i + 1);
            if (end == std::string_view::npos) end = text.size();
            current.append(text.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size() &&
                    (text[i + 1] == '"' || text[i + 1] == '\\' || text[i + 1] == '$' || text[i + 1] == '`')) {
                    ++i;
                }
                current += text[i];
            }
        } else {
            current += c;
        }
    }
    if (inWord) result.push_back(std::move(current));
    return result;
}

std::vector<std::string> editorArgv(const EditorCommand& editor, const std::filesystem::path& file) {
    std::vector<std::string> argv{editor.command, pathToUtf8(file)};
    for (std::string& argument : splitArguments(editor.arguments))
        argv.push_back(std::move(argument));
    return argv;
}

std::string findOnPath(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        QString found = QStandardPaths::findExecutable(toQString(name));
        if (!found.isEmpty()) return found.toStdString();
    }
    return {};
}

HResult startDetached(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder) {
    if (argv.empty()) return kInvalidArg;
    std::string program;
    if (HResult hr = resolveProgram(argv[0], program); hr.failed()) return hr;
    std::error_code error;
    if (!workingFolder.empty() && !std::filesystem::is_directory(workingFolder, error)) {
        return hresultFromWin32(win32::kDirectory);
    }
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i)
        arguments.append(toQString(argv[i]));
    QString folder = workingFolder.empty() ? QString() : toQString(pathToUtf8(workingFolder));
    if (!QProcess::startDetached(toQString(program), arguments, folder)) return kFail;
    return kOk;
}

HResult LaunchEditor(EditorKind kind, const std::filesystem::path& file, const EditorCommand* editor,
                     const EditorList& list, const LaunchOptions& options) {
    if (editor == nullptr && !list.empty()) editor = &list.front();
    if (editor != nullptr) {
        HResult hr = startDetached(editorArgv(*editor, file), pathFromUtf8(editor->initialFolder));
        if (hr.failed()) RecordError(true, kSource, __LINE__, hr);
        return hr;
    }

    HResult hr = startDetached({options.shellOpener, pathToUtf8(file)}, {});
    if (hr.succeeded()) return hr;
    switch (kind) {
        case EditorKind::kImage:
            RecordError(true, kSource, __LINE__, hr);
            return hr;
        case EditorKind::kHex:
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, kHexEditFailed, {pathToUtf8(file)});
            return hr;
        case EditorKind::kText:
            break;
    }
    std::string fallback = findOnPath(options.textEditorFallbacks);
    hr = fallback.empty() ? hresultFromWin32(win32::kFileNotFound)
                          : startDetached({fallback, pathToUtf8(file)}, {});
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, kTextEditFailed, {pathToUtf8(file)});
    }
    return hr;
}

}  // namespace kestrel
