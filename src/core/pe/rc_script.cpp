#include "core/pe/rc_script.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>

#include "core/pe/dialog_template.h"
#include "core/pe/menu_template.h"
#include "core/pe/resource_types.h"
#include "core/pe/template_cursor.h"
#include "core/platform/text.h"

namespace kestrel {

namespace {

using ByteVector = std::vector<std::byte>;

// The largest resource a `kestrel: compiled` line may ask for, so hostile text cannot make the
// compiler allocate without bound.
constexpr std::size_t kMaxCarriedResult = std::size_t{1} << 24;
constexpr int kMaxExpressionDepth = 32;
constexpr std::size_t kCarryLineBytes = 32;

// ---------------------------------------------------------------------------------------------
// Carried bytes: lines shared by both syntaxes.

struct CarryRun {
    std::size_t offset = 0;
    ByteVector bytes;
    int line = 0;
};

struct Carry {
    bool present = false;
    std::size_t compiled = 0;
    std::size_t result = 0;
    int line = 0;
    int column = 0;
    std::vector<CarryRun> runs;
};

std::string hexNumber(std::uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
    return buffer;
}

// The carry lines that turn `compiled` into `original`, each starting with `prefix`.
std::string carryLines(Bytes original, const ByteVector& compiled, std::string_view prefix,
                       std::size_t& carried) {
    carried = 0;
    if (original.size() == compiled.size() && std::equal(original.begin(), original.end(), compiled.begin()))
        return {};
    std::string text;
    text += std::string(prefix) + "compiled " + std::to_string(compiled.size()) + " result " +
            std::to_string(original.size()) + "\n";
    auto differs = [&](std::size_t at) { return at >= compiled.size() || compiled[at] != original[at]; };
    std::size_t at = 0;
    while (at < original.size()) {
        if (!differs(at)) {
            ++at;
            continue;
        }
        // A run goes on over up to three equal bytes, which cost less in one line than in two.
        std::size_t end = at + 1;
        while (end < original.size() && end - at < kCarryLineBytes) {
            if (differs(end)) {
                ++end;
                continue;
            }
            std::size_t next = end;
            while (next < original.size() && next - end < 4 && !differs(next))
                ++next;
            if (next < original.size() && next - end < 4 && next - at < kCarryLineBytes) {
                end = next;
                continue;
            }
            break;
        }
        text += std::string(prefix) + "at " + hexNumber(at);
        for (std::size_t i = at; i < end; ++i) {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, " %02X", static_cast<unsigned>(original[i]));
            text += buffer;
        }
        text += "\n";
        carried += end - at;
        at = end;
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// Errors and positions.

class Failure {
  public:
    explicit Failure(ScriptError& error) : error_(error) {}
    bool failed() const { return failed_; }
    // Keeps the first fault: later ones follow from it.
    bool fail(int line, int column, std::string message) {
        if (!failed_) {
            failed_ = true;
            error_ = ScriptError{line, column, std::move(message)};
        }
        return false;
    }

  private:
    ScriptError& error_;
    bool failed_ = false;
};

// Reports the first byte that is not UTF-8 (WTF-8), with its line and column.
bool checkUtf8(std::string_view text, Failure& failure) {
    if (isWtf8(text)) return true;
    int line = 1;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view row = text.substr(start, end - start);
        if (!isWtf8(row)) {
            std::size_t good = 0;
            while (good < row.size() && isWtf8(row.substr(0, good + 1)))
                ++good;
            // A multi-byte sequence is valid only once complete: step back to its first byte.
            while (good > 0 && (static_cast<unsigned char>(row[good]) & 0xC0) == 0x80)
                --good;
            return failure.fail(line, static_cast<int>(good) + 1, "the text is not UTF-8");
        }
        start = end + 1;
        ++line;
    }
    return failure.fail(1, 1, "the text is not UTF-8");
}

// Reads the words of a `kestrel:` line (after the prefix) into `carry`.
bool readCarryLine(std::string_view body, int line, int column, Carry& carry, Failure& failure) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < body.size()) {
        while (at < body.size() && (body[at] == ' ' || body[at] == '\t' || body[at] == '\r'))
            ++at;
        std::size_t end = at;
        while (end < body.size() && body[end] != ' ' && body[end] != '\t' && body[end] != '\r')
            ++end;
        if (end > at) words.emplace_back(body.substr(at, end - at));
        at = end;
    }
    auto number = [&](const std::string& word, std::uint64_t limit, std::size_t& value) {
        std::uint64_t parsed = 0;
        const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
        const std::size_t first = hex ? 2 : 0;
        if (word.size() == first) return false;
        for (std::size_t i = first; i < word.size(); ++i) {
            const char c = word[i];
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0) return false;
            parsed = parsed * (hex ? 16 : 10) + static_cast<unsigned>(digit);
            if (parsed > limit) return false;
        }
        value = static_cast<std::size_t>(parsed);
        return true;
    };
    if (words.size() == 4 && words[0] == "compiled" && words[2] == "result") {
        if (carry.present) return failure.fail(line, column, "a second 'kestrel: compiled' line");
        if (!number(words[1], kMaxCarriedResult, carry.compiled) ||
            !number(words[3], kMaxCarriedResult, carry.result))
            return failure.fail(line, column, "'kestrel: compiled' needs two sizes up to 16 MiB");
        carry.present = true;
        carry.line = line;
        carry.column = column;
        return true;
    }
    if (words.size() >= 3 && words[0] == "at") {
        CarryRun run;
        run.line = line;
        if (!number(words[1], kMaxCarriedResult, run.offset))
            return failure.fail(line, column, "'kestrel: at' needs an offset up to 16 MiB");
        for (std::size_t i = 2; i < words.size(); ++i) {
            std::size_t value = 0;
            if (words[i].size() != 2 || !number("0x" + words[i], 0xFF, value))
                return failure.fail(line, column, "'kestrel: at' takes bytes as two hex digits each");
            run.bytes.push_back(static_cast<std::byte>(value));
        }
        carry.runs.push_back(std::move(run));
        return true;
    }
    return failure.fail(line, column, "unknown 'kestrel:' line");
}

bool applyCarry(const Carry& carry, ByteVector& bytes, Failure& failure) {
    if (!carry.present) {
        if (!carry.runs.empty())
            return failure.fail(carry.runs.front().line, 1,
                                "'kestrel: at' without a 'kestrel: compiled' line");
        return true;
    }
    if (bytes.size() != carry.compiled)
        return failure.fail(carry.line, carry.column,
                            "the carried bytes were taken from a text that compiled to " +
                                std::to_string(carry.compiled) + " bytes; this one compiles to " +
                                std::to_string(bytes.size()) + " (remove the 'kestrel:' lines to drop them)");
    bytes.resize(carry.result);
    for (const CarryRun& run : carry.runs) {
        if (run.offset > bytes.size() || run.bytes.size() > bytes.size() - run.offset)
            return failure.fail(run.line, 1, "carried bytes beyond the resource's end");
        std::copy(run.bytes.begin(), run.bytes.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(run.offset));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Resource-script text: writing.

// A quoted resource-script string: quotes doubled, backslashes and control characters escaped
// (octal, so a following digit cannot join the escape), everything else as UTF-8.
std::string scriptString(std::u16string_view text) {
    std::string out = "\"";
    std::u16string plain;
    auto flush = [&] {
        out += utf16ToUtf8(plain);
        plain.clear();
    };
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit != 0x7F && unit != u'"' && unit != u'\\') {
            plain.push_back(unit);
            continue;
        }
        flush();
        if (unit == u'"') {
            out += "\"\"";
        } else if (unit == u'\\') {
            out += "\\\\";
        } else if (unit == u'\t') {
            out += "\\t";
        } else if (unit == u'\n') {
            out += "\\n";
        } else if (unit == u'\r') {
            out += "\\r";
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\%03o", static_cast<unsigned>(unit));
            out += buffer;
        }
    }
    flush();
    return out + "\"";
}

std::string scriptHeader(const ScriptOptions& options, std::string_view keyword) {
    std::string text = "#pragma code_page(65001)\n";
    if (options.language != 0)
        text += "LANGUAGE " + hexNumber(options.language & 0x3FF) + ", " + hexNumber(options.language >> 10) +
                "\n";
    return text + options.name + " " + std::string(keyword) + "\n";
}

// ---------------------------------------------------------------------------------------------
// Resource-script text: reading.

struct Token {
    enum class Kind { kEnd, kWord, kNumber, kString, kComma, kOpen, kClose, kPunct };
    Kind kind = Kind::kEnd;
    std::string word;  // words upper-cased; the character of kPunct
    std::u16string string;
    std::uint32_t number = 0;
    int line = 1;
    int column = 1;
};

class ScriptLexer {
  public:
    ScriptLexer(std::string_view text, Failure& failure, Carry& carry)
        : text_(text), failure_(failure), carry_(carry) {}

    const Token& peek() {
        if (!peeked_) {
            ahead_ = read();
            peeked_ = true;
        }
        return ahead_;
    }
    Token next() {
        peek();
        peeked_ = false;
        return ahead_;
    }
    Failure& failure() { return failure_; }
    bool fail(const Token& at, std::string message) {
        return failure_.fail(at.line, at.column, std::move(message));
    }

  private:
    char at(std::size_t offset) const { return offset < text_.size() ? text_[offset] : '\0'; }
    void advance() {
        if (at(pos_) == '\n') {
            ++line_;
            lineStart_ = pos_ + 1;
        }
        ++pos_;
    }
    int column() const { return static_cast<int>(pos_ - lineStart_) + 1; }

    // Skips blanks, comments and preprocessor lines; `kestrel:` comments go to the carry.
    void skipSpace() {
        while (!failure_.failed() && pos_ < text_.size()) {
            const char c = at(pos_);
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                advance();
            } else if (c == '/' && at(pos_ + 1) == '/') {
                const int line = line_, col = column();
                std::size_t end = text_.find('\n', pos_);
                if (end == std::string_view::npos) end = text_.size();
                std::string_view body = text_.substr(pos_ + 2, end - pos_ - 2);
                const std::size_t lead = body.find_first_not_of(' ');
                if (lead != std::string_view::npos && body.substr(lead).starts_with("kestrel:"))
                    readCarryLine(body.substr(lead + 8), line, col, carry_, failure_);
                while (pos_ < end)
                    advance();
            } else if (c == '/' && at(pos_ + 1) == '*') {
                const int line = line_, col = column();
                const std::size_t end = text_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) {
                    failure_.fail(line, col, "comment not closed");
                    return;
                }
                while (pos_ < end + 2)
                    advance();
            } else if (c == '#' && atLineStart()) {
                // #pragma code_page and other preprocessor lines do not change the bytes.
                while (pos_ < text_.size() && at(pos_) != '\n')
                    advance();
            } else {
                return;
            }
        }
    }
    bool atLineStart() const {
        for (std::size_t i = lineStart_; i < pos_; ++i)
            if (text_[i] != ' ' && text_[i] != '\t') return false;
        return true;
    }

    Token read() {
        skipSpace();
        Token token;
        token.line = line_;
        token.column = column();
        if (failure_.failed() || pos_ >= text_.size()) return token;
        const char c = at(pos_);
        if (c == '"' || ((c == 'L' || c == 'l') && at(pos_ + 1) == '"')) return readString(token, c != '"');
        if (c >= '0' && c <= '9') return readNumber(token);
        if (isWordChar(c)) {
            token.kind = Token::Kind::kWord;
            while (pos_ < text_.size() && (isWordChar(at(pos_)) || (at(pos_) >= '0' && at(pos_) <= '9'))) {
                const char w = at(pos_);
                token.word.push_back(w >= 'a' && w <= 'z' ? static_cast<char>(w - 'a' + 'A') : w);
                advance();
            }
            if (token.word == "BEGIN") token.kind = Token::Kind::kOpen;
            if (token.word == "END") token.kind = Token::Kind::kClose;
            return token;
        }
        advance();
        token.kind = c == ','   ? Token::Kind::kComma
                     : c == '{' ? Token::Kind::kOpen
                     : c == '}' ? Token::Kind::kClose
                                : Token::Kind::kPunct;
        token.word = std::string(1, c);
        return token;
    }
    static bool isWordChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.' ||
               (static_cast<unsigned char>(c) >= 0x80);
    }

    Token readNumber(Token& token) {
        token.kind = Token::Kind::kNumber;
        std::uint64_t value = 0;
        int base = 10;
        if (at(pos_) == '0' && (at(pos_ + 1) == 'x' || at(pos_ + 1) == 'X')) {
            base = 16;
            advance();
            advance();
        }
        int digits = 0;
        for (;;) {
            const char c = at(pos_);
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0) break;
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
            if (value > 0xFFFFFFFFull) {
                fail(token, "number larger than 32 bits");
                return token;
            }
            ++digits;
            advance();
        }
        while (at(pos_) == 'L' || at(pos_) == 'l' || at(pos_) == 'U' || at(pos_) == 'u')
            advance();
        if (digits == 0) fail(token, "hex number without digits");
        if (isWordChar(at(pos_))) fail(token, "unexpected character in a number");
        token.number = static_cast<std::uint32_t>(value);
        return token;
    }

    Token readString(Token& token, bool wide) {
        token.kind = Token::Kind::kString;
        if (wide) advance();
        advance();  // the opening quote
        std::string plain;
        auto flush = [&] {
            token.string += utf8ToUtf16(plain);
            plain.clear();
        };
        for (;;) {
            const char c = at(pos_);
            if (pos_ >= text_.size() || c == '\n') {
                fail(token, "string not closed on its line");
                return token;
            }
            if (c == '"') {
                advance();
                if (at(pos_) != '"') break;
                plain.push_back('"');
                advance();
                continue;
            }
            if (c != '\\') {
                plain.push_back(c);
                advance();
                continue;
            }
            flush();
            advance();
            const char e = at(pos_);
            std::uint32_t unit = 0;
            if (e == 'n' || e == 'r' || e == 't' || e == 'a' || e == '\\' || e == '"') {
                unit = e == 'n' ? 10 : e == 'r' ? 13 : e == 't' ? 9 : e == 'a' ? 7 : static_cast<unsigned>(e);
                advance();
            } else if (e >= '0' && e <= '7') {
                for (int i = 0; i < 3 && at(pos_) >= '0' && at(pos_) <= '7'; ++i) {
                    unit = unit * 8 + static_cast<unsigned>(at(pos_) - '0');
                    advance();
                }
            } else if (e == 'x' || e == 'X') {
                advance();
                int digits = 0;
                for (; digits < (wide ? 4 : 2); ++digits) {
                    const char h = at(pos_);
                    int digit = h >= '0' && h <= '9'   ? h - '0'
                                : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                       : -1;
                    if (digit < 0) break;
                    unit = unit * 16 + static_cast<unsigned>(digit);
                    advance();
                }
                if (digits == 0) {
                    failure_.fail(line_, column(), "\\x without hex digits");
                    return token;
                }
            } else {
                failure_.fail(line_, column(), "unknown escape in a string");
                return token;
            }
            token.string.push_back(static_cast<char16_t>(unit));
        }
        flush();
        return token;
    }

    std::string_view text_;
    Failure& failure_;
    Carry& carry_;
    std::size_t pos_ = 0;
    std::size_t lineStart_ = 0;
    int line_ = 1;
    Token ahead_;
    bool peeked_ = false;
};

// A number expression: terms joined by '|' or '+', each a number, '-' or '~' before a term, or an
// expression in parentheses.
bool expression(ScriptLexer& in, std::uint32_t& value, int depth = 0);

bool term(ScriptLexer& in, std::uint32_t& value, int depth) {
    const Token token = in.next();
    if (depth > kMaxExpressionDepth) return in.fail(token, "expression nested too deeply");
    if (token.kind == Token::Kind::kNumber) {
        value = token.number;
        return !in.failure().failed();
    }
    if (token.kind == Token::Kind::kPunct && (token.word == "-" || token.word == "~")) {
        if (!term(in, value, depth + 1)) return false;
        value = token.word == "-" ? 0u - value : ~value;
        return true;
    }
    if (token.kind == Token::Kind::kPunct && token.word == "(") {
        if (!expression(in, value, depth + 1)) return false;
        const Token close = in.next();
        if (close.kind != Token::Kind::kPunct || close.word != ")") return in.fail(close, "')' expected");
        return true;
    }
    return in.fail(token, "number expected");
}

bool expression(ScriptLexer& in, std::uint32_t& value, int depth) {
    if (!term(in, value, depth)) return false;
    for (;;) {
        const Token& op = in.peek();
        if (op.kind != Token::Kind::kPunct || (op.word != "|" && op.word != "+"))
            return !in.failure().failed();
        const bool plus = op.word == "+";
        in.next();
        std::uint32_t right = 0;
        if (!term(in, right, depth)) return false;
        value = plus ? value + right : value | right;
    }
}

bool fieldExpression(ScriptLexer& in, std::uint32_t limit, std::uint32_t& value) {
    const Token at = in.peek();
    if (!expression(in, value)) return false;
    // Negative numbers are written as their two's complement in the field.
    if (value > limit && value < 0xFFFFFFFFu - limit)
        return in.fail(at, "number out of range (0 to " + std::to_string(limit) + ")");
    value &= limit;
    return true;
}

bool expect(ScriptLexer& in, Token::Kind kind, std::string_view what) {
    const Token token = in.next();
    if (token.kind != kind) return in.fail(token, std::string(what) + " expected");
    return !in.failure().failed();
}

// The header: an optional LANGUAGE statement, the name, the keyword (one of `keywords`), then
// optional statements up to BEGIN. Returns the keyword.
using HeaderHook = std::function<bool(ScriptLexer&, const Token&)>;

bool header(ScriptLexer& in, std::initializer_list<std::string_view> keywords, std::string& keyword,
            const HeaderHook& afterKeyword = {}, const HeaderHook& hook = {}) {
    Token token = in.next();
    std::uint32_t ignored = 0;
    if (token.kind == Token::Kind::kWord && token.word == "LANGUAGE") {
        if (!expression(in, ignored) || !expect(in, Token::Kind::kComma, "','") || !expression(in, ignored))
            return false;
        token = in.next();
    }
    if (token.kind != Token::Kind::kWord && token.kind != Token::Kind::kNumber &&
        token.kind != Token::Kind::kString)
        return in.fail(token, "resource name expected");
    const Token type = in.next();
    if (type.kind != Token::Kind::kWord ||
        std::find(keywords.begin(), keywords.end(), type.word) == keywords.end()) {
        std::string names;
        for (std::string_view name : keywords)
            names += (names.empty() ? "" : " or ") + std::string(name);
        return in.fail(type, names + " expected");
    }
    keyword = type.word;
    if (afterKeyword && !afterKeyword(in, type)) return false;
    for (;;) {
        const Token statement = in.next();
        if (hook && statement.kind == Token::Kind::kWord && hook(in, statement)) {
            if (in.failure().failed()) return false;
            continue;
        }
        if (statement.kind == Token::Kind::kOpen) return !in.failure().failed();
        if (statement.kind == Token::Kind::kWord &&
            (statement.word == "LANGUAGE" || statement.word == "CHARACTERISTICS" ||
             statement.word == "VERSION")) {
            if (!expression(in, ignored)) return false;
            if (statement.word == "LANGUAGE" &&
                (!expect(in, Token::Kind::kComma, "','") || !expression(in, ignored)))
                return false;
            continue;
        }
        return in.fail(statement, "BEGIN expected");
    }
}

bool atEndOfText(ScriptLexer& in) {
    const Token token = in.next();
    if (token.kind != Token::Kind::kEnd) return in.fail(token, "text after the resource's END");
    return !in.failure().failed();
}

template <typename Parse>
HResult compileScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error, Parse parse) {
    out.clear();
    Failure failure(error);
    Carry carry;
    ByteVector bytes;
    if (checkUtf8(text, failure)) {
        ScriptLexer in(text, failure, carry);
        if (parse(in, bytes) && atEndOfText(in)) applyCarry(carry, bytes, failure);
    }
    if (failure.failed()) return kFail;
    out = std::move(bytes);
    return kOk;
}

// Appends the carry lines to `text`. False when the text does not compile at all (a message table
// with an ID twice, say): such a resource has no text form.
template <typename Compile>
bool finishText(Bytes data, std::string text, std::string_view prefix, Compile compile, ScriptText& out) {
    ByteVector compiled;
    ScriptError error;
    if (compile(text, compiled, error).failed()) return false;
    out.text = std::move(text);
    out.text += carryLines(data, compiled, prefix, out.carriedBytes);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Accelerators.

constexpr std::uint16_t kAccelVirtKey = 0x01;
constexpr std::uint16_t kAccelNoInvert = 0x02;
constexpr std::uint16_t kAccelShift = 0x04;
constexpr std::uint16_t kAccelControl = 0x08;
constexpr std::uint16_t kAccelAlt = 0x10;
constexpr std::uint16_t kAccelLast = 0x80;
constexpr std::size_t kAccelEntrySize = 8;

struct FlagName {
    std::uint32_t bit;
    const char* name;
};
constexpr FlagName kAccelFlags[] = {{kAccelVirtKey, "VIRTKEY"},
                                    {kAccelNoInvert, "NOINVERT"},
                                    {kAccelShift, "SHIFT"},
                                    {kAccelControl, "CONTROL"},
                                    {kAccelAlt, "ALT"}};

bool parseAccelerators(ScriptLexer& in, ByteVector& bytes) {
    std::string keyword;
    if (!header(in, {"ACCELERATORS"}, keyword)) return false;
    ByteWriter out;
    std::size_t lastFlags = 0;
    for (;;) {
        const Token event = in.peek();
        if (event.kind == Token::Kind::kClose) {
            in.next();
            break;
        }
        std::uint32_t key = 0;
        bool fromString = false;
        if (event.kind == Token::Kind::kString) {
            in.next();
            const std::u16string& s = event.string;
            if (s.size() == 2 && s[0] == u'^' &&
                ((s[1] >= u'A' && s[1] <= u'Z') || (s[1] >= u'a' && s[1] <= u'z')))
                key = static_cast<std::uint32_t>((s[1] & ~0x20) - 0x40);
            else if (s.size() == 1)
                key = s[0];
            else
                return in.fail(event, "a key is one character or '^' and a letter");
            fromString = true;
        } else if (event.kind == Token::Kind::kEnd) {
            return in.fail(event, "END expected");
        } else if (!fieldExpression(in, 0xFFFF, key)) {
            return false;
        }
        std::uint32_t id = 0;
        if (!expect(in, Token::Kind::kComma, "','") || !fieldExpression(in, 0xFFFF, id)) return false;
        std::uint16_t flags = 0;
        while (in.peek().kind == Token::Kind::kComma) {
            in.next();
            const Token option = in.next();
            if (option.kind != Token::Kind::kWord) return in.fail(option, "accelerator option expected");
            if (option.word == "ASCII") {
                flags &= static_cast<std::uint16_t>(~kAccelVirtKey);
                continue;
            }
            const auto known = std::find_if(std::begin(kAccelFlags), std::end(kAccelFlags),
                                            [&](const FlagName& flag) { return option.word == flag.name; });
            if (known == std::end(kAccelFlags))
                return in.fail(option, "unknown accelerator option " + option.word);
            flags = static_cast<std::uint16_t>(flags | known->bit);
        }
        if (fromString && (flags & kAccelVirtKey) != 0 && key >= 'a' && key <= 'z') key -= 0x20;
        lastFlags = out.size();
        out.u16(flags);
        out.u16(key);
        out.u16(id);
        out.u16(0);
    }
    if (out.size() != 0) out.bytes()[lastFlags] |= std::byte{kAccelLast};
    bytes = std::move(out.bytes());
    return true;
}

// ---------------------------------------------------------------------------------------------
// Menus.

constexpr std::uint16_t kMenuClassicVersion = 0;
constexpr std::uint16_t kMenuExtendedVersion = 1;
constexpr std::uint16_t kMenuExtendedOffset = 4;
constexpr std::uint16_t kResInfoPopup = 0x01;
constexpr std::uint16_t kResInfoEnd = 0x80;
constexpr std::uint32_t kMftSeparator = 0x800;

// Options of a classic item that resource scripts name.
constexpr FlagName kMenuOptions[] = {{menu_flag::kGrayed, "GRAYED"},
                                     {menu_flag::kDisabled, "INACTIVE"},
                                     {menu_flag::kBitmap, "BITMAP"},
                                     {menu_flag::kChecked, "CHECKED"},
                                     {menu_flag::kMenuBarBreak, "MENUBARBREAK"},
                                     {menu_flag::kMenuBreak, "MENUBREAK"},
                                     {menu_flag::kOwnerDraw, "OWNERDRAW"},
                                     {menu_flag::kRightJustify, "HELP"}};

// An item as stored, every field kept, so the text names exactly what the template holds.
struct RawMenuItem {
    std::uint32_t flags = 0;  // classic flags, or the extended type
    std::uint32_t state = 0;
    std::uint32_t id = 0;
    std::uint16_t resInfo = 0;
    bool popup = false;
    std::u16string text;
    std::uint32_t helpId = 0;
    std::vector<RawMenuItem> children;
};

bool readRawClassic(TemplateCursor& in, int level, std::vector<RawMenuItem>& items) {
    if (level > kMaxMenuDepth) return false;
    for (;;) {
        RawMenuItem item;
        item.flags = in.u16();
        item.popup = (item.flags & menu_flag::kPopup) != 0;
        if (!item.popup) item.id = in.u16();
        item.text = in.text();
        if (!in.ok()) return false;
        if (item.popup && !readRawClassic(in, level + 1, item.children)) return false;
        const bool last = (item.flags & menu_flag::kEnd) != 0;
        items.push_back(std::move(item));
        if (last) return true;
    }
}

bool readRawExtended(TemplateCursor& in, int level, std::vector<RawMenuItem>& items) {
    if (level > kMaxMenuDepth) return false;
    for (;;) {
        RawMenuItem item;
        item.flags = in.u32();
        item.state = in.u32();
        item.id = in.u32();
        item.resInfo = in.u16();
        item.text = in.text();
        in.alignTo4();
        item.popup = (item.resInfo & kResInfoPopup) != 0;
        if (item.popup) item.helpId = in.u32();
        if (!in.ok()) return false;
        if (item.popup && !readRawExtended(in, level + 1, item.children)) return false;
        const bool last = (item.resInfo & kResInfoEnd) != 0;
        items.push_back(std::move(item));
        if (last) return true;
    }
}

void writeMenuItems(const std::vector<RawMenuItem>& items, bool extended, int level, std::string& text) {
    const std::string indent(static_cast<std::size_t>(level) * 4, ' ');
    for (const RawMenuItem& item : items) {
        text += indent;
        if (extended) {
            text += (item.popup ? "POPUP " : "MENUITEM ") + scriptString(item.text);
            std::vector<std::string> fields{std::to_string(item.id), hexNumber(item.flags),
                                            hexNumber(item.state)};
            if (item.popup) fields.push_back(std::to_string(item.helpId));
            while (!fields.empty() && (fields.back() == "0" || fields.back() == "0x0"))
                fields.pop_back();
            for (const std::string& field : fields)
                text += ", " + field;
        } else {
            const std::uint32_t options = item.flags & ~(menu_flag::kPopup | menu_flag::kEnd);
            if (!item.popup && options == 0 && item.id == 0 && item.text.empty()) {
                text += "MENUITEM SEPARATOR";
            } else {
                text += item.popup ? "POPUP " + scriptString(item.text)
                                   : "MENUITEM " + scriptString(item.text) + ", " + std::to_string(item.id);
                for (const FlagName& option : kMenuOptions)
                    if ((options & option.bit) != 0) text += std::string(", ") + option.name;
            }
        }
        text += "\n";
        if (item.popup) {
            text += indent + "BEGIN\n";
            writeMenuItems(item.children, extended, level + 1, text);
            text += indent + "END\n";
        }
    }
}

bool parseMenuItems(ScriptLexer& in, bool extended, int level, ByteWriter& out) {
    if (level > kMaxMenuDepth)
        return in.fail(in.peek(), "menus nest deeper than " + std::to_string(kMaxMenuDepth) + " levels");
    std::size_t lastFlags = 0;
    bool any = false;
    for (;;) {
        const Token token = in.next();
        if (token.kind == Token::Kind::kClose) break;
        if (token.kind != Token::Kind::kWord || (token.word != "MENUITEM" && token.word != "POPUP"))
            return in.fail(
                token, token.kind == Token::Kind::kEnd ? "END expected" : "MENUITEM, POPUP or END expected");
        const bool popup = token.word == "POPUP";
        std::u16string label;
        std::uint32_t fields[4] = {0, 0, 0, 0};  // classic: flags; extended: id, type, state, help ID
        if (!popup && in.peek().kind == Token::Kind::kWord && in.peek().word == "SEPARATOR") {
            in.next();
            if (extended) fields[1] = kMftSeparator;
        } else {
            const Token name = in.next();
            if (name.kind != Token::Kind::kString) return in.fail(name, "quoted item text expected");
            label = name.string;
            if (extended) {
                const int count = popup ? 4 : 3;
                for (int i = 0; i < count && in.peek().kind == Token::Kind::kComma; ++i) {
                    in.next();
                    if (!fieldExpression(in, 0xFFFFFFFFu, fields[i])) return false;
                }
            } else {
                if (!popup) {
                    std::uint32_t id = 0;
                    if (!expect(in, Token::Kind::kComma, "',' and the item's ID") ||
                        !fieldExpression(in, 0xFFFF, id))
                        return false;
                    fields[1] = id;
                }
                // Options follow with or without commas between them.
                for (;;) {
                    const bool comma = in.peek().kind == Token::Kind::kComma;
                    if (comma) in.next();
                    const Token option = in.peek();
                    const auto known =
                        std::find_if(std::begin(kMenuOptions), std::end(kMenuOptions),
                                     [&](const FlagName& flag) { return option.word == flag.name; });
                    if (option.kind != Token::Kind::kWord || known == std::end(kMenuOptions)) {
                        if (comma) return in.fail(option, "menu item option expected");
                        break;
                    }
                    in.next();
                    fields[0] |= known->bit;
                }
            }
        }
        if (in.failure().failed()) return false;
        any = true;
        if (extended) {
            out.alignTo(4);
            lastFlags = out.size() + 12;
            out.u32(fields[1]);
            out.u32(fields[2]);
            out.u32(fields[0]);
            out.u16(popup ? kResInfoPopup : 0);
        } else {
            lastFlags = out.size();
            out.u16(fields[0] | (popup ? menu_flag::kPopup : 0));
            if (!popup) out.u16(fields[1]);
        }
        for (char16_t unit : label)
            out.u16(unit);
        out.u16(0);
        if (extended) out.alignTo(4);
        if (popup) {
            if (extended) out.u32(fields[3]);
            if (!expect(in, Token::Kind::kOpen, "BEGIN")) return false;
            if (in.peek().kind == Token::Kind::kClose)
                return in.fail(in.peek(), "a POPUP needs at least one item");
            if (!parseMenuItems(in, extended, level + 1, out)) return false;
        }
    }
    if (any) out.bytes()[lastFlags] |= std::byte{0x80};
    return true;
}

bool parseMenu(ScriptLexer& in, ByteVector& bytes) {
    std::string keyword;
    if (!header(in, {"MENU", "MENUEX"}, keyword)) return false;
    const bool extended = keyword == "MENUEX";
    ByteWriter out;
    out.u16(extended ? kMenuExtendedVersion : kMenuClassicVersion);
    out.u16(extended ? kMenuExtendedOffset : 0);
    if (extended) out.u32(0);
    if (!parseMenuItems(in, extended, 1, out)) return false;
    bytes = std::move(out.bytes());
    return true;
}

// ---------------------------------------------------------------------------------------------
// Dialogs.

constexpr std::uint16_t kDialogExtendedVersion = 1;
constexpr std::uint16_t kDialogExtendedSignature = 0xFFFF;
// What a dialog without a STYLE statement gets: WS_POPUP | WS_BORDER | WS_SYSMENU.
constexpr std::uint32_t kDefaultDialogStyle = 0x80880000;
constexpr std::size_t kMaxDialogItems = 0xFFFF;

struct ClassName {
    std::uint16_t ordinal;
    const char* name;
};
constexpr ClassName kDialogClasses[] = {
    {dialog_class::kButton, "BUTTON"},       {dialog_class::kEdit, "EDIT"},
    {dialog_class::kStatic, "STATIC"},       {dialog_class::kListBox, "LISTBOX"},
    {dialog_class::kScrollBar, "SCROLLBAR"}, {dialog_class::kComboBox, "COMBOBOX"}};

std::string nameOrOrdinalText(const NameOrOrdinal& field) {
    if (field.isOrdinal()) return std::to_string(field.ordinal);
    return scriptString(field.text);
}

// A control's class: its name quoted, or its ordinal as a number (other compilers take no
// predefined class keyword in a CONTROL statement; this one reads BUTTON, EDIT, STATIC, LISTBOX,
// SCROLLBAR and COMBOBOX too).
std::string classText(const NameOrOrdinal& field) {
    if (field.isOrdinal()) return hexNumber(field.ordinal);
    return scriptString(field.text);
}

void writeNameOrOrdinal(const NameOrOrdinal& field, ByteWriter& out) {
    if (field.isOrdinal()) {
        out.u16(kOrdinalMarker);
        out.u16(field.ordinal);
        return;
    }
    for (char16_t unit : field.text)
        out.u16(unit);
    out.u16(0);
}

// A quoted text (empty means none) or a 16-bit number (an ordinal).
bool nameOrOrdinalField(ScriptLexer& in, NameOrOrdinal& field, bool classes) {
    const Token& token = in.peek();
    field = NameOrOrdinal{};
    if (token.kind == Token::Kind::kString) {
        const Token string = in.next();
        if (!string.string.empty()) {
            field.kind = NameOrOrdinal::Kind::kText;
            field.text = string.string;
        }
        return true;
    }
    if (classes && token.kind == Token::Kind::kWord) {
        const Token word = in.next();
        for (const ClassName& known : kDialogClasses) {
            if (word.word == known.name) {
                field.kind = NameOrOrdinal::Kind::kOrdinal;
                field.ordinal = known.ordinal;
                return true;
            }
        }
        return in.fail(word, "unknown control class " + word.word);
    }
    std::uint32_t value = 0;
    if (!fieldExpression(in, 0xFFFF, value)) return false;
    field.kind = NameOrOrdinal::Kind::kOrdinal;
    field.ordinal = static_cast<std::uint16_t>(value);
    return true;
}

// A control's style: WS_CHILD | WS_VISIBLE, with the terms joined by '|' added and those after NOT
// taken away, as resource compilers read a CONTROL statement.
constexpr std::uint32_t kControlDefaultStyle = 0x50000000;
constexpr std::uint32_t kWsVisible = 0x10000000;
constexpr std::uint32_t kWsChild = 0x40000000;

bool controlStyle(ScriptLexer& in, std::uint32_t& style) {
    style = kControlDefaultStyle;
    for (;;) {
        const bool negate = in.peek().kind == Token::Kind::kWord && in.peek().word == "NOT";
        if (negate) in.next();
        std::uint32_t value = 0;
        if (!term(in, value, 0)) return false;
        style = negate ? style & ~value : style | value;
        const Token& op = in.peek();
        if (op.kind != Token::Kind::kPunct || op.word != "|") return !in.failure().failed();
        in.next();
    }
}

std::string controlStyleText(std::uint32_t style) {
    std::string text = hexNumber(style);
    if ((style & kWsVisible) == 0) text += " | NOT " + hexNumber(kWsVisible);
    if ((style & kWsChild) == 0) text += " | NOT " + hexNumber(kWsChild);
    return text;
}

bool commaThen(ScriptLexer& in, std::uint32_t limit, std::uint32_t& value) {
    return expect(in, Token::Kind::kComma, "','") && fieldExpression(in, limit, value);
}

bool parseDialog(ScriptLexer& in, ByteVector& bytes) {
    DialogTemplate dialog;
    bool styled = false;
    std::optional<Token> styleToken;
    auto position = [&](ScriptLexer& lexer, const Token& keyword) {
        dialog.extended = keyword.word == "DIALOGEX";
        std::uint32_t values[4] = {};
        if (!fieldExpression(lexer, 0xFFFF, values[0])) return false;
        for (int i = 1; i < 4; ++i)
            if (!commaThen(lexer, 0xFFFF, values[i])) return false;
        dialog.x = static_cast<std::int16_t>(values[0]);
        dialog.y = static_cast<std::int16_t>(values[1]);
        dialog.cx = static_cast<std::int16_t>(values[2]);
        dialog.cy = static_cast<std::int16_t>(values[3]);
        if (dialog.extended && lexer.peek().kind == Token::Kind::kComma) {
            lexer.next();
            if (!fieldExpression(lexer, 0xFFFFFFFFu, dialog.helpId)) return false;
        }
        return true;
    };
    auto statement = [&](ScriptLexer& lexer, const Token& word) {
        if (word.word == "STYLE") {
            styled = true;
            styleToken = lexer.peek();
            return fieldExpression(lexer, 0xFFFFFFFFu, dialog.style) || true;
        }
        if (word.word == "EXSTYLE") return fieldExpression(lexer, 0xFFFFFFFFu, dialog.exStyle) || true;
        if (word.word == "CAPTION") {
            const Token caption = lexer.next();
            if (caption.kind != Token::Kind::kString)
                return lexer.fail(caption, "quoted caption expected") || true;
            dialog.title = caption.string;
            return true;
        }
        if (word.word == "MENU") return nameOrOrdinalField(lexer, dialog.menu, false) || true;
        if (word.word == "CLASS") return nameOrOrdinalField(lexer, dialog.windowClass, false) || true;
        if (word.word == "FONT") {
            std::uint32_t value = 0;
            if (!fieldExpression(lexer, 0xFFFF, value) || !expect(lexer, Token::Kind::kComma, "','"))
                return true;
            dialog.hasFont = true;
            dialog.pointSize = static_cast<std::uint16_t>(value);
            const Token face = lexer.next();
            if (face.kind != Token::Kind::kString)
                return lexer.fail(face, "quoted typeface expected") || true;
            dialog.typeface = face.string;
            if (dialog.extended && lexer.peek().kind == Token::Kind::kComma) {
                std::uint32_t weight = 0, italic = 0, charset = 0;
                if (!commaThen(lexer, 0xFFFF, weight) || !commaThen(lexer, 0xFF, italic) ||
                    !commaThen(lexer, 0xFF, charset))
                    return true;
                dialog.weight = static_cast<std::uint16_t>(weight);
                dialog.italic = italic != 0;
                dialog.charset = static_cast<std::uint8_t>(charset);
            }
            return true;
        }
        return false;
    };
    std::string keyword;
    if (!header(in, {"DIALOG", "DIALOGEX"}, keyword, position, statement)) return false;
    if (!styled) dialog.style = kDefaultDialogStyle;
    if (dialog.hasFont) dialog.style |= kDsSetFont;
    if (!dialog.hasFont && (dialog.style & kDsSetFont) != 0)
        return in.fail(*styleToken, "STYLE holds DS_SETFONT (0x40) but there is no FONT statement");

    for (;;) {
        const Token token = in.next();
        if (token.kind == Token::Kind::kClose) break;
        if (token.kind != Token::Kind::kWord || token.word != "CONTROL")
            return in.fail(token,
                           token.kind == Token::Kind::kEnd ? "END expected" : "CONTROL or END expected");
        if (dialog.items.size() >= kMaxDialogItems) return in.fail(token, "more than 65535 controls");
        DialogItem item;
        std::uint32_t id = 0, values[4] = {};
        if (!nameOrOrdinalField(in, item.title, false) ||
            !commaThen(in, dialog.extended ? 0xFFFFFFFFu : 0xFFFF, id) ||
            !expect(in, Token::Kind::kComma, "','") || !nameOrOrdinalField(in, item.windowClass, true) ||
            !expect(in, Token::Kind::kComma, "','") || !controlStyle(in, item.style))
            return false;
        for (std::uint32_t& value : values)
            if (!commaThen(in, 0xFFFF, value)) return false;
        item.id = id;
        item.x = static_cast<std::int16_t>(values[0]);
        item.y = static_cast<std::int16_t>(values[1]);
        item.cx = static_cast<std::int16_t>(values[2]);
        item.cy = static_cast<std::int16_t>(values[3]);
        if (in.peek().kind == Token::Kind::kComma) {
            in.next();
            if (!fieldExpression(in, 0xFFFFFFFFu, item.exStyle)) return false;
            if (dialog.extended && in.peek().kind == Token::Kind::kComma) {
                in.next();
                if (!fieldExpression(in, 0xFFFFFFFFu, item.helpId)) return false;
            }
        }
        dialog.items.push_back(std::move(item));
    }
    if (in.failure().failed()) return false;

    ByteWriter out;
    if (dialog.extended) {
        out.u16(kDialogExtendedVersion);
        out.u16(kDialogExtendedSignature);
        out.u32(dialog.helpId);
        out.u32(dialog.exStyle);
        out.u32(dialog.style);
    } else {
        out.u32(dialog.style);
        out.u32(dialog.exStyle);
    }
    out.u16(static_cast<std::uint32_t>(dialog.items.size()));
    for (std::int16_t value : {dialog.x, dialog.y, dialog.cx, dialog.cy})
        out.u16(static_cast<std::uint16_t>(value));
    writeNameOrOrdinal(dialog.menu, out);
    writeNameOrOrdinal(dialog.windowClass, out);
    for (char16_t unit : dialog.title)
        out.u16(unit);
    out.u16(0);
    if (dialog.hasFont) {
        out.u16(dialog.pointSize);
        if (dialog.extended) {
            out.u16(dialog.weight);
            out.u8(dialog.italic ? 1 : 0);
            out.u8(dialog.charset);
        }
        for (char16_t unit : dialog.typeface)
            out.u16(unit);
        out.u16(0);
    }
    for (const DialogItem& item : dialog.items) {
        out.alignTo(4);
        if (dialog.extended) {
            out.u32(item.helpId);
            out.u32(item.exStyle);
            out.u32(item.style);
        } else {
            out.u32(item.style);
            out.u32(item.exStyle);
        }
        for (std::int16_t value : {item.x, item.y, item.cx, item.cy})
            out.u16(static_cast<std::uint16_t>(value));
        dialog.extended ? out.u32(item.id) : out.u16(item.id);
        writeNameOrOrdinal(item.windowClass, out);
        writeNameOrOrdinal(item.title, out);
        out.u16(0);  // no creation data
    }
    bytes = std::move(out.bytes());
    return true;
}

// ---------------------------------------------------------------------------------------------
// Message tables.

constexpr std::uint16_t kMessageUnicode = 0x0001;
constexpr std::size_t kMessageBlockSize = 12;
constexpr std::size_t kMessageEntryHeader = 4;

struct Message {
    std::uint32_t id = 0;
    bool ansi = false;
    std::u16string text;  // 8-bit entries: one unit per byte
    int line = 0;
};

HResult readMessageTable(Bytes data, std::vector<Message>& messages) {
    const ByteReader reader(data);
    const std::optional<std::uint32_t> count = reader.u32(0);
    if (!count || *count > data.size() / kMessageBlockSize) return kFail;
    // Every entry takes at least its 4-byte header; more entries than fit mean blocks that overlap.
    const std::size_t maxMessages = data.size() / kMessageEntryHeader;
    for (std::uint32_t block = 0; block < *count; ++block) {
        const std::size_t at = 4 + block * kMessageBlockSize;
        const std::optional<std::uint32_t> low = reader.u32(at), high = reader.u32(at + 4),
                                           offset = reader.u32(at + 8);
        if (!low || !high || !offset || *high < *low) return kFail;
        // Each entry takes at least its 4-byte header, which bounds how many a block can have.
        if (*high - *low >= data.size() / kMessageEntryHeader) return kFail;
        std::uint64_t position = *offset;
        for (std::uint64_t id = *low; id <= *high; ++id) {
            const std::optional<std::uint16_t> length = reader.u16(position),
                                               flags = reader.u16(position + 2);
            if (!length || !flags || *length < kMessageEntryHeader || !reader.contains(position, *length))
                return kFail;
            Message message;
            message.id = static_cast<std::uint32_t>(id);
            message.ansi = (*flags & kMessageUnicode) == 0;
            const std::size_t size = *length - kMessageEntryHeader;
            const Bytes body = *reader.span(position + kMessageEntryHeader, size);
            if (message.ansi) {
                for (std::byte b : body)
                    message.text.push_back(static_cast<char16_t>(b));
            } else {
                for (std::size_t i = 0; i + 1 < size; i += 2)
                    message.text.push_back(static_cast<char16_t>(static_cast<unsigned>(body[i]) |
                                                                 (static_cast<unsigned>(body[i + 1]) << 8)));
            }
            while (!message.text.empty() && message.text.back() == 0)
                message.text.pop_back();
            if (messages.size() >= maxMessages) return kFail;
            messages.push_back(std::move(message));
            position += *length;
        }
    }
    return kOk;
}

void writeMessageEntry(const Message& message, ByteWriter& out) {
    const std::size_t start = out.size();
    out.u16(0);
    out.u16(message.ansi ? 0 : kMessageUnicode);
    for (char16_t unit : message.text)
        message.ansi ? out.u8(unit) : out.u16(unit);
    message.ansi ? out.u8(0) : out.u16(0);
    out.alignTo(4);
    out.patchU16(start, static_cast<std::uint32_t>(out.size() - start));
}

std::string languageName(std::uint16_t language) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "Lang%04X", language);
    return buffer;
}

// A decimal or 0x-prefixed number up to `limit`.
bool plainNumber(std::string_view digits, std::uint64_t limit, std::uint32_t& value) {
    const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    const std::size_t first = hex ? 2 : 0;
    if (digits.size() == first) return false;
    std::uint64_t parsed = 0;
    for (std::size_t i = first; i < digits.size(); ++i) {
        const char c = digits[i];
        const int digit = c >= '0' && c <= '9'          ? c - '0'
                          : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                        : -1;
        if (digit < 0) return false;
        parsed = parsed * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (parsed > limit) return false;
    }
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

using NameValues = std::vector<std::pair<std::string, std::uint32_t>>;

// The entries of a SeverityNames or FacilityNames list, `Name=value` or `Name=value:symbol`.
bool readNameList(std::string_view list, std::uint32_t limit, int line, int column, NameValues& names,
                  Failure& failure) {
    std::size_t at = 0;
    while (at < list.size()) {
        while (at < list.size() &&
               (list[at] == ' ' || list[at] == '\t' || list[at] == '\n' || list[at] == '\r'))
            ++at;
        std::size_t end = at;
        while (end < list.size() && list[end] != ' ' && list[end] != '\t' && list[end] != '\n' &&
               list[end] != '\r')
            ++end;
        if (end == at) break;
        const std::string_view entry = list.substr(at, end - at);
        at = end;
        const std::size_t equals = entry.find('=');
        std::uint32_t value = 0;
        if (equals == std::string_view::npos || equals == 0 ||
            !plainNumber(entry.substr(equals + 1, entry.find(':') == std::string_view::npos
                                                      ? std::string_view::npos
                                                      : entry.find(':') - equals - 1),
                         limit, value))
            return failure.fail(line, column, "a 'Name=number' entry expected in the list");
        names.emplace_back(std::string(entry.substr(0, equals)), value);
    }
    return true;
}

// Message-compiler text is read line by line. Severity= and Facility= apply to their message and
// the ones after it; with either of them set, MessageId is the 16-bit code of the full ID.
bool parseMessageTable(std::string_view text, Failure& failure, Carry& carry, ByteVector& bytes) {
    NameValues severities{{"Success", 0}, {"Informational", 1}, {"Warning", 2}, {"Error", 3}};
    NameValues facilities{{"System", 0xFF}, {"Application", 0xFFF}};
    std::uint32_t severity = 0, facility = 0;
    std::string pendingList;
    NameValues* pendingNames = nullptr;
    std::uint32_t pendingLimit = 0;
    int pendingLine = 0, pendingColumn = 0;
    auto lookUp = [&](const NameValues& names, std::string_view name, std::uint32_t& value) {
        for (const auto& [known, number] : names) {
            if (known == name) {
                value = number;
                return true;
            }
        }
        return false;
    };
    std::vector<Message> messages;
    bool ansiNext = false;
    std::optional<Message> open;  // a message whose text lines are being read
    bool inText = false;
    // The MessageId= waiting for its Language= line; a plain flag and value rather than an
    // optional, which GCC's optimiser misreads as possibly uninitialised.
    bool haveNextId = false;
    std::uint32_t nextId = 0;
    std::uint32_t previousId = 0;
    bool anyId = false;
    int line = 0;
    std::size_t start = 0;
    bool inParens = false;
    bool lineFeedOnly = false;
    while (start < text.size()) {
        ++line;
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view row = text.substr(start, end - start);
        start = end + 1;
        if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
        if (inText) {
            if (row == ".") {
                messages.push_back(std::move(*open));
                open.reset();
                inText = false;
                continue;
            }
            open->text += utf8ToUtf16(row);
            open->text += u'\n';
            continue;
        }
        if (inParens) {
            const std::size_t close = row.find(')');
            pendingList += " " + std::string(row.substr(0, close));
            if (close != std::string_view::npos) {
                inParens = false;
                if (pendingNames != nullptr && !readNameList(pendingList, pendingLimit, pendingLine,
                                                             pendingColumn, *pendingNames, failure))
                    return false;
            }
            continue;
        }
        const std::size_t lead = row.find_first_not_of(" \t");
        if (lead == std::string_view::npos) continue;
        row.remove_prefix(lead);
        const int column = static_cast<int>(lead) + 1;
        if (row.front() == ';') {
            std::string_view body = row.substr(1);
            if (body.starts_with("//")) body.remove_prefix(2);
            const std::size_t first = body.find_first_not_of(' ');
            if (first != std::string_view::npos && body.substr(first).starts_with("kestrel:")) {
                std::string_view words = body.substr(first + 8);
                const std::size_t w = words.find_first_not_of(' ');
                if (w != std::string_view::npos && words.substr(w) == "ansi") {
                    ansiNext = true;
                } else if (w != std::string_view::npos && words.substr(w) == "line-end lf") {
                    lineFeedOnly = true;
                } else if (!readCarryLine(words, line, column, carry, failure)) {
                    return false;
                }
            }
            continue;
        }
        const std::size_t equals = row.find('=');
        if (equals == std::string_view::npos)
            return failure.fail(line, column, "a 'Keyword=value' line expected");
        std::string key(row.substr(0, equals));
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.pop_back();
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        std::string_view value = row.substr(equals + 1);
        const std::size_t valueLead = value.find_first_not_of(" \t");
        value = valueLead == std::string_view::npos ? std::string_view{} : value.substr(valueLead);
        const int valueColumn = column + static_cast<int>(equals) + 1 +
                                static_cast<int>(valueLead == std::string_view::npos ? 0 : valueLead);
        if (key == "messageid") {
            if (haveNextId)
                return failure.fail(line, column, "MessageId without Language= and text before it");
            std::uint32_t id = anyId ? previousId + 1 : 0;
            const std::string_view digits = value.substr(0, value.find_first_of(" \t"));
            if (!digits.empty() && !plainNumber(digits, 0xFFFFFFFFu, id))
                return failure.fail(line, valueColumn, "MessageId number (up to 32 bits) expected");
            nextId = id;
            haveNextId = true;
            continue;
        }
        if (key == "language") {
            if (!haveNextId) return failure.fail(line, column, "Language= without a MessageId= before it");
            open = Message{};
            if ((severity != 0 || facility != 0) && nextId > 0xFFFF)
                return failure.fail(line, column,
                                    "with Severity or Facility set, MessageId is at most 0xFFFF");
            open->id = nextId | severity << 30 | facility << 16;
            open->ansi = ansiNext;
            open->line = line;
            previousId = nextId;
            anyId = true;
            haveNextId = false;
            ansiNext = false;
            inText = true;
            continue;
        }
        if (key == "severity" || key == "facility") {
            const std::string_view name = value.substr(0, value.find_first_of(" \t"));
            const bool isSeverity = key == "severity";
            if (!lookUp(isSeverity ? severities : facilities, name, isSeverity ? severity : facility))
                return failure.fail(
                    line, valueColumn,
                    std::string("unknown ") + (isSeverity ? "severity " : "facility ") + std::string(name));
            continue;
        }
        if (key == "symbolicname" || key == "outputbase" || key == "messageidtypedef") continue;
        if (key == "languagenames" || key == "severitynames" || key == "facilitynames") {
            pendingNames = key == "severitynames"   ? &severities
                           : key == "facilitynames" ? &facilities
                                                    : nullptr;
            pendingLimit = key == "severitynames" ? 0x3 : 0xFFF;
            pendingLine = line;
            pendingColumn = valueColumn;
            pendingList.clear();
            if (value.empty() || value.front() != '(') return failure.fail(line, valueColumn, "'(' expected");
            const std::size_t close = value.find(')');
            pendingList = std::string(
                value.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            if (close == std::string_view::npos) {
                inParens = true;
            } else if (pendingNames != nullptr &&
                       !readNameList(pendingList, pendingLimit, line, valueColumn, *pendingNames, failure)) {
                return false;
            }
            continue;
        }
        return failure.fail(line, column, "unknown keyword " + std::string(row.substr(0, equals)));
    }
    if (inParens) return failure.fail(pendingLine, pendingColumn, "list not closed by ')'");
    if (inText) return failure.fail(line + 1, 1, "message text not ended by a line with a single '.'");
    if (haveNextId) return failure.fail(line, 1, "MessageId without Language= and text");

    if (!lineFeedOnly) {
        for (Message& message : messages) {
            std::u16string withReturns;
            for (char16_t unit : message.text) {
                if (unit == u'\n') withReturns.push_back(u'\r');
                withReturns.push_back(unit);
            }
            message.text = std::move(withReturns);
        }
    }
    std::stable_sort(messages.begin(), messages.end(),
                     [](const Message& a, const Message& b) { return a.id < b.id; });
    for (std::size_t i = 1; i < messages.size(); ++i)
        if (messages[i].id == messages[i - 1].id)
            return failure.fail(messages[i].line, 1,
                                "message " + hexNumber(messages[i].id) + " appears twice");
    for (const Message& message : messages) {
        if (!message.ansi) continue;
        for (char16_t unit : message.text)
            if (unit > 0xFF)
                return failure.fail(message.line, 1,
                                    "an 8-bit ('kestrel: ansi') message holds a character above U+00FF");
    }
    // Runs of consecutive IDs make the blocks; the entries follow the block table in order.
    std::vector<std::pair<std::size_t, std::size_t>> blocks;  // first and last message index
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (!blocks.empty() && messages[i].id == messages[blocks.back().second].id + 1)
            blocks.back().second = i;
        else
            blocks.emplace_back(i, i);
    }
    ByteWriter out;
    out.u32(static_cast<std::uint32_t>(blocks.size()));
    std::size_t offset = 4 + blocks.size() * kMessageBlockSize;
    ByteWriter entries;
    for (const auto& [first, last] : blocks) {
        out.u32(messages[first].id);
        out.u32(messages[last].id);
        out.u32(static_cast<std::uint32_t>(offset + entries.size()));
        for (std::size_t i = first; i <= last; ++i)
            writeMessageEntry(messages[i], entries);
    }
    out.append(asBytes(entries.bytes()));
    bytes = std::move(out.bytes());
    return true;
}

}  // namespace

HResult AcceleratorsToScript(Bytes data, const ScriptOptions& options, ScriptText& out) {
    out = ScriptText{};
    std::string text = scriptHeader(options, "ACCELERATORS") + "BEGIN\n";
    const ByteReader reader(data);
    for (std::size_t at = 0; at + kAccelEntrySize <= data.size(); at += kAccelEntrySize) {
        const std::uint16_t flags = reader.u16Or(at, 0), key = reader.u16Or(at + 2, 0),
                            id = reader.u16Or(at + 4, 0);
        text += "    ";
        const bool virtKey = (flags & kAccelVirtKey) != 0;
        if (!virtKey && key > 0x20 && key < 0x7F && key != '"' && key != '\\' && key != '^')
            text += scriptString(std::u16string(1, static_cast<char16_t>(key)));
        else
            text += virtKey ? hexNumber(key) : std::to_string(key);
        text += ", " + std::to_string(id);
        for (const FlagName& flag : kAccelFlags)
            if ((flags & flag.bit) != 0) text += std::string(", ") + flag.name;
        text += "\n";
        if ((flags & kAccelLast) != 0) break;
    }
    text += "END\n";
    if (!finishText(data, std::move(text), "// kestrel: ", CompileAcceleratorsScript, out)) {
        out = ScriptText{};
        return kFail;
    }
    return kOk;
}

HResult MenuToScript(Bytes data, const ScriptOptions& options, ScriptText& out) {
    out = ScriptText{};
    MenuTemplate checked;
    if (DecodeMenuTemplate(data, checked).failed()) return kFail;
    TemplateCursor in(data);
    const std::uint16_t version = in.u16();
    const std::uint16_t offset = in.u16();
    in.seek(4 + std::size_t{offset});
    std::vector<RawMenuItem> items;
    const bool extended = version == kMenuExtendedVersion;
    if (!(extended ? readRawExtended(in, 1, items) : readRawClassic(in, 1, items))) return kFail;
    std::string text = scriptHeader(options, extended ? "MENUEX" : "MENU") + "BEGIN\n";
    writeMenuItems(items, extended, 1, text);
    text += "END\n";
    if (!finishText(data, std::move(text), "// kestrel: ", CompileMenuScript, out)) {
        out = ScriptText{};
        return kFail;
    }
    return kOk;
}

HResult MessageTableToScript(Bytes data, const ScriptOptions& options, ScriptText& out) {
    out = ScriptText{};
    std::vector<Message> messages;
    if (readMessageTable(data, messages).failed()) return kFail;
    const std::uint16_t language = options.language != 0 ? options.language : resource_language::kUsEnglish;
    const std::string name = languageName(language);
    char names[64];
    std::snprintf(names, sizeof names, "LanguageNames=(%s=0x%X:MSG%05X)\n", name.c_str(), language, language);
    std::string text = ";// Message table " + options.name + " as message-compiler text (UTF-8).\n";
    text += names;
    // Line ends are CR LF unless every text breaks its lines with a line feed alone.
    const bool anyReturn = std::any_of(messages.begin(), messages.end(), [](const Message& m) {
        return m.text.find(u'\r') != std::u16string::npos;
    });
    const bool anyFeed = std::any_of(messages.begin(), messages.end(), [](const Message& m) {
        return m.text.find(u'\n') != std::u16string::npos;
    });
    const bool lineFeedOnly = anyFeed && !anyReturn;
    if (lineFeedOnly) text += ";// kestrel: line-end lf\n";
    const std::u16string lineEnd = lineFeedOnly ? u"\n" : u"\r\n";
    // IDs above 16 bits are written as severity, facility and code where they have no other bits
    // (customer and reserved); otherwise MessageId holds the full ID.
    constexpr std::uint32_t kOtherIdBits = 0x30000000;
    const bool split =
        std::any_of(messages.begin(), messages.end(), [](const Message& m) { return m.id > 0xFFFF; }) &&
        std::none_of(messages.begin(), messages.end(),
                     [&](const Message& m) { return (m.id & kOtherIdBits) != 0; });
    const char* const severityNames[] = {"Success", "Informational", "Warning", "Error"};
    auto facilityName = [](std::uint32_t id) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "F%03X", (id >> 16) & 0xFFF);
        return std::string(buffer);
    };
    if (split) {
        text += "SeverityNames=(Success=0x0 Informational=0x1 Warning=0x2 Error=0x3)\nFacilityNames=(";
        std::vector<std::uint32_t> used;
        for (const Message& message : messages) {
            const std::uint32_t facility = (message.id >> 16) & 0xFFF;
            if (std::find(used.begin(), used.end(), facility) != used.end()) continue;
            text += (used.empty() ? "" : " ") + facilityName(message.id) + "=" + hexNumber(facility);
            used.push_back(facility);
        }
        text += ")\n";
    }
    for (const Message& message : messages) {
        text += "\n";
        if (message.ansi) text += ";// kestrel: ansi\n";
        if (split) {
            text += "MessageId=" + hexNumber(message.id & 0xFFFF) +
                    "\nSeverity=" + severityNames[message.id >> 30] +
                    "\nFacility=" + facilityName(message.id) + "\n";
        } else {
            text += "MessageId=" + hexNumber(message.id) + "\n";
        }
        text += "Language=" + name + "\n";
        // Each line is stored with CR LF after it; text that is not in that form comes back
        // through the carried bytes.
        std::u16string body = message.text;
        if (body.ends_with(lineEnd)) body.resize(body.size() - lineEnd.size());
        std::u16string row;
        auto flushRow = [&] {
            std::string utf8 = utf16ToUtf8(row);
            if (utf8 == ".") utf8 = ". ";
            text += utf8 + "\n";
            row.clear();
        };
        for (std::size_t i = 0; i < body.size(); ++i) {
            if (body.compare(i, lineEnd.size(), lineEnd) == 0) {
                flushRow();
                i += lineEnd.size() - 1;
            } else if (body[i] == u'\n' || body[i] == u'\r') {
                flushRow();
            } else {
                row.push_back(body[i]);
            }
        }
        if (!message.text.empty()) flushRow();
        text += ".\n";
    }
    if (!finishText(data, std::move(text), ";// kestrel: ", CompileMessageTableScript, out)) {
        out = ScriptText{};
        return kFail;
    }
    return kOk;
}

HResult CompileAcceleratorsScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error) {
    return compileScript(text, out, error, parseAccelerators);
}

HResult CompileMenuScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error) {
    return compileScript(text, out, error, parseMenu);
}

HResult DialogToScript(Bytes data, const ScriptOptions& options, ScriptText& out) {
    out = ScriptText{};
    DialogTemplate dialog;
    if (DecodeDialogTemplate(data, dialog).failed()) return kFail;
    std::string text = scriptHeader(options, dialog.extended ? "DIALOGEX" : "DIALOG");
    text.pop_back();
    text += " " + std::to_string(dialog.x) + ", " + std::to_string(dialog.y) + ", " +
            std::to_string(dialog.cx) + ", " + std::to_string(dialog.cy);
    if (dialog.helpId != 0) text += ", " + std::to_string(dialog.helpId);
    text += "\n";
    if (!dialog.title.empty()) text += "CAPTION " + scriptString(dialog.title) + "\n";
    text += "STYLE " + hexNumber(dialog.style) + "\n";
    if (dialog.exStyle != 0) text += "EXSTYLE " + hexNumber(dialog.exStyle) + "\n";
    if (!dialog.menu.isNone()) text += "MENU " + nameOrOrdinalText(dialog.menu) + "\n";
    if (!dialog.windowClass.isNone()) text += "CLASS " + nameOrOrdinalText(dialog.windowClass) + "\n";
    if (dialog.hasFont) {
        text += "FONT " + std::to_string(dialog.pointSize) + ", " + scriptString(dialog.typeface);
        if (dialog.extended)
            text += ", " + std::to_string(dialog.weight) + ", " + std::to_string(dialog.italic ? 1 : 0) +
                    ", " + std::to_string(dialog.charset);
        text += "\n";
    }
    text += "BEGIN\n";
    for (const DialogItem& item : dialog.items) {
        text += "    CONTROL " + nameOrOrdinalText(item.title) + ", " + std::to_string(item.id) + ", " +
                classText(item.windowClass) + ", " + controlStyleText(item.style) + ", " +
                std::to_string(item.x) + ", " + std::to_string(item.y) + ", " + std::to_string(item.cx) +
                ", " + std::to_string(item.cy);
        if (item.exStyle != 0 || item.helpId != 0) text += ", " + hexNumber(item.exStyle);
        if (item.helpId != 0) text += ", " + std::to_string(item.helpId);
        text += "\n";
    }
    text += "END\n";
    if (!finishText(data, std::move(text), "// kestrel: ", CompileDialogScript, out)) {
        out = ScriptText{};
        return kFail;
    }
    return kOk;
}

HResult CompileDialogScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error) {
    return compileScript(text, out, error, parseDialog);
}

HResult CompileMessageTableScript(std::string_view text, std::vector<std::byte>& out, ScriptError& error) {
    out.clear();
    Failure failure(error);
    Carry carry;
    ByteVector bytes;
    if (checkUtf8(text, failure) && parseMessageTable(text, failure, carry, bytes))
        applyCarry(carry, bytes, failure);
    if (failure.failed()) return kFail;
    out = std::move(bytes);
    return kOk;
}

}  // namespace kestrel
