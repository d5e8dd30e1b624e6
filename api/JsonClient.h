// Posts a JSON text to an HTTPS endpoint and returns status and body. Every
// call has its own session and connection; nothing is shared between calls.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

#include "api/HttpHeaders.h"
#include "api/HttpTimeouts.h"
#include "framework/Strings.h"

// Bodies beyond this are refused: no answer of ours comes near it, and the
// memory is not the server's to take.
inline constexpr size_t kMaxJsonResponseBytes = 8 * 1024 * 1024;

// What a caller may want of an answer beyond its text: one header, and the
// body's bytes exactly as they came (the text ends at a zero byte).
struct ResponseDetails {
    std::wstring headerName;                 // the header asked for
    std::optional<std::string> headerValue;  // its value, when the answer had it
    std::string bodyBytes;
};

// Always port 443 over TLS, whatever the URL says; the query is not sent.
// Returns true or throws OstrelException; any HTTP status counts as an answer.
// Without timeouts the system's own apply.
bool PostJson(const CStringW& url, const std::string& body, const HttpHeaders& headers, std::string& response,
              DWORD& status, const std::optional<HttpTimeouts>& timeouts = std::nullopt,
              ResponseDetails* details = nullptr);

// The transfer itself; false on any failure.
bool SendJsonRequest(const std::wstring& host, const std::wstring& path, const std::string& body, HttpHeaders headers,
                     std::string& response, DWORD& status, const std::optional<HttpTimeouts>& timeouts = std::nullopt,
                     ResponseDetails* details = nullptr);
