// Stands in for a system DLL that someone has left beside the wizard. Every
// function is forwarded to the system's own copy (tests/CMakeLists.txt writes
// the module definition), so a program that loads it still works; loading it
// leaves "<its own path>.loaded" beside it, which the tests look for.
#include <windows.h>

#include "framework/Handles.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t marker[MAX_PATH + 16] = {};
    const DWORD length = ::GetModuleFileNameW(self, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    ::lstrcpyW(marker + length, L".loaded");
    const framework::UniqueKernelHandle file(
        ::CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return TRUE;
}
