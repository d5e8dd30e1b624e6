// Pictures into memory: two attempts, a size cap, cancellation, and the
// asynchronous form with its callback.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "api/Sha256.h"
#include "download/DownloadManager.h"
#include "download/WinHttpDownloader.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

using nlohmann::json;

// What one DownloadToMemoryAsync callback received, and on which thread.
class CallbackProbe {
public:
    DownloadManager::MemoryCallback Callback() {
        return [this](std::unique_ptr<std::vector<char>> bytes) {
            std::lock_guard lock(mutex_);
            bytes_ = std::move(bytes);
            threadId_ = ::GetCurrentThreadId();
            ++calls_;
            called_.notify_all();
        };
    }
    bool WaitForCall() {
        std::unique_lock lock(mutex_);
        return called_.wait_for(lock, std::chrono::seconds(30), [this] { return calls_ > 0; });
    }
    const std::unique_ptr<std::vector<char>>& Bytes() const { return bytes_; }
    DWORD ThreadId() const { return threadId_; }
    int Calls() const { return calls_; }

private:
    std::mutex mutex_;
    std::condition_variable called_;
    std::unique_ptr<std::vector<char>> bytes_;
    DWORD threadId_ = 0;
    int calls_ = 0;
};

std::string HashOf(const std::vector<char>& bytes) {
    return Sha256Hex(std::string_view(bytes.data(), bytes.size()));
}

// The header a request carried, or "" when it had none.
std::string HeaderOf(const json& request, const std::string& name) {
    for (const json& header : request.at("headers")) {
        if (header.at(0) == name) return header.at(1).get<std::string>();
    }
    return std::string();
}

class MemoryTransfer : public DownloadTest {
protected:
    std::shared_ptr<DownloadManager> manager = std::make_shared<DownloadManager>();
};

TEST_F(MemoryTransfer, TheBytesAreTheServedBytes) {
    Serve({{"path", "/f/pic.png"}, {"size", 300001}, {"seed", 4}});
    for (const auto& url : {host.Url(L"/f/pic.png"), host.HttpUrl(L"/f/pic.png")}) {
        const auto bytes = manager->DownloadToMemory(url);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(HashOf(*bytes), ServedSha256(L"/f/pic.png")) << Narrow(url);
    }
    // Its own user agent, unlike the file transfer, which sends none.
    const json requests = host.FullRequests(L"/f/pic.png");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(HeaderOf(requests[0], "User-Agent"), "A WinHTTP Example Program/1.0");
    Serve({{"path", "/f/file.bin"}, {"size", 10}});
    ASSERT_TRUE(manager->DownloadFile(host.Url(L"/f/file.bin"), nullptr, L"", true).first);
    EXPECT_EQ(HeaderOf(host.FullRequests(L"/f/file.bin").at(0), "User-Agent"), "");
}

TEST_F(MemoryTransfer, TwoAttemptsThenNothing) {
    Serve({{"path", "/f/once.png"}, {"size", 5000}, {"failFirst", 1}});
    Serve({{"path", "/f/twice.png"}, {"size", 5000}, {"failFirst", 2}});
    EXPECT_EQ(manager->DownloadToMemory(host.Url(L"/f/once.png"))->size(), 5000u);
    const auto twice = manager->DownloadToMemory(host.Url(L"/f/twice.png"));
    ASSERT_TRUE(twice);
    EXPECT_TRUE(twice->empty());
    EXPECT_EQ(RequestCount(L"/f/once.png"), 2u);
    EXPECT_EQ(RequestCount(L"/f/twice.png"), 2u);
}

TEST_F(MemoryTransfer, AnswersBeyondTheCapAreRefused) {
    Serve({{"path", "/f/cap.png"}, {"size", WinHttpDownloader::kMaxMemoryBytes}});
    Serve({{"path", "/f/over.png"}, {"size", WinHttpDownloader::kMaxMemoryBytes + 1}});
    Serve({{"path", "/f/over-chunked.png"}, {"size", WinHttpDownloader::kMaxMemoryBytes + 1}, {"framing", "chunked"}});
    EXPECT_EQ(manager->DownloadToMemory(host.HttpUrl(L"/f/cap.png"))->size(), WinHttpDownloader::kMaxMemoryBytes);
    EXPECT_TRUE(manager->DownloadToMemory(host.HttpUrl(L"/f/over.png"))->empty());
    EXPECT_TRUE(manager->DownloadToMemory(host.HttpUrl(L"/f/over-chunked.png"))->empty());
}

TEST_F(MemoryTransfer, ACancelledManagerGetsNothingFromEitherAttempt) {
    Serve({{"path", "/f/pic.png"}, {"size", 5000}});
    manager->cancelled = true;
    const auto bytes = manager->DownloadToMemory(host.Url(L"/f/pic.png"));
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(bytes->empty());
    EXPECT_EQ(RequestCount(L"/f/pic.png"), 2u);
}

TEST_F(MemoryTransfer, TheAsynchronousFormCallsBackOnItsOwnThread) {
    Serve({{"path", "/f/pic.png"}, {"size", 7000}});
    CallbackProbe probe;
    manager->DownloadToMemoryAsync(host.Url(L"/f/pic.png"), probe.Callback());
    ASSERT_TRUE(probe.WaitForCall());
    ASSERT_TRUE(probe.Bytes());
    EXPECT_EQ(HashOf(*probe.Bytes()), ServedSha256(L"/f/pic.png"));
    EXPECT_NE(probe.ThreadId(), ::GetCurrentThreadId());

    // A failure is an empty vector, not a missing one.
    CallbackProbe failed;
    manager->DownloadToMemoryAsync(host.Url(L"/f/missing.png"), failed.Callback());
    ASSERT_TRUE(failed.WaitForCall());
    ASSERT_TRUE(failed.Bytes());
    EXPECT_TRUE(failed.Bytes()->empty());
}

TEST_F(MemoryTransfer, CancellingWhileTheBytesArriveGivesNull) {
    // Arrives slowly; the flag is set while the transfer reads.
    Serve({{"path", "/f/slow.png"}, {"size", 20000}, {"chunkBytes", 1000}, {"chunkDelayMs", 100}});
    CallbackProbe probe;
    manager->DownloadToMemoryAsync(host.Url(L"/f/slow.png"), probe.Callback());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    manager->cancelled = true;
    ASSERT_TRUE(probe.WaitForCall());
    EXPECT_EQ(probe.Calls(), 1);
    EXPECT_FALSE(probe.Bytes());
}

}  // namespace
}  // namespace ostrel::testing
