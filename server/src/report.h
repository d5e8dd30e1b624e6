#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "store.h"

namespace ostrel {

// Events per product (field "22") and package: the main product (field "10" = 1) or
// an offer (field "10" = 2, identified by its offer code in field "5"), counted by
// type, with rejection reasons (field "13") and failure texts (field "12").
nlohmann::json ReportJson(const std::vector<StoredEvent>& events);
std::string ReportText(const std::vector<StoredEvent>& events);

}  // namespace ostrel
