#include "shell/WelcomePage.h"

#include "resources/resource.h"
#include "core/BuildConfig.h"
#include "core/ConfigurationManager.h"
#include "shell/WebLink.h"

WelcomePageIsv::WelcomePageIsv(std::shared_ptr<LanguageManager> manager, HWND parent)
    : PageBase(std::move(manager), IDD_WELCOME_PAGE, parent) {
    MapButton(IDC_NEXT, ButtonType::Next);
    MapCommand(IDC_PRIVACY_LINK, BN_CLICKED, [this] { privacyLink.Open(); });
    MapCommand(IDC_TERMS_LINK, BN_CLICKED, [this] { termsLink.Open(); });
    MapCommand(IDC_SDK_LINK, BN_CLICKED, [this] { sdkLink.Open(); });
}

BOOL WelcomePageIsv::OnInitDialog() {
    BindControl(IDC_PRIVACY_LINK, privacyLink);
    BindControl(IDC_TERMS_LINK, termsLink);
    BindControl(IDC_SDK_LINK, sdkLink);
    BindControl(IDC_PICTURE, picture);

    auto settings = ConfigurationManager::GetInstance();
    const bool downloadWizard = settings->wizardType == WizardType::DLM;
    if (downloadWizard) picture.SetImage(settings->productImage.Get());

    AddLocalizedControl(IDC_PRODUCT_TITLE, "PRODUCT_TITLE");
    AddLocalizedControl(IDC_WELCOME_TITLE, "WELCOME_TITLE");
    AddLocalizedControl(IDC_WELCOME_TEXT, "WELCOME_TEXT");
    AddLocalizedControl(IDC_NEXT, "BUTTON_NEXT");
    AddLocalizedControl(IDC_PRIVACY_LINK, "PRIVACY_LINK");
    AddLocalizedControl(IDC_TERMS_LINK, downloadWizard ? "TOS_LINK" : "EULA_LINK");
    AddLocalizedControl(IDC_SDK_LINK, "SDK_LINK");
    RefreshTexts();

    SetUpLink(privacyLink, settings->privacyUrl);
    SetUpLink(termsLink, settings->termsUrl);
    SetUpLink(sdkLink, OSTREL_PRIVACY_POLICY_URL);
    return TRUE;
}

void WelcomePageIsv::SetUpLink(framework::CLinkButton& link, const CStringW& url) {
    link.SetURL(url);
    link.SetOpener(&OpenWebUrl);
    if (url.empty()) link.ShowWindow(SW_HIDE);
}

void WelcomePageIsv::RefreshTexts() {
    PageBase::RefreshTexts();
    SizeLinksToContent();
}

void WelcomePageIsv::SizeLinksToContent() {
    privacyLink.SizeToContent();
    termsLink.SizeToContent();
    sdkLink.SizeToContent();
}
