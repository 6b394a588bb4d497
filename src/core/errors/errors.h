// Error reporting: every failure is recorded where it is found (ReportError / ReportMessage), each
// caller on the way out adds its own line to the same per-thread record, and the outermost handler
// shows the whole chain (ShowErrorDialog through the UiSink).
#pragma once

#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/format.h"
#include "core/platform/status.h"

namespace kestrel {

// The thread's error record: the source name of the newest reporter and the accumulated text,
// newest entry first.
struct ErrorRecord {
    std::string source;
    std::string description;
};

// Records the message for `code` (our message table, then the system texts, then
// "Unknown error 0x%08X\r\n"), formatted with `args` when the text is one of ours, followed by
// "%s(%4d) : 0x%08X\r\n\r\n". `startNew` discards any earlier record. Returns `code` unchanged.
HResult ReportError(bool startNew, std::string_view sourceName, int line, HResult code,
                    std::initializer_list<FormatArg> args = {});

// Records a text of our own, formatted with `args`, trailing line ends removed, followed by
// "\r\n%s(%4d)\r\n\r\n".
void ReportMessage(bool startNew, std::string_view sourceName, int line, std::string_view format,
                   std::initializer_list<FormatArg> args = {});

// The current record, if any, without taking it.
std::optional<ErrorRecord> PeekErrorRecord();
// Takes the current record (the thread has none afterwards).
std::optional<ErrorRecord> TakeErrorRecord();
void ClearErrorRecord();

// Captions of the error dialog (OK, Cancel, Abort, Retry, Ignore, Yes, No, Details, Send report) and
// the product line put at the head of the details.
void InitErrorReporting(const std::array<std::string, 9>& captions, std::string productText);

// Shows the current record through the UiSink (the console prints it on standard error) and
// returns the id of the button pressed. `type` 0 is one OK button.
int ShowErrorDialog(int type = 0);

}  // namespace kestrel
