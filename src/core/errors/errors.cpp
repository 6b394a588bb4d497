#include "core/errors/errors.h"

#include "core/errors/language.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>

namespace kestrel {

namespace {

thread_local std::optional<ErrorRecord> currentRecord;

// Builds the new record completely before the current one is touched, so that running out of
// memory half-way leaves the thread's record as it was.
void chain(bool startNew, std::string_view sourceName, std::string entry, std::size_t summaryLength) {
    ErrorRecord record;
    record.source = std::string(sourceName);
    record.summaryLength = summaryLength;
    if (!startNew && currentRecord) entry += currentRecord->description;
    record.description = std::move(entry);
    currentRecord = std::move(record);
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

void trimLineEnds(std::string& text) {
    while (!text.empty() && isLineEnd(text.back()))
        text.pop_back();
}

struct DialogState {
    std::mutex mutex;
    std::array<std::string, 9> captions{"OK",  "Cancel", "Abort",   "Retry",      "Ignore",
                                        "Yes", "No",     "Details", "Send report"};
    std::string productText;
};

DialogState& dialogState() {
    static DialogState state;
    return state;
}

// The console prints the error dialog even when InitErrorReporting was never called: any program
// that reports errors links this file, and this registers the printer at start-up.
const bool consolePrinterInstalled = [] {
    setConsoleErrorPrinter(&PrintErrorDialogToConsole);
    return true;
}();

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string MessageEntryText(const MessageText& message, std::span<const FormatArg> args) {
    if (message.origin == MessageOrigin::kProgramTable) return safeFormat(message.text, args);
    return message.text;
}

HResult ReportError(bool startNew, std::string_view sourceName, int line, HResult code,
                    std::initializer_list<FormatArg> args) {
    try {
        std::string entry =
            MessageEntryText(LookupMessageText(code), std::span<const FormatArg>(args.begin(), args.size()));
        const std::size_t summaryLength = entry.size();
        entry += safeFormat("%s(%4d) : 0x%08X\r\n\r\n", {sourceName, line, code.value()});
        chain(startNew, sourceName, std::move(entry), summaryLength);
        return code;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

void ReportMessage(bool startNew, std::string_view sourceName, int line, std::string_view format,
                   std::initializer_list<FormatArg> args) {
    try {
        std::string entry =
            safeFormat(Localized(format), std::span<const FormatArg>(args.begin(), args.size()));
        trimLineEnds(entry);
        const std::size_t summaryLength = entry.size();
        entry += safeFormat("\r\n%s(%4d)\r\n\r\n", {sourceName, line});
        chain(startNew, sourceName, std::move(entry), summaryLength);
    } catch (const std::bad_alloc&) {
        // Nothing more can be recorded; the earlier record stays.
    }
}

std::optional<ErrorRecord> PeekErrorRecord() {
    return currentRecord;
}

std::optional<ErrorRecord> TakeErrorRecord() {
    auto record = std::move(currentRecord);
    currentRecord.reset();
    return record;
}

void ClearErrorRecord() {
    currentRecord.reset();
}

void InitErrorReporting(const std::array<std::string, 9>& captions, std::string productText) {
    auto& state = dialogState();
    {
        std::lock_guard lock(state.mutex);
        state.captions = captions;
        state.productText = std::move(productText);
    }
    setConsoleErrorPrinter(&PrintErrorDialogToConsole);
}

std::array<std::string, 9> ErrorDialogCaptions() {
    auto& state = dialogState();
    std::lock_guard lock(state.mutex);
    return state.captions;
}

std::string ErrorReportingProductText() {
    auto& state = dialogState();
    std::lock_guard lock(state.mutex);
    return state.productText;
}

ErrorDialogContents BuildErrorDialogContents(const std::optional<ErrorRecord>& record,
                                             std::optional<std::string_view> summary,
                                             std::string_view productText) {
    ErrorDialogContents contents;
    if (!record) {
        contents.summary = "Unspecified Error.";
        contents.details = safeFormat("UnspecifiedError.\r\n%s(%d) : 0x%08X",
                                      {kErrorDialogSource, kUnspecifiedErrorLine, kFail.value()});
    } else {
        const std::string& description = record->description;
        contents.details = description;
        if (summary) {
            contents.summary = std::string(*summary);
        } else {
            std::size_t end = std::string::npos;
            if (record->summaryLength) {
                end = std::min(*record->summaryLength, description.size());
            } else if (!record->source.empty()) {
                // The source line of the newest entry: the name at the start of a line, then "(".
                const std::string tag = record->source + "(";
                if (description.starts_with(tag))
                    end = 0;
                else if (std::size_t at = description.find("\n" + tag); at != std::string::npos)
                    end = at + 1;
            }
            if (end == std::string::npos) end = description.find("\r\n\r\n");
            contents.summary = description.substr(0, end);
        }
        trimLineEnds(contents.summary);
        trimLineEnds(contents.details);
    }
    if (!productText.empty()) contents.details = std::string(productText) + "\r\n" + contents.details;
    return contents;
}

ErrorDialogContents TakeErrorDialogContents(std::optional<std::string_view> summary) {
    return BuildErrorDialogContents(TakeErrorRecord(), summary, ErrorReportingProductText());
}

std::string EncodeMailBody(std::string_view details) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string body;
    body.reserve(details.size() * 3);
    for (std::size_t i = 0; i < details.size(); ++i) {
        auto c = static_cast<unsigned char>(details[i]);
        if (c == '\r' && i + 1 < details.size() && details[i + 1] == '\n') {
            body += "%0d";
            ++i;
        } else if (c == ' ') {
            body += "%20";
        } else if (c == '"' || c == '\'') {
            body += '\'';
        } else if (isUnreserved(c)) {
            body += static_cast<char>(c);
        } else {
            body += '%';
            body += kHex[c >> 4];
            body += kHex[c & 0xF];
        }
    }
    return body;
}

std::string ErrorReportMailLink(std::string_view details) {
    return safeFormat("mailto:%s?Subject=%s&Body=%s",
                      {kSupportAddress, "Error%20Report", EncodeMailBody(details)});
}

ErrorDialogButtons ErrorDialogButtonsFor(int type, std::span<const std::string> customCaptions) {
    struct Choice {
        CaptionIndex caption;
        int result;
    };
    static constexpr Choice kOk[] = {{kCaptionOk, 1}};
    static constexpr Choice kOkCancel[] = {{kCaptionOk, 1}, {kCaptionCancel, 2}};
    static constexpr Choice kAbortRetryIgnore[] = {
        {kCaptionAbort, 3}, {kCaptionRetry, 4}, {kCaptionIgnore, 5}};
    static constexpr Choice kYesNoCancel[] = {{kCaptionYes, 6}, {kCaptionNo, 7}, {kCaptionCancel, 2}};
    static constexpr Choice kYesNo[] = {{kCaptionYes, 6}, {kCaptionNo, 7}};
    static constexpr Choice kRetryCancel[] = {{kCaptionRetry, 4}, {kCaptionCancel, 2}};

    const auto captions = ErrorDialogCaptions();
    ErrorDialogButtons result;
    int kind = type & 0xF;
    auto add = [&](std::string caption, int value) {
        int position = static_cast<int>(result.buttons.size());
        result.buttons.push_back({std::move(caption), kFirstTypeButtonId + position, value});
    };
    std::span<const Choice> choices;
    switch (kind) {
        case 1:
            choices = kOkCancel;
            break;
        case 2:
            choices = kAbortRetryIgnore;
            break;
        case 3:
            choices = kYesNoCancel;
            break;
        case 4:
            choices = kYesNo;
            break;
        case 5:
            choices = kRetryCancel;
            break;
        case 6:
            break;
        default:
            kind = 0;
            choices = kOk;
            break;
    }
    if (kind == 6) {
        for (std::size_t i = 0; i < customCaptions.size() && i < 4 && !customCaptions[i].empty(); ++i)
            add(customCaptions[i], static_cast<int>(i));
        // A dialog without any button could only be left with Escape.
        if (result.buttons.empty()) add(captions[kCaptionOk], 1);
    } else {
        for (const auto& choice : choices)
            add(captions[choice.caption], choice.result);
    }
    int defaultButton = (type & 0xF00) >> 8;
    result.defaultButton = defaultButton < static_cast<int>(result.buttons.size()) ? defaultButton : 0;
    result.escapeCloses = kind != 0 && kind != 2 && kind != 4;
    switch (type & 0xF0) {
        case 0x10:
            result.icon = MessageIcon::kStop;
            break;
        case 0x20:
            result.icon = MessageIcon::kQuestion;
            break;
        case 0x30:
            result.icon = MessageIcon::kExclamation;
            break;
        case 0x40:
            result.icon = MessageIcon::kInformation;
            break;
        default:
            result.icon = MessageIcon::kNone;
            break;
    }
    result.sendReportCaption = captions[kCaptionSendReport] + "...";
    return result;
}

std::string DetailsButtonCaption(bool detailsShown) {
    return ErrorDialogCaptions()[kCaptionDetails] + (detailsShown ? " <<" : " >>");
}

int ShowErrorDialog(int) {
    if (!consolePrinterInstalled) setConsoleErrorPrinter(&PrintErrorDialogToConsole);
    return uiSink().showError();
}

int PrintErrorDialogToConsole() {
    ErrorDialogContents contents;
    try {
        contents = TakeErrorDialogContents();
    } catch (const std::bad_alloc&) {
        std::fputs("Out of memory while showing an error report.\n", stderr);
        return static_cast<int>(Answer::kOk);
    }
    // The summary is the newest entry's text, which the details show again: on the console, where
    // both would be printed one after the other, each line appears once.
    const std::string product = ErrorReportingProductText();
    const std::size_t entries = product.empty() ? 0 : product.size() + 2;
    const bool summaryInDetails =
        contents.details.size() >= entries &&
        contents.details.compare(entries, contents.summary.size(), contents.summary) == 0;
    std::string text = summaryInDetails ? contents.details + "\r\n"
                                        : contents.summary + "\r\n\r\n" + contents.details + "\r\n";
    std::string console;
    console.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        console += text[i];
    }
    std::fwrite(console.data(), 1, console.size(), stderr);
    std::fflush(stderr);
    return static_cast<int>(Answer::kOk);
}

}  // namespace kestrel
