// What the pages hand to the host: each button reports the host's button
// type once, and errors arrive with the texts of the current language.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "install/FinishPageIsv.h"
#include "localisation/LanguageManager.h"
#include "shell/LanguagePage.h"
#include "resources/resource.h"
#include "shell/ErrorPage.h"
#include "shell/PageBase.h"
#include "shell/WelcomePage.h"
#include "tests/window/HostFixture.h"

namespace {

class PageCallbacks : public ostrel::testing::HostFixture {
protected:
    // Adds the page behind the host's first ones and takes its callbacks over.
    IPage* AddPage(std::unique_ptr<IPage> page) {
        RECT rect{};
        IPage* raw = page.get();
        host->CreateAndAddPage(std::move(page), rect);
        raw->SetButtonCallback([this](ButtonType button) { buttons.push_back(button); });
        raw->SetErrorCallback(
            [this](const CStringW& title, const CStringW& text) { errors.emplace_back(title, text); });
        return raw;
    }

    std::vector<ButtonType> buttons;
    std::vector<std::pair<CStringW, CStringW>> errors;
};

void Click(IPage* page, int controlId) {
    HWND control = ::GetDlgItem(page->GetSafeHwnd(), controlId);
    ASSERT_NE(control, nullptr) << controlId;
    ::SendMessageW(page->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(control));
}

struct PageButton {
    const char* page;
    std::function<std::unique_ptr<IPage>(std::shared_ptr<LanguageManager>, HWND)> create;
    int control;
    ButtonType button;
};

TEST_F(PageCallbacks, EachPageButtonReportsItsButtonOnceAndNoError) {
    const std::vector<PageButton> table = {
        {"language", [](auto languages, HWND parent) { return std::make_unique<LanguagePage>(languages, parent); },
         IDC_NEXT, ButtonType::Next},
        {"welcome", [](auto languages, HWND parent) { return std::make_unique<WelcomePageIsv>(languages, parent); },
         IDC_NEXT, ButtonType::Next},
        {"error", [](auto languages, HWND parent) { return std::make_unique<ErrorPage>(languages, parent); },
         IDC_CLOSE_BUTTON, ButtonType::Close},
        {"finish", [](auto languages, HWND parent) { return std::make_unique<FinishPageIsv>(languages, parent); },
         IDC_FINISH, ButtonType::Finish},
    };
    for (const PageButton& row : table) {
        buttons.clear();
        IPage* page = AddPage(row.create(languages, window));
        Click(page, row.control);
        EXPECT_EQ(buttons, std::vector<ButtonType>{row.button}) << row.page;
        EXPECT_TRUE(errors.empty()) << row.page;
    }
}

// A page that reports an error the way the download and loading pages do.
class ErrorReportingPage : public PageBase {
public:
    ErrorReportingPage(std::shared_ptr<LanguageManager> manager, HWND parent)
        : PageBase(std::move(manager), IDD_LANGUAGE_PAGE, parent) {
        MapButton(IDC_NEXT, ButtonType::Decline);
    }
    void OnNavigateToPage() override {}
    CStringW GetPageName() override { return L"ErrorReportingPage"; }
    void Fail() const { ReportError("PAGE_DOWNLOAD_ERROR_TITLE", "PAGE_DOWNLOAD_ERROR_DESC"); }
};

TEST_F(PageCallbacks, ErrorsCarryTheTextsOfTheCurrentLanguage) {
    auto* page = static_cast<ErrorReportingPage*>(AddPage(std::make_unique<ErrorReportingPage>(languages, window)));
    ASSERT_TRUE(languages->SetLanguage(L"English"));
    page->Fail();
    ASSERT_TRUE(languages->SetLanguage(L"espa\u00f1ol"));
    page->Fail();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1].first, languages->GetText("PAGE_DOWNLOAD_ERROR_TITLE"));
    EXPECT_EQ(errors[1].second, languages->GetText("PAGE_DOWNLOAD_ERROR_DESC"));
    // Looked up when the error happens, not when the page was made.
    EXPECT_NE(errors[0].first, errors[1].first);
    EXPECT_NE(errors[0].second, errors[1].second);
    EXPECT_TRUE(buttons.empty());
}

TEST_F(PageCallbacks, APageWithoutTheHostsCallbacksReportsNothing) {
    ErrorReportingPage page(languages, window);
    ASSERT_TRUE(page.Create(window));
    // Neither a click nor an error may reach a callback nobody has set.
    Click(&page, IDC_NEXT);
    page.Fail();
    std::vector<ButtonType> seen;
    page.SetButtonCallback([&seen](ButtonType button) { seen.push_back(button); });
    Click(&page, IDC_NEXT);
    EXPECT_EQ(seen, std::vector<ButtonType>{ButtonType::Decline});
}

}  // namespace
