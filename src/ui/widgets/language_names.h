// Resource languages by name: a Windows language number (1033) shown as its language and country
// in that language's own words ("English (United States)", "Deutsch (Deutschland)") from Qt's
// locale data.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace kestrel::ui {

// The language tag of a language number ("en-US"); empty when the table does not know it.
QString languageTag(std::uint16_t language);

// "English (United States)"; a number whose country is unknown gets its language alone, an
// unknown number its decimal digits, 0 "语言中立".
QString languageDisplayName(std::uint16_t language);

// Every language number the table knows, in ascending order, for lists to choose from.
std::vector<std::uint16_t> knownLanguages();

}  // namespace kestrel::ui
