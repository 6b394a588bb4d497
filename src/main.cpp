// The kestrel program: command-line import and compile, and (later) the desktop interface.
#if defined(KESTREL_WITH_UI)
#include "ui/gui_main.h"

int main(int argc, char** argv) {
    return kestrel::ui::runGuiProgram(argc, argv);
}
#elif defined(KESTREL_WITH_APP)
#include "app/ks_app.h"

int main(int argc, char** argv) {
    return kestrel::runKestrel(argc, argv);
}
#else
#include <cstdio>

#include "core/platform/format.h"

int main() {
    double version = KESTREL_VERSION_MS * 0.1 + KESTREL_VERSION_LS * 0.00001;
    std::printf("Kestrel Beta 版本 %s\n", kestrel::formatFixed(version).c_str());
    return 0;
}
#endif
