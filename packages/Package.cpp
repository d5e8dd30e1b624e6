#include "packages/Package.h"

#include <algorithm>
#include <chrono>

#include "api/JsonClient.h"
#include "download/DownloadManager.h"
#include "framework/BitmapDecoding.h"
#include "packages/Base62.h"
#include "packages/JsonNumbers.h"
#include "shell/ConfigurationManager.h"
#include "shell/TextConversion.h"

using nlohmann::json;

namespace {

constexpr int kDeliveryAttempts = 2;
constexpr DWORD kPauseAfterFailedDeliveryMs = 5000;
// A closing wizard waits for its last events: a host that takes the
// connection and never answers may cost it one attempt, about 13 s, no more.
constexpr HttpTimeouts kDeliveryTimeouts{2000, 3000, 3000, 5000};
constexpr int kFinalEventTypes[] = {-1, 2, 3, 4, 5};
constexpr char kEventTable[] = "zb_analytics";

bool IsFinalEventType(int type) {
    return std::find(std::begin(kFinalEventTypes), std::end(kFinalEventTypes), type) != std::end(kFinalEventTypes);
}

[[noreturn]] void ThrowTypeError(const char* expected, const json& value) {
    throw json::type_error::create(302, std::string("type must be ") + expected + ", but is " + value.type_name(),
                                   &value);
}

bool ReadBool(const json& value) {
    return value.get<bool>();
}

// A list may also be given as one string, or as null for none.
std::vector<std::string> ReadList(const json& ps, const char* key) {
    std::vector<std::string> items;
    if (!ps.contains(key)) return items;
    const json& value = ps.at(key);
    if (value.is_null()) return items;
    if (value.is_string()) {
        items.push_back(value.get<std::string>());
        return items;
    }
    if (!value.is_array()) ThrowTypeError("array", value);
    for (const json& element : value) items.push_back(element.get<std::string>());
    return items;
}

std::vector<std::wstring> ReadWideList(const json& ps, const char* key) {
    std::vector<std::wstring> items;
    for (const std::string& item : ReadList(ps, key)) items.push_back(Utf8ToWide(item));
    return items;
}

const json& ObjectMember(const json& object, const char* key) {
    const json& member = object.at(key);
    if (!member.is_object()) ThrowTypeError("object", member);
    return member;
}

}  // namespace

Package::Package(const EventTemplate& templateIn, const json& offer, bool main, const std::string& defaultChannel,
                 int positionIn)
    : eventTemplate(templateIn), isMain(main), channel(defaultChannel), position(positionIn) {
    FillSessionPlaceholders();
    const json& ad = ObjectMember(offer, "ad");
    offerTag = ad.at("f").get<std::string>();
    offerCode = ad.at("o").get<std::string>();

    auto settings = ConfigurationManager::GetInstance();
    std::string pixel;
    try {
        pixel = EncodeBase62(settings->GetMachineId() + "|" + offerCode + "|" + settings->GetSessionTimestamp());
    } catch (const std::exception&) {
        pixel.clear();
    }
    placeholders.emplace("pxl", pixel);
    placeholders.emplace("of", offerTag);

    ReadOffer(offer);
    BuildEventState();
}

Package::Package(const EventTemplate& templateIn, bool main, const CStringW& offerCodeIn, const CStringW& offerTagIn,
                 const CStringW& displayNameIn, const CStringW& channelIn, int positionIn)
    : eventTemplate(templateIn),
      isMain(main),
      displayName(WideToUtf8(displayNameIn)),
      offerCode(WideToUtf8(offerCodeIn)),
      offerTag(WideToUtf8(offerTagIn)),
      channel(WideToUtf8(channelIn)),
      position(positionIn) {
    BuildEventState();
}

Package::~Package() {
    WaitForEvents();
}

void Package::WaitForEvents() {
    std::unique_lock lock(eventMutex);
    eventsIdle.wait(lock, [this] { return pendingEvents == 0; });
}

void Package::Reinitialize(const EventTemplate& templateIn, const CStringW& offerCodeIn, const CStringW& offerTagIn,
                           const CStringW& displayNameIn, const CStringW& channelIn) {
    eventTemplate = templateIn;
    isMain = true;
    position = 0;
    offerCode = WideToUtf8(offerCodeIn);
    offerTag = WideToUtf8(offerTagIn);
    displayName = WideToUtf8(displayNameIn);
    channel = WideToUtf8(channelIn);
    BuildEventState();
}

void Package::FillSessionPlaceholders() {
    auto settings = ConfigurationManager::GetInstance();
    const std::string userId = settings->GetMachineId();
    const std::string sessionId = settings->GetSessionTimestamp();
    if (!userId.empty()) placeholders.emplace("userid", userId);
    if (!sessionId.empty()) placeholders.emplace("sessionid", sessionId);
    if (!settings->ccValue.empty()) placeholders.emplace("cc", settings->ccValue);
    if (!settings->pubId.empty()) placeholders.emplace("pubid", settings->pubId);
}

void Package::ReadOffer(const json& offer) {
    const json& ps = ObjectMember(offer, "ps");
    imagePath = ExpandPlaceholders(ps.at("i").get<std::string>());
    displayName = ExpandPlaceholders(ps.at("dn").get<std::string>());
    downloadPath = ExpandPlaceholders(ps.at("u").get<std::string>());
    if (ps.contains("p")) installerArgs = ExpandPlaceholders(ps.at("p").get<std::string>());
    if (ps.contains("cp")) privacyUrl = ExpandPlaceholders(ps.at("cp").get<std::string>());
    if (ps.contains("ctu")) termsUrl = ExpandPlaceholders(ps.at("ctu").get<std::string>());
    vertical = ps.contains("v") ? ReadInt32Field(ps.at("v")) : 0;
    if (ps.contains("c")) channel = ExpandPlaceholders(ps.at("c").get<std::string>());

    if (ps.contains("disk")) minFreeDiskMb = ReadUInt64Field(ps.at("disk"));
    if (ps.contains("ram")) minRamMb = ReadUInt64Field(ps.at("ram"));
    if (ps.contains("ov")) minOsVersion = ReadInt32Field(ps.at("ov"));
    if (ps.contains("win64")) requires64BitOs = ReadBool(ps.at("win64"));

    const PathMacroMap macros = ConfigurationManager::GetInstance()->GetPathMacros();
    for (const std::string& file : ReadList(ps, "fe")) blockingFiles.push_back(ExpandPathMacros(Utf8ToWide(file), macros));
    blockingProcesses = ReadList(ps, "a");
    blockingKeys = ReadWideList(ps, "r");
    blockingValues = ReadWideList(ps, "rvn");
    blockingValueData = ReadWideList(ps, "rvd");
    excludedApps = ReadWideList(ps, "eapp");
    requiredApps = ReadWideList(ps, "iapp");
}

std::string Package::ExpandPlaceholders(const std::string& text) const {
    std::string result = text;
    for (const auto& [name, value] : placeholders) {
        const std::string token = "{" + name + "}";
        const size_t at = result.find(token);
        if (at != std::string::npos) result.replace(at, token.size(), value);
    }
    return result;
}

void Package::BuildEventState() {
    json state = eventTemplate.body;
    if (isMain) {
        state["5"] = state.contains("22") ? state["22"] : json("");
        state["10"] = 1;
        state["18"] = "";
    } else {
        state["5"] = offerCode;
        state["10"] = 2;
        state["16"] = channel;
        state["17"] = std::to_string(position + 1);
        state["18"] = offerTag;
    }
    std::lock_guard lock(eventMutex);
    eventState = std::move(state);
}

CStringW Package::GetDownloadPath() const {
    return Utf8ToWide(downloadPath);
}

CStringW Package::GetInstallerArgs() const {
    return Utf8ToWide(installerArgs);
}

void Package::DownloadImage(const std::function<void()>& onDone) {
    if (isMain) {
        if (onDone) onDone();
        return;
    }
    CStringW url;
    try {
        url = ConfigurationManager::GetInstance()->offerBaseUrl + Utf8ToWide(imagePath);
    } catch (const std::exception&) {
        // A path that is not UTF-8 names no picture; the caller still counts this one.
        if (onDone) onDone();
        return;
    }
    DownloadManager::GetInstance()->DownloadToMemoryAsync(url, [this, onDone](std::unique_ptr<std::vector<char>> bytes) {
        try {
            if (bytes && !bytes->empty()) framework::StoreDecodedPicture(*bytes, image);
        } catch (const std::exception&) {
            // No picture then; onDone must still run.
        }
        if (onDone) onDone();
    });
}

void Package::SendEvent(int type, const json& extra) {
    if (finalEventSent) return;
    json body;
    HttpHeaders headers;
    {
        // The body is taken now, so a package re-initialised meanwhile cannot
        // change an event already under way.
        std::lock_guard lock(eventMutex);
        ++pendingEvents;
        body = eventState;
        headers = eventTemplate.headers;
    }
    EventState state;
    try {
        state.thread = std::make_shared<std::thread>(&Package::DeliverEvent, this, type, std::move(body),
                                                     std::move(headers), extra,
                                                     ConfigurationManager::GetInstance()->eventsUrl);
        state.thread->detach();
    } catch (const std::exception&) {
        EventFinished();
    }
}

void Package::DeliverEvent(int type, json body, HttpHeaders headers, json extra, CStringW url) {
    try {
        body["6"] = std::to_string(type);
        if (!extra.is_null()) {
            if (!extra.is_object()) ThrowTypeError("object", extra);
            // Only fields of the event format can arrive; anything else is dropped.
            for (const auto& [key, value] : extra.items()) {
                if (body.contains(key)) body[key] = value;
            }
        }
        const json envelope = {{"table", kEventTable}, {"data", body.dump()}};
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
    EventFinished();
}

void Package::EventFinished() {
    std::lock_guard lock(eventMutex);
    if (--pendingEvents == 0) eventsIdle.notify_all();
}
