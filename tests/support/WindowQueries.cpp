#include "tests/support/WindowQueries.h"

namespace ostrel::testing {

namespace {

// A named CALLBACK function: 32-bit builds cannot turn a lambda into stdcall.
BOOL CALLBACK FindPendingPaint(HWND child, LPARAM context) {
    if (!IsWindowVisible(child) || !GetUpdateRect(child, nullptr, FALSE)) return TRUE;
    *reinterpret_cast<bool*>(context) = true;
    return FALSE;
}

}  // namespace

DWORD ProcessOf(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

bool HasPendingPaint(HWND window) {
    if (GetUpdateRect(window, nullptr, FALSE)) return true;
    bool pending = false;
    EnumChildWindows(window, FindPendingPaint, reinterpret_cast<LPARAM>(&pending));
    return pending;
}

}  // namespace ostrel::testing
