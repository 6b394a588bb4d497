// The string-table subtree (type 6) of a compiled resource section, built from STRINGS.XML.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/pe/resource_types.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// The language a string block gets when neither pe.xml nor the E element says otherwise.
inline constexpr std::uint16_t kDefaultStringLanguage = resource_language::kUsEnglish;

// Collects the strings of STRINGS.XML in document order and lays them out as blocks of 16 counted
// UTF-16 strings, one block per (block number, language).
//
// Order rule: per language, an ID lower than or equal to the last kept one is dropped; the caller
// tells the user once per compile (droppedAny()).
class StringTableBuilder {
  public:
    explicit StringTableBuilder(std::uint16_t defaultLanguage = kDefaultStringLanguage)
        : defaultLanguage_(defaultLanguage) {}

    // One E element. `id` and `language` are absent when the attribute is missing or unreadable.
    // An element without a usable ID (missing, or outside 0..65535) is dropped; a missing or
    // invalid language means the default language. Returns false when the element was dropped.
    bool add(std::optional<std::int64_t> id, std::optional<std::int64_t> language, std::u16string text);
    // Bytes that follow the 16 strings of block `blockNumber` (1-based, as the resource ID) in
    // `language`; written after them when the block has strings.
    void setTail(std::uint16_t blockNumber, std::uint16_t language, std::vector<std::byte> tail) {
        tails_[(std::uint32_t{blockNumber} << 16) | language] = std::move(tail);
    }
    // The code page written in the data entry of block `blockNumber` in `language` (else 0).
    void setCodePage(std::uint16_t blockNumber, std::uint16_t language, std::uint32_t codePage) {
        codePages_[(std::uint32_t{blockNumber} << 16) | language] = codePage;
    }
    // An element that is not an E element: dropped, and counted as such.
    void addForeign() { droppedAny_ = true; }

    bool droppedAny() const { return droppedAny_; }
    std::size_t blockCount() const;
    bool empty() const { return blocks_.empty(); }

    // Size in bytes of the type-6 subtree: 16 + 8B + Σ(16 + 24·n_b) + string data, each block's
    // data padded to 8 bytes.
    std::uint64_t size() const;

    // Appends the subtree; `sectionOffset` is where it starts in the section (8-byte aligned) and
    // `sectionRva` the RVA of the section start.
    void write(ByteWriter& out, std::uint32_t sectionOffset, std::uint32_t sectionRva) const;

  private:
    using Block = std::array<std::u16string, 16>;
    std::uint64_t dataSize(std::uint32_t key, const Block& block) const;
    const std::vector<std::byte>* tailOf(std::uint32_t key) const;

    std::uint16_t defaultLanguage_;
    // Key: block number << 16 | language, so iteration gives ascending blocks, then languages.
    std::map<std::uint32_t, Block> blocks_;
    std::map<std::uint16_t, std::uint32_t> nextExpected_;
    std::map<std::uint32_t, std::vector<std::byte>> tails_;
    std::map<std::uint32_t, std::uint32_t> codePages_;
    bool droppedAny_ = false;
};

// Reads `stringsXml` into `table`. A missing file leaves the table empty (kFalse); a file that is
// present but cannot be read or parsed, or whose top element is not ROOT, fails (reported), as does
// a string longer than 65535 UTF-16 units.
HResult readStringsXml(const std::filesystem::path& stringsXml, StringTableBuilder& table);
// The same for the file's bytes held in memory; `shownPath` names it in messages.
HResult readStringsXml(Bytes text, const std::string& shownPath, StringTableBuilder& table);

}  // namespace kestrel
