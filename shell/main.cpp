#include <windows.h>

#include "shell/OstrelApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    COstrelApp app;
    app.InitInstance();
    return 0;
}
