// Feeds arbitrary bytes to the import (Dump into a fresh folder) and to the resource lookup. The
// import must never crash, hang or write anything outside its working folder.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/errors/errors.h"
#include "core/pe/exe_dump.h"
#include "core/pe/pe_image.h"
#include "core/pe/resource_reader.h"
#include "core/platform/ui_sink.h"
#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

using kestrel::fuzzing::SilentSink;

// Every run works in <parent>/outer/inner/work, folders that hold nothing else: anything else
// under the parent afterwards was written outside the working folder.
const fs::path& parentFolder() {
    static const fs::path parent = [] {
        fs::path path = fs::temp_directory_path() / ("fuzz_pe_dump_" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
        return path;
    }();
    return parent;
}

// Lists and finds a bounded number of resources: each call reads whole directories, so walking
// every type × name × language of a hostile tree would only measure the harness.
void exerciseLookup(kestrel::Bytes bytes) {
    kestrel::ResourceLookup lookup;
    if (lookup.open(bytes).failed()) return;
    int budget = 64;
    for (const auto& type : lookup.types()) {
        // Every type counts: a root of 0xFFFF types without names would otherwise read 0xFFFF
        // directories of 0xFFFF entries each.
        if (--budget <= 0) return;
        for (const auto& name : lookup.names(type)) {
            for (std::uint16_t language : lookup.languages(type, name)) {
                auto data = lookup.find(type, name, language);
                if (data && data->size() > lookup.reader().sectionSize()) std::abort();
                if (--budget <= 0) return;
            }
            (void)lookup.find(type, name);
            if (--budget <= 0) return;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static SilentSink sink;
    kestrel::setUiSink(&sink);
    kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);

    const fs::path& parent = parentFolder();
    fs::path work = parent / "outer" / "inner" / "work";
    fs::create_directories(work);
    {
        kestrel::CExeDump dump;
        dump.switches().pngBitmaps = true;
        (void)dump.Dump(bytes, work, "pe.xml");
    }
    kestrel::ClearErrorRecord();
    for (auto it = fs::recursive_directory_iterator(parent); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path() == work) {
            it.disable_recursion_pending();
        } else if (it->path() != parent / "outer" && it->path() != parent / "outer" / "inner") {
            std::fprintf(stderr, "written outside the working folder: %s\n", it->path().c_str());
            std::abort();
        }
    }
    fs::remove_all(work);

    exerciseLookup(bytes);

    // A file told to be cut short is cut short where it ends.
    kestrel::PeImage image;
    std::uint64_t cutShortAt = 0;
    if (kestrel::parsePeImage(bytes, image, nullptr, &cutShortAt).succeeded()
            ? cutShortAt != 0
            : cutShortAt != 0 && cutShortAt != size)
        std::abort();
    return 0;
}
