#include "install/FinishPageIsv.h"

#include "install/MinimizeBox.h"
#include "resources/resource.h"

FinishPageIsv::FinishPageIsv(std::shared_ptr<LanguageManager> manager, HWND parent)
    : PageBase(std::move(manager), IDD_FINISH_PAGE_ISV, parent) {
    MapButton(IDC_FINISH, ButtonType::Finish);
}

BOOL FinishPageIsv::OnInitDialog() {
    BindControl(IDC_LAUNCH_CHECKBOX, launchCheckBox);
    BindControl(IDC_PICTURE, picture);
    AddLocalizedControl(IDC_FINISH_TITLE, "PAGE_FINISH_TITLE");
    AddLocalizedControl(IDC_FINISH_TEXT, "PAGE_FINISH_TEXT");
    AddLocalizedControl(IDC_FINISH, "BUTTON_FINISH");
    AddLocalizedControl(IDC_LAUNCH_CHECKBOX, "LAUNCH_CHECKBOX");
    RefreshTexts();
    launchCheckBox.SetCheck(BST_CHECKED);
    picture.LoadFromResource(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2");
    return TRUE;
}

void FinishPageIsv::OnNavigateToPage() {
    RemoveMinimizeBox(hwnd_);
}
