// The part of every analytics event that does not depend on the package:
// the base body and the signature header.
#pragma once

#include <nlohmann/json.hpp>

#include "api/HttpHeaders.h"

struct EventTemplate {
    nlohmann::json body;
    HttpHeaders headers;
};

// Reads the settings as they are now; later changes of the settings do not
// reach a template already built.
EventTemplate BuildEventTemplate();
