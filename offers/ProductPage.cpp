#include "offers/ProductPage.h"

#include <commctrl.h>

#include "api/EventProtocol.h"
#include "packages/Package.h"
#include "resources/resource.h"
#include "core/ConfigurationManager.h"
#include "core/TextConversion.h"
#include "shell/WebLink.h"

namespace {

// Display texts keep their look: the markup characters become their
// typographic counterparts.
CStringW NeutraliseText(const CStringW& text) {
    CStringW result;
    result.reserve(text.size());
    for (const wchar_t c : text) {
        switch (c) {
        case L'<': result += L'\u2039'; break;
        case L'>': result += L'\u203A'; break;
        case L'"': result += L'\u201D'; break;
        default: result += c; break;
        }
    }
    return result;
}

// Addresses keep their meaning: the markup characters are percent-encoded.
CStringW NeutraliseUrl(const CStringW& url) {
    CStringW result;
    result.reserve(url.size());
    for (const wchar_t c : url) {
        switch (c) {
        case L'<': result += L"%3C"; break;
        case L'>': result += L"%3E"; break;
        case L'"': result += L"%22"; break;
        default: result += c; break;
        }
    }
    return result;
}

}  // namespace

CStringW BuildTermsSentence(const CStringW& displayName, const CStringW& privacyUrl, const CStringW& termsUrl) {
    return L"When you click \"ACCEPT\", you agree to the installation of \"" + NeutraliseText(displayName) +
           L"\" and that you have read the " + L"<a href=\"" + NeutraliseUrl(privacyUrl) + L"\">Privacy Policy</a>" +
           L" and agree to the terms of its " + L"<a href=\"" + NeutraliseUrl(termsUrl) +
           L"\">End User License Agreement</a>" + L". Check \"Add/Remove Programs\" to uninstall.";
}

ProductPage::ProductPage(std::shared_ptr<LanguageManager> manager, std::shared_ptr<Package> offer, HWND parent)
    : PageBase(std::move(manager), IDD_PRODUCT_PAGE, parent), package(std::move(offer)) {
    MapCommand(IDC_ACCEPT, BN_CLICKED, [this] { OnAccept(); });
    MapCommand(IDC_DECLINE, BN_CLICKED, [this] { OnDecline(); });
    MapNotify(IDC_TERMS_TEXT, NM_CLICK, [this](NMHDR* header) { return OnTermsLinkClick(header); });
    MapNotify(IDC_TERMS_TEXT, NM_RETURN, [this](NMHDR* header) { return OnTermsLinkClick(header); });
}

BOOL ProductPage::OnInitDialog() {
    BindControl(IDC_TERMS_TEXT, termsLink);
    BindControl(IDC_OFFER_PICTURE, picture);
    picture.SetImage(package->Image());
    AddLocalizedControl(IDC_ACCEPT, "BUTTON_ACCEPT");
    AddLocalizedControl(IDC_DECLINE, "BUTTON_DECLINE");
    RefreshTexts();
    termsLink.SetWindowText(BuildTermsSentence(Utf8ToWide(package->DisplayName()), Utf8ToWide(package->PrivacyUrl()),
                                               Utf8ToWide(package->TermsUrl())));
    return TRUE;
}

void ProductPage::OnNavigateToPage() {
    ConfigurationManager::GetInstance()->shownOffers.push_back(package);
}

void ProductPage::OnAccept() {
    ConfigurationManager::GetInstance()->acceptedOffers.push_back(package);
    ReportButton(ButtonType::Accept);
}

void ProductPage::OnDecline() {
    package->SendEvent(EventType::Declined, nullptr);
    ReportButton(ButtonType::Decline);
}

LRESULT ProductPage::OnTermsLinkClick(NMHDR* header) {
    const auto* link = reinterpret_cast<const NMLINK*>(header);
    // Only web addresses are opened: the wizard runs elevated.
    OpenWebUrl(link->item.szUrl);
    return 0;
}
