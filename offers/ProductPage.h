// One optional offer: its picture, the terms sentence with links to its
// privacy policy and licence, and ACCEPT / DECLINE.
#pragma once

#include <memory>

#include "framework/Controls.h"
#include "shell/PageBase.h"
#include "shell/StaticFromImage.h"

class Package;

class ProductPage : public PageBase {
public:
    ProductPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<Package> offer, HWND parent);

    void OnNavigateToPage() override;
    CStringW GetPageName() override { return L"ProductPage"; }

protected:
    BOOL OnInitDialog() override;

private:
    void OnAccept();
    void OnDecline();
    LRESULT OnTermsLinkClick(NMHDR* header);

    framework::CLinkCtrl termsLink;
    std::shared_ptr<Package> package;
    CStaticFromImage picture;
};

// The terms sentence in link markup. Server texts cannot add markup of their
// own: quotes and angle brackets never reach it as such.
CStringW BuildTermsSentence(const CStringW& displayName, const CStringW& privacyUrl, const CStringW& termsUrl);
