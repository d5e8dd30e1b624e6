// Redirects. WinHTTP follows ordinary ones (301, 302, 303, 307, 308) itself;
// the program's own loop sees what WinHTTP hands back, such as a 300 with a
// Location, and follows at most five of those in a row.
#include <gtest/gtest.h>

#include <atomic>

#include "download/DownloadManager.h"
#include "download/WinHttpDownloader.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

using nlohmann::json;

class Redirect : public DownloadTest {
protected:
    // The WinHTTP stage alone: its text, or "ok" with the file checked against path.
    std::string Fetch(const std::wstring& url, const std::wstring& servedPath) {
        try {
            const CStringW file = WinHttpDownloader(cancelled).DownloadToFile(url, folders->Work() + L"\\r.bin", nullptr);
            const bool same = FileSha256(file) == ServedSha256(servedPath);
            ::DeleteFileW(file.c_str());
            return same ? "ok" : "wrong bytes";
        } catch (const std::exception& error) {
            return error.what();
        }
    }

    void ServeChain(const std::string& path, int hops, const json& extra = json::object()) {
        json chain = {{"hops", hops}, {"status", 300}};
        chain.update(extra);
        Serve({{"path", path}, {"size", 30000}, {"seed", hops}, {"redirect", chain}});
    }

    std::atomic<bool> cancelled{false};
};

TEST_F(Redirect, FiveOfItsOwnRedirectsAreFollowedTheSixthFails) {
    ServeChain("/f/five.bin", 5);
    ServeChain("/f/six.bin", 6);
    for (const auto& url : {host.Url(L"/f/five.bin"), host.HttpUrl(L"/f/five.bin")}) {
        EXPECT_EQ(Fetch(url, L"/f/five.bin"), "ok") << Narrow(url);
    }
    EXPECT_EQ(Fetch(host.Url(L"/f/six.bin"), L"/f/six.bin"), "Too many redirects.");
    // Five redirects and the file, twice; six redirects and no seventh request.
    EXPECT_EQ(RequestCount(L"/f/five.bin"), 12u);
    EXPECT_EQ(RequestCount(L"/f/six.bin"), 6u);
}

TEST_F(Redirect, ChainsWinHttpFollowsItselfDoNotCount) {
    Serve({{"path", "/f/plain.bin"}, {"size", 30000}, {"redirect", {{"hops", 8}, {"status", 302}}}});
    EXPECT_EQ(Fetch(host.Url(L"/f/plain.bin"), L"/f/plain.bin"), "ok");
    EXPECT_EQ(RequestCount(L"/f/plain.bin"), 9u);
}

TEST_F(Redirect, RelativeLocationsResolveAgainstTheCurrentUrl) {
    ServeChain("/f/d/rel.bin", 3, {{"relative", true}, {"to", "../other/./target.bin?x=1"}});
    Serve({{"path", "/f/other/target.bin"}, {"size", 12345}});
    EXPECT_EQ(Fetch(host.Url(L"/f/d/rel.bin"), L"/f/other/target.bin"), "ok");
    EXPECT_EQ(RequestCount(L"/f/d/rel.bin"), 3u);
    EXPECT_EQ(RequestCount(L"/f/other/target.bin"), 1u);
}

TEST_F(Redirect, LongLocationsAreReadWhole) {
    Serve({{"path", "/f/long.bin"}, {"size", 4000}});
    const std::string padding(400, 'p');
    Serve({{"path", "/f/to-long-absolute"}, {"status", 300},
           {"location", "https://" + Narrow(host.Address()) + "/f/long.bin?pad=" + padding}});
    Serve({{"path", "/f/to-long-path"}, {"status", 300}, {"location", "/f/long.bin?pad=" + padding}});
    EXPECT_EQ(Fetch(host.Url(L"/f/to-long-absolute"), L"/f/long.bin"), "ok");
    EXPECT_EQ(Fetch(host.HttpUrl(L"/f/to-long-path"), L"/f/long.bin"), "ok");
    const json requests = host.FullRequests(L"/f/long.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].at("listener"), "http");
}

TEST_F(Redirect, RedirectsWithoutAUsableLocationFail) {
    Serve({{"path", "/f/nowhere"}, {"status", 300}});
    Serve({{"path", "/f/ftp"}, {"status", 300}, {"location", "ftp://" + Narrow(host.Address()) + "/f/a.bin"}});
    Serve({{"path", "/f/script"}, {"status", 300}, {"location", "javascript:alert(1)"}});
    EXPECT_EQ(Fetch(host.Url(L"/f/nowhere"), L""), "Redirect without a Location header.");
    EXPECT_EQ(Fetch(host.Url(L"/f/ftp"), L""), "Redirect to a URL that is not HTTP or HTTPS.");
    EXPECT_EQ(Fetch(host.HttpUrl(L"/f/script"), L""), "Redirect to a URL that is not HTTP or HTTPS.");
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
}

TEST_F(Redirect, TheMemoryTransferKeepsItsPlaceAndCountAcrossAttempts) {
    // Attempt 1: three redirects to the target, which fails once. Attempt 2
    // starts at the target and does not walk the chain again.
    ServeChain("/f/chain", 3, {{"to", "/f/target.png"}});
    Serve({{"path", "/f/target.png"}, {"size", 2000}, {"failFirst", 1}});
    const auto bytes = WinHttpDownloader(cancelled).DownloadToMemory(host.Url(L"/f/chain"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 2000u);
    EXPECT_EQ(RequestCount(L"/f/chain"), 3u);
    EXPECT_EQ(RequestCount(L"/f/target.png"), 2u);

    // Four redirects in attempt 1, then the target fails; in attempt 2 the
    // target redirects twice more: the sixth redirect overall ends it.
    ServeChain("/f/chain4", 4, {{"to", "/f/second.png"}});
    ServeChain("/f/second.png", 2, {{"to", "/f/never.png"}});
    ASSERT_TRUE(host.SetFaults({{"path", "/f/second.png"}, {"statuses", {503}}}));
    const auto none = WinHttpDownloader(cancelled).DownloadToMemory(host.Url(L"/f/chain4"));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(RequestCount(L"/f/never.png"), 0u);
    EXPECT_EQ(RequestCount(L"/f/second.png"), 3u);
}

}  // namespace
}  // namespace ostrel::testing
