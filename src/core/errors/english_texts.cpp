// The English counterparts of the program's Chinese texts, one home for all of them. Each entry
// keeps the line ends and printf placeholders of its Chinese text, in the same order; a test
// checks that every Chinese text of src/core and src/app has exactly one entry here.
#include "core/errors/language.h"

namespace kestrel {

namespace {

constexpr TextPair kEnglishTexts[] = {
    {"无错误。\r\n", "No error.\r\n"},
};

}  // namespace

std::span<const TextPair> EnglishTextTable() {
    return kEnglishTexts;
}

}  // namespace kestrel
