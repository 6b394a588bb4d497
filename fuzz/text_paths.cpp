// Fuzzes the UTF-16 codec and the stored-name resolver.
// The first byte chooses the property; the rest is the input:
//   0: the bytes are UTF-16LE units: utf16ToUtf8 gives WTF-8 that converts back to the same units;
//   1: the bytes are stored text: decoding never fails, well-formed WTF-8 round-trips byte for byte,
//      and storedTextToUtf8 always yields WTF-8;
//   2: the bytes are a stored name: a resolved name never lies outside the folder.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "core/platform/paths.h"
#include "core/platform/text.h"

namespace {

namespace fs = std::filesystem;

fs::path fixtureFolder;

void removeFixture() {
    std::error_code ec;
    fs::remove_all(fixtureFolder, ec);
}

// A working folder with case twins, nested folders and a link that points outside it.
void createFixture() {
    std::string pattern = (fs::temp_directory_path() / "kestrel-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    fixtureFolder = pattern;
    std::atexit(removeFixture);
    std::error_code ec;
    fs::create_directories(fixtureFolder / "Blue" / "Sub", ec);
    fs::create_directories(fixtureFolder / "BLUE", ec);
    for (const char* name :
         {"pe.xml", "PE.XML", "Blue/Arrow.png", "Blue/arrow.PNG", "\xC3\x84rger.txt", "\xD6\xD0.ico"}) {
        if (FILE* file = std::fopen((fixtureFolder / name).c_str(), "w")) std::fclose(file);
    }
    fs::create_symlink("/", fixtureFolder / "outside", ec);
}

void check(bool condition) {
    if (!condition) std::abort();
}

void checkCodec(std::string_view bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    std::string utf8 = kestrel::utf16ToUtf8(units);
    check(kestrel::isWtf8(utf8));
    check(kestrel::utf8ToUtf16(utf8) == units);
}

void checkStoredText(std::string_view bytes) {
    std::u16string units = kestrel::utf8ToUtf16(bytes);
    if (kestrel::isWtf8(bytes)) check(kestrel::utf16ToUtf8(units) == bytes);
    check(kestrel::isWtf8(kestrel::storedTextToUtf8(bytes)));
}

void checkResolver(std::string_view name) {
    fs::path out;
    if (kestrel::resolveStored(fixtureFolder, name, out).failed()) return;
    fs::path relative = out.lexically_relative(fixtureFolder);
    check(!relative.empty() && relative.is_relative());
    for (const auto& part : relative)
        check(part != ".." && part != ".");
    check(out.native().compare(0, fixtureFolder.native().size(), fixtureFolder.native()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    createFixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0:
            checkCodec(input);
            break;
        case 1:
            checkStoredText(input);
            break;
        default:
            checkResolver(input);
            break;
    }
    return 0;
}
