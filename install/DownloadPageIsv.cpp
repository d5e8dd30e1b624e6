#include "install/DownloadPageIsv.h"

#include "api/EventProtocol.h"
#include "packages/Package.h"
#include "resources/resource.h"
#include "core/ConfigurationManager.h"

namespace {

constexpr char kMainProductInstallationFailed[] = "MAIN PRODUCT INSTALLATION FAILED";

}  // namespace

DownloadPageIsv::DownloadPageIsv(std::shared_ptr<LanguageManager> manager, HWND parent)
    : PageBase(std::move(manager), IDD_DOWNLOAD_PAGE_ISV, parent) {
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
    queue.Start();
}

DownloadQueue::Transfer DownloadPageIsv::TransferOf(const Package& package) {
    const CStringW url = package.IsMain() ? ConfigurationManager::GetInstance()->productUrl : OfferDownloadUrl(package);
    return {url, CStringW(), true, true};
}

void DownloadPageIsv::OnDownloaded(Package& package, const CStringW& path) {
    if (package.IsMain()) ConfigurationManager::GetInstance()->SetDownloadedFilePath(path);
}

void DownloadPageIsv::OnMainProductNotDownloaded() {
    ReportDownloadError();
}

void DownloadPageIsv::OnNothingToInstall() {
    ReportDownloadError();
}

void DownloadPageIsv::OnInstallersStarting() {
    Notify(installStarted);
    // From here on the bar only says that work goes on.
    progressBar.StartMarquee();
}

DownloadQueue::Launch DownloadPageIsv::LaunchOf(const Package& package) {
    auto settings = ConfigurationManager::GetInstance();
    const CStringW arguments = package.IsMain() ? settings->productInstallerArgs : package.GetInstallerArgs();
    // Only the main installer is waited for; an offer's start returns as
    // soon as its process exists.
    return {arguments, package.IsMain()};
}

bool DownloadPageIsv::OnMainInstallerEnded(Package& product, const InstallerStart& start) {
    Notify(installFinished);
    if (!start.refusal.empty()) {
        OnMainInstallerNotStarted(product, RefusalData(start.refusal));
        return false;
    }
    const auto [exitCode, startError] = start.run;
    if (startError != 0) {
        OnMainInstallerNotStarted(product, ExecFailedData(exitCode));
        return false;
    }
    // Whatever the installer returned, it ran: the product counts as installed.
    ConfigurationManager::GetInstance()->SetDownloadedFilePath(start.program);
    product.SendEvent(EventType::Done, nullptr);
    return true;
}

void DownloadPageIsv::OnInstallersStarted() {
    Notify(installFinished);
    ReportButton(ButtonType::Next);
}

void DownloadPageIsv::OnMainInstallerNotStarted(Package& product, const nlohmann::json& failure) {
    product.SendEvent(EventType::Failed, failure);
    queue.FailWaitingInstallers({{event_field::kFailureText, kMainProductInstallationFailed}});
    ReportDownloadError();
}

void DownloadPageIsv::ReportDownloadError() {
    // The installer wizard's documents have a title but no description for
    // this error, so the description is empty.
    ReportError("PAGE_ERROR_TITLE", "PAGE_DOWNLOAD_ERROR_DESC");
}

void DownloadPageIsv::Notify(const std::function<void()>& hook) const {
    if (hook) hook();
}
