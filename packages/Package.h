// One downloadable product: the main product, described by the settings, or
// an optional offer, built from one element of the configuration response.
// Always held through std::shared_ptr; never copied. The offer's JSON is read
// in PackageJson.cpp; its analytics events go through PackageEvents.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/EventTemplate.h"
#include "framework/SharedPicture.h"
#include "framework/Strings.h"
#include "packages/PackageEvents.h"

class Package {
public:
    // An offer from the configuration response; throws when the JSON does not
    // fit. Read in PackageJson.cpp.
    Package(const EventTemplate& eventTemplate, const nlohmann::json& offer, bool isMain,
            const std::string& defaultChannel, int position);
    // The main product, described by texts of the settings.
    Package(const EventTemplate& eventTemplate, bool isMain, const CStringW& offerCode, const CStringW& offerTag,
            const CStringW& displayName, const CStringW& channel, int position);
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;
    // Waits until every event this package started has been delivered or has given up.
    ~Package();

    void Reinitialize(const EventTemplate& eventTemplate, const CStringW& offerCode, const CStringW& offerTag,
                      const CStringW& displayName, const CStringW& channel);

    // Reports one event in the background and returns at once. Once an event
    // of a final type has been delivered, later events are not sent.
    void SendEvent(EventType type, const nlohmann::json& extra) { events.Send(type, extra); }
    // Blocks until no event of this package is in flight.
    void WaitForEvents() { events.WaitForEvents(); }

    CStringW GetDownloadPath() const;
    CStringW GetInstallerArgs() const;

    void ReleaseImage() { image.Reset(); }
    // Fetches an offer's picture on a thread of its own, then calls onDone on
    // that thread, with or without a picture. The main product calls onDone at
    // once: its picture comes with the configuration. The caller keeps the
    // package alive until onDone has run.
    void DownloadImage(const std::function<void()>& onDone);

    bool IsMain() const { return isMain; }
    const std::string& DisplayName() const { return displayName; }
    const std::string& OfferCode() const { return offerCode; }
    const std::string& OfferTag() const { return offerTag; }
    const std::string& Channel() const { return channel; }
    const std::string& PrivacyUrl() const { return privacyUrl; }
    const std::string& TermsUrl() const { return termsUrl; }
    // The SHA-256 the server named for the download, in lower case; empty
    // when it named none.
    const std::string& ExpectedSha256() const { return expectedSha256; }
    int Vertical() const { return vertical.load(); }
    std::uint64_t MinFreeDiskMb() const { return minFreeDiskMb; }
    std::uint64_t MinRamMb() const { return minRamMb; }
    std::int32_t MinOsVersion() const { return minOsVersion; }
    bool Requires64BitOs() const { return requires64BitOs; }
    std::int32_t Position() const { return position; }
    bool FinalEventSent() const { return events.FinalEventSent(); }
    const nlohmann::json& EventStateBody() const { return events.StateBody(); }
    std::shared_ptr<Gdiplus::Bitmap> Image() const { return image.Get(); }
    const std::vector<CStringW>& BlockingFiles() const { return blockingFiles; }
    const std::vector<std::string>& BlockingProcesses() const { return blockingProcesses; }
    const std::vector<std::wstring>& BlockingKeys() const { return blockingKeys; }
    const std::vector<std::wstring>& BlockingValues() const { return blockingValues; }
    const std::vector<std::wstring>& BlockingValueData() const { return blockingValueData; }
    const std::vector<std::wstring>& ExcludedApps() const { return excludedApps; }
    const std::vector<std::wstring>& RequiredApps() const { return requiredApps; }

private:
    // Reading the offer's JSON (PackageJson.cpp).
    void FillSessionPlaceholders();
    void ReadOffer(const nlohmann::json& offer);
    std::string ExpandPlaceholders(const std::string& text) const;

    void BuildEventState();

    EventTemplate eventTemplate;
    bool isMain = false;
    std::string displayName;
    std::string offerCode;
    std::string offerTag;
    std::string channel;
    std::string imagePath;
    std::string downloadPath;
    std::string installerArgs;
    std::string privacyUrl;
    std::string termsUrl;
    std::string expectedSha256;
    std::atomic<int> vertical{0};
    std::uint64_t minFreeDiskMb = 0;
    std::uint64_t minRamMb = 0;
    std::int32_t minOsVersion = 0;
    bool requires64BitOs = false;
    std::int32_t position = 0;
    // Set by the picture download's thread, read and released by the window's.
    framework::SharedPicture<Gdiplus::Bitmap> image;
    std::unordered_map<std::string, std::string> placeholders;
    std::vector<CStringW> blockingFiles;
    std::vector<std::string> blockingProcesses;
    std::vector<std::wstring> blockingKeys;
    std::vector<std::wstring> blockingValues;
    std::vector<std::wstring> blockingValueData;
    std::vector<std::wstring> excludedApps;
    std::vector<std::wstring> requiredApps;
    PackageEvents events;
};
