#include "shell/LanguagePage.h"

#include "localisation/LanguageManager.h"
#include "resources/resource.h"

LanguagePage::LanguagePage(std::shared_ptr<LanguageManager> manager, HWND parent)
    : PageBase(std::move(manager), IDD_LANGUAGE_PAGE, parent) {
    MapCommand(IDC_LANGUAGE_LIST, CBN_SELCHANGE, [this] { OnLanguageChanged(); });
    MapButton(IDC_NEXT, ButtonType::Next);
}

BOOL LanguagePage::OnInitDialog() {
    BindControl(IDC_LANGUAGE_LIST, languageList);
    AddLocalizedControl(IDC_NEXT, "BUTTON_NEXT");
    AddLocalizedControl(IDC_SPLASH_TEXT, "SPLASH_TEXT");
    languageManager->FillLanguageList(languageList);
    // Applying the language also applies this page's texts.
    OnLanguageChanged();
    SendMessage(DM_SETDEFID, IDC_NEXT);
    return TRUE;
}

void LanguagePage::OnLanguageChanged() {
    const int index = languageList.GetCurSel();
    if (index == CB_ERR) return;
    languageManager->SetLanguage(languageList.GetLBText(index));
}
