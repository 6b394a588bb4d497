// Translating a PE file's texts through gettext PO files.
//
// The texts of one language (the source) are string-table entries, dialog captions and control
// texts, menu item texts, message-table texts and the version strings FileDescription,
// ProductName, LegalCopyright and Comments. Each becomes one PO entry whose msgctxt names the
// resource and the place in it, so that equal texts in different places stay apart:
//   STRINGTABLE <id>                       DIALOG <name> CAPTION
//   DIALOG <name> CONTROL <position>       MENU <name> <position>[.<position>...]
//   MESSAGETABLE <name> 0x<id>             VERSIONINFO <name> <key>
// (positions count from 1; a name is its ID in decimal or its text). A reference line names the
// resource ("DIALOG/<name>"); a comment gives a control's ID.
//
// The import makes (or replaces) the target language's dialogs, menus, message tables, string-table
// entries and version resource from the source language's, with every text the PO file translates;
// untranslated and fuzzy entries keep the source text, and everything else of a resource (IDs,
// styles, positions, fonts, padding) stays as in the source. The source language's resources keep
// their bytes.
//
// Dialog captions and control texts are replaced in place in the template; every byte between them
// is kept, and the padding before an item is kept while the item stays on its place on the 32-bit
// grid, otherwise made zeros up to the next boundary. The same holds for menu items. A translated
// message table is laid out again (translated entries in UTF-16); an untranslated one is copied.
// Picture controls (static icons, bitmaps and metafiles) name a resource, not a text, and are left
// out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/po_file.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// A language given as a number ("0x407", "1031") or a locale name ("de", "de_DE", "pt-BR",
// "de_DE.UTF-8"); nullopt when it is neither (or names a region the table does not know).
std::optional<std::uint16_t> ParseLanguageName(std::string_view text);
// The locale name of a language number ("de_DE"), or the number as "0x0407" when it has none.
std::string LanguageCode(std::uint16_t language);

// One translatable text of a resource.
struct TranslatableText {
    std::string context;    // msgctxt
    std::string reference;  // "#:" item
    std::string comment;    // "#." line, may be empty
    std::u16string text;
};

// The texts of one dialog template, menu template or message table (kFail when it does not
// decode), and the resource made from it with `translations` (one per text, nullopt: keep).
HResult DialogTexts(Bytes data, std::string_view name, std::vector<TranslatableText>& texts);
HResult MenuTexts(Bytes data, std::string_view name, std::vector<TranslatableText>& texts);
HResult MessageTableTexts(Bytes data, std::string_view name, std::vector<TranslatableText>& texts);
HResult TranslateDialog(Bytes data, const std::vector<std::optional<std::u16string>>& translations,
                        std::vector<std::byte>& out);
HResult TranslateMenu(Bytes data, const std::vector<std::optional<std::u16string>>& translations,
                      std::vector<std::byte>& out);
HResult TranslateMessageTable(Bytes data, const std::vector<std::optional<std::u16string>>& translations,
                              std::vector<std::byte>& out);

struct TranslationSummary {
    std::uint16_t sourceLanguage = 0;
    std::size_t texts = 0;       // exported, or looked up by the import
    std::size_t translated = 0;  // import: texts the PO file translated
    std::size_t resources = 0;   // import: resources made for the target language
};

// `input` is a PE file, or a working folder (or its pe.xml) of a project. Without a source
// language: U.S. English (0x409) when the file has texts in it, else its lowest language that has
// texts. `po` receives the template. Failures are reported (ReportError / ReportMessage).
HResult ExportTranslationTemplate(const std::filesystem::path& input,
                                  std::optional<std::uint16_t> sourceLanguage, std::string& po,
                                  TranslationSummary* summary = nullptr);

// Reads `poFile` and makes the target language's resources. A PE file is written to `output`
// (an existing folder receives it under its own name), or replaced atomically when `output` is
// empty; a failure leaves it as it was. A working folder is changed where it is (its pe.xml and
// resource files) and, with `output`, compiled into that file.
HResult ImportTranslations(const std::filesystem::path& input, const std::filesystem::path& poFile,
                           const std::filesystem::path& output, std::uint16_t language,
                           std::optional<std::uint16_t> sourceLanguage,
                           TranslationSummary* summary = nullptr);

}  // namespace kestrel
