#include "api/HttpTimeouts.h"

bool ApplyTimeouts(HINTERNET request, const HttpTimeouts& timeouts) {
    if (!::WinHttpSetTimeouts(request, timeouts.resolveMs, timeouts.connectMs, timeouts.sendMs, timeouts.receiveMs)) {
        return false;
    }
    // The receive timeout alone covers reads; the wait for the headers has an
    // option of its own.
    DWORD responseMs = static_cast<DWORD>(timeouts.receiveMs);
    return ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof(responseMs)) !=
           FALSE;
}
