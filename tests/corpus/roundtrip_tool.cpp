// Driver of the real-file round trip: for each "<PE file>\t<work folder>" line on standard input it
// imports the file, compiles the folder back unchanged, imports the rebuilt file a second time and
// checks that both imports describe the same resources. One line of result per input line:
//   OK\t<rebuilt file>\t<import ms>\t<compile ms>[\t<file with added resources>\t<.ico>\t<version>]
// A file without resources is also given an icon group (from a two-image .ico file) and a version
// block, compiled to the file named last on its OK line beside the two sources it was made from.
//   REFUSED\t<error text>          the import refused the file
//   FAIL\t<step>\t<error text>     anything else
// The comparison with the original (pefile) is done by the caller, roundtrip.py.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "core/errors/errors.h"
#include "core/pe/decompile_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/res_compiler.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "core/xml/xml_document.h"
#include "pe_builder/pe_builder.h"

namespace {

using namespace kestrel;
namespace fs = std::filesystem;

// Message boxes are counted, not shown: a real visual-style file raises hundreds of them.
class QuietSink : public UiSink {
  public:
    void message(std::string_view, std::string_view, MessageIcon) override { ++messages; }
    Answer ask(std::string_view, std::string_view, Buttons buttons, int defaultButton, MessageIcon) override {
        return buttonAnswer(buttons, defaultButton);
    }
    int showError() override { return 1; }
    void busy(bool) override {}
    int messages = 0;
};

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    return text;
}

std::string errorText() {
    auto record = TakeErrorRecord();
    return record ? oneLine(record->description) : std::string("(no report)");
}

std::string readOrEmpty(const fs::path& path) {
    std::vector<std::byte> bytes;
    if (ReadWholeFile(path, bytes).failed()) return "<missing>";
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Adds an icon group and a version block to the imported folder of a file without resources and
// compiles it to <work>/added/<name>. The result names that file and the two sources.
std::string addResources(const fs::path& folder, const fs::path& work, const fs::path& peFile) {
    const fs::path ico = work / "app.ico";
    const fs::path version = work / "version.bin";
    if (WriteFileAtomic(ico, asBytes(pebuilder::makeIcoFile(
                                 {pebuilder::makeIconImage(32, 8, 1), pebuilder::makeIconImage(16, 32, 2)})))
            .failed() ||
        WriteFileAtomic(version, asBytes(pebuilder::makeVersionInfo(pebuilder::defaultVersionPlan())))
            .failed())
        return "FAIL\tadd\tcannot write the sources";
    XmlDocument description;
    XmlElement* added = nullptr;
    if (description.LoadFile(folder / "pe.xml").failed() ||
        AddResource(description, folder, ResourceKey::ofId(14), ResourceKey::ofId(1), 1033, ico, added)
            .failed() ||
        AddResource(description, folder, ResourceKey::ofId(16), ResourceKey::ofId(1), 1033, version, added)
            .failed() ||
        description.SaveFile().failed())
        return "FAIL\tadd\t" + errorText();
    CResCompiler compiler;
    compiler.setWorkingFolder(folder);
    compiler.setOutputName(peFile.filename());
    compiler.setTrace([](std::string_view) {});
    if (compiler.Compile(folder / "pe.xml").failed())
        return "FAIL\tcompile with added resources\t" + errorText();
    const fs::path result = work / "added" / peFile.filename();
    std::error_code ec;
    fs::create_directories(result.parent_path(), ec);
    fs::rename(compiler.outputPath(), result, ec);
    if (ec) return "FAIL\tadd\tcannot move the compiled file";
    return pathToUtf8(result) + "\t" + pathToUtf8(ico) + "\t" + pathToUtf8(version);
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    QuietSink sink;
    setUiSink(&sink);
    std::string line;
    while (std::getline(std::cin, line)) {
        auto tab = line.find('\t');
        if (tab == std::string::npos) {
            std::cout << "FAIL\tinput\tline without a tab" << std::endl;
            continue;
        }
        fs::path peFile = pathFromUtf8(line.substr(0, tab));
        fs::path work = pathFromUtf8(line.substr(tab + 1));
        std::error_code ec;
        fs::remove_all(work, ec);
        ClearErrorRecord();

        fs::path first = work / "import";
        fs::path project;
        auto start = std::chrono::steady_clock::now();
        if (DecompileFile(peFile, first, project).failed()) {
            std::cout << "REFUSED\t" << errorText() << std::endl;
            continue;
        }
        double importMs = millisecondsSince(start);

        start = std::chrono::steady_clock::now();
        CResCompiler compiler;
        compiler.setWorkingFolder(first);
        compiler.setOutputName(peFile.filename());
        compiler.setTrace([](std::string_view) {});
        if (compiler.Compile(first / "pe.xml").failed()) {
            std::cout << "FAIL\tcompile\t" << errorText() << std::endl;
            continue;
        }
        double compileMs = millisecondsSince(start);

        fs::path second = work / "second";
        if (DecompileFile(compiler.outputPath(), second, project).failed()) {
            std::cout << "FAIL\treimport\t" << errorText() << std::endl;
            continue;
        }
        std::string differs;
        for (const char* name : {"pe.xml", "STRINGS.XML"})
            if (readOrEmpty(first / name) != readOrEmpty(second / name)) differs += std::string(" ") + name;
        if (!differs.empty()) {
            std::cout << "FAIL\tsecond import\tdescribes the rebuilt file differently:" << differs
                      << std::endl;
            continue;
        }
        std::string rebuilt = pathToUtf8(compiler.outputPath());
        if (readOrEmpty(first / "pe.xml").find("<Entry") == std::string::npos) {
            // Kept aside: the folder is reused for the file with added resources.
            const fs::path kept = work / "rebuilt" / peFile.filename();
            fs::create_directories(kept.parent_path(), ec);
            fs::rename(compiler.outputPath(), kept, ec);
            rebuilt = pathToUtf8(kept);
            const std::string added = addResources(first, work, peFile);
            if (added.starts_with("FAIL")) {
                std::cout << added << std::endl;
                continue;
            }
            rebuilt += "\t" + std::to_string(importMs) + "\t" + std::to_string(compileMs) + "\t" + added;
            std::cout << "OK\t" << rebuilt << std::endl;
            continue;
        }
        std::cout << "OK\t" << rebuilt << "\t" << importMs << "\t" << compileMs << std::endl;
    }
    setUiSink(nullptr);
    return 0;
}
