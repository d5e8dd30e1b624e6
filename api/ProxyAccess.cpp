#include "api/ProxyAccess.h"

#include <winhttp.h>

#include "core/SystemInfo.h"

DWORD ProxyAccessTypeFor(const OsVersionTest& isAtLeast) {
    return isAtLeast(6, 3, 0) ? WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
}

DWORD ProxyAccessTypeForThisSystem() {
    return ProxyAccessTypeFor(IsOsVersionAtLeast);
}
