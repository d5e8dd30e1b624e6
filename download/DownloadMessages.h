// Window messages through which a transfer reports progress to the page that
// started it. Both are posted, never sent: a worker must not wait for the
// user-interface thread.
#pragma once

#include <windows.h>

// wParam: percent done; 100 and less is a position, above 100 asks for an
// indeterminate bar. lParam: 0.
inline constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 1;
// Posted once when the response announces no usable length. Both parameters 0.
inline constexpr UINT WM_DOWNLOAD_SIZE_UNKNOWN = WM_USER + 2;
