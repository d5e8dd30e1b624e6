// Second page of both wizards: a moving progress bar while the wizard loads
// what it is going to offer. It hands the accepted offers to the host through
// the completion callback.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "framework/Controls.h"
#include "shell/IPage.h"

class Package;

class LoadingPage : public IPage {
public:
    using CompletionCallback = std::function<void(std::vector<std::shared_ptr<Package>>)>;

    LoadingPage(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override;
    void SetButtonCallback(ButtonCallback callback) override { buttonCallback = std::move(callback); }
    void SetErrorCallback(ErrorCallback callback) override { errorCallback = std::move(callback); }
    CStringW GetPageName() override { return L"LoadingPage"; }
    void SetCompletionCallback(CompletionCallback callback) { completionCallback = std::move(callback); }

protected:
    BOOL OnInitDialog() override;

private:
    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
    CompletionCallback completionCallback;
    framework::CProgressCtrl progressBar;
};
