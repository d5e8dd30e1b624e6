// The analytics events of one package. Each event is delivered on a thread of
// its own, so the wizard never waits for the analytics host, except when it
// asks to: a package is not let go while one of its events is in flight.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "api/EventProtocol.h"
#include "api/HttpHeaders.h"
#include "framework/Strings.h"

class PackageEvents {
public:
    PackageEvents() = default;
    PackageEvents(const PackageEvents&) = delete;
    PackageEvents& operator=(const PackageEvents&) = delete;
    // Waits until every event started here has been delivered or has given up.
    ~PackageEvents();

    // The body every later event starts from and the headers it goes with.
    // Events already under way keep the ones they started with.
    void SetState(nlohmann::json body, HttpHeaders headers);
    // Reports one event in the background and returns at once. Once an event
    // of a final type has been delivered, later events are not sent; one sent
    // while a final event is still on its way waits for that delivery first,
    // so a package never reports two last words.
    void Send(EventType type, const nlohmann::json& extra);
    // Blocks until no event is in flight.
    void WaitForEvents();

    bool FinalEventSent() const { return finalEventSent.load(); }
    const nlohmann::json& StateBody() const { return eventState; }

private:
    // Holds the thread that delivers one event.
    struct EventState {
        std::shared_ptr<std::thread> thread;
    };

    void Deliver(EventType type, std::int32_t earlierFinals, nlohmann::json body, HttpHeaders headers,
                 nlohmann::json extra, CStringW url);
    void Post(EventType type, nlohmann::json body, const HttpHeaders& headers, const nlohmann::json& extra,
              const CStringW& url);
    void EventFinished(EventType type);

    std::mutex eventMutex;
    std::condition_variable eventsIdle;
    std::int32_t pendingEvents = 0;
    // Final events sent so far and those whose delivery has ended.
    std::condition_variable finalsSettled;
    std::int32_t finalsStarted = 0;
    std::int32_t finalsFinished = 0;
    nlohmann::json eventState;
    HttpHeaders eventHeaders;
    std::atomic<bool> finalEventSent{false};
};
