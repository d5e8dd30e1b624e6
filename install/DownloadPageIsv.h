// The installer wizard's progress page: the main product and every accepted
// offer are downloaded into the working folder, one file at a time; then the
// main installer runs and is waited for, then the offers' installers are
// started one after the other, and the host moves on to the finish page.
// Each package is unpacked right before its installer starts, off the
// window's thread.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <utility>

#include "install/DownloadProgressBar.h"
#include "install/PackageTransfers.h"
#include "shell/IPage.h"
#include "shell/StaticFromImage.h"

class Package;

class DownloadPageIsv : public IPage {
public:
    DownloadPageIsv(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override;
    void SetButtonCallback(ButtonCallback callback) override { buttonCallback = std::move(callback); }
    void SetErrorCallback(ErrorCallback callback) override { errorCallback = std::move(callback); }
    CStringW GetPageName() override { return L"DownloadPageISV"; }

    // Called when the installers are about to run.
    void SetInstallStarted(std::function<void()> hook) { installStarted = std::move(hook); }
    // Called when the main installer has ended, and after the last offer was started.
    void SetInstallFinished(std::function<void()> hook) { installFinished = std::move(hook); }

protected:
    BOOL OnInitDialog() override;

private:
    void StartFrontDownload();
    void PollDownload();
    void ContinueAfterDownload();
    void RunFrontInstaller();
    void PollInstaller();
    void OnMainInstallerEnded(const InstallerStart& start);
    void OnMainInstallerNotStarted(const nlohmann::json& failure);
    void ReportError();
    void Notify(const std::function<void()>& hook) const;

    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
    std::function<void()> installStarted;
    std::function<void()> installFinished;
    DownloadProgressBar progressBar;
    DownloadResult downloadResult;
    InstallerResult installerResult;
    std::deque<std::shared_ptr<Package>> downloadQueue;
    std::deque<std::pair<std::shared_ptr<Package>, CStringW>> installQueue;
    CStaticFromImage picture;
};
