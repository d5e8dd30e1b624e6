// The configuration's offer list, one element at a time. An element that does
// not fit the package form, or whose rules cannot be judged, is the server's
// mistake about that one offer: it is skipped, so the user keeps the main
// product and every other offer. Nothing is reported for it: the analytics
// know an offer by its code, which a malformed element may not even have.
#pragma once

#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/EventTemplate.h"

class EligibilityEngine;
class Package;

// The elements of the offer list, in order, without copying them: an array's
// elements, an object's values in key order, a single value alone, null none.
std::vector<const nlohmann::json*> OfferElements(const nlohmann::json& offers);

// The offer an element describes, at the given position among the accepted
// ones; empty when the element does not fit the package form.
std::shared_ptr<Package> BuildOffer(const EventTemplate& eventTemplate, const nlohmann::json& element, int position);

// Whether the rules keep the offer (see EligibilityEngine::Evaluate); false,
// with nothing counted, when a rule cannot judge it.
bool PassesRules(EligibilityEngine& engine, const std::shared_ptr<Package>& offer, bool& limitReached);
