// Text conversion: UTF-16 from PE files to and from UTF-8 (the program's "ANSI code page").
// Lone surrogates travel as three-byte sequences (WTF-8), so every UTF-16 string round-trips.
// Stored text that is not valid UTF-8 is read as CP936, so folders written on Windows open.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// UTF-16 → UTF-8; unpaired surrogates become their three-byte (WTF-8) form.
std::string utf16ToUtf8(std::u16string_view text);

// True when `text` is well-formed WTF-8: UTF-8 that may also hold encoded lone surrogates, but no
// surrogate pair spelled as two three-byte sequences, no overlong forms, nothing above U+10FFFF.
bool isWtf8(std::string_view text);

// UTF-8 (WTF-8) → UTF-16. Text that is not WTF-8 is decoded as CP936 instead; bytes that even
// CP936 cannot decode become U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);

// CP936 → UTF-16 (invalid sequences become U+FFFD).
std::u16string cp936ToUtf16(std::string_view text);

// Normalises stored text to UTF-8: valid WTF-8 stays as it is, anything else is read as CP936.
std::string storedTextToUtf8(std::string_view text);

// Appends the UTF-8 form of one code point (surrogates allowed, giving WTF-8).
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace kestrel
