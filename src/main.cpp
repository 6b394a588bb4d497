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

int main(int argc, char**) {
    double version = KESTREL_VERSION_MS * 0.1 + KESTREL_VERSION_LS * 0.00001;
    std::printf("Kestrel Beta 版本 %s\n", kestrel::formatFixed(version).c_str());
    // Without the application core no operation can run: a batch job asking for one must not be
    // told it succeeded.
    if (argc > 1) {
        std::fprintf(stderr, "kestrel: this build has no command-line operations (built without Qt)\n");
        return 2;
    }
    return 0;
}
#endif
