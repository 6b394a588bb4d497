// Choosing the script form of a resource by its type: accelerator tables, menus, dialogs and
// message tables are shown and edited as text (see rc_script.h); every other type has no text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/rc_script.h"
#include "core/pe/resource_reader.h"

namespace kestrel {

// True for the numbered types 4, 5, 9 and 11.
bool HasScriptForm(const ResourceKey& type);

// Decodes `data` of resource type `type` to its text; kFail for a type without a text form, or
// bytes the type's decoder refuses.
HResult ResourceToScript(const ResourceKey& type, Bytes data, const ScriptOptions& options, ScriptText& out);

// Compiles the text of a resource of `type` back to its bytes; kFail with `error` set when the text
// has a fault (or the type has no text form).
HResult CompileResourceScript(const ResourceKey& type, std::string_view text, std::vector<std::byte>& out,
                              ScriptError& error);

// The header line's name of a resource: its ID in decimal, or its name (in quotes when it is not a
// plain word of letters, digits and underscores, or starts with a digit).
std::string ScriptResourceName(const ResourceKey& name);

}  // namespace kestrel
