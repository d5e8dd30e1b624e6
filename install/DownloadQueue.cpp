#include "install/DownloadQueue.h"

#include "api/EventProtocol.h"
#include "packages/Package.h"
#include "core/ConfigurationManager.h"

DownloadQueue::DownloadQueue(framework::CDialog& page, Client& client) : page(page), client(client) {
    page.MapTimer(TIMER_DOWNLOAD_POLL, [this] { PollDownload(); });
    page.MapTimer(TIMER_INSTALL_POLL, [this] { PollInstaller(); });
}

void DownloadQueue::Start() {
    downloadQueue = PackagesToDownload();
    StartFrontDownload();
}

void DownloadQueue::FailWaitingInstallers(const nlohmann::json& data) {
    for (const auto& entry : installQueue) entry.first->SendEvent(EventType::Failed, data);
    installQueue.clear();
}

void DownloadQueue::StartFrontDownload() {
    if (ConfigurationManager::GetInstance()->cancelRequested || downloadQueue.empty()) return;
    const Package& package = *downloadQueue.front();
    const Transfer transfer = client.TransferOf(package);
    const std::string sha256 = ExpectedSha256(package);
    // A refused product fails as any failed download does, without a request.
    const CStringW refusal = package.IsMain() ? ProductUrlRefusal(transfer.url, sha256) : CStringW();
    downloadResult =
        refusal.empty()
            ? StartDownload({transfer.url, transfer.fileName, transfer.useWorkFolder, sha256, transfer.installs},
                            page.GetSafeHwnd())
            : FailedDownload(refusal);
    page.SetTimer(TIMER_DOWNLOAD_POLL, kPollPeriodMs);
}

void DownloadQueue::PollDownload() {
    if (!IsReady(downloadResult)) return;
    page.KillTimer(TIMER_DOWNLOAD_POLL);
    const std::shared_ptr<Package> package = downloadQueue.front();
    downloadQueue.pop_front();
    DownloadOutcome outcome = downloadResult.get();

    if (outcome.succeeded) {
        client.OnDownloaded(*package, outcome.path);
        if (outcome.installer) installQueue.emplace_back(package, std::move(*outcome.installer));
    } else {
        package->SendEvent(EventType::Failed, FailureData(kDownloadFailed, outcome.errorText));
        if (package->IsMain()) {
            OnMainProductFailed(outcome.errorText);
            return;
        }
        // An offer that could not be fetched ends here; the others go on.
    }
    ContinueAfterDownload();
}

void DownloadQueue::OnMainProductFailed(const CStringW& errorText) {
    ReportMainProductDownloadFailed(errorText);
    downloadQueue.clear();
    client.OnMainProductNotDownloaded();
}

void DownloadQueue::ContinueAfterDownload() {
    if (!downloadQueue.empty()) {
        StartFrontDownload();
    } else if (!installQueue.empty()) {
        client.OnInstallersStarting();
        StartFrontInstaller();
    } else {
        client.OnNothingToInstall();
    }
}

void DownloadQueue::StartFrontInstaller() {
    if (installQueue.empty()) {
        client.OnInstallersStarted();
        return;
    }
    auto& [package, installer] = installQueue.front();
    const Launch launch = client.LaunchOf(*package);
    // The held files go with the start, which lets them go once the process exists.
    installerResult = StartInstaller(std::move(installer), launch.arguments, launch.wait);
    page.SetTimer(TIMER_INSTALL_POLL, kPollPeriodMs);
}

void DownloadQueue::PollInstaller() {
    if (!IsReady(installerResult)) return;
    page.KillTimer(TIMER_INSTALL_POLL);
    const InstallerStart start = installerResult.get();
    // After a close the packages' last word has been said.
    if (ConfigurationManager::GetInstance()->cancelRequested) return;
    const std::shared_ptr<Package> package = installQueue.front().first;
    installQueue.pop_front();
    if (package->IsMain()) {
        if (client.OnMainInstallerEnded(*package, start)) StartFrontInstaller();
        return;
    }
    if (!start.refusal.empty()) {
        package->SendEvent(EventType::Failed, RefusalData(start.refusal));
    } else {
        // Started, or could not be created: that is what the offer reports.
        ReportOfferInstallerStart(*package, start.run);
    }
    StartFrontInstaller();
}
