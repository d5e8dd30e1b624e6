// From the language page through loading to the welcome page of the real
// wizards, with configurations served by the reference server on the
// built-in host: the product, configuration errors, the server out of reach,
// the links the server sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/TextConversion.h"
#include "tests/common/TestSupport.h"
#include "tests/ui/DesktopShellProcesses.h"
#include "tests/ui/LoadingFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

// The open command of a URL scheme in the machine's classes pointed at a
// program ("<program>" "%1") while the object lives; what was there before
// is put back.
class SchemeHandler {
public:
    SchemeHandler(const std::wstring& scheme, const std::wstring& program)
        : key_(L"Software\\Classes\\" + scheme + L"\\shell\\open\\command") {
        wchar_t value[1024] = {};
        DWORD size = sizeof(value);
        if (::RegGetValueW(HKEY_LOCAL_MACHINE, key_.c_str(), nullptr,
                           RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type_, value,
                           &size) == ERROR_SUCCESS) {
            previous_ = std::wstring(value);
        }
        const std::wstring command = L"\"" + program + L"\" \"%1\"";
        registered_ = ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key_.c_str(), nullptr, REG_SZ, command.c_str(),
                                        static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    ~SchemeHandler() {
        if (!previous_) {
            ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key_.c_str(), nullptr);
            return;
        }
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key_.c_str(), nullptr, type_, previous_->c_str(),
                          static_cast<DWORD>((previous_->size() + 1) * sizeof(wchar_t)));
    }
    SchemeHandler(const SchemeHandler&) = delete;
    SchemeHandler& operator=(const SchemeHandler&) = delete;
    bool Registered() const { return registered_; }

private:
    std::wstring key_;
    std::optional<std::wstring> previous_;
    DWORD type_ = REG_SZ;
    bool registered_ = false;
};

// The runs a copy of the sample installer recorded beside itself.
std::vector<json> RecordedRuns(const std::wstring& program) {
    std::vector<json> runs;
    std::istringstream lines(ReadFileBytes(program + L".runs.jsonl").value_or(std::string()));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) runs.push_back(json::parse(line, nullptr, false));
    }
    return runs;
}

// The addresses the runs were given.
std::set<std::string> Addresses(const std::vector<json>& runs) {
    std::set<std::string> addresses;
    for (const json& run : runs) {
        for (const json& argument : run.value("arguments", json::array()))
            addresses.insert(argument.get<std::string>());
    }
    return addresses;
}

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
    ASSERT_TRUE(server.WriteConfiguration(L"ld-err3",
                                          std::string(R"({"i":{"ct":"A","cu":"https://127.0.0.1/f/a.exe","cl":5},)") +
                                              R"("f":{"m":1},"o":[)" + Offer("e3", 1, "E") + "]}"));
    ASSERT_TRUE(server.WriteConfiguration(
        L"ld-err4", std::string("{") + kProduct + R"(,"f":{"m":"2"},"o":[)" + Offer("e4", 1, "E") + "]}"));
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
    // web addresses. The browser is a copy of the sample installer, which
    // records each address it is given: only those two reach it, started by
    // the desktop's shell, and the shell starts nothing else.
    json offer = json::parse(Offer("lk-offer", 1, "Link Tool"));
    offer["ps"]["cp"] = R"(C:\windows\system32\notepad.exe)";
    const std::string config = R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/k.exe",)"
                               R"("cp":"file:///C:/windows/system32/winver.exe",)"
                               R"("ctu":"\\\\127.0.0.1\\share\\terms.exe"},"f":{"m":1},"o":[)" +
                               offer.dump() + "]}";
    ASSERT_TRUE(server.WriteConfiguration(L"ld-link", config));
    const std::wstring folder = MakeTemporaryFolder(L"obr");
    const std::wstring browser = folder + L"\\browser.exe";
    ASSERT_TRUE(::CopyFileW((ProgramFolder() + L"\\ostrel_sample_installer.exe").c_str(), browser.c_str(), FALSE));
    {
        const SchemeHandler https(L"https", browser);
        const SchemeHandler http(L"http", browser);
        ASSERT_TRUE(https.Registered() && http.Registered());
        const DWORD desktop = DesktopShellProcess();
        ASSERT_NE(desktop, 0u);
        const std::vector<ChildProcess> before = ChildProcesses(desktop);
        RunningWizard wizard(L"DLM", L"ld-link");
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

        const std::set<std::string> web = {"https://127.0.0.1/site/privacy-policy",
                                           "https://127.0.0.1/site/lk-offer-eula"};
        std::vector<json> runs;
        driver.WaitUntil([&] { return Addresses(runs = RecordedRuns(browser)) == web; }, kUiTimeoutMs);
        // Time for anything else the shell was wrongly asked to start.
        ::Sleep(500);
        runs = RecordedRuns(browser);
        EXPECT_EQ(Addresses(runs), web);
        for (const json& run : runs) EXPECT_EQ(run.value("parentPid", 0u), desktop) << run.dump();
        for (const ChildProcess& child : ChildProcesses(desktop)) {
            const bool known =
                std::any_of(before.begin(), before.end(), [&](const ChildProcess& old) { return old.id == child.id; });
            EXPECT_TRUE(known || child.exeName == L"browser.exe") << WideToUtf8(child.exeName);
        }
        EXPECT_TRUE(ChildProcesses(wizard.process.Id()).empty());
    }
    RemoveDirectoryTree(folder);
}

}  // namespace
