// The TLS versions every WinHTTP session of the wizard offers: the server API
// and the downloads alike. SSL 3.0 is never among them.
#pragma once

#include <windows.h>
#include <winhttp.h>

// The protocol flags for this system: TLS 1.0 alone before Windows 7 SP1,
// TLS 1.0-1.2 from there, and TLS 1.3 as well from Windows 10.
DWORD SecureProtocolsForThisSystem();
// Offers them on a session, without TLS 1.3 where the stack does not know it.
bool SetSecureProtocols(HINTERNET session);
