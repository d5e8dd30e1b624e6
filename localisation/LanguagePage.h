// First page of both wizards: the language list with the user's language
// preselected; picking another language re-texts every page at once.
#pragma once

#include "framework/Controls.h"
#include "shell/IPage.h"

class LanguagePage : public IPage {
public:
    LanguagePage(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override {}
    void SetButtonCallback(ButtonCallback callback) override { buttonCallback = std::move(callback); }
    void SetErrorCallback(ErrorCallback callback) override { errorCallback = std::move(callback); }
    CStringW GetPageName() override { return L"LanguagePage"; }

protected:
    BOOL OnInitDialog() override;

private:
    void OnLanguageChanged();
    void OnNextClicked();

    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
    framework::CComboBox languageList;
};
