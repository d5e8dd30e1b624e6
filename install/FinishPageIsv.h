// The installer wizard's last page: it thanks the user; Finish ends the wizard.
#pragma once

#include "framework/Controls.h"
#include "shell/PageBase.h"
#include "shell/StaticFromImage.h"

class FinishPageIsv : public PageBase {
public:
    FinishPageIsv(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override;
    CStringW GetPageName() override { return L"FinishPageISV"; }

protected:
    BOOL OnInitDialog() override;

private:
    // Checked but never shown: the installers have already run.
    framework::CButton launchCheckBox;
    CStaticFromImage picture;
};
