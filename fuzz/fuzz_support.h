// Helpers shared by the fuzz targets: a UI sink that shows nothing and answers with the default
// button, and a private scratch folder removed when the fuzzer exits.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/platform/ui_sink.h"

namespace kestrel::fuzzing {

class SilentSink : public UiSink {
  public:
    void message(std::string_view, std::string_view, MessageIcon) override {}
    Answer ask(std::string_view, std::string_view, Buttons buttons, int defaultButton, MessageIcon) override {
        return buttonAnswer(buttons, defaultButton);
    }
    int showError() override { return 1; }
    void busy(bool) override {}
};

// A private folder named after `tag`, on tmpfs when there is one (rewrites flush to disk), created
// on first use and removed when the process exits. One folder per process.
inline const std::filesystem::path& scratchFolder(std::string_view tag) {
    static const std::filesystem::path folder = [tag] {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / ("kestrel-fuzz-" + std::string(tag) + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data())) std::abort();
        return std::filesystem::path(pattern);
    }();
    static const bool cleanup = [] {
        return std::atexit([] {
                   std::error_code error;
                   std::filesystem::remove_all(folder, error);
               }) == 0;
    }();
    (void)cleanup;
    return folder;
}

}  // namespace kestrel::fuzzing
