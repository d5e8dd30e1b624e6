// Building an offer from one element of the configuration's offer list.
#include "packages/Package.h"

#include "api/Sha256.h"
#include "packages/Base62.h"
#include "packages/JsonNumbers.h"
#include "core/ConfigurationManager.h"
#include "core/TextConversion.h"

using nlohmann::json;

namespace {

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
    // A package that names a digest the wizard cannot check is not offered.
    expectedSha256 = ReadSha256Member(ps);

    if (ps.contains("disk")) minFreeDiskMb = ReadUInt64Field(ps.at("disk"));
    if (ps.contains("ram")) minRamMb = ReadUInt64Field(ps.at("ram"));
    if (ps.contains("ov")) minOsVersion = ReadInt32Field(ps.at("ov"));
    if (ps.contains("win64")) requires64BitOs = ReadBool(ps.at("win64"));

    const PathMacroMap macros = ConfigurationManager::GetInstance()->GetPathMacros();
    for (const std::string& file : ReadList(ps, "fe"))
        blockingFiles.push_back(ExpandPathMacros(Utf8ToWide(file), macros));
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
