// Compiles fuzzed pe.xml and STRINGS.XML texts (the input, split at its first zero byte) over a
// fixed working folder. The compile must never crash or hang, and must write nothing but its output
// file inside the working folder.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "core/errors/errors.h"
#include "core/pe/res_compiler.h"
#include "core/platform/byte_reader.h"
#include "core/platform/files.h"
#include "core/platform/ui_sink.h"
#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;
using kestrel::ByteWriter;

using kestrel::fuzzing::SilentSink;

void write(const fs::path& path, const std::vector<std::byte>& bytes) {
    if (kestrel::WriteWholeFile(path, kestrel::Bytes(bytes.data(), bytes.size())).failed()) std::abort();
}
void write(const fs::path& path, std::string_view text) {
    if (kestrel::WriteWholeFile(path, kestrel::asBytes(text)).failed()) std::abort();
}

void section(ByteWriter& out, const char* name, std::uint32_t va, std::uint32_t raw,
             std::uint32_t characteristics) {
    std::string padded(name);
    padded.resize(8, '\0');
    out.append(kestrel::asBytes(padded));
    out.u32(0x100);  // virtual size
    out.u32(va);
    out.u32(0x200);  // raw size
    out.u32(raw);
    out.zeros(12);
    out.u32(characteristics);
}

// A PE32 image taken apart: .text, .rsrc and .reloc (file alignment 0x200, section alignment
// 0x1000), a checksum and a symbol table pointer into a small overlay, and a few resource files.
void makeWorkingFolder(const fs::path& folder) {
    fs::create_directories(folder / "sub");
    ByteWriter dos;
    dos.u16(0x5A4D);
    dos.zeros(0x3A);
    dos.u32(64);
    write(folder / "DOSHEADER.BIN", dos.bytes());

    ByteWriter nt;
    nt.u32(0x4550);
    nt.u16(0x14C);  // machine
    nt.u16(3);      // sections
    nt.u32(0);
    nt.u32(0x800);  // PointerToSymbolTable: the overlay
    nt.u32(1);
    nt.u16(224);
    nt.u16(0x2102);
    nt.u16(0x10B);  // optional header
    nt.zeros(2);
    nt.u32(0x200);  // code
    nt.u32(0x400);  // initialized data
    nt.u32(0);
    nt.u32(0x1000);  // entry point
    nt.u32(0x1000);
    nt.u32(0x2000);
    nt.u32(0x10000000);  // image base
    nt.u32(0x1000);      // section alignment
    nt.u32(0x200);       // file alignment
    nt.u16(4);
    nt.zeros(6);
    nt.u16(4);
    nt.zeros(6);
    nt.u32(0x4000);  // SizeOfImage
    nt.u32(0x200);   // SizeOfHeaders
    nt.u32(1);       // CheckSum
    nt.u16(2);
    nt.u16(0);
    nt.u32(0x100000);
    nt.u32(0x1000);
    nt.u32(0x100000);
    nt.u32(0x1000);
    nt.u32(0);
    nt.u32(16);
    for (int d = 0; d < 16; ++d) {
        nt.u32(d == 2 ? 0x2000 : d == 5 ? 0x3000 : d == 4 ? 0x800 : 0);
        nt.u32(d == 2 ? 0x10 : d == 5 ? 8 : d == 4 ? 8 : 0);
    }
    section(nt, ".text", 0x1000, 0x200, 0x60000020);
    section(nt, ".rsrc", 0x2000, 0x400, 0x40000040);
    section(nt, ".reloc", 0x3000, 0x600, 0x42000040);
    nt.zeros(0x200 - 64 - nt.size());
    write(folder / "NTHEADER.BIN", nt.bytes());

    std::vector<std::byte> text(0x200, std::byte{0xC3});
    write(folder / "text.BIN", text);
    ByteWriter reloc;
    reloc.u32(0x1000);
    reloc.u32(8);
    reloc.zeros(0x200 - 8);
    write(folder / "reloc.BIN", reloc.bytes());
    write(folder / "PEOVERLAY.BIN", std::string_view("overlay!certific"));

    write(folder / "a.bin", std::string_view("raw resource data"));
    write(folder / "sub" / "x.bin", std::string_view("in a subfolder"));
    ByteWriter dib;
    dib.u32(40);
    dib.u32(1);
    dib.u32(1);
    dib.u16(1);
    dib.u16(32);
    dib.zeros(24);
    dib.u32(0x80FF0000);
    ByteWriter icon;
    icon.u16(0);
    icon.u16(1);
    icon.u16(1);
    icon.u8(1);
    icon.u8(1);
    icon.u16(0);
    icon.u16(3);  // hot spot x in a cursor file
    icon.u16(7);  // hot spot y
    icon.u32(static_cast<std::uint32_t>(dib.size()));
    icon.u32(22);
    icon.append(kestrel::Bytes(dib.bytes().data(), dib.size()));
    write(folder / "Icon.ICO", icon.bytes());
    write(folder / "Cursor.CUR", icon.bytes());
    ByteWriter bmp;
    bmp.u16(0x4D42);
    bmp.u32(static_cast<std::uint32_t>(14 + dib.size()));
    bmp.u32(0);
    bmp.u32(54);
    bmp.append(kestrel::Bytes(dib.bytes().data(), dib.size()));
    write(folder / "Bitmap.BMP", bmp.bytes());
    write(folder / "Bitmap.png", std::string_view("\x89PNG\r\n\x1a\n not really"));
}

std::set<std::string> listing(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        names.insert(entry.path().string());
    return names;
}

struct Fixture {
    fs::path parent;
    fs::path work;
    std::set<std::string> expected;

    Fixture() {
        parent = fs::temp_directory_path() / ("fuzz_compile_folder_" + std::to_string(::getpid()));
        fs::remove_all(parent);
        work = parent / "inner" / "work";
        makeWorkingFolder(work);
        write(work / "pe.xml", std::string_view(""));
        write(work / "STRINGS.XML", std::string_view(""));
        expected = listing(parent);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static SilentSink sink;
    static Fixture fixture;
    kestrel::setUiSink(&sink);

    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find('\0');
    std::string_view peXml = input.substr(0, split);
    std::string_view strings = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    write(fixture.work / "pe.xml", peXml);
    if (strings.empty()) {
        fs::remove(fixture.work / "STRINGS.XML");
    } else {
        write(fixture.work / "STRINGS.XML", strings);
    }

    kestrel::CResCompiler compiler;
    compiler.setWorkingFolder(fixture.work);
    compiler.setOutputName("out.dll");
    compiler.setTrace([](std::string_view) {});
    kestrel::HResult hr = compiler.Compile(fixture.work / "pe.xml");
    if (std::getenv("KESTREL_FUZZ_VERBOSE")) {
        auto record = kestrel::PeekErrorRecord();
        std::fprintf(stderr, "compile: 0x%08X %s\n", hr.value(), record ? record->description.c_str() : "");
    }
    kestrel::ClearErrorRecord();

    fs::remove(fixture.work / "out.dll");
    if (!fs::exists(fixture.work / "STRINGS.XML")) write(fixture.work / "STRINGS.XML", std::string_view(""));
    if (listing(fixture.parent) != fixture.expected) {
        std::fprintf(stderr, "the compile changed files outside its output\n");
        std::abort();
    }
    return 0;
}
