#include "shell/PageBase.h"

#include <utility>

#include "localisation/LanguageManager.h"

void PageBase::SetButtonCallback(ButtonCallback callback) {
    buttonCallback = std::move(callback);
}

void PageBase::SetErrorCallback(ErrorCallback callback) {
    errorCallback = std::move(callback);
}

void PageBase::ReportButton(ButtonType button) const {
    if (buttonCallback) buttonCallback(button);
}

void PageBase::MapButton(int controlId, ButtonType button) {
    MapCommand(controlId, BN_CLICKED, [this, button] { ReportButton(button); });
}

void PageBase::ReportError(const std::string& titleKey, const std::string& textKey) const {
    const CStringW title = languageManager->GetText(titleKey);
    const CStringW text = languageManager->GetText(textKey);
    if (errorCallback) errorCallback(title, text);
}
