// Linked as the wizard programs are (delay-loaded system DLLs and the wizards'
// delay-load hooks), it starts as a wizard does on a Windows whose DLL search
// cannot be restricted to the system folder (Vista, Windows 7 without its
// loader update): only the current folder is left out, the program's own
// folder is still searched first. It then calls one function of each system
// DLL that someone could plant beside it and ends with 0 once every call has
// returned. ui/PlantingUiTest.cpp runs it beside the planted stand-ins.
#include <windows.h>
#include <bcrypt.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>
#include <wininet.h>

// <winhttp.h> and <wininet.h> do not compile together.
extern "C" BOOL WINAPI WinHttpCheckPlatform();

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // What shell/DllSearch.cpp falls back to without LOAD_LIBRARY_SEARCH_SYSTEM32.
    ::SetDllDirectoryW(L"");

    BCRYPT_ALG_HANDLE sha256 = nullptr;
    if (BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        ::BCryptCloseAlgorithmProvider(sha256, 0);
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) Gdiplus::GdiplusShutdown(token);
    DWORD ignored = 0;
    ::GetFileVersionInfoSizeW(L"kernel32.dll", &ignored);
    ::WinHttpCheckPlatform();
    ::InternetGetConnectedState(&ignored, 0);
    return 0;
}
