// Redirects. Both stages follow every 3xx themselves, at most five in a row,
// and judge each hop: never from HTTPS down to HTTP, never to a URL with user
// credentials.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "download/DownloadManager.h"
#include "download/WinHttpDownloader.h"
#include "download/WinInetDownloader.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

using nlohmann::json;

enum class Stage { WinHttp, WinInet };

const char* NameOf(Stage stage) {
    return stage == Stage::WinHttp ? "WinHTTP stage" : "WinINet stage";
}

constexpr Stage kBothStages[] = {Stage::WinHttp, Stage::WinInet};

class Redirect : public DownloadTest {
protected:
    // The WinHTTP stage alone: its text, or "ok" with the file checked against path.
    std::string Fetch(const std::wstring& url, const std::wstring& servedPath) {
        return FetchWith(Stage::WinHttp, url, servedPath);
    }

    // One stage alone: its text, or "ok" with the file checked against path.
    std::string FetchWith(Stage stage, const std::wstring& url, const std::wstring& servedPath) {
        const std::wstring destination = folders->Work() + L"\\r.bin";
        try {
            const CStringW file = stage == Stage::WinHttp
                                      ? WinHttpDownloader(cancelled).DownloadToFile(url, destination, nullptr).path
                                      : WinInetDownloader(cancelled).DownloadToFile(url, destination, nullptr).path;
            const bool same = FileSha256(file) == ServedSha256(servedPath);
            ::DeleteFileW(file.c_str());
            return same ? "ok" : "wrong bytes";
        } catch (const std::exception& error) {
            return error.what();
        }
    }

    // The listeners ("https", "http") the requests to a path arrived on, in order.
    std::vector<std::string> Listeners(const std::wstring& path) const {
        std::vector<std::string> listeners;
        for (const json& request : host.FullRequests(path)) listeners.push_back(request.at("listener"));
        return listeners;
    }

    // An absolute URL on the file host with user credentials in it.
    std::string WithCredentials(const std::string& scheme, const std::string& path) const {
        return scheme + "://user:secret@" + Narrow(host.Address()) + path;
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

TEST_F(Redirect, OrdinaryRedirectsAreFollowedAndCountedByBothStages) {
    // WinHTTP and WinINet would follow these themselves, unseen; here each hop
    // is the program's and counts.
    for (int status : {301, 302, 303, 307, 308}) {
        const std::string five = "/f/ordinary-" + std::to_string(status) + ".bin";
        const std::string eight = "/f/long-" + std::to_string(status) + ".bin";
        Serve({{"path", five}, {"size", 30000}, {"redirect", {{"hops", 5}, {"status", status}}}});
        Serve({{"path", eight}, {"size", 30000}, {"redirect", {{"hops", 8}, {"status", status}}}});
        for (Stage stage : kBothStages) {
            const std::wstring fivePath(five.begin(), five.end());
            const std::wstring eightPath(eight.begin(), eight.end());
            EXPECT_EQ(FetchWith(stage, host.Url(fivePath), fivePath), "ok") << NameOf(stage) << " " << status;
            EXPECT_EQ(FetchWith(stage, host.HttpUrl(eightPath), eightPath), "Too many redirects.")
                << NameOf(stage) << " " << status;
        }
        // Six requests per stage for each: five redirects and the file, six redirects and no seventh.
        EXPECT_EQ(RequestCount(std::wstring(five.begin(), five.end())), 12u) << status;
        EXPECT_EQ(RequestCount(std::wstring(eight.begin(), eight.end())), 12u) << status;
    }
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
}

TEST_F(Redirect, NeitherStageFollowsHttpsDownToHttp) {
    for (int status : {300, 301, 302, 303, 307, 308}) {
        const std::string path = "/f/down-" + std::to_string(status) + ".bin";
        const std::wstring widePath(path.begin(), path.end());
        Serve({{"path", path}, {"size", 30000}, {"redirect", {{"hops", 1}, {"status", status}, {"scheme", "http"}}}});
        for (Stage stage : kBothStages) {
            EXPECT_EQ(FetchWith(stage, host.Url(widePath), widePath), "Redirect from HTTPS to HTTP refused.")
                << NameOf(stage) << " " << status;
        }
        // The HTTP listener never heard of it: one HTTPS request per stage.
        EXPECT_EQ(Listeners(widePath), (std::vector<std::string>{"https", "https"})) << status;
    }
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
}

TEST_F(Redirect, ADowngradeLaterInTheChainIsRefusedToo) {
    // http -> https (an upgrade, followed) -> http (refused), in both stages.
    Serve({{"path", "/f/zigzag.bin"}, {"size", 30000}, {"redirect", {{"hops", 3}, {"scheme", "alternate"}}}});
    for (Stage stage : kBothStages) {
        EXPECT_EQ(FetchWith(stage, host.HttpUrl(L"/f/zigzag.bin"), L"/f/zigzag.bin"),
                  "Redirect from HTTPS to HTTP refused.")
            << NameOf(stage);
    }
    EXPECT_EQ(Listeners(L"/f/zigzag.bin"), (std::vector<std::string>{"http", "https", "http", "https"}));
    // Up from HTTP to HTTPS is no downgrade.
    Serve({{"path", "/f/up.bin"}, {"size", 30000}, {"redirect", {{"hops", 2}, {"scheme", "https"}}}});
    for (Stage stage : kBothStages) {
        EXPECT_EQ(FetchWith(stage, host.HttpUrl(L"/f/up.bin"), L"/f/up.bin"), "ok") << NameOf(stage);
    }
    EXPECT_EQ(Listeners(L"/f/up.bin"), (std::vector<std::string>{"http", "https", "https", "http", "https", "https"}));
}

TEST_F(Redirect, TheDownloadManagerFailsADowngradeInBothStagesAndKeepsNoFile) {
    Serve({{"path", "/f/setup.exe"}, {"size", 30000}, {"redirect", {{"hops", 1}, {"scheme", "http"}}}});
    auto manager = std::make_shared<DownloadManager>();
    const auto result = manager->DownloadFile(host.Url(L"/f/setup.exe"), nullptr, CStringW(), false);
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second,
              L"[WINHTTP] Redirect from HTTPS to HTTP refused. [WININET] Redirect from HTTPS to HTTP refused.");
    EXPECT_TRUE(FilesIn(folders->Downloads()).empty());
    EXPECT_TRUE(manager->lastFilePath.empty());
    EXPECT_EQ(Listeners(L"/f/setup.exe"), (std::vector<std::string>{"https", "https"}));

    // Pictures keep to HTTPS as well.
    Serve({{"path", "/f/picture.png"}, {"size", 3000}, {"redirect", {{"hops", 1}, {"scheme", "http"}}}});
    const auto bytes = manager->DownloadToMemory(host.Url(L"/f/picture.png"));
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(bytes->empty());
    EXPECT_EQ(Listeners(L"/f/picture.png"), (std::vector<std::string>{"https", "https"}));
}

TEST_F(Redirect, UrlsWithUserCredentialsAreRefusedAtTheStartAndOnEveryHop) {
    Serve({{"path", "/f/a.bin"}, {"size", 30000}});
    for (const std::string& scheme : {std::string("https"), std::string("http")}) {
        const std::string url = WithCredentials(scheme, "/f/a.bin");
        for (Stage stage : kBothStages) {
            EXPECT_EQ(FetchWith(stage, std::wstring(url.begin(), url.end()), L"/f/a.bin"),
                      "URL with user credentials refused.")
                << NameOf(stage) << " " << url;
        }
    }
    // Nothing was asked for: no request could carry the password anywhere.
    EXPECT_EQ(RequestCount(L"/f/a.bin"), 0u);

    Serve({{"path", "/f/to-credentials"}, {"status", 302}, {"location", WithCredentials("https", "/f/a.bin")}});
    const std::string schemeRelative = "//user:secret@" + Narrow(host.Address()) + "/f/a.bin";
    Serve({{"path", "/f/chain-to-credentials"}, {"redirect", {{"hops", 2}, {"status", 300}, {"to", schemeRelative}}}});
    for (Stage stage : kBothStages) {
        EXPECT_EQ(FetchWith(stage, host.Url(L"/f/to-credentials"), L"/f/a.bin"),
                  "Redirect to a URL with user credentials refused.")
            << NameOf(stage);
        EXPECT_EQ(FetchWith(stage, host.HttpUrl(L"/f/chain-to-credentials"), L"/f/a.bin"),
                  "Redirect to a URL with user credentials refused.")
            << NameOf(stage);
    }
    EXPECT_EQ(RequestCount(L"/f/to-credentials"), 2u);
    EXPECT_EQ(RequestCount(L"/f/chain-to-credentials"), 4u);
    EXPECT_EQ(RequestCount(L"/f/a.bin"), 0u);
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
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
    Serve({{"path", "/f/to-long-absolute"},
           {"status", 300},
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
