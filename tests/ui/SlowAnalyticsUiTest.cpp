// The real download wizard against an analytics host that answers late or
// not at all: loading never waits for the rules' rejection events, and
// closing waits for every event still under way, but no longer than one
// delivery attempt lasts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/ui/InstallFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

// The analytics host holds a request this long, then hangs up without an
// answer: as good as never for a wizard that waits at most one attempt.
constexpr int kSilenceMs = 12000;
// The closed wizard may wait for one delivery attempt (about 15 s at most).
constexpr DWORD kClosingBoundMs = 15000;

const char kProduct[] = R"("i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/e2e/kestrel.exe"})";

class SlowAnalytics : public InstallFlow {
protected:
    void SetUp() override {
        InstallFlow::SetUp();
        // One offer the rules keep; three more of its category they turn down.
        ASSERT_TRUE(server.WriteConfiguration(L"sa-rjct", std::string("{") + kProduct + R"(,"f":{"m":3},"o":[)" +
                                                              OfferJson("keep", 1, "e2e/keep.exe", "/S") + "," +
                                                              OfferJson("dup-1", 1, "e2e/d1.exe", "") + "," +
                                                              OfferJson("dup-2", 1, "e2e/d2.exe", "") + "," +
                                                              OfferJson("dup-3", 1, "e2e/d3.exe", "") + "]}"));
        ASSERT_TRUE(server.WriteConfiguration(L"sa-twoo", std::string("{") + kProduct + R"(,"f":{"m":3},"o":[)" +
                                                              OfferJson("alpha", 1, "e2e/a.exe", "/S") + "," +
                                                              OfferJson("beta", 2, "e2e/b.exe", "/S") + "]}"));
    }

    void TearDown() override {
        // Held requests are answered after the test otherwise, into the next
        // one's records. A test that failed early ended its wizard just now.
        if (silentSince) {
            const ULONGLONG end = (silentUntil ? silentUntil : ::GetTickCount64() + kSilenceMs) + 1000;
            const ULONGLONG now = ::GetTickCount64();
            if (now < end) ::Sleep(static_cast<DWORD>(end - now));
        }
        InstallFlow::TearDown();
    }

    void KeepAnalyticsSilent() {
        ASSERT_TRUE(server.SetFaults({{"path", "/zbd"}, {"delayMs", kSilenceMs}, {"drop", true}, {"count", 100}}));
        silentSince = ::GetTickCount64();
    }

    // Every request the wizard sends is made before its process ends; the
    // server lets go of the last one kSilenceMs later.
    void NoteProcessEnded() { silentUntil = ::GetTickCount64() + kSilenceMs; }

    struct HeldRequest {
        long long receivedMs;  // milliseconds into the server's day
        json event;
    };

    // Every request the analytics host has let go of, once it has let go of
    // the last one, with the time it arrived and its event body.
    std::vector<HeldRequest> HeldRequests() {
        const ULONGLONG end = silentUntil + 1000;
        const ULONGLONG now = ::GetTickCount64();
        if (now < end) ::Sleep(static_cast<DWORD>(end - now));
        std::vector<HeldRequest> held;
        for (const json& request : server.FullRequests(L"/zbd")) {
            const json envelope = json::parse(request.at("body").get<std::string>(), nullptr, false);
            if (!envelope.is_object() || !envelope.contains("data")) continue;
            held.push_back({MillisecondsOfDay(request.at("receivedAt").get<std::string>()),
                            json::parse(envelope.at("data").get<std::string>(), nullptr, false)});
        }
        return held;
    }

    std::vector<json> HeldEvents() {
        std::vector<json> events;
        for (const HeldRequest& request : HeldRequests()) events.push_back(request.event);
        return events;
    }

    // "2026-12-09T18:20:01.123Z" -> 66001123.
    static long long MillisecondsOfDay(const std::string& timestamp) {
        int hours = 0, minutes = 0, seconds = 0, millis = 0;
        if (std::sscanf(timestamp.c_str(), "%*d-%*d-%*dT%d:%d:%d.%dZ", &hours, &minutes, &seconds, &millis) != 4) {
            return -1;
        }
        return ((hours * 60LL + minutes) * 60 + seconds) * 1000 + millis;
    }

    // Closes with the window's close box and OK; true when the process is
    // gone within the bound.
    bool CloseAndConfirm(RunningWizard& wizard, DWORD boundMs) {
        if (!wizard.driver.Close()) return false;
        const auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
        if (!box || !wizard.driver.Answer(box->window, IDOK)) return false;
        const ULONGLONG answered = ::GetTickCount64();
        const bool ended = wizard.process.WaitForExit(boundMs);
        closingMs = ::GetTickCount64() - answered;
        NoteProcessEnded();
        return ended;
    }

    ULONGLONG silentSince = 0;
    ULONGLONG silentUntil = 0;
    ULONGLONG closingMs = 0;
};

TEST_F(SlowAnalytics, RejectionEventsDoNotHoldUpLoading) {
    KeepAnalyticsSilent();
    RunningWizard wizard(L"DLM", L"sa-rjct", Options());
    ASSERT_NE(wizard.host, nullptr);
    // Three rejections, each held for 12 s by the host, must not stand
    // between the language page and the welcome page.
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);

    ASSERT_TRUE(CloseAndConfirm(wizard, kClosingBoundMs)) << "still running " << closingMs << " ms after OK";
    EXPECT_EQ(wizard.process.ExitCode(), 0u);

    // The rejections went out all the same.
    const std::vector<json> events = HeldEvents();
    std::set<std::string> rejected;
    for (const json& event : events) {
        if (event.value("6", "") != "2") continue;
        rejected.insert(event.value("5", ""));
        EXPECT_EQ(event.value("13", ""), "SAME VERTICAL OFFER ALREADY PRESENT");
    }
    EXPECT_EQ(rejected, (std::set<std::string>{"dup-1", "dup-2", "dup-3"}));
    EXPECT_FALSE(FindEvent(events, "5", "Kestrel Viewer").is_null());
}

TEST_F(SlowAnalytics, ClosingWaitsForRejectionEventsStillUnderWay) {
    // The first tries of the start event and of the rejections fail; each
    // goes again 5 s later, by which time the wizard has been closed.
    ASSERT_TRUE(server.SetFaults({{"path", "/zbd"}, {"statuses", {500, 500, 500, 500}}}));
    RunningWizard wizard(L"DLM", L"sa-rjct", Options());
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);
    ASSERT_TRUE(CloseAndConfirm(wizard, kClosingBoundMs)) << "still running " << closingMs << " ms after OK";
    EXPECT_EQ(wizard.process.ExitCode(), 0u);

    // Every rejection was delivered before the process ended: nothing is
    // left to deliver them afterwards.
    const json stored = server.Events();
    std::set<std::string> rejected;
    for (const json& event : stored) {
        const json data = TestServer::EventData(event);
        if (data.value("6", "") == "2") rejected.insert(data.value("5", ""));
    }
    EXPECT_EQ(rejected, (std::set<std::string>{"dup-1", "dup-2", "dup-3"}));
}

TEST_F(SlowAnalytics, ASilentHostHoldsTheClosedWizardForOneDeliveryAtMost) {
    RunningWizard wizard(L"DLM", L"sa-twoo", Options());
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr) << Describe(wizard);
    // Both offers seen: the first accepted, the second on screen.
    ASSERT_TRUE(driver.Click(welcome, IDC_NEXT));
    HWND first = driver.WaitForPage(L"ProductPage", kUiTimeoutMs);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(driver.Click(first, IDC_ACCEPT));
    ASSERT_NE(driver.WaitForNextPage(first, L"ProductPage", kUiTimeoutMs), nullptr);

    KeepAnalyticsSilent();
    // Three last events, each held for 12 s: one after the other they would
    // keep the hidden process for 36 s.
    ASSERT_TRUE(CloseAndConfirm(wizard, kClosingBoundMs)) << "still running " << closingMs << " ms after OK";
    EXPECT_EQ(wizard.process.ExitCode(), 0u);

    // All three went out together, before the wizard waited for any of them.
    std::set<std::string> closed;
    long long earliest = -1, latest = -1;
    for (const HeldRequest& request : HeldRequests()) {
        if (request.event.value("6", "") != "5") continue;
        closed.insert(request.event.value("5", ""));
        ASSERT_GE(request.receivedMs, 0);
        if (earliest < 0 || request.receivedMs < earliest) earliest = request.receivedMs;
        latest = std::max(latest, request.receivedMs);
    }
    EXPECT_EQ(closed, (std::set<std::string>{"alpha", "beta", "Kestrel Viewer"}));
    // One after the other they would have come 12 s apart.
    EXPECT_LT(latest - earliest, 3000) << "close events arrived over " << latest - earliest << " ms";
}

}  // namespace
