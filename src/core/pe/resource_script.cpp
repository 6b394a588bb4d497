#include "core/pe/resource_script.h"

#include "core/pe/resource_types.h"
#include "core/platform/text.h"

namespace kestrel {

namespace {

bool isWordUnit(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') ||
           (unit >= u'0' && unit <= u'9') || unit == u'_';
}

}  // namespace

bool HasScriptForm(const ResourceKey& type) {
    if (type.isName) return false;
    switch (type.id) {
        case resource_type::kAccelerator:
        case resource_type::kMenu:
        case resource_type::kDialog:
        case resource_type::kMessageTable:
            return true;
        default:
            return false;
    }
}

HResult ResourceToScript(const ResourceKey& type, Bytes data, const ScriptOptions& options, ScriptText& out) {
    if (!HasScriptForm(type)) return kFail;
    switch (type.id) {
        case resource_type::kAccelerator:
            return AcceleratorsToScript(data, options, out);
        case resource_type::kMenu:
            return MenuToScript(data, options, out);
        case resource_type::kDialog:
            return DialogToScript(data, options, out);
        default:
            return MessageTableToScript(data, options, out);
    }
}

HResult CompileResourceScript(const ResourceKey& type, std::string_view text, std::vector<std::byte>& out,
                              ScriptError& error) {
    if (!HasScriptForm(type)) {
        out.clear();
        error = ScriptError{1, 1, "this resource type has no text form"};
        return kFail;
    }
    switch (type.id) {
        case resource_type::kAccelerator:
            return CompileAcceleratorsScript(text, out, error);
        case resource_type::kMenu:
            return CompileMenuScript(text, out, error);
        case resource_type::kDialog:
            return CompileDialogScript(text, out, error);
        default:
            return CompileMessageTableScript(text, out, error);
    }
}

std::string ScriptResourceName(const ResourceKey& name) {
    if (!name.isName) return std::to_string(name.id);
    bool plain = !name.name.empty() && !(name.name.front() >= u'0' && name.name.front() <= u'9');
    for (char16_t unit : name.name)
        plain = plain && isWordUnit(unit);
    if (plain) return utf16ToUtf8(name.name);
    std::string quoted = "\"";
    for (char unit : utf16ToUtf8(name.name)) {
        if (unit == '"') quoted += '"';
        quoted += unit;
    }
    return quoted + "\"";
}

}  // namespace kestrel
