#include "core/pe/compile_file.h"

#include <system_error>

#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/errors/message_codes.h"
#include "core/pe/res_compiler.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "KsDoc";
// "编译 '%s' 时发生错误。"
constexpr std::string_view kCopyQuestion =
    "成功的编译。\r\n\r\n你想要复制已编译的文件：\r\n\r\n--> '%s'\r\n\r\n 到它初始的位置：\r\n\r\n--> '%s' "
    "？\r\n\r\n这项操作无法撤消。";
constexpr std::string_view kCopyFailed = "一个错误发生于复制\r\n\r\n%s\r\n文件到\r\n%s";
constexpr std::string_view kCompiledAs = "成功的编译为：\r\n\r\n'%s'";
constexpr std::string_view kBackupFailed = "无法建立备份文件\r\n\r\n%s\r\n\r\n原文件未被更改。";

}  // namespace

std::filesystem::path BackupPathOf(const std::filesystem::path& destination) {
    std::filesystem::path backup = destination;
    backup += ".bak";
    return backup;
}

HResult CompileFile(const std::optional<std::filesystem::path>& target, const std::filesystem::path& peFile,
                    const std::filesystem::path& descriptionPath, bool showSuccess, const CompileCopy& copy,
                    bool* copied) {
    if (copied != nullptr) *copied = false;
    CResCompiler compiler;
    std::filesystem::path folder = descriptionPath.parent_path();
    if (folder.empty()) folder = ".";
    compiler.setWorkingFolder(folder);
    compiler.setOutputName(peFile.filename());
    const std::filesystem::path destination = target.value_or(peFile);

    if (HResult hr = compiler.Compile(descriptionPath); hr.failed()) {
        // The compiler's own report names the failing file and its code; this line names the compile
        // as a whole (repeating a code whose text takes a file name would print it without one).
        RecordError(false, kSource, __LINE__, msg::kCompileFailed, {pathToUtf8(compiler.outputPath())});
        return hr;
    }

    // The compiled file already is the destination when the PE file lies in the working folder.
    const std::filesystem::path compiled = compiler.outputPath();
    const std::string compiledText = pathToUtf8(compiled);
    const std::string destinationText = pathToUtf8(destination);
    if (!IsSameFile(compiled, destination)) {
        if (copy.ask && uiSink().ask(safeFormat(Localized(kCopyQuestion), {compiledText, destinationText}),
                                     kAppName, Buttons::kYesNo, 1, MessageIcon::kQuestion) != Answer::kYes) {
            return kOk;
        }
        std::error_code error;
        if (copy.keepBackup && std::filesystem::is_regular_file(destination, error)) {
            const std::filesystem::path backup = BackupPathOf(destination);
            if (HResult hr = CopyFileAtomic(destination, backup); hr.failed()) {
                RecordError(true, kSource, __LINE__, hr);
                ReportMessage(false, kSource, __LINE__, kBackupFailed, {pathToUtf8(backup)});
                return hr;
            }
        }
        if (HResult hr = CopyFileAtomic(compiled, destination); hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, kCopyFailed, {compiledText, destinationText});
            return hr;
        }
        if (copied != nullptr) *copied = true;
        return kOk;
    }
    if (showSuccess)
        uiSink().message(safeFormat(Localized(kCompiledAs), {compiledText}), kAppName,
                         MessageIcon::kInformation);
    return kOk;
}

}  // namespace kestrel
