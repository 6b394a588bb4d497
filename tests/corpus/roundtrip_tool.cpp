// Driver of the real-file round trip: for each "<PE file>\t<work folder>" line on standard input it
// imports the file, compiles the folder back unchanged, imports the rebuilt file a second time and
// checks that both imports describe the same resources. One line of result per input line:
//   OK\t<rebuilt file>\t<import ms>\t<compile ms>
//   REFUSED\t<error text>          the import refused the file
//   FAIL\t<step>\t<error text>     anything else
// The comparison with the original (pefile) is done by the caller, roundtrip.py.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "core/errors/errors.h"
#include "core/pe/project_files.h"
#include "core/pe/res_compiler.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

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
        std::cout << "OK\t" << pathToUtf8(compiler.outputPath()) << "\t" << importMs << "\t" << compileMs
                  << std::endl;
    }
    setUiSink(nullptr);
    return 0;
}
