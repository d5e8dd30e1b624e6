#include "install/DownloadProgressBar.h"

#include <commctrl.h>

#include "download/DownloadMessages.h"

namespace {

constexpr UINT kMarqueeIntervalMs = 30;
constexpr int kFullRange = 100;

}  // namespace

void DownloadProgressBar::MapProgressMessages(framework::CDialog& page) {
    page.MapMessage(WM_DOWNLOAD_SIZE_UNKNOWN, [this](WPARAM, LPARAM) -> LRESULT {
        StartMarquee();
        return 0;
    });
    page.MapMessage(WM_DOWNLOAD_PROGRESS, [this](WPARAM percent, LPARAM) -> LRESULT {
        ShowProgress(percent);
        return 0;
    });
}

void DownloadProgressBar::StartMarquee() {
    SetRange(0, kFullRange);
    SetPos(0);
    SetMarquee(true, kMarqueeIntervalMs);
    marqueeOn = true;
}

void DownloadProgressBar::StopMarquee() {
    SetMarquee(false, 0);
    SetRange(0, kFullRange);
    SetPos(0);
    SendMessage(PBM_SETSTATE, PBST_NORMAL);
    ModifyStyle(PBS_MARQUEE, 0);
    marqueeOn = false;
}

void DownloadProgressBar::ShowProgress(WPARAM percent) {
    if (percent > static_cast<WPARAM>(kFullRange)) {
        StartMarquee();
        return;
    }
    if (marqueeOn) StopMarquee();
    // The percentage itself: going through a fraction would lose a point to
    // rounding for values such as 29.
    SetPos(static_cast<int>(percent));
}
