// The floor of the start-up benchmark: a Win32 dialog program that does
// nothing but show its dialog, so the wizard's start-up can be judged against
// what any dialog program pays under the same system.
#include <windows.h>
#include <commctrl.h>

#include "StartupFloor.h"

namespace {

INT_PTR CALLBACK FloorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    case WM_CLOSE: ::EndDialog(dialog, IDCANCEL); return TRUE;
    default: return FALSE;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_STARTUP_FLOOR), nullptr, FloorDialogProc, 0);
    return 0;
}
