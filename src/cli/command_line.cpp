#include "cli/command_line.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/pe/manifest_edit.h"
#include "core/pe/translation.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/xml/xml_document.h"

namespace kestrel {

bool stripFlagPrefix(std::string_view argument, std::string_view& name) {
    if (argument.size() >= 2 && argument.substr(0, 2) == "--") {
        name = argument.substr(2);
        return true;
    }
    if (!argument.empty() && (argument[0] == '/' || argument[0] == '-')) {
        name = argument.substr(1);
        return true;
    }
    return false;
}

namespace {

constexpr std::string_view kSetPrefix = "set-";
constexpr std::string_view kGetPrefix = "get-";
constexpr std::string_view kStringLanguageFlag = "string-language";
constexpr std::string_view kManifestFlag = "application-manifest";
// The flags that take a value, as the next argument or after "=".
constexpr std::string_view kValueFlags[] = {"set-icon",
                                            "set-file-version",
                                            "set-product-version",
                                            "set-version-string",
                                            "set-string",
                                            kStringLanguageFlag,
                                            "set-requested-execution-level",
                                            kManifestFlag,
                                            "set-rcdata",
                                            "get-version-string",
                                            "get-resource-string"};

// Decimal, 0 to 65535, nothing else.
std::optional<std::uint16_t> parseStringId(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// A language number: decimal, or hexadecimal after "0x", 0 to 0xFFFF.
std::optional<std::uint16_t> parseLanguage(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint32_t value = 0;
        for (char c : text.substr(2)) {
            const char lower = static_cast<char>(c | 0x20);
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (lower >= 'a' && lower <= 'f') {
                digit = static_cast<std::uint32_t>(lower - 'a' + 10);
            } else {
                return std::nullopt;
            }
            value = value * 16 + digit;
            if (value > 0xFFFF) return std::nullopt;
        }
        return static_cast<std::uint16_t>(value);
    }
    return parseStringId(text);
}

// "left=right" split at the first "="; nullopt without one.
std::optional<std::pair<std::string_view, std::string_view>> splitAssignment(std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return std::pair{text.substr(0, equals), text.substr(equals + 1)};
}

// A regular file that can be opened; it may be empty.
bool isOpenableFile(const std::string& name) {
    const std::filesystem::path path = pathFromUtf8(name);
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && std::ifstream(path, std::ios::binary).good();
}

// Our XML engine reads the file and its elements nest as they must.
bool isWellFormedXmlFile(const std::string& name) {
    const std::filesystem::path path = pathFromUtf8(name);
    XmlDocument document;
    std::vector<std::byte> bytes;
    if (document.LoadFile(path).failed() || !document.documentNode()->next() ||
        ReadWholeFile(path, bytes).failed())
        return false;
    std::string text(bytes.size(), '\0');
    std::transform(bytes.begin(), bytes.end(), text.begin(),
                   [](std::byte b) { return static_cast<char>(b); });
    return HasWellFormedMarkup(text);
}

bool isReadableFile(const std::string& name) {
    const std::filesystem::path path = pathFromUtf8(name);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    std::ifstream stream(path, std::ios::binary);
    return stream.good() && stream.peek() != std::ifstream::traits_type::eof();
}

}  // namespace

std::optional<std::uint16_t> parseLanguageNumber(std::string_view text) {
    return parseLanguage(text);
}

void CKsCommandLineInfo::ParseParam(std::string_view argument, bool isLast) {
    if (!pendingSetFlag_.empty()) {
        const std::string flag = std::move(pendingSetFlag_);
        pendingSetFlag_.clear();
        ParseParam("--" + flag + "=" + std::string(argument), isLast);
        return;
    }
    if (parseTranslationParam(argument, isLast)) return;
    if (parseSignatureParam(argument, isLast)) return;
    if (parseExtractParam(argument, isLast)) return;
    std::string_view name;
    bool recognised = false;
    if (stripFlagPrefix(argument, name)) {
        recognised = true;
        const std::size_t equals = name.find('=');
        const std::string_view flag = name.substr(0, equals);
        if (istartsWithAscii(name, kSetPrefix) || istartsWithAscii(name, kGetPrefix) ||
            iequalsAscii(flag, kStringLanguageFlag) || iequalsAscii(flag, kManifestFlag)) {
            const bool known =
                std::any_of(std::begin(kValueFlags), std::end(kValueFlags),
                            [&](std::string_view candidate) { return iequalsAscii(flag, candidate); });
            if (!known) {
                unknownFlags.emplace_back(argument);
            } else if (equals == std::string_view::npos) {
                pendingSetFlag_ = toLowerAscii(flag);
                if (isLast) flagWithoutValue = std::string(argument);
            } else {
                setValue(toLowerAscii(flag), std::string(name.substr(equals + 1)));
            }
            if (isLast && !fileName.empty()) shellCommand = ShellCommand::kFileOpen;
            return;
        }
        if (iequalsAscii(name, "Compile")) {
            compile = true;
        } else if (iequalsAscii(name, "Decompile")) {
            decompile = true;
        } else if (iequalsAscii(name, "Edit")) {
            edit = true;
        } else if (iequalsAscii(name, "Diff")) {
            diff = true;
        } else if (iequalsAscii(name, "json")) {
            json = true;
        } else if (istartsWithAscii(name, "Output:") || istartsWithAscii(name, "output=")) {
            outputGiven = true;
            output = std::string(name.substr(7));
        } else if (iequalsAscii(name, "help")) {
            help = true;
        } else if (iequalsAscii(name, "version")) {
            version = true;
        } else {
            recognised = false;
            if (argument.substr(0, 2) == "--") unknownFlags.emplace_back(argument);
        }
    }
    if (!recognised) {
        if (fileName.empty()) {
            fileName = std::string(argument);
        } else {
            extraFileNames.emplace_back(argument);
        }
    }
    if (isLast && !fileName.empty()) shellCommand = ShellCommand::kFileOpen;
}

CKsCommandLineInfo CKsCommandLineInfo::parse(const std::vector<std::string>& arguments) {
    CKsCommandLineInfo info;
    for (std::size_t i = 0; i < arguments.size(); ++i)
        info.ParseParam(arguments[i], i + 1 == arguments.size());
    return info;
}

void CKsCommandLineInfo::setValue(const std::string& flag, std::string value) {
    if (flag == "set-icon") {
        setIcon = std::move(value);
    } else if (flag == "set-file-version") {
        setFileVersion = std::move(value);
    } else if (flag == "set-product-version") {
        setProductVersion = std::move(value);
    } else if (flag == "set-version-string") {
        setVersionStrings.push_back(std::move(value));
    } else if (flag == kStringLanguageFlag) {
        stringLanguage = std::move(value);
    } else if (flag == "set-requested-execution-level") {
        setExecutionLevel = std::move(value);
    } else if (flag == kManifestFlag) {
        applicationManifest = std::move(value);
    } else if (flag == "set-rcdata") {
        setRcData.push_back(std::move(value));
    } else if (flag == "get-version-string") {
        getVersionString = std::move(value);
    } else if (flag == "get-resource-string") {
        getResourceString = std::move(value);
    } else {
        setStrings.push_back(std::move(value));
    }
}

std::string CKsCommandLineInfo::editUsageProblem() const {
    if (compile || decompile) return "/Edit cannot be combined with /Compile or /Decompile";
    if (std::string problem = signatureUsageProblem(); !problem.empty()) return problem;
    if (!unknownFlags.empty()) return "unknown flag: " + unknownFlags.front();
    if (!flagWithoutValue.empty()) return flagWithoutValue + " needs a value";
    if (fileName.empty()) return "/Edit needs a file name";
    if (!extraFileNames.empty()) return "more than one file name: " + extraFileNames.front();
    if (hasQueries()) return queryUsageProblem();
    if (stringLanguage && setStrings.empty()) return "--string-language needs at least one --set-string";
    if (!hasSetFlags() && !signing.stripSignature && !signing.signingRequested())
        return "/Edit needs at least one --set-... flag (or one --get-... flag), --strip-signature or a "
               "signing "
               "option";
    if (outputGiven && output.empty()) return "/Output: needs a path";
    const std::pair<const char*, const std::optional<std::string>*> versions[] = {
        {"--set-file-version", &setFileVersion}, {"--set-product-version", &setProductVersion}};
    for (const auto& [flag, text] : versions) {
        if (*text && !ParseVersionText(**text))
            return std::string(flag) + ": '" + **text +
                   "' is not a version (1 to 4 numbers from 0 to 65535 separated by dots)";
    }
    if (setIcon && !isReadableFile(*setIcon))
        return "--set-icon: cannot read the icon file '" + *setIcon + "'";
    for (const std::string& assignment : setVersionStrings) {
        auto parts = splitAssignment(assignment);
        if (!parts || parts->first.empty())
            return "--set-version-string: '" + assignment + "' is not <Key>=<Value> with a non-empty key";
    }
    for (const std::string& assignment : setStrings) {
        auto parts = splitAssignment(assignment);
        if (!parts || !parseStringId(parts->first))
            return "--set-string: '" + assignment + "' is not <id>=<text> with an id from 0 to 65535";
    }
    if (stringLanguage && !parseLanguage(*stringLanguage))
        return "--string-language: '" + *stringLanguage +
               "' is not a language number (0 to 65535, decimal or 0x followed by hexadecimal digits)";
    return manifestAndDataUsageProblem();
}

std::string CKsCommandLineInfo::manifestAndDataUsageProblem() const {
    if (setExecutionLevel && applicationManifest)
        return "--set-requested-execution-level cannot be combined with --application-manifest (put the "
               "level into the manifest file)";
    if (setExecutionLevel && !IsExecutionLevel(*setExecutionLevel))
        return "--set-requested-execution-level: '" + *setExecutionLevel +
               "' is not asInvoker, highestAvailable or requireAdministrator";
    if (applicationManifest) {
        if (!isReadableFile(*applicationManifest))
            return "--application-manifest: cannot read the manifest file '" + *applicationManifest + "'";
        if (!isWellFormedXmlFile(*applicationManifest))
            return "--application-manifest: '" + *applicationManifest + "' is not well-formed XML";
    }
    for (const std::string& assignment : setRcData) {
        auto parts = splitAssignment(assignment);
        if (!parts || !parseStringId(parts->first) || parts->second.empty())
            return "--set-rcdata: '" + assignment + "' is not <id>=<file> with an id from 0 to 65535";
        if (!isOpenableFile(std::string(parts->second)))
            return "--set-rcdata: cannot read the file '" + std::string(parts->second) + "'";
    }
    return {};
}

std::string CKsCommandLineInfo::queryUsageProblem() const {
    if (hasSetFlags() || stringLanguage)
        return "--get-... flags cannot be combined with changes (--set-..., --application-manifest, "
               "--string-language)";
    if (getVersionString && getResourceString) return "only one --get-... flag at a time";
    if (outputGiven) return "--get-... flags write nothing: /Output: has no use with them";
    if (getVersionString && getVersionString->empty()) return "--get-version-string needs a key";
    if (getResourceString && !parseStringId(*getResourceString))
        return "--get-resource-string: '" + *getResourceString + "' is not an id from 0 to 65535";
    return {};
}

std::string CKsCommandLineInfo::diffUsageProblem() const {
    if (!diff) return "--json needs /Diff";
    if (compile || decompile || edit) return "/Diff cannot be combined with /Compile, /Decompile or /Edit";
    if (hasSetFlags() || stringLanguage) return "/Diff takes no --set-... or --string-language flags";
    if (outputGiven) return "/Diff takes no /Output:";
    if (!unknownFlags.empty()) return "unknown flag: " + unknownFlags.front();
    if (fileName.empty() || extraFileNames.empty()) return "/Diff needs two file names";
    if (extraFileNames.size() > 1) return "more than two file names: " + extraFileNames[1];
    return {};
}

bool CKsCommandLineInfo::parseTranslationParam(std::string_view argument, bool isLast) {
    if (!pendingTranslationFlag_.empty()) {
        (pendingTranslationFlag_ == "language" ? language : sourceLanguage) = std::string(argument);
        pendingTranslationFlag_.clear();
        flagWithoutValue.clear();
        if (isLast && !fileName.empty()) shellCommand = ShellCommand::kFileOpen;
        return true;
    }
    std::string_view name;
    if (!stripFlagPrefix(argument, name)) return false;
    if (iequalsAscii(name, "ExportPo")) {
        exportPo = true;
    } else if (iequalsAscii(name, "ImportPo")) {
        importPo = true;
    } else {
        const std::size_t equals = name.find('=');
        const std::string_view flag = name.substr(0, equals);
        if (!iequalsAscii(flag, "language") && !iequalsAscii(flag, "source-language")) return false;
        const std::string key = toLowerAscii(flag);
        if (equals != std::string_view::npos) {
            (key == "language" ? language : sourceLanguage) = std::string(name.substr(equals + 1));
        } else {
            pendingTranslationFlag_ = key;
            if (isLast) flagWithoutValue = std::string(argument);
        }
    }
    if (isLast && !fileName.empty()) shellCommand = ShellCommand::kFileOpen;
    return true;
}

std::string CKsCommandLineInfo::translationUsageProblem() const {
    if (!exportPo && !importPo)
        return "--language and --source-language need /ExportPo or /ImportPo (--language also /Extract)";
    if (exportPo && importPo) return "/ExportPo and /ImportPo cannot be combined";
    const char* operation = exportPo ? "/ExportPo" : "/ImportPo";
    if (compile || decompile || edit || diff || json || signing.any() || hasSetFlags() || hasQueries() ||
        stringLanguage)
        return std::string(operation) + " cannot be combined with other operations";
    if (!unknownFlags.empty()) return "unknown flag: " + unknownFlags.front();
    if (!flagWithoutValue.empty()) return flagWithoutValue + " needs a value";
    if (outputGiven && output.empty()) return "/Output: needs a path";
    if (fileName.empty()) return std::string(operation) + " needs a PE file or project";
    const std::size_t files = exportPo ? 0 : 1;
    if (extraFileNames.size() < files) return "/ImportPo needs the PO file after the PE file or project";
    if (extraFileNames.size() > files) return "too many file names: " + extraFileNames[files];
    if (exportPo && language) return "/ExportPo takes --source-language, not --language";
    if (importPo && !language) return "/ImportPo needs --language <lang>";
    for (const auto& [flag, value] :
         {std::pair{"--language", &language}, {"--source-language", &sourceLanguage}}) {
        if (*value && !ParseLanguageName(**value))
            return std::string(flag) + ": '" + **value +
                   "' is not a language (a number such as 0x407, or a locale name such as de, de_DE, pt-BR)";
    }
    if (importPo && language && sourceLanguage &&
        ParseLanguageName(*language) == ParseLanguageName(*sourceLanguage))
        return "--language and --source-language name the same language";
    return {};
}

std::string CKsCommandLineInfo::usageProblem() const {
    if (extraction.extract || extraction.type || extraction.name) return extractUsageProblem();
    if (exportPo || importPo || language || sourceLanguage) return translationUsageProblem();
    if (diff || json) return diffUsageProblem();
    if (edit) return editUsageProblem();
    if (signing.any()) return signatureUsageProblem();
    if (!compile && !decompile)
        return hasSetFlags() || hasQueries() ? "--set-... and --get-... flags need /Edit"
                                             : "--string-language needs /Edit";
    const char* operation = compile ? "/Compile" : "/Decompile";
    if (fileName.empty()) return std::string(operation) + " needs a file name";
    if (!extraFileNames.empty()) return "more than one file name: " + extraFileNames.front();
    if (!outputGiven || output.empty()) return std::string(operation) + " needs /Output:<path>";
    return {};
}

ResourceEdits CKsCommandLineInfo::resourceEdits() const {
    ResourceEdits edits;
    if (setIcon) edits.iconFile = pathFromUtf8(*setIcon);
    auto versionEdit = [](const std::optional<std::string>& text) -> std::optional<VersionEdit> {
        if (!text) return std::nullopt;
        auto number = ParseVersionText(*text);
        if (!number) return std::nullopt;
        return VersionEdit{*number, *text};
    };
    edits.fileVersion = versionEdit(setFileVersion);
    edits.productVersion = versionEdit(setProductVersion);
    for (const std::string& assignment : setVersionStrings) {
        if (auto parts = splitAssignment(assignment))
            edits.versionStrings.emplace_back(utf8ToUtf16(parts->first), utf8ToUtf16(parts->second));
    }
    for (const std::string& assignment : setStrings) {
        auto parts = splitAssignment(assignment);
        auto id = parts ? parseStringId(parts->first) : std::nullopt;
        if (id) edits.strings.emplace_back(*id, utf8ToUtf16(parts->second));
    }
    if (stringLanguage) edits.stringLanguage = parseLanguage(*stringLanguage);
    edits.executionLevel = setExecutionLevel;
    if (applicationManifest) edits.manifestFile = pathFromUtf8(*applicationManifest);
    for (const std::string& assignment : setRcData) {
        auto parts = splitAssignment(assignment);
        auto id = parts ? parseStringId(parts->first) : std::nullopt;
        if (id) edits.rcData.emplace_back(*id, pathFromUtf8(std::string(parts->second)));
    }
    return edits;
}

std::string translationUsageText() {
    return "  kestrel /ExportPo [/Output:<file.pot>] <file or project> [--source-language <lang>]\n"
           "      write a gettext template of the texts of one language: string tables, dialog\n"
           "      captions and control texts, menu items, message tables and the version strings\n"
           "      FileDescription, ProductName, LegalCopyright and Comments (without /Output: on\n"
           "      standard output). The source language is 0x409 when the file has texts in it,\n"
           "      else its lowest language with texts\n"
           "  kestrel /ImportPo [/Output:<new file>] <file or project> <file.po> --language <lang>\n"
           "                   [--source-language <lang>]\n"
           "      make (or replace) the resources of language <lang> from those of the source\n"
           "      language with the texts <file.po> translates (untranslated and fuzzy entries keep\n"
           "      the source text); the source's resources keep their bytes. Without /Output: <file>\n"
           "      is replaced (atomically); a project (its folder, pe.xml or .kestrel file) is changed\n"
           "      where it is and, with /Output:, compiled into that file.\n"
           "      <lang> is a number (0x407, 1031) or a locale name (de, de_DE, pt-BR)\n";
}

std::string usageText() {
    return "Usage:\n"
           "  kestrel /Decompile /Output:<folder> <file>\n"
           "      import the PE file <file> into the working folder <folder>\n"
           "  kestrel /Compile /Output:<folder> <file>\n"
           "      compile <folder>/pe.xml into <folder>/<file name of file> and offer to copy it over "
           "<file>\n"
           "      (/Output: may also name the pe.xml file itself)\n"
           "  kestrel /Edit [/Output:<new file>] <file> --set-... <value> [--set-... <value> ...]\n"
           "      change resources of <file> in one step; without /Output: <file> is replaced\n"
           "      (atomically: a failure leaves it as it was), with it the result is written there\n"
           "      --set-icon <file.ico or .png>    the images of the first icon group (every language;\n"
           "                                       a square PNG is made into 256, 64, 48, 40, 32, 24,\n"
           "                                       20 and 16 pixels);\n"
           "                                       a file without icons gets icon group 1\n"
           "      --set-file-version <a.b.c.d>     the file version number and the FileVersion string\n"
           "      --set-product-version <a.b.c.d>  the product version number and the ProductVersion string\n"
           "                                       (1 to 4 numbers 0-65535, missing parts 0; the string,\n"
           "                                       set to the text as given, only where the file has it)\n"
           "      --set-version-string <Key>=<Value>  a string of the version resource (repeatable;\n"
           "                                       applied after the two above)\n"
           "      --set-string <id>=<text>         string-table entry <id> (0-65535, repeatable;\n"
           "                                       an empty text removes it)\n"
           "      --string-language <number>       the language of every --set-string (decimal or\n"
           "                                       0x-hex, 0-65535); a new language gets new blocks\n"
           "      --set-requested-execution-level asInvoker|highestAvailable|requireAdministrator\n"
           "                                       the level in the application manifest (ID 1, else\n"
           "                                       the first; every language), nothing else of its text\n"
           "                                       changes; a file without a manifest gets a minimal one\n"
           "      --application-manifest <file>    manifest ID 1 (every language) takes the file, which\n"
           "                                       must be well-formed XML\n"
           "      --set-rcdata <id>=<file>         RCDATA <id> (0-65535, every language; repeatable)\n"
           "                                       takes the file's bytes; added when missing\n"
           "      --get-version-string <Key>       print a string of the version resource's first table\n"
           "      --get-resource-string <id>       print string-table entry <id> in the file's string\n"
           "                                       language; a question changes nothing, stands alone,\n"
           "                                       and exits 1 when the value is missing\n"
           "      The version flags change every language and every string table of the version\n"
           "      resource. A file without one gets one (ID 1). New resources and strings take\n"
           "      the language of the version resource, else of the first resource, else 0x409;\n"
           "      without --string-language, strings of an existing table go into the language of\n"
           "      its first block.\n" +
           translationUsageText() +
           "  kestrel /Diff <old file> <new file> [--json]\n"
           "      compare two PE files: one line per resource added, removed or changed (with the\n"
           "      strings that differ in string tables and version blocks), per section whose header\n"
           "      or bytes differ, per header field that differs, and for the overlay and the\n"
           "      certificate table; --json prints the same as one JSON document. Exit status 0\n"
           "      when the files are equal, 1 when they differ, 2 on a usage error or an unreadable file\n" +
           signatureUsageText() + extractUsageText() +
           "  kestrel --help | --version\n"
           "Flags are recognised case-insensitively after /, - or --; --output=<path> equals "
           "/Output:<path>, and --set-x=<value> equals --set-x <value>.\n"
           "Exit status: 0 success, 1 failure (reported on standard error), 2 usage error.\n";
}

}  // namespace kestrel
