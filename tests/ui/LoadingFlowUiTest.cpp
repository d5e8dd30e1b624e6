// From the language page through loading to the welcome and offer pages of
// the real wizards, with configurations served by the reference server on
// the built-in host.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "tests/common/TestServer.h"
#include "tests/common/TestSupport.h"
#include "tests/ui/WizardUi.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

const char kProduct[] = R"("i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/kestrel.exe","cp":"https://127.0.0.1/site/privacy"})";

std::string Offer(const std::string& code, int vertical, const std::string& name) {
    return R"({"ad":{"f":"tag-)" + code + R"(","o":")" + code + R"("},"ps":{"i":"img/)" + code +
           R"(.png","dn":")" + name + R"(","u":"dl/)" + code + R"(.exe","v":)" + std::to_string(vertical) +
           R"(,"cp":"https://127.0.0.1/site/)" + code + R"(-privacy","ctu":"https://127.0.0.1/site/)" + code +
           R"(-eula"}})";
}

// The DLL overrides of the test environment, with Wine's browser switched off.
std::wstring OverridesWithoutBrowser() {
    wchar_t overrides[1024] = {};
    std::wstring value;
    if (::GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 1024) > 0) value = std::wstring(overrides) + L";";
    return L"WINEDLLOVERRIDES=" + value + L"winebrowser.exe=d";
}

class LoadingFlow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.1 not reachable"; }

    std::vector<json> StoredEvents(size_t count) {
        std::vector<json> bodies;
        for (const json& stored : server.WaitForEvents(count, kUiTimeoutMs)) bodies.push_back(TestServer::EventData(stored));
        return bodies;
    }

    TestServer server{L"127.0.0.1"};
};

TEST_F(LoadingFlow, DownloadWizardWelcomesWithTheLoadedProduct) {
    ASSERT_TRUE(server.WriteConfiguration(L"ld-main", std::string("{") + kProduct + R"(,"f":{"m":3},"o":[]})"));
    RunningWizard wizard(L"DLM", L"ld-main");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);

    EXPECT_EQ(driver.Text(wizard.host), L"Kestrel Viewer Setup");
    EXPECT_TRUE(driver.IsControlVisible(wizard.host, IDC_PRODUCT_TITLE));
    EXPECT_EQ(driver.ControlText(wizard.host, IDC_PRODUCT_TITLE), L"Kestrel Viewer");
    EXPECT_EQ(driver.ControlText(welcome, IDC_PRODUCT_TITLE), L"Kestrel Viewer");
    EXPECT_EQ(driver.ControlText(welcome, IDC_WELCOME_TITLE), L"Welcome to");
    EXPECT_EQ(driver.ControlText(welcome, IDC_WELCOME_TEXT),
              L"This will download Kestrel Viewer on your computer. Click \"Next\" to continue.");
    // "cp" without "ctu": privacy shown, licence hidden, the distributor's own policy shown.
    EXPECT_TRUE(driver.IsControlVisible(welcome, IDC_PRIVACY_LINK));
    EXPECT_EQ(driver.ControlText(welcome, IDC_PRIVACY_LINK), L"Privacy Policy");
    EXPECT_FALSE(driver.IsControlVisible(welcome, IDC_TERMS_LINK));
    EXPECT_TRUE(driver.IsControlVisible(welcome, IDC_SDK_LINK));
    EXPECT_EQ(driver.ControlText(welcome, IDC_SDK_LINK), L"SDK License");
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-welcome-page-en.png")));

    // The request carried the token of the program's name.
    const json requests = server.Requests(L"/o");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(json::parse(requests[0].get<std::string>()).at("u"), "ld-main");
}

TEST_F(LoadingFlow, UnusableProductDescriptionShowsTheConfigurationError) {
    ASSERT_TRUE(server.WriteConfiguration(L"ld-err1", R"({"i":{"ct":"","cu":"https://127.0.0.1/f/x.exe"}})"));
    ASSERT_TRUE(server.WriteConfiguration(L"ld-err2", R"({"f":{"m":1},"o":[]})"));
    // Skipping a bad offer stops at the offers: a mistyped product member or
    // limit still ends the configuration.
    ASSERT_TRUE(server.WriteConfiguration(L"ld-err3", std::string(R"({"i":{"ct":"A","cu":"https://127.0.0.1/f/a.exe","cl":5},)") +
                                                          R"("f":{"m":1},"o":[)" + Offer("e3", 1, "E") + "]}"));
    ASSERT_TRUE(server.WriteConfiguration(L"ld-err4", std::string("{") + kProduct + R"(,"f":{"m":"2"},"o":[)" +
                                                          Offer("e4", 1, "E") + "]}"));
    // A product digest the wizard cannot check must not let the product run unchecked.
    ASSERT_TRUE(server.WriteConfiguration(L"ld-err5", R"({"i":{"ct":"A","cu":"https://127.0.0.1/f/a.exe","sha256":")" +
                                                          std::string(63, 'a') + R"("},"f":{"m":1},"o":[]})"));
    for (const wchar_t* token : {L"ld-err1", L"ld-err2", L"ld-err3", L"ld-err4", L"ld-err5"}) {
        RunningWizard wizard(L"DLM", token);
        ASSERT_NE(wizard.host, nullptr);
        HWND error = LeaveLanguagePage(wizard, L"ErrorPage");
        ASSERT_NE(error, nullptr) << token;
        EXPECT_EQ(wizard.driver.ControlText(error, IDC_ERROR_TITLE), L"Something went wrong");
        EXPECT_EQ(wizard.driver.ControlText(error, IDC_ERROR_TEXT), L"Please try to download later");
        if (std::wstring(token) == L"ld-err1") {
            EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-configuration-error-en.png")));
        }
        // Close ends the wizard.
        ASSERT_TRUE(wizard.driver.Click(error, IDC_CLOSE_BUTTON));
        EXPECT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    }
}

TEST_F(LoadingFlow, InstallerWizardGoesOnWithoutOffersWhenTheConfigurationFails) {
    ASSERT_TRUE(server.WriteConfiguration(L"ld-bad1", "this is not json"));
    RunningWizard wizard(L"ISV", L"ld-bad1");
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(wizard.driver.Text(wizard.host), L"Ostrel Tester ");
    EXPECT_EQ(wizard.driver.ControlText(welcome, IDC_WELCOME_TEXT),
              L"This will install Ostrel Tester on your computer. Click \"Next\" to continue.");
    EXPECT_EQ(wizard.driver.ControlText(welcome, IDC_TERMS_LINK), L"EULA");
    // The installer documents have no text for the third link.
    EXPECT_EQ(wizard.driver.ControlText(welcome, IDC_SDK_LINK), L"LICENSE_LINK placeholder");
    EXPECT_FALSE(wizard.driver.IsControlVisible(wizard.host, IDC_PRODUCT_ICON));
    EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"isv-welcome-page-en.png")));
}

TEST_F(LoadingFlow, InstallerWizardWithTheServerOutOfReachWelcomesWithItsOwnProduct) {
    // Every configuration request loses its connection before any answer, as
    // with a host that cannot be reached; retries meet the same.
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"drop", true}, {"count", 50}}));
    RunningWizard wizard(L"ISV", L"ld-gone");
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    EXPECT_FALSE(server.Requests(L"/o").empty());
    EXPECT_EQ(wizard.driver.Text(wizard.host), L"Ostrel Tester ");
    EXPECT_EQ(wizard.driver.ControlText(welcome, IDC_WELCOME_TEXT),
              L"This will install Ostrel Tester on your computer. Click \"Next\" to continue.");
    // No offer pages: the downloads come next.
    wizard.driver.Click(welcome, IDC_NEXT);
    EXPECT_NE(wizard.driver.WaitForPage(L"DownloadPageISV", kUiTimeoutMs), nullptr);
}

TEST_F(LoadingFlow, OnlyWebLinksFromTheServerReachTheShell) {
    // The product's links are a file URL and a UNC path, the offer's privacy
    // link a plain path; only the offer's licence and the built-in policy are
    // web addresses. Wine traces every shell request in this test's output,
    // and the test run checks that only the web ones are there. The browser
    // those would start is switched off.
    json offer = json::parse(Offer("lk-offer", 1, "Link Tool"));
    offer["ps"]["cp"] = R"(C:\windows\system32\notepad.exe)";
    const std::string config = R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/k.exe",)"
                               R"("cp":"file:///C:/windows/system32/winver.exe",)"
                               R"("ctu":"\\\\127.0.0.1\\share\\terms.exe"},"f":{"m":1},"o":[)" +
                               offer.dump() + "]}";
    ASSERT_TRUE(server.WriteConfiguration(L"ld-link", config));
    RunningWizard wizard(L"DLM", L"ld-link", {{L"WINEDEBUG=trace+exec", OverridesWithoutBrowser()}});
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    for (const int link : {IDC_PRIVACY_LINK, IDC_TERMS_LINK, IDC_SDK_LINK}) {
        EXPECT_TRUE(driver.Click(welcome, link)) << link;
    }
    ASSERT_TRUE(driver.Click(welcome, IDC_NEXT));
    HWND offerPage = driver.WaitForPage(L"ProductPage", kUiTimeoutMs);
    ASSERT_NE(offerPage, nullptr);
    // Both links of the terms sentence, each on every row that crosses it.
    EXPECT_GE(driver.ClickEveryLink(offerPage, IDC_TERMS_TEXT), 2);
    // The wizard handled every click and goes on as before.
    ASSERT_TRUE(driver.Click(offerPage, IDC_DECLINE));
    EXPECT_NE(driver.WaitForPage(L"DownloadPageDLM", kUiTimeoutMs), nullptr);
}

TEST_F(LoadingFlow, EligibleOffersGetOnePageEachAndReportTheirOutcome) {
    const std::string offers = "[" + Offer("offer-a", 1, "Alpha Tool") + "," + Offer("offer-b", 1, "Beta Tool") +
                               "," + Offer("offer-c", 2, "Gamma Tool") + "]";
    // The rejected offer does not count toward the limit of two.
    ASSERT_TRUE(server.WriteConfiguration(L"ld-offr", std::string("{") + kProduct + R"(,"f":{"m":2},"o":)" +
                                                           offers + "}"));
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
        L"ld-chan",
        R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/k.exe","ch":"00xA"},"o":[)" + Offer("x", 1, "X") + "]}"));
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

// Walks through the offer pages by accepting each; returns how many there were.
int AcceptAllOffers(UiDriver& driver, HWND welcome) {
    if (!driver.Click(welcome, IDC_NEXT)) return -1;
    int pages = 0;
    HWND previous = welcome;
    HWND page = nullptr;
    // Judged on one look: while pages switch, two may be on screen. The first
    // step gets longer: a busy machine may take a moment to switch.
    for (DWORD wait = 6000;
         driver.WaitUntil([&] { return (page = driver.CurrentPage()) != nullptr && page != previous; }, wait);
         wait = 3000) {
        if (driver.Text(page) != L"ProductPage") break;
        ++pages;
        previous = page;
        driver.Click(page, IDC_ACCEPT);
    }
    return pages;
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
    ASSERT_TRUE(server.WriteConfiguration(L"ld-brkn", std::string("{") + kProduct + R"(,"f":{"m":3},"o":[)" + offers + "]}"));
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
    for (int i = 0; i < 5; ++i) five += (i ? "," : "") + Offer("lim-" + std::to_string(i), i + 10, "Tool " + std::to_string(i));
    five += "]";
    ASSERT_TRUE(server.WriteConfiguration(L"ld-lim2", std::string("{") + kProduct + R"(,"f":{"m":2},"o":)" + five + "}"));
    ASSERT_TRUE(server.WriteConfiguration(L"ld-lim0", std::string("{") + kProduct + R"(,"f":{"m":0},"o":)" + five + "}"));
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
    ASSERT_TRUE(server.WriteConfiguration(
        L"ld-mini", "{\"i\":{\"ct\":\"Caf\xC3\xA9 \xC3\x91" "and\xC3\xBA\",\"cu\":\"https://127.0.0.1/f/app.exe\"}}"));
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
    EXPECT_EQ(closed.at("22"), "Caf\xC3\xA9 \xC3\x91" "and\xC3\xBA");
    EXPECT_EQ(closed.at("5"), "Caf\xC3\xA9 \xC3\x91" "and\xC3\xBA");
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

// One of the wizard's own pictures as base64, for the file host to serve.
std::string PictureBase64(UINT id, const wchar_t* type) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    const auto* bytes = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, resource)));
    const DWORD size = ::SizeofResource(module, resource);
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (DWORD i = 0; i < size; i += 3) {
        const unsigned value = (bytes[i] << 16) | ((i + 1 < size ? bytes[i + 1] : 0) << 8) | (i + 2 < size ? bytes[i + 2] : 0);
        text += kDigits[(value >> 18) & 63];
        text += kDigits[(value >> 12) & 63];
        text += i + 1 < size ? kDigits[(value >> 6) & 63] : '=';
        text += i + 2 < size ? kDigits[value & 63] : '=';
    }
    return text;
}

TEST_F(LoadingFlow, PicturesOfProductAndOffersAreShownInBothLanguages) {
    ASSERT_TRUE(server.SetFile({{"path", "/f/pic-product.png"}, {"bodyBase64", PictureBase64(IDR_IMAGE_DOWNLOAD, L"IMAGE_BLOB")}}));
    ASSERT_TRUE(server.SetFile({{"path", "/f/img/pic-a.png"}, {"bodyBase64", PictureBase64(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2")}}));
    const std::string config = R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/k.exe","cl":"https://127.0.0.1/f/pic-product.png",)"
                               R"("cp":"https://127.0.0.1/site/p","ctu":"https://127.0.0.1/site/t"},"f":{"m":3},"o":[)" +
                               Offer("pic-a", 1, "Alpha Tool") + "]}";
    ASSERT_TRUE(server.WriteConfiguration(L"ld-pics", config));
    for (const int language : {0, 1}) {
        const std::wstring suffix = language == 0 ? L"-en.png" : L"-es.png";
        RunningWizard wizard(L"DLM", L"ld-pics");
        ASSERT_NE(wizard.host, nullptr);
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage", language);
        ASSERT_NE(welcome, nullptr);
        EXPECT_TRUE(wizard.driver.IsControlVisible(wizard.host, IDC_PRODUCT_ICON));
        EXPECT_TRUE(wizard.driver.IsControlVisible(welcome, IDC_TERMS_LINK));
        ::Sleep(300);
        EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-welcome-picture" + suffix)));
        ASSERT_TRUE(wizard.driver.Click(welcome, IDC_NEXT));
        ASSERT_TRUE(wizard.driver.WaitUntil([&] { return wizard.driver.CurrentPageName() == L"ProductPage"; }, kUiTimeoutMs));
        ::Sleep(300);
        EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-offer-picture" + suffix)));
    }
}

TEST_F(LoadingFlow, FailedPicturesStillCompleteLoadingOnce) {
    // None of these pictures exists on the file host.
    const std::string offers = "[" + Offer("np-a", 1, "A") + "," + Offer("np-b", 2, "B") + "," + Offer("np-c", 3, "C") + "]";
    ASSERT_TRUE(server.WriteConfiguration(L"ld-nopc", std::string("{") + kProduct + R"(,"f":{"m":5},"o":)" + offers + "}"));
    RunningWizard wizard(L"DLM", L"ld-nopc");
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    // Completing twice would have added every offer page twice.
    EXPECT_EQ(AcceptAllOffers(wizard.driver, welcome), 3);
}

TEST_F(LoadingFlow, ClosingWhilePicturesAreStillLoadingEndsCleanly) {
    ASSERT_TRUE(server.SetFile({{"path", "/f/img/slow-a.png"},
                                {"bodyBase64", PictureBase64(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2")},
                                {"chunkBytes", 64},
                                {"chunkDelayMs", 200}}));
    ASSERT_TRUE(server.WriteConfiguration(L"ld-slow", std::string("{") + kProduct + R"(,"f":{"m":3},"o":[)" +
                                                          Offer("slow-a", 1, "Slow") + "]}"));
    RunningWizard wizard(L"DLM", L"ld-slow");
    ASSERT_NE(wizard.host, nullptr);
    HWND page = wizard.driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(wizard.driver.Click(page, IDC_NEXT));
    // The configuration is there at once; the picture trickles in.
    ASSERT_TRUE(wizard.driver.WaitUntil([&] { return server.FullRequests(L"/f/img/slow-a.png").size() == 1; }, kUiTimeoutMs));
    EXPECT_EQ(wizard.driver.CurrentPageName(), L"LoadingPage");
    ASSERT_TRUE(wizard.driver.Close());
    const auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    EXPECT_EQ(wizard.process.ExitCode(), 0u);
}

}  // namespace
