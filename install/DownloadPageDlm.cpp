#include "install/DownloadPageDlm.h"

#include "api/EventProtocol.h"
#include "packages/Package.h"
#include "resources/resource.h"
#include "core/ConfigurationManager.h"

DownloadPageDlm::DownloadPageDlm(std::shared_ptr<LanguageManager> manager, HWND parent)
    : PageBase(std::move(manager), IDD_DOWNLOAD_PAGE_DLM, parent) {
    progressBar.MapProgressMessages(*this);
}

BOOL DownloadPageDlm::OnInitDialog() {
    BindControl(IDC_PROGRESS, progressBar);
    BindControl(IDC_PICTURE, picture);
    AddLocalizedControl(IDC_PROGRESS_TITLE, "PROGRESS_TITLE");
    AddLocalizedControl(IDC_PROGRESS_DESC, "PROGRESS_DESC");
    RefreshTexts();
    // The product picture arrives while the configuration loads, before this page is shown.
    picture.SetImage(ConfigurationManager::GetInstance()->productImage.Get());
    return TRUE;
}

void DownloadPageDlm::OnNavigateToPage() {
    queue.Start();
}

DownloadQueue::Transfer DownloadPageDlm::TransferOf(const Package& package) {
    auto settings = ConfigurationManager::GetInstance();
    // The product is the user's: it goes where the user's downloads go, under the name the configuration gives.
    // The wizard starts nothing of it.
    if (package.IsMain()) return {settings->productUrl, settings->productFileName, false, false};
    return {OfferDownloadUrl(package), CStringW(), true, true};
}

void DownloadPageDlm::OnDownloaded(Package& package, const CStringW& path) {
    if (!package.IsMain()) return;
    // The product is done once it is down: the user launches it from the finish page.
    ConfigurationManager::GetInstance()->SetDownloadedFilePath(path);
    package.SendEvent(EventType::Done, nullptr);
}

void DownloadPageDlm::OnMainProductNotDownloaded() {
    ReportError("PAGE_DOWNLOAD_ERROR_TITLE", "PAGE_DOWNLOAD_ERROR_DESC");
}

void DownloadPageDlm::OnNothingToInstall() {
    ReportButton(ButtonType::Next);
}

void DownloadPageDlm::OnInstallersStarting() {
    // The bar stays where the last download left it.
}

DownloadQueue::Launch DownloadPageDlm::LaunchOf(const Package& package) {
    // Nobody waits for an offer: the start returns as soon as its process exists.
    return {package.GetInstallerArgs(), false};
}

bool DownloadPageDlm::OnMainInstallerEnded(Package&, const InstallerStart&) {
    // Never asked: the product is not kept for an installer here.
    return true;
}

void DownloadPageDlm::OnInstallersStarted() {
    ReportButton(ButtonType::Next);
}
