#include "core/errors/errors.h"

#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

thread_local std::optional<ErrorRecord> currentRecord;

void chain(bool startNew, std::string_view sourceName, std::string entry) {
    std::optional<ErrorRecord> previous;
    if (!startNew) previous = TakeErrorRecord();
    ErrorRecord record;
    record.source = std::string(sourceName);
    record.description = previous ? entry + previous->description : std::move(entry);
    currentRecord = std::move(record);
}

}  // namespace

HResult ReportError(bool startNew, std::string_view sourceName, int line, HResult code,
                    std::initializer_list<FormatArg> args) {
    // Placeholder text lookup; the message table comes with the error-reporting module.
    std::string entry = safeFormat("Unknown error 0x%08X\r\n", {code.value()});
    (void)args;
    entry += safeFormat("%s(%4d) : 0x%08X\r\n\r\n", {std::string(sourceName), line, code.value()});
    chain(startNew, sourceName, std::move(entry));
    return code;
}

void ReportMessage(bool startNew, std::string_view sourceName, int line, std::string_view format,
                   std::initializer_list<FormatArg> args) {
    std::string entry = safeFormat(format, args);
    while (!entry.empty() && (entry.back() == '\r' || entry.back() == '\n'))
        entry.pop_back();
    entry += safeFormat("\r\n%s(%4d)\r\n\r\n", {std::string(sourceName), line});
    chain(startNew, sourceName, std::move(entry));
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

void InitErrorReporting(const std::array<std::string, 9>&, std::string) {}

int ShowErrorDialog(int) {
    return uiSink().showError();
}

}  // namespace kestrel
