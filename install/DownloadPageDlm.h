// The download wizard's progress page: the main product goes into the user's
// download folder and each accepted offer into the working folder, one file
// at a time; once everything is down the offers' installers are started one
// after the other without waiting for them (each package is unpacked first,
// off the window's thread), and the host moves on to the finish page.
#pragma once

#include <deque>
#include <memory>
#include <utility>

#include "install/DownloadProgressBar.h"
#include "install/PackageTransfers.h"
#include "shell/IPage.h"
#include "shell/StaticFromImage.h"

class Package;

class DownloadPageDlm : public IPage {
public:
    DownloadPageDlm(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override;
    void SetButtonCallback(ButtonCallback callback) override { buttonCallback = std::move(callback); }
    void SetErrorCallback(ErrorCallback callback) override { errorCallback = std::move(callback); }
    CStringW GetPageName() override { return L"DownloadPageDLM"; }

protected:
    BOOL OnInitDialog() override;

private:
    void StartFrontDownload();
    void PollDownload();
    void OnMainProductFailed(const CStringW& errorText);
    void ContinueAfterDownload();
    void StartFrontInstaller();
    void PollInstaller();

    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
    DownloadProgressBar progressBar;
    DownloadResult downloadResult;
    InstallerResult installerResult;
    std::deque<std::shared_ptr<Package>> downloadQueue;
    std::deque<std::pair<std::shared_ptr<Package>, CStringW>> installQueue;
    CStaticFromImage picture;
};
