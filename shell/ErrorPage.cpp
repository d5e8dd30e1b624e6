#include "shell/ErrorPage.h"

#include "resources/resource.h"
#include "core/ConfigurationManager.h"

ErrorPage::ErrorPage(std::shared_ptr<LanguageManager> manager, HWND parent)
    : PageBase(std::move(manager), IDD_ERROR_PAGE, parent) {
    MapButton(IDC_CLOSE_BUTTON, ButtonType::Close);
}

BOOL ErrorPage::OnInitDialog() {
    BindControl(IDC_PICTURE, picture);
    UpdateControls();
    AddLocalizedControl(IDC_CLOSE_BUTTON, "BUTTON_CLOSE");
    RefreshTexts();
    return TRUE;
}

INT_PTR ErrorPage::DialogProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // Decoding the picture is a good part of the wizard's start-up, and most
    // runs never show an error: it is decoded when the page is first shown.
    if (message == WM_SHOWWINDOW && wParam) LoadPictureOnce();
    return PageBase::DialogProc(message, wParam, lParam);
}

void ErrorPage::LoadPictureOnce() {
    if (picture.Image() || ConfigurationManager::GetInstance()->wizardType != WizardType::DLM) return;
    picture.LoadFromResource(IDR_IMAGE_ERROR, L"IMAGE_BLOB3");
}

void ErrorPage::SetTitle(const CStringW& newTitle) {
    title = newTitle;
}

void ErrorPage::SetText(const CStringW& newText) {
    text = newText;
}

void ErrorPage::UpdateControls() const {
    ::SetDlgItemTextW(hwnd_, IDC_ERROR_TITLE, title.c_str());
    ::SetDlgItemTextW(hwnd_, IDC_ERROR_TEXT, text.c_str());
}
