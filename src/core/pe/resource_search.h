// Finding text in every resource of a working folder: resource names and IDs, string-table texts,
// version strings, dialog captions and control texts, menu items, accelerator and message tables
// (as their script text), manifests and other text resources, and on request bytes given as hex.
//
// The texts are decoded once into an index (ResourceSearchIndex), which is then searched as often
// as the user types. The index is immutable once built, so one thread may build it while another
// keeps the previous one, and any number of threads may search it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/resource_reader.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

class XmlDocument;

// A resource as the tree shows it. String-table texts name the block (ID / 16 + 1) they belong to.
struct SearchResource {
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
    friend bool operator==(const SearchResource&, const SearchResource&) = default;
};

// Where in a resource a text was found.
enum class SearchPlace {
    kName,           // the resource's name, or its ID in decimal
    kString,         // a string-table entry; detail: the string ID
    kVersionString,  // a version string; label: its key
    kDialogCaption,  // the dialog's title
    kDialogControl,  // a control's text; detail: the control's index, label: its ID
    kMenuItem,       // a menu item's text; detail: the item's ID
    kText,           // a text resource or the script text of a table, shown in the text pane
    kBytes,          // bytes of the resource's file (hex search)
};

// One decoded text of the index.
struct SearchText {
    std::uint32_t resource = 0;  // index into ResourceSearchIndex::resources()
    SearchPlace place = SearchPlace::kName;
    std::uint32_t detail = 0;
    std::u16string label;
    std::u16string text;
    std::u16string folded;  // text with its case folded, unit for unit
    // Where `text` starts in the text the text pane shows for the resource's file (characters), or
    // -1 when the pane shows no text for it. When the file spells the text with escapes (STRINGS.XML
    // writes &amp;), escapedOffsets[i] is where text unit i starts relative to paneOffset, with one
    // more entry for the end.
    std::int64_t paneOffset = -1;
    std::vector<std::uint32_t> escapedOffsets;
};

struct SearchOptions {
    bool caseSensitive = false;
    bool hexBytes = false;  // the query is bytes written in hex ("66 6F 6C" or "666f6c")
};

// What the user typed, prepared once per search.
struct SearchQuery {
    SearchOptions options;
    std::u16string text;           // as typed, or folded when case does not matter
    std::vector<std::byte> bytes;  // hex search
};

// nullopt for an empty query and for hex that is not whole bytes of hex digits.
std::optional<SearchQuery> MakeSearchQuery(std::u16string_view typed, SearchOptions options);

// One match.
struct SearchHit {
    std::uint32_t resource = 0;
    SearchPlace place = SearchPlace::kName;
    std::uint32_t detail = 0;
    std::u16string label;
    // The matched text: the whole text, or for a long one or one of several lines the line around
    // the match.
    std::u16string excerpt;
    std::size_t matchStart = 0;  // in `excerpt`
    std::size_t matchLength = 0;
    // Where to select the match in the pane: characters of the text pane's text, or bytes of the
    // file for kBytes; -1 when the match cannot be selected in a pane.
    std::int64_t paneStart = -1;
    std::int64_t paneEnd = -1;
};

// Case folding, one UTF-16 unit to one, for Latin (Basic, Latin-1, Extended-A), Greek and Cyrillic
// capitals; every other unit (CJK among them) stays as it is.
char16_t FoldCase(char16_t unit);
std::u16string FoldCase(std::u16string_view text);

class ResourceSearchIndex {
  public:
    // Adds a resource and indexes its name; returns its index.
    std::uint32_t addResource(const SearchResource& resource);
    // Indexes the texts of a resource file's bytes, decoded by the resource's type. Bytes its decoder
    // refuses add nothing (false); pictures and other binary data add nothing either.
    bool addResourceData(std::uint32_t resource, Bytes data, bool wideText = false);
    // Indexes the strings of STRINGS.XML: one text per E element, under the resource (type 6, block,
    // language) added on first use. Lines without a language attribute take `defaultLanguage`.
    void addStringsXml(Bytes data, std::uint16_t defaultLanguage);

    const std::vector<SearchResource>& resources() const { return resources_; }
    const std::vector<SearchText>& texts() const { return texts_; }

    // The file a resource is stored in (empty when unknown), for the hex search and for the panes.
    void setFile(std::uint32_t resource, std::filesystem::path file);
    const std::filesystem::path& fileOf(std::uint32_t resource) const;

    // Appends the matches in texts [begin, end) to `hits`, in index order.
    void search(const SearchQuery& query, std::size_t begin, std::size_t end,
                std::vector<SearchHit>& hits) const;

  private:
    void addText(SearchText text);
    std::uint32_t resourceOf(const SearchResource& resource);

    std::vector<SearchResource> resources_;
    std::vector<SearchText> texts_;
    std::vector<std::filesystem::path> files_;  // by resource; shorter when the last have none
};

// The matches of `needle` in `data` (a file of resource `resource`), each as a kBytes hit with the
// matching bytes as hex for its excerpt.
void SearchBytes(Bytes data, std::uint32_t resource, const std::vector<std::byte>& needle,
                 std::vector<SearchHit>& hits);

// A file of the working folder to index.
struct SearchSource {
    SearchResource resource;
    std::filesystem::path file;
    bool stringsXml = false;  // STRINGS.XML: resource gives the default language only
    bool wideText = false;    // read as UTF-16 when it is text (.ini files)
};

// Every resource the description lists, with the file it is stored in; STRINGS.XML once, as the
// last source. Entries whose file name cannot be resolved still count for their names.
// Bytes of every file are searched with SearchBytes over ResourceSearchIndex::fileOf.
std::vector<SearchSource> ListSearchSources(const XmlDocument& description,
                                            const std::filesystem::path& folder);

// Reads and indexes `sources` (files of types that hold no text are only recorded). Files that
// cannot be read or decoded are skipped. Stops early, with what it has, when `cancel` becomes true,
// and then returns false.
bool BuildSearchIndex(const std::vector<SearchSource>& sources, ResourceSearchIndex& index,
                      const std::atomic<bool>* cancel = nullptr);

// True for the resource types whose files hold no searchable text (pictures, icons, cursors and their
// groups, animations, fonts): the index does not read them.
bool HoldsNoText(const ResourceKey& type);

}  // namespace kestrel
