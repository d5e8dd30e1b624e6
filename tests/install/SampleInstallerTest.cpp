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

TEST(SampleInstaller, ReadsItsCompanionFileAfterTheWaitAndRecordsWhatItFound) {
    const ostrel::testing::ScratchFolder scratch(L"smp");
    const std::wstring installer = scratch / L"setup.exe";
    ASSERT_TRUE(::CopyFileW(ostrel::testing::SampleInstallerPath().c_str(), installer.c_str(), TRUE));
    ASSERT_TRUE(ostrel::testing::WriteFileBytes(scratch / L"payload.cab", "cabinet"));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"OSTREL_SAMPLE_RECORD", nullptr));

    // The file is there when it looks, then gone when it looks again.
    EXPECT_EQ(RunProcess(installer, L"/WAIT=100 /READ=payload.cab", true).second, 0u);
    ASSERT_TRUE(::DeleteFileW((scratch / L"payload.cab").c_str()));
    EXPECT_EQ(RunProcess(installer, L"/READ=payload.cab", true).second, 0u);

    const std::string record = ostrel::testing::ReadFileBytes(installer + L".runs.jsonl").value_or("");
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 4) << record;
    EXPECT_NE(record.find("\"read\":\"payload.cab\""), std::string::npos) << record;
    EXPECT_NE(record.find("\"content\":\"cabinet\""), std::string::npos) << record;
    EXPECT_NE(record.find("\"content\":null"), std::string::npos) << record;
}

}  // namespace
