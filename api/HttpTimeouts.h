// Upper bounds for the phases of one WinHTTP request. Without them a host
// that accepts the connection and never answers holds the caller for as long
// as it likes: Wine waits for response headers without any limit.
#pragma once

#include <windows.h>
#include <winhttp.h>

struct HttpTimeouts {
    int resolveMs = 0;
    int connectMs = 0;
    int sendMs = 0;
    // Waiting for the response headers and for each read of the body.
    int receiveMs = 0;
};

// Applies all four to a request handle before it is sent.
bool ApplyTimeouts(HINTERNET request, const HttpTimeouts& timeouts);
