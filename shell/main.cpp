#include <windows.h>

#include "shell/DllSearch.h"
#include "shell/OstrelApp.h"

namespace {

// Runs before every static object's constructor (those may load DLLs too),
// so restricting the DLL search is the first thing the program does.
__attribute__((constructor(101))) void RestrictDllSearchBeforeAnythingElse() {
    RestrictDllSearchToSystemFolder();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    COstrelApp app;
    app.InitInstance();
    return 0;
}
