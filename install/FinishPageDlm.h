// The download wizard's last page: launch the downloaded product, or show it
// in its folder, when the user presses Finish.
#pragma once

#include "framework/Controls.h"
#include "shell/PageBase.h"
#include "shell/StaticFromImage.h"

class FinishPageDlm : public PageBase {
public:
    FinishPageDlm(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override;
    CStringW GetPageName() override { return L"FinishPageDLM"; }

protected:
    BOOL OnInitDialog() override;

private:
    void OnFinish();

    framework::CButton launchRadio;
    framework::CButton openFolderRadio;
    CStaticFromImage picture;
};

// The parameters that make Explorer open the file's folder with the file selected.
CStringW SelectInFolderParameters(const CStringW& path);

// The system's Windows folder without a closing backslash; "" when unknown.
CStringW WindowsFolder();
