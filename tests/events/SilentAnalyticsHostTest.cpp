// Events sent to an analytics host that takes the connection and then keeps
// silent: every delivery gives up on its own, so nothing that waits for it
// waits long.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "api/EventProtocol.h"
#include "api/EventTemplate.h"
#include "packages/Package.h"
#include "core/ConfigurationManager.h"
#include "tests/common/TestServer.h"

namespace {

using nlohmann::json;
using ostrel::testing::TestServer;
using Clock = std::chrono::steady_clock;

// The host holds each request this long, then hangs up without an answer.
constexpr int kSilenceMs = 12000;

json Offer(const std::string& code) {
    return {{"ad", {{"f", "tag"}, {"o", code}}}, {"ps", {{"i", "i.png"}, {"dn", code}, {"u", "u.exe"}}}};
}

class SilentAnalyticsHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.3 not reachable";
        settings = ConfigurationManager::GetInstance();
        settings->eventsUrl = server.Url(L"/zbd");
    }
    // Held requests are recorded when the server lets go of them; waiting for
    // that keeps them out of the next test's records.
    void TearDown() override {
        const ULONGLONG deadline = ::GetTickCount64() + kSilenceMs + 5000;
        while (server.FullRequests(L"/zbd").size() < heldRequests && ::GetTickCount64() < deadline) ::Sleep(200);
    }

    void KeepSilentFor(size_t requests) {
        ASSERT_TRUE(server.SetFaults(
            {{"path", "/zbd"}, {"delayMs", kSilenceMs}, {"drop", true}, {"count", static_cast<int>(requests)}}));
        heldRequests = requests;
    }

    TestServer server{L"127.0.0.3"};
    std::shared_ptr<ConfigurationManager> settings;
    size_t heldRequests = 0;
};

TEST_F(SilentAnalyticsHost, EveryDeliveryGivesUpOnItsOwnAndSideBySide) {
    KeepSilentFor(4);
    std::vector<std::shared_ptr<Package>> packages;
    for (const char* code : {"a", "b", "c", "d"}) {
        packages.push_back(std::make_shared<Package>(BuildEventTemplate(), Offer(code), false, "", 0));
    }
    const auto started = Clock::now();
    for (const auto& package : packages) package->SendEvent(EventType::Closed, nullptr);
    for (const auto& package : packages) package->WaitForEvents();
    // The host would have held each of them for 12 s, one after the other
    // for 48; an attempt that waits at most 5 s for the answer to start
    // ends them all together.
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(10000));
    // Lost, and not tried again: a retry would have found the host answering.
    for (const auto& package : packages) EXPECT_FALSE(package->FinalEventSent());
    EXPECT_TRUE(server.Events().empty());
}

}  // namespace
