// First page of both wizards: the language list with the user's language
// preselected; picking another language re-texts every page at once.
#pragma once

#include "framework/Controls.h"
#include "shell/PageBase.h"

class LanguagePage : public PageBase {
public:
    LanguagePage(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override {}
    CStringW GetPageName() override { return L"LanguagePage"; }

protected:
    BOOL OnInitDialog() override;

private:
    void OnLanguageChanged();

    framework::CComboBox languageList;
};
