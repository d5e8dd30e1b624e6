#include "api/EventTemplate.h"

#include <string>

#include "api/Sha256.h"
#include "api/SystemProbes.h"
#include "shell/ConfigurationManager.h"
#include "registry/RegistryView.h"
#include "shell/TextConversion.h"

EventTemplate BuildEventTemplate() {
    auto settings = ConfigurationManager::GetInstance();
    const std::string machineId = settings->GetMachineId();
    const std::string timestamp = settings->GetSessionTimestamp();

    EventTemplate eventTemplate;
    nlohmann::json& body = eventTemplate.body;
    body = nlohmann::json::object();
    for (int key = 0; key <= 22; ++key) body[std::to_string(key)] = "";
    body["1"] = machineId;
    body["2"] = timestamp;
    body["3"] = WideToUtf8(settings->brandName);
    body["4"] = WideToUtf8(settings->wizardId);
    body["7"] = WideToUtf8(settings->fileVersion);
    body["15"] = 0;
    body["19"] = WideToUtf8(settings->offerTag);
    body["21"] = WideToUtf8(settings->channel);
    body["22"] = WideToUtf8(settings->productTitle);
    body["31"] = GetOsVersionText();
    body["38"] = win32::IsWow64() ? "1" : "0";

    // The signature lets the server tie the events of one run together.
    eventTemplate.headers.emplace_back(L"Authorization", L"Signature=" + Utf8ToWide(Sha256Hex(machineId + timestamp)));
    return eventTemplate;
}
