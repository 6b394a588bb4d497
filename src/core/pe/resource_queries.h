// Read-only questions about a PE file's resources for build pipelines: one version string, one
// string-table entry. Nothing is written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/platform/status.h"

namespace kestrel {

// The value of `key` in the first string table of the version resource (ID 1, else the first
// name, in its first language); keys compare without regard to ASCII case. `value` stays empty
// when the file has no version resource or the table no such string. Fails only when the file
// cannot be read or is no PE image.
HResult QueryVersionString(const std::filesystem::path& peFile, std::u16string_view key,
                           std::optional<std::u16string>& value);

// String `id` of the string table in the file's string language: the language of its first
// string block, where the edits put strings too. `value` stays empty when the file has no string
// table or the entry is empty.
HResult QueryResourceString(const std::filesystem::path& peFile, std::uint16_t id,
                            std::optional<std::u16string>& value);

}  // namespace kestrel
