#include "api/JsonClient.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "api/ProxyAccess.h"
#include "api/SecureProtocols.h"
#include "api/UrlParts.h"
#include "api/WinHttpHandle.h"
#include "core/OstrelException.h"
#include "core/SystemInfo.h"

namespace {

bool IsWindows7WithoutServicePack() {
    return IsOsVersionAtLeast(6, 1, 0) && !IsOsVersionAtLeast(6, 1, 1);
}

// The Content-Length value as sent, without surrounding blanks; nothing when
// the answer has none. A value that cannot be read comes back empty, which
// matches no byte count.
std::optional<std::wstring> ContentLengthText(HINTERNET request) {
    wchar_t buffer[64] = {};
    DWORD size = sizeof(buffer);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        if (::GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND) return std::nullopt;
        return std::wstring();
    }
    std::wstring text(buffer, size / sizeof(wchar_t));
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

// A header by name, as ASCII (the only bytes a signature header holds); none
// when the answer has no such header or it is not ASCII.
std::optional<std::string> CustomHeader(HINTERNET request, const std::wstring& name) {
    if (name.empty()) return std::nullopt;
    DWORD bytes = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::nullopt;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), buffer.data(), &bytes,
                               WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    std::string value;
    for (size_t i = 0; i < bytes / sizeof(wchar_t); ++i) {
        if (buffer[i] > 0x7E) return std::nullopt;
        value += static_cast<char>(buffer[i]);
    }
    return value;
}

// Reads the body in passes until its end. False when a query or a read fails,
// when fewer bytes came than the answer announced (a cut answer is no answer:
// a truncated body would pass for a whole one), or when the body grows past
// the limit.
bool ReadBody(HINTERNET request, std::string& response, std::string* bytes) {
    const std::optional<std::wstring> announced = ContentLengthText(request);
    size_t received = 0;
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available)) {
            std::wprintf(L"Error %u in WinHttpQueryDataAvailable.\n", static_cast<unsigned>(::GetLastError()));
            return false;
        }
        if (available == 0) break;
        if (received + available > kMaxJsonResponseBytes) return false;

        std::vector<char> buffer(static_cast<size_t>(available) + 1, '\0');
        DWORD read = 0;
        if (!::WinHttpReadData(request, buffer.data(), available, &read)) {
            std::wprintf(L"Error %u in WinHttpReadData.\n", static_cast<unsigned>(::GetLastError()));
            return false;
        }
        received += read;
        if (bytes) bytes->append(buffer.data(), read);
        // The text ends at the first zero byte of the pass.
        response.append(buffer.data());
    }
    return !announced || *announced == std::to_wstring(received);
}

}  // namespace

bool SendJsonRequest(const std::wstring& host, const std::wstring& path, const std::string& body, HttpHeaders headers,
                     std::string& response, DWORD& status, const std::optional<HttpTimeouts>& timeouts,
                     ResponseDetails* details) {
    UniqueWinHttpHandle session(
        ::WinHttpOpen(nullptr, ProxyAccessTypeForThisSystem(), WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session || !SetSecureProtocols(session.Get())) return false;

    UniqueWinHttpHandle connection(::WinHttpConnect(session.Get(), host.c_str(), INTERNET_DEFAULT_HTTPS_PORT, 0));
    if (!connection) return false;

    UniqueWinHttpHandle request(::WinHttpOpenRequest(connection.Get(), L"POST", path.c_str(), nullptr,
                                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     WINHTTP_FLAG_SECURE));
    if (!request) return false;
    if (timeouts && !ApplyTimeouts(request.Get(), *timeouts)) return false;

    headers.emplace_back(L"Expect", L"100-continue");
    headers.emplace_back(L"Content-Type", L"application/json");
    for (const auto& [name, value] : headers) {
        const std::wstring line = name + L": " + value;
        if (!::WinHttpAddRequestHeaders(request.Get(), line.c_str(), static_cast<DWORD>(line.size()),
                                        WINHTTP_ADDREQ_FLAG_ADD)) {
            std::wprintf(L"WinHttpAddRequestHeaders error: %d\n", static_cast<int>(::GetLastError()));
        }
    }

    const DWORD length = static_cast<DWORD>(body.size());
    if (!::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<char*>(body.data()), length,
                              length, 0)) {
        return false;
    }
    if (!::WinHttpReceiveResponse(request.Get(), nullptr)) return false;

    DWORD size = sizeof(status);
    ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (details) details->headerValue = CustomHeader(request.Get(), details->headerName);
    return ReadBody(request.Get(), response, details ? &details->bodyBytes : nullptr);
}

bool PostJson(const CStringW& url, const std::string& body, const HttpHeaders& headers, std::string& response,
              DWORD& status, const std::optional<HttpTimeouts>& timeouts, ResponseDetails* details) {
    if (IsWindows7WithoutServicePack()) throw OstrelException();

    URL_COMPONENTS parts;
    if (!CrackUrl(url, parts)) throw OstrelException();

    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (!SendJsonRequest(host, path, body, headers, response, status, timeouts, details)) throw OstrelException();
    return true;
}
