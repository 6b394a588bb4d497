#include "core/platform/format.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(SafeFormat, FillsArgumentsAndLeavesMissingOnesEmpty) {
    EXPECT_EQ(safeFormat("路径 %s 无效。", {"a b"}), "路径 a b 无效。");
    EXPECT_EQ(safeFormat("file %s to %s", {"x"}), "file x to ");
    EXPECT_EQ(safeFormat("%s(%4d) : 0x%08X", {"KsDoc", 12, 0x80070002u}), "KsDoc(  12) : 0x80070002");
    EXPECT_EQ(safeFormat("100%% %n %p", {}), "100% %n %p");
    EXPECT_EQ(safeFormat("%.8x|%.5d|%-4s|", {0x1234, 7, "ab"}), "00001234|00007|ab  |");
}

TEST(FormatFixed, UsesTheCLocale) {
    EXPECT_EQ(formatFixed(10 * 0.1 + 2000 * 0.00001), "1.020000");
}

}  // namespace
}  // namespace kestrel
