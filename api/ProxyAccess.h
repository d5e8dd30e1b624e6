// How the wizard's WinHTTP sessions find their proxy: the configuration
// request and the file transfers alike (the picture transfers keep the
// default proxy of their own). Any thread may ask; nothing here fails.
#pragma once

#include <windows.h>

#include <functional>

// Whether the running Windows is at least major.minor with the given service
// pack, as IsOsVersionAtLeast answers it.
using OsVersionTest = std::function<bool(WORD major, WORD minor, WORD servicePackMajor)>;

// WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY from Windows 8.1 on, which brings it
// (WinHttpOpen fails on an access type it does not know, and the wizard with
// it); WINHTTP_ACCESS_TYPE_DEFAULT_PROXY before.
DWORD ProxyAccessTypeFor(const OsVersionTest& isAtLeast);

// The same for the running Windows.
DWORD ProxyAccessTypeForThisSystem();
