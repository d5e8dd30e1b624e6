#include "shell/AboutDlg.h"

#include "resources/resource.h"
#include "core/ConfigurationManager.h"

CAboutDlg::CAboutDlg(HWND parent) : framework::CDialog(IDD_ABOUTBOX, parent) {
}

BOOL CAboutDlg::OnInitDialog() {
    const CStringW version = ConfigurationManager::GetInstance()->fileVersion;
    ::SetDlgItemTextW(hwnd_, IDC_ABOUT_VERSION, (L"Ostrel, Version " + version).c_str());
    return TRUE;
}
