// The application object: prepares the process, runs the wizard host
// modally and ends when the host closes.
#pragma once

#include "framework/GdiplusSession.h"

class COstrelApp {
public:
    COstrelApp();
    // Always false: the process ends when the wizard has closed.
    bool InitInstance();

private:
    // Started first and shut down last, after the host and its images are gone.
    framework::GdiplusSession gdiplus;
};
