#include "packages/PackageEvents.h"

#include <algorithm>

#include "api/JsonClient.h"
#include "core/ConfigurationManager.h"

using nlohmann::json;

namespace {

constexpr int kDeliveryAttempts = 2;
constexpr DWORD kPauseAfterFailedDeliveryMs = 5000;
// A closing wizard waits for its last events: a host that takes the
// connection and never answers may cost it one attempt, about 13 s, no more.
constexpr HttpTimeouts kDeliveryTimeouts{2000, 3000, 3000, 5000};
// After one of these has been delivered, the package reports nothing more.
constexpr EventType kFinalEventTypes[] = {EventType::Failed, EventType::Rejected, EventType::Done, EventType::Declined,
                                          EventType::Closed};

bool IsFinalEventType(EventType type) {
    return std::find(std::begin(kFinalEventTypes), std::end(kFinalEventTypes), type) != std::end(kFinalEventTypes);
}

}  // namespace

PackageEvents::~PackageEvents() {
    WaitForEvents();
}

void PackageEvents::SetState(json body, HttpHeaders headers) {
    std::lock_guard lock(eventMutex);
    eventState = std::move(body);
    eventHeaders = std::move(headers);
}

void PackageEvents::WaitForEvents() {
    std::unique_lock lock(eventMutex);
    eventsIdle.wait(lock, [this] { return pendingEvents == 0; });
}

void PackageEvents::Send(EventType type, const json& extra) {
    if (finalEventSent) return;
    json body;
    HttpHeaders headers;
    std::int32_t earlierFinals = 0;
    {
        // The body is taken now, so a package re-initialised meanwhile cannot
        // change an event already under way.
        std::lock_guard lock(eventMutex);
        ++pendingEvents;
        body = eventState;
        headers = eventHeaders;
        earlierFinals = finalsStarted;
        if (IsFinalEventType(type)) ++finalsStarted;
    }
    EventState state;
    try {
        state.thread =
            std::make_shared<std::thread>(&PackageEvents::Deliver, this, type, earlierFinals, std::move(body),
                                          std::move(headers), extra, ConfigurationManager::GetInstance()->eventsUrl);
        state.thread->detach();
    } catch (const std::exception&) {
        EventFinished(type);
    }
}

void PackageEvents::Deliver(EventType type, std::int32_t earlierFinals, json body, HttpHeaders headers, json extra,
                            CStringW url) {
    {
        // A final event still on its way decides whether this one is sent.
        std::unique_lock lock(eventMutex);
        finalsSettled.wait(lock, [&] { return finalsFinished >= earlierFinals; });
    }
    if (!finalEventSent) Post(type, std::move(body), headers, extra, url);
    EventFinished(type);
}

void PackageEvents::Post(EventType type, json body, const HttpHeaders& headers, const json& extra,
                         const CStringW& url) {
    try {
        body[event_field::kEventType] = std::to_string(WireValue(type));
        if (!extra.is_null()) {
            if (!extra.is_object()) {
                throw json::type_error::create(302, std::string("type must be object, but is ") + extra.type_name(),
                                               &extra);
            }
            // Only fields of the event format can arrive; anything else is dropped.
            for (const auto& [key, value] : extra.items()) {
                if (body.contains(key)) body[key] = value;
            }
        }
        const json envelope = {{event_envelope::kTableKey, event_envelope::kEventTable},
                               {event_envelope::kDataKey, body.dump()}};
        for (int attempt = 0; attempt < kDeliveryAttempts; ++attempt) {
            std::string response;
            DWORD status = 0;
            PostJson(url, envelope.dump(), headers, response, status, kDeliveryTimeouts);
            if (status >= 200 && status <= 399) {
                if (IsFinalEventType(type)) finalEventSent = true;
                break;
            }
            ::Sleep(kPauseAfterFailedDeliveryMs);
        }
    } catch (const std::exception&) {
        // The event is lost; analytics failures are never shown.
    }
}

void PackageEvents::EventFinished(EventType type) {
    std::lock_guard lock(eventMutex);
    if (IsFinalEventType(type)) {
        ++finalsFinished;
        finalsSettled.notify_all();
    }
    if (--pendingEvents == 0) eventsIdle.notify_all();
}
