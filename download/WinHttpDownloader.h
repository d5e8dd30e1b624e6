// The primary transport: WinHTTP GETs into a file (with progress) or into
// memory (pictures). WinHTTP follows ordinary redirects itself; the 3xx
// answers it hands back (a 300 with a Location; on Windows also an HTTPS page
// sending the client to HTTP, which Wine fails with 12156 instead) are
// followed here, kMaxRedirects in a row at most. Synchronous: run it on a
// worker thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Strings.h"

class WinHttpExchange;
struct WinHttpProfile;

class WinHttpDownloader {
public:
    static constexpr int kMaxRedirects = 5;
    static constexpr int kMemoryAttempts = 2;
    // Pictures are small; a larger answer is not one.
    static constexpr std::size_t kMaxMemoryBytes = 16 * 1024 * 1024;

    // cancelled is polled once per read round; set, the transfer fails with
    // "Download cancelled.".
    explicit WinHttpDownloader(const std::atomic<bool>& cancelled) : cancelled_(cancelled) {}

    // Downloads into a temporary file beside destination and moves it into
    // place (see TemporaryDownloadFile); returns the final path. Posts
    // progress to window. Throws std::runtime_error with the failure text.
    CStringW DownloadToFile(const CStringW& url, const CStringW& destination, HWND window);

    // Two attempts; empty (never null) when both fail.
    std::unique_ptr<std::vector<char>> DownloadToMemory(const CStringW& url);

private:
    // The redirect count and the URL reached carry over between attempts.
    struct RedirectState {
        CStringW url;
        int count = 0;
    };

    // The first answer that is not a redirect, which must be a 2xx.
    std::unique_ptr<WinHttpExchange> Fetch(RedirectState& state, const WinHttpProfile& profile);
    void ReadIntoMemory(WinHttpExchange& exchange, std::vector<char>& bytes);
    void ThrowIfCancelled() const;

    const std::atomic<bool>& cancelled_;
};
