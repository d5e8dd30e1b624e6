#include "api/EventTemplate.h"

#include <string>

#include "api/EventProtocol.h"
#include "api/Sha256.h"
#include "api/SystemProbes.h"
#include "core/ConfigurationManager.h"
#include "registry/RegistryView.h"
#include "core/TextConversion.h"

EventTemplate BuildEventTemplate() {
    auto settings = ConfigurationManager::GetInstance();
    const std::string machineId = settings->GetMachineId();
    const std::string timestamp = settings->GetSessionTimestamp();

    EventTemplate eventTemplate;
    nlohmann::json& body = eventTemplate.body;
    body = nlohmann::json::object();
    for (int key = event_field::kFirstNumberedKey; key <= event_field::kLastNumberedKey; ++key) {
        body[std::to_string(key)] = "";
    }
    body[event_field::kMachineId] = machineId;
    body[event_field::kSessionTimestamp] = timestamp;
    body[event_field::kBrandName] = WideToUtf8(settings->brandName);
    body[event_field::kWizardId] = WideToUtf8(settings->wizardId);
    body[event_field::kFileVersion] = WideToUtf8(settings->fileVersion);
    body[event_field::kReservedNumber] = event_field::kReservedNumberValue;
    body[event_field::kRunOfferTag] = WideToUtf8(settings->offerTag);
    body[event_field::kRunChannel] = WideToUtf8(settings->channel);
    body[event_field::kProductTitle] = WideToUtf8(settings->productTitle);
    body[event_field::kOsVersion] = GetOsVersionText();
    body[event_field::kSixtyFourBitWindows] = win32::IsWow64() ? event_field::kYes : event_field::kNo;

    // The signature lets the server tie the events of one run together. It is
    // digested by the system's provider, which loads that provider from the
    // system folder before any secure connection needs it: under Wine, a
    // first load of it as another system library's import was seen to take
    // a copy planted beside the program instead.
    const std::string signature = Sha256Hex(machineId + timestamp, Sha256::Engine::SystemProvider);
    eventTemplate.headers.emplace_back(L"Authorization", L"Signature=" + Utf8ToWide(signature));
    return eventTemplate;
}
