#include "cli/signature_command.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <system_error>

#include "cli/cli_program.h"
#include "core/errors/errors.h"
#include "core/pe/certificate_table.h"
#include "core/pe/one_shot_edit.h"
#include "core/pe/pe_image.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/system.h"
#include "core/sign/authenticode.h"

namespace kestrel {

namespace fs = std::filesystem;

namespace {

// The flags that take a value, as the next argument or after "=".
constexpr std::string_view kSignatureValueFlags[] = {"pkcs12", "password-file", "cert", "key",       "chain",
                                                     "digest", "description",   "url",  "timestamp", "ca"};

bool readableFile(const std::string& name) {
    std::error_code error;
    const fs::path path = pathFromUtf8(name);
    if (!fs::is_regular_file(path, error)) return false;
    std::ifstream stream(path, std::ios::binary);
    return stream.good();
}

void printError(const std::string& text) {
    std::fprintf(stderr, "kestrel: %s\n", text.c_str());
    std::fflush(stderr);
}

void printNote(const std::string& text) {
    std::fprintf(stderr, "kestrel: note: %s\n", text.c_str());
    std::fflush(stderr);
}

// The first line of the password file, or of standard input for "-"; empty without --password-file.
bool readPassword(const SignatureArguments& arguments, std::string& password) {
    password.clear();
    if (!arguments.passwordFile) return true;
    if (*arguments.passwordFile == "-") {
        std::getline(std::cin, password);
    } else {
        std::ifstream stream(pathFromUtf8(*arguments.passwordFile), std::ios::binary);
        if (!stream.good()) {
            printError("cannot read the password file '" + *arguments.passwordFile + "'");
            return false;
        }
        std::getline(stream, password);
    }
    while (!password.empty() && (password.back() == '\r' || password.back() == '\n'))
        password.pop_back();
    return true;
}

bool signingOptions(const SignatureArguments& arguments, SigningOptions& options) {
    SigningCredentials& credentials = options.credentials;
    if (arguments.pkcs12) credentials.pkcs12 = pathFromUtf8(*arguments.pkcs12);
    if (arguments.certificate) credentials.certificate = pathFromUtf8(*arguments.certificate);
    if (arguments.key) credentials.key = pathFromUtf8(*arguments.key);
    if (arguments.chain) credentials.chain = pathFromUtf8(*arguments.chain);
    if (arguments.digest)
        options.digest = parseDigestAlgorithm(*arguments.digest).value_or(DigestAlgorithm::kSha256);
    options.description = arguments.description.value_or("");
    options.url = arguments.url.value_or("");
    options.timestampUrl = arguments.timestamp.value_or("");
    return readPassword(arguments, credentials.password);
}

// Where the result goes: /Output: (a folder receives the file under its own name), else the file.
fs::path destinationOf(const CKsCommandLineInfo& commandLine, const fs::path& file) {
    if (!commandLine.outputGiven) return file;
    fs::path destination = pathFromUtf8(commandLine.output);
    std::error_code error;
    if (fs::is_directory(destination, error)) destination /= file.filename();
    return destination;
}

// Signs or strips `image` as the arguments ask. Returns false after printing why it failed.
bool applySignatureChoice(const CKsCommandLineInfo& commandLine, const std::string& shownName,
                          std::vector<std::byte>& image) {
    const SignatureArguments& arguments = commandLine.signing;
    if (arguments.signingRequested()) {
        SigningOptions options;
        if (!signingOptions(arguments, options)) return false;
        SignOutcome outcome;
        std::string error;
        if (signImage(image, options, outcome, error).failed()) {
            printError("cannot sign '" + shownName + "': " + error);
            return false;
        }
        if (outcome.replacedSignature)
            printNote("the existing signature of '" + shownName + "' was replaced");
        return true;
    }
    if (arguments.stripSignature) {
        bool zeroedInPlace = false;
        const HResult stripped = stripCertificateTable(image, zeroedInPlace);
        if (stripped.failed()) {
            printError("cannot remove the signature of '" + shownName +
                       "': not a PE image with a certificate directory, or its table lies outside the file");
            return false;
        }
        if (zeroedInPlace)
            printNote("data follows the certificate table of '" + shownName +
                      "', so the table was zeroed in place instead of removed");
    }
    return true;
}

int writeResult(const fs::path& destination, const std::vector<std::byte>& image) {
    if (WriteFileAtomic(destination, asBytes(image)).failed()) {
        ShowErrorDialog();
        return kExitFailure;
    }
    return kExitSuccess;
}

// The DOS header and the NT headers (up to the largest optional header) of `file`: all that the
// signature check reads.
bool readNtHeaders(const fs::path& file, PartialFileImage& image) {
    constexpr std::uint64_t kFirstBytes = 4096;
    constexpr std::uint64_t kLargestNtHeaders = 4 + 20 + 0xFFFF;
    if (image.open(file).failed()) return false;
    const std::uint64_t size = image.bytes().size();
    if (image.load(0, std::min(size, kFirstBytes)).failed()) return false;
    std::int32_t peHeader = 0;
    if (readPeHeaderOffset(image.bytes(), peHeader).failed() || peHeader <= 0) return true;
    return image.load(0, std::min(size, static_cast<std::uint64_t>(peHeader) + kLargestNtHeaders))
        .succeeded();
}

bool isSigned(Bytes image) {
    SignatureLayout layout;
    return readSignatureLayout(image, layout).succeeded() && layout.hasTable();
}

}  // namespace

bool CKsCommandLineInfo::parseSignatureParam(std::string_view argument, bool isLast) {
    if (!pendingSignatureFlag_.empty()) {
        const std::string flag = std::move(pendingSignatureFlag_);
        pendingSignatureFlag_.clear();
        return parseSignatureParam("--" + flag + "=" + std::string(argument), isLast);
    }
    std::string_view name;
    if (!stripFlagPrefix(argument, name)) return false;
    if (iequalsAscii(name, "Sign")) {
        signing.sign = true;
    } else if (iequalsAscii(name, "Signature")) {
        signing.signature = true;
    } else if (iequalsAscii(name, "strip-signature")) {
        signing.stripSignature = true;
    } else if (iequalsAscii(name, "keep-signature")) {
        signing.keepSignature = true;
    } else {
        const std::size_t equals = name.find('=');
        const std::string_view flag = name.substr(0, equals);
        const auto known =
            std::find_if(std::begin(kSignatureValueFlags), std::end(kSignatureValueFlags),
                         [&](std::string_view candidate) { return iequalsAscii(flag, candidate); });
        if (known == std::end(kSignatureValueFlags)) return false;
        if (equals == std::string_view::npos) {
            pendingSignatureFlag_ = std::string(*known);
            if (isLast) signing.flagWithoutValue = std::string(argument);
            return true;
        }
        std::string value(name.substr(equals + 1));
        const std::string_view which = *known;
        std::optional<std::string>* target = which == "pkcs12"          ? &signing.pkcs12
                                             : which == "password-file" ? &signing.passwordFile
                                             : which == "cert"          ? &signing.certificate
                                             : which == "key"           ? &signing.key
                                             : which == "chain"         ? &signing.chain
                                             : which == "digest"        ? &signing.digest
                                             : which == "description"   ? &signing.description
                                             : which == "url"           ? &signing.url
                                             : which == "timestamp"     ? &signing.timestamp
                                                                        : &signing.ca;
        *target = std::move(value);
    }
    if (isLast && !fileName.empty()) shellCommand = ShellCommand::kFileOpen;
    return true;
}

std::string CKsCommandLineInfo::signatureUsageProblem() const {
    const SignatureArguments& s = signing;
    if (!s.flagWithoutValue.empty()) return s.flagWithoutValue + " needs a value";
    if (s.sign && s.signature) return "/Sign and /Signature cannot be combined";
    if ((s.sign || s.signature) && (compile || decompile || edit))
        return std::string(s.sign ? "/Sign" : "/Signature") +
               " cannot be combined with /Compile, /Decompile or /Edit";
    if (s.stripSignature && s.keepSignature)
        return "--strip-signature and --keep-signature exclude each other";
    if ((s.stripSignature || s.keepSignature) && s.signingRequested())
        return std::string(s.stripSignature ? "--strip-signature" : "--keep-signature") +
               " cannot be combined with signing (--pkcs12, --cert, --key)";
    if ((s.stripSignature || s.keepSignature) && !edit)
        return std::string(s.stripSignature ? "--strip-signature" : "--keep-signature") + " needs /Edit";
    if (s.hasSigningFlags() && !s.sign && !edit) return "signing options need /Sign or /Edit";
    if (s.ca && !s.signature) return "--ca needs /Signature";
    if (s.hasSigningFlags() && !s.signingRequested())
        return "signing needs --pkcs12 <file> or --cert <file> --key <file>";
    if (s.sign && !s.signingRequested()) return "/Sign needs --pkcs12 <file> or --cert <file> --key <file>";
    if (s.pkcs12 && (s.certificate || s.key)) return "--pkcs12 cannot be combined with --cert and --key";
    if (!s.pkcs12 && s.signingRequested() && (!s.certificate || !s.key))
        return "--cert and --key go together";
    if (s.digest) {
        const auto algorithm = parseDigestAlgorithm(*s.digest);
        if (!algorithm || *algorithm == DigestAlgorithm::kSha1)
            return "--digest: '" + *s.digest + "' is not sha256, sha384 or sha512";
    }
    if (s.timestamp && !istartsWithAscii(*s.timestamp, "http://"))
        return "--timestamp: '" + *s.timestamp + "' is not an http:// address";
    const std::pair<const char*, const std::optional<std::string>*> files[] = {
        {"--pkcs12", &s.pkcs12}, {"--cert", &s.certificate},
        {"--key", &s.key},       {"--chain", &s.chain},
        {"--ca", &s.ca},         {"--password-file", &s.passwordFile}};
    for (const auto& [flag, name] : files) {
        if (*name && !(**name == "-" && std::string_view(flag) == "--password-file") && !readableFile(**name))
            return std::string(flag) + ": cannot read the file '" + **name + "'";
    }
    if (s.sign || s.signature) {
        const char* operation = s.sign ? "/Sign" : "/Signature";
        if (!unknownFlags.empty()) return "unknown flag: " + unknownFlags.front();
        if (hasSetFlags() || stringLanguage) return "--set-... flags and --string-language need /Edit";
        if (fileName.empty()) return std::string(operation) + " needs a file name";
        if (!extraFileNames.empty()) return "more than one file name: " + extraFileNames.front();
        if (s.signature && outputGiven) return "/Signature writes nothing: /Output: does not apply";
        if (outputGiven && output.empty()) return "/Output: needs a path";
    }
    return {};
}

std::string signatureUsageText() {
    return "  kestrel /Sign [/Output:<new file>] <file> (--pkcs12 <file.p12> [--password-file <file>] |\n"
           "                --cert <cert.pem> --key <key.pem> [--password-file <file>])\n"
           "                [--chain <certs.pem>] [--digest sha256|sha384|sha512]\n"
           "                [--description <text>] [--url <url>] [--timestamp <http://RFC 3161 server>]\n"
           "      sign <file> with Authenticode (a signature it has is replaced); without /Output:\n"
           "      <file> is replaced atomically. The password is read from the first line of\n"
           "      --password-file (\"-\": standard input), never from the command line. --timestamp\n"
           "      asks the server for a counter-signature; when it cannot be reached nothing is written\n"
           "  kestrel /Signature <file> [--ca <certs.pem>]\n"
           "      show the signer, the digest algorithm and whether the signature matches the file;\n"
           "      with --ca also whether the signer's chain verifies. Exit status 0 matches, 1 unsigned\n"
           "      or no longer matching, 2 the file or its signature cannot be read\n"
           "  /Edit on a signed file needs one of:\n"
           "      --strip-signature   the result is unsigned (the certificate table is removed)\n"
           "      --keep-signature    the old signature stays and will no longer match\n"
           "      the signing options of /Sign    the result is signed anew\n"
           "      /Edit with only --strip-signature or signing options changes no resource.\n";
}

int runSignCommand(const CKsCommandLineInfo& commandLine) {
    const fs::path file = pathFromUtf8(commandLine.fileName);
    std::vector<std::byte> image;
    // Room for the signature, so that appending it does not copy the whole file.
    std::uint64_t size = 0;
    if (RegularFileSize(file, size).succeeded() && size < (std::uint64_t{1} << 32)) {
        image.reserve(static_cast<std::size_t>(size) + kSignatureRoom);
    } else {
        ClearErrorRecord();
    }
    if (ReadWholeFile(file, image).failed()) {
        ShowErrorDialog();
        return kExitFailure;
    }
    if (!applySignatureChoice(commandLine, commandLine.fileName, image)) return kExitFailure;
    return writeResult(destinationOf(commandLine, file), image);
}

int runSignatureCommand(const CKsCommandLineInfo& commandLine) {
    const fs::path file = pathFromUtf8(commandLine.fileName);
    std::vector<std::byte> image;
    if (ReadWholeFile(file, image).failed()) {
        ClearErrorRecord();
        printError("cannot read '" + commandLine.fileName + "'");
        return kExitUsage;
    }
    const fs::path ca = commandLine.signing.ca ? pathFromUtf8(*commandLine.signing.ca) : fs::path();
    SignatureReport report;
    std::string error;
    if (inspectSignature(asBytes(image), commandLine.signing.ca ? &ca : nullptr, report, error).failed()) {
        printError("'" + commandLine.fileName + "': " + error);
        return kExitUsage;
    }
    std::printf("File: %s\n", commandLine.fileName.c_str());
    if (!report.isSigned) {
        std::printf("Signed: no (no signature found)\n");
        return kExitFailure;
    }
    const auto yesNo = [](bool value) { return value ? "yes" : "no"; };
    std::printf("Signed: yes\n");
    std::printf("Subject: %s\n", report.subject.c_str());
    std::printf("Issuer: %s\n", report.issuer.c_str());
    std::printf("Digest algorithm: %s\n", report.digestAlgorithm.c_str());
    std::printf("Digest matches the file: %s\n", yesNo(report.digestMatches));
    std::printf("Signature over the content valid: %s\n", yesNo(report.signatureValid));
    std::printf("Timestamp: %s\n", yesNo(report.timestamped));
    if (report.chainVerified)
        std::printf("Chain verifies against the CA: %s%s\n", yesNo(*report.chainVerified),
                    *report.chainVerified ? "" : (" (" + report.chainError + ")").c_str());
    const bool matches = report.digestMatches && report.signatureValid && report.chainVerified.value_or(true);
    std::printf("Result: %s\n", matches ? "signature matches" : "signature does NOT match");
    return matches ? kExitSuccess : kExitFailure;
}

int runEditCommand(const CKsCommandLineInfo& commandLine) {
    const SignatureArguments& arguments = commandLine.signing;
    const fs::path file = pathFromUtf8(commandLine.fileName);
    const fs::path destination = destinationOf(commandLine, file);
    const bool postProcess = arguments.stripSignature || arguments.signingRequested();
    // The whole file is read only when the signature step needs it; an edit alone reads the
    // headers here (the signature check looks at nothing else) and leaves the rest to the edit,
    // which copies what it does not change straight from the file.
    const bool wholeFile = postProcess || !commandLine.hasSetFlags();
    std::vector<std::byte> original;
    PartialFileImage headers;
    const bool readable =
        wholeFile ? ReadWholeFile(file, original).succeeded() : readNtHeaders(file, headers);
    if (!readable) ClearErrorRecord();  // the edit reports it
    const bool choiceMade =
        arguments.stripSignature || arguments.keepSignature || arguments.signingRequested();
    if (readable && isSigned(wholeFile ? asBytes(original) : headers.bytes()) && !choiceMade) {
        printUsageError(
            "'" + commandLine.fileName +
            "' is signed, and changing it breaks the signature: choose --strip-signature (the "
            "result is unsigned), --keep-signature (the old signature stays and no longer matches) "
            "or a signing option (--pkcs12 <file>, or --cert <file> --key <file>) to sign it anew");
        return kExitUsage;
    }
    if (!commandLine.hasSetFlags()) {
        // Only the signature changes: no import and compile.
        if (!readable) {
            printError("cannot read '" + commandLine.fileName + "'");
            return kExitFailure;
        }
        if (!applySignatureChoice(commandLine, commandLine.fileName, original)) return kExitFailure;
        return writeResult(destination, original);
    }
    // Bytes read whole for the signature step are the edit's input: a big file is read once.
    auto editTo = [&](const fs::path& output) {
        return readable && wholeFile
                   ? EditResources(file, asBytes(original), output, commandLine.resourceEdits())
                   : EditResources(file, output, commandLine.resourceEdits());
    };
    if (!postProcess) {
        if (editTo(pathFromUtf8(commandLine.output)).failed()) {
            ShowErrorDialog();
            return kExitFailure;
        }
        return kExitSuccess;
    }
    // The edit goes to a temporary file beside the target; the target is replaced only once the
    // signature is removed or made.
    const fs::path edited =
        destination.parent_path() / pathFromUtf8("." + pathToUtf8(destination.filename()) + ".kestrel-edit-" +
                                                 std::to_string(CurrentProcessId()) + ".tmp");
    std::vector<std::byte> image;
    const HResult editResult = editTo(edited);
    const bool readBack = editResult.succeeded() && ReadWholeFile(edited, image).succeeded();
    static_cast<void>(RemoveFileIfPresent(edited));
    if (!readBack) {
        ShowErrorDialog();
        return kExitFailure;
    }
    if (!applySignatureChoice(commandLine, commandLine.fileName, image)) return kExitFailure;
    return writeResult(destination, image);
}

void noteKeptSignature(const fs::path& compiled) {
    // Most compiled files carry no signature: the headers say so, and the rest is not read.
    {
        FileReader reader;
        if (reader.open(compiled).failed()) {
            ClearErrorRecord();
            return;
        }
        std::vector<std::byte> headers(
            static_cast<std::size_t>(std::min<std::uint64_t>(reader.size(), 64 * 1024)));
        SignatureLayout layout;
        if (reader.readAt(0, headers).succeeded() &&
            readSignatureLayout(Bytes{headers.data(), headers.size()}, layout).succeeded() &&
            !layout.hasTable())
            return;
        ClearErrorRecord();
    }
    std::vector<std::byte> image;
    if (ReadWholeFile(compiled, image).failed()) {
        ClearErrorRecord();
        return;
    }
    SignatureReport report;
    std::string error;
    if (inspectSignature(asBytes(image), nullptr, report, error).failed() || !report.isSigned) return;
    if (report.digestMatches && report.signatureValid) return;
    printNote(
        "the compiled file keeps the signature of the original, which no longer matches it: sign it "
        "again (kestrel /Sign) or remove it (kestrel /Edit --strip-signature)");
}

}  // namespace kestrel
