#include "framework/MessageBox.h"

namespace framework {

int AfxMessageBox(const CStringW& text, UINT type) {
    // Owned by the program's active window so it stays in front of the wizard.
    HWND owner = ::GetActiveWindow();
    return ::MessageBoxW(owner, text.c_str(), kApplicationName, type);
}

int ShowMessageBox(HWND owner, const CStringW& text, const CStringW& caption, UINT type) {
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

}  // namespace framework
