#include "download/DownloadManager.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "download/DestinationPath.h"
#include "download/ErrorText.h"
#include "download/PartialDownload.h"
#include "download/WinHttpDownloader.h"
#include "download/WinInetDownloader.h"

namespace {

constexpr wchar_t kWinHttpTag[] = L"[WINHTTP] ";
constexpr wchar_t kWinInetTag[] = L" [WININET] ";

// One picture fetch, owned by the thread that runs it.
struct MemoryTask {
    std::shared_ptr<DownloadManager> manager;
    CStringW url;
    DownloadManager::MemoryCallback callback;

    void Run() {
        std::unique_ptr<std::vector<char>> bytes = manager->DownloadToMemory(url);
        if (manager->cancelled) bytes.reset();
        if (!callback) return;
        try {
            callback(std::move(bytes));
        } catch (const std::exception&) {
            // Nobody waits for this thread; an escaping exception would end the program.
        }
    }
};

}  // namespace

std::shared_ptr<DownloadManager> DownloadManager::GetInstance() {
    static std::once_flag once;
    static std::shared_ptr<DownloadManager> instance;
    std::call_once(once, [] { instance = std::make_shared<DownloadManager>(); });
    return instance;
}

DownloadManager::~DownloadManager() {
    cancelled = true;
}

CStringW DownloadManager::ResolveDestination(const CStringW& url, const CStringW& fileName, bool useWorkFolder) const {
    return fileName.empty() ? BuildDestinationPathFromUrl(url, useWorkFolder)
                            : BuildDestinationPath(fileName, useWorkFolder);
}

std::pair<bool, CStringW> DownloadManager::DownloadFile(const CStringW& url, HWND window, const CStringW& fileName,
                                                        bool useWorkFolder, const std::string& expectedSha256) {
    std::pair<bool, CStringW> result{false, CStringW()};
    // An empty destination is not checked here: the transfers report that they
    // cannot open the file.
    const CStringW destination = ResolveDestination(url, fileName, useWorkFolder);
    std::optional<PartialDownload> partial;
    partial.emplace(destination, expectedSha256, window);
    try {
        Remember(DownloadWithWinHttp(url, *partial));
        result.first = true;
        return result;
    } catch (const std::exception& error) {
        result.second = kWinHttpTag + FromAnsi(error.what());
    }

    // A cancelled download stays cancelled: a second transfer would put the
    // file where the user no longer wants it.
    if (!PauseUnlessCancelled(kFallbackPauseMs)) return result;
    std::pair<bool, CStringW> fallback{false, CStringW()};
    if (partial->IsOpen()) {
        // The same temporary file: the rest of it when the server allows,
        // else the whole file again in its place.
        try {
            WinInetDownloader(cancelled).Attempt(url, *partial);
            Remember(partial->Complete());
            fallback.first = true;
        } catch (const std::exception& error) {
            fallback.second = kWinInetTag + FromAnsi(error.what());
        }
    } else {
        // The WinHTTP stage's file could not be made, or is gone with a
        // download that failed its checks: the fallback makes its own.
        partial.reset();
        fallback = DownloadFileWinInet(url, window, fileName, useWorkFolder, expectedSha256);
    }
    if (fallback.first) {
        result.first = true;
    } else {
        result.second += fallback.second;
    }
    return result;
}

DownloadedFile DownloadManager::DownloadWithWinHttp(const CStringW& url, PartialDownload& partial) {
    WinHttpDownloader transfer(cancelled);
    for (int attempt = 1;; ++attempt) {
        const std::uint64_t before = partial.Received();
        try {
            transfer.Attempt(url, partial);
            break;
        } catch (const std::exception&) {
            // What came is written before anything else is asked; a failed
            // write is the failure then.
            partial.Settle();
            const bool gotFurther = partial.Received() > before;
            if (cancelled || attempt >= kWinHttpAttempts || !gotFurther || !partial.CanResume()) throw;
        }
    }
    // A complete file that fails its checks is not asked for again here.
    return partial.Complete();
}

std::pair<bool, CStringW> DownloadManager::DownloadFileWinInet(const CStringW& url, HWND window,
                                                               const CStringW& fileName, bool useWorkFolder,
                                                               const std::string& expectedSha256) {
    std::pair<bool, CStringW> result{false, CStringW()};
    const CStringW destination = ResolveDestination(url, fileName, useWorkFolder);
    try {
        Remember(WinInetDownloader(cancelled).DownloadToFile(url, destination, window, expectedSha256));
        result.first = true;
    } catch (const std::exception& error) {
        result.second = kWinInetTag + FromAnsi(error.what());
    }
    return result;
}

void DownloadManager::Remember(const DownloadedFile& downloaded) {
    lastFilePath = downloaded.path;
    lastFileSha256 = downloaded.sha256;
}

bool DownloadManager::PauseUnlessCancelled(DWORD milliseconds) const {
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    while (!cancelled) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return true;
        ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(end - now, kCancelPollMs)));
    }
    return false;
}

std::unique_ptr<std::vector<char>> DownloadManager::DownloadToMemory(const CStringW& url) {
    return WinHttpDownloader(cancelled).DownloadToMemory(url);
}

void DownloadManager::DownloadToMemoryAsync(const CStringW& url, MemoryCallback callback) {
    auto task = std::make_unique<MemoryTask>(MemoryTask{shared_from_this(), url, callback});
    try {
        std::thread([task = std::move(task)] { task->Run(); }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the caller still hears back, with nothing.
        if (callback) callback(nullptr);
    }
}
