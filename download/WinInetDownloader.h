// The fallback transport for file downloads: WinINet with the system's own
// Internet settings. Redirects are followed here, by the same rules as the
// WinHTTP stage (RedirectTrail). Reads in fixed 4096-byte pieces, accepts
// status 200 only and does not look at the cancel flag. Synchronous: run it
// on a worker thread.
#pragma once

#include <windows.h>

#include "framework/Strings.h"

class WinInetDownloader {
public:
    static constexpr DWORD kReadSize = 4096;

    // Downloads into a temporary file beside destination and moves it into
    // place; returns the final path. Posts progress to window. Throws
    // std::runtime_error with the failure text; a failed read is one.
    CStringW DownloadToFile(const CStringW& url, const CStringW& destination, HWND window);
};
