#include <windows.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "install/ProcessRunner.h"
#include "core/RunningInstallers.h"
#include "tests/common/TestSupport.h"
#include "tests/install/InstallTestSupport.h"

namespace {

using ostrel::testing::SampleRecord;
using ostrel::testing::SampleRun;
using ostrel::testing::ScratchFolder;

constexpr DWORD kRecordTimeoutMs = 20000;

TEST(InstallerCommandLine, QuotesThePathAndKeepsTheArgumentsAsGiven) {
    EXPECT_EQ(InstallerCommandLine(L"C:\\work\\setup.exe", L"/S"), L"\"C:\\work\\setup.exe\" /S");
    EXPECT_EQ(InstallerCommandLine(L"C:\\work\\setup.exe", L""), L"\"C:\\work\\setup.exe\" ");
    EXPECT_EQ(InstallerCommandLine(L"C:\\Program Files\\a b.exe", L"/APP=\"x y\"  /q"),
              L"\"C:\\Program Files\\a b.exe\" /APP=\"x y\"  /q");
}

// Each test starts the sample installer from a folder with a blank in its
// name, as the user's profile folder often has.
class RunProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
        ASSERT_TRUE(::CopyFileW(ostrel::testing::SampleInstallerPath().c_str(), installer_.c_str(), TRUE));
    }

    ScratchFolder scratch_{L"run"};
    SampleRecord record_{scratch_.Path()};
    std::wstring folder_ = scratch_ / L"Program Files";
    std::wstring installer_ = folder_ + L"\\setup.exe";
};

TEST_F(RunProcessTest, TheInstallerGetsExactlyTheCommandLineBuilt) {
    const CStringW arguments = L"/S /APP=\"ostrel tester\" /EXIT=0";
    EXPECT_EQ(RunProcess(installer_, arguments, true), std::make_pair(DWORD{0}, DWORD{0}));
    const std::vector<SampleRun> runs = record_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(ostrel::testing::SameFile(runs[0].path, installer_)) << runs[0].path;
    EXPECT_EQ(runs[0].commandLine, InstallerCommandLine(installer_, arguments));
    EXPECT_EQ(runs[0].arguments, (std::vector<std::wstring>{L"/S", L"/APP=ostrel tester", L"/EXIT=0"}));

    EXPECT_EQ(RunProcess(installer_, L"", true).second, 0u);
    const std::vector<SampleRun> second = record_.Runs();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1].commandLine, L"\"" + installer_ + L"\" ");
    EXPECT_TRUE(second[1].arguments.empty());
}

TEST(InstallerFolder, IsTheFolderHoldingTheInstaller) {
    EXPECT_EQ(InstallerFolder(L"C:\\work\\ISV1.tmp\\setup.exe"), L"C:\\work\\ISV1.tmp");
    EXPECT_EQ(InstallerFolder(L"C:\\setup.exe"), L"C:\\");
    EXPECT_EQ(InstallerFolder(L"\\\\server\\share\\setup.exe"), L"\\\\server\\share");
    EXPECT_EQ(InstallerFolder(L"setup.exe"), L"");
}

// The wizard is usually started from Downloads, where anything can lie
// beside it: the installer looks for its own files in its own folder.
TEST_F(RunProcessTest, TheInstallerRunsInItsOwnFolderNotTheWizards) {
    wchar_t wizardFolder[MAX_PATH] = {};
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, wizardFolder), 0u);
    ASSERT_NE(ostrel::testing::NormalisedFolder(wizardFolder), ostrel::testing::NormalisedFolder(folder_));
    for (const bool wait : {true, false}) {
        RunProcess(installer_, L"/EXIT=0", wait);
    }
    const std::vector<SampleRun> runs = record_.WaitForRuns(2, kRecordTimeoutMs);
    ASSERT_EQ(runs.size(), 2u);
    for (const SampleRun& run : runs) {
        EXPECT_EQ(ostrel::testing::NormalisedFolder(run.currentDirectory), ostrel::testing::NormalisedFolder(folder_));
    }
}

TEST_F(RunProcessTest, WaitingReturnsWhateverCodeTheInstallerEndsWith) {
    for (const DWORD code : {0u, 1u, 3010u, 0xC0000005u}) {
        EXPECT_EQ(RunProcess(installer_, L"/EXIT=" + std::to_wstring(code), true), std::make_pair(code, DWORD{0}));
    }
    EXPECT_EQ(record_.Runs().size(), 4u);
}

TEST_F(RunProcessTest, WaitingLastsUntilTheInstallerHasEnded) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunProcess(installer_, L"/WAIT=1500 /EXIT=7", true), std::make_pair(DWORD{7}, DWORD{0}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
}

TEST_F(RunProcessTest, WithoutWaitingItReturnsWhileTheInstallerStillRuns) {
    EXPECT_EQ(RunProcess(installer_, L"/WAIT=5000 /EXIT=3", false), std::make_pair(kExitCodeUnknown, DWORD{0}));
    const std::vector<SampleRun> runs = record_.WaitForRuns(1, kRecordTimeoutMs);
    ASSERT_EQ(runs.size(), 1u);
    const framework::UniqueKernelHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, runs[0].pid));
    ASSERT_TRUE(process);
    EXPECT_EQ(::WaitForSingleObject(process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // It was started for real: it runs to its own end with its own code.
    ASSERT_EQ(::WaitForSingleObject(process.Get(), kRecordTimeoutMs), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(::GetExitCodeProcess(process.Get(), &code));
    EXPECT_EQ(code, 3u);
}

TEST_F(RunProcessTest, AProgramThatCannotStartGivesItsStartError) {
    EXPECT_EQ(RunProcess(folder_ + L"\\missing.exe", L"/S", true), std::make_pair(kExitCodeUnknown, DWORD{2}));
    EXPECT_EQ(RunProcess(folder_ + L"\\missing.exe", L"/S", false), std::make_pair(kExitCodeUnknown, DWORD{2}));
    // Not a program at all: the system names its own reason.
    const std::wstring notAProgram = folder_ + L"\\package.7z";
    ASSERT_TRUE(ostrel::testing::WriteFileBytes(notAProgram, std::string("7z\xBC\xAF\x27\x1C", 6) + "payload"));
    const auto result = RunProcess(notAProgram, L"", true);
    EXPECT_EQ(result.first, kExitCodeUnknown);
    EXPECT_NE(result.second, 0u);
    EXPECT_TRUE(record_.Runs().empty());
}

TEST_F(RunProcessTest, RunsOnAPoolThreadTheWayThePagesStartIt) {
    std::future<std::pair<DWORD, DWORD>> result =
        std::async(std::launch::async, [this] { return RunProcess(installer_, L"/WAIT=300 /EXIT=5", true); });
    // The page's timer looks without blocking until the result is in.
    while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) ::Sleep(100);
    EXPECT_EQ(result.get(), std::make_pair(DWORD{5}, DWORD{0}));
}

TEST_F(RunProcessTest, TheNewProcessIsShownBeforeAnyoneWaitsForIt) {
    // The keeper sees the process while it runs, whether or not RunProcess waits.
    for (const bool wait : {false, true}) {
        DWORD stateWhenShown = WAIT_FAILED;
        DWORD shownId = 0;
        const auto result = RunProcess(installer_, L"/WAIT=800", wait, [&](HANDLE process) {
            stateWhenShown = ::WaitForSingleObject(process, 0);
            shownId = ::GetProcessId(process);
        });
        EXPECT_EQ(result.second, 0u);
        EXPECT_EQ(stateWhenShown, static_cast<DWORD>(WAIT_TIMEOUT)) << wait;
        const std::vector<SampleRun> runs = record_.WaitForRuns(wait ? 2 : 1, kRecordTimeoutMs);
        ASSERT_FALSE(runs.empty());
        EXPECT_EQ(shownId, runs.back().pid);
    }
    // A program that never started is never shown.
    bool shown = false;
    RunProcess(folder_ + L"\\missing.exe", L"", false, [&](HANDLE) { shown = true; });
    EXPECT_FALSE(shown);
}

TEST_F(RunProcessTest, RunningInstallersListOnlyThoseThatHaveNotEnded) {
    RunningInstallers installers;
    const std::wstring quick = folder_ + L"\\quick.exe";
    ASSERT_TRUE(::CopyFileW(installer_.c_str(), quick.c_str(), TRUE));
    const auto keep = [&](const CStringW& program) {
        return [&installers, program](HANDLE process) { installers.PermitStart()->Add(process, program); };
    };
    EXPECT_EQ(RunProcess(installer_, L"/WAIT=3000", false, keep(installer_)).second, 0u);
    EXPECT_EQ(RunProcess(quick, L"", true, keep(quick)).second, 0u);
    // The handle RunProcess closed is not the one kept.
    EXPECT_EQ(installers.Programs(), std::vector<CStringW>{installer_});
    const std::vector<SampleRun> runs = record_.WaitForRuns(2, kRecordTimeoutMs);
    ASSERT_EQ(runs.size(), 2u);
    // The slow one may record itself after the quick one: it is the run that waits.
    const auto slowRun = std::find_if(runs.begin(), runs.end(), [](const SampleRun& run) {
        return run.arguments == std::vector<std::wstring>{L"/WAIT=3000"};
    });
    ASSERT_NE(slowRun, runs.end());
    const framework::UniqueKernelHandle slow(::OpenProcess(SYNCHRONIZE, FALSE, slowRun->pid));
    ASSERT_TRUE(slow);
    ASSERT_EQ(::WaitForSingleObject(slow.Get(), kRecordTimeoutMs), WAIT_OBJECT_0);
    EXPECT_TRUE(installers.Programs().empty());
}

}  // namespace
