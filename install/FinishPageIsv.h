// The installer wizard's last page: it thanks the user; Finish ends the wizard.
#pragma once

#include "framework/Controls.h"
#include "shell/IPage.h"
#include "shell/StaticFromImage.h"

class FinishPageIsv : public IPage {
public:
    FinishPageIsv(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override;
    void SetButtonCallback(ButtonCallback callback) override { buttonCallback = std::move(callback); }
    void SetErrorCallback(ErrorCallback callback) override { errorCallback = std::move(callback); }
    CStringW GetPageName() override { return L"FinishPageISV"; }

protected:
    BOOL OnInitDialog() override;

private:
    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
    // Checked but never shown: the installers have already run.
    framework::CButton launchCheckBox;
    CStaticFromImage picture;
};
