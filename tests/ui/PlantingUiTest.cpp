// The wizard started from a folder where someone has left DLLs named like
// the system DLLs it uses and a program named like Explorer, as a web page
// can leave them in Downloads. Wine is told to prefer a DLL found beside the
// program to its own (WINEDLLOVERRIDES "n,b"), as Windows does for every DLL
// that is not a KnownDLL. The planted DLLs forward to the system's copies and
// leave a marker when loaded; the planted Explorer is the sample installer,
// which records its run. Walked to the end, neither wizard loads or runs any.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/TextConversion.h"
#include "tests/ui/DesktopShellProcesses.h"
#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

std::wstring PlantedDllFolder() {
    return ProgramFolder() + L"\\planted";
}

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0);
}

class Planting : public InstallFlow {
protected:
    void SetUp() override {
        InstallFlow::SetUp();
        folder = MakeTemporaryFolder(L"opd");
        ASSERT_TRUE(IsDirectory(folder));
        for (const FolderEntry& dll : ListFolder(PlantedDllFolder() + L"\\*.dll")) {
            ASSERT_TRUE(::CopyFileW((PlantedDllFolder() + L"\\" + dll.name).c_str(),
                                    (folder + L"\\" + dll.name).c_str(), FALSE));
            planted.push_back(dll.name.substr(0, dll.name.size() - 4));
        }
        // Every system DLL the wizard uses that is not a KnownDLL has a stand-in.
        ASSERT_EQ(planted.size(), 6u);
        ASSERT_TRUE(WinePrefersPlantedDlls()) << "run through ctest, which sets WINEDLLOVERRIDES";
        plantedExplorer = folder + L"\\explorer.exe";
        ASSERT_TRUE(
            ::CopyFileW((ProgramFolder() + L"\\ostrel_sample_installer.exe").c_str(), plantedExplorer.c_str(), FALSE));
        installer = SampleInstallerBytes();
        ASSERT_FALSE(installer.empty());
    }
    void TearDown() override {
        RemoveDownloadedProduct(DownloadsFolder() + L"\\Kestrel Setup.exe");
        RemoveDirectoryTree(folder);
        InstallFlow::TearDown();
    }

    // Wine takes a DLL found beside a program before its own only for the
    // names marked "n,b" in WINEDLLOVERRIDES as this test program started
    // with (tests/CMakeLists.txt sets it); the wizard inherits it.
    bool WinePrefersPlantedDlls() const {
        wchar_t overrides[1024] = {};
        const DWORD length = ::GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 1024);
        const std::wstring value(overrides, length < 1024 ? length : 0);
        if (value.find(L"=n,b") == std::wstring::npos) return false;
        for (const std::wstring& name : planted) {
            if (value.find(name) == std::wstring::npos) return false;
        }
        return true;
    }

    // The markers of planted DLLs that were loaded, by any process.
    std::vector<std::wstring> LoadedPlantedDlls() const {
        std::vector<std::wstring> loaded;
        for (const FolderEntry& marker : ListFolder(folder + L"\\*.loaded")) loaded.push_back(marker.name);
        return loaded;
    }

    // Runs of the planted Explorer.
    std::vector<json> PlantedExplorerRuns() const {
        std::vector<json> runs;
        for (const json& run : Runs()) {
            if (NormalisedFolder(RunPath(run)) == NormalisedFolder(plantedExplorer)) runs.push_back(run);
        }
        return runs;
    }

    std::wstring folder;
    std::wstring plantedExplorer;
    std::vector<std::wstring> planted;
    std::string installer;
};

TEST_F(Planting, TheDownloadWizardLoadsAndRunsNothingPlantedBesideIt) {
    ASSERT_TRUE(server.WriteServedFile(L"e2e/kestrel.exe", installer));
    ASSERT_TRUE(server.WriteServedFile(L"e2e/alpha.exe", installer));
    ASSERT_TRUE(server.WriteConfiguration(
        L"pl-dlms",
        R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/e2e/kestrel.exe","cf":"Kestrel Setup.exe"},"f":{"m":3},"o":[)" +
            OfferJson("alpha", 1, "e2e/alpha.exe", "/S") + "]}"));
    // Its copy lies in the planted folder and starts there, as one started from Downloads does.
    const DWORD desktop = DesktopShellProcess();
    ASSERT_NE(desktop, 0u);
    const std::set<DWORD> explorersBefore = ChildIds(desktop, L"explorer.exe");
    RunningWizard wizard(L"DLM", L"pl-dlms", Options(), folder);
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);
    const std::wstring workDirectory = NewWorkingDirectory();
    // Configuration, pictures, events, the product and the offer: every DLL has had its use.
    HWND finish = WalkOffers(wizard, welcome, {true}, L"FinishPageDLM");
    ASSERT_NE(finish, nullptr) << Describe(wizard);
    const std::vector<json> runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    // The offer's installer ran in its own folder, not in the planted one.
    EXPECT_EQ(NormalisedFolder(Utf8ToWide(runs[0].value("currentDirectory", ""))), NormalisedFolder(workDirectory));

    ASSERT_TRUE(driver.Click(finish, IDC_OPEN_FOLDER_RADIO));
    HWND openFolder = driver.Control(finish, IDC_OPEN_FOLDER_RADIO);
    ASSERT_TRUE(
        driver.WaitUntil([&] { return ::SendMessageW(openFolder, BM_GETCHECK, 0, 0) == BST_CHECKED; }, kUiTimeoutMs));
    ASSERT_TRUE(driver.Click(finish, IDC_FINISH));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    // The folder is revealed by the Windows folder's Explorer (Wine runs its
    // own from the system folder below it), which the desktop's shell starts.
    std::wstring explorer;
    driver.WaitUntil(
        [&] {
            for (const DWORD id : ChildIds(desktop, L"explorer.exe")) {
                if (!explorersBefore.count(id)) explorer = ImageOf(id);
            }
            return !explorer.empty();
        },
        kUiTimeoutMs);
    EndChildProcesses(desktop, L"explorer.exe", explorersBefore);
    EXPECT_EQ(NormalisedFolder(explorer).rfind(NormalisedFolder(WindowsFolder()) + L"\\", 0), 0u) << explorer;
    EXPECT_TRUE(PlantedExplorerRuns().empty());
    EXPECT_EQ(LoadedPlantedDlls(), std::vector<std::wstring>{});
}

TEST_F(Planting, TheInstallerWizardLoadsNothingPlantedBesideIt) {
    ASSERT_TRUE(server.WriteServedFile(L"ostrel-tester.exe", installer));
    ASSERT_TRUE(server.WriteConfiguration(L"pl-isvs", R"({"f":{"m":3},"o":[]})"));
    RunningWizard wizard(L"ISV", L"pl-isvs", Options(), folder);
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_NE(WalkOffers(wizard, welcome, {}, L"DownloadPageISV"), nullptr) << Describe(wizard);
    HWND finish = driver.WaitForPage(L"FinishPageISV", 30000);
    ASSERT_NE(finish, nullptr) << Describe(wizard);
    const std::vector<json> runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(NormalisedFolder(Utf8ToWide(runs[0].value("currentDirectory", ""))), NormalisedFolder(workDirectory));
    ASSERT_TRUE(driver.Click(finish, IDC_FINISH));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    EXPECT_EQ(LoadedPlantedDlls(), std::vector<std::wstring>{});
}

// Where the DLL search cannot be restricted to the system folder, the
// program's own folder is still searched first for a DLL loaded by name: the
// delay-load hooks load every DLL by its full path instead. The probe is
// linked as the wizards are and starts as they do on such a Windows.
TEST_F(Planting, DelayLoadedDllsComeFromTheSystemFolderWhereTheSearchCannotBeRestricted) {
    const std::wstring probe = folder + L"\\probe.exe";
    ASSERT_TRUE(::CopyFileW((ProgramFolder() + L"\\ostrel_delay_load_probe.exe").c_str(), probe.c_str(), FALSE));
    WizardProcess run = WizardProcess::Start(probe);
    ASSERT_TRUE(run.Started()) << run.StartError();
    ASSERT_TRUE(run.WaitForExit(kUiTimeoutMs));
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(LoadedPlantedDlls(), std::vector<std::wstring>{});
}

}  // namespace
