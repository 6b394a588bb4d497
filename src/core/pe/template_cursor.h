// Sequential reads over a dialog or menu template, shared by their two decoders.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/pe/dialog_template.h"
#include "core/platform/byte_reader.h"

namespace kestrel {

inline constexpr std::uint16_t kOrdinalMarker = 0xFFFF;

// Sequential reads over one template. The first read that runs past the data marks the cursor
// failed; every later read then yields zero, so a decoder reads a whole structure (or item) and checks once.
class TemplateCursor {
  public:
    explicit TemplateCursor(Bytes data) : cursor_(data) {}

    bool ok() const { return ok_; }
    std::size_t remaining() const { return cursor_.remaining(); }

    std::uint8_t u8() { return checked(cursor_.u8()); }
    std::uint16_t u16() { return checked(cursor_.u16()); }
    std::uint32_t u32() { return checked(cursor_.u32()); }
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }

    void skip(std::size_t count) {
        if (ok_ && !cursor_.skip(count)) ok_ = false;
    }
    void seek(std::size_t position) {
        if (ok_ && !cursor_.seek(position)) ok_ = false;
    }

    // Moves to the next multiple of four from the template's start. Padding cut off by the end of
    // the data is not an error by itself: the next read then fails.
    void alignTo4() {
        const std::size_t padding = (4 - cursor_.position() % 4) % 4;
        cursor_.skip(std::min(padding, cursor_.remaining()));
    }

    // A zero-terminated UTF-16LE text whose terminator lies inside the data.
    std::u16string text() { return textAfter(std::u16string{}); }

    // An sz_Or_Ord field: 0x0000 nothing, 0xFFFF and an ordinal, otherwise the first unit of a text.
    NameOrOrdinal nameOrOrdinal() {
        NameOrOrdinal field;
        const std::uint16_t first = u16();
        if (first == 0) return field;
        if (first == kOrdinalMarker) {
            field.kind = NameOrOrdinal::Kind::kOrdinal;
            field.ordinal = u16();
            return field;
        }
        field.kind = NameOrOrdinal::Kind::kText;
        field.text = textAfter(std::u16string(1, static_cast<char16_t>(first)));
        return field;
    }

  private:
    std::u16string textAfter(std::u16string text) {
        while (ok_) {
            const std::uint16_t unit = u16();
            if (unit == 0) break;
            text.push_back(static_cast<char16_t>(unit));
        }
        return text;
    }

    template <typename T>
    T checked(std::optional<T> value) {
        if (!ok_ || !value) {
            ok_ = false;
            return T{};
        }
        return *value;
    }

    ByteCursor cursor_;
    bool ok_ = true;
};

}  // namespace kestrel
