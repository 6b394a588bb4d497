// Recolours arbitrary bytes as a .BMP, .ICO, .CUR or .png file in a temporary folder, and as a packed
// DIB in memory, where every image path must give the same bytes. The first byte chooses the
// extension and the settings; the rest is the file.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errors/errors.h"
#include "core/images/colorize_engine.h"
#include "core/platform/files.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const char* const kNames[] = {"Bitmap00001.BMP", "Icon00001.ICO", "Cursor00001.CUR",
                                         "Bitmap00002.png"};
    const std::uint8_t selector = data[0];
    const std::vector<std::byte> content(reinterpret_cast<const std::byte*>(data + 1),
                                         reinterpret_cast<const std::byte*>(data + size));

    kestrel::ColorizeEngine engine;
    engine.BuildHueTables((selector >> 2) * 97 - 3000, selector & 0x10 ? 40 : -40, 0, 7, selector & 0x20,
                          selector & 0x40);
    engine.BuildSaturationTable(0, (selector & 0x80) ? -0.9 : 0.5, false);
    engine.setSaturationOn(selector & 0x04);

    const std::filesystem::path path = kestrel::fuzzing::scratchFolder("colorize") / kNames[selector & 3];
    if (kestrel::WriteWholeFile(path, kestrel::Bytes(content.data(), content.size())).failed()) abort();
    (void)engine.RecolorFile(path);

    std::vector<std::byte> dib = content;
    const kestrel::HResult widest = engine.RecolorDib(dib);
    // Every narrower image path gives the same bytes.
    using Path = kestrel::ColorizeEngine::VectorPath;
    for (Path path : {Path::kScalar, Path::kAvx2}) {
        if (path >= kestrel::ColorizeEngine::BestVectorPath()) continue;
        kestrel::ColorizeEngine narrower = engine;
        narrower.setVectorLimit(path);
        std::vector<std::byte> again = content;
        if (narrower.RecolorDib(again) != widest || again != dib) abort();
    }

    kestrel::ClearErrorRecord();
    return 0;
}
