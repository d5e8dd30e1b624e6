// The installer wizard from the language page to its end: everything is
// downloaded into the working directory, the main installer runs and is
// waited for, then the offers' installers start; failures end on the error
// page with every package told why.
#include <gtest/gtest.h>

#include <string>

#include "api/Sha256.h"
#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

// The installer wizard's built-in product and the arguments it gets.
constexpr wchar_t kProductPath[] = L"ostrel-tester.exe";
constexpr char kProductArguments[] = "/APP=ostreltester";
// Events of the main product carry its title as their offer code.
constexpr char kProductCode[] = "Ostrel Tester";

std::string Configuration(const std::string& offers) {
    return R"({"f":{"m":3},"o":[)" + offers + "]}";
}

// Milliseconds since midnight of a recorded "YYYY-MM-DDThh:mm:ss.mmmZ" time.
long long MillisecondsOfDay(const std::string& time) {
    return ((std::stoll(time.substr(11, 2)) * 60 + std::stoll(time.substr(14, 2))) * 60 +
            std::stoll(time.substr(17, 2))) *
               1000 +
           std::stoll(time.substr(20, 3));
}

class InstallerWizardFlow : public InstallFlow {
protected:
    void SetUp() override {
        InstallFlow::SetUp();
        installer = SampleInstallerBytes();
        ASSERT_FALSE(installer.empty());
        ASSERT_TRUE(server.WriteServedFile(kProductPath, installer));
        ASSERT_TRUE(server.WriteServedFile(L"e2e/alpha.exe", installer));
        ASSERT_TRUE(server.WriteServedFile(L"e2e/beta.exe", installer));
    }

    // Language, welcome and offer pages; the download page, or nullptr.
    HWND StartDownloads(RunningWizard& wizard, const std::vector<bool>& accept, int language = -1) {
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage", language);
        return welcome ? WalkOffers(wizard, welcome, accept, L"DownloadPageISV") : nullptr;
    }

    std::string installer;
};

TEST_F(InstallerWizardFlow, TheMainInstallerIsWaitedForThenTheOffersStart) {
    const std::string digest = Sha256Hex(installer);
    ASSERT_TRUE(server.WriteConfiguration(
        L"is-full", Configuration(OfferJson("alpha", 1, "e2e/alpha.exe", "/S /alpha", digest) + "," +
                                  OfferJson("beta", 2, "e2e/beta.exe", "/S", digest))));
    // Every installer waits 2.5 s and ends with 7: the main one is waited for anyway.
    RunningWizard wizard(L"ISV", L"is-full", Options({L"OSTREL_SAMPLE_WAIT_MS=2500", L"OSTREL_SAMPLE_EXIT_CODE=7"}));
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    EXPECT_NE(::GetWindowLongPtrW(wizard.host, GWL_STYLE) & WS_MINIMIZEBOX, 0);
    HWND page = StartDownloads(wizard, {true, false});
    ASSERT_NE(page, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();

    // While the main installer runs, closing asks whether to leave the installers behind.
    ASSERT_EQ(WaitForRuns(1).size(), 1u);
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"isv-download-page-en.png")));
    ASSERT_TRUE(driver.Close());
    const auto box = driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text,
              L"Some installer processes are already running in the background and will finish momentarily. "
              L"Are you sure you would like to exit?");
    ASSERT_TRUE(driver.Answer(box->window, IDCANCEL));
    EXPECT_TRUE(HasMarqueeStyle(driver.Control(page, IDC_PROGRESS)));

    HWND finish = driver.WaitForPage(L"FinishPageISV", kUiTimeoutMs);
    ASSERT_NE(finish, nullptr);
    EXPECT_EQ(::GetWindowLongPtrW(wizard.host, GWL_STYLE) & WS_MINIMIZEBOX, 0);
    EXPECT_FALSE(driver.IsControlVisible(finish, IDC_LAUNCH_CHECKBOX));
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"isv-finish-page-en.png")));

    const std::vector<json> runs = WaitForRuns(2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(NormalisedFolder(ParentFolder(RunPath(runs[0]))), NormalisedFolder(workDirectory));
    EXPECT_EQ(runs[0].at("arguments"), json::array({kProductArguments}));
    EXPECT_EQ(runs[1].at("arguments"), json::array({"/S", "/alpha"}));
    // The offer started only once the main installer had ended.
    EXPECT_GE(MillisecondsOfDay(runs[1].at("time")), MillisecondsOfDay(runs[0].at("time")) + 2500);

    const std::vector<json> events = StoredEvents(4);
    EXPECT_FALSE(FindEvent(events, "1", kProductCode).is_null());
    EXPECT_FALSE(FindEvent(events, "3", kProductCode).is_null());
    EXPECT_FALSE(FindEvent(events, "3", "alpha").is_null());
    EXPECT_FALSE(FindEvent(events, "4", "beta").is_null());

    // Closing on the finish page asks nothing; the working directory goes with the wizard.
    WaitForInstallersToEnd();
    ASSERT_TRUE(driver.Close());
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    EXPECT_FALSE(IsDirectory(workDirectory));
}

TEST_F(InstallerWizardFlow, AZipOfferIsCheckedAsTheArchiveNotAsTheProgramInside) {
    // The digest of the installer inside the archive is not the archive's:
    // that offer is refused before it is unpacked, the other one runs.
    const std::string zip = ZipHoldingSampleInstaller("setup.exe");
    ASSERT_TRUE(server.WriteServedFile(L"e2e/alpha.zip", zip));
    const std::string inner = Sha256Hex(installer);
    ASSERT_TRUE(server.WriteConfiguration(
        L"is-hash", Configuration(OfferJson("alpha", 1, "e2e/alpha.zip", "/S /alpha", inner) + "," +
                                  OfferJson("beta", 2, "e2e/beta.zip", "/S /beta", Sha256Hex(zip)))));
    ASSERT_TRUE(server.WriteServedFile(L"e2e/beta.zip", zip));
    RunningWizard wizard(L"ISV", L"is-hash", Options());
    ASSERT_NE(wizard.host, nullptr);
    ASSERT_NE(StartDownloads(wizard, {true, true}), nullptr) << Describe(wizard);
    ASSERT_NE(wizard.driver.WaitForPage(L"FinishPageISV", kUiTimeoutMs), nullptr) << Describe(wizard);

    const std::vector<json> runs = WaitForRuns(2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].at("arguments"), json::array({kProductArguments}));
    EXPECT_EQ(runs[1].at("arguments"), json::array({"/S", "/beta"}));
    const std::vector<json> events = StoredEvents(4);
    const json failed = FindEvent(events, "-1", "alpha");
    ASSERT_FALSE(failed.is_null());
    const std::string verifyFailure =
        "Failed to verify the download: SHA-256 " + Sha256Hex(zip) + " differs from the expected " + inner + ".";
    EXPECT_EQ(failed.at("12"), "DOWNLOAD FAILED: [WINHTTP] " + verifyFailure + " [WININET] " + verifyFailure);
    EXPECT_FALSE(FindEvent(events, "3", "beta").is_null());
    WaitForInstallersToEnd();
}

TEST_F(InstallerWizardFlow, AMainInstallerThatCannotStartFailsEveryQueuedOffer) {
    ASSERT_TRUE(server.WriteServedFile(kProductPath, "this is not a program\r\n"));
    ASSERT_TRUE(server.WriteConfiguration(L"is-exec", Configuration(OfferJson("alpha", 1, "e2e/alpha.exe", "/S") + "," +
                                                                    OfferJson("beta", 2, "e2e/beta.exe", "/S"))));
    RunningWizard wizard(L"ISV", L"is-exec", Options());
    ASSERT_NE(wizard.host, nullptr);
    ASSERT_NE(StartDownloads(wizard, {true, true}, 1), nullptr);  // Spanish
    HWND error = wizard.driver.WaitForPage(L"ErrorPage", kUiTimeoutMs);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(wizard.driver.ControlText(error, IDC_ERROR_TITLE), L"Error de descarga");
    // The installer wizard's documents have no description for this error.
    EXPECT_EQ(wizard.driver.ControlText(error, IDC_ERROR_TEXT), L"");
    EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"isv-install-error-es.png")));

    const std::vector<json> events = StoredEvents(4);
    const json main = FindEvent(events, "-1", kProductCode);
    ASSERT_FALSE(main.is_null());
    EXPECT_EQ(main.at("12"), "EXEC FAILED4294967295");
    for (const char* offer : {"alpha", "beta"}) {
        const json event = FindEvent(events, "-1", offer);
        ASSERT_FALSE(event.is_null()) << offer;
        EXPECT_EQ(event.at("12"), "MAIN PRODUCT INSTALLATION FAILED");
    }
    ::Sleep(500);
    EXPECT_TRUE(Runs().empty());
}

TEST_F(InstallerWizardFlow, AZipProductRunsItsOwnInstallerAndA7zOfferRunsAsItIs) {
    ASSERT_TRUE(server.WriteServedFile(kProductPath, ZipHoldingSampleInstaller("setup.exe")));
    ASSERT_TRUE(server.WriteServedFile(L"e2e/seven.exe", SevenZipBytes()));
    ASSERT_TRUE(
        server.WriteConfiguration(L"is-zips", Configuration(OfferJson("alpha", 1, "e2e/alpha.exe", "/S /alpha") + "," +
                                                            OfferJson("seven", 2, "e2e/seven.exe", "/S"))));
    RunningWizard wizard(L"ISV", L"is-zips", Options());
    ASSERT_NE(wizard.host, nullptr);
    ASSERT_NE(StartDownloads(wizard, {true, true}, 1), nullptr);  // Spanish
    HWND finish = wizard.driver.WaitForPage(L"FinishPageISV", kUiTimeoutMs);
    ASSERT_NE(finish, nullptr);
    EXPECT_EQ(wizard.driver.ControlText(finish, IDC_FINISH), L"FINALIZAR");
    EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"isv-finish-page-es.png")));
    const std::wstring workDirectory = NewWorkingDirectory();

    // The archive's own installer ran, from a folder of its own: never the offer's.
    const std::vector<json> runs = WaitForRuns(2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(NormalisedFolder(RunPath(runs[0])), NormalisedFolder(workDirectory + L"\\ostrel-tester\\setup.exe"));
    EXPECT_EQ(runs[0].at("arguments"), json::array({kProductArguments}));
    EXPECT_EQ(runs[1].at("arguments"), json::array({"/S", "/alpha"}));

    // The 7z package cannot run: it is reported with its start error, never as started.
    const DWORD startError = StartErrorOf(SevenZipBytes());
    ASSERT_NE(startError, 0u);
    const std::vector<json> events = StoredEvents(4);
    EXPECT_FALSE(FindEvent(events, "3", kProductCode).is_null());
    EXPECT_FALSE(FindEvent(events, "3", "alpha").is_null());
    EXPECT_TRUE(FindEvent(events, "3", "seven").is_null());
    const json failed = FindEvent(events, "-1", "seven");
    ASSERT_FALSE(failed.is_null());
    EXPECT_EQ(failed.at("12"), "EXEC FAILED" + std::to_string(startError));
}

}  // namespace
