// Shows an error another page reported, with a Close button that ends the wizard.
#pragma once

#include "shell/IPage.h"
#include "shell/StaticFromImage.h"

class ErrorPage : public IPage {
public:
    ErrorPage(std::shared_ptr<LanguageManager> languageManager, HWND parent);

    void OnNavigateToPage() override {}
    void SetButtonCallback(ButtonCallback callback) override { buttonCallback = std::move(callback); }
    // The error page never reports an error of its own.
    void SetErrorCallback(ErrorCallback) override {}
    CStringW GetPageName() override { return L"ErrorPage"; }

    void SetTitle(const CStringW& newTitle);
    void SetText(const CStringW& newText);
    // Moves title and text into their controls.
    void UpdateControls() const;

protected:
    BOOL OnInitDialog() override;
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnCloseClicked();
    void LoadPictureOnce();

    CStringW title;
    CStringW text;
    ButtonCallback buttonCallback;
    CStaticFromImage picture;
};
