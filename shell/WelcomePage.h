// First page after loading, in both wizards: greets the user with the
// product title, shows the product picture (download wizard) and links to
// the privacy policy and licence terms.
#pragma once

#include "framework/LinkButton.h"
#include "shell/IPage.h"
#include "shell/StaticFromImage.h"

class WelcomePageIsv : public IPage {
public:
    WelcomePageIsv(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override {}
    void SetButtonCallback(ButtonCallback callback) override { buttonCallback = std::move(callback); }
    void SetErrorCallback(ErrorCallback callback) override { errorCallback = std::move(callback); }
    void RefreshTexts() override;
    CStringW GetPageName() override { return L"WelcomePage"; }

protected:
    BOOL OnInitDialog() override;

private:
    void SizeLinksToContent();
    void SetUpLink(framework::CLinkButton& link, const CStringW& url);

    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
    framework::CLinkButton privacyLink;
    framework::CLinkButton termsLink;
    framework::CLinkButton sdkLink;
    CStaticFromImage picture;
};
