#include "offers/ConfigurationAnswer.h"

#include <stdexcept>

#include "api/Sha256.h"
#include "download/UrlResolution.h"
#include "offers/OfferList.h"
#include "packages/JsonNumbers.h"
#include "core/TextConversion.h"

using nlohmann::json;

namespace {

// An optional member of the product description; absent gives "".
CStringW OptionalText(const json& description, const char* key) {
    return description.contains(key) ? Utf8ToWide(description.at(key).get<std::string>()) : CStringW();
}

}  // namespace

ConfigurationAnswer ReadConfigurationAnswer(const json& response, bool readsProduct, const CStringW& channel) {
    ConfigurationAnswer answer;
    if (response.is_object() && response.contains("l")) answer.ccValue = response.at("l").get<std::string>();

    if (readsProduct) {
        ReadProductDescription(response, answer);
        if (answer.configurationError) return answer;
    }
    if (response.is_object() && response.contains("f") && response.at("f").is_object() &&
        response.at("f").contains("a")) {
        answer.pubId = response.at("f").at("a").get<std::string>();
    }
    // The product's own channel, once read, replaces the one the wizard has.
    const CStringW& offerChannel = answer.product ? answer.product->channel : channel;
    if (response.is_object() && response.contains("o") && offerChannel != kOffersSwitchedOff) {
        answer.offers = ReadOffers(response);
    }
    return answer;
}

void ReadProductDescription(const json& response, ConfigurationAnswer& answer) {
    const json& description = response.at("i");
    if (!description.is_object()) {
        throw json::type_error::create(302, std::string("type must be object, but is ") + description.type_name(),
                                       &description);
    }
    ProductDescription product;
    product.title = Utf8ToWide(description.at("ct").get<std::string>());
    product.url = Utf8ToWide(description.at("cu").get<std::string>());
    if (product.title.empty() || product.url.empty()) {
        answer.configurationError = true;
        return;
    }
    product.imageUrl = OptionalText(description, "cl");
    // GDI+ decodes the picture in the elevated process: only from bytes
    // nobody on the network path can change.
    if (!IsHttpsUrl(product.imageUrl)) product.imageUrl.clear();
    product.fileName = description.contains("cf") ? OptionalText(description, "cf") : product.title + L".exe";
    product.privacyUrl = OptionalText(description, "cp");
    product.termsUrl = OptionalText(description, "ctu");
    product.channel = OptionalText(description, "ch");
    product.offerTag = OptionalText(description, "cfl");
    try {
        product.sha256 = ReadSha256Member(description);
    } catch (const std::invalid_argument&) {
        // The product must never run unverified when the server meant it
        // verified: the configuration fails instead.
        answer.configurationError = true;
        return;
    }
    answer.product = std::move(product);
}

OfferSection ReadOffers(const json& response) {
    OfferSection offers;
    offers.maxOffers = ReadInt32Field(response.at("f").at("m"));
    for (const json* element : OfferElements(response.at("o"))) offers.elements.push_back(*element);
    return offers;
}
