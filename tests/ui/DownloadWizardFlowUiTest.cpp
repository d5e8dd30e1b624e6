// The download wizard from the language page to its end: the product lands
// in the user's download folder, accepted offers are fetched into the
// working directory and started, every package reports its outcome, and the
// finish page launches or reveals the product.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "api/Sha256.h"
#include "core/TextConversion.h"
#include "framework/Handles.h"
#include "tests/ui/DesktopShellProcesses.h"
#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

constexpr wchar_t kProductFile[] = L"Kestrel Setup.exe";

// With productSha256, the digest the product's download must have; the
// product comes from 127.0.0.1 by the scheme given.
std::string Configuration(const std::string& productPath, const std::string& offers,
                          const std::string& productSha256 = {}, const std::string& scheme = "https") {
    const std::string digest = productSha256.empty() ? "" : R"(,"sha256":")" + productSha256 + "\"";
    return R"({"i":{"ct":"Kestrel Viewer","cu":")" + scheme + "://127.0.0.1/f/" + productPath +
           R"(","cf":"Kestrel Setup.exe")" + digest + R"(},"f":{"m":3},"o":[)" + offers + "]}";
}

// A digest of nothing the server serves.
const std::string kWrongDigest = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

std::string VerifyFailure(const std::string& actual, const std::string& expected) {
    return "Failed to verify the download: SHA-256 " + actual + " differs from the expected " + expected + ".";
}

class DownloadWizardFlow : public InstallFlow {
protected:
    void SetUp() override {
        InstallFlow::SetUp();
        productPath = DownloadsFolder() + L"\\" + kProductFile;
        RemoveDownloadedProduct(productPath);
        installer = SampleInstallerBytes();
        ASSERT_FALSE(installer.empty());
        ASSERT_TRUE(server.WriteServedFile(L"e2e/kestrel.exe", installer));
        ASSERT_TRUE(server.WriteServedFile(L"e2e/alpha.exe", installer));
        ASSERT_TRUE(server.WriteServedFile(L"e2e/beta.exe", installer));
    }
    void TearDown() override {
        RemoveDownloadedProduct(productPath);
        InstallFlow::TearDown();
    }

    // The product launched by the desktop's shell has the shell's
    // environment, not the wizard's: it records its runs beside itself.
    std::wstring LaunchRecord() const { return productPath + L".runs.jsonl"; }
    std::vector<json> LaunchedRuns(DWORD timeoutMs = kUiTimeoutMs) const {
        std::vector<json> runs;
        UiDriver(0).WaitUntil(
            [&] {
                runs.clear();
                std::istringstream lines(ReadFileBytes(LaunchRecord()).value_or(std::string()));
                for (std::string line; std::getline(lines, line);) {
                    if (!line.empty()) runs.push_back(json::parse(line, nullptr, false));
                }
                return !runs.empty();
            },
            timeoutMs);
        return runs;
    }

    // Welcome, the offers answered in turn, then the error page of a product
    // that could not be downloaded, titled as such; nullptr when it never came.
    HWND WalkToTheDownloadError(RunningWizard& wizard, const std::vector<bool>& accept) {
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
        if (!welcome || !WalkOffers(wizard, welcome, accept, L"DownloadPageDLM")) return nullptr;
        HWND error = wizard.driver.WaitForPage(L"ErrorPage", 30000);
        if (error) {
            EXPECT_EQ(wizard.driver.ControlText(error, IDC_ERROR_TITLE), L"Error in downloading");
        }
        return error;
    }

    std::wstring productPath;
    std::string installer;
};

TEST_F(DownloadWizardFlow, AcceptedOfferRunsAndTheFinishPageLaunchesTheProduct) {
    // Every package names its digest, the product's in upper case.
    const std::string digest = Sha256Hex(installer);
    std::string upperDigest = digest;
    for (char& c : upperDigest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-full", Configuration("e2e/kestrel.exe",
                                  OfferJson("alpha", 1, "e2e/alpha.exe", "/S /alpha", digest) + "," +
                                      OfferJson("beta", 2, "e2e/beta.exe", "/S /beta", digest),
                                  upperDigest)));
    RunningWizard wizard(L"DLM", L"dl-full", Options());
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_TRUE(IsDirectory(workDirectory));

    HWND finish = WalkOffers(wizard, welcome, {true, false}, L"FinishPageDLM");
    ASSERT_NE(finish, nullptr) << Describe(wizard);
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-finish-page-en.png")));

    // The product is in the download folder with the served bytes.
    EXPECT_EQ(ReadFileBytes(productPath).value_or(""), installer);
    // The accepted offer's installer ran from the working directory with its arguments; the declined one did not.
    const std::vector<json> runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(NormalisedFolder(ParentFolder(RunPath(runs[0]))), NormalisedFolder(workDirectory));
    EXPECT_EQ(runs[0].at("arguments"), json::array({"/S", "/alpha"}));
    // The wizard started it itself, elevated as installers must be.
    EXPECT_EQ(runs[0].value("parentPid", 0u), wizard.process.Id());

    // Start, decline, the product done, the offer started.
    const std::vector<json> events = StoredEvents(4);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_FALSE(FindEvent(events, "1", "").is_null());
    EXPECT_FALSE(FindEvent(events, "4", "beta").is_null());
    EXPECT_FALSE(FindEvent(events, "3", "Kestrel Viewer").is_null());
    EXPECT_FALSE(FindEvent(events, "3", "alpha").is_null());

    // Finish launches the product (the launch choice is preselected) and removes the working directory.
    EXPECT_EQ(::SendMessageW(driver.Control(finish, IDC_LAUNCH_RADIO), BM_GETCHECK, 0, 0), BST_CHECKED);
    ASSERT_TRUE(driver.Click(finish, IDC_FINISH));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    // The desktop's shell started the product, with the user's rights.
    const std::vector<json> launched = LaunchedRuns();
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(NormalisedFolder(RunPath(launched[0])), NormalisedFolder(productPath));
    EXPECT_EQ(launched[0].value("parentExe", ""), "explorer.exe");
    EXPECT_EQ(launched[0].value("parentPid", 0u), DesktopShellProcess());
    EXPECT_EQ(Runs().size(), 1u);
    EXPECT_FALSE(IsDirectory(workDirectory));
    // Finishing is not closing: no event follows.
    ::Sleep(300);
    EXPECT_EQ(server.Events().size(), 4u);
}

// The names of the host's page windows, sorted.
std::vector<std::wstring> PageWindows(UiDriver& driver, HWND host) {
    std::vector<std::wstring> names;
    for (HWND child = ::GetWindow(host, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t type[16] = {};
        ::GetClassNameW(child, type, 16);
        if (std::wstring(type) == L"#32770") names.push_back(driver.Text(child));
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(DownloadWizardFlow, ThreeOffersGiveEightPagesAndTheTitleNamesTheFile) {
    // Without "cf" the product file is named after the title.
    const std::wstring appPath = DownloadsFolder() + L"\\App.exe";
    ::DeleteFileW(appPath.c_str());
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-thre", R"({"i":{"ct":"App","cu":"https://127.0.0.1/f/e2e/kestrel.exe"},"f":{"m":3},"o":[)" +
                        OfferJson("alpha", 1, "e2e/alpha.exe", "/S") + "," +
                        OfferJson("beta", 2, "e2e/beta.exe", "/S") + "," +
                        OfferJson("gamma", 3, "e2e/alpha.exe", "/S /gamma") + "]}"));
    RunningWizard wizard(L"DLM", L"dl-thre", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(wizard.driver.Text(wizard.host), L"App Setup");
    // Language, loading, welcome, three offers, download, finish; the error page apart.
    EXPECT_EQ(
        PageWindows(wizard.driver, wizard.host),
        (std::vector<std::wstring>{L"DownloadPageDLM", L"ErrorPage", L"FinishPageDLM", L"LanguagePage", L"LoadingPage",
                                   L"ProductPage", L"ProductPage", L"ProductPage", L"WelcomePage"}));
    ASSERT_NE(WalkOffers(wizard, welcome, {true, true, true}, L"FinishPageDLM"), nullptr) << Describe(wizard);
    EXPECT_EQ(ReadFileBytes(appPath).value_or(""), installer);
    EXPECT_EQ(WaitForRuns(3).size(), 3u);
    ::DeleteFileW(appPath.c_str());
}

// What the shell is asked shows in Wine's "exec" debug channel, which the
// wizard writes to the standard error it shares with this test: the test
// definition checks that output for the request with the product's path.
TEST_F(DownloadWizardFlow, OpenFolderAsksExplorerToSelectTheProduct) {
    ASSERT_TRUE(server.WriteConfiguration(L"dl-fold", Configuration("e2e/kestrel.exe", "")));
    const DWORD desktop = DesktopShellProcess();
    ASSERT_NE(desktop, 0u);
    const std::set<DWORD> explorersBefore = ChildIds(desktop, L"explorer.exe");
    RunningWizard wizard(L"DLM", L"dl-fold", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    HWND finish = WalkOffers(wizard, welcome, {}, L"FinishPageDLM");
    ASSERT_NE(finish, nullptr);
    HWND openFolder = wizard.driver.Control(finish, IDC_OPEN_FOLDER_RADIO);
    ASSERT_TRUE(wizard.driver.Click(finish, IDC_OPEN_FOLDER_RADIO));
    ASSERT_TRUE(wizard.driver.WaitUntil([&] { return ::SendMessageW(openFolder, BM_GETCHECK, 0, 0) == BST_CHECKED; },
                                        kUiTimeoutMs));
    ASSERT_TRUE(wizard.driver.Click(finish, IDC_FINISH));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    // A new Explorer, started by the desktop's, not by the wizard.
    std::set<DWORD> started;
    wizard.driver.WaitUntil(
        [&] {
            started.clear();
            for (const DWORD id : ChildIds(desktop, L"explorer.exe")) {
                if (!explorersBefore.count(id)) started.insert(id);
            }
            return !started.empty();
        },
        kUiTimeoutMs);
    ASSERT_EQ(started.size(), 1u);
    const std::wstring commandLine = CommandLineOf(*started.begin());
    EndChildProcesses(desktop, L"explorer.exe", explorersBefore);
    EXPECT_TRUE(ChildProcesses(wizard.process.Id()).empty());
    // By its full path in the Windows folder, asked to select the product.
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(::GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring explorer = std::wstring(windows) + L"\\explorer.exe";
    EXPECT_TRUE(NormalisedFolder(commandLine).rfind(NormalisedFolder(explorer), 0) == 0 ||
                NormalisedFolder(commandLine).rfind(L"\"" + NormalisedFolder(explorer) + L"\"", 0) == 0)
        << WideToUtf8(commandLine);
    const std::wstring select = L" /select,\"" + productPath + L"\"";
    EXPECT_TRUE(commandLine.size() > select.size() &&
                commandLine.compare(commandLine.size() - select.size(), select.size(), select) == 0)
        << WideToUtf8(commandLine);
    // The product stays where it was downloaded; revealing it is not launching it.
    EXPECT_EQ(ReadFileBytes(productPath).value_or(""), installer);
    EXPECT_TRUE(Runs().empty());
    EXPECT_TRUE(LaunchedRuns(300).empty());
}

TEST_F(DownloadWizardFlow, AFailedProductDownloadReportsEveryPackageAndStartsNothing) {
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-mfal", Configuration("e2e/missing.exe", OfferJson("alpha", 1, "e2e/alpha.exe", "/S") + "," +
                                                         OfferJson("beta", 2, "e2e/beta.exe", "/S"))));
    RunningWizard wizard(L"DLM", L"dl-mfal", Options());
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_NE(WalkOffers(wizard, welcome, {true, true}, L"DownloadPageDLM"), nullptr);
    HWND error = driver.WaitForPage(L"ErrorPage", 30000);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(driver.ControlText(error, IDC_ERROR_TITLE), L"Error in downloading");
    EXPECT_EQ(driver.ControlText(error, IDC_ERROR_TEXT), L"Please try to download later");
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-download-error-en.png")));

    const std::vector<json> events = StoredEvents(4);
    ASSERT_EQ(events.size(), 4u);
    const json main = FindEvent(events, "-1", "Kestrel Viewer");
    ASSERT_FALSE(main.is_null());
    const std::string mainText = main.at("12");
    EXPECT_EQ(mainText.rfind("DOWNLOAD FAILED: [WINHTTP] ", 0), 0u) << mainText;
    EXPECT_NE(mainText.find(" [WININET] "), std::string::npos) << mainText;
    for (const char* offer : {"alpha", "beta"}) {
        const json event = FindEvent(events, "-1", offer);
        ASSERT_FALSE(event.is_null()) << offer;
        EXPECT_EQ(event.at("12"), "MAIN PRODUCT " + mainText) << offer;
    }
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(server.FullRequests(L"/f/e2e/alpha.exe").size(), 0u);

    // After an error closing asks nothing, and still cleans up.
    ASSERT_TRUE(driver.Close());
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    EXPECT_FALSE(IsDirectory(workDirectory));
}

TEST_F(DownloadWizardFlow, AFailedOfferIsSkippedAndTheOthersGoOn) {
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-ofal", Configuration("e2e/kestrel.exe", OfferJson("alpha", 1, "e2e/gone.exe", "/S /alpha") + "," +
                                                         OfferJson("beta", 2, "e2e/beta.exe", "/S /beta"))));
    RunningWizard wizard(L"DLM", L"dl-ofal", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage", 1);  // Spanish
    ASSERT_NE(welcome, nullptr);
    HWND finish = WalkOffers(wizard, welcome, {true, true}, L"FinishPageDLM");
    ASSERT_NE(finish, nullptr);
    EXPECT_EQ(wizard.driver.ControlText(finish, IDC_FINISH), L"FINALIZAR");
    EXPECT_EQ(wizard.driver.ControlText(finish, IDC_OPEN_FOLDER_RADIO), L"Abrir carpeta");
    EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-finish-page-es.png")));

    const std::vector<json> runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].at("arguments"), json::array({"/S", "/beta"}));
    const std::vector<json> events = StoredEvents(4);
    const json failed = FindEvent(events, "-1", "alpha");
    ASSERT_FALSE(failed.is_null());
    EXPECT_EQ(failed.at("12").get<std::string>().rfind("DOWNLOAD FAILED: [WINHTTP] ", 0), 0u);
    EXPECT_FALSE(FindEvent(events, "3", "beta").is_null());
    EXPECT_FALSE(FindEvent(events, "3", "Kestrel Viewer").is_null());
    EXPECT_EQ(ReadFileBytes(productPath).value_or(""), installer);
}

TEST_F(DownloadWizardFlow, AnOfferThatDiffersFromItsDigestIsNeverStarted) {
    const std::string digest = Sha256Hex(installer);
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-sha1", Configuration("e2e/kestrel.exe",
                                  OfferJson("alpha", 1, "e2e/alpha.exe", "/S /alpha", kWrongDigest) + "," +
                                      OfferJson("beta", 2, "e2e/beta.exe", "/S /beta", digest),
                                  digest)));
    RunningWizard wizard(L"DLM", L"dl-sha1", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);
    ASSERT_NE(WalkOffers(wizard, welcome, {true, true}, L"FinishPageDLM"), nullptr) << Describe(wizard);

    const std::vector<json> runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].at("arguments"), json::array({"/S", "/beta"}));
    const std::vector<json> events = StoredEvents(4);
    const json failed = FindEvent(events, "-1", "alpha");
    ASSERT_FALSE(failed.is_null());
    EXPECT_EQ(failed.at("12"), "DOWNLOAD FAILED: [WINHTTP] " + VerifyFailure(digest, kWrongDigest) + " [WININET] " +
                                   VerifyFailure(digest, kWrongDigest));
    EXPECT_FALSE(FindEvent(events, "3", "Kestrel Viewer").is_null());
    EXPECT_EQ(ReadFileBytes(productPath).value_or(""), installer);
}

TEST_F(DownloadWizardFlow, AProductThatDiffersFromItsDigestLandsNowhereAndStartsNothing) {
    const std::string digest = Sha256Hex(installer);
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-sha2",
        Configuration("e2e/kestrel.exe", OfferJson("beta", 2, "e2e/beta.exe", "/S /beta", digest), kWrongDigest)));
    RunningWizard wizard(L"DLM", L"dl-sha2", Options());
    ASSERT_NE(wizard.host, nullptr);
    ASSERT_NE(WalkToTheDownloadError(wizard, {true}), nullptr) << Describe(wizard);

    const std::vector<json> events = StoredEvents(3);  // the start, the product's failure, the offer's
    const json main = FindEvent(events, "-1", "Kestrel Viewer");
    ASSERT_FALSE(main.is_null());
    EXPECT_EQ(main.at("12"), "DOWNLOAD FAILED: [WINHTTP] " + VerifyFailure(digest, kWrongDigest) + " [WININET] " +
                                 VerifyFailure(digest, kWrongDigest));
    EXPECT_EQ(::GetFileAttributesW(productPath.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(server.FullRequests(L"/f/e2e/beta.exe").size(), 0u);
}

TEST_F(DownloadWizardFlow, AProductOverPlainHttpIsFetchedOnlyWithItsDigest) {
    const std::string refused = "DOWNLOAD FAILED: Product URL that is not HTTPS, without a SHA-256, refused.";
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-http", Configuration("e2e/kestrel.exe", OfferJson("beta", 2, "e2e/beta.exe", "/S /beta"), {}, "HTTP")));
    {
        RunningWizard wizard(L"DLM", L"dl-http", Options());
        ASSERT_NE(wizard.host, nullptr);
        ASSERT_NE(WalkToTheDownloadError(wizard, {true}), nullptr) << Describe(wizard);

        const std::vector<json> events = StoredEvents(3);  // the start, the product's failure, the offer's
        const json main = FindEvent(events, "-1", "Kestrel Viewer");
        ASSERT_FALSE(main.is_null());
        EXPECT_EQ(main.at("12"), refused);
        const json offer = FindEvent(events, "-1", "beta");
        ASSERT_FALSE(offer.is_null());
        EXPECT_EQ(offer.at("12"), "MAIN PRODUCT " + refused);
        EXPECT_EQ(server.FullRequests(L"/f/e2e/kestrel.exe").size(), 0u);
        EXPECT_EQ(server.FullRequests(L"/f/e2e/beta.exe").size(), 0u);
        EXPECT_EQ(::GetFileAttributesW(productPath.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(Runs().empty());
    }

    // Named, the digest lets the same address through, checked.
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-http", Configuration("e2e/kestrel.exe", OfferJson("beta", 2, "e2e/beta.exe", "/S /beta"),
                                  Sha256Hex(installer), "HTTP")));
    RunningWizard wizard(L"DLM", L"dl-http", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);
    ASSERT_NE(WalkOffers(wizard, welcome, {true}, L"FinishPageDLM"), nullptr) << Describe(wizard);
    EXPECT_EQ(ReadFileBytes(productPath).value_or(""), installer);
    EXPECT_EQ(server.FullRequests(L"/f/e2e/kestrel.exe").size(), 1u);
}

TEST_F(DownloadWizardFlow, AnOfferWhoseInstallerCannotStartIsReportedAsFailed) {
    constexpr char kNotAProgram[] = "this is not a program\r\n";
    ASSERT_TRUE(server.WriteServedFile(L"e2e/broken.exe", kNotAProgram));
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-exec", Configuration("e2e/kestrel.exe", OfferJson("alpha", 1, "e2e/broken.exe", "/S /alpha") + "," +
                                                         OfferJson("beta", 2, "e2e/beta.exe", "/S /beta"))));
    const DWORD startError = StartErrorOf(kNotAProgram);
    ASSERT_NE(startError, 0u);
    RunningWizard wizard(L"DLM", L"dl-exec", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    ASSERT_NE(WalkOffers(wizard, welcome, {true, true}, L"FinishPageDLM"), nullptr) << Describe(wizard);

    // The broken offer says why it did not start; the next one starts all the same.
    const std::vector<json> events = StoredEvents(4);
    ASSERT_EQ(events.size(), 4u);
    const json failed = FindEvent(events, "-1", "alpha");
    ASSERT_FALSE(failed.is_null());
    EXPECT_EQ(failed.at("12"), "EXEC FAILED" + std::to_string(startError));
    EXPECT_TRUE(FindEvent(events, "3", "alpha").is_null());
    EXPECT_FALSE(FindEvent(events, "3", "beta").is_null());
    EXPECT_FALSE(FindEvent(events, "3", "Kestrel Viewer").is_null());
    const std::vector<json> runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].at("arguments"), json::array({"/S", "/beta"}));
}

TEST_F(DownloadWizardFlow, AnUnknownSizeShowsAMarqueeUntilTheNextFileReportsProgress) {
    // The product comes without a length, slowly; the offer with one, slowly too.
    ASSERT_TRUE(server.SetFile(
        {{"path", "/f/e2e/kestrel.exe"}, {"framing", "close"}, {"chunkBytes", 16384}, {"chunkDelayMs", 150}}));
    ASSERT_TRUE(server.SetFile({{"path", "/f/e2e/alpha.exe"}, {"chunkBytes", 16384}, {"chunkDelayMs", 150}}));
    ASSERT_TRUE(server.WriteConfiguration(
        L"dl-marq", Configuration("e2e/kestrel.exe", OfferJson("alpha", 1, "e2e/alpha.exe", "/S"))));
    RunningWizard wizard(L"DLM", L"dl-marq", Options());
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    HWND page = WalkOffers(wizard, welcome, {true}, L"DownloadPageDLM");
    ASSERT_NE(page, nullptr);
    HWND bar = driver.Control(page, IDC_PROGRESS);
    ASSERT_TRUE(driver.WaitUntil([&] { return HasMarqueeStyle(bar); }, kUiTimeoutMs));
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-download-page-en.png")));
    // The offer's first progress turns the bar back into a normal one.
    ASSERT_TRUE(driver.WaitUntil([&] { return server.FullRequests(L"/f/e2e/alpha.exe").size() == 1; }, 30000));
    ASSERT_TRUE(driver.WaitUntil([&] { return !HasMarqueeStyle(bar) && ::SendMessageW(bar, PBM_GETPOS, 0, 0) > 0; },
                                 kUiTimeoutMs));
    EXPECT_NE(driver.WaitForPage(L"FinishPageDLM", 30000), nullptr);
    EXPECT_EQ(ReadFileBytes(productPath).value_or(""), installer);
}

}  // namespace
