// Each stage's failure texts, caused for real by the file host or the network,
// and the files a failure leaves (none).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "download/WinHttpDownloader.h"
#include "download/WinInetDownloader.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

// The text a stage fails with; "succeeded" when it did not fail.
template <typename Stage>
std::string FailureOf(Stage stage) {
    try {
        stage();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "succeeded";
}

// ERROR_INTERNET_CONNECTION_ABORTED (wininet.h cannot share a unit with winhttp.h).
constexpr DWORD kWinInetConnectionAborted = 12030;

std::string WithCode(const std::string& what, DWORD code) {
    // Codes are written signed, as the transfers write them.
    return what + " " + std::to_string(static_cast<int>(code)) + " - " + Narrow(SystemText(code));
}

class FailureText : public DownloadTest {
protected:
    std::string WinHttp(const std::wstring& url) { return WinHttpTo(url, Destination()); }
    std::string WinHttpTo(const std::wstring& url, const std::wstring& destination) {
        return FailureOf([&] { WinHttpDownloader(cancelled).DownloadToFile(url, destination, nullptr); });
    }
    std::string WinInet(const std::wstring& url) { return WinInetTo(url, Destination()); }
    std::string WinInetTo(const std::wstring& url, const std::wstring& destination) {
        return FailureOf([&] { WinInetDownloader(cancelled).DownloadToFile(url, destination, nullptr); });
    }
    std::wstring Destination() const { return folders->Work() + L"\\file.bin"; }
    // A port on the host's address where nothing listens.
    std::wstring Refused(const std::wstring& scheme) const { return scheme + L"://" + host.Address() + L":9/f/x"; }

    std::atomic<bool> cancelled{false};
};

TEST_F(FailureText, StatusesOutsideWhatAStageAccepts) {
    Serve({{"path", "/f/partial.bin"}, {"status", 206}, {"body", "part"}});
    Serve({{"path", "/f/broken.bin"}, {"status", 500}, {"body", "oops"}});
    for (const auto& url : {host.Url(L"/f/missing.bin"), host.HttpUrl(L"/f/missing.bin")}) {
        EXPECT_EQ(WinHttp(url), "Download failed: Server returned status code: 404");
        EXPECT_EQ(WinInet(url).rfind("Server returned status code: HTTP 404 - ", 0), 0u) << WinInet(url);
    }
    EXPECT_EQ(WinHttp(host.Url(L"/f/broken.bin")), "Download failed: Server returned status code: 500");
    // The fallback takes 200 only.
    EXPECT_EQ(WinHttp(host.Url(L"/f/partial.bin")), "succeeded");
    EXPECT_EQ(WinInet(host.Url(L"/f/partial.bin")).rfind("Server returned status code: HTTP 206 - ", 0), 0u);
    // Only the 206 download stayed; the failed ones took their temporary files along.
    EXPECT_EQ(FilesIn(folders->Work()), std::vector<std::wstring>{L"file.bin"});
}

TEST_F(FailureText, NetworkFailuresCarryTheirErrorCodes) {
    // WinHTTP connects when it sends; both stacks report 12029 for a refused connection.
    for (const wchar_t* scheme : {L"http", L"https"}) {
        EXPECT_EQ(WinHttp(Refused(scheme)), WithCode("Failed to send request:", 12029));
        EXPECT_EQ(WinInet(Refused(scheme)), WithCode("Failed to open URL::", 12029));
    }
    // Plain HTTP to the TLS listener: no HTTP answer comes. Whether the stack
    // sees garbage (12152) or the reset that follows it (10054) is a race; the
    // text has the same form either way.
    const std::string noAnswer = WinHttp(L"http://" + host.Address() + L":443/f/x");
    const std::string prefix = "Failed to receive response: ";
    ASSERT_EQ(noAnswer.rfind(prefix, 0), 0u) << noAnswer;
    const DWORD code = std::stoul(noAnswer.substr(prefix.size()));
    EXPECT_EQ(noAnswer, WithCode("Failed to receive response:", code));
    // A URL that cannot be split fails like any other step.
    EXPECT_EQ(WinHttp(L"not a url"), WithCode("Failed to parse URL:", 12006));
    EXPECT_EQ(WinInet(L"not a url"), WithCode("Failed to open URL::", 12006));
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
}

TEST_F(FailureText, ShortBodiesNameBothLengths) {
    Serve({{"path", "/f/short.bin"}, {"size", 100}, {"cutAfter", 99}});
    // Past 4 GiB: a 32-bit reading of the length would name another number.
    Serve({{"path", "/f/huge.bin"}, {"size", 1000}, {"contentLength", 4294967396ull}});
    for (const auto& url : {host.Url(L"/f/short.bin"), host.HttpUrl(L"/f/short.bin")}) {
        EXPECT_EQ(WinHttp(url), "Download was incomplete: content length: 100, downloaded: 99");
        EXPECT_EQ(WinInet(url), "Download was incomplete: content length: 100, downloaded: 99");
    }
    EXPECT_EQ(WinHttp(host.Url(L"/f/huge.bin")),
              "Download was incomplete: content length: 4294967396, downloaded: 1000");
    EXPECT_EQ(WinInet(host.HttpUrl(L"/f/huge.bin")),
              "Download was incomplete: content length: 4294967396, downloaded: 1000");
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
}

TEST_F(FailureText, WithoutALengthACutBodyIsTakenAsWhole) {
    Serve({{"path", "/f/cut.bin"}, {"size", 100000}, {"framing", "close"}, {"cutAfter", 5000}});
    EXPECT_EQ(WinHttp(host.Url(L"/f/cut.bin")), "succeeded");
    EXPECT_EQ(ReadFileBytes(Destination()).value_or(std::string()).size(), 5000u);
    ::DeleteFileW(Destination().c_str());
    EXPECT_EQ(WinInet(host.HttpUrl(L"/f/cut.bin")), "succeeded");
    EXPECT_EQ(ReadFileBytes(Destination()).value_or(std::string()).size(), 5000u);
}

TEST_F(FailureText, AFileThatCannotBeCreatedFailsAfterTheResponseHead) {
    Serve({{"path", "/f/a.bin"}, {"body", "abc"}});
    const std::wstring nowhere = folders->Work() + L"\\no such folder\\a.bin";
    EXPECT_EQ(WinHttpTo(host.Url(L"/f/a.bin"), nowhere),
              WithCode("Failed to open file for writing:", ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(WinInetTo(host.HttpUrl(L"/f/a.bin"), nowhere),
              WithCode("Failed to open file for writing:", ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(WinHttpTo(host.Url(L"/f/a.bin"), L""),
              WithCode("Failed to open file for writing:", ERROR_PATH_NOT_FOUND));
    // The requests went out all the same.
    EXPECT_EQ(RequestCount(L"/f/a.bin"), 3u);
}

TEST_F(FailureText, CancelledBeforeTheFirstReadAfterTheRequest) {
    Serve({{"path", "/f/a.bin"}, {"size", 50000}});
    cancelled = true;
    EXPECT_EQ(WinHttp(host.Url(L"/f/a.bin")), "Download cancelled.");
    EXPECT_EQ(RequestCount(L"/f/a.bin"), 1u);
    // The fallback looks at the flag too.
    EXPECT_EQ(WinInet(host.Url(L"/f/a.bin")), "Download cancelled.");
    EXPECT_EQ(RequestCount(L"/f/a.bin"), 2u);
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
}

TEST_F(FailureText, CancellingARunningTransferStopsItAtTheNextRead) {
    // 100 pieces a quarter of a second apart: 25 s if nobody stopped it.
    Serve({{"path", "/f/slow.bin"}, {"size", 100000}, {"chunkBytes", 1000}, {"chunkDelayMs", 250}});
    for (const bool winInet : {false, true}) {
        cancelled = false;
        const auto start = std::chrono::steady_clock::now();
        std::thread canceller([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            cancelled = true;
        });
        const std::wstring url = host.HttpUrl(L"/f/slow.bin");
        const std::string failure = winInet ? WinInet(url) : WinHttp(url);
        canceller.join();
        const char* stage = winInet ? "WinINet" : "WinHTTP";
        EXPECT_EQ(failure, "Download cancelled.") << stage;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << stage;
        // The part already written went with the temporary file.
        EXPECT_TRUE(FilesIn(folders->Work()).empty()) << stage;
    }
}

}  // namespace

TEST_F(FailureText, BrokenTlsInTheBodyFailsTheQueryOrTheRead) {
    // After 50000 good bytes the host sends bytes that are no TLS record.
    const nlohmann::json broken = {{"size", 100000}, {"cutAfter", 50000}, {"cutWith", "noise"}};
    auto behaviour = [&](const char* path, const char* framing) {
        nlohmann::json b = broken;
        b["path"] = path;
        b["framing"] = framing;
        return b;
    };
    Serve(behaviour("/f/length.bin", "length"));
    Serve(behaviour("/f/chunked.bin", "chunked"));
    Serve(behaviour("/f/close.bin", "close"));
    // WinHTTP meets the noise while it refills its buffer: in the query for
    // more data, or in the read that ends a chunk and looks for the next one.
    // Wine has no text for the TLS code, so the texts end at the separator.
    EXPECT_EQ(WinHttp(host.Url(L"/f/length.bin")), WithCode("Failed to query data:", SEC_E_INCOMPLETE_MESSAGE));
    EXPECT_EQ(WinHttp(host.Url(L"/f/close.bin")), WithCode("Failed to query data:", SEC_E_INCOMPLETE_MESSAGE));
    EXPECT_EQ(WinHttp(host.Url(L"/f/chunked.bin")), WithCode("Failed to read data:", SEC_E_INCOMPLETE_MESSAGE));
    EXPECT_TRUE(FilesIn(folders->Work()).empty());

    // The fallback fails the read that meets the noise too, with a length and
    // without one: the part that came is never taken for the file.
    EXPECT_EQ(WinInet(host.Url(L"/f/length.bin")), WithCode("Failed to read data:", kWinInetConnectionAborted));
    EXPECT_EQ(WinInet(host.Url(L"/f/close.bin")), WithCode("Failed to read data:", kWinInetConnectionAborted));
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
    // Wine's WinINet alone ends a chunked body quietly where its connection
    // breaks: no read fails, and without a length nothing else tells.
    EXPECT_EQ(WinInet(host.Url(L"/f/chunked.bin")), "succeeded");
    EXPECT_LE(ReadFileBytes(Destination()).value_or(std::string()).size(), 50000u);
}
}  // namespace ostrel::testing
