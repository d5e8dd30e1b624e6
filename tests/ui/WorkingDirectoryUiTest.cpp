// What the end of a run leaves of the working directory: the package of an
// installer that still runs stays for it until the next restart (or until
// the installer wizard has seen its main installer end), and nothing planted
// in the directory leads the removal anywhere outside it.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/TextConversion.h"
#include "tests/common/FileLinks.h"
#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

constexpr wchar_t kProductFile[] = L"Kestrel Setup.exe";
// The text file that ZipHoldingSampleInstaller puts beside the installer.
constexpr char kCompanion[] = "readme.txt";
constexpr char kCompanionText[] = "Read me first.\r\n";

std::string Configuration(const std::string& offers) {
    return R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/e2e/kestrel.exe","cf":"Kestrel Setup.exe"},)"
           R"("f":{"m":3},"o":[)" +
           offers + "]}";
}

class WorkingDirectoryEnd : public InstallFlow {
protected:
    void SetUp() override {
        InstallFlow::SetUp();
        productPath = DownloadsFolder() + L"\\" + kProductFile;
        RemoveDownloadedProduct(productPath);
        ASSERT_TRUE(server.WriteServedFile(L"e2e/kestrel.exe", SampleInstallerBytes()));
    }
    void TearDown() override {
        WaitForInstallersToEnd();
        RemoveDownloadedProduct(productPath);
        InstallFlow::TearDown();
    }

    // The sample installer's record of reading its companion file; null until it has.
    json CompanionRead() const {
        for (const json& line : Runs()) {
            if (line.contains("read")) return line;
        }
        return nullptr;
    }

    std::wstring productPath;
};

TEST_F(WorkingDirectoryEnd, AnOfferStillRunningKeepsItsPackageUntilTheRestart) {
    ASSERT_TRUE(server.WriteServedFile(L"e2e/pack.zip", ZipHoldingSampleInstaller("setup.exe")));
    // The installer reads the rest of its package seconds after it started.
    ASSERT_TRUE(server.WriteConfiguration(
        L"wd-busy",
        Configuration(OfferJson("alpha", 1, "e2e/pack.zip", std::string("/WAIT=4000 /READ=") + kCompanion))));
    RunningWizard wizard(L"DLM", L"wd-busy", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_TRUE(IsDirectory(workDirectory));
    const std::wstring package = workDirectory + L"\\pack";
    HWND finish = WalkOffers(wizard, welcome, {true}, L"FinishPageDLM");
    ASSERT_NE(finish, nullptr) << Describe(wizard);
    const std::vector<json> started = WaitForRuns(1);
    ASSERT_EQ(started.size(), 1u);
    ASSERT_EQ(NormalisedFolder(RunPath(started[0])), NormalisedFolder(package + L"\\setup.exe"));
    const size_t pendingBefore = PendingRemovals().size();

    ASSERT_TRUE(wizard.driver.Click(finish, IDC_FINISH));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    // The wizard is gone, the installer is not: its package is still whole,
    // everything else of the working directory went.
    EXPECT_TRUE(CompanionRead().is_null());
    EXPECT_EQ(ReadFileBytes(package + L"\\" + Utf8ToWide(kCompanion)).value_or(""), kCompanionText);
    EXPECT_FALSE(::PathFileExistsW((workDirectory + L"\\pack.zip").c_str()));
    const std::vector<std::wstring> entries = [&] {
        std::vector<std::wstring> names;
        for (const FolderEntry& entry : ListFolder(workDirectory + L"\\*")) names.push_back(entry.name);
        return names;
    }();
    EXPECT_EQ(entries, std::vector<std::wstring>{L"pack"});

    // The package goes at the restart: its files, then its folder, then the working directory.
    const std::vector<std::wstring> pending = PendingRemovals(pendingBefore);
    const int companion = PendingRemovalIndex(pending, package + L"\\" + Utf8ToWide(kCompanion));
    const int setup = PendingRemovalIndex(pending, package + L"\\setup.exe");
    const int folder = PendingRemovalIndex(pending, package);
    ASSERT_GE(companion, 0);
    ASSERT_GE(setup, 0);
    EXPECT_GT(folder, companion);
    EXPECT_GT(folder, setup);
    EXPECT_GT(PendingRemovalIndex(pending, workDirectory), folder);

    // The installer finishes its work with the whole package.
    ASSERT_TRUE(wizard.driver.WaitUntil([&] { return !CompanionRead().is_null(); }, 20000));
    EXPECT_EQ(CompanionRead().at("content"), std::string(kCompanionText));
}

TEST_F(WorkingDirectoryEnd, LeavingTheInstallerWizardDuringItsMainInstallerKeepsThatPackage) {
    // The installer wizard's product arrives as a ZIP; its installer reads the rest seconds after it started.
    ASSERT_TRUE(server.WriteServedFile(L"ostrel-tester.exe", ZipHoldingSampleInstaller("setup.exe")));
    ASSERT_TRUE(server.WriteConfiguration(L"wd-main", R"({"f":{"m":3},"o":[]})"));
    RunningWizard wizard(L"ISV", L"wd-main",
                         Options({L"OSTREL_SAMPLE_WAIT_MS=4000", L"OSTREL_SAMPLE_READ=" + Utf8ToWide(kCompanion)}));
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    const std::wstring package = workDirectory + L"\\ostrel-tester";
    ASSERT_NE(WalkOffers(wizard, welcome, {}, L"DownloadPageISV"), nullptr) << Describe(wizard);
    const std::vector<json> started = WaitForRuns(1);
    ASSERT_EQ(started.size(), 1u);
    ASSERT_EQ(NormalisedFolder(RunPath(started[0])), NormalisedFolder(package + L"\\setup.exe"));
    const size_t pendingBefore = PendingRemovals().size();

    // The user leaves the installers behind.
    ASSERT_TRUE(wizard.driver.Close());
    const auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.driver.WaitUntil([&] { return !::IsWindowVisible(wizard.host); }, kUiTimeoutMs));

    // The installer still finds its whole package.
    ASSERT_TRUE(wizard.driver.WaitUntil([&] { return !CompanionRead().is_null(); }, 20000));
    EXPECT_EQ(CompanionRead().at("content"), std::string(kCompanionText));
    const std::vector<std::wstring> pending = PendingRemovals(pendingBefore);
    EXPECT_GE(PendingRemovalIndex(pending, package + L"\\" + Utf8ToWide(kCompanion)), 0);
    EXPECT_GT(PendingRemovalIndex(pending, package), PendingRemovalIndex(pending, package + L"\\setup.exe"));
    // Once that installer has ended, the wizard that waited for it takes everything with it.
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    EXPECT_FALSE(IsDirectory(workDirectory));
}

TEST_F(WorkingDirectoryEnd, LinksPlantedInsideNeverLeadTheRemovalOutside) {
    ASSERT_TRUE(server.WriteConfiguration(L"wd-link", Configuration("")));
    RunningWizard wizard(L"DLM", L"wd-link", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_TRUE(IsDirectory(workDirectory));

    // Another program of the user plants links to its own files while the wizard runs.
    const std::wstring outside = temporaryFolder + L"\\outside";
    ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((outside + L"\\documents").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((outside + L"\\empty").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(outside + L"\\documents\\letter.txt", "letter"));
    ASSERT_TRUE(WriteFileBytes(outside + L"\\notes.txt", "notes"));
    ASSERT_TRUE(::CreateDirectoryW((workDirectory + L"\\deeper").c_str(), nullptr));
    std::vector<std::wstring> links;
    for (const std::wstring& folder : {workDirectory, workDirectory + L"\\deeper"}) {
        for (const auto& [name, target, directory] : {std::tuple{L"\\junction", outside + L"\\documents", true},
                                                      std::tuple{L"\\empty-junction", outside + L"\\empty", true},
                                                      std::tuple{L"\\notes.txt", outside + L"\\notes.txt", false}}) {
            links.push_back(folder + name);
            ASSERT_TRUE(MakeLink(links.back(), target, directory)) << links.back();
        }
    }

    ASSERT_TRUE(wizard.driver.Close());
    const auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));

    EXPECT_EQ(ReadFileBytes(outside + L"\\documents\\letter.txt").value_or(""), "letter");
    EXPECT_EQ(ReadFileBytes(outside + L"\\notes.txt").value_or(""), "notes");
    EXPECT_TRUE(IsDirectory(outside + L"\\empty"));
    // Links this system follows are left in place, so the test removes them itself.
    for (const std::wstring& link : links) RemoveLink(link);
}

}  // namespace
