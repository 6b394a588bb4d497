// The program's command line: flags by name (case-insensitive, after a leading "/", "-" or "--"),
// the values of /Edit's "--set-..." flags and --string-language, and one file name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/one_shot_edit.h"

namespace kestrel {

// /Sign, /Signature and the signature flags, as typed. /Edit takes the same signing flags and
// --strip-signature / --keep-signature.
struct SignatureArguments {
    bool sign = false;       // /Sign
    bool signature = false;  // /Signature
    bool stripSignature = false;
    bool keepSignature = false;
    std::optional<std::string> pkcs12;
    std::optional<std::string> passwordFile;  // "-": standard input
    std::optional<std::string> certificate;   // --cert
    std::optional<std::string> key;
    std::optional<std::string> chain;
    std::optional<std::string> digest;
    std::optional<std::string> description;
    std::optional<std::string> url;
    std::optional<std::string> timestamp;
    std::optional<std::string> ca;
    std::string flagWithoutValue;  // a value flag that was the last argument

    bool signingRequested() const { return pkcs12 || certificate || key; }
    bool hasSigningFlags() const {
        return signingRequested() || passwordFile || chain || digest || description || url || timestamp;
    }
    bool any() const {
        return sign || signature || stripSignature || keepSignature || hasSigningFlags() || ca;
    }
};

// /Extract and its selection, as typed.
struct ExtractArguments {
    bool extract = false;
    std::optional<std::string> type;
    std::optional<std::string> name;
    std::string flagWithoutValue;  // --type or --name as the last argument
};

struct CKsCommandLineInfo {
    enum class ShellCommand { kFileNew, kFileOpen };

    ShellCommand shellCommand = ShellCommand::kFileNew;
    std::string fileName;
    std::vector<std::string> extraFileNames;  // file names after the first

    bool compile = false;
    bool decompile = false;
    bool outputGiven = false;
    std::string output;
    bool help = false;
    bool version = false;

    // /Edit and its changes, as typed; usageProblem() checks them and resourceEdits() converts them.
    bool edit = false;
    std::optional<std::string> setIcon;
    std::optional<std::string> setFileVersion;
    std::optional<std::string> setProductVersion;
    std::vector<std::string> setVersionStrings;  // "Key=Value"
    std::vector<std::string> setStrings;         // "<id>=<text>"
    std::optional<std::string> stringLanguage;   // the language of every --set-string
    std::optional<std::string> setExecutionLevel;
    std::optional<std::string> applicationManifest;
    std::vector<std::string> setRcData;  // "<id>=<file>"
    // /Edit's questions: one at a time, never with changes.
    std::optional<std::string> getVersionString;
    std::optional<std::string> getResourceString;
    std::vector<std::string> unknownFlags;  // "--x" and "set-x" flags nobody knows
    std::string flagWithoutValue;           // a --set-x flag that was the last argument

    // /ExportPo <file> and /ImportPo <file> <file.po>, with --language and --source-language as typed.
    bool exportPo = false;
    bool importPo = false;
    std::optional<std::string> language;
    std::optional<std::string> sourceLanguage;

    // /Diff <old> <new> [--json]: the two files are fileName and extraFileNames[0].
    bool diff = false;
    bool json = false;
    SignatureArguments signing;
    ExtractArguments extraction;

    // Takes one argument as typed. "Compile", "Decompile", "Edit", "Output:<path>", "output=<path>",
    // "help", "version", "Diff", "json", "string-language", "application-manifest" and the "set-..." and
    // "get-..." flags after a leading "/", "-" or "--" are flags; every other argument, including one that
    // starts with "/", is a file name. A "set-..." or "get-..." flag, "string-language" and
    // "application-manifest" take the next argument as their value, or the text after
    // "=" ("--set-icon=a.ico"). After the last argument a file name turns the shell command into
    // "open".
    void ParseParam(std::string_view argument, bool isLast);

    // Parses every argument (program name excluded).
    static CKsCommandLineInfo parse(const std::vector<std::string>& arguments);

    // A "set-..." flag or --string-language without /Edit counts as well: it must be refused, not
    // open a window.
    bool isCommandLineOperation() const {
        return compile || decompile || edit || diff || json || exportPo || importPo || language ||
               sourceLanguage || hasSetFlags() || hasQueries() || stringLanguage.has_value() ||
               signing.any() || extraction.extract || extraction.type || extraction.name;
    }
    bool hasSetFlags() const {
        return setIcon || setFileVersion || setProductVersion || !setVersionStrings.empty() ||
               !setStrings.empty() || setExecutionLevel || applicationManifest || !setRcData.empty();
    }
    bool hasQueries() const { return getVersionString || getResourceString; }

    // For a command-line operation: an empty text when it can run, otherwise what is wrong with it.
    // For /Edit this checks every value and that the icon file can be read.
    std::string usageProblem() const;

    // The changes /Edit asks for; only meaningful when usageProblem() is empty.
    ResourceEdits resourceEdits() const;

  private:
    void setValue(const std::string& flag, std::string value);
    std::string editUsageProblem() const;
    std::string diffUsageProblem() const;
    std::string translationUsageProblem() const;
    // /ExportPo, /ImportPo, --language and --source-language: true when `argument` was one of them
    // (or the value of one).
    bool parseTranslationParam(std::string_view argument, bool isLast);
    std::string queryUsageProblem() const;
    std::string manifestAndDataUsageProblem() const;
    // The signature flags: true when `argument` was one of them (or the value of one).
    bool parseSignatureParam(std::string_view argument, bool isLast);
    // What is wrong with /Sign, /Signature or the signature flags of /Edit; empty when nothing.
    std::string signatureUsageProblem() const;
    // /Extract and its selection flags: true when `argument` was one of them (or the value of one).
    bool parseExtractParam(std::string_view argument, bool isLast);
    // What is wrong with /Extract; empty when nothing.
    std::string extractUsageProblem() const;

    std::string pendingSetFlag_;          // a "set-..." flag waiting for the next argument
    std::string pendingSignatureFlag_;    // a signature flag waiting for its value
    std::string pendingTranslationFlag_;  // --language or --source-language waiting for its value
    std::string pendingExtractFlag_;      // --type or --name waiting for its value
};

// A flag's name without its leading "--", "/" or "-"; false when the argument has none of them.
bool stripFlagPrefix(std::string_view argument, std::string_view& name);

// A language number as typed: decimal, or hexadecimal after "0x", 0 to 0xFFFF.
std::optional<std::uint16_t> parseLanguageNumber(std::string_view text);

// The usage text printed by --help and with usage errors.
std::string usageText();
// Its part on /ExportPo and /ImportPo.
std::string translationUsageText();
// Its part on /Sign, /Signature and the signature flags of /Edit.
std::string signatureUsageText();
// Its part on /Extract.
std::string extractUsageText();

}  // namespace kestrel
