// Turns bytes received into progress posts for a window: at most one per
// percentage point, so a page gets about a hundred posts per file however the
// body arrives, and however many requests it takes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

class ProgressReporter {
public:
    // Without a length, posts WM_DOWNLOAD_SIZE_UNKNOWN at once and nothing later.
    // A null window gets nothing (a caller without a page).
    ProgressReporter(HWND window, std::optional<std::uint64_t> length);

    void Add(std::uint64_t bytes);
    // For a transfer that begins anew, of a length that may differ: a bar
    // already shown goes back to 0.
    void StartOver(std::optional<std::uint64_t> length);
    // Posts 100 when the length is known and not 0.
    void Finish();

private:
    void Post(UINT message, WPARAM wParam) const;

    HWND window_;
    std::optional<std::uint64_t> length_;
    double done_ = 0.0;
    double lastPosted_ = 0.0;
};
