#include "core/platform/format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kestrel {

namespace {

struct Spec {
    bool leftAlign = false;
    bool zeroPad = false;
    int width = 0;
    int precision = -1;
};

void pad(std::string& out, const std::string& body, const Spec& spec, bool numeric) {
    std::size_t width = static_cast<std::size_t>(spec.width);
    if (body.size() >= width) {
        out += body;
        return;
    }
    std::size_t fill = width - body.size();
    if (spec.leftAlign) {
        out += body;
        out.append(fill, ' ');
    } else if (spec.zeroPad && numeric && spec.precision < 0) {
        std::size_t signLength = (!body.empty() && body[0] == '-') ? 1 : 0;
        out += body.substr(0, signLength);
        out.append(fill, '0');
        out += body.substr(signLength);
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
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        std::size_t start = i++;
        Spec spec;
        for (; i < format.size() && (format[i] == '-' || format[i] == '0' || format[i] == '+' ||
                                     format[i] == ' ' || format[i] == '#');
             ++i) {
            if (format[i] == '-') spec.leftAlign = true;
            if (format[i] == '0') spec.zeroPad = true;
        }
        for (; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i)
            spec.width = std::min(spec.width * 10 + (format[i] - '0'), 4096);
        if (i < format.size() && format[i] == '.') {
            spec.precision = 0;
            for (++i; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i)
                spec.precision = std::min(spec.precision * 10 + (format[i] - '0'), 4096);
        }
        while (i < format.size() && (format[i] == 'l' || format[i] == 'h' || format[i] == 'z'))
            ++i;
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
        const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
        ++next;
        if (conversion == 's') {
            std::string text;
            if (arg != nullptr) text = arg->isText() ? arg->text() : std::to_string(arg->number());
            if (spec.precision >= 0 && text.size() > static_cast<std::size_t>(spec.precision))
                text.resize(static_cast<std::size_t>(spec.precision));
            pad(out, text, spec, false);
            continue;
        }
        if (arg == nullptr) {
            pad(out, std::string(), spec, false);
            continue;
        }
        std::int64_t number = arg->isText() ? 0 : arg->number();
        std::string body;
        if (conversion == 'c') {
            body.push_back(static_cast<char>(number));
        } else if (conversion == 'd' || conversion == 'i') {
            // %d prints the 32-bit value, as printf does with an int argument.
            auto value = static_cast<std::int32_t>(number);
            bool negative = value < 0;
            std::uint64_t magnitude = negative ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(value))
                                               : static_cast<std::uint64_t>(value);
            body = digits(magnitude, 10, false);
            if (spec.precision >= 0 && body.size() < static_cast<std::size_t>(spec.precision))
                body.insert(0, static_cast<std::size_t>(spec.precision) - body.size(), '0');
            if (negative) body.insert(0, 1, '-');
        } else {
            auto value = static_cast<std::uint32_t>(number);
            body = digits(value, conversion == 'u' ? 10 : 16, conversion == 'X');
            if (spec.precision >= 0 && body.size() < static_cast<std::size_t>(spec.precision))
                body.insert(0, static_cast<std::size_t>(spec.precision) - body.size(), '0');
        }
        pad(out, body, spec, true);
    }
    return out;
}

std::string formatFixed(double value, int decimals) {
    char buffer[512];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return std::isnan(value) ? "nan" : "inf";
    return std::string(buffer, result.ptr);
}

bool parseInt(std::string_view text, std::int64_t& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint64_t magnitude = 0;
    auto result = std::from_chars(text.data() + i, text.data() + text.size(), magnitude);
    if (result.ptr == text.data() + i) return false;
    value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

}  // namespace kestrel
