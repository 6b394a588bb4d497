// Our script text of real resources against binutils: every accelerator table, menu and dialog of
// the corpus (tests/corpus/fetch), in every language, decoded to resource-script text and compiled
// by windres; every message table decoded to message-compiler text and compiled by windmc. Each
// result must decode to the same fields as the original (the same bytes, for accelerators and
// message tables). windres writes menu, class and control class names in capitals and leaves out
// the padding after the last item of an extended menu, so names are compared without case and
// menus by their decoded fields.
//
// Usage: kestrel_script_oracle <work folder> [corpus root]
// Exit status: 0 all equal, 1 differences, 77 corpus, windres or windmc missing.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/pe/dialog_template.h"
#include "core/pe/menu_template.h"
#include "core/pe/rc_script.h"
#include "core/pe/resource_reader.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

using ByteVector = std::vector<std::byte>;

struct Resource {
    ByteVector bytes;
    std::uint16_t language = 0;
};

std::vector<Resource> resourcesOf(const std::vector<fs::path>& files, std::uint16_t type) {
    std::vector<Resource> found;
    for (const fs::path& file : files) {
        ByteVector image;
        if (ReadWholeFile(file, image).failed()) continue;
        ResourceLookup lookup;
        if (lookup.open(image).failed()) continue;
        const ResourceKey key = ResourceKey::ofId(type);
        for (const ResourceKey& name : lookup.names(key))
            for (std::uint16_t language : lookup.languages(key, name))
                if (std::optional<Bytes> data = lookup.find(key, name, language))
                    found.push_back(Resource{ByteVector(data->begin(), data->end()), language});
    }
    return found;
}

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

void capitals(NameOrOrdinal& field) {
    for (char16_t& unit : field.text)
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 32);
}

bool sameFields(std::uint16_t type, Bytes ours, Bytes theirs) {
    if (type == resource_type::kDialog) {
        DialogTemplate a, b;
        if (DecodeDialogTemplate(ours, a).failed() || DecodeDialogTemplate(theirs, b).failed()) return false;
        for (DialogTemplate* dialog : {&a, &b}) {
            capitals(dialog->menu);
            capitals(dialog->windowClass);
            for (DialogItem& item : dialog->items)
                capitals(item.windowClass);
        }
        return a == b;
    }
    if (type == resource_type::kMenu) {
        MenuTemplate a, b;
        return DecodeMenuTemplate(ours, a) == kOk && DecodeMenuTemplate(theirs, b) == kOk && a == b;
    }
    return std::equal(ours.begin(), ours.end(), theirs.begin(), theirs.end());
}

// The resources of `type` in a .res file, by numeric name.
std::map<int, ByteVector> readRes(const fs::path& path, std::uint16_t type) {
    std::map<int, ByteVector> found;
    ByteVector res;
    if (ReadWholeFile(path, res).failed()) return found;
    const ByteReader reader(res);
    std::size_t at = 0;
    while (at + 8 <= res.size()) {
        const std::uint32_t dataSize = reader.u32Or(at, 0), headerSize = reader.u32Or(at + 4, 0);
        if (headerSize < 8) break;
        std::size_t p = at + 8;
        std::uint16_t ids[2] = {0, 0};
        for (std::uint16_t& id : ids) {
            if (reader.u16Or(p, 0) == 0xFFFF) {
                id = reader.u16Or(p + 2, 0);
                p += 4;
            } else {
                while (p < res.size() && reader.u16Or(p, 0) != 0)
                    p += 2;
                p += 2;
            }
        }
        const std::optional<Bytes> data = reader.span(at + headerSize, dataSize);
        if (data && ids[0] == type) found[ids[1]] = ByteVector(data->begin(), data->end());
        at = (at + headerSize + dataSize + 3) & ~std::size_t{3};
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const fs::path work = argv[1];
    const char* home = std::getenv("HOME");
    const fs::path root =
        argc > 2 ? fs::path(argv[2]) : fs::path(home != nullptr ? home : "/") / ".cache/kestrel-corpus/root";
    if (!fs::is_directory(root) || !run("i686-w64-mingw32-windres --version > /dev/null 2>&1") ||
        !run("i686-w64-mingw32-windmc --version > /dev/null 2>&1")) {
        std::printf("script oracle: corpus, windres or windmc missing\n");
        return 77;
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const fs::path folder = entry.path().parent_path().filename();
        if (entry.is_regular_file() && (folder == "i386-windows" || folder == "x86_64-windows"))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    fs::create_directories(work);
    bool allEqual = true;

    struct Kind {
        const char* name;
        std::uint16_t type;
        HResult (*decode)(Bytes, const ScriptOptions&, ScriptText&);
    };
    for (const Kind& kind : {Kind{"accelerators", resource_type::kAccelerator, AcceleratorsToScript},
                             Kind{"menus", resource_type::kMenu, MenuToScript},
                             Kind{"dialogs", resource_type::kDialog, DialogToScript}}) {
        const std::vector<Resource> resources = resourcesOf(files, kind.type);
        std::string script;
        for (std::size_t i = 0; i < resources.size(); ++i) {
            ScriptOptions options;
            options.name = std::to_string(i + 1);
            options.language = resources[i].language;
            ScriptText text;
            if (kind.decode(resources[i].bytes, options, text).failed()) {
                std::printf("%s %zu: does not decode\n", kind.name, i + 1);
                allEqual = false;
                continue;
            }
            script += text.text + "\n";
        }
        const fs::path base = work / kind.name;
        std::ofstream(base.string() + ".rc", std::ios::binary) << script;
        // Without a cross compiler the host's preprocessor does; the text needs none of its own.
        if (!run("i686-w64-mingw32-windres --preprocessor=cpp --preprocessor-arg=-P -c 65001 -O res -i " +
                 base.string() + ".rc -o " + base.string() + ".res 2> " + base.string() + ".err")) {
            std::printf("%s: windres fails, see %s.err\n", kind.name, base.string().c_str());
            allEqual = false;
            continue;
        }
        const std::map<int, ByteVector> compiled = readRes(base.string() + ".res", kind.type);
        std::size_t same = 0, sameBytes = 0, shown = 0;
        for (std::size_t i = 0; i < resources.size(); ++i) {
            const auto it = compiled.find(static_cast<int>(i + 1));
            if (it == compiled.end()) continue;
            sameBytes += it->second == resources[i].bytes ? 1 : 0;
            if (sameFields(kind.type, resources[i].bytes, it->second))
                ++same;
            else if (shown++ < 5)
                std::printf("%s %zu: windres gives other fields\n", kind.name, i + 1);
        }
        std::printf("script oracle: %s: %zu, windres compiled %zu, %zu the same fields, %zu the same bytes\n",
                    kind.name, resources.size(), compiled.size(), same, sameBytes);
        allEqual = allEqual && same == resources.size();
    }

    // Message tables, one windmc run each; the language names line uses U.S. English because windmc
    // knows only some language IDs, and the language does not change the table's bytes.
    const std::vector<Resource> tables = resourcesOf(files, resource_type::kMessageTable);
    std::size_t sameTables = 0;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        ScriptOptions options;
        options.language = 0x409;
        ScriptText text;
        if (MessageTableToScript(tables[i].bytes, options, text).failed()) continue;
        const fs::path folder = work / "mc";
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(folder / "t.mc", std::ios::binary) << text.text;
        ByteVector bin;
        if (!run("cd " + folder.string() + " && i686-w64-mingw32-windmc -C 65001 -U t.mc > err.txt 2>&1") ||
            ReadWholeFile(folder / "MSG00409.bin", bin).failed() || bin != tables[i].bytes) {
            std::printf("message table %zu: windmc gives other bytes\n", i + 1);
            continue;
        }
        ++sameTables;
    }
    std::printf("script oracle: message tables: %zu, %zu the same bytes from windmc\n", tables.size(),
                sameTables);
    allEqual = allEqual && sameTables == tables.size();
    return allEqual ? 0 : 1;
}
