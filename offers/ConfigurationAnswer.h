// What the configuration server answered, read from its JSON without touching
// the settings, a window or the network. The loading page applies the result
// to the settings and puts the offer elements through the rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "framework/Strings.h"

// The main product of the download wizard ("i"). Each absent optional member
// is empty, so nothing of an earlier description survives.
struct ProductDescription {
    CStringW title;
    CStringW url;
    // Only an HTTPS address: a picture over plain HTTP is not fetched at all.
    CStringW imageUrl;
    CStringW fileName;
    CStringW privacyUrl;
    CStringW termsUrl;
    CStringW channel;
    CStringW offerTag;
    // The SHA-256 the product's download must have, in lower case; empty when none is named.
    std::string sha256;
};

// The offers to judge: the most the rules may accept ("f"."m") and the
// elements of "o", in order, still in their JSON form.
struct OfferSection {
    std::int32_t maxOffers = 0;
    std::vector<nlohmann::json> elements;
};

struct ConfigurationAnswer {
    // "l", kept as its UTF-8 bytes.
    std::optional<std::string> ccValue;
    // Only when the product was asked for and is usable.
    std::optional<ProductDescription> product;
    // The product has no title or no address. Nothing after it was read.
    bool configurationError = false;
    // "f"."a", kept as its UTF-8 bytes.
    std::optional<std::string> pubId;
    // Only when the answer has offers and the channel does not switch them off.
    std::optional<OfferSection> offers;
};

// The channel that switches every offer off.
inline constexpr wchar_t kOffersSwitchedOff[] = L"00xA";

// Reads the answer in the order the wizard relies on. readsProduct: the
// download wizard, whose answer must describe the product; its channel then
// decides about the offers, otherwise the channel the wizard already has.
// Throws the JSON library's errors for a missing or mistyped member.
ConfigurationAnswer ReadConfigurationAnswer(const nlohmann::json& response, bool readsProduct, const CStringW& channel);

// The product description "i"; an empty title or address sets the
// configuration error instead. Throws when "i" is missing or not an object.
void ReadProductDescription(const nlohmann::json& response, ConfigurationAnswer& answer);

// The limit and the elements of "o"; throws when "f" or "f"."m" is missing or
// not of its type.
OfferSection ReadOffers(const nlohmann::json& response);
