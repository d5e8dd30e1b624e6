#include "install/PackageTransfers.h"

#include <string>

#include "api/EventProtocol.h"
#include "download/DownloadManager.h"
#include "download/UrlResolution.h"
#include "install/ArchiveType.h"
#include "install/InstallerPreparation.h"
#include "install/ProcessRunner.h"
#include "packages/Package.h"
#include "core/ConfigurationManager.h"
#include "core/TextConversion.h"

namespace {

constexpr char kCancelled[] = "CANCELLED";

}  // namespace

std::deque<std::shared_ptr<Package>> PackagesToDownload() {
    auto settings = ConfigurationManager::GetInstance();
    std::deque<std::shared_ptr<Package>> packages;
    if (settings->mainPackage) packages.push_back(settings->mainPackage);
    for (const auto& offer : settings->acceptedOffers) packages.push_back(offer);
    return packages;
}

CStringW OfferDownloadUrl(const Package& offer) {
    return ConfigurationManager::GetInstance()->offerBaseUrl + offer.GetDownloadPath();
}

std::string ExpectedSha256(const Package& package) {
    return package.IsMain() ? ConfigurationManager::GetInstance()->productSha256 : package.ExpectedSha256();
}

CStringW ProductUrlRefusal(const CStringW& url, const std::string& expectedSha256) {
    if (IsHttpsUrl(url) || !expectedSha256.empty()) return {};
    return L"Product URL that is not HTTPS, without a SHA-256, refused.";
}

DownloadResult FailedDownload(const CStringW& errorText) {
    std::promise<std::pair<bool, CStringW>> failed;
    failed.set_value({false, errorText});
    return failed.get_future();
}

DownloadResult StartDownload(const CStringW& url, HWND window, const CStringW& fileName, bool useWorkFolder,
                             const std::string& expectedSha256) {
    // The task keeps the manager alive for as long as it runs.
    std::shared_ptr<DownloadManager> manager = DownloadManager::GetInstance();
    return std::async(std::launch::async, [manager, url, window, fileName, useWorkFolder, expectedSha256] {
        return manager->DownloadFile(url, window, fileName, useWorkFolder, expectedSha256);
    });
}

nlohmann::json FailureData(std::string_view prefix, const CStringW& text) {
    return {{event_field::kFailureText, std::string(prefix) + WideToUtf8(text)}};
}

nlohmann::json ExecFailedData(DWORD code) {
    return {{event_field::kFailureText, std::string(kExecFailed) + std::to_string(code)}};
}

void ReportOfferInstallerStart(Package& offer, const std::pair<DWORD, DWORD>& result) {
    const DWORD startError = result.second;
    if (startError == 0) {
        // Started; what the installer then does is its own business.
        offer.SendEvent(EventType::Done, nullptr);
    } else {
        offer.SendEvent(EventType::Failed, ExecFailedData(startError));
    }
}

void ReportMainProductDownloadFailed(const CStringW& errorText) {
    const nlohmann::json data = FailureData(kMainProductDownloadFailed, errorText);
    for (const auto& offer : ConfigurationManager::GetInstance()->acceptedOffers) {
        offer->SendEvent(EventType::Failed, data);
    }
}

InstallerResult StartInstaller(const CStringW& downloadedPath, const CStringW& folder, const CStringW& arguments,
                               bool wait) {
    // The task keeps the settings, and with them the cancel flag, alive for as long as it runs.
    std::shared_ptr<ConfigurationManager> settings = ConfigurationManager::GetInstance();
    return std::async(std::launch::async, [settings, downloadedPath, folder, arguments, wait] {
        const PreparedInstaller prepared =
            PrepareInstaller(downloadedPath, GetArchiveType(downloadedPath), folder, &settings->cancelRequested);
        InstallerStart start;
        start.program = prepared.program;
        start.refusal = prepared.refusal;
        if (!start.refusal.empty()) return start;
        // Nothing starts once the user has closed the wizard.
        if (settings->cancelRequested) {
            start.refusal = kCancelled;
            return start;
        }
        // The process is kept in the settings' running installers, so that the
        // end of the wizard spares its folder while it runs.
        start.run = RunProcess(prepared.program, arguments, wait,
                               [&](HANDLE process) { settings->runningInstallers.Add(process, prepared.program); });
        return start;
    });
}

nlohmann::json RefusalData(const std::string& refusal) {
    return {{event_field::kFailureText, refusal}};
}
