// The JSON client against a real reference server over TLS.
#include <gtest/gtest.h>

#include <string>

#include "api/JsonClient.h"
#include "core/OstrelException.h"
#include "tests/common/TestServer.h"

namespace {

using nlohmann::json;
using ostrel::testing::TestServer;

class JsonClient : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.2 not reachable"; }

    // The headers the server saw on the last request to a path, as (name, value) in order.
    std::vector<std::pair<std::string, std::string>> LastHeaders(const std::wstring& path) {
        std::vector<std::pair<std::string, std::string>> headers;
        const json requests = server.FullRequests(path);
        if (!requests.is_array() || requests.empty()) return headers;
        for (const auto& header : requests.back().at("headers")) {
            headers.emplace_back(header.at(0).get<std::string>(), header.at(1).get<std::string>());
        }
        return headers;
    }

    TestServer server{L"127.0.0.2"};
};

TEST_F(JsonClient, PostsTheBodyAsIsAndReturnsStatusAndBody) {
    std::string response;
    DWORD status = 0;
    const std::string body = R"({"a":"b","n":1})";
    ASSERT_TRUE(PostJson(server.Url(L"/o"), body, HttpHeaders{}, response, status));
    EXPECT_EQ(status, 200u);
    EXPECT_TRUE(json::parse(response).is_object());
    const json received = server.Requests(L"/o");
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], body);
}

TEST_F(JsonClient, AlwaysUsesTlsOnPort443AndDropsTheQuery) {
    std::string response;
    DWORD status = 0;
    // Scheme, port and query of the URL take no part in the request.
    ASSERT_TRUE(PostJson(L"http://127.0.0.2:8080/o?x=1&y=2", "{}", HttpHeaders{}, response, status));
    EXPECT_EQ(status, 200u);
    const json full = server.FullRequests(L"/o");
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].at("path"), "/o");
    EXPECT_EQ(full[0].at("listener"), "https");
}

TEST_F(JsonClient, ErrorStatusesAndEmptyBodiesAreAnswersNotFailures) {
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"statuses", {404, 500}}, {"bodies", {"", "boom"}}}));
    std::string response = "kept ";
    DWORD status = 0;
    EXPECT_TRUE(PostJson(server.Url(L"/o"), "{}", HttpHeaders{}, response, status));
    EXPECT_EQ(status, 404u);
    // The body is appended to what the caller's string held.
    EXPECT_EQ(response, "kept ");
    response.clear();
    EXPECT_TRUE(PostJson(server.Url(L"/o"), "{}", HttpHeaders{}, response, status));
    EXPECT_EQ(status, 500u);
    EXPECT_EQ(response, "boom");
}

TEST_F(JsonClient, CallerHeadersComeFirstAndAreNotChanged) {
    const HttpHeaders headers{{L"Authorization", L"Signature=abc"}, {L"Content-Type", L"text/plain"}};
    const HttpHeaders before = headers;
    std::string response;
    DWORD status = 0;
    ASSERT_TRUE(PostJson(server.Url(L"/o"), "{}", headers, response, status));
    EXPECT_EQ(headers, before);

    // The server keeps headers of one name in arrival order (not across names).
    std::vector<std::string> contentTypes;
    std::vector<std::string> others;
    for (const auto& [name, value] : LastHeaders(L"/o")) {
        if (name == "Content-Type") contentTypes.push_back(value);
        if (name == "Authorization" || name == "Expect") others.push_back(name + "=" + value);
    }
    // Both Content-Type lines go out: the caller's, then the client's own.
    EXPECT_EQ(contentTypes, (std::vector<std::string>{"text/plain", "application/json"}));
    EXPECT_EQ(others, (std::vector<std::string>{"Authorization=Signature=abc", "Expect=100-continue"}));
}

TEST_F(JsonClient, UnreachableServerAndBadUrlsThrow) {
    std::string response;
    DWORD status = 0;
    // Nothing listens on this loopback address.
    EXPECT_THROW(PostJson(L"https://127.0.0.9/o", "{}", HttpHeaders{}, response, status), OstrelException);
    EXPECT_THROW(PostJson(L"not a url", "{}", HttpHeaders{}, response, status), OstrelException);
}

TEST_F(JsonClient, ACutAnswerIsAFailedRequestNotAShortOne) {
    // After half the body the server sends bytes that are no TLS record and
    // drops the connection (with a length, chunked, ended by closing); or it
    // drops the connection short of the length it announced.
    const json cuts[] = {
        {{"framing", "length"}, {"cutWith", "noise"}},
        {{"framing", "chunked"}, {"cutWith", "noise"}},
        {{"framing", "close"}, {"cutWith", "noise"}},
        {{"framing", "length"}, {"cutWith", "close"}},
    };
    int number = 0;
    for (const json& cut : cuts) {
        const std::wstring path = L"/j/cut-" + std::to_wstring(++number);
        json behaviour = cut;
        behaviour.update({{"path", std::string(path.begin(), path.end())},
                          {"body", std::string(40000, '{')},
                          {"cutAfter", 20000},
                          {"contentType", "application/json"}});
        ASSERT_TRUE(server.SetFile(behaviour));
        std::string response;
        DWORD status = 0;
        EXPECT_THROW(PostJson(server.Url(path), "{}", HttpHeaders{}, response, status), OstrelException)
            << cut.dump() << ": " << response.size() << " bytes taken for the answer";
        // The request itself went out once: the failure is the answer's.
        EXPECT_EQ(server.Requests(path).size(), 1u) << cut.dump();
    }
    // The same answer whole is an answer.
    ASSERT_TRUE(server.SetFile({{"path", "/j/whole"}, {"body", std::string(40000, '{')}}));
    std::string response;
    DWORD status = 0;
    EXPECT_TRUE(PostJson(server.Url(L"/j/whole"), "{}", HttpHeaders{}, response, status));
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(response.size(), 40000u);
}

TEST_F(JsonClient, OversizedAnswersFailLikeAnyFailedRequest) {
    const std::string huge(kMaxJsonResponseBytes + 1024, ' ');
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"statuses", {200}}, {"bodies", {huge}}}));
    std::string response;
    DWORD status = 0;
    EXPECT_THROW(PostJson(server.Url(L"/o"), "{}", HttpHeaders{}, response, status), OstrelException);
}

}  // namespace
