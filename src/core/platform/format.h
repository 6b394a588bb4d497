// Safe formatting of our own message texts, and C-locale number formatting.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kestrel {

// One argument of a formatted message: text or a number.
class FormatArg {
  public:
    FormatArg(std::string_view text) : value_(std::string(text)) {}
    FormatArg(const std::string& text) : value_(text) {}
    FormatArg(const char* text) : value_(std::string(text ? text : "")) {}
    FormatArg(int number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(unsigned number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(long number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(unsigned long number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(long long number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(unsigned long long number) : value_(static_cast<std::int64_t>(number)) {}

    bool isText() const { return std::holds_alternative<std::string>(value_); }
    const std::string& text() const { return std::get<std::string>(value_); }
    std::int64_t number() const { return std::get<std::int64_t>(value_); }

  private:
    std::variant<std::string, std::int64_t> value_;
};

// printf-like formatting restricted to `%s %d %i %u %x %X %c %%` with flags (`-`, `0`, `+`, space,
// `#`), width and precision, also from arguments (`%.8x`, `%08X`, `%4d`, `%.5d`, `%*d`). Numbers are
// 32 bits wide unless marked `ll`, `I64`, `j` or `z`; `h` and `l` are ignored. A missing argument
// formats as empty; an argument of the wrong kind is converted (a number for %s prints in decimal,
// text for %d prints as 0). Anything else (`%n`, `%p`, `%f`) is copied as it stands.
std::string safeFormat(std::string_view format, std::span<const FormatArg> args);
inline std::string safeFormat(std::string_view format, std::initializer_list<FormatArg> args) {
    return safeFormat(format, std::span<const FormatArg>(args.begin(), args.size()));
}
// The same appended to `out`, for a caller that builds one long text line by line.
void appendFormat(std::string& out, std::string_view format, std::span<const FormatArg> args);
inline void appendFormat(std::string& out, std::string_view format, std::initializer_list<FormatArg> args) {
    appendFormat(out, format, std::span<const FormatArg>(args.begin(), args.size()));
}

// `%f` in the C locale (six decimals unless told otherwise), whatever the process locale is.
// A negative number of decimals means six; NaN and infinity print as "nan" and "inf".
std::string formatFixed(double value, int decimals = 6);

// Decimal parsing in the C locale; leading blanks are skipped and trailing text ignored, like atoi;
// values out of range saturate. Returns false when no digits were found.
bool parseInt(std::string_view text, std::int64_t& value);

}  // namespace kestrel
