// The wizard's questions to its configuration server.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/ConfigurationSignature.h"
#include "framework/Strings.h"

// One configuration request's answer, and whether it may be used: always
// without keys, else only when signed by one of them for this request.
struct ConfigurationReply {
    DWORD status = 0;
    std::string text;
    bool trusted = true;
};

class ApiManager {
public:
    static std::shared_ptr<ApiManager> GetInstance();

    // Posts the description of this wizard and machine to the configuration
    // endpoint (up to three attempts) and returns the parsed answer. Blocks;
    // call it from a worker thread. Throws on any failure. With the build's
    // signing keys, an answer whose signature does not hold is a failed
    // attempt, and when no attempt brought a signed answer nothing of any is
    // used: OstrelException.
    std::unique_ptr<nlohmann::json> RequestConfiguration();
    std::unique_ptr<nlohmann::json> RequestConfiguration(const std::vector<ConfigurationKey>& keys);

    // One attempt. With keys it carries a fresh X-Ostrel-Nonce and checks
    // X-Ostrel-Signature on the bytes received; without keys it is the plain
    // request and any signature is ignored. Throws as PostJson does.
    static ConfigurationReply PostConfigurationRequest(const CStringW& url, const std::string& body,
                                                       const std::vector<ConfigurationKey>& keys);

    // The request body, as sent (compact, keys sorted).
    static std::string BuildConfigurationRequest();
};
