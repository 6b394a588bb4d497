#include "core/pe/po_file.h"

#include <cstdint>
#include <optional>
#include <set>
#include <utility>

namespace kestrel {

namespace {

// --- Writing -----------------------------------------------------------------------------------

void appendEscaped(std::string& out, std::string_view text) {
    static constexpr char kOctal[] = "01234567";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += '\\';
                    out += kOctal[(byte >> 6) & 7];
                    out += kOctal[(byte >> 3) & 7];
                    out += kOctal[byte & 7];
                } else {
                    out += c;
                }
        }
    }
}

// `keyword "text"`, or for a text with line breaks inside `keyword ""` and one line per line.
void appendString(std::string& out, std::string_view keyword, std::string_view text) {
    const std::size_t firstBreak = text.find('\n');
    out += keyword;
    if (firstBreak == std::string_view::npos || firstBreak + 1 == text.size()) {
        out += " \"";
        appendEscaped(out, text);
        out += "\"\n";
        return;
    }
    out += " \"\"\n";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        out += '"';
        appendEscaped(out, text.substr(start, end - start));
        out += "\"\n";
        start = end;
    }
}

// Comment lines take no line break: one would end the comment and start text the reader refuses.
std::string oneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

// --- Reading -----------------------------------------------------------------------------------

class Failure {
  public:
    explicit Failure(PoError& error) : error_(error) {}
    bool operator()(int line, int column, std::string message) {
        error_ = PoError{line, column, std::move(message)};
        return false;
    }

  private:
    PoError& error_;
};

// The length of the UTF-8 sequence at `text[at]` (1 to 4), or 0 when it is not one: overlong
// forms, surrogates and values past U+10FFFF are refused.
std::size_t utf8Sequence(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (length > text.size() - at) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

enum class Field { kNone, kContext, kId, kPlural, kTranslation, kOtherTranslation };

struct PendingEntry {
    PoEntry entry;
    int line = 0;  // where its msgctxt or msgid stood
    bool hasId = false;
    bool hasTranslation = false;
    bool obsolete = false;
    bool any() const { return hasId || entry.hasContext; }
};

class PoReader {
  public:
    PoReader(std::string_view text, std::vector<PoEntry>& entries, PoError& error)
        : text_(text), entries_(entries), fail_(error) {}

    bool run() {
        std::size_t start = 0;
        while (start <= text_.size()) {
            std::size_t end = text_.find('\n', start);
            if (end == std::string_view::npos) end = text_.size();
            std::string_view line = text_.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            ++lineNumber_;
            if (!readLine(line)) return false;
            if (end == text_.size()) break;
            start = end + 1;
        }
        return finishEntry(lineNumber_, 1);
    }

  private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

    bool readLine(std::string_view line) {
        std::size_t at = 0;
        while (at < line.size() && isSpace(line[at]))
            ++at;
        if (at == line.size()) return true;
        if (line[at] == '#') return readComment(line, at);
        if (line[at] == '"') return readContinuation(line, at);
        return readKeyword(line, at);
    }

    bool readComment(std::string_view line, std::size_t at) {
        // A comment after a complete entry starts the next one.
        if (pending_.hasTranslation && !finishEntry(lineNumber_, static_cast<int>(at) + 1)) return false;
        const std::string_view body = line.substr(at + 1);
        if (!body.empty() && body[0] == '~') {
            // An obsolete entry: left out, whatever it holds.
            pending_.obsolete = true;
            field_ = Field::kNone;
            return true;
        }
        if (!checkUtf8(line, at)) return false;
        if (!body.empty() && body[0] == ',') {
            std::size_t from = 1;
            while (from < body.size()) {
                std::size_t comma = body.find(',', from);
                if (comma == std::string_view::npos) comma = body.size();
                std::string_view flag = body.substr(from, comma - from);
                while (!flag.empty() && isSpace(flag.front()))
                    flag.remove_prefix(1);
                while (!flag.empty() && isSpace(flag.back()))
                    flag.remove_suffix(1);
                if (flag == "fuzzy") pending_.entry.fuzzy = true;
                from = comma + 1;
            }
        } else if (!body.empty() && body[0] == '.') {
            std::string_view comment = body.substr(1);
            if (!comment.empty() && comment[0] == ' ') comment.remove_prefix(1);
            pending_.entry.comments.emplace_back(comment);
        } else if (!body.empty() && body[0] == ':') {
            std::string_view rest = body.substr(1);
            while (!rest.empty()) {
                while (!rest.empty() && isSpace(rest.front()))
                    rest.remove_prefix(1);
                std::size_t end = 0;
                while (end < rest.size() && !isSpace(rest[end]))
                    ++end;
                if (end > 0) pending_.entry.references.emplace_back(rest.substr(0, end));
                rest.remove_prefix(end);
            }
        }
        field_ = Field::kNone;
        return true;
    }

    bool checkUtf8(std::string_view line, std::size_t from) {
        for (std::size_t i = from; i < line.size();) {
            const std::size_t length = utf8Sequence(line, i);
            if (length == 0) return fail_(lineNumber_, static_cast<int>(i) + 1, "text is not UTF-8");
            i += length;
        }
        return true;
    }

    bool readKeyword(std::string_view line, std::size_t at) {
        std::size_t end = at;
        while (end < line.size() && !isSpace(line[end]) && line[end] != '"')
            ++end;
        const std::string_view keyword = line.substr(at, end - at);
        const int keywordColumn = static_cast<int>(at) + 1;
        std::string value;
        if (!readString(line, end, value)) return false;
        if (pending_.obsolete) return true;

        if (keyword == "msgctxt") {
            if (pending_.hasTranslation && !finishEntry(lineNumber_, keywordColumn)) return false;
            if (pending_.any())
                return fail_(lineNumber_, keywordColumn, "msgctxt must come before its msgid");
            pending_.entry.hasContext = true;
            pending_.entry.context = std::move(value);
            pending_.line = lineNumber_;
            field_ = Field::kContext;
            return true;
        }
        if (keyword == "msgid") {
            if (pending_.hasTranslation && !finishEntry(lineNumber_, keywordColumn)) return false;
            if (pending_.hasId) return fail_(lineNumber_, keywordColumn, "msgid without a msgstr before it");
            if (!pending_.entry.hasContext) pending_.line = lineNumber_;
            pending_.hasId = true;
            pending_.entry.id = std::move(value);
            field_ = Field::kId;
            return true;
        }
        if (keyword == "msgid_plural") {
            if (!pending_.hasId || pending_.hasTranslation || pending_.entry.plural)
                return fail_(lineNumber_, keywordColumn, "msgid_plural must follow a msgid");
            pending_.entry.plural = true;
            field_ = Field::kPlural;
            return true;
        }
        if (keyword == "msgstr") {
            if (!pending_.hasId || pending_.hasTranslation)
                return fail_(lineNumber_, keywordColumn, "msgstr must follow a msgid");
            if (pending_.entry.plural)
                return fail_(lineNumber_, keywordColumn, "a plural entry needs msgstr[0], not msgstr");
            pending_.hasTranslation = true;
            pending_.entry.translation = std::move(value);
            field_ = Field::kTranslation;
            return true;
        }
        if (keyword.size() > 8 && keyword.substr(0, 7) == "msgstr[" && keyword.back() == ']') {
            const std::string_view digits = keyword.substr(7, keyword.size() - 8);
            unsigned index = 0;
            if (digits.empty() || digits.size() > 3)
                return fail_(lineNumber_, keywordColumn + 7, "bad plural index");
            for (char c : digits) {
                if (c < '0' || c > '9') return fail_(lineNumber_, keywordColumn + 7, "bad plural index");
                index = index * 10 + static_cast<unsigned>(c - '0');
            }
            if (!pending_.entry.plural)
                return fail_(lineNumber_, keywordColumn, "msgstr[n] without msgid_plural");
            if (index != nextPluralIndex_)
                return fail_(lineNumber_, keywordColumn,
                             "msgstr[" + std::to_string(nextPluralIndex_) + "] expected");
            ++nextPluralIndex_;
            if (index == 0) {
                pending_.hasTranslation = true;
                pending_.entry.translation = std::move(value);
                field_ = Field::kTranslation;
            } else {
                field_ = Field::kOtherTranslation;
            }
            return true;
        }
        return fail_(lineNumber_, keywordColumn,
                     "unknown keyword '" + std::string(keyword.substr(0, 40)) + "'");
    }

    bool readContinuation(std::string_view line, std::size_t at) {
        std::string value;
        if (!readString(line, at, value)) return false;
        if (pending_.obsolete) return true;
        switch (field_) {
            case Field::kContext:
                pending_.entry.context += value;
                break;
            case Field::kId:
                pending_.entry.id += value;
                break;
            case Field::kTranslation:
                pending_.entry.translation += value;
                break;
            case Field::kPlural:
            case Field::kOtherTranslation:
                break;
            case Field::kNone:
                return fail_(lineNumber_, static_cast<int>(at) + 1, "a string without a keyword before it");
        }
        return true;
    }

    // One quoted string from `at` (spaces before it are passed over); nothing may follow it.
    // Several strings on one line ("a" "b") make one text.
    bool readString(std::string_view line, std::size_t at, std::string& value) {
        while (at < line.size() && isSpace(line[at]))
            ++at;
        if (at >= line.size() || line[at] != '"')
            return fail_(lineNumber_, static_cast<int>(at) + 1, "a quoted string expected");
        while (at < line.size() && line[at] == '"') {
            if (!readOneString(line, at, value)) return false;
            while (at < line.size() && isSpace(line[at]))
                ++at;
        }
        if (at < line.size()) return fail_(lineNumber_, static_cast<int>(at) + 1, "text after the string");
        return true;
    }

    // One quoted string at `at`, which is left after its closing quote.
    bool readOneString(std::string_view line, std::size_t& at, std::string& value) {
        ++at;
        for (;;) {
            if (at >= line.size())
                return fail_(lineNumber_, static_cast<int>(at) + 1, "the string has no closing quote");
            const char c = line[at];
            if (c == '"') break;
            if (c != '\\') {
                const std::size_t length = utf8Sequence(line, at);
                if (length == 0) return fail_(lineNumber_, static_cast<int>(at) + 1, "text is not UTF-8");
                value.append(line.substr(at, length));
                at += length;
                continue;
            }
            const int escapeColumn = static_cast<int>(at) + 1;
            if (++at >= line.size())
                return fail_(lineNumber_, escapeColumn, "the string has no closing quote");
            const char kind = line[at++];
            switch (kind) {
                case 'n':
                    value += '\n';
                    break;
                case 't':
                    value += '\t';
                    break;
                case 'r':
                    value += '\r';
                    break;
                case 'a':
                    value += '\a';
                    break;
                case 'b':
                    value += '\b';
                    break;
                case 'f':
                    value += '\f';
                    break;
                case 'v':
                    value += '\v';
                    break;
                case '"':
                case '\\':
                case '\'':
                case '?':
                    value += kind;
                    break;
                case 'x': {
                    unsigned number = 0;
                    int digits = 0;
                    while (at < line.size() && digits < 2) {
                        const char d = static_cast<char>(line[at] | 0x20);
                        if (line[at] >= '0' && line[at] <= '9') {
                            number = number * 16 + static_cast<unsigned>(line[at] - '0');
                        } else if (d >= 'a' && d <= 'f') {
                            number = number * 16 + static_cast<unsigned>(d - 'a' + 10);
                        } else {
                            break;
                        }
                        ++at;
                        ++digits;
                    }
                    if (digits == 0)
                        return fail_(lineNumber_, escapeColumn, "\\x without hexadecimal digits");
                    value += static_cast<char>(number);
                    break;
                }
                default:
                    if (kind >= '0' && kind <= '7') {
                        unsigned number = static_cast<unsigned>(kind - '0');
                        for (int digits = 1;
                             digits < 3 && at < line.size() && line[at] >= '0' && line[at] <= '7'; ++digits)
                            number = number * 8 + static_cast<unsigned>(line[at++] - '0');
                        if (number > 0xFF) return fail_(lineNumber_, escapeColumn, "octal escape past 255");
                        value += static_cast<char>(number);
                        break;
                    }
                    return fail_(lineNumber_, escapeColumn, "unknown escape");
            }
        }
        ++at;
        return true;
    }

    static std::optional<std::string> charsetOf(std::string_view header) {
        constexpr std::string_view kKey = "charset=";
        const std::size_t at = header.find(kKey);
        if (at == std::string_view::npos) return std::nullopt;
        std::size_t end = at + kKey.size();
        while (end < header.size() && header[end] != '\n' && header[end] != ';' && header[end] != ' ')
            ++end;
        std::string charset(header.substr(at + kKey.size(), end - at - kKey.size()));
        for (char& c : charset)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return charset;
    }

    bool finishEntry(int line, int column) {
        PendingEntry done = std::move(pending_);
        pending_ = PendingEntry{};
        field_ = Field::kNone;
        nextPluralIndex_ = 0;
        if (done.obsolete || !done.any()) return true;
        if (!done.hasId) return fail_(line, column, "msgctxt without a msgid");
        if (!done.hasTranslation) return fail_(line, column, "msgid without a msgstr");
        // UTF-8 escapes (\x, octal) can still have put together bytes that are not UTF-8.
        for (const std::string* text : {&done.entry.context, &done.entry.id, &done.entry.translation}) {
            for (std::size_t i = 0; i < text->size();) {
                const std::size_t length = utf8Sequence(*text, i);
                if (length == 0) return fail_(done.line, 1, "an escape makes text that is not UTF-8");
                i += length;
            }
        }
        if (!done.entry.hasContext && done.entry.id.empty()) {
            if (sawHeader_) return fail_(done.line, 1, "a second header entry");
            sawHeader_ = true;
            if (auto charset = charsetOf(done.entry.translation);
                charset && *charset != "UTF-8" && *charset != "ASCII" && *charset != "US-ASCII" &&
                *charset != "CHARSET")
                return fail_(done.line, 1, "charset " + *charset + " is not supported (only UTF-8)");
            return true;
        }
        std::string key = (done.entry.hasContext ? "1" : "0") + done.entry.context;
        key += '\x04';
        key += done.entry.id;
        if (!seen_.insert(std::move(key)).second)
            return fail_(done.line, 1, "the same msgctxt and msgid a second time");
        entries_.push_back(std::move(done.entry));
        return true;
    }

    std::string_view text_;
    std::vector<PoEntry>& entries_;
    Failure fail_;
    int lineNumber_ = 0;
    PendingEntry pending_;
    Field field_ = Field::kNone;
    unsigned nextPluralIndex_ = 0;
    bool sawHeader_ = false;
    std::set<std::string> seen_;
};

}  // namespace

std::string WritePo(const PoHeader& header, const std::vector<PoEntry>& entries) {
    std::string out;
    out += "# Translations of " + oneLine(header.project) + ".\n";
    out += "#\n";
    out += "msgid \"\"\nmsgstr \"\"\n";
    std::string fields;
    fields += "Project-Id-Version: " + oneLine(header.project) + "\n";
    fields += "Report-Msgid-Bugs-To: \n";
    fields += "POT-Creation-Date: " + oneLine(header.creationDate) + "\n";
    fields += "PO-Revision-Date: " + oneLine(header.creationDate) + "\n";
    fields += "Last-Translator: \n";
    fields += "Language-Team: \n";
    fields += "Language: " + oneLine(header.language) + "\n";
    fields += "MIME-Version: 1.0\n";
    fields += "Content-Type: text/plain; charset=UTF-8\n";
    fields += "Content-Transfer-Encoding: 8bit\n";
    std::size_t start = 0;
    while (start < fields.size()) {
        const std::size_t end = fields.find('\n', start) + 1;
        out += '"';
        appendEscaped(out, std::string_view(fields).substr(start, end - start));
        out += "\"\n";
        start = end;
    }
    for (const PoEntry& entry : entries) {
        out += '\n';
        for (const std::string& comment : entry.comments)
            out += "#. " + oneLine(comment) + "\n";
        if (!entry.references.empty()) {
            out += "#:";
            for (const std::string& reference : entry.references)
                out += " " + oneLine(reference);
            out += '\n';
        }
        if (entry.fuzzy) out += "#, fuzzy\n";
        if (entry.hasContext) appendString(out, "msgctxt", entry.context);
        appendString(out, "msgid", entry.id);
        appendString(out, "msgstr", entry.translation);
    }
    return out;
}

HResult ParsePo(std::string_view text, std::vector<PoEntry>& entries, PoError& error) {
    std::vector<PoEntry> read;
    error = PoError{};
    // A byte-order mark is allowed before the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    PoReader reader(text, read, error);
    if (!reader.run()) {
        entries.clear();
        return kFail;
    }
    entries = std::move(read);
    return kOk;
}

}  // namespace kestrel
