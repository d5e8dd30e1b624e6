// Ending a run before its end: the question and its two answers, the last
// events of every package the user has seen, and the working directory
// removed however the wizard ends.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "core/TextConversion.h"
#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

// Escape pressed while the host window itself has the keyboard.
bool PressEscape(HWND host) {
    return ::PostMessageW(host, WM_KEYDOWN, VK_ESCAPE, 1) && ::PostMessageW(host, WM_KEYUP, VK_ESCAPE, 0xC0000001);
}

// The two ways a user asks a running wizard to close.
enum class CloseBy { WindowClose, Escape };

class Closing : public InstallFlow {
protected:
    void SetUp() override {
        InstallFlow::SetUp();
        ASSERT_TRUE(server.WriteConfiguration(
            L"cl-offr", R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/e2e/kestrel.exe"},"f":{"m":3},"o":[)" +
                            OfferJson("alpha", 1, "e2e/alpha.exe", "/S") + "," +
                            OfferJson("beta", 2, "e2e/beta.exe", "/S") + "]}"));
    }

    // The welcome page after the language page; nullptr when the wizard did
    // not show or did not get there.
    HWND ReachWelcome(RunningWizard& wizard) {
        EXPECT_NE(wizard.host, nullptr) << "the wizard did not show";
        return wizard.host ? LeaveLanguagePage(wizard, L"WelcomePage") : nullptr;
    }

    // Asks the wizard to close the way a user would; the question it shows.
    std::optional<MessageBoxInfo> AskToClose(RunningWizard& wizard, CloseBy how) {
        const bool asked = how == CloseBy::Escape ? PressEscape(wizard.host) : wizard.driver.Close();
        EXPECT_TRUE(asked) << "the close could not be asked for";
        if (!asked) return std::nullopt;
        return wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    }

    // Answers the question with Cancel and waits until it is gone, then long
    // enough for a close that should not happen to show.
    void KeepRunning(RunningWizard& wizard, const MessageBoxInfo& box) {
        ASSERT_TRUE(wizard.driver.Answer(box.window, IDCANCEL));
        ASSERT_TRUE(wizard.driver.WaitUntil([&] { return !::IsWindow(box.window); }, kUiTimeoutMs));
        ::Sleep(300);
    }
};

TEST_F(Closing, CancelKeepsEverythingAndOkReportsEveryShownPackage) {
    RunningWizard wizard(L"DLM", L"cl-offr", Options());
    UiDriver& driver = wizard.driver;
    HWND welcome = ReachWelcome(wizard);
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    // Both offers seen, the first accepted; the second is on screen.
    ASSERT_TRUE(driver.Click(welcome, IDC_NEXT));
    HWND first = driver.WaitForPage(L"ProductPage", kUiTimeoutMs);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(driver.Click(first, IDC_ACCEPT));
    HWND second = driver.WaitForNextPage(first, L"ProductPage", kUiTimeoutMs);
    ASSERT_NE(second, nullptr);

    auto box = AskToClose(wizard, CloseBy::WindowClose);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, L"Are you sure you want to exit the installer?");
    EXPECT_EQ(box->caption, L"");
    ASSERT_NO_FATAL_FAILURE(KeepRunning(wizard, *box));
    // Nothing changed: same page, nothing reported, nothing removed.
    EXPECT_EQ(driver.CurrentPage(), second);
    EXPECT_EQ(server.Events().size(), 1u);
    EXPECT_TRUE(IsDirectory(workDirectory));

    box = AskToClose(wizard, CloseBy::WindowClose);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    // The close events were delivered before the process ended.
    const std::vector<json> events = StoredEvents(0, 0);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_FALSE(FindEvent(events, "5", "alpha").is_null());
    EXPECT_FALSE(FindEvent(events, "5", "beta").is_null());
    EXPECT_FALSE(FindEvent(events, "5", "Kestrel Viewer").is_null());
    EXPECT_FALSE(IsDirectory(workDirectory));
    EXPECT_TRUE(Runs().empty());
    // Every event of the run, whichever package sent it, carries one signature.
    std::set<std::string> signatures;
    size_t signedEvents = 0;
    for (const json& request : server.FullRequests(L"/zbd")) {
        for (const json& header : request.at("headers")) {
            if (header.at(0) != "Authorization") continue;
            signatures.insert(header.at(1).get<std::string>());
            ++signedEvents;
        }
    }
    EXPECT_EQ(signedEvents, 4u);
    EXPECT_EQ(signatures.size(), 1u);
}

// Escape on the host window is the window's close: the same question, the
// same last events, the same clean-up.
TEST_F(Closing, EscapeOnTheHostWindowAsksAndClosesLikeTheWindowsClose) {
    RunningWizard wizard(L"ISV", L"cl-offr", Options());
    UiDriver& driver = wizard.driver;
    HWND welcome = ReachWelcome(wizard);
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_TRUE(IsDirectory(workDirectory));
    // A file of its own makes the directory worth removing.
    ASSERT_TRUE(WriteFileBytes(workDirectory + L"\\left-over.bin", "bytes"));

    auto box = AskToClose(wizard, CloseBy::Escape);
    ASSERT_TRUE(box.has_value()) << "Escape ended the wizard without asking";
    EXPECT_EQ(box->text, L"Are you sure you want to exit the installer?");
    ASSERT_NO_FATAL_FAILURE(KeepRunning(wizard, *box));
    EXPECT_FALSE(wizard.process.WaitForExit(0));
    EXPECT_EQ(driver.CurrentPage(), welcome);
    EXPECT_TRUE(IsDirectory(workDirectory));

    box = AskToClose(wizard, CloseBy::Escape);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(5000));
    // The start event and the close event of the main product; no offer was shown yet.
    const std::vector<json> events = StoredEvents(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(FindEvent(events, "5", "Ostrel Tester").is_null());
    EXPECT_FALSE(IsDirectory(workDirectory));
}

// While a transfer runs, Escape stops it like the close does: the process
// is gone within seconds, after the last events of every shown package.
TEST_F(Closing, EscapeDuringADownloadStopsItAndSendsTheLastEvents) {
    // The product would take minutes to arrive. A second request for it (the
    // fallback transfer, which is not what this test is about) fails at once.
    ASSERT_TRUE(server.SetFile(
        {{"path", "/f/e2e/kestrel.exe"}, {"size", 4 * 1024 * 1024}, {"chunkBytes", 16384}, {"chunkDelayMs", 500}}));
    ASSERT_TRUE(server.SetFaults({{"path", "/f/e2e/kestrel.exe"}, {"statuses", {nullptr, 404}}}));
    RunningWizard wizard(L"DLM", L"cl-offr", Options());
    UiDriver& driver = wizard.driver;
    HWND welcome = ReachWelcome(wizard);
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_NE(WalkOffers(wizard, welcome, {true, false}, L"DownloadPageDLM"), nullptr) << Describe(wizard);
    ASSERT_TRUE(driver.WaitUntil([&] { return server.FullRequests(L"/f/e2e/kestrel.exe").size() == 1; }, kUiTimeoutMs));

    const auto box = AskToClose(wizard, CloseBy::Escape);
    ASSERT_TRUE(box.has_value()) << "Escape ended the wizard without asking";
    ASSERT_TRUE(driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(5000)) << "the wizard still runs after Escape";
    // Start and the declined offer's last word, then the close events of the
    // accepted offer and the product.
    const std::vector<json> events = StoredEvents(4);
    ASSERT_EQ(events.size(), 4u) << json(events).dump();
    EXPECT_FALSE(FindEvent(events, "4", "beta").is_null());
    EXPECT_FALSE(FindEvent(events, "5", "alpha").is_null());
    EXPECT_FALSE(FindEvent(events, "5", "Kestrel Viewer").is_null());
    EXPECT_FALSE(IsDirectory(workDirectory));
    EXPECT_TRUE(Runs().empty());
}

// The working directory removed under a running wizard: the download that
// needs it fails the way any failed download does, with no message box from
// the download thread (none would be seen once the window is gone, and it
// would keep the process alive), and the wizard still closes at once.
TEST_F(Closing, AWorkingDirectoryRemovedUnderTheWizardFailsTheDownloadWithoutAMessageBox) {
    ASSERT_TRUE(server.WriteServedFile(L"ostrel-tester.exe", SampleInstallerBytes()));
    RunningWizard wizard(L"ISV", L"cl-offr", Options());
    UiDriver& driver = wizard.driver;
    HWND welcome = ReachWelcome(wizard);
    ASSERT_NE(welcome, nullptr);
    const std::wstring workDirectory = NewWorkingDirectory();
    ASSERT_TRUE(::RemoveDirectoryW(workDirectory.c_str()));

    ASSERT_NE(WalkOffers(wizard, welcome, {false, false}, L"DownloadPageISV"), nullptr) << Describe(wizard);
    HWND error = driver.WaitForPage(L"ErrorPage", kUiTimeoutMs);
    const std::optional<MessageBoxInfo> box = driver.WaitForMessageBox(error ? 500 : 0);
    if (box) driver.Answer(box->window, IDOK);
    EXPECT_FALSE(box.has_value()) << "a message box: " << WideToUtf8(box ? box->text : L"");
    ASSERT_NE(error, nullptr) << Describe(wizard);
    const std::vector<json> events = StoredEvents(4);
    const json failed = FindEvent(events, "-1", "Ostrel Tester");
    ASSERT_FALSE(failed.is_null()) << json(events).dump();
    EXPECT_EQ(failed.at("12").get<std::string>().rfind("DOWNLOAD FAILED: [WINHTTP] ", 0), 0u);
    EXPECT_TRUE(Runs().empty());

    ASSERT_TRUE(driver.Close());
    EXPECT_TRUE(wizard.process.WaitForExit(5000)) << "the wizard still runs after its close";
}

}  // namespace
