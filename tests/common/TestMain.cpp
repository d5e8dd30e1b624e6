// Entry point of the test programs: prepares what the wizard's own start-up
// prepares (common controls, COM, GDI+) and removes the working directory the
// settings create, so a test run leaves nothing in the temporary folder.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "framework/GdiplusSession.h"
#include "tests/common/TestSupport.h"

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Wine starts the desktop's shell for the first program that needs the
    // desktop, with that program's environment, and what the wizard has the
    // shell start inherits it: a test program, not a wizard given a test's
    // variables, is to be that program.
    ::GetDesktopWindow();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_LINK_CLASS};
    ::InitCommonControlsEx(&controls);
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = 0;
    {
        framework::GdiplusSession gdiplus;
        result = RUN_ALL_TESTS();
        ostrel::testing::RemoveSharedWorkDirectory();
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return result;
}
