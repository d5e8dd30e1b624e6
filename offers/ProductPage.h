// One optional offer: its picture, the terms sentence with links to its
// privacy policy and licence, and ACCEPT / DECLINE.
#pragma once

#include <memory>

#include "framework/Controls.h"
#include "shell/IPage.h"
#include "shell/StaticFromImage.h"

class Package;

class ProductPage : public IPage {
public:
    ProductPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<Package> offer, HWND parent);

    void OnNavigateToPage() override;
    void SetButtonCallback(ButtonCallback callback) override { buttonCallback = std::move(callback); }
    void SetErrorCallback(ErrorCallback callback) override { errorCallback = std::move(callback); }
    CStringW GetPageName() override { return L"ProductPage"; }

protected:
    BOOL OnInitDialog() override;

private:
    void OnAccept();
    void OnDecline();
    LRESULT OnTermsLinkClick(NMHDR* header);

    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
    framework::CLinkCtrl termsLink;
    std::shared_ptr<Package> package;
    CStaticFromImage picture;
};

// The terms sentence in link markup. Server texts cannot add markup of their
// own: quotes and angle brackets never reach it as such.
CStringW BuildTermsSentence(const CStringW& displayName, const CStringW& privacyUrl, const CStringW& termsUrl);
