// The offers a loaded configuration brings: one page each for those the
// rules accept, their outcome events, the limit, and offers skipped alone
// when malformed, unjudgeable or switched off.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/TestSupport.h"
#include "tests/ui/LoadingFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

TEST_F(LoadingFlow, EligibleOffersGetOnePageEachAndReportTheirOutcome) {
    const std::string offers = "[" + Offer("offer-a", 1, "Alpha Tool") + "," + Offer("offer-b", 1, "Beta Tool") + "," +
                               Offer("offer-c", 2, "Gamma Tool") + "]";
    // The rejected offer does not count toward the limit of two.
    ASSERT_TRUE(
        server.WriteConfiguration(L"ld-offr", std::string("{") + kProduct + R"(,"f":{"m":2},"o":)" + offers + "}"));
    RunningWizard wizard(L"DLM", L"ld-offr");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage", 1);  // Spanish
    ASSERT_NE(welcome, nullptr);
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-welcome-page-es.png")));
    ASSERT_TRUE(driver.Click(welcome, IDC_NEXT));

    // Beta shares Alpha's category and was rejected: Alpha's page, then Gamma's.
    HWND first = driver.WaitForPage(L"ProductPage", kUiTimeoutMs);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(driver.ControlText(first, IDC_ACCEPT), L"ACEPTAR");
    EXPECT_EQ(driver.ControlText(first, IDC_DECLINE), L"IGNORAR");
    const std::wstring terms = driver.ControlText(first, IDC_TERMS_TEXT);
    EXPECT_NE(terms.find(L"\"Alpha Tool\""), std::wstring::npos) << terms;
    // The terms sentence is English in every language.
    EXPECT_EQ(terms.rfind(L"When you click \"ACCEPT\", you agree", 0), 0u) << terms;
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-product-page-es.png")));
    ASSERT_TRUE(driver.Click(first, IDC_DECLINE));

    // The next offer page, once it is the only page on screen.
    HWND second = nullptr;
    ASSERT_TRUE(driver.WaitUntil(
        [&] {
            second = driver.CurrentPage();
            return second && second != first && driver.Text(second) == L"ProductPage";
        },
        kUiTimeoutMs))
        << "pages on screen: " << driver.VisiblePageNames().size();
    EXPECT_NE(driver.ControlText(second, IDC_TERMS_TEXT).find(L"\"Gamma Tool\""), std::wstring::npos);
    ASSERT_TRUE(driver.Click(second, IDC_ACCEPT));

    // Start of the main product, the rules' rejection of Beta, Alpha declined.
    const std::vector<json> events = StoredEvents(3);
    ASSERT_EQ(events.size(), 3u);
    int starts = 0, rejections = 0, declines = 0;
    for (const json& event : events) {
        const std::string type = event.at("6");
        if (type == "1") {
            ++starts;
            EXPECT_EQ(event.at("10"), 1);
        } else if (type == "2") {
            ++rejections;
            EXPECT_EQ(event.at("5"), "offer-b");
            EXPECT_EQ(event.at("13"), "SAME VERTICAL OFFER ALREADY PRESENT");
        } else if (type == "4") {
            ++declines;
            EXPECT_EQ(event.at("5"), "offer-a");
            EXPECT_EQ(event.at("17"), "1");
        }
    }
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(rejections, 1);
    EXPECT_EQ(declines, 1);
    ::Sleep(500);
    // Accepting reports nothing by itself.
    EXPECT_EQ(server.Events().size(), 3u);
}

TEST_F(LoadingFlow, OffersSwitchedOffByTheChannelAreIgnored) {
    ASSERT_TRUE(server.WriteConfiguration(
        L"ld-chan", R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/k.exe","ch":"00xA"},"o":[)" +
                        Offer("x", 1, "X") + "]}"));
    RunningWizard wizard(L"DLM", L"ld-chan");
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    // No offer page: the welcome page leads straight to the downloads.
    ASSERT_TRUE(wizard.driver.Click(welcome, IDC_NEXT));
    EXPECT_NE(wizard.driver.WaitForPage(L"DownloadPageDLM", kUiTimeoutMs), nullptr);
    // The offer was never looked at: no picture fetched, no rule judged it.
    EXPECT_TRUE(server.FullRequests(L"/f/img/x.png").empty());
    for (const json& stored : server.Events()) EXPECT_NE(TestServer::EventData(stored).at("6"), "2");
}

// No rejection was reported for the offer with this code.
void ExpectNoRejectionOf(const TestServer& server, const std::string& code) {
    for (const json& stored : server.Events()) {
        const json event = TestServer::EventData(stored);
        EXPECT_FALSE(event.at("6") == "2" && event.at("5") == code) << event.dump();
    }
}

TEST_F(LoadingFlow, ARuleThatCannotBeJudgedSkipsOnlyItsOffer) {
    // A bare Software root is no key a rule can look at: the evaluation of
    // that offer fails, and only that offer is left out.
    std::string broken = Offer("rb-b", 2, "Broken Tool");
    broken.insert(broken.rfind("}}"), R"(,"r":["hklm\\software\\"])");
    const std::string offers = Offer("rb-a", 1, "Fine Tool") + "," + broken + "," + Offer("rb-c", 3, "Other Tool");
    ASSERT_TRUE(
        server.WriteConfiguration(L"ld-brkn", std::string("{") + kProduct + R"(,"f":{"m":3},"o":[)" + offers + "]}"));
    for (const wchar_t* key : {L"DLM", L"ISV"}) {
        SCOPED_TRACE(key);
        RunningWizard wizard(key, L"ld-brkn");
        ASSERT_NE(wizard.host, nullptr);
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
        ASSERT_NE(welcome, nullptr);
        EXPECT_EQ(AcceptAllOffers(wizard.driver, welcome), 2);
    }
    ExpectNoRejectionOf(server, "rb-b");
}

TEST_F(LoadingFlow, AMalformedOfferBetweenTwoGoodOnesIsSkipped) {
    // Served from the test data: between Alpha and Beta an offer whose disk
    // requirement is a text. The limit of two is not used up by it.
    RunningWizard wizard(L"DLM", L"ld-skip");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(driver.Text(wizard.host), L"Kestrel Viewer Setup");
    EXPECT_EQ(driver.ControlText(welcome, IDC_PRODUCT_TITLE), L"Kestrel Viewer");
    ASSERT_TRUE(driver.Click(welcome, IDC_NEXT));

    HWND previous = welcome;
    for (const wchar_t* name : {L"\"Alpha Tool\"", L"\"Beta Tool\""}) {
        SCOPED_TRACE(name);
        HWND page = nullptr;
        ASSERT_TRUE(driver.WaitUntil(
            [&] {
                page = driver.CurrentPage();
                return page && page != previous && driver.Text(page) == L"ProductPage";
            },
            kUiTimeoutMs));
        const std::wstring terms = driver.ControlText(page, IDC_TERMS_TEXT);
        EXPECT_NE(terms.find(name), std::wstring::npos) << terms;
        ASSERT_TRUE(driver.Click(page, IDC_DECLINE));
        previous = page;
    }
    EXPECT_NE(driver.WaitForPage(L"DownloadPageDLM", kUiTimeoutMs), nullptr);

    // The start, then both declines: Beta took the second place, not the third.
    const std::vector<json> events = StoredEvents(3);
    ASSERT_EQ(events.size(), 3u);
    std::vector<std::pair<std::string, std::string>> declines;
    for (const json& event : events) {
        EXPECT_NE(event.at("5"), "skip-bad");
        if (event.at("6") == "4") declines.emplace_back(event.at("5"), event.at("17"));
    }
    std::sort(declines.begin(), declines.end());
    EXPECT_EQ(declines, (std::vector<std::pair<std::string, std::string>>{{"skip-a", "1"}, {"skip-b", "2"}}));
    // No picture was asked for the skipped offer.
    EXPECT_TRUE(server.FullRequests(L"/f/img/skip-bad.png").empty());
    EXPECT_FALSE(server.FullRequests(L"/f/img/skip-b.png").empty());
}

// An offer list nested levels deep inside an offer's file list.
std::string DeeplyNestedConfiguration(size_t levels) {
    std::string deep = Offer("deep", 1, "Deep Tool");
    deep.insert(deep.rfind("}}"), R"(,"fe":)" + std::string(levels, '[') + std::string(levels, ']'));
    return std::string("{") + kProduct + R"(,"f":{"m":3},"o":[)" + Offer("shallow", 2, "Shallow Tool") + "," + deep +
           "]}";
}

TEST_F(LoadingFlow, AHostileNestingDepthIsAConfigurationErrorNotACrash) {
    // A million levels: 2 MB, well inside what the wizard accepts as an answer.
    ASSERT_TRUE(server.WriteConfiguration(L"ld-deep", DeeplyNestedConfiguration(1000000)));
    {
        RunningWizard wizard(L"DLM", L"ld-deep");
        ASSERT_NE(wizard.host, nullptr);
        HWND error = LeaveLanguagePage(wizard, L"ErrorPage");
        ASSERT_NE(error, nullptr) << "exit code " << wizard.process.ExitCode();
        EXPECT_EQ(wizard.driver.ControlText(error, IDC_ERROR_TITLE), L"Something went wrong");
        EXPECT_EQ(wizard.driver.ControlText(error, IDC_ERROR_TEXT), L"Please try to download later");
        ASSERT_TRUE(wizard.driver.Click(error, IDC_CLOSE_BUTTON));
        ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
        EXPECT_EQ(wizard.process.ExitCode(), 0u);
    }
    {
        // The installer wizard goes on with its own product, without offers.
        RunningWizard wizard(L"ISV", L"ld-deep");
        ASSERT_NE(wizard.host, nullptr);
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
        ASSERT_NE(welcome, nullptr) << "exit code " << wizard.process.ExitCode();
        EXPECT_EQ(AcceptAllOffers(wizard.driver, welcome), 0);
    }
}

TEST_F(LoadingFlow, TheLimitStopsFurtherOffersAndZeroAllowsNone) {
    std::string five = "[";
    for (int i = 0; i < 5; ++i)
        five += (i ? "," : "") + Offer("lim-" + std::to_string(i), i + 10, "Tool " + std::to_string(i));
    five += "]";
    ASSERT_TRUE(
        server.WriteConfiguration(L"ld-lim2", std::string("{") + kProduct + R"(,"f":{"m":2},"o":)" + five + "}"));
    ASSERT_TRUE(
        server.WriteConfiguration(L"ld-lim0", std::string("{") + kProduct + R"(,"f":{"m":0},"o":)" + five + "}"));
    {
        RunningWizard wizard(L"DLM", L"ld-lim2");
        ASSERT_NE(wizard.host, nullptr);
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
        ASSERT_NE(welcome, nullptr);
        EXPECT_EQ(AcceptAllOffers(wizard.driver, welcome), 2);
    }
    {
        RunningWizard wizard(L"DLM", L"ld-lim0");
        ASSERT_NE(wizard.host, nullptr);
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
        ASSERT_NE(welcome, nullptr);
        EXPECT_EQ(AcceptAllOffers(wizard.driver, welcome), 0);
    }
    // Hitting the limit reports nothing: only starts and closes arrive, no rejection.
    ::Sleep(500);
    for (const json& stored : server.Events()) EXPECT_NE(TestServer::EventData(stored).at("6"), "2");
}

TEST_F(LoadingFlow, MinimalProductDescriptionAndNonAsciiTitle) {
    ASSERT_TRUE(server.WriteConfiguration(L"ld-mini",
                                          "{\"i\":{\"ct\":\"Caf\xC3\xA9 \xC3\x91"
                                          "and\xC3\xBA\",\"cu\":\"https://127.0.0.1/f/app.exe\"}}"));
    RunningWizard wizard(L"DLM", L"ld-mini");
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(wizard.driver.Text(wizard.host), L"Caf\u00e9 \u00d1and\u00fa Setup");
    EXPECT_EQ(wizard.driver.ControlText(welcome, IDC_WELCOME_TEXT),
              L"This will download Caf\u00e9 \u00d1and\u00fa on your computer. Click \"Next\" to continue.");
    // Neither link has an address: both are hidden.
    EXPECT_FALSE(wizard.driver.IsControlVisible(welcome, IDC_PRIVACY_LINK));
    EXPECT_FALSE(wizard.driver.IsControlVisible(welcome, IDC_TERMS_LINK));
    // The start event went before the title was known; the close event
    // carries it, as UTF-8, once loading re-initialised the main product.
    ASSERT_EQ(server.WaitForEvents(1, kUiTimeoutMs).size(), 1u);
    ASSERT_TRUE(wizard.driver.Close());
    const auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    const json events = server.Events();
    ASSERT_EQ(events.size(), 2u);
    const json closed = TestServer::EventData(events[1]);
    EXPECT_EQ(closed.at("6"), "5");
    EXPECT_EQ(closed.at("22"),
              "Caf\xC3\xA9 \xC3\x91"
              "and\xC3\xBA");
    EXPECT_EQ(closed.at("5"),
              "Caf\xC3\xA9 \xC3\x91"
              "and\xC3\xBA");
}

TEST_F(LoadingFlow, OffersWithoutTheLimitAreAnErrorOnlyForTheDownloadWizard) {
    const std::string noLimit = std::string("{") + kProduct + R"(,"o":[)" + Offer("nf", 1, "No Limit") + "]}";
    ASSERT_TRUE(server.WriteConfiguration(L"ld-nolm", noLimit));
    {
        RunningWizard wizard(L"DLM", L"ld-nolm");
        ASSERT_NE(wizard.host, nullptr);
        EXPECT_NE(LeaveLanguagePage(wizard, L"ErrorPage"), nullptr);
    }
    {
        RunningWizard wizard(L"ISV", L"ld-nolm");
        ASSERT_NE(wizard.host, nullptr);
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
        ASSERT_NE(welcome, nullptr);
        EXPECT_EQ(AcceptAllOffers(wizard.driver, welcome), 0);
    }
}

}  // namespace
