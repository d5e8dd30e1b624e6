// The sample installer stands in for real installers in the end-to-end runs
// too, where no record file may be set: its fallbacks must hold.
#include <windows.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "install/ProcessRunner.h"
#include "tests/install/InstallTestSupport.h"

namespace {

TEST(SampleInstaller, RecordsBesideItselfAndTakesItsSettingsFromTheEnvironment) {
    const ostrel::testing::ScratchFolder scratch(L"smp");
    const std::wstring installer = scratch / L"setup.exe";
    ASSERT_TRUE(::CopyFileW(ostrel::testing::SampleInstallerPath().c_str(), installer.c_str(), TRUE));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"OSTREL_SAMPLE_RECORD", nullptr));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"OSTREL_SAMPLE_EXIT_CODE", L"9"));

    const auto fromEnvironment = RunProcess(installer, L"/S", true);
    const auto fromArgument = RunProcess(installer, L"/EXIT=4", true);
    ::SetEnvironmentVariableW(L"OSTREL_SAMPLE_EXIT_CODE", nullptr);

    EXPECT_EQ(fromEnvironment, std::make_pair(DWORD{9}, DWORD{0}));
    EXPECT_EQ(fromArgument, std::make_pair(DWORD{4}, DWORD{0}));
    const std::string record = ostrel::testing::ReadFileBytes(installer + L".runs.jsonl").value_or("");
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 2);
    EXPECT_NE(record.find("\"arguments\":[\"/S\"]"), std::string::npos) << record;
}

}  // namespace
