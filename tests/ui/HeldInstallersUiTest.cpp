// Another program of the same user against the installer wizard: while the
// main installer runs, it tries to overwrite, delete and rename the offers'
// installers waiting in the working directory (a downloaded one and the one
// found in a ZIP package). Every attempt fails, and what runs afterwards is
// exactly what was downloaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "api/Sha256.h"
#include "core/TextConversion.h"
#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

constexpr char kZipEntry[] = "zetup.exe";

class HeldInstallers : public InstallFlow {};

// What each way of changing a file another program holds comes to: the
// system's error, or 0 when the change went through.
struct Attempt {
    const char* what;
    DWORD (*run)(const std::wstring& path);
};

DWORD Overwrite(const std::wstring& path) {
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    DWORD written = 0;
    ::WriteFile(file, "MZ swapped", 10, &written, nullptr);
    ::CloseHandle(file);
    return 0;
}

DWORD Delete(const std::wstring& path) {
    return ::DeleteFileW(path.c_str()) ? 0 : ::GetLastError();
}

DWORD Rename(const std::wstring& path) {
    return ::MoveFileW(path.c_str(), (path + L".moved").c_str()) ? 0 : ::GetLastError();
}

TEST_F(HeldInstallers, NothingOfAnotherProgramChangesAnInstallerBeforeItStarts) {
    const std::string installer = SampleInstallerBytes();
    ASSERT_TRUE(server.WriteServedFile(L"ostrel-tester.exe", installer));
    ASSERT_TRUE(server.WriteServedFile(L"e2e/held.exe", installer));
    ASSERT_TRUE(server.WriteServedFile(L"e2e/heldpack.zip", ZipHoldingSampleInstaller(kZipEntry)));
    ASSERT_TRUE(server.WriteConfiguration(
        L"hd-swap", R"({"f":{"m":3},"o":[)" + OfferJson("held", 1, "e2e/held.exe", "/S /held") + "," +
                        OfferJson("heldpack", 2, "e2e/heldpack.zip", "/S /pack") + "]}"));
    // Every installer waits; the main one is waited for, which is when the attack runs.
    RunningWizard wizard(L"ISV", L"hd-swap", Options({L"OSTREL_SAMPLE_WAIT_MS=5000"}));
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_NE(WalkOffers(wizard, welcome, {true, true}, L"DownloadPageISV"), nullptr) << Describe(wizard);
    const std::vector<json> mainRun = WaitForRuns(1);
    ASSERT_EQ(mainRun.size(), 1u) << Describe(wizard);

    const std::wstring offer = workDirectory + L"\\held.exe";
    const std::wstring packed = workDirectory + L"\\heldpack\\" + Utf8ToWide(kZipEntry);
    const Attempt attempts[] = {{"overwrite", Overwrite}, {"delete", Delete}, {"rename", Rename}};
    for (const std::wstring& target : {offer, packed}) {
        ASSERT_EQ(ReadFileBytes(target).value_or(""), installer) << WideToUtf8(target);
        for (const Attempt& attempt : attempts) {
            EXPECT_EQ(attempt.run(target), static_cast<DWORD>(ERROR_SHARING_VIOLATION))
                << attempt.what << " " << WideToUtf8(target);
        }
    }
    // The main installer is still running: the attack came in time.
    EXPECT_EQ(Runs().size(), 1u);

    const std::vector<json> runs = WaitForRuns(3);
    ASSERT_EQ(runs.size(), 3u) << Describe(wizard);
    // The offers start one right after the other: either may record itself first.
    std::set<std::wstring> started;
    for (size_t i = 1; i < runs.size(); ++i) started.insert(NormalisedFolder(RunPath(runs[i])));
    EXPECT_EQ(started, (std::set<std::wstring>{NormalisedFolder(offer), NormalisedFolder(packed)}));
    for (const std::wstring& target : {offer, packed}) {
        EXPECT_EQ(Sha256Hex(ReadFileBytes(target).value_or("")), Sha256Hex(installer)) << WideToUtf8(target);
    }
    WaitForInstallersToEnd();
}

}  // namespace
