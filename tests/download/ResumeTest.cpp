// Transfers that are cut and continue where they stopped: what the host is
// asked for, the bytes and digest that land, files that change between
// requests, hosts that cannot resume, cancellation and the progress bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <future>
#include <optional>
#include <thread>

#include "download/DownloadManager.h"
#include "download/DownloadMessages.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

using nlohmann::json;

// The Range and If-Range of a request ("" when it had none).
struct Asked {
    std::string range;
    std::string ifRange;
};

std::string HeaderOf(const json& request, const std::string& name) {
    for (const json& header : request.value("headers", json::array())) {
        std::string key = header[0].get<std::string>();
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        if (key == name) return header[1].get<std::string>();
    }
    return {};
}

std::vector<Asked> AskedOf(const TestServer& host, const std::wstring& path) {
    std::vector<Asked> asked;
    for (const json& request : host.FullRequests(path)) {
        asked.push_back({HeaderOf(request, "range"), HeaderOf(request, "if-range")});
    }
    return asked;
}

// The bar only moves forward, but for one return to 0 when the file starts over.
void ExpectProgressForward(const std::vector<WPARAM>& values, int restarts) {
    ASSERT_FALSE(values.empty());
    int backs = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        if (values[i] >= values[i - 1]) continue;
        EXPECT_EQ(values[i], 0u) << "post " << i;
        ++backs;
    }
    EXPECT_EQ(backs, restarts);
    EXPECT_EQ(values.back(), 100u);
}

class Resume : public DownloadTest {
protected:
    std::pair<bool, CStringW> Download(const std::wstring& url, const std::string& sha256 = {}) {
        std::future<std::pair<bool, CStringW>> future = std::async(std::launch::async, [&] {
            return manager->DownloadFile(url, recorder->Window(), CStringW(), true, sha256);
        });
        return recorder->Wait(future);
    }

    // Serves `first` until the host has answered one request for it, then `then`
    // in its place; the answer under way goes on with the first bytes.
    std::pair<bool, CStringW> DownloadWhileReplaced(const std::wstring& url, const std::wstring& path, json first,
                                                    json then) {
        Serve(first);
        std::future<std::pair<bool, CStringW>> future = std::async(std::launch::async, [&] {
            return manager->DownloadFile(url, recorder->Window(), CStringW(), true, std::string());
        });
        while (host.FullRequests(path).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Serve(then);
        return recorder->Wait(future);
    }

    std::shared_ptr<DownloadManager> manager = std::make_shared<DownloadManager>();
    // A fresh one for every download of a table.
    std::optional<ProgressRecorder> recorder;
};

TEST_F(Resume, ACutTransferAsksForTheRestAndLandsTheWholeFile) {
    struct Case {
        const char* name;
        json behaviour;
        std::vector<std::string> ranges;  // of each request, "" for none
        std::string ifRange;              // of each range: "tag" for the first answer's ETag
        int restarts = 0;                 // times the bar goes back to 0
    };
    const std::string date = "Tue, 01 Dec 2026 10:00:00 GMT";
    const Case cases[] = {
        {"cut at half", {{"size", 400000}, {"cutAfter", 200000}, {"cutFirst", 1}}, {"", "bytes=200000-"}, "tag"},
        {"three cuts in a row",
         {{"size", 400000}, {"cutAfter", 100000}, {"cutFirst", 3}},
         {"", "bytes=100000-", "bytes=200000-", "bytes=300000-"},
         "tag"},
        // Five WinHTTP requests, each cut; the WinINet stage asks for the rest.
        {"the fallback goes on from the fifth cut",
         {{"size", 300000}, {"cutAfter", 50000}, {"cutFirst", 5}},
         {"", "bytes=50000-", "bytes=100000-", "bytes=150000-", "bytes=200000-", "bytes=250000-"},
         "tag"},
        {"a date as validator",
         {{"size", 400000}, {"cutAfter", 200000}, {"cutFirst", 1}, {"etag", false}, {"lastModified", date}},
         {"", "bytes=200000-"},
         date},
        // Nothing to resume by: the fallback fetches the whole file, as it always did.
        {"no ranges", {{"size", 400000}, {"cutAfter", 200000}, {"cutFirst", 1}, {"ranges", false}}, {"", ""}, "", 1},
        {"a weak tag",
         {{"size", 400000}, {"cutAfter", 200000}, {"cutFirst", 1}, {"etag", "W/\"w\""}, {"lastModified", false}},
         {"", ""},
         "",
         1},
    };
    int served = 0;
    for (const Case& c : cases) {
        for (const bool secure : {true, false}) {
            const std::wstring path = L"/f/resume" + std::to_wstring(++served) + L".bin";
            json behaviour = c.behaviour;
            behaviour["path"] = Narrow(path);
            Serve(behaviour);
            const std::string expected = ServedSha256(path);
            recorder.emplace();
            const auto result = Download(secure ? host.Url(path) : host.HttpUrl(path), expected);
            const std::string label = std::string(c.name) + (secure ? " (https)" : " (http)");

            ASSERT_TRUE(result.first) << label << ": " << Narrow(result.second);
            EXPECT_EQ(FileSha256(manager->lastFilePath), expected) << label;
            EXPECT_EQ(manager->lastFileSha256, expected) << label;
            EXPECT_EQ(FilesIn(folders->Work()).size(), 1u) << label;
            const std::vector<Asked> asked = AskedOf(host, path);
            ASSERT_EQ(asked.size(), c.ranges.size()) << label;
            const std::string tag = HeaderOf(host.FullRequests(path)[0], "etag");
            for (size_t i = 0; i < asked.size(); ++i) {
                EXPECT_EQ(asked[i].range, c.ranges[i]) << label << ", request " << i;
                if (c.ranges[i].empty()) continue;
                const std::string expectedIfRange = c.ifRange == "tag" ? asked[i].ifRange : c.ifRange;
                EXPECT_EQ(asked[i].ifRange, expectedIfRange) << label << ", request " << i;
                EXPECT_FALSE(asked[i].ifRange.empty()) << label << ", request " << i;
            }
            ExpectProgressForward(recorder->Percentages(), c.restarts);
            ::DeleteFileW(manager->lastFilePath.c_str());
        }
    }
}

TEST_F(Resume, AFileReplacedBetweenRequestsStartsOverAndLandsWhole) {
    const json first = {{"path", "/f/moving.bin"}, {"size", 400000},      {"seed", 1},
                        {"cutAfter", 200000},      {"chunkBytes", 20000}, {"chunkDelayMs", 50}};
    struct Case {
        const char* name;
        json then;
        std::vector<std::string> ranges;
    };
    const Case cases[] = {
        // Another tag: the host answers the whole new file at once.
        {"another tag", {{"path", "/f/moving.bin"}, {"size", 300000}, {"seed", 2}}, {"", "bytes=200000-"}},
        // A host that keeps the tag for fewer bytes: 416, then the whole file.
        {"the same tag, shorter",
         {{"path", "/f/moving.bin"}, {"size", 100000}, {"seed", 3}, {"etag", "\"same\""}},
         {"", "bytes=200000-", ""}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(host.Reset());
        json before = first;
        if (c.then.contains("etag")) before["etag"] = c.then["etag"];
        recorder.emplace();
        const auto result = DownloadWhileReplaced(host.Url(L"/f/moving.bin"), L"/f/moving.bin", before, c.then);
        ASSERT_TRUE(result.first) << c.name << ": " << Narrow(result.second);
        const std::string replaced = ServedSha256(L"/f/moving.bin");
        EXPECT_EQ(FileSha256(manager->lastFilePath), replaced) << c.name;
        // The digest started again with the file, without reading it back.
        EXPECT_EQ(manager->lastFileSha256, replaced) << c.name;
        std::vector<std::string> ranges;
        for (const Asked& asked : AskedOf(host, L"/f/moving.bin")) ranges.push_back(asked.range);
        EXPECT_EQ(ranges, c.ranges) << c.name;
        EXPECT_EQ(FilesIn(folders->Work()).size(), 1u) << c.name;
        ExpectProgressForward(recorder->Percentages(), 1);
        ::DeleteFileW(manager->lastFilePath.c_str());
    }
}

TEST_F(Resume, CancellingDuringAResumedRequestLandsNothingAndAsksNoMore) {
    // The first answer is cut after two pieces; the rest comes slowly.
    Serve({{"path", "/f/slow.bin"},
           {"size", 400000},
           {"cutAfter", 100000},
           {"cutFirst", 1},
           {"chunkBytes", 50000},
           {"chunkDelayMs", 400}});
    recorder.emplace();
    std::thread canceller([this] {
        while (host.FullRequests(L"/f/slow.bin").size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        manager->cancelled = true;
    });
    const auto result = Download(host.Url(L"/f/slow.bin"));
    canceller.join();
    EXPECT_FALSE(result.first);
    EXPECT_EQ(result.second, L"[WINHTTP] Download cancelled.");
    const std::vector<Asked> asked = AskedOf(host, L"/f/slow.bin");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].range, "bytes=100000-");
    EXPECT_TRUE(FilesIn(folders->Work()).empty());
    EXPECT_TRUE(manager->lastFilePath.empty());
}

}  // namespace
}  // namespace ostrel::testing
