#include "core/xml/xml_tokens.h"

namespace kestrel {

namespace {

// How far after '&' the ';' of a character reference may be.
constexpr std::size_t kMaxReferenceLength = 10;

class LineScanner {
  public:
    LineScanner(std::u16string_view line, XmlLineState state, std::vector<XmlTokenSpan>& spans,
                XmlNameCharTest isNameChar)
        : line_(line), state_(state), spans_(spans), isNameChar_(isNameChar) {}

    XmlLineState run() {
        while (at_ < line_.size()) {
            switch (state_) {
                case XmlLineState::kComment:
                    runUntil(u"-->", XmlToken::kComment);
                    break;
                case XmlLineState::kCdata:
                    runUntil(u"]]>", XmlToken::kSpecial);
                    break;
                case XmlLineState::kSpecial:
                    runUntil(u">", XmlToken::kSpecial);
                    break;
                case XmlLineState::kValueDouble:
                case XmlLineState::kValueSingle:
                    value();
                    break;
                case XmlLineState::kTag:
                    insideTag();
                    break;
                case XmlLineState::kText:
                    text();
                    break;
            }
        }
        return state_;
    }

  private:
    void emit(std::size_t start, std::size_t end, XmlToken token) {
        if (end > start) spans_.push_back({start, end - start, token});
    }

    // Up to the end of `terminator`, or to the end of the line, where the state stays.
    void runUntil(std::u16string_view terminator, XmlToken token) {
        const std::size_t end = line_.find(terminator, at_);
        if (end == std::u16string_view::npos) {
            emit(at_, line_.size(), token);
            at_ = line_.size();
            return;
        }
        const std::size_t stop = end + terminator.size();
        emit(at_, stop, token);
        at_ = stop;
        state_ = XmlLineState::kText;
    }

    void value() {
        const char16_t quote = state_ == XmlLineState::kValueDouble ? u'"' : u'\'';
        const std::size_t end = line_.find(quote, at_);
        const std::size_t stop = end == std::u16string_view::npos ? line_.size() : end + 1;
        emit(at_, stop, XmlToken::kValue);
        at_ = stop;
        if (end != std::u16string_view::npos) state_ = XmlLineState::kTag;
    }

    std::size_t nameEnd(std::size_t from) const {
        while (from < line_.size() && isNameChar_(line_[from]))
            ++from;
        return from;
    }

    void insideTag() {
        const char16_t c = line_[at_];
        if (c == u'>' || (c == u'/' && at_ + 1 < line_.size() && line_[at_ + 1] == u'>')) {
            const std::size_t size = c == u'>' ? 1 : 2;
            emit(at_, at_ + size, XmlToken::kMarkup);
            at_ += size;
            state_ = XmlLineState::kText;
        } else if (c == u'"' || c == u'\'') {
            emit(at_, at_ + 1, XmlToken::kValue);
            ++at_;
            state_ = c == u'"' ? XmlLineState::kValueDouble : XmlLineState::kValueSingle;
        } else if (isNameChar_(c)) {
            const std::size_t end = nameEnd(at_);
            emit(at_, end, XmlToken::kAttribute);
            at_ = end;
        } else {
            if (c == u'=') emit(at_, at_ + 1, XmlToken::kMarkup);
            ++at_;
        }
    }

    // Plain text: on to the next reference or markup.
    void text() {
        const char16_t c = line_[at_];
        if (c == u'&') {
            const std::size_t end = line_.find(u';', at_);
            if (end != std::u16string_view::npos && end > at_ && end - at_ <= kMaxReferenceLength) {
                emit(at_, end + 1, XmlToken::kEntity);
                at_ = end + 1;
            } else {
                ++at_;
            }
            return;
        }
        if (c != u'<') {
            ++at_;
            return;
        }
        const std::u16string_view rest = line_.substr(at_);
        if (rest.starts_with(u"<!--")) {
            emit(at_, at_ + 4, XmlToken::kComment);
            at_ += 4;
            state_ = XmlLineState::kComment;
        } else if (rest.starts_with(u"<![CDATA[")) {
            emit(at_, at_ + 9, XmlToken::kSpecial);
            at_ += 9;
            state_ = XmlLineState::kCdata;
        } else if (rest.starts_with(u"<?") || rest.starts_with(u"<!")) {
            // The '<' is part of the special section, coloured up to its '>'.
            state_ = XmlLineState::kSpecial;
        } else {
            // A start or end tag: "<" or "</", then the element's name.
            const std::size_t open = rest.starts_with(u"</") ? 2 : 1;
            emit(at_, at_ + open, XmlToken::kMarkup);
            at_ += open;
            const std::size_t end = nameEnd(at_);
            emit(at_, end, XmlToken::kElement);
            at_ = end;
            state_ = XmlLineState::kTag;
        }
    }

    std::u16string_view line_;
    XmlLineState state_;
    std::vector<XmlTokenSpan>& spans_;
    XmlNameCharTest isNameChar_;
    std::size_t at_ = 0;
};

}  // namespace

bool isAsciiXmlNameChar(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
           (unit >= u'0' && unit <= u'9') || unit == u'_' || unit == u':' || unit == u'-' || unit == u'.';
}

XmlLineState ScanXmlLine(std::u16string_view line, XmlLineState state, std::vector<XmlTokenSpan>& spans,
                         XmlNameCharTest isNameChar) {
    return LineScanner(line, state, spans, isNameChar).run();
}

}  // namespace kestrel
