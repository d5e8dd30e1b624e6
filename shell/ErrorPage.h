// Shows an error another page reported, with a Close button that ends the wizard.
#pragma once

#include "shell/PageBase.h"
#include "shell/StaticFromImage.h"

class ErrorPage : public PageBase {
public:
    ErrorPage(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override {}
    CStringW GetPageName() override { return L"ErrorPage"; }

    void SetTitle(const CStringW& newTitle);
    void SetText(const CStringW& newText);
    // Moves title and text into their controls.
    void UpdateControls() const;

protected:
    BOOL OnInitDialog() override;
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void LoadPictureOnce();

    CStringW title;
    CStringW text;
    CStaticFromImage picture;
};
