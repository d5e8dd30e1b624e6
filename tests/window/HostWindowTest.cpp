// The wizard host and its first pages, created in this process so a test can
// report errors to the host directly.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "localisation/LanguageManager.h"
#include "resources/resource.h"
#include "core/ConfigurationManager.h"
#include "shell/OstrelDlg.h"
#include "tests/common/TestServer.h"
#include "tests/common/TestSupport.h"
#include "tests/support/UiDriver.h"
#include "tests/window/HostFixture.h"

namespace {

using ostrel::testing::PumpMessages;

std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    ::GetWindowTextW(window, buffer, 1024);
    return buffer;
}

// The visible page dialogs of the host, by their window text (the page name).
std::wstring VisiblePageName(HWND host) {
    std::wstring found;
    for (HWND child = ::GetWindow(host, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        ::GetClassNameW(child, cls, 32);
        if (std::wstring(cls) == L"#32770" && ::IsWindowVisible(child)) {
            if (!found.empty()) return L"<more than one>";
            found = TextOf(child);
        }
    }
    return found;
}

HWND PageNamed(HWND host, const std::wstring& name) {
    for (HWND child = ::GetWindow(host, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (TextOf(child) == name) return child;
    }
    return nullptr;
}

bool SystemMenuHas(HWND host, UINT command) {
    return ::GetMenuState(::GetSystemMenu(host, FALSE), command, MF_BYCOMMAND) != static_cast<UINT>(-1);
}

void SaveShot(HWND window, const std::wstring& name) {
    ostrel::testing::UiDriver driver(::GetCurrentProcessId());
    EXPECT_TRUE(driver.SaveScreenshot(window, ostrel::testing::ScreenshotFolder() + L"\\" + name)) << name.c_str();
}

class HostWindow : public ostrel::testing::HostFixture {
protected:
    void SelectLanguage(const std::wstring& name) {
        HWND list = ::GetDlgItem(PageNamed(window, L"LanguagePage"), IDC_LANGUAGE_LIST);
        const LRESULT index =
            ::SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str()));
        ASSERT_NE(index, CB_ERR);
        ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        ::SendMessageW(::GetParent(list), WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_LIST, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(list));
        PumpMessages(50);
    }
};

TEST_F(HostWindow, StartsOnTheLanguagePageWithTheLoadingPageBehindIt) {
    EXPECT_EQ(TextOf(window), L"Setup");
    EXPECT_EQ(host->PageCount(), 2u);
    EXPECT_EQ(host->CurrentPageIndex(), 0u);
    EXPECT_EQ(VisiblePageName(window), L"LanguagePage");
    EXPECT_NE(PageNamed(window, L"LoadingPage"), nullptr);
    EXPECT_NE(PageNamed(window, L"ErrorPage"), nullptr);
    // The product title waits for the configuration.
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(window, IDC_PRODUCT_TITLE)));
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(window, IDC_HEADER_RULE)));

    // Every page lies exactly on the page area.
    RECT area{};
    ::GetWindowRect(::GetDlgItem(window, IDC_PAGE_AREA), &area);
    for (const wchar_t* name : {L"LanguagePage", L"LoadingPage", L"ErrorPage"}) {
        RECT page{};
        ::GetWindowRect(PageNamed(window, name), &page);
        EXPECT_TRUE(::EqualRect(&area, &page)) << name;
    }

    wchar_t about[64] = {};
    ::GetMenuStringW(::GetSystemMenu(window, FALSE), IDM_ABOUTBOX, about, 64, MF_BYCOMMAND);
    EXPECT_STREQ(about, L"&About Ostrel...");
}

TEST_F(HostWindow, NextMovesToTheLoadingPageAndStartsItsMarquee) {
    // The configuration answer is held back, so loading is still going on
    // when the page is looked at; without a server it would fail at once.
    const ostrel::testing::TestServer server(L"127.0.0.1");
    ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.1 not reachable";
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"delaysMs", {1500}}}));
    HWND languagePage = PageNamed(window, L"LanguagePage");
    ::SendMessageW(languagePage, WM_COMMAND, MAKEWPARAM(IDC_NEXT, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(languagePage, IDC_NEXT)));
    PumpMessages(50);
    EXPECT_EQ(host->CurrentPageIndex(), 1u);
    EXPECT_EQ(VisiblePageName(window), L"LoadingPage");
    HWND bar = ::GetDlgItem(PageNamed(window, L"LoadingPage"), IDC_PROGRESS);
    EXPECT_TRUE(::GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE);
    // There is no page after the last one: further buttons change nothing.
    host->OnPageButton(ButtonType::Next);
    host->OnPageButton(ButtonType::Accept);
    EXPECT_EQ(host->CurrentPageIndex(), 1u);
    EXPECT_FALSE(host->IsEnded());
}

TEST_F(HostWindow, LanguageSwitchRetextsEveryExistingPage) {
    SelectLanguage(L"espa\u00f1ol");
    HWND errorPage = PageNamed(window, L"ErrorPage");
    HWND languagePage = PageNamed(window, L"LanguagePage");
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_CLOSE_BUTTON)), L"CERRAR");
    EXPECT_EQ(TextOf(::GetDlgItem(languagePage, IDC_NEXT)), L"SIGUIENTE");
    SelectLanguage(L"English");
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_CLOSE_BUTTON)), L"Close");
    EXPECT_EQ(TextOf(::GetDlgItem(languagePage, IDC_SPLASH_TEXT)),
              L"To continue, please select your preferred language, and click \"Next\".");
}

TEST_F(HostWindow, ReportedErrorReplacesThePageAndCloseEndsTheWizard) {
    SelectLanguage(L"English");
    host->ShowError(L"Something went wrong", L"Please try to download later");
    PumpMessages(100);
    HWND errorPage = PageNamed(window, L"ErrorPage");
    EXPECT_TRUE(host->ErrorShown());
    EXPECT_EQ(VisiblePageName(window), L"ErrorPage");
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_ERROR_TITLE)), L"Something went wrong");
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_ERROR_TEXT)), L"Please try to download later");
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_CLOSE_BUTTON)), L"Close");
    EXPECT_TRUE(SystemMenuHas(window, SC_CLOSE));
    // The current page index is kept: the error page is not one of the pages.
    EXPECT_EQ(host->CurrentPageIndex(), 0u);
    SaveShot(window, L"dlm-error-page-en.png");

    SelectLanguage(L"espa\u00f1ol");
    host->ShowError(L"Se ha producido un error", L"");
    PumpMessages(100);
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_ERROR_TITLE)), L"Se ha producido un error");
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_ERROR_TEXT)), L"");
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_CLOSE_BUTTON)), L"CERRAR");
    SaveShot(window, L"dlm-error-page-es.png");

    EXPECT_FALSE(host->IsEnded());
    ::SendMessageW(errorPage, WM_COMMAND, MAKEWPARAM(IDC_CLOSE_BUTTON, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(errorPage, IDC_CLOSE_BUTTON)));
    EXPECT_TRUE(host->IsEnded());
    EXPECT_EQ(host->Result(), 1);
}

TEST_F(HostWindow, EnterAndEscapeInsideAPageDoNotEndTheWizard) {
    HWND languagePage = PageNamed(window, L"LanguagePage");
    HWND next = ::GetDlgItem(languagePage, IDC_NEXT);
    // What the dialog manager sends for Enter and Escape inside the page.
    ::SendMessageW(languagePage, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_FALSE(host->IsEnded());
    EXPECT_EQ(LOWORD(::SendMessageW(languagePage, DM_GETDEFID, 0, 0)), IDC_NEXT);
    EXPECT_NE(next, nullptr);
}

// A stand-in page carrying a given name, for the host's page-name rules.
class NamedPage : public IPage {
public:
    NamedPage(std::shared_ptr<LanguageManager> manager, HWND parent, std::wstring name)
        : IPage(std::move(manager), IDD_LOADING_PAGE, parent), name(std::move(name)) {}
    void OnNavigateToPage() override { ++visits; }
    void SetButtonCallback(ButtonCallback) override {}
    void SetErrorCallback(ErrorCallback callback) override { error = std::move(callback); }
    CStringW GetPageName() override { return name; }
    std::wstring name;
    ErrorCallback error;
    int visits = 0;
};

TEST_F(HostWindow, DownloadPagesTakeTheCloseCommandAndFinishPagesGiveItBack) {
    RECT rect{};
    ::GetWindowRect(::GetDlgItem(window, IDC_PAGE_AREA), &rect);
    ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
    host->CreateAndAddPage(std::make_unique<NamedPage>(languages, window, L"DownloadPageDLM"), rect);
    host->CreateAndAddPage(std::make_unique<NamedPage>(languages, window, L"FinishPageDLM"), rect);
    ASSERT_TRUE(SystemMenuHas(window, SC_CLOSE));

    host->ShowPage(2);
    EXPECT_EQ(VisiblePageName(window), L"DownloadPageDLM");
    EXPECT_FALSE(SystemMenuHas(window, SC_CLOSE));
    host->ShowPage(3);
    EXPECT_EQ(VisiblePageName(window), L"FinishPageDLM");
    EXPECT_TRUE(SystemMenuHas(window, SC_CLOSE));
    // Given back once, not twice.
    host->ShowPage(2);
    host->ShowPage(3);
    HMENU menu = ::GetSystemMenu(window, FALSE);
    int closeItems = 0;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) closeItems += ::GetMenuItemID(menu, i) == SC_CLOSE;
    EXPECT_EQ(closeItems, 1);

    // An error on a download page brings the Close command back as well.
    host->ShowPage(2);
    ASSERT_FALSE(SystemMenuHas(window, SC_CLOSE));
    host->ShowError(L"Error in downloading", L"Please try to download later");
    EXPECT_TRUE(SystemMenuHas(window, SC_CLOSE));
    EXPECT_EQ(VisiblePageName(window), L"ErrorPage");
}

TEST_F(HostWindow, PagesReportErrorsThroughTheHost) {
    RECT rect{};
    auto page = std::make_unique<NamedPage>(languages, window, L"SomePage");
    NamedPage* raw = page.get();
    host->CreateAndAddPage(std::move(page), rect);
    ASSERT_TRUE(raw->error);
    raw->error(L"Title from page", L"Text from page");
    HWND errorPage = PageNamed(window, L"ErrorPage");
    EXPECT_TRUE(host->ErrorShown());
    EXPECT_EQ(TextOf(::GetDlgItem(errorPage, IDC_ERROR_TITLE)), L"Title from page");
}

}  // namespace
