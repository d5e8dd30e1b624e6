// The download wizard's progress page: the main product goes into the user's
// download folder and each accepted offer into the working folder, one file
// at a time; once everything is down the offers' installers are started one
// after the other without waiting for them (each package is unpacked first,
// off the window's thread), and the host moves on to the finish page.
#pragma once

#include <memory>

#include "install/DownloadProgressBar.h"
#include "install/DownloadQueue.h"
#include "shell/PageBase.h"
#include "shell/StaticFromImage.h"

class Package;

class DownloadPageDlm : public PageBase, private DownloadQueue::Client {
public:
    DownloadPageDlm(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override;
    CStringW GetPageName() override { return L"DownloadPageDLM"; }

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

    DownloadProgressBar progressBar;
    CStaticFromImage picture;
    DownloadQueue queue{*this, *this};
};
