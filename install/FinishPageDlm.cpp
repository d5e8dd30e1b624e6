#include "install/FinishPageDlm.h"

#include "install/MinimizeBox.h"
#include "install/ProcessRunner.h"
#include "resources/resource.h"
#include "core/ConfigurationManager.h"
#include "shell/DesktopShell.h"

CStringW SelectInFolderParameters(const CStringW& path) {
    return L"/select,\"" + path + L"\"";
}

CStringW WindowsFolder() {
    // The system's own Windows folder, not a user's private one on a terminal server.
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return CStringW();
    CStringW windows(folder, length);
    if (windows.back() == L'\\') windows.pop_back();
    return windows;
}

FinishPageDlm::FinishPageDlm(std::shared_ptr<LanguageManager> manager, HWND parent)
    : PageBase(std::move(manager), IDD_FINISH_PAGE_DLM, parent) {
    MapCommand(IDC_FINISH, BN_CLICKED, [this] { OnFinish(); });
}

BOOL FinishPageDlm::OnInitDialog() {
    BindControl(IDC_LAUNCH_RADIO, launchRadio);
    BindControl(IDC_OPEN_FOLDER_RADIO, openFolderRadio);
    BindControl(IDC_PICTURE, picture);
    AddLocalizedControl(IDC_FINISH_TITLE, "PAGE_FINISH_TITLE");
    AddLocalizedControl(IDC_FINISH_TEXT, "PAGE_FINISH_TEXT");
    AddLocalizedControl(IDC_FINISH, "BUTTON_FINISH");
    AddLocalizedControl(IDC_LAUNCH_RADIO, "LAUNCH_RADIO");
    AddLocalizedControl(IDC_OPEN_FOLDER_RADIO, "OPEN_FOLDER_RADIO");
    RefreshTexts();
    launchRadio.SetCheck(BST_CHECKED);
    picture.LoadFromResource(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2");
    return TRUE;
}

void FinishPageDlm::OnNavigateToPage() {
    RemoveMinimizeBox(hwnd_);
}

void FinishPageDlm::OnFinish() {
    const CStringW path = ConfigurationManager::GetInstance()->downloadedFilePath;
    // Both run with the user's rights, started by the desktop's shell; with
    // no shell to ask nothing starts (shell/DesktopShell.h). What the shell
    // makes of the request is its own business: Finish ends the wizard either way.
    if (launchRadio.GetCheck() == BST_CHECKED) {
        StartThroughDesktopShell(path, CStringW(), InstallerFolder(path), SW_SHOWDEFAULT);
    } else if (openFolderRadio.GetCheck() == BST_CHECKED) {
        // By its full path: a bare name is looked up in the current folder
        // too, which for a downloaded wizard is usually Downloads.
        const CStringW windows = WindowsFolder();
        if (!windows.empty()) {
            StartThroughDesktopShell(windows + L"\\explorer.exe", SelectInFolderParameters(path), windows,
                                     SW_SHOWDEFAULT);
        }
    }
    ReportButton(ButtonType::Finish);
}
