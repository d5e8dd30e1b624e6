// Message boxes: the framework's own (owned by the active window of the
// program, with the program's name as caption) and plain ones.
#pragma once

#include <windows.h>

#include "framework/Strings.h"

namespace framework {

// Caption of the program's own message boxes.
inline constexpr wchar_t kApplicationName[] = L"Ostrel";

int AfxMessageBox(const CStringW& text, UINT type = MB_OK);
int ShowMessageBox(HWND owner, const CStringW& text, const CStringW& caption, UINT type);

}  // namespace framework
