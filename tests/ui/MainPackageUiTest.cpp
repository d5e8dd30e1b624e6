// Leaving the language page creates the main product's package once and
// reports the wizard's start to the analytics server (the built-in host).
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/common/TestServer.h"
#include "tests/ui/WizardUi.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

void CheckStartEvent(const wchar_t* key, const std::string& title) {
    TestServer server(L"127.0.0.1");
    ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.1 not reachable";
    // Keeps the loading page on screen for a moment.
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"delaysMs", {2000}}}));
    RunningWizard wizard(key);
    ASSERT_NE(wizard.host, nullptr);
    HWND page = wizard.driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(server.Events().empty());
    ASSERT_TRUE(wizard.driver.Click(page, IDC_NEXT));
    ASSERT_NE(wizard.driver.WaitForPage(L"LoadingPage", kUiTimeoutMs), nullptr);

    const json events = server.WaitForEvents(1, kUiTimeoutMs);
    ASSERT_EQ(events.size(), 1u);
    const json data = TestServer::EventData(events[0]);
    EXPECT_EQ(data.at("6"), "1");
    EXPECT_EQ(data.at("10"), 1);
    EXPECT_EQ(data.at("22"), title);
    EXPECT_EQ(data.at("5"), title);
    // Nothing else follows from later pages' buttons.
    ::Sleep(500);
    EXPECT_EQ(server.Events().size(), 1u);
}

TEST(MainPackage, DownloadWizardReportsItsStartOnceWhenTheLanguagePageIsLeft) {
    CheckStartEvent(L"DLM", "");
}

TEST(MainPackage, InstallerWizardReportsItsBuiltInProduct) {
    CheckStartEvent(L"ISV", "Ostrel Tester");
}

}  // namespace
