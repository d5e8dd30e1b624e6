// Whole downloads through the download manager: what lands on disk is what the
// file host served, wherever the settings put it.
#include <gtest/gtest.h>

#include <future>

#include "download/DownloadManager.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

using nlohmann::json;

class FileDownload : public DownloadTest {
protected:
    std::pair<bool, CStringW> Download(const std::wstring& url, const std::wstring& fileName, bool useWorkFolder) {
        return manager->DownloadFile(url, nullptr, fileName, useWorkFolder);
    }

    std::shared_ptr<DownloadManager> manager = std::make_shared<DownloadManager>();
};

TEST_F(FileDownload, BytesOnDiskAreTheServedBytesOverHttpsAndHttp) {
    Serve({{"path", "/f/setup.exe"}, {"size", 3 * 1024 * 1024 + 17}, {"seed", 11}});
    const std::string served = ServedSha256(L"/f/setup.exe");

    const auto secure = Download(host.Url(L"/f/setup.exe"), L"", true);
    ASSERT_TRUE(secure.first) << Narrow(secure.second);
    EXPECT_EQ(manager->lastFilePath, folders->Work() + L"\\setup.exe");
    EXPECT_EQ(FileSha256(folders->Work() + L"\\setup.exe"), served);

    const auto plain = Download(host.HttpUrl(L"/f/setup.exe"), L"", false);
    ASSERT_TRUE(plain.first) << Narrow(plain.second);
    EXPECT_EQ(manager->lastFilePath, folders->Downloads() + L"\\setup.exe");
    EXPECT_EQ(FileSha256(folders->Downloads() + L"\\setup.exe"), served);

    // Nothing else is left in either folder: no temporary files.
    EXPECT_EQ(FilesIn(folders->Work()), std::vector<std::wstring>{L"setup.exe"});
    EXPECT_EQ(FilesIn(folders->Downloads()), std::vector<std::wstring>{L"setup.exe"});
    // One request each: the first stage succeeded.
    EXPECT_EQ(RequestCount(L"/f/setup.exe"), 2u);
}

TEST_F(FileDownload, AGivenFileNameReplacesTheUrlsName) {
    Serve({{"path", "/f/a1b2c3"}, {"size", 5000}});
    const auto result = Download(host.Url(L"/f/a1b2c3"), L"Kelvanor Setup.exe", false);
    ASSERT_TRUE(result.first) << Narrow(result.second);
    EXPECT_EQ(manager->lastFilePath, folders->Downloads() + L"\\Kelvanor Setup.exe");
    EXPECT_EQ(FileSha256(manager->lastFilePath), ServedSha256(L"/f/a1b2c3"));
}

TEST_F(FileDownload, BodiesWithoutALengthArriveWhole) {
    Serve({{"path", "/f/chunked.bin"}, {"size", 700001}, {"seed", 2}, {"framing", "chunked"}, {"chunkBytes", 9000}});
    Serve({{"path", "/f/close.bin"}, {"size", 700001}, {"seed", 3}, {"framing", "close"}});
    for (const std::wstring& name : std::vector<std::wstring>{L"chunked.bin", L"close.bin"}) {
        for (const std::wstring& url : {host.Url(L"/f/" + name), host.HttpUrl(L"/f/" + name)}) {
            const auto result = Download(url, L"", true);
            ASSERT_TRUE(result.first) << Narrow(url) << ": " << Narrow(result.second);
            EXPECT_EQ(FileSha256(manager->lastFilePath), ServedSha256(L"/f/" + name)) << Narrow(url);
            ::DeleteFileW(manager->lastFilePath.c_str());
        }
    }
}

TEST_F(FileDownload, EmptyBodiesAndOtherSuccessStatusesGiveFiles) {
    Serve({{"path", "/f/empty.bin"}, {"body", ""}});
    Serve({{"path", "/f/partial.bin"}, {"status", 206}, {"body", "partial"}});
    Serve({{"path", "/f/nothing.bin"}, {"status", 204}, {"framing", "close"}});

    const auto empty = Download(host.Url(L"/f/empty.bin"), L"", true);
    ASSERT_TRUE(empty.first) << Narrow(empty.second);
    EXPECT_EQ(ReadFileBytes(manager->lastFilePath).value_or(std::string()), "");
    // The WinHTTP stage takes any 2xx: 206 and 204 need no second stage.
    const auto partial = Download(host.Url(L"/f/partial.bin"), L"", true);
    ASSERT_TRUE(partial.first) << Narrow(partial.second);
    EXPECT_EQ(ReadFileBytes(manager->lastFilePath).value_or(std::string()), "partial");
    const auto nothing = Download(host.HttpUrl(L"/f/nothing.bin"), L"", true);
    ASSERT_TRUE(nothing.first) << Narrow(nothing.second);
    EXPECT_NE(::GetFileAttributesW(manager->lastFilePath.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadFileBytes(manager->lastFilePath).value_or(std::string()), "");

    EXPECT_EQ(RequestCount(L"/f/partial.bin"), 1u);
    EXPECT_EQ(RequestCount(L"/f/nothing.bin"), 1u);
}

TEST_F(FileDownload, RunsAsThePagesRunIt) {
    Serve({{"path", "/f/async.bin"}, {"size", 100000}});
    ProgressRecorder recorder;
    // Launched as the download pages launch it, polled while this thread pumps.
    std::future<std::pair<bool, CStringW>> future =
        std::async(std::launch::async, &DownloadManager::DownloadFile, manager, host.Url(L"/f/async.bin"),
                   recorder.Window(), CStringW(), true, std::string());
    const auto result = recorder.Wait(future);
    ASSERT_TRUE(result.first) << Narrow(result.second);
    EXPECT_EQ(FileSha256(manager->lastFilePath), ServedSha256(L"/f/async.bin"));
    ASSERT_FALSE(recorder.Percentages().empty());
    EXPECT_EQ(recorder.Percentages().back(), 100u);
}

}  // namespace
}  // namespace ostrel::testing
