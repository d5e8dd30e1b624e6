// The progress messages a page receives during one download, in order.
#include <gtest/gtest.h>

#include <future>

#include "download/DownloadManager.h"
#include "download/DownloadMessages.h"
#include "download/ProgressReporter.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

// The rule every sequence with a known length obeys: at most one post per
// percentage point, rising, never past 100, and 100 last.
void ExpectKnownLengthSequence(const ProgressRecorder& recorder) {
    EXPECT_EQ(recorder.SizeUnknownCount(), 0u);
    const std::vector<WPARAM> values = recorder.Percentages();
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 100u);
    EXPECT_LE(values.size(), 101u);
    for (size_t i = 1; i + 1 < values.size(); ++i) {
        EXPECT_GT(values[i], values[i - 1]) << "post " << i;
    }
    for (WPARAM value : values) EXPECT_LE(value, 100u);
}

class Progress : public DownloadTest {
protected:
    std::pair<bool, CStringW> Run(std::pair<bool, CStringW> (DownloadManager::*stage)(const CStringW&, HWND,
                                                                                      const CStringW&, bool,
                                                                                      const std::string&),
                                  const std::wstring& url) {
        std::future<std::pair<bool, CStringW>> future =
            std::async(std::launch::async, stage, manager, url, recorder.Window(), CStringW(), true, std::string());
        return recorder.Wait(future);
    }

    std::shared_ptr<DownloadManager> manager = std::make_shared<DownloadManager>();
    ProgressRecorder recorder;
};

TEST_F(Progress, KnownLengthPostsAboutOncePerPercentAndEndsAt100) {
    // Small pieces: without the one-percent rule there would be hundreds of posts.
    Serve({{"path", "/f/p.bin"}, {"size", 2 * 1024 * 1024}, {"chunkBytes", 4096}});
    const auto result = Run(&DownloadManager::DownloadFile, host.Url(L"/f/p.bin"));
    ASSERT_TRUE(result.first) << Narrow(result.second);
    ExpectKnownLengthSequence(recorder);
    // Every percentage point is passed by a read of at most a few KiB, so nearly all appear.
    EXPECT_GE(recorder.Percentages().size(), 50u);
}

TEST_F(Progress, TheWinInetStageFollowsTheSameRule) {
    Serve({{"path", "/f/p.bin"}, {"size", 1024 * 1024 + 5}});
    const auto result = Run(&DownloadManager::DownloadFileWinInet, host.HttpUrl(L"/f/p.bin"));
    ASSERT_TRUE(result.first) << Narrow(result.second);
    ExpectKnownLengthSequence(recorder);
    // Reads of at most 4096 bytes (0.39 % of the file): each post covers at
    // most 1.39 %, so there are at least 71 of them.
    EXPECT_GE(recorder.Percentages().size(), 71u);
}

TEST_F(Progress, UnknownLengthIsAnnouncedOnceAndNothingElse) {
    Serve({{"path", "/f/chunked.bin"}, {"size", 300000}, {"framing", "chunked"}, {"chunkBytes", 1000}});
    Serve({{"path", "/f/close.bin"}, {"size", 300000}, {"framing", "close"}});
    for (const std::wstring& url : {host.Url(L"/f/chunked.bin"), host.HttpUrl(L"/f/close.bin")}) {
        ProgressRecorder fresh;
        std::future<std::pair<bool, CStringW>> future =
            std::async(std::launch::async, &DownloadManager::DownloadFile, manager, url, fresh.Window(), CStringW(),
                       true, std::string());
        const auto result = fresh.Wait(future);
        ASSERT_TRUE(result.first) << Narrow(result.second);
        EXPECT_EQ(fresh.Posts(), (std::vector<ProgressPost>{{WM_DOWNLOAD_SIZE_UNKNOWN, 0}})) << Narrow(url);
    }
}

TEST_F(Progress, ZeroLengthPostsNothing) {
    Serve({{"path", "/f/empty.bin"}, {"body", ""}});
    const auto result = Run(&DownloadManager::DownloadFile, host.Url(L"/f/empty.bin"));
    ASSERT_TRUE(result.first) << Narrow(result.second);
    EXPECT_TRUE(recorder.Posts().empty());
}

TEST_F(Progress, AFailedDownloadNeverPosts100) {
    Serve({{"path", "/f/cut.bin"}, {"size", 400000}, {"cutAfter", 300000}, {"ranges", false}});
    const auto result = Run(&DownloadManager::DownloadFile, host.Url(L"/f/cut.bin"));
    ASSERT_FALSE(result.first);
    const std::vector<WPARAM> values = recorder.Percentages();
    ASSERT_FALSE(values.empty());
    // Both stages report up to the cut (about 75 percent), neither reaches the end.
    for (WPARAM value : values) EXPECT_LT(value, 76u);
}

// The rule itself, with reads of known sizes.
TEST(ProgressRule, PostsWhenMoreThanOnePercentGathered) {
    ProgressRecorder recorder;
    ProgressReporter progress(recorder.Window(), 1000000);
    // 8192-byte reads add 0.008192 each: every second read crosses the step.
    for (int read = 0; read < 6; ++read) progress.Add(8192);
    progress.Finish();
    recorder.PumpPending();
    EXPECT_EQ(recorder.Percentages(), (std::vector<WPARAM>{1, 3, 4, 100}));
}

TEST(ProgressRule, NoWindowGetsNoPostsAndNoLengthNoPercent) {
    ProgressReporter silent(nullptr, 10);
    silent.Add(10);
    silent.Finish();
    MSG message;
    // Nothing was posted to this thread in place of the missing window.
    EXPECT_FALSE(::PeekMessageW(&message, nullptr, WM_DOWNLOAD_PROGRESS, WM_DOWNLOAD_SIZE_UNKNOWN, PM_REMOVE));

    ProgressRecorder recorder;
    ProgressReporter unknown(recorder.Window(), std::nullopt);
    unknown.Add(5000);
    unknown.Finish();
    recorder.PumpPending();
    EXPECT_EQ(recorder.Posts(), (std::vector<ProgressPost>{{WM_DOWNLOAD_SIZE_UNKNOWN, 0}}));
}

}  // namespace
}  // namespace ostrel::testing
