// The Chinese texts of the program's sources, as the translation tests read them: the string
// literals of C++ files that hold Chinese characters.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testing {

struct SourceText {
    std::string text;   // the literal's value, escapes resolved and adjacent literals joined
    std::string where;  // file:line of its first literal
};

// Whether UTF-8 `text` holds a CJK ideograph, CJK punctuation or a full-width form.
bool hasChinese(std::string_view text);

// The string literals of C++ `source` that hold Chinese, adjacent ones joined as the compiler joins
// them; comments, character literals and numbers (digit separators included) are skipped. A
// literal on a line whose comment says "stored text" is left out: it goes into a stored file and
// must not depend on the language. `file` names the source in `where`.
std::vector<SourceText> chineseLiterals(std::string_view source, const std::string& file);

// The same for every .cpp and .h file under `folder` (recursively), named relative to `root`;
// files named in `skip` are left out.
std::vector<SourceText> chineseLiteralsUnder(const std::filesystem::path& root,
                                             const std::filesystem::path& folder,
                                             const std::vector<std::string>& skip = {});

}  // namespace testing
