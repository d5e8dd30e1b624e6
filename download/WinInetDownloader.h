// The fallback transport for file downloads: WinINet with the system's own
// Internet settings. Redirects are followed here, by the same rules as the
// WinHTTP stage (RedirectTrail). Reads in fixed 4096-byte pieces and accepts
// status 200 only, or 206 and 416 to a request for the rest of a file.
// Synchronous: run it on a worker thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "download/TemporaryDownloadFile.h"
#include "framework/Strings.h"

class PartialDownload;

class WinInetDownloader {
public:
    static constexpr DWORD kReadSize = 4096;

    // cancelled is polled once per read round; set, the transfer fails with
    // "Download cancelled.".
    explicit WinInetDownloader(const std::atomic<bool>& cancelled) : cancelled_(cancelled) {}

    // Downloads into a temporary file beside destination and moves it into
    // place; returns the final path and the file's digest. Posts progress to window. Throws
    // std::runtime_error with the failure text; a failed read is one.
    // expectedSha256 (lower case, or empty for none) is checked before the
    // file is moved into place.
    DownloadedFile DownloadToFile(const CStringW& url, const CStringW& destination, HWND window,
                                  const std::string& expectedSha256 = {});
    // One request of a file download: the whole file, or the rest of it
    // when partial can resume (after the WinHTTP stage was cut). Throws with
    // the failure text; what arrived stays in partial.
    void Attempt(const CStringW& url, PartialDownload& partial);

private:
    // request: the open HINTERNET whose body goes into partial.
    void ReadBody(void* request, PartialDownload& partial);
    void ThrowIfCancelled() const;

    const std::atomic<bool>& cancelled_;
};
