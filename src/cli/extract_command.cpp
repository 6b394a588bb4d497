#include "cli/extract_command.h"

#include <algorithm>
#include <cstdio>

#include "cli/cli_program.h"

#include "core/errors/errors.h"
#include "core/pe/pe_image.h"
#include "core/pe/resource_export.h"
#include "core/pe/translation.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

constexpr std::string_view kExtractValueFlags[] = {"type", "name"};

}  // namespace

bool CKsCommandLineInfo::parseExtractParam(std::string_view argument, bool isLast) {
    if (!pendingExtractFlag_.empty()) {
        const std::string flag = std::move(pendingExtractFlag_);
        pendingExtractFlag_.clear();
        return parseExtractParam("--" + flag + "=" + std::string(argument), isLast);
    }
    std::string_view name;
    if (!stripFlagPrefix(argument, name)) return false;
    if (iequalsAscii(name, "Extract")) {
        extraction.extract = true;
    } else {
        const std::size_t equals = name.find('=');
        const std::string_view flag = name.substr(0, equals);
        const auto known =
            std::find_if(std::begin(kExtractValueFlags), std::end(kExtractValueFlags),
                         [&](std::string_view candidate) { return iequalsAscii(flag, candidate); });
        if (known == std::end(kExtractValueFlags)) return false;
        if (equals == std::string_view::npos) {
            pendingExtractFlag_ = std::string(*known);
            if (isLast) extraction.flagWithoutValue = std::string(argument);
            return true;
        }
        std::string value(name.substr(equals + 1));
        if (*known == "type") {
            extraction.type = std::move(value);
        } else {
            extraction.name = std::move(value);
        }
    }
    if (isLast && !fileName.empty()) shellCommand = ShellCommand::kFileOpen;
    return true;
}

std::string CKsCommandLineInfo::extractUsageProblem() const {
    if (!extraction.extract) return "--type, --name and --language need /Extract";
    if (compile || decompile || edit || diff || json || signing.any())
        return "/Extract cannot be combined with /Compile, /Decompile, /Edit, /Diff or signing";
    if (hasSetFlags() || hasQueries() || stringLanguage)
        return "/Extract takes no --set-... or --get-... flags";
    if (!unknownFlags.empty()) return "unknown flag: " + unknownFlags.front();
    if (!extraction.flagWithoutValue.empty()) return extraction.flagWithoutValue + " needs a value";
    if (fileName.empty()) return "/Extract needs a file name";
    if (!extraFileNames.empty()) return "more than one file name: " + extraFileNames.front();
    if (outputGiven && output.empty()) return "/Output: needs a folder";
    if (extraction.type && !ParseResourceType(*extraction.type))
        return "--type: '" + *extraction.type + "' is not a type (a number from 0 to 65535 or a name)";
    if (extraction.name && extraction.name->empty()) return "--name needs a name or an ID";
    // --language is shared with the translation commands, which parse it.
    if (exportPo || importPo || sourceLanguage)
        return "/Extract cannot be combined with /ExportPo, /ImportPo or --source-language";
    if (language && !ParseLanguageName(*language))
        return "--language: '" + *language +
               "' is not a language (a number such as 0x407, or a locale name such as de, de_DE, pt-BR)";
    return {};
}

std::string extractUsageText() {
    return "  kestrel /Extract [/Output:<folder>] <file> [--type <type>] [--name <name>] [--language "
           "<lang>]\n"
           "      save resources of <file> as files in <folder> (default: the current folder), named\n"
           "      <type>_<name>_<language>.<extension>: icon and cursor groups as .ico/.cur files\n"
           "      with their images (one file per group and language), bitmaps as .bmp, dialogs,\n"
           "      menus and accelerators as .rc scripts, message tables as .mc, manifests as\n"
           "      .manifest, other data by its content (.png, .gif, .avi, ...) or as .bin;\n"
           "      --type takes a number (14) or a usual name (GROUP_ICON, ICON, BITMAP, RCDATA, ...),\n"
           "      --name an ID or a name, --language a number (0x409) or a locale name (en_US); without them "
           "every\n"
           "      resource is saved (member icons and cursors inside their groups' files)\n";
}

int runExtractCommand(const CKsCommandLineInfo& commandLine) {
    const ExtractArguments& arguments = commandLine.extraction;
    ExportSelection selection;
    if (arguments.type) selection.type = ParseResourceType(*arguments.type);
    if (arguments.name) selection.name = ParseResourceName(*arguments.name);
    if (commandLine.language) selection.language = ParseLanguageName(*commandLine.language);

    LoadedResources resources;
    if (HResult hr = ReadWholeFile(pathFromUtf8(commandLine.fileName), resources.bytes); hr.failed()) {
        std::fprintf(stderr, "kestrel: /Extract: cannot read '%s' (error 0x%08X)\n",
                     commandLine.fileName.c_str(), static_cast<unsigned>(hr.value()));
        return kExitFailure;
    }
    PeImage image;
    std::string reason;
    if (parsePeImage(asBytes(resources.bytes), image, &reason).failed()) {
        std::fprintf(stderr, "kestrel: /Extract: '%s' is not a PE file that can be read%s%s\n",
                     commandLine.fileName.c_str(), reason.empty() ? "" : ": ", reason.c_str());
        return kExitFailure;
    }
    if (resources.lookup.open(asBytes(resources.bytes)).failed()) {
        std::fprintf(stderr, "kestrel: /Extract: '%s' has no resources\n", commandLine.fileName.c_str());
        return kExitFailure;
    }
    const std::filesystem::path folder = commandLine.outputGiven ? pathFromUtf8(commandLine.output) : ".";
    ExportSummary summary;
    if (ExportResources(resources.lookup, selection, folder, summary).failed()) {
        ShowErrorDialog();
        return kExitFailure;
    }
    for (const std::filesystem::path& written : summary.written)
        std::printf("%s\n", pathToUtf8(written).c_str());
    for (const std::string& problem : summary.problems)
        std::fprintf(stderr, "kestrel: /Extract: %s\n", problem.c_str());
    if (summary.written.empty() && summary.problems.empty()) {
        std::fprintf(stderr, "kestrel: /Extract: no resource of '%s' matches\n",
                     commandLine.fileName.c_str());
        return kExitFailure;
    }
    return summary.problems.empty() ? kExitSuccess : kExitFailure;
}

}  // namespace kestrel
