// The bar of the download pages: the current file's percentage, or a marquee
// while the size of the file is not known (or the transfer asks for one).
#pragma once

#include <windows.h>

#include "framework/Controls.h"
#include "framework/Dialog.h"

class DownloadProgressBar : public framework::CProgressCtrl {
public:
    // Routes WM_DOWNLOAD_PROGRESS and WM_DOWNLOAD_SIZE_UNKNOWN of page to this bar.
    void MapProgressMessages(framework::CDialog& page);

    // Range 0-100 at position 0, animated as a marquee.
    void StartMarquee();
    // percent above 100 asks for a marquee; otherwise a normal bar at percent.
    void ShowProgress(WPARAM percent);

private:
    void StopMarquee();

    bool marqueeOn = false;
};
