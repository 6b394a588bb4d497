// Writes the demonstration file sample.dll.
#include <cstdio>

#include "pe_builder/pe_builder.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "make-sample: not built yet\n");
    return 1;
}
