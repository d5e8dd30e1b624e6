// Analytics events of packages as the reference server stores them.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>

#include "api/EventProtocol.h"
#include "api/EventTemplate.h"
#include "api/Sha256.h"
#include "packages/Package.h"
#include "core/ConfigurationManager.h"
#include "tests/common/TestServer.h"

namespace {

using nlohmann::json;
using ostrel::testing::TestServer;
using Clock = std::chrono::steady_clock;

json OfferJson() {
    return json::parse(R"({"ad":{"f":"tag-7","o":"offer-7"},
                           "ps":{"i":"img/7.png","dn":"Seven","u":"dl/7.exe","c":"chan-7"}})");
}

class AnalyticsEvents : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.3 not reachable";
        settings = ConfigurationManager::GetInstance();
        settings->eventsUrl = server.Url(L"/zbd");
        settings->productTitle = L"Kestrel Viewer";
    }

    static json EventData(const json& stored) {
        EXPECT_EQ(json::parse(stored.at("raw").get<std::string>()).at("table"), "zb_analytics");
        return TestServer::EventData(stored);
    }

    std::vector<json> StoredEvents(size_t atLeast, DWORD timeoutMs = 15000) {
        std::vector<json> bodies;
        for (const json& stored : server.WaitForEvents(atLeast, timeoutMs)) bodies.push_back(EventData(stored));
        return bodies;
    }

    TestServer server{L"127.0.0.3"};
    std::shared_ptr<ConfigurationManager> settings;
};

TEST_F(AnalyticsEvents, TemplateHoldsEveryFieldAndASignatureOfMachineAndSession) {
    const EventTemplate eventTemplate = BuildEventTemplate();
    for (int key = 0; key <= 22; ++key) EXPECT_TRUE(eventTemplate.body.contains(std::to_string(key))) << key;
    EXPECT_EQ(eventTemplate.body.at("15"), 0);
    EXPECT_EQ(eventTemplate.body.at("38"), "1");  // the prefix is 64-bit Windows
    EXPECT_EQ(eventTemplate.body.at("1"), settings->GetMachineId());
    EXPECT_EQ(eventTemplate.body.at("2"), settings->GetSessionTimestamp());
    ASSERT_EQ(eventTemplate.headers.size(), 1u);
    EXPECT_EQ(eventTemplate.headers[0].first, L"Authorization");
    const std::wstring& signature = eventTemplate.headers[0].second;
    ASSERT_EQ(signature.size(), 74u);
    EXPECT_EQ(signature.rfind(L"Signature=", 0), 0u);
    const std::string digest = Sha256Hex(settings->GetMachineId() + settings->GetSessionTimestamp());
    EXPECT_EQ(signature.substr(10), std::wstring(digest.begin(), digest.end()));
}

TEST_F(AnalyticsEvents, DeclinedOfferCarriesItsFieldsAndEndsItsReporting) {
    auto offer = std::make_shared<Package>(BuildEventTemplate(), OfferJson(), false, "", 2);
    offer->SendEvent(EventType::Declined, nullptr);
    offer->WaitForEvents();
    EXPECT_TRUE(offer->FinalEventSent());
    // Closing the wizard later sends nothing more for this offer.
    offer->SendEvent(EventType::Closed, nullptr);
    offer->WaitForEvents();

    const std::vector<json> events = StoredEvents(1);
    ASSERT_EQ(events.size(), 1u);
    const json& event = events[0];
    EXPECT_EQ(event.at("6"), "4");
    EXPECT_EQ(event.at("5"), "offer-7");
    EXPECT_EQ(event.at("10"), 2);
    EXPECT_EQ(event.at("16"), "chan-7");
    EXPECT_EQ(event.at("17"), "3");
    EXPECT_EQ(event.at("18"), "tag-7");
    EXPECT_EQ(event.at("22"), "Kestrel Viewer");
    EXPECT_EQ(event.at("3"), "Kelvanor");
}

TEST_F(AnalyticsEvents, AClosingWhileTheDeclineIsStillOnItsWayAddsNoSecondLastWord) {
    // The host answers the decline late, so the wizard closes before it knows
    // the decline arrived.
    ASSERT_TRUE(server.SetFaults({{"path", "/zbd"}, {"delayMs", 500}, {"count", 1}}));
    auto offer = std::make_shared<Package>(BuildEventTemplate(), OfferJson(), false, "", 2);
    offer->SendEvent(EventType::Declined, nullptr);
    offer->SendEvent(EventType::Closed, nullptr);
    offer->WaitForEvents();

    const std::vector<json> events = StoredEvents(1);
    ASSERT_EQ(events.size(), 1u) << json(events).dump();
    EXPECT_EQ(events[0].at("6"), "4");
}

TEST_F(AnalyticsEvents, OnlyFieldsOfTheFormatArriveFromExtraData) {
    auto offer = std::make_shared<Package>(BuildEventTemplate(), OfferJson(), false, "", 0);
    offer->SendEvent(EventType::Rejected, json{{"13", "Disk space requirement not met"}, {"99", "dropped"}});
    offer->WaitForEvents();
    const std::vector<json> events = StoredEvents(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].at("13"), "Disk space requirement not met");
    EXPECT_FALSE(events[0].contains("99"));
    EXPECT_EQ(events[0].at("6"), "2");
}

TEST_F(AnalyticsEvents, TwoFailedDeliveriesLoseTheEventButNotTheNextOne) {
    ASSERT_TRUE(server.SetFaults({{"path", "/zbd"}, {"statuses", {500, 500}}}));
    auto offer = std::make_shared<Package>(BuildEventTemplate(), OfferJson(), false, "", 0);
    const auto started = Clock::now();
    offer->SendEvent(EventType::Declined, nullptr);
    offer->WaitForEvents();
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(9900));
    EXPECT_FALSE(offer->FinalEventSent());
    EXPECT_TRUE(server.Events().empty());

    offer->SendEvent(EventType::Closed, nullptr);
    offer->WaitForEvents();
    const std::vector<json> events = StoredEvents(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].at("6"), "5");
}

TEST_F(AnalyticsEvents, MainProductEventsShareOneSignatureAndSurviveNonAsciiTitles) {
    settings->productTitle = L"Caf\u00e9 \u00d1and\u00fa \u2615";
    auto main = std::make_shared<Package>(BuildEventTemplate(), true, settings->productTitle, L"tag",
                                          settings->productTitle, L"web", 0);
    main->SendEvent(EventType::Started, nullptr);
    main->SendEvent(EventType::Failed, json{{"12", "Download failed"}});
    main->WaitForEvents();

    const json stored = server.WaitForEvents(2, 15000);
    ASSERT_EQ(stored.size(), 2u);
    const json requests = server.FullRequests(L"/zbd");
    std::set<std::string> signatures;
    for (const json& request : requests) {
        for (const json& header : request.at("headers")) {
            if (header.at(0) == "Authorization") signatures.insert(header.at(1).get<std::string>());
        }
    }
    EXPECT_EQ(signatures.size(), 1u);
    for (const json& event : stored) {
        const json data = EventData(event);
        EXPECT_EQ(data.at("22").get<std::string>(),
                  "Caf\xC3\xA9 \xC3\x91"
                  "and\xC3\xBA \xE2\x98\x95");
        EXPECT_EQ(data.at("5"), data.at("22"));
        EXPECT_EQ(data.at("10"), 1);
        EXPECT_EQ(data.at("17"), "");
    }
}

TEST_F(AnalyticsEvents, EveryTypeArrivesAsItsSignedNumberAndOnlyTheStartLeavesReportingOpen) {
    struct Case {
        EventType type;
        const char* wire;
        bool final;
    };
    const Case cases[] = {
        {EventType::Failed, "-1", true}, {EventType::Started, "1", false}, {EventType::Rejected, "2", true},
        {EventType::Done, "3", true},    {EventType::Declined, "4", true}, {EventType::Closed, "5", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        ASSERT_TRUE(server.Reset());
        auto offer = std::make_shared<Package>(BuildEventTemplate(), OfferJson(), false, "", 0);
        offer->SendEvent(c.type, nullptr);
        offer->WaitForEvents();
        EXPECT_EQ(offer->FinalEventSent(), c.final);
        // A later close is reported only while reporting is still open.
        offer->SendEvent(EventType::Closed, nullptr);
        offer->WaitForEvents();
        const std::vector<json> events = StoredEvents(c.final ? 1 : 2, 5000);
        ASSERT_EQ(events.size(), c.final ? 1u : 2u);
        EXPECT_EQ(events[0].at("6"), c.wire);
        if (!c.final) {
            EXPECT_EQ(events[1].at("6"), "5");
        }
    }
}

TEST_F(AnalyticsEvents, ReleasingAPackageWaitsForItsEventsInFlight) {
    ASSERT_TRUE(server.SetFaults({{"path", "/zbd"}, {"delaysMs", {1500}}}));
    auto offer = std::make_shared<Package>(BuildEventTemplate(), OfferJson(), false, "", 0);
    offer->SendEvent(EventType::Done, nullptr);
    const auto started = Clock::now();
    offer.reset();
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(1000));
    EXPECT_EQ(server.Events().size(), 1u);
}

}  // namespace
