// Downloads the server named a SHA-256 for: a matching file lands as it would
// without one, a file that differs fails its stage in either transport and
// never reaches its destination, and a file already there stays untouched.
#include <gtest/gtest.h>

#include <string>

#include "download/DownloadManager.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

// A digest of nothing the host serves.
const std::string kWrongDigest = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

std::wstring VerifyFailure(const std::string& actual, const std::string& expected) {
    const std::string text =
        "Failed to verify the download: SHA-256 " + actual + " differs from the expected " + expected + ".";
    return std::wstring(text.begin(), text.end());
}

class VerifiedDownload : public DownloadTest {
protected:
    std::shared_ptr<DownloadManager> manager = std::make_shared<DownloadManager>();
};

TEST_F(VerifiedDownload, AMatchingFileLandsInEitherStage) {
    Serve({{"path", "/f/good.bin"}, {"size", 3 * 1024 * 1024 + 7}, {"seed", 5}});
    const std::string digest = ServedSha256(L"/f/good.bin");

    const auto first = manager->DownloadFile(host.Url(L"/f/good.bin"), nullptr, L"", true, digest);
    ASSERT_TRUE(first.first) << Narrow(first.second);
    EXPECT_EQ(FileSha256(manager->lastFilePath), digest);

    const auto second = manager->DownloadFileWinInet(host.HttpUrl(L"/f/good.bin"), nullptr, L"", true, digest);
    ASSERT_TRUE(second.first) << Narrow(second.second);
    EXPECT_EQ(FileSha256(manager->lastFilePath), digest);
    EXPECT_EQ(FilesIn(folders->Work()), (std::vector<std::wstring>{L"good (2).bin", L"good.bin"}));
}

TEST_F(VerifiedDownload, AFileThatDiffersFailsBothStagesAndLeavesNothing) {
    Serve({{"path", "/f/other.bin"}, {"size", 200000}});
    const std::string actual = ServedSha256(L"/f/other.bin");

    const auto result = manager->DownloadFile(host.HttpUrl(L"/f/other.bin"), nullptr, L"", true, kWrongDigest);
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second, L"[WINHTTP] " + VerifyFailure(actual, kWrongDigest) + L" [WININET] " +
                                 VerifyFailure(actual, kWrongDigest));
    EXPECT_EQ(RequestCount(L"/f/other.bin"), 2u);
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
    EXPECT_TRUE(manager->lastFilePath.empty());
}

TEST_F(VerifiedDownload, TheSecondStageChecksTheDigestToo) {
    // The first stage meets a 503, the second receives a file that differs.
    Serve({{"path", "/f/setup.exe"}, {"size", 50000}, {"failFirst", 1}});
    const std::string actual = ServedSha256(L"/f/setup.exe");
    const std::wstring mine = folders->Downloads() + L"\\setup.exe";
    ASSERT_TRUE(WriteFileBytes(mine, "the user's own file"));

    const auto result = manager->DownloadFile(host.Url(L"/f/setup.exe"), nullptr, L"", false, kWrongDigest);
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second.find(L"[WINHTTP] Download failed: Server returned status code: 503 [WININET] " +
                                 VerifyFailure(actual, kWrongDigest)),
              0u)
        << Narrow(result.second);
    EXPECT_EQ(FilesIn(folders->Downloads()), std::vector<std::wstring>{L"setup.exe"});
    EXPECT_EQ(ReadFileBytes(mine).value_or(std::string()), "the user's own file");
}

TEST_F(VerifiedDownload, TheDigestCoversEveryByteNotOnlyTheLength) {
    // Same size, other bytes: only the digest tells them apart.
    Serve({{"path", "/f/twin.bin"}, {"size", 65536}, {"seed", 1}});
    const std::string expected = ServedSha256(L"/f/twin.bin");
    Serve({{"path", "/f/twin.bin"}, {"size", 65536}, {"seed", 2}});
    const std::string actual = ServedSha256(L"/f/twin.bin");
    ASSERT_NE(actual, expected);

    const auto result = manager->DownloadFileWinInet(host.Url(L"/f/twin.bin"), nullptr, L"", true, expected);
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second, L" [WININET] " + VerifyFailure(actual, expected));
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
}

}  // namespace
}  // namespace ostrel::testing
