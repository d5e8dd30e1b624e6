#include "shell/IPage.h"

#include "localisation/LanguageManager.h"

IPage::IPage(std::shared_ptr<LanguageManager> manager, UINT templateId, HWND parent)
    : framework::CDialog(templateId, parent), languageManager(std::move(manager)) {
    if (languageManager) languageManager->AddRetextable(this);
}

IPage::~IPage() {
    if (languageManager) languageManager->RemoveRetextable(this);
    // The window goes while the object is still a page, not a bare dialog.
    DestroyWindow();
}

void IPage::AddLocalizedControl(int controlId, std::string key) {
    localizedControls.emplace_back(GetDlgItem(controlId), std::move(key));
}

void IPage::RefreshTexts() {
    if (!languageManager) return;
    for (const auto& [control, key] : localizedControls) {
        if (!control || !::IsWindow(control)) continue;
        const CStringW text = languageManager->GetText(key);
        // A key the language lacks keeps whatever the control shows now.
        if (!text.empty()) ::SetWindowTextW(control, text.c_str());
    }
}
