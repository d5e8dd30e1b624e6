// One GET over WinHTTP: session, connection and request for one URL, up to the
// response head, with the reads the transfers need. Every failure throws a
// std::runtime_error carrying the transfer's message for that step.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <optional>

#include "api/WinHttpHandle.h"
#include "framework/Strings.h"

// What differs between the file and the memory transfer.
struct WinHttpProfile {
    const wchar_t* userAgent;  // null: none
    DWORD accessType;
    DWORD requestFlags;  // added to WINHTTP_FLAG_SECURE for https
};

class WinHttpExchange {
public:
    // Opens, sends (with extra header lines, "" for none) and receives;
    // throws on the first step that fails.
    WinHttpExchange(const CStringW& url, const WinHttpProfile& profile, const CStringW& headers = CStringW());

    // 0 when the status cannot be read.
    DWORD Status() const;
    // The whole Location value, however long; nothing when there is none.
    std::optional<CStringW> Location() const;
    // Read as text, so lengths of 4 GiB and more survive.
    std::optional<std::uint64_t> ContentLength() const;
    // A header's whole value by its WINHTTP_QUERY_ number; nothing when there is none.
    std::optional<CStringW> TextHeader(DWORD query) const;

    // Bytes that can be read now; 0 when the body has ended.
    DWORD QueryAvailable();
    DWORD Read(char* buffer, DWORD size);

private:
    void Open(const CStringW& url, const WinHttpProfile& profile, const CStringW& headers);

    // Declared in this order so they close request first, session last.
    UniqueWinHttpHandle session_;
    UniqueWinHttpHandle connection_;
    UniqueWinHttpHandle request_;
};
