// kestrel-rcedit: the classic one-shot resource editor's command line on top of Kestrel's edits.
#include <string>
#include <vector>

#include "rcedit/rcedit_program.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    return kestrel::runRceditProgram(arguments);
}
