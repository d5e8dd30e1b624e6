#include "download/WinHttpExchange.h"

#include <vector>

#include "api/SecureProtocols.h"
#include "api/UrlParts.h"
#include "download/ContentLength.h"
#include "download/ErrorText.h"

WinHttpExchange::WinHttpExchange(const CStringW& url, const WinHttpProfile& profile, const CStringW& headers) {
    Open(url, profile, headers);
}

void WinHttpExchange::Open(const CStringW& url, const WinHttpProfile& profile, const CStringW& headers) {
    session_.Reset(
        ::WinHttpOpen(profile.userAgent, profile.accessType, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) throw ErrorWithLastError(L"Failed to open HTTP session:");
    if (!SetSecureProtocols(session_.Get())) throw ErrorWithLastError(L"Failed to set secure protocols:");
    // Every 3xx comes back to the transfer, which judges each hop itself
    // (RedirectTrail) instead of letting WinHTTP follow it unseen.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!::WinHttpSetOption(session_.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy))) {
        throw ErrorWithLastError(L"Failed to set the redirect policy:");
    }

    // The fragment belongs to the client; the query travels with the path.
    const CStringW target = url.substr(0, url.find(L'#'));
    URL_COMPONENTS parts;
    if (!CrackUrl(target, parts)) {
        throw ErrorWithLastError(L"Failed to parse URL:");
    }
    if (parts.dwHostNameLength == 0) throw ErrorWithCode(L"Failed to parse URL:", ERROR_WINHTTP_INVALID_URL);
    const CStringW host(parts.lpszHostName, parts.dwHostNameLength);
    const CStringW path = parts.lpszUrlPath ? CStringW(parts.lpszUrlPath) : CStringW();
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    connection_.Reset(::WinHttpConnect(session_.Get(), host.c_str(), parts.nPort, 0));
    if (!connection_) throw ErrorWithLastError(L"Failed to connect:");

    const DWORD flags = profile.requestFlags | (secure ? WINHTTP_FLAG_SECURE : 0);
    request_.Reset(::WinHttpOpenRequest(connection_.Get(), L"GET", path.empty() ? nullptr : path.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request_) throw ErrorWithLastError(L"Failed to open request:");
    const wchar_t* extra = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str();
    const DWORD extraLength = headers.empty() ? 0 : static_cast<DWORD>(headers.size());
    if (!::WinHttpSendRequest(request_.Get(), extra, extraLength, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        throw ErrorWithLastError(L"Failed to send request:");
    }
    if (!::WinHttpReceiveResponse(request_.Get(), nullptr)) throw ErrorWithLastError(L"Failed to receive response:");
}

DWORD WinHttpExchange::Status() const {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request_.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return status;
}

std::optional<CStringW> WinHttpExchange::TextHeader(DWORD query) const {
    DWORD bytes = 0;
    // The first call only tells the size.
    ::WinHttpQueryHeaders(request_.Get(), query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::nullopt;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!::WinHttpQueryHeaders(request_.Get(), query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &bytes,
                               WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    return CStringW(buffer.data(), bytes / sizeof(wchar_t));
}

std::optional<CStringW> WinHttpExchange::Location() const {
    return TextHeader(WINHTTP_QUERY_LOCATION);
}

std::optional<std::uint64_t> WinHttpExchange::ContentLength() const {
    const std::optional<CStringW> text = TextHeader(WINHTTP_QUERY_CONTENT_LENGTH);
    if (!text) return std::nullopt;
    return ParseContentLength(*text);
}

DWORD WinHttpExchange::QueryAvailable() {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request_.Get(), &available)) throw ErrorWithLastError(L"Failed to query data:");
    return available;
}

DWORD WinHttpExchange::Read(char* buffer, DWORD size) {
    DWORD read = 0;
    if (!::WinHttpReadData(request_.Get(), buffer, size, &read)) throw ErrorWithLastError(L"Failed to read data:");
    return read;
}
