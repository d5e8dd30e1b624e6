// Start-up of the real wizards: title and header per wizard type, the single
// running copy, the About box, and leaving the language page.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "resources/resource.h"
#include "tests/common/TestServer.h"
#include "tests/ui/WizardUi.h"

namespace {

using namespace ostrel::testing;

// Keeps the loading page on screen: the configuration answer takes a while.
void DelayConfiguration(DWORD milliseconds) {
    TestServer server(L"127.0.0.1");
    ASSERT_TRUE(server.Reset());
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"delaysMs", {milliseconds}}}));
}

TEST(WizardStart, DownloadWizardShowsSetupTitleAndKeepsItsHeaderForLater) {
    RunningWizard wizard(L"DLM");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    EXPECT_EQ(driver.Text(wizard.host), L"Setup");
    EXPECT_TRUE(driver.IsControlVisible(wizard.host, IDC_HEADER_RULE));
    EXPECT_FALSE(driver.IsControlVisible(wizard.host, IDC_PRODUCT_TITLE));
    EXPECT_EQ(driver.VisiblePageNames(), std::vector<std::wstring>{L"LanguagePage"});
}

TEST(WizardStart, InstallerWizardShowsItsProductTitleAndHidesTheHeader) {
    RunningWizard wizard(L"ISV");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    EXPECT_EQ(driver.Text(wizard.host), L"Ostrel Tester ");
    EXPECT_FALSE(driver.IsControlVisible(wizard.host, IDC_HEADER_RULE));
    EXPECT_FALSE(driver.IsControlVisible(wizard.host, IDC_PRODUCT_ICON));
    EXPECT_FALSE(driver.IsControlVisible(wizard.host, IDC_PRODUCT_TITLE));
    EXPECT_EQ(driver.CurrentPageName(), L"LanguagePage");
}

TEST(WizardStart, SecondCopyIsRefusedWhileTheFirstRuns) {
    RunningWizard first(L"DLM");
    ASSERT_NE(first.host, nullptr);

    WizardProcess second = WizardProcess::Start(WizardPath(L"DLM"));
    ASSERT_TRUE(second.Started());
    UiDriver secondDriver(second.Id());
    const auto box = secondDriver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->caption, L"Error");
    EXPECT_EQ(box->text, L"Another setup is already running, please close it and try again");
    EXPECT_TRUE(secondDriver.Answer(box->window, IDOK));
    EXPECT_TRUE(second.WaitForExit(kUiTimeoutMs));
    // The refused copy never showed its window.
    EXPECT_EQ(secondDriver.Host() && ::IsWindowVisible(secondDriver.Host()), false);

    EXPECT_FALSE(first.process.WaitForExit(200));
    EXPECT_EQ(first.driver.CurrentPageName(), L"LanguagePage");

    // The other wizard type has its own mutex and starts beside it.
    RunningWizard installer(L"ISV");
    EXPECT_NE(installer.host, nullptr);
}

TEST(WizardStart, AboutBoxShowsTheFileVersion) {
    RunningWizard wizard(L"DLM");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    ASSERT_TRUE(driver.SystemCommand(IDM_ABOUTBOX));
    HWND about = driver.WaitForDialog(L"About Ostrel", kUiTimeoutMs);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(driver.ControlText(about, IDC_ABOUT_VERSION), L"Ostrel, Version 0.0.9.0");
    EXPECT_TRUE(driver.SaveScreenshot(about, ShotPath(L"dlm-about-box.png")));
    // The host is disabled while the box is up, and usable again after OK.
    EXPECT_FALSE(::IsWindowEnabled(wizard.host));
    ASSERT_TRUE(driver.Answer(about, IDOK));
    EXPECT_TRUE(driver.WaitUntil([&] { return ::IsWindowEnabled(wizard.host) && !::IsWindow(about); }, 5000));
}

TEST(WizardStart, NextLeavesTheLanguagePageForTheLoadingPage) {
    DelayConfiguration(3000);
    RunningWizard wizard(L"DLM");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND page = driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(driver.Click(page, IDC_NEXT));
    HWND loading = driver.WaitForPage(L"LoadingPage", kUiTimeoutMs);
    ASSERT_NE(loading, nullptr);
    EXPECT_TRUE(driver.IsControlVisible(loading, IDC_PROGRESS));
    EXPECT_EQ(driver.VisiblePageNames(), std::vector<std::wstring>{L"LoadingPage"});
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-loading-page.png")));
}

TEST(WizardStart, EnterOnTheLanguagePagePressesNextAndEscapeInAPageIsIgnored) {
    DelayConfiguration(3000);
    RunningWizard wizard(L"ISV");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND page = driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_NE(page, nullptr);
    HWND list = driver.Control(page, IDC_LANGUAGE_LIST);
    // Key messages go to the focused control, where the wizard's message loop
    // lets the page's dialog manager see them first.
    ::PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(list, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    ::Sleep(300);
    EXPECT_FALSE(wizard.process.WaitForExit(0));
    EXPECT_EQ(driver.CurrentPageName(), L"LanguagePage");
    ::PostMessageW(list, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ::PostMessageW(list, WM_KEYUP, VK_RETURN, 0xC01C0001);
    EXPECT_NE(driver.WaitForPage(L"LoadingPage", kUiTimeoutMs), nullptr);
    EXPECT_FALSE(wizard.process.WaitForExit(0));
}

TEST(WizardStart, ClosingAsksFirstAndCancelKeepsTheWizardGoing) {
    RunningWizard wizard(L"ISV");
    ASSERT_NE(wizard.host, nullptr);
    ASSERT_TRUE(wizard.driver.Close());
    auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, L"Are you sure you want to exit the installer?");
    EXPECT_EQ(box->caption, L"");
    EXPECT_EQ(box->buttons, (std::vector<int>{IDOK, IDCANCEL}));
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDCANCEL));
    EXPECT_FALSE(wizard.process.WaitForExit(500));
    EXPECT_EQ(wizard.driver.CurrentPageName(), L"LanguagePage");

    ASSERT_TRUE(wizard.driver.Close());
    box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDOK));
    EXPECT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    EXPECT_EQ(wizard.process.ExitCode(), 0u);
}

TEST(WizardStart, ClosingDuringLoadingReportsTheCloseOfTheMainProduct) {
    DelayConfiguration(4000);
    TestServer server(L"127.0.0.1");
    RunningWizard wizard(L"DLM");
    ASSERT_NE(wizard.host, nullptr);
    HWND page = wizard.driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_TRUE(wizard.driver.Click(page, IDC_NEXT));
    ASSERT_NE(wizard.driver.WaitForPage(L"LoadingPage", kUiTimeoutMs), nullptr);
    ASSERT_EQ(server.WaitForEvents(1, kUiTimeoutMs).size(), 1u);
    ASSERT_TRUE(wizard.driver.Close());
    const auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, L"Are you sure you want to exit the installer?");
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    // The close event was delivered before the process ended.
    const nlohmann::json events = server.Events();
    ASSERT_EQ(events.size(), 2u);
    std::set<std::string> types;
    for (const auto& event : events) types.insert(TestServer::EventData(event).at("6").get<std::string>());
    EXPECT_EQ(types, (std::set<std::string>{"1", "5"}));
}

}  // namespace
