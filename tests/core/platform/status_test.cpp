#include "core/platform/status.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

struct ErrnoCase {
    int err;
    std::uint32_t expected;
};

class ErrnoMapping : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMapping, GivesTheWindowsCode) {
    EXPECT_EQ(hresultFromErrno(GetParam().err).value(), GetParam().expected) << "errno " << GetParam().err;
}

INSTANTIATE_TEST_SUITE_P(Table, ErrnoMapping,
                         ::testing::Values(ErrnoCase{ENOENT, 0x80070002u}, ErrnoCase{ENOTDIR, 0x80070003u},
                                           ErrnoCase{EACCES, 0x80070005u}, ErrnoCase{EPERM, 0x80070005u},
                                           ErrnoCase{EISDIR, 0x80070005u}, ErrnoCase{EMFILE, 0x80070004u},
                                           ErrnoCase{EBUSY, 0x80070020u}, ErrnoCase{ETXTBSY, 0x80070020u},
                                           ErrnoCase{EEXIST, 0x80070050u}, ErrnoCase{EINVAL, 0x80070057u},
                                           ErrnoCase{ENOSPC, 0x80070070u}, ErrnoCase{EDQUOT, 0x80070070u},
                                           ErrnoCase{ENOTEMPTY, 0x80070091u},
                                           ErrnoCase{ENAMETOOLONG, 0x800700CEu},
                                           ErrnoCase{EFBIG, 0x800700DFu}, ErrnoCase{EROFS, 0x80070013u},
                                           ErrnoCase{EXDEV, 0x80070011u}, ErrnoCase{EIO, 0x8007045Du},
                                           ErrnoCase{ELOOP, 0x80070781u}, ErrnoCase{ENOMEM, 0x8007000Eu},
                                           ErrnoCase{EPIPE, 0x8007F000u | EPIPE},
                                           ErrnoCase{ENODEV, 0x8007F000u | ENODEV}));

TEST(ErrnoMapping, DependsOnThePath) {
    testing::TempDir dir;
    auto missingParent = dir / "no-such-folder/file.txt";
    auto missingFile = dir / "file.txt";
    EXPECT_EQ(hresultFromErrno(ENOENT, &missingParent).value(), 0x80070003u);
    EXPECT_EQ(hresultFromErrno(ENOENT, &missingFile).value(), 0x80070002u);
    auto folder = dir.path();
    auto file = dir.write("plain", "x");
    EXPECT_EQ(hresultFromErrno(EEXIST, &folder).value(), 0x800700B7u);
    EXPECT_EQ(hresultFromErrno(EEXIST, &file).value(), 0x80070050u);
}

TEST(ErrnoMapping, AFailureNeverReadsAsSuccess) {
    EXPECT_TRUE(hresultFromErrno(0).failed());
    EXPECT_TRUE(hresultFromWin32(0).failed());
    EXPECT_TRUE(hresultFromWin32(0x10000).failed());
    EXPECT_NE(win32FromErrno(0), 0u);
    EXPECT_TRUE(isErrnoCode(hresultFromErrno(EPIPE)));
    EXPECT_FALSE(isErrnoCode(hresultFromErrno(ENOENT)));
}

}  // namespace
}  // namespace kestrel
