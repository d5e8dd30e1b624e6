#include "packages/Package.h"

#include "api/EventProtocol.h"
#include "download/DownloadManager.h"
#include "framework/BitmapDecoding.h"
#include "core/ConfigurationManager.h"
#include "core/TextConversion.h"

using nlohmann::json;

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

void Package::BuildEventState() {
    json state = eventTemplate.body;
    if (isMain) {
        state[event_field::kOfferCode] =
            state.contains(event_field::kProductTitle) ? state[event_field::kProductTitle] : json("");
        state[event_field::kPackageKind] = WireValue(PackageKind::MainProduct);
        state[event_field::kPackageOfferTag] = "";
    } else {
        state[event_field::kOfferCode] = offerCode;
        state[event_field::kPackageKind] = WireValue(PackageKind::Offer);
        state[event_field::kOfferChannel] = channel;
        state[event_field::kOfferPosition] = std::to_string(position + 1);
        state[event_field::kPackageOfferTag] = offerTag;
    }
    events.SetState(std::move(state), eventTemplate.headers);
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
    DownloadManager::GetInstance()->DownloadToMemoryAsync(url,
                                                          [this, onDone](std::unique_ptr<std::vector<char>> bytes) {
                                                              try {
                                                                  if (bytes && !bytes->empty())
                                                                      framework::StoreDecodedPicture(*bytes, image);
                                                              } catch (const std::exception&) {
                                                                  // No picture then; onDone must still run.
                                                              }
                                                              if (onDone) onDone();
                                                          });
}
