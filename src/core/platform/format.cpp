#include "core/platform/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kestrel {

namespace {

struct Directive {
    bool leftAlign = false;
    bool zeroPad = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool alternate = false;
    bool wide = false;  // ll, I64, j, z: the argument is 64 bits wide
    int width = 0;
    int precision = -1;
};

constexpr int kMaxWidth = 4096;

void pad(std::string& out, const std::string& body, const Directive& directive, bool numeric) {
    std::size_t width = static_cast<std::size_t>(directive.width);
    if (body.size() >= width) {
        out += body;
        return;
    }
    std::size_t fill = width - body.size();
    if (directive.leftAlign) {
        out += body;
        out.append(fill, ' ');
    } else if (directive.zeroPad && numeric && directive.precision < 0) {
        // Zeros go after the sign or the 0x prefix.
        std::size_t prefixLength = 0;
        if (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) prefixLength = 1;
        if (body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) prefixLength = 2;
        out += body.substr(0, prefixLength);
        out.append(fill, '0');
        out += body.substr(prefixLength);
    } else {
        out.append(fill, ' ');
        out += body;
    }
}

std::string digits(std::uint64_t value, int base, bool upper) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, base);
    std::string text(buffer, result.ptr);
    if (upper)
        for (auto& c : text)
            if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 32);
    return text;
}

}  // namespace

std::string safeFormat(std::string_view format, std::span<const FormatArg> args) {
    std::string out;
    out.reserve(format.size() + 32);
    appendFormat(out, format, args);
    return out;
}

void appendFormat(std::string& out, std::string_view format, std::span<const FormatArg> args) {
    std::size_t next = 0;
    auto takeArg = [&]() -> const FormatArg* {
        const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
        ++next;
        return arg;
    };
    auto takeNumber = [&]() -> std::int64_t {
        const FormatArg* arg = takeArg();
        return (arg != nullptr && !arg->isText()) ? arg->number() : 0;
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            // The text up to the next directive in one piece.
            const std::size_t end = std::min(format.find('%', i), format.size());
            out.append(format.substr(i, end - i));
            i = end - 1;
            continue;
        }
        std::size_t start = i++;
        Directive directive;
        for (; i < format.size() && (format[i] == '-' || format[i] == '0' || format[i] == '+' ||
                                     format[i] == ' ' || format[i] == '#');
             ++i) {
            if (format[i] == '-') directive.leftAlign = true;
            if (format[i] == '0') directive.zeroPad = true;
            if (format[i] == '+') directive.plusSign = true;
            if (format[i] == ' ') directive.spaceSign = true;
            if (format[i] == '#') directive.alternate = true;
        }
        if (i < format.size() && format[i] == '*') {
            std::int64_t width = takeNumber();
            if (width < 0) directive.leftAlign = true;
            directive.width = static_cast<int>(std::min<std::int64_t>(width < 0 ? -width : width, kMaxWidth));
            ++i;
        } else {
            for (; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i)
                directive.width = std::min(directive.width * 10 + (format[i] - '0'), kMaxWidth);
        }
        if (i < format.size() && format[i] == '.') {
            directive.precision = 0;
            if (i + 1 < format.size() && format[i + 1] == '*') {
                std::int64_t precision = takeNumber();
                directive.precision =
                    precision < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(precision, kMaxWidth));
                i += 2;
            } else {
                for (++i; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i)
                    directive.precision = std::min(directive.precision * 10 + (format[i] - '0'), kMaxWidth);
            }
        }
        for (;;) {
            if (i >= format.size()) break;
            if (format[i] == 'h' || format[i] == 'l') {
                // `l` is 32 bits wide in the texts we format (they come from Windows); `ll` is 64.
                if (format[i] == 'l' && i + 1 < format.size() && format[i + 1] == 'l') {
                    directive.wide = true;
                    ++i;
                }
                ++i;
            } else if (format[i] == 'z' || format[i] == 'j') {
                directive.wide = true;
                ++i;
            } else if (format.substr(i, 3) == "I64") {
                directive.wide = true;
                i += 3;
            } else {
                break;
            }
        }
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char conversion = format[i];
        if (conversion == '%') {
            out.push_back('%');
            continue;
        }
        if (conversion != 's' && conversion != 'd' && conversion != 'i' && conversion != 'u' &&
            conversion != 'x' && conversion != 'X' && conversion != 'c') {
            out.append(format.substr(start, i - start + 1));
            continue;
        }
        const FormatArg* arg = takeArg();
        if (conversion == 's' && directive.width == 0 && directive.precision < 0 && arg != nullptr &&
            arg->isText()) {
            out += arg->text();
            continue;
        }
        if (conversion == 's') {
            std::string text;
            if (arg != nullptr) text = arg->isText() ? arg->text() : std::to_string(arg->number());
            if (directive.precision >= 0 && text.size() > static_cast<std::size_t>(directive.precision))
                text.resize(static_cast<std::size_t>(directive.precision));
            pad(out, text, directive, false);
            continue;
        }
        if (arg == nullptr) {
            pad(out, std::string(), directive, false);
            continue;
        }
        std::int64_t number = arg->isText() ? 0 : arg->number();
        std::string body;
        if (conversion == 'c') {
            body.push_back(static_cast<char>(number));
            pad(out, body, directive, false);
            continue;
        }
        if (conversion == 'd' || conversion == 'i') {
            // %d prints the 32-bit value, as printf does with an int argument.
            std::int64_t value = directive.wide ? number : static_cast<std::int32_t>(number);
            bool negative = value < 0;
            std::uint64_t magnitude =
                negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
            body = digits(magnitude, 10, false);
            if (directive.precision >= 0 && body.size() < static_cast<std::size_t>(directive.precision))
                body.insert(0, static_cast<std::size_t>(directive.precision) - body.size(), '0');
            if (negative)
                body.insert(0, 1, '-');
            else if (directive.plusSign)
                body.insert(0, 1, '+');
            else if (directive.spaceSign)
                body.insert(0, 1, ' ');
        } else {
            std::uint64_t value =
                directive.wide ? static_cast<std::uint64_t>(number) : static_cast<std::uint32_t>(number);
            body = digits(value, conversion == 'u' ? 10 : 16, conversion == 'X');
            if (directive.precision >= 0 && body.size() < static_cast<std::size_t>(directive.precision))
                body.insert(0, static_cast<std::size_t>(directive.precision) - body.size(), '0');
            if (directive.alternate && value != 0 && conversion != 'u')
                body.insert(0, conversion == 'X' ? "0X" : "0x");
        }
        pad(out, body, directive, true);
    }
}

std::string formatFixed(double value, int decimals) {
    if (decimals < 0) decimals = 6;
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // The largest double has 309 integer digits; the buffer grows with the decimals asked for.
    std::string buffer(static_cast<std::size_t>(decimals) + 330, '\0');
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed,
                                decimals);
    if (result.ec != std::errc()) return {};
    buffer.resize(static_cast<std::size_t>(result.ptr - buffer.data()));
    return buffer;
}

bool parseInt(std::string_view text, std::int64_t& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n' ||
                               text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint64_t magnitude = 0;
    auto result = std::from_chars(text.data() + i, text.data() + text.size(), magnitude);
    if (result.ptr == text.data() + i) return false;
    // Out-of-range values saturate, as strtoll does.
    constexpr std::uint64_t kMaxPositive =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (result.ec == std::errc::result_out_of_range) magnitude = std::numeric_limits<std::uint64_t>::max();
    if (negative) {
        value = magnitude > kMaxPositive ? std::numeric_limits<std::int64_t>::min()
                                         : -static_cast<std::int64_t>(magnitude);
    } else {
        value = magnitude > kMaxPositive ? std::numeric_limits<std::int64_t>::max()
                                         : static_cast<std::int64_t>(magnitude);
    }
    return true;
}

}  // namespace kestrel
