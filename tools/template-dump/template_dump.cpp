// template-dump FILE...: prints every dialog (type 5) and menu (type 4) resource of each PE file, in
// every language, as one JSON object per line, decoded with the core's template decoders. Used by
// tests/corpus/template_oracle.py to compare our decoding with another resource tool's.
//
// Line shapes (numbers are decimal; texts are JSON strings with every non-ASCII UTF-16 unit as
// \uXXXX, so that unpaired surrogates survive):
//   {"file":F,"type":"dialog"|"menu","name":ID|"NAME","lang":L,"ok":true,...fields...}
//   {"file":F,"type":...,"name":...,"lang":L,"ok":false,"error":"decode"|"unreadable"}
//   {"file":F,"error":"open"}   the file is not a PE image we read, or it has no resources
// A name-or-ordinal field is null (none), {"ord":N} or {"text":T}.
#include <cstdio>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "core/pe/dialog_template.h"
#include "core/pe/menu_template.h"
#include "core/pe/resource_reader.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"

namespace {

using namespace kestrel;

class Json {
  public:
    void key(const char* name) {
        comma();
        out_ += '"';
        out_ += name;
        out_ += "\":";
        pending_ = false;
    }
    void open(char bracket) {
        comma();
        out_ += bracket;
        pending_ = false;
    }
    void close(char bracket) {
        out_ += bracket;
        pending_ = true;
    }
    void number(std::int64_t value) {
        comma();
        out_ += std::to_string(value);
        pending_ = true;
    }
    void boolean(bool value) {
        comma();
        out_ += value ? "true" : "false";
        pending_ = true;
    }
    void null() {
        comma();
        out_ += "null";
        pending_ = true;
    }
    void text(const std::u16string& value) {
        comma();
        out_ += '"';
        for (char16_t unit : value) {
            if (unit == u'"' || unit == u'\\') {
                out_ += '\\';
                out_ += static_cast<char>(unit);
            } else if (unit >= 0x20 && unit < 0x7F) {
                out_ += static_cast<char>(unit);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
                out_ += escaped;
            }
        }
        out_ += '"';
        pending_ = true;
    }
    // A byte string (a file name as given, or ASCII): bytes from 0x20 on are copied unchanged.
    void text(const std::string& value) {
        comma();
        out_ += '"';
        for (char byte : value) {
            if (byte == '"' || byte == '\\') out_ += '\\';
            if (static_cast<unsigned char>(byte) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
                out_ += escaped;
            } else {
                out_ += byte;
            }
        }
        out_ += '"';
        pending_ = true;
    }

    template <typename T>
    void field(const char* name, T value) {
        key(name);
        if constexpr (std::is_same_v<T, bool>)
            boolean(value);
        else
            number(static_cast<std::int64_t>(value));
    }
    void textField(const char* name, const std::u16string& value) {
        key(name);
        text(value);
    }
    void nameOrOrdinal(const char* name, const NameOrOrdinal& value) {
        key(name);
        if (value.isNone()) {
            null();
            return;
        }
        open('{');
        if (value.isOrdinal())
            field("ord", value.ordinal);
        else
            textField("text", value.text);
        close('}');
    }

    // Writes the line to standard output and starts the next one.
    void flush() {
        out_ += '\n';
        std::fwrite(out_.data(), 1, out_.size(), stdout);
        out_.clear();
        pending_ = false;
    }

  private:
    void comma() {
        if (pending_) out_ += ',';
    }
    std::string out_;
    bool pending_ = false;  // a value was written, the next one needs a comma
};

void dumpDialog(Json& json, const DialogTemplate& dialog) {
    json.field("extended", dialog.extended);
    json.field("helpId", dialog.helpId);
    json.field("style", dialog.style);
    json.field("exStyle", dialog.exStyle);
    json.field("x", dialog.x);
    json.field("y", dialog.y);
    json.field("cx", dialog.cx);
    json.field("cy", dialog.cy);
    json.nameOrOrdinal("menu", dialog.menu);
    json.nameOrOrdinal("class", dialog.windowClass);
    json.textField("caption", dialog.title);
    json.key("font");
    if (dialog.hasFont) {
        json.open('{');
        json.field("size", dialog.pointSize);
        json.field("weight", dialog.weight);
        json.field("italic", dialog.italic);
        json.field("charset", dialog.charset);
        json.textField("face", dialog.typeface);
        json.close('}');
    } else {
        json.null();
    }
    json.key("controls");
    json.open('[');
    for (const DialogItem& item : dialog.items) {
        json.open('{');
        json.nameOrOrdinal("class", item.windowClass);
        json.nameOrOrdinal("text", item.title);
        json.field("id", item.id);
        json.field("x", item.x);
        json.field("y", item.y);
        json.field("cx", item.cx);
        json.field("cy", item.cy);
        json.field("style", item.style);
        json.field("exStyle", item.exStyle);
        json.field("helpId", item.helpId);
        json.field("dataSize", item.creationDataSize);
        json.close('}');
    }
    json.close(']');
}

void dumpMenuItems(Json& json, const std::vector<MenuItem>& items) {
    json.open('[');
    for (const MenuItem& item : items) {
        json.open('{');
        json.textField("text", item.text);
        json.field("id", item.id);
        json.field("popup", item.popup);
        json.field("separator", item.separator);
        json.field("grayed", item.grayed);
        json.field("disabled", item.disabled);
        json.field("checked", item.checked);
        json.field("radioCheck", item.radioCheck);
        json.field("default", item.defaultItem);
        json.field("menuBreak", item.menuBreak);
        json.field("menuBarBreak", item.menuBarBreak);
        json.field("rightJustify", item.rightJustify);
        json.field("ownerDraw", item.ownerDraw);
        json.field("bitmap", item.bitmap);
        json.field("helpId", item.helpId);
        if (item.popup) {
            json.key("children");
            dumpMenuItems(json, item.children);
        }
        json.close('}');
    }
    json.close(']');
}

void dumpMenu(Json& json, const MenuTemplate& menu) {
    json.field("extended", menu.extended);
    json.field("helpId", menu.helpId);
    json.key("items");
    dumpMenuItems(json, menu.items);
}

void dumpType(Json& json, const std::string& file, const ResourceLookup& lookup, std::uint16_t type) {
    const ResourceKey typeKey = ResourceKey::ofId(type);
    for (const ResourceKey& name : lookup.names(typeKey)) {
        for (std::uint16_t language : lookup.languages(typeKey, name)) {
            json.open('{');
            json.key("file");
            json.text(file);
            json.key("type");
            json.text(std::string(type == resource_type::kDialog ? "dialog" : "menu"));
            json.key("name");
            if (name.isName)
                json.text(name.name);
            else
                json.number(name.id);
            json.field("lang", language);
            const std::optional<Bytes> data = lookup.find(typeKey, name, language);
            bool ok = false;
            const char* error = "unreadable";
            if (data && type == resource_type::kDialog) {
                DialogTemplate dialog;
                ok = DecodeDialogTemplate(*data, dialog).succeeded();
                error = "decode";
                if (ok) {
                    json.field("ok", true);
                    dumpDialog(json, dialog);
                }
            } else if (data) {
                MenuTemplate menu;
                ok = DecodeMenuTemplate(*data, menu).succeeded();
                error = "decode";
                if (ok) {
                    json.field("ok", true);
                    dumpMenu(json, menu);
                }
            }
            if (!ok) {
                json.field("ok", false);
                json.key("error");
                json.text(std::string(error));
            }
            json.close('}');
            json.flush();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: template-dump FILE...\n");
        return 2;
    }
    Json json;
    for (int i = 1; i < argc; ++i) {
        const std::string file = argv[i];
        std::vector<std::byte> image;
        ResourceLookup lookup;
        if (ReadWholeFile(std::filesystem::path(file), image).failed() || lookup.open(image).failed()) {
            json.open('{');
            json.key("file");
            json.text(file);
            json.key("error");
            json.text(std::string("open"));
            json.close('}');
            json.flush();
            continue;
        }
        dumpType(json, file, lookup, resource_type::kDialog);
        dumpType(json, file, lookup, resource_type::kMenu);
    }
    return 0;
}
