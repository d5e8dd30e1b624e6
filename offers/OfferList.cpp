#include "offers/OfferList.h"

#include <exception>
#include <string>

#include "packages/EligibilityEngine.h"
#include "packages/Package.h"

using nlohmann::json;

std::vector<const json*> OfferElements(const json& offers) {
    std::vector<const json*> elements;
    if (offers.is_null()) return elements;
    if (offers.is_array() || offers.is_object()) {
        for (const json& element : offers) elements.push_back(&element);
    } else {
        elements.push_back(&offers);
    }
    return elements;
}

std::shared_ptr<Package> BuildOffer(const EventTemplate& eventTemplate, const json& element, int position) {
    try {
        return std::make_shared<Package>(eventTemplate, element, false, std::string(), position);
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool PassesRules(EligibilityEngine& engine, const std::shared_ptr<Package>& offer, bool& limitReached) {
    try {
        return engine.Evaluate(offer, limitReached);
    } catch (const std::exception&) {
        // Nothing was counted or reported: the engine counts an offer once
        // every rule has passed it, and a rule reports only the rejection it
        // returns.
        return false;
    }
}
