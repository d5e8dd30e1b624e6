#include <windows.h>

#include <gtest/gtest.h>

#include "install/ExecutableSearch.h"
#include "tests/install/InstallTestSupport.h"

namespace {

using ostrel::testing::ScratchFolder;
using ostrel::testing::WriteFileBytes;

TEST(FindFirstExecutable, TakesOnlyProgramsDirectlyInTheFolder) {
    const ScratchFolder scratch(L"exe");
    EXPECT_EQ(FindFirstExecutable(scratch.Path()), L"");
    EXPECT_EQ(FindFirstExecutable(scratch / L"missing"), L"");

    ASSERT_TRUE(WriteFileBytes(scratch / L"readme.txt", "text"));
    ASSERT_TRUE(WriteFileBytes(scratch / L"notes.exe_", "not a program"));
    ASSERT_TRUE(::CreateDirectoryW((scratch / L"tools.exe").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((scratch / L"bin").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(scratch / L"bin\\inner.exe", "MZ"));
    EXPECT_EQ(FindFirstExecutable(scratch.Path()), L"");

    ASSERT_TRUE(WriteFileBytes(scratch / L"Setup.EXE", "MZ"));
    EXPECT_EQ(FindFirstExecutable(scratch.Path()), L"Setup.EXE");
    EXPECT_EQ(FindFirstExecutable(scratch.Path() + L"\\"), L"Setup.EXE");
}

}  // namespace
