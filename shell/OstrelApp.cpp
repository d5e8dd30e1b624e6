#include "shell/OstrelApp.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "localisation/LanguageManager.h"
#include "shell/OstrelDlg.h"
#include "core/WorkDirectory.h"

COstrelApp::COstrelApp() {
    // After an update restart Windows starts the wizard again; nothing else
    // (no recovery, no auto-save) applies to a setup program.
    ::RegisterApplicationRestart(nullptr, 0);
}

bool COstrelApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_LINK_CLASS};
    ::InitCommonControlsEx(&controls);
    // Shell calls (known folders, ShellExecute) expect COM on this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    {
        auto host = std::make_unique<COstrelDlg>(std::make_shared<LanguageManager>());
        host->DoModal();
    }
    // However the wizard ended, its working directory goes with it.
    DeleteWorkDirectory();

    if (SUCCEEDED(com)) ::CoUninitialize();
    return false;
}
