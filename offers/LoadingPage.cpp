#include "offers/LoadingPage.h"

#include "resources/resource.h"

namespace {
constexpr UINT kMarqueeIntervalMs = 30;
}

LoadingPage::LoadingPage(std::shared_ptr<LanguageManager> manager, HWND parent)
    : IPage(std::move(manager), IDD_LOADING_PAGE, parent) {}

BOOL LoadingPage::OnInitDialog() {
    BindControl(IDC_PROGRESS, progressBar);
    RefreshTexts();
    return TRUE;
}

void LoadingPage::OnNavigateToPage() {
    progressBar.SetMarquee(true, kMarqueeIntervalMs);
}
