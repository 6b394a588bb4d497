#include "cli/cli_program.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/extract_command.h"
#include "cli/file_version.h"
#include "cli/settings_file.h"
#include "cli/signature_command.h"
#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/pe/compile_file.h"
#include "core/pe/decompile_file.h"
#include "core/pe/one_shot_edit.h"
#include "core/pe/pe_diff.h"
#include "core/pe/resource_queries.h"
#include "core/pe/translation.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/system.h"
#include "core/platform/text.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

// /Output: of /Compile names the working folder's pe.xml; a folder means its pe.xml.
std::filesystem::path compileDescriptionPath(const std::string& output) {
    std::filesystem::path path = pathFromUtf8(output);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) path /= "pe.xml";
    return path;
}

int compile(const CKsCommandLineInfo& commandLine, const std::filesystem::path& file) {
    const std::filesystem::path description = compileDescriptionPath(commandLine.output);
    if (CompileFile(std::nullopt, file, description, false).failed()) {
        ShowErrorDialog();
        return kExitFailure;
    }
    // Unless the copy was made (or the file was compiled in place), say where the result is.
    const std::filesystem::path compiled = description.parent_path() / file.filename();
    noteKeptSignature(compiled);
    if (!IsSameFile(compiled, file) && !FilesHaveSameContent(compiled, file)) {
        uiSink().message(
            safeFormat("compiled file left at %s", {pathToUtf8(std::filesystem::absolute(compiled))}),
            kAppName, MessageIcon::kInformation);
    }
    return kExitSuccess;
}

int decompile(const CKsCommandLineInfo& commandLine, const std::filesystem::path& file) {
    std::filesystem::path projectPath;
    ImportSummary summary;
    const HResult hr = DecompileProject(file, pathFromUtf8(commandLine.output), projectPath, &summary);
    if (hr.failed()) {
        uiSink().message(
            safeFormat(Localized("未能反编译文件\n%s\n\n错误 0x%.8x"), {commandLine.fileName, hr.value()}),
            kAppName, MessageIcon::kStop);
        ShowErrorDialog();
        return kExitFailure;
    }
    // One line for all the bit-field bitmaps, after the one box the import showed for the first.
    if (summary.bitFieldBitmaps > 0) {
        uiSink().message(safeFormat(Localized(kBitFieldBitmapsWarning), {summary.bitFieldBitmaps}), {},
                         MessageIcon::kExclamation);
    }
    return kExitSuccess;
}

// Reads and parses one file of /Diff; says on standard error why it cannot.
bool readDiffFile(const std::string& name, std::vector<std::byte>& bytes, PeImage& image) {
    if (HResult hr = ReadWholeFile(pathFromUtf8(name), bytes); hr.failed()) {
        std::string reason = LookupMessageText(hr).text;
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
            reason.pop_back();
        std::fprintf(stderr, "kestrel: /Diff: cannot read '%s' (0x%08X %s)\n", name.c_str(),
                     static_cast<unsigned>(hr.value()), reason.c_str());
        return false;
    }
    if (parsePeImage(asBytes(bytes), image).failed()) {
        std::fprintf(stderr, "kestrel: /Diff: '%s' is not a PE image that can be read\n", name.c_str());
        return false;
    }
    return true;
}

// /Diff: nothing printed and 0 when the files are equal, the differences and 1 otherwise, 2 when a
// file cannot be read.
int diffFiles(const CKsCommandLineInfo& commandLine) {
    const std::string& oldName = commandLine.fileName;
    const std::string& newName = commandLine.extraFileNames.front();
    std::vector<std::byte> oldBytes, newBytes;
    PeImage oldImage, newImage;
    if (!readDiffFile(oldName, oldBytes, oldImage) || !readDiffFile(newName, newBytes, newImage))
        return kExitUsage;
    const PeDiff diff = DiffPeImages(oldImage, newImage);
    for (const auto& [damaged, name] :
         {std::pair{diff.oldResourcesDamaged, &oldName}, {diff.newResourcesDamaged, &newName}}) {
        if (damaged)
            std::fprintf(stderr,
                         "kestrel: /Diff: the resource directory of '%s' is damaged; what cannot be read is "
                         "left out\n",
                         name->c_str());
    }
    const std::string text =
        commandLine.json ? FormatPeDiffJson(diff, oldName, newName) : FormatPeDiffText(diff);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::ferror(stdout) || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kestrel: /Diff: cannot write the differences\n");
        return kExitUsage;
    }
    return diff.empty() ? kExitSuccess : kExitFailure;
}

// /Edit's questions: the value on standard output, or exit 1 with what is missing.
int answerEditQuery(const CKsCommandLineInfo& commandLine, const std::filesystem::path& file) {
    std::optional<std::u16string> value;
    std::string missing;
    HResult hr = kOk;
    if (commandLine.getVersionString) {
        hr = QueryVersionString(file, utf8ToUtf16(*commandLine.getVersionString), value);
        missing = "no version string '" + *commandLine.getVersionString + "'";
    } else {
        const auto id = static_cast<std::uint16_t>(std::stoul(*commandLine.getResourceString));
        hr = QueryResourceString(file, id, value);
        missing = "no string " + std::to_string(id) + " in the string table";
    }
    if (hr.failed()) {
        std::fprintf(stderr, "kestrel: cannot read %s as a PE file (error 0x%.8x)\n",
                     commandLine.fileName.c_str(), static_cast<unsigned>(hr.value()));
        return kExitFailure;
    }
    if (!value) {
        std::fprintf(stderr, "kestrel: %s has %s\n", commandLine.fileName.c_str(), missing.c_str());
        return kExitFailure;
    }
    std::printf("%s\n", utf16ToUtf8(*value).c_str());
    return kExitSuccess;
}

// /ExportPo: the template into /Output: (atomically) or onto standard output; /ImportPo: the target
// language's resources made and compiled. A line on standard error says what was done.
int runTranslationCommand(const CKsCommandLineInfo& commandLine) {
    const std::filesystem::path file = pathFromUtf8(commandLine.fileName);
    std::optional<std::uint16_t> source;
    if (commandLine.sourceLanguage) source = ParseLanguageName(*commandLine.sourceLanguage);
    TranslationSummary summary;
    if (commandLine.exportPo) {
        std::string po;
        HResult hr = ExportTranslationTemplate(file, source, po, &summary);
        if (hr.succeeded() && commandLine.outputGiven) {
            hr = WriteFileAtomic(pathFromUtf8(commandLine.output), std::string_view(po));
            if (hr.failed()) {
                RecordError(true, "ExportPo", __LINE__, hr);
                ReportMessage(false, "ExportPo", __LINE__, "未能写入文件 %s", {commandLine.output});
            }
        } else if (hr.succeeded()) {
            std::fwrite(po.data(), 1, po.size(), stdout);
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
                std::fprintf(stderr, "kestrel: /ExportPo: cannot write the template\n");
                return kExitFailure;
            }
        }
        if (hr.failed()) {
            ShowErrorDialog();
            return kExitFailure;
        }
        std::fprintf(stderr, "kestrel: %zu texts of language %s\n", summary.texts,
                     LanguageCode(summary.sourceLanguage).c_str());
        return kExitSuccess;
    }
    const std::uint16_t language = ParseLanguageName(commandLine.language.value_or("")).value_or(0);
    const std::filesystem::path output =
        commandLine.outputGiven ? pathFromUtf8(commandLine.output) : std::filesystem::path();
    if (ImportTranslations(file, pathFromUtf8(commandLine.extraFileNames.front()), output, language, source,
                           &summary)
            .failed()) {
        ShowErrorDialog();
        return kExitFailure;
    }
    std::fprintf(stderr, "kestrel: %zu of %zu texts translated from %s into %s (%zu resources)\n",
                 summary.translated, summary.texts, LanguageCode(summary.sourceLanguage).c_str(),
                 LanguageCode(language).c_str(), summary.resources);
    return kExitSuccess;
}

}  // namespace

std::array<std::string, 9> errorDialogCaptions() {
    std::array<std::string, 9> captions;
    const std::string_view chinese[] = {"OK", "取消", "终止", "重试", "忽略", "是", "否", "详细", "发送报告"};
    for (std::size_t i = 0; i < captions.size(); ++i)
        captions[i] = std::string(Localized(chinese[i]));
    return captions;
}

std::string programVersionText(std::uint16_t* major, std::uint16_t* minor) {
    FixedFileInfo info;
    const bool read = GetFileVersion("/proc/self/exe", info).succeeded();
    if (major != nullptr) *major = read ? static_cast<std::uint16_t>(info.fileVersionMS & 0xFFFF) : 0;
    if (minor != nullptr) *minor = read ? static_cast<std::uint16_t>(info.fileVersionLS & 0xFFFF) : 0;
    if (!read) return std::string(Localized("无法获取应用的版本。"));
    const double version = info.fileVersionMS * 0.1 + info.fileVersionLS * 0.00001;
    return std::string(Localized("Kestrel Beta 版本 ")) + formatFixed(version);
}

void printUsageError(const std::string& problem) {
    std::fprintf(stderr, "kestrel: %s\n\n%s", problem.c_str(), usageText().c_str());
    std::fflush(stderr);
}

int runFileOperation(const CKsCommandLineInfo& commandLine) {
    const std::filesystem::path file = pathFromUtf8(commandLine.fileName);
    if (commandLine.exportPo || commandLine.importPo) return runTranslationCommand(commandLine);
    if (commandLine.extraction.extract) return runExtractCommand(commandLine);
    if (commandLine.diff) return diffFiles(commandLine);
    if (commandLine.signing.sign) return runSignCommand(commandLine);
    if (commandLine.signing.signature) return runSignatureCommand(commandLine);
    if (commandLine.edit && commandLine.hasQueries()) return answerEditQuery(commandLine, file);
    if (commandLine.edit) return runEditCommand(commandLine);
    return commandLine.compile ? compile(commandLine, file) : decompile(commandLine, file);
}

std::filesystem::path guiProgramPath(const std::filesystem::path& program) {
    const std::filesystem::path folder = program.parent_path();
    for (const std::filesystem::path& candidate :
         {folder / ExecutableFileName(kGuiProgramName),
          folder.parent_path() / "lib" / "kestrel" / ExecutableFileName(kGuiProgramName)}) {
        if (IsExecutableFile(candidate)) return candidate;
    }
    return {};
}

int runCommandLineProgram(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    SetLanguage(programLanguage());
    const CKsCommandLineInfo commandLine = CKsCommandLineInfo::parse(arguments);
    if (commandLine.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitSuccess;
    }
    if (commandLine.version) {
        std::printf("%s\n", programVersionText().c_str());
        return kExitSuccess;
    }
    if (commandLine.isCommandLineOperation()) {
        if (std::string problem = commandLine.usageProblem(); !problem.empty()) {
            printUsageError(problem);
            return kExitUsage;
        }
        InitErrorReporting(errorDialogCaptions(), programVersionText());
        return runFileOperation(commandLine);
    }
    // Without a display the window could not open; say what the program can do instead.
    if (!DesktopAvailable()) {
        printUsageError("no command-line operation given, and no display for the window");
        return kExitUsage;
    }
    const std::filesystem::path self = CurrentProgramPath();
    const std::filesystem::path gui = self.empty() ? std::filesystem::path() : guiProgramPath(self);
    if (gui.empty()) {
        printUsageError("no command-line operation given (the desktop interface, " +
                        std::string(kGuiProgramName) + ", is not installed)");
        return kExitUsage;
    }
    std::vector<std::string> guiArguments{pathToUtf8(gui)};
    for (int i = 1; i < argc; ++i)
        guiArguments.emplace_back(argv[i]);
    ReplaceProcess(gui, guiArguments);
    std::fprintf(stderr, "kestrel: cannot start %s\n", pathToUtf8(gui).c_str());
    return kExitFailure;
}

}  // namespace kestrel
