#include "api/ApiManager.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <mutex>

#include "api/BoundedJson.h"
#include "api/JsonClient.h"
#include "api/SystemProbes.h"
#include "core/ConfigurationManager.h"
#include "core/OstrelException.h"
#include "core/TextConversion.h"

namespace {

constexpr int kAttempts = 3;
constexpr wchar_t kNonceHeader[] = L"X-Ostrel-Nonce";
constexpr wchar_t kSignatureHeader[] = L"X-Ostrel-Signature";
constexpr DWORD kPauseAfterFailureMs = 5000;

bool IsSuccessStatus(DWORD status) {
    return status >= 200 && status <= 399;
}

// The interface language as two lower-case letters ("de-DE" -> "de").
std::string LanguageOf(const CStringW& languageCode) {
    std::string code = WideToUtf8(languageCode.substr(0, 2));
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return code;
}

bool IsBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    });
}

}  // namespace

std::shared_ptr<ApiManager> ApiManager::GetInstance() {
    static std::once_flag once;
    static std::shared_ptr<ApiManager> instance;
    std::call_once(once, [] { instance = std::make_shared<ApiManager>(); });
    return instance;
}

std::string ApiManager::BuildConfigurationRequest() {
    auto settings = ConfigurationManager::GetInstance();
    nlohmann::json request;
    request["prv"] = "0.1";
    request["plv"] = WideToUtf8(settings->fileVersion);
    request["l"] = LanguageOf(settings->languageCode);
    request["a"] = WideToUtf8(settings->brandName);
    request["i"] = WideToUtf8(settings->wizardId);
    request["s"] = WideToUtf8(settings->sourceId);
    request["u"] = WideToUtf8(GetDownloadToken());
    request["o"] = GetOsVersionText();
    return request.dump();
}

ConfigurationReply ApiManager::PostConfigurationRequest(const CStringW& url, const std::string& body,
                                                        const std::vector<ConfigurationKey>& keys) {
    ConfigurationReply reply;
    if (keys.empty()) {
        PostJson(url, body, HttpHeaders{}, reply.text, reply.status);
        return reply;
    }
    const std::string nonce = NewConfigurationNonce();
    ResponseDetails details;
    details.headerName = kSignatureHeader;
    PostJson(url, body, HttpHeaders{{kNonceHeader, Utf8ToWide(nonce)}}, reply.text, reply.status, std::nullopt,
             &details);
    reply.trusted = details.headerValue &&
                    IsConfigurationSignatureValid(*details.headerValue, nonce, body, details.bodyBytes, keys);
    return reply;
}

std::unique_ptr<nlohmann::json> ApiManager::RequestConfiguration() {
    return RequestConfiguration(EmbeddedConfigurationKeys());
}

std::unique_ptr<nlohmann::json> ApiManager::RequestConfiguration(const std::vector<ConfigurationKey>& keys) {
    auto settings = ConfigurationManager::GetInstance();
    if (settings->configurationUrl.empty()) throw OstrelException();
    const std::string body = BuildConfigurationRequest();

    ConfigurationReply reply;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        reply = PostConfigurationRequest(settings->configurationUrl, body, keys);
        if (IsSuccessStatus(reply.status) && reply.trusted) break;
        ::Sleep(kPauseAfterFailureMs);
    }

    // The last answer counts even when no attempt succeeded, but never one
    // whose signature did not hold: it may come from anyone.
    if (!reply.trusted) throw OstrelException();
    const std::string& response = reply.text;
    if (IsBlank(response)) throw OstrelException();
    auto parsed = std::make_unique<nlohmann::json>(ParseBoundedJson(response));
    if (parsed->is_discarded()) throw OstrelException();
    return parsed;
}
