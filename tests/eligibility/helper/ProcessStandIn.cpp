// Stands in for a program an offer names: it only has to be running, under
// whatever file name the test copied it to. A window-less GUI program, so no
// console host is started for it: one would outlive a stand-in that is ended
// early and keep the test's output open.
//
//   <name>.exe <test process id> <event to set once running>
//
// The test ends it; should the test die first, it ends with the test's
// process, and after two minutes at most.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    constexpr DWORD kLongestLifeMs = 120000;
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    const DWORD parentId = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    const HANDLE parent = ::OpenProcess(SYNCHRONIZE, FALSE, parentId);
    const HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    ::LocalFree(argv);
    if (!parent || !ready) return 1;
    ::SetEvent(ready);
    ::CloseHandle(ready);
    ::WaitForSingleObject(parent, kLongestLifeMs);
    ::CloseHandle(parent);
    return 0;
}
