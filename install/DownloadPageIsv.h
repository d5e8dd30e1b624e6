// The installer wizard's progress page: the main product and every accepted
// offer are downloaded into the working folder, one file at a time; then the
// main installer runs and is waited for, then the offers' installers are
// started one after the other, and the host moves on to the finish page.
// Each package is unpacked right before its installer starts, off the
// window's thread.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "install/DownloadProgressBar.h"
#include "install/DownloadQueue.h"
#include "shell/PageBase.h"
#include "shell/StaticFromImage.h"

class Package;

class DownloadPageIsv : public PageBase, private DownloadQueue::Client {
public:
    DownloadPageIsv(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override;
    CStringW GetPageName() override { return L"DownloadPageISV"; }

    // Called when the installers are about to run.
    void SetInstallStarted(std::function<void()> hook) { installStarted = std::move(hook); }
    // Called when the main installer has ended, and after the last offer was started.
    void SetInstallFinished(std::function<void()> hook) { installFinished = std::move(hook); }

protected:
    BOOL OnInitDialog() override;

private:
    DownloadQueue::Transfer TransferOf(const Package& package) override;
    void OnDownloaded(Package& package, const CStringW& path) override;
    void OnMainProductNotDownloaded() override;
    void OnNothingToInstall() override;
    void OnInstallersStarting() override;
    DownloadQueue::Launch LaunchOf(const Package& package) override;
    bool OnMainInstallerEnded(Package& product, const InstallerStart& start) override;
    void OnInstallersStarted() override;

    void OnMainInstallerNotStarted(Package& product, const nlohmann::json& failure);
    void ReportDownloadError();
    void Notify(const std::function<void()>& hook) const;

    std::function<void()> installStarted;
    std::function<void()> installFinished;
    DownloadProgressBar progressBar;
    CStaticFromImage picture;
    DownloadQueue queue{*this, *this};
};
