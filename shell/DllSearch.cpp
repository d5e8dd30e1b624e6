#include "shell/DllSearch.h"

#include <windows.h>

#include "shell/SystemDll.h"

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// Looked up, not imported: a Windows 7 without the loader update lacks it, and
// a missing import would keep the wizard from starting at all.
SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return nullptr;
    return reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
}

}  // namespace

bool RestrictDllSearchToSystemFolder() {
    // Bare program names (SearchPathW, ShellExecuteW) look in the system
    // folders before the current one, for the rest of the process.
    ::SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
    const SetDefaultDllDirectoriesFunction setDefaultDllDirectories = FindSetDefaultDllDirectories();
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    ::SetDllDirectoryW(L"");
    return false;
}
