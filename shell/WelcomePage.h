// First page after loading, in both wizards: greets the user with the
// product title, shows the product picture (download wizard) and links to
// the privacy policy and licence terms.
#pragma once

#include "framework/LinkButton.h"
#include "shell/PageBase.h"
#include "shell/StaticFromImage.h"

class WelcomePageIsv : public PageBase {
public:
    WelcomePageIsv(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override {}
    void RefreshTexts() override;
    CStringW GetPageName() override { return L"WelcomePage"; }

protected:
    BOOL OnInitDialog() override;

private:
    void SizeLinksToContent();
    void SetUpLink(framework::CLinkButton& link, const CStringW& url);

    framework::CLinkButton privacyLink;
    framework::CLinkButton termsLink;
    framework::CLinkButton sdkLink;
    CStaticFromImage picture;
};
