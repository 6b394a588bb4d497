// The requested execution level of an application manifest, edited in the manifest's text: only the
// level attribute's value changes (or the elements that hold it are inserted), so that every other
// byte, comment, namespace prefix and line break of the manifest stays as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The three levels a manifest may request: asInvoker, highestAvailable, requireAdministrator
// (compared exactly, as the loader does).
bool IsExecutionLevel(std::string_view level);

// `manifest` (UTF-8, optionally with a byte-order mark) with requestedExecutionLevel's level set to
// `level`:
// - an existing requestedExecutionLevel element (any namespace prefix) gets its level value
//   replaced, or a level attribute after its name when it has none;
// - otherwise the missing part of trustInfo/security/requestedPrivileges/requestedExecutionLevel
//   (with uiAccess="false") is inserted as the last child of the deepest part that exists, with that
//   part's prefix and the manifest's indentation and line ends; trustInfo itself goes last in the
//   root assembly element, in the asm.v3 namespace.
// nullopt when the text is not a well-formed manifest the edit can place itself in: malformed
// markup, UTF-16 text, or no root element.
std::optional<std::string> SetRequestedExecutionLevel(std::string_view manifest, std::string_view level);

// Whether the markup of `text` nests as XML requires: every element closed in order, one root,
// comments, sections and instructions terminated, attributes quoted. The edit above needs no more.
bool HasWellFormedMarkup(std::string_view text);

// A manifest with nothing but the level (uiAccess false) in trustInfo, for a file that has none.
std::string MakeMinimalManifest(std::string_view level);

}  // namespace kestrel
