#include "install/DownloadPageDlm.h"

#include "api/EventProtocol.h"
#include "download/DownloadManager.h"
#include "localisation/LanguageManager.h"
#include "packages/Package.h"
#include "resources/resource.h"
#include "shell/ConfigurationManager.h"

DownloadPageDlm::DownloadPageDlm(std::shared_ptr<LanguageManager> manager, HWND parent)
    : IPage(std::move(manager), IDD_DOWNLOAD_PAGE_DLM, parent) {
    MapTimer(TIMER_DOWNLOAD_POLL, [this] { PollDownload(); });
    MapTimer(TIMER_INSTALL_POLL, [this] { PollInstaller(); });
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
    downloadQueue = PackagesToDownload();
    StartFrontDownload();
}

void DownloadPageDlm::StartFrontDownload() {
    auto settings = ConfigurationManager::GetInstance();
    if (settings->cancelRequested || downloadQueue.empty()) return;
    const Package& package = *downloadQueue.front();
    if (package.IsMain()) {
        downloadResult =
            StartDownload(settings->productUrl, hwnd_, settings->productFileName, false, ExpectedSha256(package));
    } else {
        downloadResult = StartDownload(OfferDownloadUrl(package), hwnd_, CStringW(), true, ExpectedSha256(package));
    }
    SetTimer(TIMER_DOWNLOAD_POLL, kPollPeriodMs);
}

void DownloadPageDlm::PollDownload() {
    if (!IsReady(downloadResult)) return;
    KillTimer(TIMER_DOWNLOAD_POLL);
    const std::shared_ptr<Package> package = downloadQueue.front();
    downloadQueue.pop_front();
    const auto [succeeded, errorText] = downloadResult.get();
    const CStringW path = DownloadManager::GetInstance()->lastFilePath;

    if (succeeded) {
        if (package->IsMain()) {
            ConfigurationManager::GetInstance()->SetDownloadedFilePath(path);
            package->SendEvent(EventType::Done, nullptr);
        } else {
            installQueue.emplace_back(package, path);
        }
    } else {
        package->SendEvent(EventType::Failed, FailureData(kDownloadFailed, errorText));
        if (package->IsMain()) {
            OnMainProductFailed(errorText);
            return;
        }
        // An offer that could not be fetched ends here; the others go on.
    }
    ContinueAfterDownload();
}

void DownloadPageDlm::OnMainProductFailed(const CStringW& errorText) {
    const CStringW title = languageManager->GetText("PAGE_DOWNLOAD_ERROR_TITLE");
    const CStringW description = languageManager->GetText("PAGE_DOWNLOAD_ERROR_DESC");
    ReportMainProductDownloadFailed(errorText);
    downloadQueue.clear();
    if (errorCallback) errorCallback(title, description);
}

void DownloadPageDlm::ContinueAfterDownload() {
    if (!downloadQueue.empty()) {
        StartFrontDownload();
    } else if (!installQueue.empty()) {
        StartFrontInstaller();
    } else if (buttonCallback) {
        buttonCallback(ButtonType::Next);
    }
}

void DownloadPageDlm::StartFrontInstaller() {
    if (installQueue.empty()) {
        if (buttonCallback) buttonCallback(ButtonType::Next);
        return;
    }
    const auto& [package, path] = installQueue.front();
    // Nobody waits for an offer: the start returns as soon as its process exists.
    installerResult =
        StartInstaller(path, ConfigurationManager::GetInstance()->workDirectory, package->GetInstallerArgs(), false);
    SetTimer(TIMER_INSTALL_POLL, kPollPeriodMs);
}

void DownloadPageDlm::PollInstaller() {
    if (!IsReady(installerResult)) return;
    KillTimer(TIMER_INSTALL_POLL);
    const InstallerStart start = installerResult.get();
    // After a close the packages' last word has been said.
    if (ConfigurationManager::GetInstance()->cancelRequested) return;
    const std::shared_ptr<Package> package = installQueue.front().first;
    installQueue.pop_front();
    if (!start.refusal.empty()) {
        package->SendEvent(EventType::Failed, RefusalData(start.refusal));
    } else {
        // Started, or could not be created: that is what the offer reports.
        ReportOfferInstallerStart(*package, start.run);
    }
    StartFrontInstaller();
}
