// Accelerator tables (resource type 9), menus (type 4), dialogs (type 5) and message tables (type 11) as
// editable text, one resource per text, in UTF-8: each has a decoder to text and a compiler back to bytes.
//
// Accelerators, menus and dialogs use resource-script syntax (`<name> ACCELERATORS`, `<name> MENU` /
// `MENUEX` with `POPUP` and `MENUITEM`, `<name> DIALOG`/`DIALOGEX x, y, cx, cy` with STYLE, EXSTYLE,
// CAPTION, MENU, CLASS, FONT and one generic CONTROL per item, `BEGIN`/`END` or braces). A dialog's
// STYLE is taken as written (without one: WS_POPUP | WS_BORDER | WS_SYSMENU), FONT adds DS_SETFONT,
// and a CONTROL's style is WS_CHILD | WS_VISIBLE with its terms added (`NOT x` takes bits away). Message
// tables use message-compiler syntax (`MessageId=`, `Language=`, the text lines, a line with a single `.`),
// where each text line is stored followed by CR LF. Severity= and Facility= (names from the
// SeverityNames/FacilityNames lists or the usual defaults) hold for their message and the ones after
// it and make MessageId the 16-bit code of the ID; without them MessageId is the full 32-bit ID,
// which is how IDs with the customer or reserved bit are written.
// Resource scripts start with `#pragma code_page(65001)` so other compilers read them as UTF-8.
//
// Compiling the decoded text unchanged gives the original bytes. What the syntax cannot express
// (unusual flags, padding, trailing data, a header of another size) is carried in comment lines
// the compiler reads back, `// kestrel:` in scripts and `;// kestrel:` in message texts:
//   kestrel: compiled <size> result <length>   the text compiles to <size> bytes; the resource is
//                                              <length> bytes (cut, or extended with zeros)
//   kestrel: at <offset> <hex bytes>           these bytes replace the compiled ones at <offset>
// The carried bytes belong to the layout they were taken from: once an edit changes the compiled
// size, compiling reports the `compiled` line as an error instead of putting bytes in wrong places.
// A message-table entry stored as 8-bit text has `;// kestrel: ansi` on the line before its
// MessageId; a message table whose lines end with a line feed alone (not CR LF) has
// `;// kestrel: line-end lf` before its first message.
//
// Compilers take any text: a fault gives an error with its line and column (1-based), never a
// crash; numbers out of their field's range, nesting deeper than kMaxMenuDepth, and text that is not
// UTF-8 are faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

struct ScriptOptions {
    std::string name = "1";      // the resource's name or ID as the header line shows it
    std::uint16_t language = 0;  // written as a LANGUAGE statement (or the message language) unless 0
};

struct ScriptText {
    std::string text;
    std::size_t carriedBytes = 0;  // bytes in `kestrel: at` lines
};

struct ScriptError {
    int line = 0;
    int column = 0;
    std::string message;  // English, without the position
    friend bool operator==(const ScriptError&, const ScriptError&) = default;
};

// Decoders: kFail when the bytes are not a resource of that type (a menu that does not decode; a
// message table whose blocks or entries lie outside it) or have no text form (a message table that
// holds one ID twice). Accelerator tables always decode.
HResult AcceleratorsToScript(Bytes data, const ScriptOptions& options, ScriptText& out);
HResult MenuToScript(Bytes data, const ScriptOptions& options, ScriptText& out);
HResult MessageTableToScript(Bytes data, const ScriptOptions& options, ScriptText& out);
HResult DialogToScript(Bytes data, const ScriptOptions& options, ScriptText& out);

// Compilers: kOk with the resource bytes, or kFail with `error` set and `out` empty.
HResult CompileAcceleratorsScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error);
HResult CompileMenuScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error);
HResult CompileMessageTableScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error);
HResult CompileDialogScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error);

}  // namespace kestrel
