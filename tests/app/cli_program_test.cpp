#include "cli/cli_program.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

// The desktop program is found beside the command line (a build folder, /usr/bin) or in
// ../lib/kestrel (an installation that keeps it off the PATH); a file that cannot be run is no
// desktop program.
TEST(GuiProgramPath, BesideThenLibThenNone) {
    testing::TempDir temp;
    const std::filesystem::path program = temp.path() / "bin" / "kestrel";
    const std::filesystem::path inLib = temp.write("lib/kestrel/kestrel-gui", "#!/bin/sh\n");
    EXPECT_TRUE(guiProgramPath(program).empty());
    ::chmod(inLib.c_str(), 0755);
    EXPECT_EQ(guiProgramPath(program), inLib);
    const std::filesystem::path beside = temp.write("bin/kestrel-gui", "#!/bin/sh\n");
    ::chmod(beside.c_str(), 0755);
    EXPECT_EQ(guiProgramPath(program), beside);
}

}  // namespace
}  // namespace kestrel
