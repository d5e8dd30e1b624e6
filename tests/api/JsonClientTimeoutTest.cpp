// The JSON client's timeouts against a reference server that takes the
// request and then keeps silent.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "api/JsonClient.h"
#include "core/OstrelException.h"
#include "tests/common/TestServer.h"

namespace {

using ostrel::testing::TestServer;

constexpr HttpTimeouts kOneSecondEach{1000, 1000, 1000, 1000};

class JsonClientTimeouts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.2 not reachable"; }
    // A held request is recorded when the server lets go of it; waiting for
    // that keeps it out of the next test's records.
    void TearDown() override {
        const ULONGLONG deadline = ::GetTickCount64() + 15000;
        while (server.FullRequests(L"/o").size() < heldRequests && ::GetTickCount64() < deadline) ::Sleep(100);
    }

    // Holds the next request to /o for delayMs, then hangs up without an answer.
    void HoldNextRequest(int delayMs) {
        ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"delayMs", delayMs}, {"drop", true}}));
        ++heldRequests;
    }

    TestServer server{L"127.0.0.2"};
    size_t heldRequests = 0;
};

TEST_F(JsonClientTimeouts, ASilentHostEndsTheRequestWhenTheReceiveTimeoutRunsOut) {
    HoldNextRequest(6000);
    std::string response;
    DWORD status = 0;
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_THROW(PostJson(server.Url(L"/o"), "{}", HttpHeaders{}, response, status, kOneSecondEach), OstrelException);
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    // One second for the answer to start, with room for a slow machine; the
    // host would have kept the request for six.
    EXPECT_LT(elapsed, 4000u);
    EXPECT_EQ(status, 0u);
}

TEST_F(JsonClientTimeouts, AHostThatAnswersWithinTheTimeoutsIsWaitedFor) {
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"delayMs", 1500}}));
    const HttpTimeouts generous{2000, 2000, 2000, 5000};
    std::string response;
    DWORD status = 0;
    EXPECT_TRUE(PostJson(server.Url(L"/o"), R"({"u":"none"})", HttpHeaders{}, response, status, generous));
    EXPECT_EQ(status, 200u);
    EXPECT_FALSE(response.empty());
}

TEST_F(JsonClientTimeouts, WithoutTimeoutsTheSystemsOwnApply) {
    // Longer than the one-second bound above: only the explicit timeouts cut it short.
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"delayMs", 2500}}));
    std::string response;
    DWORD status = 0;
    EXPECT_TRUE(PostJson(server.Url(L"/o"), R"({"u":"none"})", HttpHeaders{}, response, status));
    EXPECT_EQ(status, 200u);
}

}  // namespace
