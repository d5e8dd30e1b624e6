// The finish pages take the minimise box off the host window: nothing is left
// to wait for once they are shown.
#pragma once

#include <windows.h>

#include "framework/Window.h"

inline void RemoveMinimizeBox(HWND page) {
    framework::CWnd(::GetParent(page)).ModifyStyle(WS_MINIMIZEBOX, 0, SWP_FRAMECHANGED);
}
