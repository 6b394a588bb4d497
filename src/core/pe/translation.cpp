#include "core/pe/translation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include "core/errors/errors.h"
#include "core/errors/message_codes.h"
#include "core/pe/decompile_file.h"
#include "core/pe/described_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/dialog_template.h"
#include "core/pe/exe_dump.h"
#include "core/pe/menu_template.h"
#include "core/pe/one_shot_edit.h"
#include "core/pe/res_compiler.h"
#include "core/pe/resource_types.h"
#include "core/pe/section_names.h"
#include "core/pe/version_info.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/platform/ui_sink.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

namespace fs = std::filesystem;
using ByteVector = std::vector<std::byte>;
using Translations = std::vector<std::optional<std::u16string>>;

constexpr std::string_view kSource = "Translate";

// --- Languages -----------------------------------------------------------------------------------

struct LocaleName {
    std::string_view name;  // lower case, "_" between language and region
    std::uint16_t language;
};

// A language alone means its main region; these are the ones the system uses for them.
constexpr LocaleName kLocales[] = {
    {"af_za", 0x0436}, {"ar_sa", 0x0401}, {"ar_eg", 0x0C01}, {"be_by", 0x0423}, {"bg_bg", 0x0402},
    {"ca_es", 0x0403}, {"cs_cz", 0x0405}, {"da_dk", 0x0406}, {"de_de", 0x0407}, {"de_ch", 0x0807},
    {"de_at", 0x0C07}, {"de_lu", 0x1007}, {"de_li", 0x1407}, {"el_gr", 0x0408}, {"en_us", 0x0409},
    {"en_gb", 0x0809}, {"en_au", 0x0C09}, {"en_ca", 0x1009}, {"en_nz", 0x1409}, {"en_ie", 0x1809},
    {"en_za", 0x1C09}, {"en_in", 0x4009}, {"es_es", 0x0C0A}, {"es_mx", 0x080A}, {"es_ar", 0x2C0A},
    {"es_us", 0x540A}, {"et_ee", 0x0425}, {"eu_es", 0x042D}, {"fa_ir", 0x0429}, {"fi_fi", 0x040B},
    {"fr_fr", 0x040C}, {"fr_be", 0x080C}, {"fr_ca", 0x0C0C}, {"fr_ch", 0x100C}, {"fr_lu", 0x140C},
    {"ga_ie", 0x083C}, {"gl_es", 0x0456}, {"he_il", 0x040D}, {"hi_in", 0x0439}, {"hr_hr", 0x041A},
    {"hu_hu", 0x040E}, {"hy_am", 0x042B}, {"id_id", 0x0421}, {"is_is", 0x040F}, {"it_it", 0x0410},
    {"it_ch", 0x0810}, {"ja_jp", 0x0411}, {"ka_ge", 0x0437}, {"kk_kz", 0x043F}, {"ko_kr", 0x0412},
    {"lt_lt", 0x0427}, {"lv_lv", 0x0426}, {"mk_mk", 0x042F}, {"ms_my", 0x043E}, {"nb_no", 0x0414},
    {"nl_nl", 0x0413}, {"nl_be", 0x0813}, {"nn_no", 0x0814}, {"pl_pl", 0x0415}, {"pt_br", 0x0416},
    {"pt_pt", 0x0816}, {"ro_ro", 0x0418}, {"ru_ru", 0x0419}, {"sk_sk", 0x041B}, {"sl_si", 0x0424},
    {"sq_al", 0x041C}, {"sr_rs", 0x241A}, {"sv_se", 0x041D}, {"sv_fi", 0x081D}, {"sw_ke", 0x0441},
    {"ta_in", 0x0449}, {"th_th", 0x041E}, {"tr_tr", 0x041F}, {"uk_ua", 0x0422}, {"ur_pk", 0x0420},
    {"vi_vn", 0x042A}, {"zh_cn", 0x0804}, {"zh_tw", 0x0404}, {"zh_hk", 0x0C04}, {"zh_sg", 0x1004},
    {"zh_mo", 0x1404},
};

// The region a language alone stands for, where it is not the first one listed above.
constexpr LocaleName kMainRegions[] = {{"no", 0x0414}, {"pt", 0x0416}, {"sr", 0x241A}, {"zh", 0x0804}};

std::optional<std::uint16_t> parseNumber(std::string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 5) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        const char lower = static_cast<char>(c | 0x20);
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (base == 16 && lower >= 'a' && lower <= 'f') {
            digit = static_cast<std::uint32_t>(lower - 'a' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFF) return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// --- Templates: texts replaced in place ------------------------------------------------------------

// A text to replace or a run of padding before a 4-byte boundary, in the order of the bytes.
struct Site {
    bool padding = false;
    std::size_t offset = 0;
    std::size_t length = 0;  // bytes: of the padding, or of the text with its terminator
    std::size_t text = 0;    // index of the text
};

// Sequential reads that remember where texts and padding lie. Every read is bounds-checked;
// the first one past the end marks the walk failed.
class TemplateWalk {
  public:
    explicit TemplateWalk(Bytes data) : cursor_(data) {}

    bool ok() const { return ok_; }
    std::size_t position() const { return cursor_.position(); }
    std::uint16_t u16() { return checked(cursor_.u16()); }
    std::uint32_t u32() { return checked(cursor_.u32()); }
    void skip(std::size_t count) {
        if (ok_ && !cursor_.skip(count)) ok_ = false;
    }
    void seek(std::size_t position) {
        if (ok_ && !cursor_.seek(position)) ok_ = false;
    }
    void alignTo4() {
        const std::size_t padding = std::min((4 - cursor_.position() % 4) % 4, cursor_.remaining());
        // Recorded also when there is none: a translated text before it can move what follows.
        sites.push_back(Site{true, cursor_.position(), padding, 0});
        cursor_.skip(padding);
    }
    // A zero-terminated text; kept as a site to translate when `keep` is set and it is not empty.
    std::u16string text(bool keep) {
        const std::size_t start = cursor_.position();
        std::u16string value;
        while (ok_) {
            const std::uint16_t unit = u16();
            if (unit == 0) break;
            value.push_back(static_cast<char16_t>(unit));
        }
        if (ok_ && keep && !value.empty()) {
            sites.push_back(Site{false, start, cursor_.position() - start, texts.size()});
            texts.push_back(value);
        }
        return value;
    }
    // An sz_Or_Ord field; its text is a site when `keep` is set.
    void nameOrOrdinal(bool keep) {
        const std::size_t start = cursor_.position();
        const std::uint16_t first = u16();
        if (first == 0) return;
        if (first == 0xFFFF) {
            skip(2);
            return;
        }
        seek(start);
        text(keep);
    }

    std::vector<Site> sites;
    std::vector<std::u16string> texts;

  private:
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

// Static controls whose text names a picture resource.
bool isPictureControl(const DialogItem& item) {
    if (!item.windowClass.isOrdinal() || item.windowClass.ordinal != dialog_class::kStatic) return false;
    const std::uint32_t type = item.style & 0x1F;         // SS_TYPEMASK
    return type == 0x03 || type == 0x0E || type == 0x0F;  // SS_ICON, SS_BITMAP, SS_ENHMETAFILE
}

// Walks a dialog template; `walk.texts` gets the caption (when not empty) and the control texts.
// `items` receives, per text, the position of its control (0 for the caption).
HResult walkDialog(Bytes data, TemplateWalk& walk, DialogTemplate& dialog, std::vector<std::size_t>& items) {
    if (DecodeDialogTemplate(data, dialog).failed()) return kFail;
    walk.skip(dialog.extended ? 26 : 18);
    walk.nameOrOrdinal(false);
    walk.nameOrOrdinal(false);
    if (walk.text(true).size() > 0) items.push_back(0);
    if (dialog.hasFont) {
        walk.skip(dialog.extended ? 6 : 2);
        walk.text(false);
    }
    for (std::size_t i = 0; i < dialog.items.size() && walk.ok(); ++i) {
        walk.alignTo4();
        walk.skip(dialog.extended ? 24 : 18);
        walk.nameOrOrdinal(false);
        const std::size_t before = walk.texts.size();
        walk.nameOrOrdinal(!isPictureControl(dialog.items[i]));
        if (walk.texts.size() > before) items.push_back(i + 1);
        walk.skip(walk.u16());
    }
    return walk.ok() ? kOk : kFail;
}

// Walks the items of a menu list; `paths` receives, per text, its position path ("2.3").
bool walkMenuList(TemplateWalk& walk, bool extended, const std::vector<MenuItem>& items,
                  const std::string& path, std::vector<std::string>& paths) {
    for (std::size_t i = 0; i < items.size() && walk.ok(); ++i) {
        const MenuItem& item = items[i];
        const std::string itemPath = path + std::to_string(i + 1);
        const bool keep = !item.separator && !item.bitmap && !item.ownerDraw;
        const std::size_t before = walk.texts.size();
        if (extended) {
            walk.skip(14);
            walk.text(keep);
            walk.alignTo4();
            if (item.popup) walk.skip(4);
        } else {
            walk.skip(item.popup ? 2 : 4);
            walk.text(keep);
        }
        if (walk.texts.size() > before) paths.push_back(itemPath);
        if (item.popup && !walkMenuList(walk, extended, item.children, itemPath + ".", paths)) return false;
    }
    return walk.ok();
}

HResult walkMenu(Bytes data, TemplateWalk& walk, std::vector<std::string>& paths) {
    MenuTemplate menu;
    if (DecodeMenuTemplate(data, menu).failed()) return kFail;
    walk.skip(2);
    walk.seek(4 + std::size_t{walk.u16()});
    return walkMenuList(walk, menu.extended, menu.items, "", paths) ? kOk : kFail;
}

// The template with its texts replaced: bytes between sites are copied, padding is kept while the
// output stands where the input stood on the 32-bit grid, and made zeros otherwise.
ByteVector rewriteTemplate(Bytes data, const std::vector<Site>& sites, const Translations& translations) {
    ByteWriter out;
    std::size_t at = 0;
    for (const Site& site : sites) {
        out.append(data.subspan(at, site.offset - at));
        at = site.offset + site.length;
        if (site.padding) {
            if (out.size() % 4 == site.offset % 4) {
                out.append(data.subspan(site.offset, site.length));
            } else {
                out.alignTo(4);
            }
            continue;
        }
        const std::optional<std::u16string>* translation =
            site.text < translations.size() ? &translations[site.text] : nullptr;
        if (translation == nullptr || !translation->has_value()) {
            out.append(data.subspan(site.offset, site.length));
            continue;
        }
        for (char16_t unit : **translation)
            out.u16(unit);
        out.u16(0);
    }
    out.append(data.subspan(at));
    return std::move(out.bytes());
}

// --- Message tables ----------------------------------------------------------------------------------

struct MessageEntry {
    std::uint32_t id = 0;
    Bytes bytes;  // the whole entry: length, flags, text
    std::u16string text;
    bool crlf = false;  // the text's lines end with CR LF
};

struct MessageBlock {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    std::vector<MessageEntry> entries;
};

std::u16string latin1(Bytes bytes) {
    std::u16string text;
    for (std::byte b : bytes)
        text.push_back(static_cast<char16_t>(std::to_integer<unsigned>(b)));
    return text;
}

HResult readMessageBlocks(Bytes data, std::vector<MessageBlock>& blocks) {
    const ByteReader reader(data);
    const std::optional<std::uint32_t> count = reader.u32(0);
    if (!count || *count > (data.size() - 4) / 12) return kFail;
    // Every entry takes at least 4 bytes; blocks that share their entries could otherwise list
    // far more of them than the table holds.
    std::uint64_t total = 0;
    for (std::uint32_t b = 0; b < *count; ++b) {
        const std::uint64_t at = 4 + std::uint64_t{b} * 12;
        MessageBlock block;
        block.low = reader.u32Or(at, 0);
        block.high = reader.u32Or(at + 4, 0);
        std::uint64_t offset = reader.u32Or(at + 8, 0);
        if (block.high < block.low || block.high - block.low >= data.size() / 4) return kFail;
        total += std::uint64_t{block.high} - block.low + 1;
        if (total > data.size() / 4) return kFail;
        for (std::uint64_t id = block.low; id <= block.high; ++id) {
            const std::optional<std::uint16_t> length = reader.u16(offset);
            const std::optional<std::uint16_t> flags = reader.u16(offset + 2);
            if (!length || !flags || *length < 4) return kFail;
            const std::optional<Bytes> entry = reader.span(offset, *length);
            if (!entry) return kFail;
            MessageEntry message;
            message.id = static_cast<std::uint32_t>(id);
            message.bytes = *entry;
            const Bytes text = entry->subspan(4);
            if (*flags & 1) {
                const ByteReader units(text);
                for (std::size_t i = 0; i + 1 < text.size(); i += 2)
                    message.text.push_back(static_cast<char16_t>(*units.u16(i)));
            } else {
                message.text = latin1(text);
            }
            while (!message.text.empty() && message.text.back() == 0)
                message.text.pop_back();
            message.crlf = message.text.find(u"\r\n") != std::u16string::npos;
            block.entries.push_back(std::move(message));
            offset += *length;
        }
        blocks.push_back(std::move(block));
    }
    return kOk;
}

// A message text for translators: lines end with a line feed alone.
std::u16string withoutCarriageReturns(std::u16string_view text) {
    std::u16string plain;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')) plain.push_back(text[i]);
    return plain;
}

std::u16string withCarriageReturns(std::u16string_view text) {
    std::u16string stored;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) stored.push_back(u'\r');
        stored.push_back(text[i]);
    }
    return stored;
}

std::string hexId(std::uint32_t id) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += kDigits[(id >> shift) & 0xF];
    return text;
}

// --- Working folders -------------------------------------------------------------------------------

bool isStringFileInfo(std::u16string_view key) {
    constexpr std::u16string_view kKey = u"StringFileInfo";
    if (key.size() != kKey.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char16_t a = key[i] >= u'A' && key[i] <= u'Z' ? static_cast<char16_t>(key[i] + 32) : key[i];
        const char16_t b = kKey[i] >= u'A' && kKey[i] <= u'Z' ? static_cast<char16_t>(kKey[i] + 32) : kKey[i];
        if (a != b) return false;
    }
    return true;
}

struct Workspace {
    TemporaryFolder temporary;  // for a PE file: where it is imported
    fs::path folder;
    fs::path descriptionPath;
    XmlDocument description;
    bool project = false;
};

bool isDescriptionName(const fs::path& path) {
    return iequalsAscii(pathToUtf8(path.filename()), std::string(kDescriptionFileName));
}

HResult openWorkspace(const fs::path& input, Workspace& work) {
    std::error_code error;
    if (fs::is_directory(input, error)) {
        work.project = true;
        work.folder = input;
    } else if (isDescriptionName(input) || iendsWithAscii(pathToUtf8(input.filename()), ".kestrel")) {
        // A working folder's pe.xml or project file stands for the folder.
        work.project = true;
        work.folder = input.parent_path().empty() ? fs::path(".") : input.parent_path();
    } else {
        if (HResult hr = work.temporary.create("kestrel-translate-"); hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, "未能建立临时目录。");
            return hr;
        }
        work.folder = work.temporary.path() / "work";
        fs::path projectPath;
        NotesDropped quiet;
        if (HResult hr = DecompileFile(input, work.folder, projectPath); hr.failed()) return hr;
    }
    work.descriptionPath = work.folder / std::string(kDescriptionFileName);
    if (HResult hr = work.description.LoadFile(work.descriptionPath); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError,
                           {pathToUtf8(work.descriptionPath)});
    }
    return kOk;
}

std::string storedFileName(const XmlElement* languageEntry) {
    return DescribedFile(languageEntry).storedName().value_or(std::string());
}

HResult readStoredBytes(const fs::path& folder, const XmlElement* entry, ByteVector& bytes) {
    const std::string stored = storedFileName(entry);
    fs::path path;
    HResult hr = stored.empty() ? kFail : resolveStored(folder, stored, path);
    if (hr.succeeded()) hr = ReadWholeFile(path, bytes);
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {stored});
    }
    return kOk;
}

std::string nameText(const ResourceKey& name) {
    return name.isName ? utf16ToUtf8(name.name) : std::to_string(name.id);
}

// --- String tables ---------------------------------------------------------------------------------

struct StringLine {
    std::uint16_t id = 0;
    std::uint16_t language = 0;
    std::string text;  // UTF-8
};

std::optional<std::int64_t> integerAttribute(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = XmlDocument::FindAttribute(element, name);
    std::int64_t value = 0;
    if (!attribute || !parseInt(attribute->value(), value)) return std::nullopt;
    return value;
}

// The language the compile gives lines without L: that of the first string block the description
// names with a file, else the default one.
std::uint16_t plainStringLanguage(const XmlDocument& description) {
    for (XmlElement* entry : ListResourceEntries(description, ResourceKey::ofId(resource_type::kString))) {
        if (DescribedFile(entry).fileElement() == nullptr) continue;
        if (auto described = DescribeResourceEntry(description, entry)) return described->language;
    }
    return kDefaultStringLanguage;
}

HResult readStringLines(const Workspace& work, std::vector<StringLine>& lines, bool& present) {
    fs::path path;
    if (HResult hr = resolveStored(work.folder, kStringsFileName, path); hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    std::error_code error;
    present = fs::exists(path, error);
    if (!present) return kOk;
    XmlDocument document;
    if (HResult hr = document.LoadFile(path); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(path)});
    }
    const std::uint16_t plain = plainStringLanguage(work.description);
    const XmlElement* root = document.documentNode()->next();
    for (const XmlElement* element = root ? root->firstChild() : nullptr; element;
         element = element->next()) {
        auto id = integerAttribute(element, "ID");
        if (!iequalsAscii(element->name(), "E") || !id || *id < 0 || *id > 0xFFFF) continue;
        StringLine line;
        line.id = static_cast<std::uint16_t>(*id);
        line.language = plain;
        if (auto language = integerAttribute(element, "L"); language && *language >= 0 && *language <= 0xFFFF)
            line.language = static_cast<std::uint16_t>(*language);
        if (const XmlAttribute* text = XmlDocument::FindAttribute(element, "S")) line.text = text->value();
        lines.push_back(std::move(line));
    }
    return kOk;
}

// --- Collecting the texts --------------------------------------------------------------------------

enum class Kind { kDialog, kMenu, kMessageTable, kVersion };

struct ResourceTexts {
    Kind kind = Kind::kDialog;
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
    ByteVector bytes;
    std::vector<TranslatableText> texts;
    // Version resources: the string table the texts come from.
    std::size_t versionTable = 0;
    // A version resource of another language whose string table of the source language is
    // translated (files often keep their one version resource language-neutral).
    bool versionForSource = false;
    bool isSource(std::uint16_t source) const { return language == source || versionForSource; }
};

constexpr std::u16string_view kVersionKeys[] = {u"FileDescription", u"ProductName", u"LegalCopyright",
                                                u"Comments"};

std::uint16_t tableLanguage(std::u16string_view key) {
    std::uint32_t value = 0;
    if (key.size() < 4) return 0;
    for (char16_t unit : key.substr(0, 4)) {
        const char c = static_cast<char>(unit | 0x20);
        if (unit >= u'0' && unit <= u'9') {
            value = value * 16 + (unit - u'0');
        } else if (c >= 'a' && c <= 'f') {
            value = value * 16 + static_cast<std::uint32_t>(c - 'a' + 10);
        } else {
            return 0;
        }
    }
    return static_cast<std::uint16_t>(value);
}

void versionTexts(ResourceTexts& resource, std::uint16_t wanted) {
    VersionInfo info;
    if (ParseVersionInfo(resource.bytes, info).failed()) return;
    const std::vector<VersionStringTable> tables = GetVersionStringTables(info);
    if (tables.empty()) return;
    resource.versionTable = 0;
    for (std::size_t i = 0; i < tables.size(); ++i)
        if (tableLanguage(tables[i].key) == wanted) {
            resource.versionTable = i;
            break;
        }
    const std::string name = nameText(resource.name);
    for (std::u16string_view key : kVersionKeys) {
        for (const auto& [stringKey, value] : tables[resource.versionTable].strings) {
            if (stringKey != key || value.empty()) continue;
            resource.texts.push_back(TranslatableText{
                "VERSIONINFO " + name + " " + utf16ToUtf8(key), "VERSIONINFO/" + name, {}, value});
            break;
        }
    }
}

// Every resource with texts, in the description's order.
HResult collectResources(const Workspace& work, std::vector<ResourceTexts>& resources) {
    for (XmlElement* entry : ListResourceEntries(work.description)) {
        auto described = DescribeResourceEntry(work.description, entry);
        if (!described || described->type.isName) continue;
        ResourceTexts resource;
        switch (described->type.id) {
            case resource_type::kDialog:
                resource.kind = Kind::kDialog;
                break;
            case resource_type::kMenu:
                resource.kind = Kind::kMenu;
                break;
            case resource_type::kMessageTable:
                resource.kind = Kind::kMessageTable;
                break;
            case resource_type::kVersion:
                resource.kind = Kind::kVersion;
                break;
            default:
                continue;
        }
        resource.type = described->type;
        resource.name = described->name;
        resource.language = described->language;
        if (HResult hr = readStoredBytes(work.folder, entry, resource.bytes); hr.failed()) return hr;
        const std::string name = nameText(resource.name);
        // A resource that does not decode has no texts to offer; it is left as it is.
        switch (resource.kind) {
            case Kind::kDialog:
                static_cast<void>(DialogTexts(resource.bytes, name, resource.texts));
                break;
            case Kind::kMenu:
                static_cast<void>(MenuTexts(resource.bytes, name, resource.texts));
                break;
            case Kind::kMessageTable:
                static_cast<void>(MessageTableTexts(resource.bytes, name, resource.texts));
                break;
            case Kind::kVersion:
                versionTexts(resource, resource.language);
                break;
        }
        if (!resource.texts.empty() || resource.kind == Kind::kVersion)
            resources.push_back(std::move(resource));
    }
    return kOk;
}

struct Catalog {
    std::vector<ResourceTexts> resources;
    std::vector<StringLine> strings;
    bool stringsPresent = false;
};

HResult readCatalog(const Workspace& work, Catalog& catalog) {
    if (HResult hr = collectResources(work, catalog.resources); hr.failed()) return hr;
    return readStringLines(work, catalog.strings, catalog.stringsPresent);
}

// Without a version resource in the source language, the first one stands for it, with its string
// table of that language (else its first).
void chooseVersionResource(Catalog& catalog, std::uint16_t source) {
    auto isVersion = [](const ResourceTexts& r) { return r.kind == Kind::kVersion; };
    for (const ResourceTexts& resource : catalog.resources)
        if (isVersion(resource) && resource.language == source) return;
    auto first = std::find_if(catalog.resources.begin(), catalog.resources.end(), isVersion);
    auto withIdOne =
        std::find_if(catalog.resources.begin(), catalog.resources.end(),
                     [&](const ResourceTexts& r) { return isVersion(r) && r.name == ResourceKey::ofId(1); });
    if (withIdOne != catalog.resources.end()) first = withIdOne;
    if (first == catalog.resources.end()) return;
    first->texts.clear();
    versionTexts(*first, source);
    first->versionForSource = true;
}

std::uint16_t chooseSourceLanguage(const Catalog& catalog) {
    // Version resources often stay language-neutral while the texts are in one language: they
    // count only in a file that has no other texts.
    std::set<std::uint16_t> languages;
    for (const ResourceTexts& resource : catalog.resources)
        if (resource.kind != Kind::kVersion && !resource.texts.empty()) languages.insert(resource.language);
    for (const StringLine& line : catalog.strings)
        if (!line.text.empty()) languages.insert(line.language);
    if (languages.empty())
        for (const ResourceTexts& resource : catalog.resources)
            if (!resource.texts.empty()) languages.insert(resource.language);
    if (languages.empty() || languages.count(resource_language::kUsEnglish))
        return resource_language::kUsEnglish;
    return *languages.begin();
}

// A text as PO text: nullopt for one with a lone surrogate, which UTF-8 cannot hold.
std::optional<std::string> poText(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            return std::nullopt;
        }
    }
    return utf16ToUtf8(text);
}

std::vector<PoEntry> catalogEntries(const Catalog& catalog, std::uint16_t language) {
    std::vector<PoEntry> entries;
    auto add = [&](const TranslatableText& text) {
        auto id = poText(text.text);
        if (!id || id->empty()) return;
        PoEntry entry;
        entry.hasContext = true;
        entry.context = text.context;
        entry.id = std::move(*id);
        entry.references.push_back(text.reference);
        if (!text.comment.empty()) entry.comments.push_back(text.comment);
        entries.push_back(std::move(entry));
    };
    std::vector<const StringLine*> strings;
    for (const StringLine& line : catalog.strings)
        if (line.language == language) strings.push_back(&line);
    std::stable_sort(strings.begin(), strings.end(),
                     [](const StringLine* a, const StringLine* b) { return a->id < b->id; });
    for (const StringLine* line : strings) {
        const std::string id = std::to_string(line->id);
        add(TranslatableText{"STRINGTABLE " + id,
                             "STRINGTABLE/" + std::to_string(line->id / 16 + 1),
                             {},
                             utf8ToUtf16(line->text)});
    }
    for (const ResourceTexts& resource : catalog.resources) {
        if (!resource.isSource(language)) continue;
        for (const TranslatableText& text : resource.texts)
            add(text);
    }
    return entries;
}

// The current time in UTC as PO headers write it, from the calendar arithmetic of <chrono> (the same
// on every system, with no thread-unsafe gmtime).
std::string creationDate() {
    using namespace std::chrono;
    const auto now = floor<minutes>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss<minutes> time{now - day};
    char text[32] = {};
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d+0000", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()));
    return text;
}

// --- Writing the target language ---------------------------------------------------------------------

// The translation of each text: the PO entry of its context and text, when it is translated and
// not fuzzy.
class Lookup {
  public:
    explicit Lookup(const std::vector<PoEntry>& entries) {
        for (const PoEntry& entry : entries) {
            if (entry.fuzzy || entry.translation.empty() || !entry.hasContext) continue;
            translations_[{entry.context, entry.id}] = &entry.translation;
        }
    }
    std::optional<std::u16string> find(const TranslatableText& text, TranslationSummary& summary) const {
        ++summary.texts;
        auto id = poText(text.text);
        if (!id) return std::nullopt;
        auto found = translations_.find({text.context, *id});
        if (found == translations_.end()) return std::nullopt;
        ++summary.translated;
        return utf8ToUtf16(*found->second);
    }

  private:
    std::map<std::pair<std::string, std::string>, const std::string*> translations_;
};

// The target language's resource takes `bytes`. One that exists is described anew under a file
// of its own: its old file could be shared with another entry, which must keep its bytes.
HResult writeResource(Workspace& work, const ResourceTexts& source, std::uint16_t language, Bytes bytes) {
    XmlElement* existing = FindResourceEntry(work.description, source.type, source.name, language);
    if (existing != nullptr)
        if (HResult hr = DeleteResource(work.description, work.folder, existing); hr.failed()) return hr;
    TemporaryFolder scratch;
    if (HResult hr = scratch.create("kestrel-translated-"); hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    const fs::path file = scratch.path() / "RESOURCE";
    if (HResult hr = WriteFileAtomic(file, bytes); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "未能写入文件 %s", {pathToUtf8(file)});
        return hr;
    }
    XmlElement* added = nullptr;
    return AddResource(work.description, work.folder, source.type, source.name, language, file, added);
}

HResult translatedVersion(const ResourceTexts& source, const Translations& translations,
                          std::uint16_t language, ByteVector& out) {
    VersionInfo info;
    if (HResult hr = ParseVersionInfo(source.bytes, info); hr.failed()) return hr;
    // Only the source's string table stays, under the target language's key, with the
    // translated strings; the translation entry names the target language.
    std::size_t index = 0;
    std::uint16_t codePage = 1200;
    for (VersionNode& child : info.root.children) {
        if (!isStringFileInfo(child.key)) continue;
        std::vector<VersionNode> kept;
        for (VersionNode& table : child.children) {
            if (index++ != source.versionTable) continue;
            static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
            std::u16string key;
            for (int shift = 12; shift >= 0; shift -= 4)
                key.push_back(kDigits[(language >> shift) & 0xF]);
            if (table.key.size() >= 8) {
                codePage =
                    static_cast<std::uint16_t>(tableLanguage(std::u16string_view(table.key).substr(4)));
                key += table.key.substr(4);
            } else {
                key += u"04B0";
            }
            table.key = key;
            kept.push_back(std::move(table));
        }
        child.children = std::move(kept);
    }
    DropOriginalBytes(info.root);
    for (std::size_t i = 0; i < source.texts.size() && i < translations.size(); ++i) {
        if (!translations[i]) continue;
        const std::string& context = source.texts[i].context;
        const std::u16string key = utf8ToUtf16(context.substr(context.rfind(' ') + 1));
        SetVersionString(info, key, *translations[i]);
    }
    if (GetVersionTranslation(info)) SetVersionTranslation(info, VersionTranslation{language, codePage});
    return WriteVersionInfo(info, out);
}

HResult writeStrings(Workspace& work, const Catalog& catalog, const Lookup& lookup, std::uint16_t source,
                     std::uint16_t target, TranslationSummary& summary) {
    std::vector<StringLine> lines;
    std::map<std::uint16_t, std::uint64_t> blocks;
    for (const StringLine& line : catalog.strings)
        if (line.language != target) lines.push_back(line);
    std::vector<StringLine> sourceLines;
    for (const StringLine& line : catalog.strings)
        if (line.language == source) sourceLines.push_back(line);
    if (sourceLines.empty()) return kOk;
    std::stable_sort(sourceLines.begin(), sourceLines.end(),
                     [](const StringLine& a, const StringLine& b) { return a.id < b.id; });
    for (StringLine line : sourceLines) {
        TranslatableText text{"STRINGTABLE " + std::to_string(line.id), {}, {}, utf8ToUtf16(line.text)};
        if (auto translated = lookup.find(text, summary)) line.text = utf16ToUtf8(*translated);
        line.language = target;
        lines.push_back(std::move(line));
    }
    // Every line names its language: the target's blocks may come first in the description and
    // would otherwise take the lines without one.
    std::string file(kStringsXmlHeader);
    for (const StringLine& line : lines) {
        const std::size_t before = file.size();
        appendStringsLine(file, line.id, line.language, line.text);
        if (line.language == target)
            blocks[static_cast<std::uint16_t>(line.id / 16 + 1)] += file.size() - before;
    }
    file += kStringsXmlFooter;
    fs::path path;
    if (HResult hr = resolveStored(work.folder, kStringsFileName, path); hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    if (HResult hr = WriteFileAtomic(path, std::string_view(file)); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "未能写入 STRINGS.XML 错误  0x%.8x\n", {hr.value()});
        return hr;
    }
    for (const auto& [block, size] : blocks) {
        if (HResult hr = DescribeStringBlock(work.description, block, target, size); hr.failed()) return hr;
        ++summary.resources;
    }
    return kOk;
}

HResult readPoFile(const fs::path& poFile, std::vector<PoEntry>& entries) {
    ByteVector bytes;
    if (HResult hr = ReadWholeFile(poFile, bytes); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(poFile)});
    }
    if (bytes.size() > kMaxPoFileSize) {
        ReportMessage(true, kSource, __LINE__, "翻译文件 %s 太大。", {pathToUtf8(poFile)});
        return kFail;
    }
    std::string text(bytes.size(), '\0');
    if (!bytes.empty()) std::memcpy(text.data(), bytes.data(), bytes.size());
    PoError error;
    if (ParsePo(text, entries, error).failed()) {
        ReportMessage(true, kSource, __LINE__, "翻译文件 %s 第 %d 行第 %d 列: %s",
                      {pathToUtf8(poFile), error.line, error.column, error.message});
        return kFail;
    }
    return kOk;
}

HResult importInto(Workspace& work, const std::vector<PoEntry>& entries, std::uint16_t target,
                   std::optional<std::uint16_t> requestedSource, TranslationSummary& summary) {
    Catalog catalog;
    if (HResult hr = readCatalog(work, catalog); hr.failed()) return hr;
    const std::uint16_t source = requestedSource.value_or(chooseSourceLanguage(catalog));
    chooseVersionResource(catalog, source);
    summary.sourceLanguage = source;
    if (source == target) {
        ReportMessage(true, kSource, __LINE__, "目标语言与源语言相同 (0x%.4x)。", {unsigned{target}});
        return kInvalidArg;
    }
    const Lookup lookup(entries);
    for (const ResourceTexts& resource : catalog.resources) {
        if (!resource.isSource(source)) continue;
        Translations translations;
        for (const TranslatableText& text : resource.texts)
            translations.push_back(lookup.find(text, summary));
        ByteVector bytes;
        HResult hr = kOk;
        switch (resource.kind) {
            case Kind::kDialog:
                hr = TranslateDialog(resource.bytes, translations, bytes);
                break;
            case Kind::kMenu:
                hr = TranslateMenu(resource.bytes, translations, bytes);
                break;
            case Kind::kMessageTable:
                hr = TranslateMessageTable(resource.bytes, translations, bytes);
                break;
            case Kind::kVersion:
                hr = translatedVersion(resource, translations, target, bytes);
                break;
        }
        if (hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            return ReportError(false, kSource, __LINE__, msg::kProcessFileError,
                               {nameText(resource.type) + "/" + nameText(resource.name)});
        }
        if (HResult written = writeResource(work, resource, target, bytes); written.failed()) return written;
        ++summary.resources;
    }
    if (HResult hr = writeStrings(work, catalog, lookup, source, target, summary); hr.failed()) return hr;
    if (HResult hr = work.description.SaveFile(); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError,
                           {pathToUtf8(work.descriptionPath)});
    }
    return kOk;
}

HResult compileInto(const Workspace& work, const fs::path& destination) {
    CResCompiler compiler;
    compiler.setWorkingFolder(work.folder);
    compiler.setOutputName(destination);
    compiler.setTrace([](std::string_view) {});
    if (HResult hr = compiler.Compile(work.descriptionPath); hr.failed()) {
        RecordError(false, kSource, __LINE__, msg::kCompileFailed, {pathToUtf8(destination)});
        return hr;
    }
    return kOk;
}

}  // namespace

std::optional<std::uint16_t> ParseLanguageName(std::string_view text) {
    if (auto number = parseNumber(text)) return number;
    // "de_DE.UTF-8@euro": the codeset and modifier say nothing about the language.
    text = text.substr(0, std::min(text.find('.'), text.find('@')));
    std::string name;
    for (char c : text) {
        if (c == '-') c = '_';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        name += c;
    }
    if (name.size() < 2) return std::nullopt;
    for (const LocaleName& locale : kLocales)
        if (locale.name == name) return locale.language;
    if (name.find('_') != std::string::npos) return std::nullopt;
    for (const LocaleName& region : kMainRegions)
        if (region.name == name) return region.language;
    for (const LocaleName& locale : kLocales)
        if (locale.name.substr(0, locale.name.find('_')) == name) return locale.language;
    return std::nullopt;
}

std::string LanguageCode(std::uint16_t language) {
    for (const LocaleName& locale : kLocales) {
        if (locale.language != language) continue;
        std::string code(locale.name);
        for (std::size_t i = code.find('_') + 1; i < code.size(); ++i)
            code[i] = static_cast<char>(code[i] - 'a' + 'A');
        return code;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string code = "0x";
    for (int shift = 12; shift >= 0; shift -= 4)
        code += kDigits[(language >> shift) & 0xF];
    return code;
}

HResult DialogTexts(Bytes data, std::string_view name, std::vector<TranslatableText>& texts) {
    TemplateWalk walk(data);
    DialogTemplate dialog;
    std::vector<std::size_t> items;
    if (walkDialog(data, walk, dialog, items).failed()) return kFail;
    const std::string prefix = "DIALOG " + std::string(name);
    for (std::size_t i = 0; i < walk.texts.size(); ++i) {
        TranslatableText text;
        text.reference = "DIALOG/" + std::string(name);
        text.text = walk.texts[i];
        if (items[i] == 0) {
            text.context = prefix + " CAPTION";
        } else {
            const DialogItem& item = dialog.items[items[i] - 1];
            text.context = prefix + " CONTROL " + std::to_string(items[i]);
            // Classic IDs are 16 bits; -1 (0xFFFF) is the usual ID of a label.
            const std::int64_t id = dialog.extended
                                        ? static_cast<std::int64_t>(static_cast<std::int32_t>(item.id))
                                        : static_cast<std::int16_t>(item.id);
            text.comment = "control ID " + std::to_string(id);
        }
        texts.push_back(std::move(text));
    }
    return kOk;
}

HResult MenuTexts(Bytes data, std::string_view name, std::vector<TranslatableText>& texts) {
    TemplateWalk walk(data);
    std::vector<std::string> paths;
    if (walkMenu(data, walk, paths).failed()) return kFail;
    for (std::size_t i = 0; i < walk.texts.size(); ++i)
        texts.push_back(TranslatableText{
            "MENU " + std::string(name) + " " + paths[i], "MENU/" + std::string(name), {}, walk.texts[i]});
    return kOk;
}

HResult MessageTableTexts(Bytes data, std::string_view name, std::vector<TranslatableText>& texts) {
    std::vector<MessageBlock> blocks;
    if (readMessageBlocks(data, blocks).failed()) return kFail;
    for (const MessageBlock& block : blocks)
        for (const MessageEntry& entry : block.entries)
            texts.push_back(TranslatableText{"MESSAGETABLE " + std::string(name) + " " + hexId(entry.id),
                                             "MESSAGETABLE/" + std::string(name),
                                             {},
                                             withoutCarriageReturns(entry.text)});
    // Empty texts take no place in a catalog, but the positions must stay those of the entries.
    return kOk;
}

HResult TranslateDialog(Bytes data, const Translations& translations, std::vector<std::byte>& out) {
    TemplateWalk walk(data);
    DialogTemplate dialog;
    std::vector<std::size_t> items;
    if (walkDialog(data, walk, dialog, items).failed()) return kFail;
    out = rewriteTemplate(data, walk.sites, translations);
    return kOk;
}

HResult TranslateMenu(Bytes data, const Translations& translations, std::vector<std::byte>& out) {
    TemplateWalk walk(data);
    std::vector<std::string> paths;
    if (walkMenu(data, walk, paths).failed()) return kFail;
    out = rewriteTemplate(data, walk.sites, translations);
    return kOk;
}

HResult TranslateMessageTable(Bytes data, const Translations& translations, std::vector<std::byte>& out) {
    std::vector<MessageBlock> blocks;
    if (readMessageBlocks(data, blocks).failed()) return kFail;
    if (std::none_of(translations.begin(), translations.end(),
                     [](const std::optional<std::u16string>& t) { return t.has_value(); })) {
        out.assign(data.begin(), data.end());
        return kOk;
    }
    // Laid out again: the blocks, then each block's entries in turn.
    ByteWriter writer;
    writer.u32(static_cast<std::uint32_t>(blocks.size()));
    std::uint64_t offset = 4 + 12 * std::uint64_t{blocks.size()};
    std::size_t index = 0;
    std::vector<ByteVector> entries;
    for (const MessageBlock& block : blocks) {
        writer.u32(block.low);
        writer.u32(block.high);
        writer.u32(static_cast<std::uint32_t>(offset));
        for (const MessageEntry& entry : block.entries) {
            const std::optional<std::u16string>* translation =
                index < translations.size() ? &translations[index] : nullptr;
            ++index;
            ByteWriter bytes;
            if (translation == nullptr || !translation->has_value()) {
                bytes.append(entry.bytes);
            } else {
                const std::u16string text =
                    entry.crlf ? withCarriageReturns(**translation) : std::u16string(**translation);
                bytes.u16(0);
                bytes.u16(1);
                for (char16_t unit : text)
                    bytes.u16(unit);
                bytes.u16(0);
                bytes.alignTo(4);
                if (bytes.size() > 0xFFFF) return kInvalidArg;
                bytes.patchU16(0, static_cast<std::uint32_t>(bytes.size()));
            }
            offset += bytes.size();
            entries.push_back(std::move(bytes.bytes()));
        }
    }
    if (offset > 0xFFFFFFFFu) return kInvalidArg;
    for (const ByteVector& entry : entries)
        writer.append(entry);
    out = std::move(writer.bytes());
    return kOk;
}

HResult ExportTranslationTemplate(const std::filesystem::path& input,
                                  std::optional<std::uint16_t> sourceLanguage, std::string& po,
                                  TranslationSummary* summary) {
    Workspace work;
    if (HResult hr = openWorkspace(input, work); hr.failed()) return hr;
    Catalog catalog;
    if (HResult hr = readCatalog(work, catalog); hr.failed()) return hr;
    const std::uint16_t language = sourceLanguage.value_or(chooseSourceLanguage(catalog));
    chooseVersionResource(catalog, language);
    const std::vector<PoEntry> entries = catalogEntries(catalog, language);
    PoHeader header;
    header.project = pathToUtf8(input.filename());
    header.creationDate = creationDate();
    po = WritePo(header, entries);
    if (summary) {
        summary->sourceLanguage = language;
        summary->texts = entries.size();
    }
    return kOk;
}

HResult ImportTranslations(const std::filesystem::path& input, const std::filesystem::path& poFile,
                           const std::filesystem::path& output, std::uint16_t language,
                           std::optional<std::uint16_t> sourceLanguage, TranslationSummary* summary) {
    TranslationSummary counts;
    std::vector<PoEntry> entries;
    if (HResult hr = readPoFile(poFile, entries); hr.failed()) return hr;
    Workspace work;
    if (HResult hr = openWorkspace(input, work); hr.failed()) return hr;
    HResult hr = importInto(work, entries, language, sourceLanguage, counts);
    if (hr.succeeded() && (!work.project || !output.empty()))
        hr = compileInto(work, work.project ? output : EditDestination(input, output));
    if (hr.failed() && !work.project)
        ReportMessage(false, kSource, __LINE__, "未能导入翻译到文件 %s；%s 没有改变。",
                      {pathToUtf8(input), pathToUtf8(EditDestination(input, output))});
    if (summary) *summary = counts;
    return hr;
}

}  // namespace kestrel
