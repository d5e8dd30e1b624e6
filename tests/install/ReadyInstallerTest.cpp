// A downloaded package is held from its download's end until its installer
// runs: what was checked is what starts, and no start slips past the end of
// the wizard.
#include <windows.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "api/Sha256.h"
#include "install/PackageTransfers.h"
#include "install/ProcessRunner.h"
#include "core/RunningInstallers.h"
#include "core/WorkDirectory.h"
#include "tests/common/FileLinks.h"
#include "tests/install/InstallTestSupport.h"
#include "tests/install/ZipBuilder.h"

namespace {

using namespace ostrel::testing;

constexpr DWORD kRecordTimeoutMs = 20000;

DWORD ErrorOf(BOOL succeeded) {
    return succeeded ? 0 : ::GetLastError();
}

// What another program of the user gets when it tries to change path.
std::vector<DWORD> ChangeAttempts(const std::wstring& path) {
    const HANDLE writer =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    const DWORD writeError = writer == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    const DWORD renameError = ErrorOf(::MoveFileW(path.c_str(), (path + L".moved").c_str()));
    const DWORD deleteError = ErrorOf(::DeleteFileW(path.c_str()));
    return {writeError, renameError, deleteError};
}

const std::vector<DWORD> kAllRefused(3, ERROR_SHARING_VIOLATION);

class ReadyInstallerTest : public ::testing::Test {
protected:
    std::wstring Copy(const wchar_t* name) {
        const std::wstring path = scratch_ / name;
        EXPECT_TRUE(::CopyFileW(SampleInstallerPath().c_str(), path.c_str(), TRUE));
        return path;
    }

    ScratchFolder scratch_{L"rdy"};
    std::string installer_ = ReadFileBytes(SampleInstallerPath()).value_or("");
};

TEST_F(ReadyInstallerTest, TheDownloadIsHeldAgainstChangesUntilItIsLetGo) {
    const std::wstring path = Copy(L"setup.exe");
    {
        const ReadyInstaller ready = PrepareReadyInstaller(path, Sha256Hex(installer_), scratch_.Path(), nullptr);
        EXPECT_EQ(ready.program, path);
        EXPECT_TRUE(ready.refusal.empty());
        EXPECT_EQ(ChangeAttempts(path), kAllRefused);
        // Reading stays open to everyone, a virus scanner among them.
        EXPECT_EQ(ReadFileBytes(path).value_or(""), installer_);
    }
    EXPECT_EQ(ChangeAttempts(path), (std::vector<DWORD>{0, 0, ERROR_FILE_NOT_FOUND}));
}

TEST_F(ReadyInstallerTest, AZipIsHeldAndSoIsTheProgramFoundInIt) {
    const std::wstring zip = scratch_ / L"pack.zip";
    {
        ZipBuilder builder(zip);
        ASSERT_TRUE(builder.AddFile("setup.exe", SampleInstallerPath()));
        ASSERT_TRUE(builder.Finish());
    }
    const std::string bytes = ReadFileBytes(zip).value_or("");
    const ReadyInstaller ready = PrepareReadyInstaller(zip, Sha256Hex(bytes), scratch_.Path(), nullptr);
    ASSERT_TRUE(ready.refusal.empty()) << ready.refusal;
    EXPECT_EQ(ready.program, scratch_ / L"pack\\setup.exe");
    EXPECT_EQ(ChangeAttempts(ready.program), kAllRefused);
    EXPECT_EQ(ChangeAttempts(zip), kAllRefused);
}

TEST_F(ReadyInstallerTest, AFileThatChangedOrMovedSinceItsDownloadIsRefused) {
    const std::wstring path = Copy(L"setup.exe");
    const std::string digest = Sha256Hex(installer_);
    // Changed between its download's end and its hold: another digest.
    ASSERT_TRUE(WriteFileBytes(path, installer_ + "appended"));
    try {
        PrepareReadyInstaller(path, digest, scratch_.Path(), nullptr);
        ADD_FAILURE() << "a changed file was taken";
    } catch (const std::exception& error) {
        EXPECT_EQ(std::string(error.what()).rfind("The downloaded file changed before it was started: SHA-256 ", 0), 0u)
            << error.what();
    }
    // Replaced by a link to a program elsewhere: never held through it.
    const std::wstring elsewhere = Copy(L"elsewhere.exe");
    ASSERT_TRUE(::DeleteFileW(path.c_str()));
    ASSERT_TRUE(MakeLink(path, elsewhere, false));
    EXPECT_THROW(PrepareReadyInstaller(path, digest, scratch_.Path(), nullptr), std::runtime_error);
    RemoveLink(path);
}

TEST_F(ReadyInstallerTest, AStartUnderWayWhenTheListIsTakenIsInItAndNoneStartsAfter) {
    SampleRecord record(scratch_.Path());
    const std::wstring work = scratch_ / L"work";
    const std::wstring program = work + L"\\pack\\late.exe";
    ASSERT_TRUE(::CreateDirectoryW(work.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((work + L"\\pack").c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(SampleInstallerPath().c_str(), program.c_str(), TRUE));
    RunningInstallers installers;
    std::promise<void> permitted;
    // A start that holds its permit while the list is asked for, as a slow
    // process creation would.
    std::thread starter([&] {
        std::optional<RunningInstallers::StartPermit> permit = installers.PermitStart();
        permitted.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        RunProcess(program, L"/WAIT=3000", false, [&](HANDLE process) { permit->Add(process, program); });
    });
    permitted.get_future().wait();
    const std::vector<CStringW> listed = installers.StopStartsAndList();
    starter.join();
    EXPECT_EQ(listed, std::vector<CStringW>{program});
    EXPECT_FALSE(installers.PermitStart().has_value());
    // The removal spares what that installer runs from.
    DeleteDirectoryTree(work, EntriesHolding(work, listed));
    EXPECT_TRUE(::GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(record.WaitForRuns(1, kRecordTimeoutMs).size(), 1u);
}

}  // namespace
