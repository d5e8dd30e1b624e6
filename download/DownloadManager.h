// The one object through which the wizard fetches files and pictures. Owns the
// cancel flag every transfer polls and remembers where the last file went.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "download/TemporaryDownloadFile.h"
#include "framework/Strings.h"

class PartialDownload;

class DownloadManager : public std::enable_shared_from_this<DownloadManager> {
public:
    using MemoryCallback = std::function<void(std::unique_ptr<std::vector<char>>)>;

    // Pause between a failed WinHTTP stage and the WinINet stage.
    static constexpr DWORD kFallbackPauseMs = 2000;
    // Requests the WinHTTP stage makes for one file at most: the first, then
    // one for the rest after each cut, as long as each gets further.
    static constexpr int kWinHttpAttempts = 5;
    // How soon the pause notices a cancellation.
    static constexpr DWORD kCancelPollMs = 50;

    // The process-wide instance, created on first use.
    static std::shared_ptr<DownloadManager> GetInstance();

    // The program uses GetInstance(); tests make their own (always through
    // std::make_shared: the picture threads keep the manager alive).
    DownloadManager() = default;
    DownloadManager(const DownloadManager&) = delete;
    DownloadManager& operator=(const DownloadManager&) = delete;
    ~DownloadManager();

    // Downloads url into the work folder or the download folder, under
    // fileName (empty: the name from the URL), with WinHTTP and, when that
    // fails, after a pause, with WinINet. A transfer cut after bytes arrived
    // asks for the rest when the server named a strong validator and byte
    // ranges: the WinHTTP stage up to kWinHttpAttempts requests, the WinINet
    // stage from where it stopped. Progress goes to window. On success
    // lastFilePath holds where the file went (a numbered name when the name
    // was taken). On failure: "[WINHTTP] ... [WININET] ...", and no file is
    // left behind; once cancelled, there is no WinINet stage and the text is
    // the WinHTTP one alone. With expectedSha256 (64 lower-case hexadecimal
    // digits), a file whose digest differs fails its stage and is removed.
    // Blocks; run it on a worker thread.
    std::pair<bool, CStringW> DownloadFile(const CStringW& url, HWND window, const CStringW& fileName,
                                           bool useWorkFolder, const std::string& expectedSha256 = {});
    // The WinINet stage alone; its failure text begins with " [WININET] ".
    std::pair<bool, CStringW> DownloadFileWinInet(const CStringW& url, HWND window, const CStringW& fileName,
                                                  bool useWorkFolder, const std::string& expectedSha256 = {});

    // The bytes at url (two attempts, WinHTTP); empty, never null, on failure.
    std::unique_ptr<std::vector<char>> DownloadToMemory(const CStringW& url);
    // DownloadToMemory on a thread of its own; returns at once. The callback
    // runs on that thread, with null when the manager was cancelled by then.
    void DownloadToMemoryAsync(const CStringW& url, MemoryCallback callback);

    // Set once when the wizard closes; running transfers stop at their next read.
    std::atomic<bool> cancelled{false};
    // Written by the transfer that succeeded; read after its future completes.
    CStringW lastFilePath;
    // The SHA-256 of the bytes that transfer wrote, as 64 lower-case
    // hexadecimal digits (empty when it could not be computed).
    std::string lastFileSha256;

private:
    DownloadedFile DownloadWithWinHttp(const CStringW& url, PartialDownload& partial);
    void Remember(const DownloadedFile& downloaded);
    // False as soon as the manager is cancelled, true when the time is up.
    bool PauseUnlessCancelled(DWORD milliseconds) const;
    CStringW ResolveDestination(const CStringW& url, const CStringW& fileName, bool useWorkFolder) const;
};
