#include "install/DownloadPageIsv.h"

#include <string>

#include "api/EventProtocol.h"
#include "download/DownloadManager.h"
#include "localisation/LanguageManager.h"
#include "packages/Package.h"
#include "resources/resource.h"
#include "shell/ConfigurationManager.h"

namespace {

constexpr char kMainProductInstallationFailed[] = "MAIN PRODUCT INSTALLATION FAILED";

}  // namespace

DownloadPageIsv::DownloadPageIsv(std::shared_ptr<LanguageManager> manager, HWND parent)
    : IPage(std::move(manager), IDD_DOWNLOAD_PAGE_ISV, parent) {
    MapTimer(TIMER_DOWNLOAD_POLL, [this] { PollDownload(); });
    MapTimer(TIMER_INSTALL_POLL, [this] { PollInstaller(); });
    progressBar.MapProgressMessages(*this);
}

BOOL DownloadPageIsv::OnInitDialog() {
    BindControl(IDC_PROGRESS, progressBar);
    BindControl(IDC_PICTURE, picture);
    AddLocalizedControl(IDC_PROGRESS_TITLE, "PROGRESS_TITLE");
    AddLocalizedControl(IDC_PROGRESS_DESC, "PROGRESS_DESC");
    RefreshTexts();
    picture.LoadFromResource(IDR_IMAGE_DOWNLOAD, L"IMAGE_BLOB");
    return TRUE;
}

void DownloadPageIsv::OnNavigateToPage() {
    downloadQueue = PackagesToDownload();
    StartFrontDownload();
}

void DownloadPageIsv::StartFrontDownload() {
    auto settings = ConfigurationManager::GetInstance();
    if (settings->cancelRequested || downloadQueue.empty()) return;
    const Package& package = *downloadQueue.front();
    const CStringW url = package.IsMain() ? settings->productUrl : OfferDownloadUrl(package);
    downloadResult = StartDownload(url, hwnd_, CStringW(), true, ExpectedSha256(package));
    SetTimer(TIMER_DOWNLOAD_POLL, kPollPeriodMs);
}

void DownloadPageIsv::PollDownload() {
    if (!IsReady(downloadResult)) return;
    KillTimer(TIMER_DOWNLOAD_POLL);
    const std::shared_ptr<Package> package = downloadQueue.front();
    downloadQueue.pop_front();
    const auto [succeeded, errorText] = downloadResult.get();

    if (succeeded) {
        const CStringW path = DownloadManager::GetInstance()->lastFilePath;
        if (package->IsMain()) ConfigurationManager::GetInstance()->SetDownloadedFilePath(path);
        installQueue.emplace_back(package, path);
    } else {
        package->SendEvent(EventType::Failed, FailureData(kDownloadFailed, errorText));
        if (package->IsMain()) {
            ReportError();
            ReportMainProductDownloadFailed(errorText);
            downloadQueue.clear();
            return;
        }
    }
    ContinueAfterDownload();
}

void DownloadPageIsv::ContinueAfterDownload() {
    if (!downloadQueue.empty()) {
        StartFrontDownload();
    } else if (!installQueue.empty()) {
        Notify(installStarted);
        // From here on the bar only says that work goes on.
        progressBar.StartMarquee();
        RunFrontInstaller();
    } else {
        ReportError();
    }
}

void DownloadPageIsv::RunFrontInstaller() {
    if (installQueue.empty()) {
        Notify(installFinished);
        if (buttonCallback) buttonCallback(ButtonType::Next);
        return;
    }
    auto settings = ConfigurationManager::GetInstance();
    const auto& [package, path] = installQueue.front();
    const CStringW arguments = package->IsMain() ? settings->productInstallerArgs : package->GetInstallerArgs();
    // Only the main installer is waited for; an offer's start returns as
    // soon as its process exists.
    installerResult = StartInstaller(path, settings->downloadFolder, arguments, package->IsMain());
    SetTimer(TIMER_INSTALL_POLL, kPollPeriodMs);
}

void DownloadPageIsv::PollInstaller() {
    if (!IsReady(installerResult)) return;
    KillTimer(TIMER_INSTALL_POLL);
    const InstallerStart start = installerResult.get();
    // After a close the packages' last word has been said.
    if (ConfigurationManager::GetInstance()->cancelRequested) return;
    const std::shared_ptr<Package> package = installQueue.front().first;
    if (package->IsMain()) {
        OnMainInstallerEnded(start);
        return;
    }
    installQueue.pop_front();
    if (!start.refusal.empty()) {
        package->SendEvent(EventType::Failed, RefusalData(start.refusal));
    } else {
        // Started, or could not be created: that is what the offer reports.
        ReportOfferInstallerStart(*package, start.run);
    }
    RunFrontInstaller();
}

void DownloadPageIsv::OnMainInstallerEnded(const InstallerStart& start) {
    Notify(installFinished);
    if (!start.refusal.empty()) {
        OnMainInstallerNotStarted(RefusalData(start.refusal));
        return;
    }
    const auto [exitCode, startError] = start.run;
    if (startError != 0) {
        OnMainInstallerNotStarted(ExecFailedData(exitCode));
        return;
    }
    // Whatever the installer returned, it ran: the product counts as installed.
    ConfigurationManager::GetInstance()->SetDownloadedFilePath(start.program);
    installQueue.front().first->SendEvent(EventType::Done, nullptr);
    installQueue.pop_front();
    if (installQueue.empty()) {
        if (buttonCallback) buttonCallback(ButtonType::Next);
        return;
    }
    RunFrontInstaller();
}

void DownloadPageIsv::OnMainInstallerNotStarted(const nlohmann::json& failure) {
    const std::shared_ptr<Package> mainPackage = installQueue.front().first;
    mainPackage->SendEvent(EventType::Failed, failure);
    installQueue.pop_front();
    const nlohmann::json notInstalled = {{event_field::kFailureText, kMainProductInstallationFailed}};
    for (const auto& [offer, path] : installQueue) offer->SendEvent(EventType::Failed, notInstalled);
    installQueue.clear();
    ReportError();
}

void DownloadPageIsv::ReportError() {
    // The installer wizard's documents have a title but no description for
    // this error, so the description is empty.
    const CStringW title = languageManager->GetText("PAGE_ERROR_TITLE");
    const CStringW description = languageManager->GetText("PAGE_DOWNLOAD_ERROR_DESC");
    if (errorCallback) errorCallback(title, description);
}

void DownloadPageIsv::Notify(const std::function<void()>& hook) const {
    if (hook) hook();
}
