// The download manager's two stages: the WinINet fallback after a failed
// WinHTTP stage, the combined failure text, cancellation (which no fallback
// outlives), and what a failure leaves on disk.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "download/DownloadManager.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

class Fallback : public DownloadTest {
protected:
    std::pair<bool, CStringW> Download(const std::wstring& url, bool useWorkFolder = true) {
        return manager->DownloadFile(url, nullptr, CStringW(), useWorkFolder);
    }

    std::shared_ptr<DownloadManager> manager = std::make_shared<DownloadManager>();
};

TEST_F(Fallback, AFailedFirstStageIsRescuedByTheSecond) {
    Serve({{"path", "/f/flaky.bin"}, {"size", 200000}, {"failFirst", 1}, {"failStatus", 503}});
    const auto start = std::chrono::steady_clock::now();
    const auto result = Download(host.Url(L"/f/flaky.bin"));
    ASSERT_TRUE(result.first) << Narrow(result.second);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(DownloadManager::kFallbackPauseMs));
    EXPECT_EQ(manager->lastFilePath, folders->Work() + L"\\flaky.bin");
    EXPECT_EQ(FileSha256(manager->lastFilePath), ServedSha256(L"/f/flaky.bin"));
    EXPECT_EQ(FilesIn(folders->Work()), std::vector<std::wstring>{L"flaky.bin"});
    EXPECT_EQ(RequestCount(L"/f/flaky.bin"), 2u);
}

TEST_F(Fallback, BothStagesFailingGiveBothTextsAndNoFile) {
    const auto missing = Download(host.Url(L"/f/missing.bin"));
    EXPECT_FALSE(missing.first);
    const std::wstring expected =
        L"[WINHTTP] Download failed: Server returned status code: 404 [WININET] Server returned status code: HTTP 404 "
        L"- ";
    EXPECT_EQ(missing.second.substr(0, expected.size()), expected) << Narrow(missing.second);

    const std::wstring refused = L"http://" + host.Address() + L":9/f/x.bin";
    const auto unreachable = Download(refused);
    EXPECT_FALSE(unreachable.first);
    EXPECT_EQ(unreachable.second, L"[WINHTTP] Failed to send request: 12029 - " + SystemText(12029) +
                                      L" [WININET] Failed to open URL:: 12029 - " + SystemText(12029));

    // A host without ranges: nothing to resume, so both stages fail alike.
    Serve({{"path", "/f/cut.bin"}, {"size", 300000}, {"cutAfter", 100000}, {"ranges", false}});
    const auto cut = Download(host.HttpUrl(L"/f/cut.bin"));
    EXPECT_FALSE(cut.first);
    EXPECT_EQ(cut.second,
              L"[WINHTTP] Download was incomplete: content length: 300000, downloaded: 100000 "
              L"[WININET] Download was incomplete: content length: 300000, downloaded: 100000");
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
    EXPECT_TRUE(manager->lastFilePath.empty());
}

TEST_F(Fallback, AFileThatWasThereIsNeverReplacedNorRemoved) {
    const std::wstring mine = folders->Downloads() + L"\\setup.exe";
    ASSERT_TRUE(WriteFileBytes(mine, "the user's own file"));
    Serve({{"path", "/f/setup.exe"}, {"size", 40000}});

    const auto first = Download(host.Url(L"/f/setup.exe"), false);
    ASSERT_TRUE(first.first) << Narrow(first.second);
    EXPECT_EQ(manager->lastFilePath, folders->Downloads() + L"\\setup (2).exe");
    const auto second = Download(host.Url(L"/f/setup.exe"), false);
    ASSERT_TRUE(second.first) << Narrow(second.second);
    EXPECT_EQ(manager->lastFilePath, folders->Downloads() + L"\\setup (3).exe");
    EXPECT_EQ(FileSha256(folders->Downloads() + L"\\setup (2).exe"), ServedSha256(L"/f/setup.exe"));
    EXPECT_EQ(FileSha256(folders->Downloads() + L"\\setup (3).exe"), ServedSha256(L"/f/setup.exe"));

    // A download of the same name that fails in both stages leaves all three alone.
    Serve({{"path", "/f/setup.exe"}, {"status", 500}});
    const auto failed = Download(host.Url(L"/f/setup.exe"), false);
    EXPECT_FALSE(failed.first);
    EXPECT_EQ(ReadFileBytes(mine).value_or(std::string()), "the user's own file");
    EXPECT_EQ(FilesIn(folders->Downloads()),
              (std::vector<std::wstring>{L"setup (2).exe", L"setup (3).exe", L"setup.exe"}));
}

TEST_F(Fallback, ACancelledManagerRunsNoSecondStage) {
    Serve({{"path", "/f/a.bin"}, {"size", 120000}});
    manager->cancelled = true;
    const auto start = std::chrono::steady_clock::now();
    const auto result = Download(host.Url(L"/f/a.bin"), false);
    // The first stage stops at its first read; no second stage, no pause before it.
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second, L"[WINHTTP] Download cancelled.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(DownloadManager::kFallbackPauseMs));
    EXPECT_EQ(RequestCount(L"/f/a.bin"), 1u);
    EXPECT_TRUE(FilesIn(folders->Downloads()).empty());
    EXPECT_TRUE(manager->lastFilePath.empty());
}

// Cancels the manager after a delay, from another thread, as the window's close does.
class DelayedCancel {
public:
    DelayedCancel(DownloadManager& manager, std::chrono::milliseconds delay)
        : thread_([&manager, delay] {
              std::this_thread::sleep_for(delay);
              manager.cancelled = true;
          }) {}
    ~DelayedCancel() { thread_.join(); }

private:
    std::thread thread_;
};

TEST_F(Fallback, CancellingDuringASlowTransferLandsNothingAndAsksNoMore) {
    // 200 pieces a quarter of a second apart: 50 s if nobody stopped it.
    Serve({{"path", "/f/product.exe"}, {"size", 200000}, {"chunkBytes", 1000}, {"chunkDelayMs", 250}});
    std::pair<bool, CStringW> result;
    {
        DelayedCancel cancel(*manager, std::chrono::milliseconds(700));
        result = Download(host.Url(L"/f/product.exe"), false);
    }
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second, L"[WINHTTP] Download cancelled.");
    // The call has returned, so no later request can come from it: the one there was is all.
    EXPECT_EQ(RequestCount(L"/f/product.exe"), 1u);
    EXPECT_TRUE(FilesIn(folders->Downloads()).empty());
}

TEST_F(Fallback, CancellingDuringThePauseSkipsTheSecondStage) {
    Serve({{"path", "/f/flaky.exe"}, {"size", 20000}, {"failFirst", 1}});
    const auto start = std::chrono::steady_clock::now();
    std::pair<bool, CStringW> result;
    {
        // The first stage fails at once on the 503; the cancel comes within the pause.
        DelayedCancel cancel(*manager, std::chrono::milliseconds(500));
        result = Download(host.Url(L"/f/flaky.exe"), false);
    }
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second, L"[WINHTTP] Download failed: Server returned status code: 503");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(DownloadManager::kFallbackPauseMs));
    EXPECT_EQ(RequestCount(L"/f/flaky.exe"), 1u);
    EXPECT_TRUE(FilesIn(folders->Downloads()).empty());
}

TEST_F(Fallback, CancellingDuringTheSecondStageStopsItAtItsNextRead) {
    // The first request fails; the second (the fallback's) is slow: 50 s if nobody stopped it.
    Serve({{"path", "/f/late.exe"}, {"size", 200000}, {"chunkBytes", 1000}, {"chunkDelayMs", 250}, {"failFirst", 1}});
    std::pair<bool, CStringW> result;
    {
        DelayedCancel cancel(*manager, std::chrono::milliseconds(DownloadManager::kFallbackPauseMs + 1500));
        result = Download(host.Url(L"/f/late.exe"), false);
    }
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second,
              L"[WINHTTP] Download failed: Server returned status code: 503 [WININET] Download cancelled.");
    EXPECT_EQ(RequestCount(L"/f/late.exe"), 2u);
    EXPECT_TRUE(FilesIn(folders->Downloads()).empty());
}

TEST_F(Fallback, ABodyCutWithoutALengthFailsBothStagesAndLeavesNoFile) {
    // A body ended by closing, whose TLS session breaks half way: no length
    // would tell it is short.
    Serve({{"path", "/f/broken.exe"},
           {"size", 100000},
           {"framing", "close"},
           {"cutAfter", 50000},
           {"cutWith", "noise"},
           {"ranges", false}});
    const auto result = Download(host.Url(L"/f/broken.exe"), false);
    EXPECT_FALSE(result.first);
    const std::wstring text = result.second;
    EXPECT_EQ(text.rfind(L"[WINHTTP] Failed to query data: ", 0), 0u) << Narrow(text);
    EXPECT_NE(text.find(L" [WININET] Failed to read data: "), std::wstring::npos) << Narrow(text);
    EXPECT_EQ(RequestCount(L"/f/broken.exe"), 2u);
    EXPECT_TRUE(FilesIn(folders->Downloads()).empty());
    EXPECT_TRUE(manager->lastFilePath.empty());
}

}  // namespace
}  // namespace ostrel::testing
