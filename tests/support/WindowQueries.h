// Questions about another process's windows that need no message to it, for
// the window driver and the start-up benchmark.
#pragma once

#include <windows.h>

namespace ostrel::testing {

// The process that owns the window.
DWORD ProcessOf(HWND window);
// The window, or a visible window inside it, still has an update region: a
// paint is due that has not happened yet.
bool HasPendingPaint(HWND window);

}  // namespace ostrel::testing
