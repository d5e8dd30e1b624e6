#include "install/PackageTransfers.h"

#include <string>
#include <tuple>

#include "api/EventProtocol.h"
#include "download/DownloadManager.h"
#include "download/ErrorText.h"
#include "download/UrlResolution.h"
#include "install/ArchiveType.h"
#include "install/InstallerPreparation.h"
#include "install/ProcessRunner.h"
#include "packages/Package.h"
#include "core/ConfigurationManager.h"
#include "core/RunningInstallers.h"
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
    std::promise<DownloadOutcome> failed;
    DownloadOutcome outcome;
    outcome.errorText = errorText;
    failed.set_value(std::move(outcome));
    return failed.get_future();
}

DownloadResult StartDownload(const DownloadRequest& request, HWND window) {
    // The task keeps the manager and the settings, with the cancel flag,
    // alive for as long as it runs.
    std::shared_ptr<DownloadManager> manager = DownloadManager::GetInstance();
    std::shared_ptr<ConfigurationManager> settings = ConfigurationManager::GetInstance();
    return std::async(std::launch::async, [manager, settings, request, window] {
        DownloadOutcome outcome;
        std::tie(outcome.succeeded, outcome.errorText) =
            manager->DownloadFile(request.url, window, request.fileName, request.useWorkFolder, request.expectedSha256);
        if (!outcome.succeeded) return outcome;
        outcome.path = manager->lastFilePath;
        if (!request.installs) return outcome;
        // The server's digest was checked on the way in; without one, what
        // arrived is the reference the file is held to.
        const std::string sha256 = request.expectedSha256.empty() ? manager->lastFileSha256 : request.expectedSha256;
        try {
            outcome.installer =
                PrepareReadyInstaller(outcome.path, sha256, settings->workDirectory, &settings->cancelRequested);
        } catch (const std::exception& error) {
            outcome.succeeded = false;
            outcome.errorText = FromAnsi(error.what());
        }
        return outcome;
    });
}

ReadyInstaller PrepareReadyInstaller(const CStringW& path, const std::string& sha256, const CStringW& folder,
                                     const std::atomic<bool>* cancelled) {
    HeldFile download = HeldFile::Open(path);
    download.Verify(sha256);
    // The archive stays held while it is judged and unpacked.
    const PreparedInstaller prepared = PrepareInstaller(path, GetArchiveType(path), folder, cancelled);
    ReadyInstaller ready{prepared.program, prepared.refusal, {}};
    if (!ready.refusal.empty()) return ready;
    if (ready.program != path) {
        try {
            ready.held.push_back(HeldFile::Open(ready.program));
        } catch (const std::exception& error) {
            return ReadyInstaller{CStringW(), error.what(), {}};
        }
    }
    ready.held.push_back(std::move(download));
    return ready;
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

InstallerResult StartInstaller(ReadyInstaller installer, const CStringW& arguments, bool wait) {
    // The task keeps the settings, and with them the cancel flag, alive for as long as it runs.
    std::shared_ptr<ConfigurationManager> settings = ConfigurationManager::GetInstance();
    return std::async(std::launch::async, [settings, installer = std::move(installer), arguments, wait]() mutable {
        InstallerStart start;
        start.program = installer.program;
        start.refusal = installer.refusal;
        if (!start.refusal.empty()) return start;
        // Nothing starts once the user has closed the wizard, nor once the
        // working directory's removal has taken its list of running installers.
        std::optional<RunningInstallers::StartPermit> permit = settings->runningInstallers.PermitStart();
        if (!permit || settings->cancelRequested) {
            start.refusal = kCancelled;
            return start;
        }
        start.run = RunProcess(installer.program, arguments, wait, [&](HANDLE process) {
            permit->Add(process, installer.program);
            permit.reset();
            // The process exists: what it runs can no longer be swapped.
            installer.held.clear();
        });
        return start;
    });
}

nlohmann::json RefusalData(const std::string& refusal) {
    return {{event_field::kFailureText, refusal}};
}
