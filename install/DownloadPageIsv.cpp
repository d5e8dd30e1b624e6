#include "install/DownloadPageIsv.h"

#include <string>

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
    MapTimer(TIMER_INSTALL_POLL, [this] { PollMainInstaller(); });
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
    downloadResult = StartDownload(url, hwnd_, CStringW(), true);
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
        package->SendEvent(kEventFailed, FailureData(kDownloadFailed, errorText));
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
    const CStringW folder = ConfigurationManager::GetInstance()->downloadFolder;
    while (!installQueue.empty()) {
        const auto [package, path] = installQueue.front();
        const CStringW program = InstallerProgram(path, folder);
        if (package->IsMain()) {
            installerResult = StartInstaller(program, ConfigurationManager::GetInstance()->productInstallerArgs, true);
            runPath = program;
            SetTimer(TIMER_INSTALL_POLL, kPollPeriodMs);
            return;
        }
        // Nobody waits for an offer: the start returns as soon as its process
        // exists or could not be created, which is what the offer reports.
        installerResult = StartInstaller(program, package->GetInstallerArgs(), false);
        ReportOfferInstallerStart(*package, installerResult.get());
        installQueue.pop_front();
    }
    Notify(installFinished);
    if (buttonCallback) buttonCallback(ButtonType::Next);
}

void DownloadPageIsv::PollMainInstaller() {
    if (!IsReady(installerResult)) return;
    KillTimer(TIMER_INSTALL_POLL);
    Notify(installFinished);
    const auto [exitCode, startError] = installerResult.get();
    if (startError != 0) {
        OnMainInstallerNotStarted(exitCode);
        return;
    }
    // Whatever the installer returned, it ran: the product counts as installed.
    const std::shared_ptr<Package> mainPackage = installQueue.front().first;
    ConfigurationManager::GetInstance()->SetDownloadedFilePath(runPath);
    mainPackage->SendEvent(kEventDone, nullptr);
    installQueue.pop_front();
    if (installQueue.empty()) {
        if (buttonCallback) buttonCallback(ButtonType::Next);
        return;
    }
    RunFrontInstaller();
}

void DownloadPageIsv::OnMainInstallerNotStarted(DWORD exitCode) {
    const std::shared_ptr<Package> mainPackage = installQueue.front().first;
    mainPackage->SendEvent(kEventFailed, ExecFailedData(exitCode));
    installQueue.pop_front();
    const nlohmann::json notInstalled = {{"12", kMainProductInstallationFailed}};
    for (const auto& [offer, path] : installQueue) offer->SendEvent(kEventFailed, notInstalled);
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
