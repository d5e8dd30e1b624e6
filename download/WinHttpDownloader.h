// The primary transport: WinHTTP GETs into a file (with progress) or into
// memory (pictures). Redirects are followed here, not by WinHTTP, so each hop
// is judged by RedirectTrail's rules. Synchronous: run it on a worker thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download/TemporaryDownloadFile.h"
#include "framework/Strings.h"

class PartialDownload;
class RedirectTrail;
class WinHttpExchange;
struct WinHttpProfile;

class WinHttpDownloader {
public:
    static constexpr int kMemoryAttempts = 2;
    // Pictures are small; a larger answer is not one.
    static constexpr std::size_t kMaxMemoryBytes = 16 * 1024 * 1024;

    // cancelled is polled once per read round; set, the transfer fails with
    // "Download cancelled.".
    explicit WinHttpDownloader(const std::atomic<bool>& cancelled) : cancelled_(cancelled) {}

    // Downloads into a temporary file beside destination and moves it into
    // place (see TemporaryDownloadFile); returns the final path and the file's digest. Posts
    // progress to window. Throws std::runtime_error with the failure text.
    // expectedSha256 (lower case, or empty for none) is checked before the
    // file is moved into place.
    DownloadedFile DownloadToFile(const CStringW& url, const CStringW& destination, HWND window,
                                  const std::string& expectedSha256 = {});
    // One request of a file download: the whole file, or the rest of it
    // when partial can resume, following the redirect trail from url anew.
    // Throws with the failure text; what arrived stays in partial.
    void Attempt(const CStringW& url, PartialDownload& partial);

    // Two attempts; empty (never null) when both fail.
    std::unique_ptr<std::vector<char>> DownloadToMemory(const CStringW& url);

private:
    // The first answer that is not a redirect, which must be a 2xx (or a
    // 416, when rangeAsked). The trail (URL reached, redirect count) carries
    // over between memory attempts.
    std::unique_ptr<WinHttpExchange> Fetch(RedirectTrail& trail, const WinHttpProfile& profile,
                                           const CStringW& headers = CStringW(), bool rangeAsked = false);
    // The answer whose body goes into partial.
    std::unique_ptr<WinHttpExchange> Open(const CStringW& url, PartialDownload& partial);
    void ReadIntoMemory(WinHttpExchange& exchange, std::vector<char>& bytes);
    void ThrowIfCancelled() const;

    const std::atomic<bool>& cancelled_;
};
