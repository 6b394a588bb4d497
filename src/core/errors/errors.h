// Error reporting: every failure is recorded where it is found (ReportError / ReportMessage), each
// caller on the way out adds its own line to the same per-thread record, and the outermost handler
// shows the whole chain (ShowErrorDialog through the UiSink).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/format.h"
#include "core/platform/status.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

// The thread's error record: the source name of the newest reporter and the accumulated text,
// newest entry first. `summaryLength` is the length of the newest entry's own text (before its
// source line), which is what the error dialog shows as the summary; a record built without it
// has its summary end at the first line that starts with the source name and "(".
struct ErrorRecord {
    std::string source;
    std::string description;
    std::optional<std::size_t> summaryLength = std::nullopt;
};

// Records the message for `code` (our message table, then the system texts, then
// "Unknown error 0x%08X\r\n"), formatted with `args` when the text is one of ours, followed by
// "%s(%4d) : 0x%08X\r\n\r\n". `startNew` discards any earlier record. Returns `code` unchanged,
// or E_OUTOFMEMORY when the record could not be built (the earlier record then stays as it was).
HResult ReportError(bool startNew, std::string_view sourceName, int line, HResult code,
                    std::initializer_list<FormatArg> args = {});

// ReportError for a caller that goes on with a result of its own: the code it returns is decided
// already (usually the one reported), or the record is shown next. Only the record is wanted.
inline void RecordError(bool startNew, std::string_view sourceName, int line, HResult code,
                        std::initializer_list<FormatArg> args = {}) {
    static_cast<void>(ReportError(startNew, sourceName, line, code, args));
}

// Records a text of our own (in the current language: `format` is looked up with Localized),
// formatted with `args`, trailing line ends removed, followed by
// "\r\n%s(%4d)\r\n\r\n". Out of memory leaves the earlier record as it was.
void ReportMessage(bool startNew, std::string_view sourceName, int line, std::string_view format,
                   std::initializer_list<FormatArg> args = {});

// The current record, if any, without taking it.
std::optional<ErrorRecord> PeekErrorRecord();
// Takes the current record (the thread has none afterwards).
std::optional<ErrorRecord> TakeErrorRecord();
void ClearErrorRecord();

// --- Message texts -------------------------------------------------------------------------------

// Where the text of a code was found. Only texts of our own message table are formats.
enum class MessageOrigin { kProgramTable, kSystem, kUnknown };

struct MessageText {
    std::string text;  // ends with "\r\n"
    MessageOrigin origin = MessageOrigin::kUnknown;
};

// The program's message table (codes 0xC004xxxx and the two success codes), in the current
// language; nullopt when absent.
std::optional<std::string_view> ProgramMessageText(HResult code);
// The system text of a code we produce (our own texts in the current language; strerror, which
// follows the C library's locale, for 0x8007Fxxx).
std::optional<std::string> SystemMessageText(HResult code);
// Lookup in order: program table, system texts, "Unknown error 0x%08X\r\n" with the code.
MessageText LookupMessageText(HResult code);
// The text a report shows: program-table texts formatted with `args` (safeFormat), every other
// text copied verbatim (a system text may contain '%' of its own).
std::string MessageEntryText(const MessageText& message, std::span<const FormatArg> args);

// --- Dialog contents -----------------------------------------------------------------------------

// The unit name the dialog reports under when there is nothing to show.
inline constexpr std::string_view kErrorDialogSource = "ErrorDlg";
inline constexpr int kUnspecifiedErrorLine = 164;

// Captions of the error dialog (OK, Cancel, Abort, Retry, Ignore, Yes, No, Details, Send report) and
// the product line put at the head of the details. Also installs the console printer of the
// error dialog (ShowErrorDialog works before this call too).
void InitErrorReporting(const std::array<std::string, 9>& captions, std::string productText);

enum CaptionIndex {
    kCaptionOk,
    kCaptionCancel,
    kCaptionAbort,
    kCaptionRetry,
    kCaptionIgnore,
    kCaptionYes,
    kCaptionNo,
    kCaptionDetails,
    kCaptionSendReport,
};

// The captions and product text set by InitErrorReporting (English captions before that).
std::array<std::string, 9> ErrorDialogCaptions();
std::string ErrorReportingProductText();

struct ErrorDialogContents {
    std::string summary;
    std::string details;
};

// The summary and details shown for `record`: with no record, "Unspecified Error." and
// "UnspecifiedError.\r\nErrorDlg(line) : 0x80004005"; otherwise the given summary or the description
// up to the record's source name (else up to the first blank line, else all of it). Trailing line
// ends are removed from both; the product line heads the details (none when it is empty).
ErrorDialogContents BuildErrorDialogContents(const std::optional<ErrorRecord>& record,
                                             std::optional<std::string_view> summary,
                                             std::string_view productText);

// Takes the thread's record and builds the contents with the product text of InitErrorReporting.
ErrorDialogContents TakeErrorDialogContents(std::optional<std::string_view> summary = std::nullopt);

// The support address the error report is mailed to.
inline constexpr std::string_view kSupportAddress = "support@quillon.example";

// The mail body for `details`: CR LF → "%0d", '"' → '\'', space → "%20"; letters, digits, "-._~"
// and '\'' stay; every other byte (reserved, control or non-ASCII) is percent-encoded.
std::string EncodeMailBody(std::string_view details);
// "mailto:<support address>?Subject=Error%20Report&Body=<encoded details>"
std::string ErrorReportMailLink(std::string_view details);

// Control ids and results of the error dialog.
inline constexpr int kDetailsButtonId = 1001;
inline constexpr int kSendReportButtonId = 1003;
inline constexpr int kFirstTypeButtonId = 1004;
inline constexpr int kEscapeResult = 2;

struct ErrorDialogButton {
    std::string caption;
    int controlId = 0;  // 1004 + position in the row
    int result = 0;     // what ShowErrorDialog returns when it is pressed
};

// The buttons, default button, icon and Escape behaviour of one dialog type (low four bits:
// 0 OK, 1 OK/Cancel, 2 Abort/Retry/Ignore, 3 Yes/No/Cancel, 4 Yes/No, 5 Retry/Cancel, 6 up to four
// custom captions, the list ending at the first empty one, OK when there is none; other values
// behave as 0). Bits 0x100,
// 0x200, 0x300 make the second, third or fourth button the default (the first when there is no
// such button); bits 0xF0 choose the icon.
struct ErrorDialogButtons {
    std::vector<ErrorDialogButton> buttons;
    int defaultButton = 0;      // index into buttons
    bool escapeCloses = false;  // Escape closes with kEscapeResult (Cancel)
    MessageIcon icon = MessageIcon::kNone;
    std::string sendReportCaption;  // caption 8 + "..."
};
ErrorDialogButtons ErrorDialogButtonsFor(int type, std::span<const std::string> customCaptions = {});

// The caption of the details button: caption 7 + " >>" while the details are hidden, " <<" when shown.
std::string DetailsButtonCaption(bool detailsShown);

// Shows the current record through the UiSink (the console prints it on standard error) and
// returns the id of the button pressed. `type` 0 is one OK button.
int ShowErrorDialog(int type = 0);

// The console form of the error dialog: takes the record, prints summary and details on standard
// error (CR LF as line feeds) and returns 1 (OK).
int PrintErrorDialogToConsole();

}  // namespace kestrel
