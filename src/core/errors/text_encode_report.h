// The message for a text that cannot be written in its file's encoding.
#pragma once

#include <string_view>

#include "core/platform/text_file.h"

namespace kestrel {

// Records `error` as a message of our own (ReportMessage) from `sourceName` at `line`, starting a
// new record: the line and character of the text, and the encoding that cannot hold it.
void ReportTextEncodeError(const TextEncodeError& error, std::string_view sourceName, int line);

}  // namespace kestrel
