#include "download/ProgressReporter.h"

#include "download/DownloadMessages.h"

namespace {

constexpr double kPostStep = 0.01;

}  // namespace

ProgressReporter::ProgressReporter(HWND window, std::optional<std::uint64_t> length)
    : window_(window), length_(length) {
    if (!length_) Post(WM_DOWNLOAD_SIZE_UNKNOWN, 0);
}

void ProgressReporter::Add(std::uint64_t bytes) {
    if (!length_) return;
    done_ += static_cast<double>(bytes) / static_cast<double>(*length_);
    if (done_ - lastPosted_ > kPostStep) {
        Post(WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(done_ * 100.0));
        lastPosted_ = done_;
    }
}

void ProgressReporter::StartOver(std::optional<std::uint64_t> length) {
    const bool hadLength = length_.has_value();
    const bool barShown = hadLength && lastPosted_ > 0.0;
    length_ = length;
    done_ = 0.0;
    lastPosted_ = 0.0;
    if (!length_) {
        if (hadLength) Post(WM_DOWNLOAD_SIZE_UNKNOWN, 0);
    } else if (barShown) {
        Post(WM_DOWNLOAD_PROGRESS, 0);
    }
}

void ProgressReporter::Finish() {
    if (length_ && *length_ > 0) Post(WM_DOWNLOAD_PROGRESS, 100);
}

void ProgressReporter::Post(UINT message, WPARAM wParam) const {
    // A null window would post to this worker thread's own queue.
    if (window_) ::PostMessageW(window_, message, wParam, 0);
}
