#include "framework/SubclassedWindow.h"

#include <commctrl.h>

namespace framework {
namespace {
constexpr UINT_PTR kSubclassId = 0x4F535452;  // 'OSTR'
}

CSubclassedWnd::~CSubclassedWnd() {
    Detach();
}

void CSubclassedWnd::Attach(HWND hwnd) {
    Detach();
    CWnd::Attach(hwnd);
    if (hwnd_)
        ::SetWindowSubclass(hwnd_, &CSubclassedWnd::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

HWND CSubclassedWnd::Detach() {
    if (hwnd_ && ::IsWindow(hwnd_)) ::RemoveWindowSubclass(hwnd_, &CSubclassedWnd::SubclassProc, kSubclassId);
    return CWnd::Detach();
}

LRESULT CALLBACK CSubclassedWnd::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR data) {
    auto* self = reinterpret_cast<CSubclassedWnd*>(data);
    if (message == WM_NCDESTROY) {
        // The window goes away before the object: forget it.
        ::RemoveWindowSubclass(hwnd, &CSubclassedWnd::SubclassProc, kSubclassId);
        if (self) self->hwnd_ = nullptr;
        return ::DefSubclassProc(hwnd, message, wParam, lParam);
    }
    LRESULT result = 0;
    if (self && self->OnMessage(message, wParam, lParam, result)) return result;
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace framework
