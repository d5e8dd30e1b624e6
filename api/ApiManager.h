// The wizard's questions to its configuration server.
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

class ApiManager {
public:
    static std::shared_ptr<ApiManager> GetInstance();

    // Posts the description of this wizard and machine to the configuration
    // endpoint (up to three attempts) and returns the parsed answer. Blocks;
    // call it from a worker thread. Throws on any failure.
    std::unique_ptr<nlohmann::json> RequestConfiguration();

    // The request body, as sent (compact, keys sorted).
    static std::string BuildConfigurationRequest();
};
